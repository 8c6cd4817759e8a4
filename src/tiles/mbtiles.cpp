#include "tiles/mbtiles.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "net/transfer_limits.h"
#include "platform/files.h"
#include "platform/temp_files.h"

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

std::unique_ptr<MbtilesPack> MbtilesPack::open(const std::string& path, std::string& error) {
    std::unique_ptr<MbtilesPack> pack(new MbtilesPack);
    pack->info_.path = path;
    auto refuse = [&](const std::string& why) {
        error = "\"" + path + "\": " + why;
        return nullptr;
    };
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return refuse("no such map pack file");
    // immutable=1: the pack is never written, so SQLite takes no locks and writes no journal.
    const std::string uri = sqlite_file_uri(std::filesystem::absolute(path, ec).string(), "mode=ro&immutable=1");
    if (sqlite3_open_v2(uri.c_str(), &pack->db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) != SQLITE_OK)
        return refuse(std::string("cannot be opened (") + sqlite3_errmsg(pack->db_) + ")");
    sqlite3_stmt* meta = nullptr;
    if (sqlite3_prepare_v2(pack->db_, "SELECT name, value FROM metadata", -1, &meta, nullptr) != SQLITE_OK) {
        const std::string why = sqlite3_errmsg(pack->db_);
        return refuse(why.find("no such table") != std::string::npos ? "not a map pack (no metadata table)"
                                                                     : "not a map pack (" + why + ")");
    }
    PackInfo& info = pack->info_;
    int rc;
    while ((rc = sqlite3_step(meta)) == SQLITE_ROW) {
        const std::string key = column_text(meta, 0), value = column_text(meta, 1);
        if (key == "name") info.name = value;
        else if (key == "format") info.format = value;
        else if (key == "scheme") info.scheme = value;
        else if (key == "attribution") info.attribution = value;
        else if (key == "description") info.description = value;
        else if (key == "minzoom") info.min_zoom = std::atoi(value.c_str());
        else if (key == "maxzoom") info.max_zoom = std::atoi(value.c_str());
        else if (key == "bounds")
            info.has_bounds = std::sscanf(value.c_str(), "%lf,%lf,%lf,%lf", &info.west, &info.south, &info.east, &info.north) == 4;
    }
    sqlite3_finalize(meta);
    if (rc != SQLITE_DONE) return refuse(std::string("damaged map pack (") + sqlite3_errmsg(pack->db_) + ")");
    if (sqlite3_prepare_v2(pack->db_,
                           "SELECT tile_data FROM tiles WHERE zoom_level = ?1 AND tile_column = ?2 AND tile_row = ?3",
                           -1, &pack->tile_, nullptr) != SQLITE_OK)
        return refuse("not a map pack (no tiles table)");
    if (info.name.empty()) info.name = std::filesystem::path(path).stem().string();
    if (info.scheme.empty()) info.scheme = "tms";
    if (info.scheme != "tms" && info.scheme != "xyz") return refuse("unknown tile scheme \"" + info.scheme + "\"");
    if (info.format.empty()) {
        // Older packs leave the format out: the first tile tells.
        sqlite3_stmt* first = nullptr;
        if (sqlite3_prepare_v2(pack->db_, "SELECT tile_data FROM tiles LIMIT 1", -1, &first, nullptr) == SQLITE_OK &&
            sqlite3_step(first) == SQLITE_ROW) {
            const auto* p = static_cast<const std::uint8_t*>(sqlite3_column_blob(first, 0));
            const std::vector<std::uint8_t> head(p, p + std::min(sqlite3_column_bytes(first, 0), 16));
            info.format = sniff_format(head);
        }
        sqlite3_finalize(first);
    }
    if (info.format == "jpeg") info.format = "jpg";
    if (info.format == "pbf" || info.format == "mvt") return refuse("vector tiles (" + info.format + ") cannot be drawn; only raster packs (png, jpg) are read");
    if (info.format == "webp") return refuse("WebP tiles cannot be decoded here; only png and jpg packs are read");
    if (info.format != "png" && info.format != "jpg")
        return refuse(info.format.empty() ? "no tile format and no tiles" : "unknown tile format \"" + info.format + "\"");
    return pack;
}

MbtilesPack::~MbtilesPack() {
    sqlite3_finalize(tile_);
    sqlite3_close(db_);
}

std::optional<std::vector<std::uint8_t>> MbtilesPack::read_tile(int zoom, int x, int y) const {
    if (zoom < 0 || zoom > 30) return std::nullopt;
    const long long n = 1LL << zoom;
    if (x < 0 || y < 0 || x >= n || y >= n) return std::nullopt;
    const long long row = info_.scheme == "xyz" ? y : n - 1 - y;
    sqlite3_reset(tile_);
    sqlite3_bind_int(tile_, 1, zoom);
    sqlite3_bind_int64(tile_, 2, x);
    sqlite3_bind_int64(tile_, 3, row);
    if (sqlite3_step(tile_) != SQLITE_ROW) return std::nullopt;
    const auto* p = static_cast<const std::uint8_t*>(sqlite3_column_blob(tile_, 0));
    const int size = sqlite3_column_bytes(tile_, 0);
    if (!p || size <= 0) return std::nullopt;
    std::vector<std::uint8_t> bytes(p, p + size);
    sqlite3_reset(tile_);
    return bytes;
}

std::vector<long long> MbtilesPack::tile_counts() const {
    std::vector<long long> counts;
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, "SELECT zoom_level, count(*) FROM tiles GROUP BY zoom_level", -1, &s, nullptr) == SQLITE_OK) {
        while (sqlite3_step(s) == SQLITE_ROW) {
            const int z = sqlite3_column_int(s, 0);
            if (z < 0 || z > 30) continue;
            if (counts.size() <= static_cast<std::size_t>(z)) counts.resize(static_cast<std::size_t>(z) + 1, 0);
            counts[static_cast<std::size_t>(z)] = sqlite3_column_int64(s, 1);
        }
    }
    sqlite3_finalize(s);
    return counts;
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
    if (why.empty() && std::rename(temp_.c_str(), path_.c_str()) != 0) why = "cannot rename into place";
    if (!why.empty()) {
        error = "\"" + path_ + "\": cannot be written (" + why + ")";
        return false;
    }
    finished_ = true;
    return true;
}

}  // namespace vg
