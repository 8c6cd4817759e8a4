#include "tiles/mbtiles.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "net/transfer_limits.h"
#include "platform/c_number.h"
#include "platform/files.h"
#include "platform/temp_files.h"
#include "settings/text_scan.h"
#include "tiles/compression.h"

namespace vg {
namespace {

std::string column_text(sqlite3_stmt* s, int i) {
    const unsigned char* t = sqlite3_column_text(s, i);
    return t ? std::string(reinterpret_cast<const char*>(t), static_cast<std::size_t>(sqlite3_column_bytes(s, i))) : std::string();
}

// What the first bytes of a tile say it is.
const char* sniff_format(const std::vector<std::uint8_t>& b) {
    if (b.size() >= 8 && std::memcmp(b.data(), "\x89PNG\r\n\x1a\n", 8) == 0) return "png";
    if (b.size() >= 3 && b[0] == 0xff && b[1] == 0xd8 && b[2] == 0xff) return "jpg";
    if (b.size() >= 12 && std::memcmp(b.data(), "RIFF", 4) == 0 && std::memcmp(b.data() + 8, "WEBP", 4) == 0) return "webp";
    if (b.size() >= 2 && b[0] == 0x1f && b[1] == 0x8b) return "pbf";  // gzip-compressed vector tile
    return "";
}

}  // namespace

std::string sqlite_file_uri(const std::string& path, const std::string& query) {
    std::string uri = "file:";
    for (const unsigned char c : path) {
        if (c == '?' || c == '#' || c == '%' || c < 0x20 || c == 0x7f) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            uri += hex;
        } else {
            uri += static_cast<char>(c);
        }
    }
    if (!query.empty()) uri += "?" + query;
    return uri;
}

namespace {

// The progress handler runs every this many steps; budgets are counted in its calls.
constexpr int kStepsPerProgressCall = 1000;

// Statements on a pack may only read: a SELECT, the tables and views it reads and ordinary
// functions. A recursive query (WITH RECURSIVE, also inside a view) is refused when prepared.
int reading_only(void*, int action, const char*, const char*, const char*, const char*) {
    switch (action) {
    case SQLITE_SELECT:
    case SQLITE_READ:
    case SQLITE_FUNCTION: return SQLITE_OK;
    default: return SQLITE_DENY;
    }
}

}  // namespace

int PackDatabase::on_progress(void* self) { return --static_cast<PackDatabase*>(self)->left_ < 0 ? 1 : 0; }

void PackDatabase::allow_steps(long long steps) const { left_ = steps / kStepsPerProgressCall + 1; }

std::string PackDatabase::refusal(const std::string& why) const {
    return printable_text("\"" + path_ + "\": " + why);
}

std::string PackDatabase::failure() const {
    if (left_ < 0) return "a query ran over its bound of work (an endless view or an enormous table)";
    if (sqlite3_errcode(db_) == SQLITE_AUTH) return "a view that never ends (a recursive query)";
    return sqlite3_errmsg(db_);
}

std::unique_ptr<PackDatabase> PackDatabase::open(const std::string& path, const std::vector<Table>& tables,
                                                 std::string& error) {
    std::unique_ptr<PackDatabase> pack(new PackDatabase);
    pack->path_ = path;
    auto refuse = [&](const std::string& why) {
        error = pack->refusal(why);
        return nullptr;
    };
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return refuse("no such map pack file");
    // immutable=1: the pack is never written, so SQLite takes no locks and writes no journal.
    const std::string uri = sqlite_file_uri(std::filesystem::absolute(path, ec).string(), "mode=ro&immutable=1");
    if (sqlite3_open_v2(uri.c_str(), &pack->db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) != SQLITE_OK)
        return refuse(std::string("cannot be opened (") + sqlite3_errmsg(pack->db_) + ")");
    sqlite3* db = pack->db_;
    sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_limit(db, SQLITE_LIMIT_LENGTH, static_cast<int>(kTileBodyLimit));
    sqlite3_progress_handler(db, kStepsPerProgressCall, &PackDatabase::on_progress, pack.get());
    sqlite3_set_authorizer(db, &reading_only, nullptr);

    // Table names are matched as SQLite matches them, in any case.
    sqlite3_stmt* kind = nullptr;
    pack->allow_steps(kPackQuerySteps);
    if (sqlite3_prepare_v2(db, "SELECT type FROM sqlite_master WHERE name = ?1 COLLATE NOCASE", -1, &kind, nullptr) != SQLITE_OK)
        return refuse("not a map pack (" + pack->failure() + ")");
    for (const Table& t : tables) {
        sqlite3_reset(kind);
        sqlite3_bind_text(kind, 1, t.name, -1, SQLITE_STATIC);
        pack->allow_steps(kPackQuerySteps);
        const int rc = sqlite3_step(kind);
        const std::string type = rc == SQLITE_ROW ? column_text(kind, 0) : std::string();
        std::string why;
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) why = "not a map pack (" + pack->failure() + ")";
        else if (type.empty()) why = std::string("not a map pack (no ") + t.name + " table)";
        else if (type != "table" && !(type == "view" && t.view_allowed))
            why = std::string("not a map pack (") + t.name + " is a " + type + ", not a table)";
        if (!why.empty()) {
            sqlite3_finalize(kind);
            return refuse(why);
        }
    }
    sqlite3_finalize(kind);
    return pack;
}

PackDatabase::~PackDatabase() { sqlite3_close(db_); }

std::unique_ptr<MbtilesPack> MbtilesPack::open(const std::string& path, std::string& error, bool vector_allowed) {
    std::unique_ptr<MbtilesPack> pack(new MbtilesPack);
    pack->info_.path = path;
    // Deduplicating writers (mbutil) make `tiles` a view joining two tables.
    pack->db_ = PackDatabase::open(path, {{"metadata"}, {"tiles", true}}, error);
    if (!pack->db_) return nullptr;
    const PackDatabase& db = *pack->db_;
    auto refuse = [&](const std::string& why) {
        error = db.refusal(why);
        return nullptr;
    };
    sqlite3_stmt* meta = nullptr;
    db.allow_steps(kPackQuerySteps);
    if (sqlite3_prepare_v2(db.handle(), "SELECT name, value FROM metadata", -1, &meta, nullptr) != SQLITE_OK)
        return refuse("not a map pack (" + db.failure() + ")");
    PackInfo& info = pack->info_;
    std::string json;
    int rc;
    while ((rc = sqlite3_step(meta)) == SQLITE_ROW) {
        const std::string key = column_text(meta, 0), value = column_text(meta, 1);
        if (key == "name") info.name = value;
        else if (key == "format") info.format = value;
        else if (key == "scheme") info.scheme = value;
        else if (key == "attribution") info.attribution = value;
        else if (key == "description") info.description = value;
        else if (key == "json") json = value;
        else if (key == "minzoom") info.min_zoom = std::atoi(value.c_str());
        else if (key == "maxzoom") info.max_zoom = std::atoi(value.c_str());
        else if (key == "bounds")
            info.has_bounds = scan_c_numbers(value.c_str(), ',', {&info.west, &info.south, &info.east, &info.north}) > 0;
    }
    sqlite3_finalize(meta);
    if (rc != SQLITE_DONE) return refuse("damaged map pack (metadata: " + db.failure() + ")");
    db.allow_steps(kPackQuerySteps);
    if (sqlite3_prepare_v2(db.handle(),
                           "SELECT tile_data FROM tiles WHERE zoom_level = ?1 AND tile_column = ?2 AND tile_row = ?3",
                           -1, &pack->tile_, nullptr) != SQLITE_OK)
        return refuse("not a map pack (tiles: " + db.failure() + ")");
    if (info.name.empty()) info.name = std::filesystem::path(path).stem().string();
    if (info.scheme.empty()) info.scheme = "tms";
    if (info.scheme != "tms" && info.scheme != "xyz") return refuse("unknown tile scheme \"" + info.scheme + "\"");
    // One lookup as the map makes them: a pack whose tiles cannot be looked up within the bound
    // (an endless or enormous view) is refused now rather than failing every cell later.
    PackTileStatus probe = PackTileStatus::absent;
    pack->read_tile(0, 0, 0, &probe);
    if (probe == PackTileStatus::unreadable) return refuse("damaged map pack (tiles: " + db.failure() + ")");
    if (info.format.empty()) {
        // Older packs leave the format out: the first tile tells.
        sqlite3_stmt* first = nullptr;
        db.allow_steps(kPackQuerySteps);
        if (sqlite3_prepare_v2(db.handle(), "SELECT substr(tile_data, 1, 16) FROM tiles LIMIT 1", -1, &first, nullptr) ==
                SQLITE_OK &&
            sqlite3_step(first) == SQLITE_ROW) {
            const auto* p = static_cast<const std::uint8_t*>(sqlite3_column_blob(first, 0));
            if (p) info.format = sniff_format(std::vector<std::uint8_t>(p, p + sqlite3_column_bytes(first, 0)));
        }
        sqlite3_finalize(first);
        if (db.ran_out()) return refuse("damaged map pack (tiles: " + db.failure() + ")");
    }
    if (info.format == "jpeg") info.format = "jpg";
    if (info.format == "mvt") info.format = "pbf";
    if (info.format == "pbf" && vector_allowed) {
        std::string ignored;
        info.vector_layers = parse_vector_layers(json, ignored).value_or(std::vector<VectorLayer>{});
        return pack;
    }
    if (info.format == "pbf") return refuse("vector tiles (" + info.format + ") cannot be drawn; only raster packs (png, jpg) are read");
    if (info.format == "webp") return refuse("WebP tiles cannot be decoded here; only png and jpg packs are read");
    if (info.format != "png" && info.format != "jpg")
        return refuse(info.format.empty() ? "no tile format and no tiles" : "unknown tile format \"" + info.format + "\"");
    return pack;
}

MbtilesPack::~MbtilesPack() { sqlite3_finalize(tile_); }

std::optional<std::vector<std::uint8_t>> MbtilesPack::read_tile(int zoom, int x, int y, PackTileStatus* status) const {
    PackTileStatus ignored;
    PackTileStatus& outcome = status ? *status : ignored;
    outcome = PackTileStatus::absent;
    if (zoom < 0 || zoom > 30) return std::nullopt;
    const long long n = 1LL << zoom;
    if (x < 0 || y < 0 || x >= n || y >= n) return std::nullopt;
    if (given_up_) {
        outcome = PackTileStatus::unreadable;
        return std::nullopt;
    }
    const long long row = info_.scheme == "xyz" ? y : n - 1 - y;
    sqlite3_reset(tile_);
    sqlite3_bind_int(tile_, 1, zoom);
    sqlite3_bind_int64(tile_, 2, x);
    sqlite3_bind_int64(tile_, 3, row);
    db_->allow_steps(kPackQuerySteps);
    const int rc = sqlite3_step(tile_);
    std::optional<std::vector<std::uint8_t>> bytes;
    if (rc == SQLITE_ROW) {
        // SQLite refuses (SQLITE_TOOBIG) to load a value over the length limit, so this is the
        // size of a tile within it.
        const auto* p = static_cast<const std::uint8_t*>(sqlite3_column_blob(tile_, 0));
        const int size = sqlite3_column_bytes(tile_, 0);
        if (p && size > 0) {
            bytes.emplace(p, p + size);
            outcome = PackTileStatus::found;
            if (info_.format == "pbf" && size >= 2 && p[0] == 0x1f && p[1] == 0x8b) {
                std::string why;
                bytes = decompress(Compression::gzip, *bytes, kTileBodyLimit, why);
                if (!bytes)
                    outcome = why.starts_with("decompresses to more") ? PackTileStatus::too_large : PackTileStatus::unreadable;
            }
        }
    } else if (rc == SQLITE_TOOBIG) {
        outcome = PackTileStatus::too_large;
    } else if (rc != SQLITE_DONE) {
        outcome = PackTileStatus::unreadable;
        given_up_ = db_->ran_out();
    }
    sqlite3_reset(tile_);
    return bytes;
}

std::optional<std::vector<long long>> MbtilesPack::tile_counts() const {
    std::vector<long long> counts;
    sqlite3_stmt* s = nullptr;
    db_->allow_steps(kPackCountSteps);
    int rc = sqlite3_prepare_v2(db_->handle(), "SELECT zoom_level, count(*) FROM tiles GROUP BY zoom_level", -1, &s, nullptr);
    if (rc == SQLITE_OK) {
        while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
            const int z = sqlite3_column_int(s, 0);
            if (z < 0 || z > 30) continue;
            if (counts.size() <= static_cast<std::size_t>(z)) counts.resize(static_cast<std::size_t>(z) + 1, 0);
            counts[static_cast<std::size_t>(z)] = sqlite3_column_int64(s, 1);
        }
    }
    sqlite3_finalize(s);
    if (rc != SQLITE_DONE) return std::nullopt;
    return counts;
}

std::optional<std::vector<std::pair<int, int>>> MbtilesPack::tile_columns_rows(int zoom) const {
    std::vector<std::pair<int, int>> out;
    if (zoom < 0 || zoom > 30) return out;
    const long long n = 1LL << zoom;
    sqlite3_stmt* s = nullptr;
    db_->allow_steps(kPackCountSteps);
    int rc = sqlite3_prepare_v2(db_->handle(), "SELECT tile_column, tile_row FROM tiles WHERE zoom_level = ?1", -1,
                                &s, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_bind_int(s, 1, zoom);
        while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
            const long long x = sqlite3_column_int64(s, 0), row = sqlite3_column_int64(s, 1);
            if (x < 0 || x >= n || row < 0 || row >= n) continue;
            const long long y = info_.scheme == "xyz" ? row : n - 1 - row;
            out.emplace_back(static_cast<int>(x), static_cast<int>(y));
        }
    }
    sqlite3_finalize(s);
    if (rc != SQLITE_DONE) return std::nullopt;
    return out;
}

}  // namespace vg

namespace vg {

std::unique_ptr<MbtilesWriter> MbtilesWriter::create(const std::string& path, std::string& error) {
    std::unique_ptr<MbtilesWriter> w(new MbtilesWriter);
    w->path_ = path;
    // The pack is built in a file of its own beside the target ("OUT.partXXXXXX"), after the stale
    // ones an earlier, killed export of the same file left there are removed.
    remove_stale_temporaries_of(path, kStaleTempAge);
    std::filesystem::path temp;
    const int fd = create_temp_beside(path, temp);
    if (fd < 0) {
        error = "\"" + path + "\": cannot be written (" + std::strerror(errno) + ")";
        return nullptr;
    }
    close_file(fd);
    w->temp_ = temp.string();
    const std::string uri = sqlite_file_uri(w->temp_, "mode=rwc");
    const char* schema =
        "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN;"
        "CREATE TABLE metadata (name TEXT, value TEXT);"
        "CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, tile_data BLOB);"
        "CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, tile_row);";
    if (sqlite3_open_v2(uri.c_str(), &w->db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI, nullptr) !=
            SQLITE_OK ||
        sqlite3_exec(w->db_, schema, nullptr, nullptr, nullptr) != SQLITE_OK ||
        sqlite3_prepare_v2(w->db_, "INSERT OR REPLACE INTO tiles VALUES (?1, ?2, ?3, ?4)", -1, &w->tile_, nullptr) !=
            SQLITE_OK ||
        sqlite3_prepare_v2(w->db_, "INSERT INTO metadata VALUES (?1, ?2)", -1, &w->meta_, nullptr) != SQLITE_OK) {
        error = "\"" + path + "\": cannot be written (" + (w->db_ ? sqlite3_errmsg(w->db_) : "out of memory") + ")";
        return nullptr;  // the destructor removes the temporary file
    }
    return w;
}

void MbtilesWriter::close() {
    sqlite3_finalize(tile_);
    sqlite3_finalize(meta_);
    sqlite3_close(db_);
    tile_ = meta_ = nullptr;
    db_ = nullptr;
}

MbtilesWriter::~MbtilesWriter() {
    close();
    if (!finished_) std::remove(temp_.c_str());
}

bool MbtilesWriter::add_metadata(const std::string& name, const std::string& value) {
    if (failed_ || !meta_) return false;
    sqlite3_reset(meta_);
    sqlite3_bind_text(meta_, 1, name.c_str(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(meta_, 2, value.c_str(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(meta_) != SQLITE_DONE) failed_ = true;
    return !failed_;
}

bool MbtilesWriter::add_tile(int zoom, int x, int y, const std::vector<std::uint8_t>& bytes) {
    if (failed_ || !tile_ || zoom < 0 || zoom > 30 || bytes.empty()) return false;
    const long long n = 1LL << zoom;
    if (x < 0 || y < 0 || x >= n || y >= n) return false;
    sqlite3_reset(tile_);
    sqlite3_bind_int(tile_, 1, zoom);
    sqlite3_bind_int64(tile_, 2, x);
    sqlite3_bind_int64(tile_, 3, n - 1 - y);
    sqlite3_bind_blob(tile_, 4, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(tile_) != SQLITE_DONE) failed_ = true;
    return !failed_;
}

bool MbtilesWriter::finish(std::string& error) {
    std::string why;
    if (failed_ || !db_) why = db_ ? sqlite3_errmsg(db_) : "not open";
    else if (sqlite3_exec(db_, "COMMIT;", nullptr, nullptr, nullptr) != SQLITE_OK) why = sqlite3_errmsg(db_);
    close();
    // No journal was kept: the temporary file is thrown away on any failure. Once complete it is
    // pushed to the disk before the rename, so a crash never leaves a half pack under the name.
    if (why.empty() && !replace_file_durably(temp_, path_)) why = "cannot be flushed and renamed into place";
    if (!why.empty()) {
        error = "\"" + path_ + "\": cannot be written (" + why + ")";
        return false;
    }
    finished_ = true;
    return true;
}

}  // namespace vg
