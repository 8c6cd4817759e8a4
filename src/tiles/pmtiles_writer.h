// Writes a clustered PMTiles v3 archive from tiles given in any order. Tile bytes are stored as
// given (already in the archive's tile compression) in a spool file beside the target while tiles
// are added; identical tiles are kept once (hash, then compared byte for byte). finish() orders the
// tiles by tile id, writes header, root directory (leaf directories when the root would not fit in
// the first 16 KiB), metadata and the tile data in tile-id order (each distinct content once, at
// its first tile; a run of consecutive tile ids with one content is one entry) to
// <path>.partXXXXXX, flushes it and renames it into place, so a crash or failure never leaves a
// half archive under the name. One thread at a time; nothing is written under `path` until finish().
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "tiles/pmtiles.h"

namespace vg::pmtiles {

struct WriterOptions {
    TileType tile_type = TileType::mvt;
    Compression tile_compression = Compression::gzip;      // what the given tile bytes already are
    Compression internal_compression = Compression::gzip;  // of directories and metadata
    std::string metadata_json = "{}";
    // Bounds and centre in degrees; when has_bounds is false they are worked out from the tiles
    // (centre: the middle of the bounds at the least zoom).
    bool has_bounds = false;
    double west = 0, south = 0, east = 0, north = 0;
    bool has_center = false;
    double center_lon = 0, center_lat = 0;
    int center_zoom = 0;
    // Entries per leaf directory to start from (doubled until the root fits); tests make it small.
    std::size_t leaf_entries = 4096;
    // Leaf directories even when the root alone would fit (tests).
    bool always_leaves = false;
};

class Writer {
public:
    // Null with `error` naming the file when the spool file cannot be made or a compression is not
    // in this build.
    static std::unique_ptr<Writer> create(const std::string& path, const WriterOptions& options, std::string& error);
    ~Writer();  // an unfinished archive and the spool file are removed
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // Tile (z, x, y), rows from the north. False (and the writer failed) on a tile outside the
    // zoom's grid, an empty tile, a tile given twice or a write error.
    bool add_tile(int z, int x, int y, std::span<const std::uint8_t> bytes);
    // Writes the archive and renames it into place; false with `error` set when any step failed.
    bool finish(std::string& error);

    struct Counts {
        std::uint64_t tiles = 0, entries = 0, contents = 0, leaves = 0;
    };
    // After finish(): what was written.
    const Counts& counts() const { return counts_; }

private:
    Writer() = default;
    struct Tile {
        std::uint64_t id;
        std::uint32_t content;  // index into contents_
    };
    struct Content {
        std::uint64_t spool_offset;
        std::uint32_t length;
    };
    std::string path_, spool_path_;
    WriterOptions options_;
    int spool_ = -1;
    std::uint64_t spool_size_ = 0;
    std::vector<Tile> tiles_;
    std::vector<Content> contents_;
    std::unordered_multimap<std::uint64_t, std::uint32_t> by_hash_;
    bool failed_ = false;
    bool finished_ = false;
    Counts counts_;
};

}  // namespace vg::pmtiles
