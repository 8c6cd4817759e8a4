#include "search/place_index.h"

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <numbers>
#include <system_error>

#include "geo/geodesy.h"
#include "platform/files.h"
#include "platform/temp_files.h"
#include "tiles/mbtiles.h"
#include "tiles/mvt.h"
#include "tiles/tile_pack.h"

namespace vg::search {
namespace {

constexpr int kIndexVersion = 2;  // 2: a line's place is halfway along it
// Matches read for one query before ranking (a query word found everywhere, "street", is cut off):
constexpr int kMaxCandidates = 5000;
// Pieces of one street in neighbouring tiles are one place when this close.
constexpr double kMergeDistanceM = 1500;

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The next code point of `s` from `i` (advanced); U+FFFD for a byte that starts no valid sequence.
char32_t next_code_point(std::string_view s, std::size_t& i) {
    const auto b = static_cast<unsigned char>(s[i]);
    int extra = 0;
    char32_t c = 0;
    if (b < 0x80) {
        ++i;
        return b;
    } else if ((b & 0xE0) == 0xC0) {
        extra = 1, c = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
        extra = 2, c = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
        extra = 3, c = b & 0x07;
    } else {
        ++i;
        return 0xFFFD;
    }
    if (i + static_cast<std::size_t>(extra) >= s.size()) {
        ++i;
        return 0xFFFD;
    }
    for (int k = 1; k <= extra; ++k) {
        const auto n = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
        if ((n & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        c = (c << 6) | (n & 0x3F);
    }
    const char32_t least[] = {0, 0x80, 0x800, 0x10000};
    i += static_cast<std::size_t>(extra) + 1;
    if (c < least[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0xFFFD;
    return c;
}

// What unicode61 leaves: Greek accented vowels and final sigma, Cyrillic yo, sharp s.
char32_t fold_letter(char32_t c) {
    switch (c) {
    case 0x386: case 0x3AC: return 0x3B1;  // alpha
    case 0x388: case 0x3AD: return 0x3B5;  // epsilon
    case 0x389: case 0x3AE: return 0x3B7;  // eta
    case 0x38A: case 0x3AA: case 0x3AF: case 0x3CA: case 0x390: return 0x3B9;  // iota
    case 0x38C: case 0x3CC: return 0x3BF;  // omicron
    case 0x38E: case 0x3AB: case 0x3CD: case 0x3CB: case 0x3B0: return 0x3C5;  // upsilon
    case 0x38F: case 0x3CE: return 0x3C9;  // omega
    case 0x3C2: return 0x3C3;  // final sigma
    case 0x401: case 0x451: return 0x435;  // yo
    default: break;
    }
    // Capitals of Latin-1, Greek and Cyrillic in lower case (unicode61 folds case too; the ranking's
    // comparison of whole names needs it here).
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3A9) || (c >= 0x410 && c <= 0x42F))
        return c + 0x20;
    if (c >= 0x400 && c <= 0x40F) return c + 0x50;
    return c;
}

std::string lower_ascii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return s;
}

// Web-Mercator tile coordinates to degrees.
LatLon position_of(double px, double py, double extent, int z, int x, int y) {
    const double n = std::ldexp(1.0, z);
    const double wx = (x + px / extent) / n, wy = (y + py / extent) / n;
    const double lat = std::atan(std::sinh(std::numbers::pi * (1 - 2 * wy))) * 180 / std::numbers::pi;
    return {std::clamp(lat, -85.06, 85.06), std::clamp(wx * 360 - 180, -180.0, 180.0)};
}

// A feature's place in tile units, and (lines) the line's length in tile units.
struct Anchor {
    double x = 0, y = 0, length = 0;
};

std::optional<Anchor> anchor_of(const mvt::Feature& f) {
    if (f.parts.empty() || f.parts.front().empty()) return std::nullopt;
    const auto& part = f.parts.front();
    if (f.type == mvt::GeomType::Polygon) {
        auto [minx, maxx] = std::minmax_element(part.begin(), part.end(), [](auto& a, auto& b) { return a.x < b.x; });
        auto [miny, maxy] = std::minmax_element(part.begin(), part.end(), [](auto& a, auto& b) { return a.y < b.y; });
        return Anchor{(double(minx->x) + maxx->x) / 2, (double(miny->y) + maxy->y) / 2, 0};
    }
    if (f.type != mvt::GeomType::LineString) return Anchor{double(part.front().x), double(part.front().y), 0};
    // A line's place is halfway along it, not its middle vertex: a street's middle vertex is often a
    // crossing with another street, and a route "to the street" would then end on the other one.
    double length = 0;
    for (std::size_t i = 1; i < part.size(); ++i)
        length += std::hypot(double(part[i].x) - part[i - 1].x, double(part[i].y) - part[i - 1].y);
    double left = length / 2;
    for (std::size_t i = 1; i < part.size(); ++i) {
        const double dx = double(part[i].x) - part[i - 1].x, dy = double(part[i].y) - part[i - 1].y;
        const double step = std::hypot(dx, dy);
        if (step > 0 && left <= step) return Anchor{part[i - 1].x + dx * left / step, part[i - 1].y + dy * left / step, length};
        left -= step;
    }
    return Anchor{double(part.front().x), double(part.front().y), length};
}

double haversine_m(const LatLon& a, double lat, double lon) {
    constexpr double r = std::numbers::pi / 180;
    const double s1 = std::sin((lat - a.lat) * r / 2), s2 = std::sin((lon - a.lon) * r / 2);
    const double h = s1 * s1 + std::cos(a.lat * r) * std::cos(lat * r) * s2 * s2;
    return 2 * 6371008.8 * std::asin(std::sqrt(std::min(1.0, h)));
}

bool exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

std::string joined(const std::vector<std::string>& names) {
    std::string out;
    for (const auto& n : names) {
        if (!out.empty()) out += '\n';
        out += n;
    }
    return out;
}

std::vector<std::string> split_lines(std::string_view text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        out.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

std::string column_text(sqlite3_stmt* s, int i) {
    const auto* t = sqlite3_column_text(s, i);
    return t ? std::string(reinterpret_cast<const char*>(t), static_cast<std::size_t>(sqlite3_column_bytes(s, i)))
             : std::string();
}

}  // namespace

std::string fold_for_search(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const char32_t c = next_code_point(text, i);
        if (c >= 0x300 && c <= 0x36F) continue;  // combining accents of decomposed text
        if (c == 0xDF || c == 0x1E9E) {
            out += "ss";
            continue;
        }
        append_utf8(out, c == 0xFFFD ? U' ' : fold_letter(c));
    }
    return out;
}

std::vector<NamedPiece> names_of_tile(const mvt::Tile& tile, int z, int x, int y) {
    std::vector<NamedPiece> out;
    for (const mvt::Layer& layer : tile.layers) {
        const bool numbers = layer.name == "housenumber";
        for (const mvt::Feature& f : layer.features) {
            Place place;
            for (std::size_t t = 0; t + 1 < f.tags.size(); t += 2) {
                const std::string& key = layer.keys[f.tags[t]];
                const mvt::Value& v = layer.values[f.tags[t + 1]];
                if (v.kind != mvt::Value::Kind::String || v.string.empty() || v.string.size() > 200) continue;
                const bool is_name = key == "name" || key.starts_with("name:") || key.starts_with("name_") ||
                                     (numbers && key == "housenumber");
                if (is_name) {
                    if (key == "name" || key == "housenumber") {
                        if (!place.name.empty()) place.also.insert(place.also.begin(), place.name);
                        place.name = v.string;
                    } else if (place.name.empty()) {
                        place.name = v.string;
                    } else {
                        place.also.push_back(v.string);
                    }
                } else if (key == "class") {
                    place.kind = v.string;
                }
            }
            if (place.name.empty()) continue;
            place.kind = place.kind.empty() ? layer.name : layer.name + "/" + place.kind;
            std::vector<std::string> also;
            for (auto& a : place.also)
                if (a != place.name && std::find(also.begin(), also.end(), a) == also.end()) also.push_back(a);
            place.also = std::move(also);
            const auto anchor = anchor_of(f);
            if (!anchor) continue;
            const LatLon p = position_of(anchor->x, anchor->y, layer.extent, z, x, y);
            place.lat = p.lat;
            place.lon = p.lon;
            out.push_back({std::move(place), layer.extent > 0 ? anchor->length / layer.extent : 0});
        }
    }
    return out;
}

std::string index_path_for(const std::string& pack_path) { return pack_path + ".search.sqlite"; }

struct IndexWriter::Statements {
    sqlite3_stmt* place = nullptr;
    sqlite3_stmt* name = nullptr;
    ~Statements() {
        sqlite3_finalize(place);
        sqlite3_finalize(name);
    }
};

std::unique_ptr<IndexWriter> IndexWriter::create(const std::string& path, std::string& error) {
    std::unique_ptr<IndexWriter> w(new IndexWriter);
    w->path_ = path;
    std::filesystem::path temp;
    const int fd = create_temp_beside(path, temp);
    if (fd < 0) {
        error = "\"" + path + "\": cannot be written";
        return nullptr;
    }
    close_file(fd);
    w->temp_ = temp.string();
    w->st_ = std::make_unique<Statements>();
    const char* schema =
        "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN;"
        "CREATE TABLE info (key TEXT PRIMARY KEY, value);"
        "CREATE TABLE places (id INTEGER PRIMARY KEY, name TEXT NOT NULL, also TEXT NOT NULL, kind TEXT NOT NULL,"
        " lat REAL NOT NULL, lon REAL NOT NULL);"
        "CREATE VIRTUAL TABLE names USING fts5(text, content='', tokenize='unicode61 remove_diacritics 2');";
    if (sqlite3_open_v2(sqlite_file_uri(w->temp_, "mode=rwc").c_str(), &w->db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI, nullptr) != SQLITE_OK ||
        !exec(w->db_, schema) ||
        sqlite3_prepare_v2(w->db_, "INSERT INTO places VALUES (NULL, ?1, ?2, ?3, ?4, ?5)", -1, &w->st_->place,
                           nullptr) != SQLITE_OK ||
        sqlite3_prepare_v2(w->db_, "INSERT INTO names (rowid, text) VALUES (?1, ?2)", -1, &w->st_->name, nullptr) !=
            SQLITE_OK) {
        error = "\"" + path + "\": cannot be written (" + (w->db_ ? sqlite3_errmsg(w->db_) : "no memory") +
                "; FTS5 may be missing from this build's SQLite)";
        return nullptr;
    }
    return w;
}

IndexWriter::~IndexWriter() {
    st_.reset();
    if (db_) sqlite3_close(db_);
    if (!temp_.empty()) {
        std::error_code ec;
        std::filesystem::remove(temp_, ec);
    }
}

void IndexWriter::set_source(std::uint64_t size, std::int64_t mtime) {
    size_ = size;
    mtime_ = mtime;
}

bool IndexWriter::add(const Place& place) {
    if (failed_) return false;
    sqlite3_stmt* p = st_->place;
    const std::string also = joined(place.also);
    sqlite3_bind_text(p, 1, place.name.data(), static_cast<int>(place.name.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(p, 2, also.data(), static_cast<int>(also.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(p, 3, place.kind.data(), static_cast<int>(place.kind.size()), SQLITE_TRANSIENT);
    sqlite3_bind_double(p, 4, place.lat);
    sqlite3_bind_double(p, 5, place.lon);
    failed_ = sqlite3_step(p) != SQLITE_DONE;
    sqlite3_reset(p);
    if (failed_) return false;
    const std::string text = fold_for_search(place.name + (also.empty() ? "" : "\n" + also));
    sqlite3_stmt* n = st_->name;
    sqlite3_bind_int64(n, 1, sqlite3_last_insert_rowid(db_));
    sqlite3_bind_text(n, 2, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    failed_ = sqlite3_step(n) != SQLITE_DONE;
    sqlite3_reset(n);
    return !failed_;
}

bool IndexWriter::finish(std::string& error) {
    const std::string info = "INSERT INTO info VALUES ('version', " + std::to_string(kIndexVersion) +
                             "), ('pack_size', " + std::to_string(size_) + "), ('pack_mtime', " +
                             std::to_string(mtime_) + ");";
    const bool ok = !failed_ && exec(db_, info.c_str()) && exec(db_, "INSERT INTO names(names) VALUES ('optimize');") &&
                    exec(db_, "COMMIT;");
    if (!ok) error = "\"" + path_ + "\": cannot be written (" + sqlite3_errmsg(db_) + ")";
    st_.reset();
    sqlite3_close(db_);
    db_ = nullptr;
    if (!ok) return false;
    std::error_code ec;
    std::filesystem::rename(temp_, path_, ec);
    if (ec) {
        error = "\"" + path_ + "\": cannot be written (" + ec.message() + ")";
        return false;
    }
    temp_.clear();
    return true;
}

namespace {

struct PackStamp {
    std::uint64_t size = 0;
    std::int64_t mtime = 0;
};

std::optional<PackStamp> stamp_of(const std::string& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) return std::nullopt;
    const auto time = std::filesystem::last_write_time(path, ec);
    if (ec) return std::nullopt;
    return PackStamp{size, static_cast<std::int64_t>(time.time_since_epoch().count())};
}

}  // namespace

bool build_pack_index(const TilePack& pack, const std::string& index_path, const BuildProgress& progress,
                      std::string& error) {
    const int z = pack.max_zoom();
    const auto tiles = pack.tiles_at(z);
    if (!tiles) {
        error = "\"" + pack.path() + "\": its tiles cannot be listed";
        return false;
    }
    const auto stamp = stamp_of(pack.path());
    // The pieces of one name and kind (a street cut by tile borders) within kMergeDistanceM of each
    // other are one place: the piece's place nearest the pieces' length-weighted middle, so that a
    // street's place lies on it, near its middle, whichever tile was read first.
    struct Joined {
        Place place;
        std::vector<NamedPiece> pieces;
    };
    std::map<std::pair<std::string, std::string>, std::vector<Joined>> places;
    std::size_t done = 0;
    for (const auto& [x, y] : *tiles) {
        if (progress && !progress(done, tiles->size())) {
            error = "cancelled";
            return false;
        }
        ++done;
        const auto bytes = pack.tile(z, x, y);
        if (!bytes) continue;
        std::string decode_error;
        const auto tile = mvt::decode({reinterpret_cast<const char*>(bytes->data()), bytes->size()}, decode_error);
        if (!tile) continue;
        for (NamedPiece& piece : names_of_tile(*tile, z, x, y)) {
            auto& same = places[{piece.place.name, piece.place.kind}];
            const Place& p = piece.place;
            const auto near_piece = [&](const NamedPiece& q) {
                return geo::short_distance_m(p.lat, p.lon, q.place.lat, q.place.lon) < kMergeDistanceM;
            };
            auto joined = std::find_if(same.begin(), same.end(),
                                       [&](const Joined& j) { return std::any_of(j.pieces.begin(), j.pieces.end(), near_piece); });
            if (joined == same.end()) {
                same.push_back({piece.place, {}});
                joined = same.end() - 1;
            }
            piece.place.also.clear();  // the first piece's names stand for all
            piece.place.name.clear();
            joined->pieces.push_back(std::move(piece));
        }
    }
    for (auto& [key, list] : places)
        for (Joined& j : list) {
            double weight = 0, lat = 0, lon = 0;
            for (const NamedPiece& q : j.pieces) {
                const double w = q.length > 0 ? q.length : 1e-9;
                weight += w;
                lat += w * q.place.lat;
                lon += w * q.place.lon;
            }
            lat /= weight;
            lon /= weight;
            const NamedPiece* best = &j.pieces.front();
            for (const NamedPiece& q : j.pieces)
                if (geo::short_distance_m(lat, lon, q.place.lat, q.place.lon) <
                    geo::short_distance_m(lat, lon, best->place.lat, best->place.lon))
                    best = &q;
            j.place.lat = best->place.lat;
            j.place.lon = best->place.lon;
        }
    if (progress) progress(done, tiles->size());
    auto writer = IndexWriter::create(index_path, error);
    if (!writer) return false;
    if (stamp) writer->set_source(stamp->size, stamp->mtime);
    for (const auto& [key, list] : places)
        for (const Joined& j : list)
            if (!writer->add(j.place)) break;
    return writer->finish(error);
}

namespace {

sqlite3* open_index(const std::string& path, std::string& error) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        error = "\"" + path + "\": cannot be opened (" + (db ? sqlite3_errmsg(db) : "no memory") + ")";
        sqlite3_close(db);
        return nullptr;
    }
    return db;
}

std::optional<long long> info_value(sqlite3* db, const char* key) {
    sqlite3_stmt* s = nullptr;
    std::optional<long long> v;
    if (sqlite3_prepare_v2(db, "SELECT value FROM info WHERE key = ?1", -1, &s, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(s, 1, key, -1, SQLITE_STATIC);
        if (sqlite3_step(s) == SQLITE_ROW) v = sqlite3_column_int64(s, 0);
    }
    sqlite3_finalize(s);
    return v;
}

}  // namespace

bool index_is_current(const std::string& pack_path, const std::string& index_path) {
    const auto stamp = stamp_of(pack_path);
    std::error_code ec;
    if (!stamp || !std::filesystem::exists(index_path, ec)) return false;
    std::string error;
    sqlite3* db = open_index(index_path, error);
    if (!db) return false;
    const bool current = info_value(db, "version") == kIndexVersion &&
                         info_value(db, "pack_size") == static_cast<long long>(stamp->size) &&
                         info_value(db, "pack_mtime") == stamp->mtime;
    sqlite3_close(db);
    return current;
}

std::unique_ptr<PlaceIndex> PlaceIndex::open(const std::string& path, std::string& error) {
    std::unique_ptr<PlaceIndex> index(new PlaceIndex);
    index->db_ = open_index(path, error);
    if (!index->db_) return nullptr;
    if (info_value(index->db_, "version") != kIndexVersion) {
        error = "\"" + path + "\": not a place index of this program's version";
        return nullptr;
    }
    return index;
}

PlaceIndex::~PlaceIndex() {
    if (db_) sqlite3_close(db_);
}

std::size_t PlaceIndex::size() const {
    sqlite3_stmt* s = nullptr;
    std::size_t n = 0;
    if (sqlite3_prepare_v2(db_, "SELECT count(*) FROM places", -1, &s, nullptr) == SQLITE_OK &&
        sqlite3_step(s) == SQLITE_ROW)
        n = static_cast<std::size_t>(sqlite3_column_int64(s, 0));
    sqlite3_finalize(s);
    return n;
}

std::string match_expression(std::string_view query) {
    const std::string folded = fold_for_search(query);
    std::string out;
    std::string word;
    const auto flush = [&] {
        if (word.empty()) return;
        if (!out.empty()) out += ' ';
        out += '"' + word + "\"*";
        word.clear();
    };
    for (const char c : folded) {
        const auto u = static_cast<unsigned char>(c);
        // ASCII punctuation and spaces separate words, as unicode61 splits names.
        if (u < 0x80 && !std::isalnum(u)) {
            flush();
            continue;
        }
        word += c;
    }
    flush();
    return out;
}

std::vector<Result> PlaceIndex::search(std::string_view query, std::optional<LatLon> from, std::size_t limit) const {
    std::vector<Result> out;
    const std::string match = match_expression(query);
    if (match.empty() || limit == 0) return out;
    sqlite3_stmt* s = nullptr;
    const char* sql =
        "SELECT p.name, p.also, p.kind, p.lat, p.lon, bm25(names) FROM names JOIN places p ON p.id = names.rowid"
        " WHERE names MATCH ?1 LIMIT ?2";
    if (sqlite3_prepare_v2(db_, sql, -1, &s, nullptr) != SQLITE_OK) return out;
    sqlite3_bind_text(s, 1, match.data(), static_cast<int>(match.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int(s, 2, kMaxCandidates);
    // The query's words, folded and lower-cased as the tokenizer sees them, for the exact-name bonus.
    const std::string wanted = lower_ascii(match_expression(query));
    while (sqlite3_step(s) == SQLITE_ROW) {
        Result r;
        r.place.name = column_text(s, 0);
        r.place.also = split_lines(column_text(s, 1));
        r.place.kind = column_text(s, 2);
        r.place.lat = sqlite3_column_double(s, 3);
        r.place.lon = sqlite3_column_double(s, 4);
        // Text: a name that is the query (words whole, nothing more) 0, one that starts with the
        // query's words 0.3, other matches 0.6; bm25 (negative, larger magnitude better) breaks ties.
        double text = 0.6;
        for (std::size_t k = 0; k <= r.place.also.size(); ++k) {
            const std::string n = lower_ascii(match_expression(k == 0 ? r.place.name : r.place.also[k - 1]));
            if (n == wanted) text = 0;
            else if (n.starts_with(wanted.substr(0, wanted.size() - 2))) text = std::min(text, 0.3);
        }
        r.score = text + 0.01 / (1 + std::fabs(sqlite3_column_double(s, 5)));
        // Ranked by the great-circle distance (cheap); the results get the geodesic one.
        if (from) r.score += std::log10(1 + haversine_m(*from, r.place.lat, r.place.lon) / 1000) / 4;
        out.push_back(std::move(r));
    }
    sqlite3_finalize(s);
    const std::size_t n = std::min(limit, out.size());
    std::partial_sort(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n), out.end(),
                      [](const Result& a, const Result& b) { return a.score < b.score; });
    out.resize(n);
    if (from)
        for (Result& r : out) r.distance_m = geo::distance_m(from->lat, from->lon, r.place.lat, r.place.lon);
    return out;
}

}  // namespace vg::search
