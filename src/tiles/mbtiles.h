// Raster map packs in the MBTiles 1.3 layout: one SQLite file with a `metadata` table (name, value)
// and a `tiles` table or view (zoom_level, tile_column, tile_row, tile_data). Packs are opened read
// only and never changed (SQLite's immutable mode: no journal, no lock files, nothing written beside
// the pack), and tiles are read one by one through the index, so a large pack is never read whole.
// Rows are stored in TMS order (counted from the south) unless the metadata says scheme=xyz.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace vg {

struct PackInfo {
    std::string path;
    std::string name;         // metadata `name`; the file's base name when missing
    std::string format;       // "png" or "jpg"
    std::string scheme;       // "tms" or "xyz"
    std::string attribution;  // may be empty
    std::string description;
    int min_zoom = -1, max_zoom = -1;  // -1 when the metadata does not say
    bool has_bounds = false;
    double west = 0, south = 0, east = 0, north = 0;
};

class MbtilesPack {
public:
    // Opens a pack. On failure returns null and sets `error` to a message naming the file: not a
    // database or damaged, no metadata or tiles table, vector tiles, WebP or another unknown format.
    static std::unique_ptr<MbtilesPack> open(const std::string& path, std::string& error);
    ~MbtilesPack();
    MbtilesPack(const MbtilesPack&) = delete;
    MbtilesPack& operator=(const MbtilesPack&) = delete;

    const PackInfo& info() const { return info_; }
    // The bytes of web tile (zoom, x, y), rows counted from the north as on the web; empty when the
    // pack has no such tile or it cannot be read.
    std::optional<std::vector<std::uint8_t>> read_tile(int zoom, int x, int y) const;
    // Number of tiles at each zoom (index = zoom); reads only the index.
    std::vector<long long> tile_counts() const;

private:
    MbtilesPack() = default;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* tile_ = nullptr;
    PackInfo info_;
};

// Writes a new raster pack: metadata and tiles go into <path>.partXXXXXX (a file of its own; stale
// ones of a killed export of the same path are removed first) inside one transaction, and the
// finished file is renamed to `path` by finish(), so an interrupted export never leaves a half pack
// under the final name. Rows are stored in TMS order (scheme tms, the format's default).
class MbtilesWriter {
public:
    // Creates the file; null with `error` naming it when it cannot be made.
    static std::unique_ptr<MbtilesWriter> create(const std::string& path, std::string& error);
    ~MbtilesWriter();  // an unfinished pack is removed
    MbtilesWriter(const MbtilesWriter&) = delete;
    MbtilesWriter& operator=(const MbtilesWriter&) = delete;

    bool add_metadata(const std::string& name, const std::string& value);
    // Web tile (zoom, x, y), rows from the north.
    bool add_tile(int zoom, int x, int y, const std::vector<std::uint8_t>& bytes);
    // Commits, closes and renames into place; false with `error` set when any step failed.
    bool finish(std::string& error);

private:
    MbtilesWriter() = default;
    void close();
    sqlite3* db_ = nullptr;
    sqlite3_stmt* tile_ = nullptr;
    sqlite3_stmt* meta_ = nullptr;
    std::string path_, temp_;
    bool failed_ = false;
    bool finished_ = false;
};

// The file name extension of tiles in a pack of this format ("png" or "jpg").
inline const char* pack_tile_extension(const PackInfo& info) { return info.format == "jpg" ? "jpg" : "png"; }

// A "file:" URI for SQLite naming `path` with the given query (characters that URIs reserve escaped).
std::string sqlite_file_uri(const std::string& path, const std::string& query);

}  // namespace vg
