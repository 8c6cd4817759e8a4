// Raster map packs in the MBTiles 1.3 layout: one SQLite file with a `metadata` table (name, value)
// and a `tiles` table or view (zoom_level, tile_column, tile_row, tile_data). Packs are opened read
// only and never changed (SQLite's immutable mode: no journal, no lock files, nothing written beside
// the pack), and tiles are read one by one through the index, so a large pack is never read whole.
// Rows are stored in TMS order (counted from the south) unless the metadata says scheme=xyz.
// A pack comes from anywhere, so it is read defensively (PackDatabase): no query of it can run
// without end, and no tile or value over kTileBodyLimit is read.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tiles/vector_layers.h"

struct sqlite3;
struct sqlite3_stmt;

namespace vg {

// Work one query of a pack may do, in SQLite virtual machine steps (about a tenth of a second): far
// more than a lookup through the index or the metadata rows need, far less than an endless view.
inline constexpr long long kPackQuerySteps = 10'000'000;
// Counting the tiles per zoom walks the whole index: a larger bound (some seconds).
inline constexpr long long kPackCountSteps = 400'000'000;

// An SQLite file from outside the program (a map pack), opened so that its contents cannot hang,
// flood or change anything: read only and immutable, defensive mode on, nothing in its schema
// trusted (no functions with side effects from views), statements may only read (recursive queries
// are refused when prepared), strings and blobs over kTileBodyLimit fail with SQLITE_TOOBIG, and
// every query runs under a budget of steps (allow_steps) after which it stops with
// SQLITE_INTERRUPT. `tables` must be in the file as tables; a name with `view_allowed` may be a
// view instead. The pack readers (raster now, others later) open their files through this.
class PackDatabase {
public:
    struct Table {
        const char* name;
        bool view_allowed = false;
    };
    // Null on failure with `error` naming the file and the reason: not there, not an SQLite
    // database, a table missing or a view where a table must be.
    static std::unique_ptr<PackDatabase> open(const std::string& path, const std::vector<Table>& tables,
                                              std::string& error);
    ~PackDatabase();
    PackDatabase(const PackDatabase&) = delete;
    PackDatabase& operator=(const PackDatabase&) = delete;

    sqlite3* handle() const { return db_; }
    // Gives the next queries `steps` steps between them; ran_out() says when a query was stopped.
    void allow_steps(long long steps) const;
    bool ran_out() const { return left_ < 0; }
    // "\"<path>\": <why>", the form of every refusal of a pack, safe to print (printable_text:
    // the reason may quote the pack's own metadata).
    std::string refusal(const std::string& why) const;
    // Why the last step failed, in words for the user ("ran over its bound of work" when the budget
    // stopped it).
    std::string failure() const;

private:
    PackDatabase() = default;
    static int on_progress(void* self);
    sqlite3* db_ = nullptr;
    std::string path_;
    mutable long long left_ = 0;  // progress calls left in the current budget
};

// What a tile read found.
enum class PackTileStatus {
    found,
    absent,     // no such tile, or an address outside the world
    too_large,  // larger than kTileBodyLimit: not read
    unreadable  // damaged, or the lookup ran over its bound (the pack then gives no more tiles)
};

struct PackInfo {
    std::string path;
    std::string name;         // metadata `name`; the file's base name when missing
    std::string format;       // "png" or "jpg"; "pbf" for a vector pack (opened with vector_allowed)
    std::string scheme;       // "tms" or "xyz"
    std::string attribution;  // may be empty
    std::string description;
    int min_zoom = -1, max_zoom = -1;  // -1 when the metadata does not say
    bool has_bounds = false;
    double west = 0, south = 0, east = 0, north = 0;
    // Vector packs: the `json` metadata's vector_layers (empty when missing or malformed).
    std::vector<VectorLayer> vector_layers;
};

class MbtilesPack {
public:
    // Opens a pack. On failure returns null and sets `error` to a message naming the file: not a
    // database or damaged, no metadata or tiles table, vector tiles (unless `vector_allowed`), WebP
    // or another unknown format.
    static std::unique_ptr<MbtilesPack> open(const std::string& path, std::string& error, bool vector_allowed = false);
    ~MbtilesPack();
    MbtilesPack(const MbtilesPack&) = delete;
    MbtilesPack& operator=(const MbtilesPack&) = delete;

    const PackInfo& info() const { return info_; }
    // The bytes of web tile (zoom, x, y), rows counted from the north as on the web; empty when the
    // pack has no such tile or it cannot be read, `status` (when given) saying which. A vector
    // pack's tiles are given as plain MVT (gzip-compressed ones decompressed, within kTileBodyLimit).
    std::optional<std::vector<std::uint8_t>> read_tile(int zoom, int x, int y, PackTileStatus* status = nullptr) const;
    // Number of tiles at each zoom (index = zoom); reads only the index. Empty when counting ran
    // over kPackCountSteps.
    std::optional<std::vector<long long>> tile_counts() const;
    // The (x, y) of every tile of `zoom`, rows from the north; reads only the index. Nullopt when
    // listing ran over kPackCountSteps.
    std::optional<std::vector<std::pair<int, int>>> tile_columns_rows(int zoom) const;

private:
    MbtilesPack() = default;
    std::unique_ptr<PackDatabase> db_;
    sqlite3_stmt* tile_ = nullptr;
    PackInfo info_;
    mutable bool given_up_ = false;  // a lookup ran over its bound: the pack is not asked again
};

// Writes a new raster pack: metadata and tiles go into <path>.partXXXXXX (a file of its own; stale
// ones of a killed export of the same path are removed first) inside one transaction, and the
// finished file is flushed to the disk and renamed to `path` by finish() (the folder flushed too), so
// neither an interrupted export nor a crash soon after leaves a half pack under the final name. Rows
// are stored in TMS order (scheme tms, the format's default).
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
