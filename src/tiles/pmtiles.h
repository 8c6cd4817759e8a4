// The PMTiles v3 single-file tile archive, as bytes: the 127-byte header, directories, and the
// Hilbert tile id of a tile (z, x, y). Pure: bytes in, records out, no I/O and no globals; safe from
// any thread. Archives come from anywhere, so decoding checks everything against the bytes it has:
// a bad magic or version, sections outside the archive, zooms over 31, counts the input cannot
// hold, offsets or lengths that overflow or a directory out of tile-id order give a defined error
// text and no record, never a crash or an allocation the input does not justify.
//
// Layout: header (0..127), root directory, metadata (JSON), leaf directories, tile data. A
// directory is a list of entries sorted by tile id; an entry with run_length > 0 says that tiles
// tile_id .. tile_id + run_length - 1 all have the bytes at (offset, length) of the data section;
// run_length == 0 points at a leaf directory at (offset, length) of the leaf section.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tiles/compression.h"

namespace vg::pmtiles {

inline constexpr std::size_t kHeaderSize = 127;
// Header and root directory together fit in the first 16 KiB (writers keep to this; a reader reads
// this much first).
inline constexpr std::size_t kRootBytes = 16384;
inline constexpr int kMaxZoom = 31;
// Root plus at most this many levels of leaves are followed (a deeper chain, or a cycle, is refused).
inline constexpr int kMaxLeafDepth = 3;

enum class TileType : std::uint8_t { unknown = 0, mvt = 1, png = 2, jpeg = 3, webp = 4, avif = 5 };
// "mvt", "png", "jpeg", "webp", "avif" or "unknown".
const char* tile_type_name(TileType t);

struct Header {
    std::uint64_t root_offset = 0, root_length = 0;
    std::uint64_t metadata_offset = 0, metadata_length = 0;
    std::uint64_t leaf_offset = 0, leaf_length = 0;
    std::uint64_t data_offset = 0, data_length = 0;
    std::uint64_t addressed_tiles = 0;  // 0 when unknown
    std::uint64_t tile_entries = 0;     // 0 when unknown
    std::uint64_t tile_contents = 0;    // 0 when unknown
    bool clustered = false;
    Compression internal_compression = Compression::unknown;  // of directories and metadata
    Compression tile_compression = Compression::unknown;
    TileType tile_type = TileType::unknown;
    std::uint8_t min_zoom = 0, max_zoom = 0;
    std::int32_t min_lon_e7 = 0, min_lat_e7 = 0, max_lon_e7 = 0, max_lat_e7 = 0;  // degrees · 10^7
    std::uint8_t center_zoom = 0;
    std::int32_t center_lon_e7 = 0, center_lat_e7 = 0;
};

// The header in `bytes` (at least kHeaderSize of them), checked against an archive of
// `archive_size` bytes: magic "PMTiles" and version 3, every section inside the archive, zooms
// within 0..31 and min <= max, known compressions. Nullopt with `error` otherwise.
std::optional<Header> decode_header(std::span<const std::uint8_t> bytes, std::uint64_t archive_size, std::string& error);
std::array<std::uint8_t, kHeaderSize> encode_header(const Header& header);

struct Entry {
    std::uint64_t tile_id = 0;
    std::uint64_t offset = 0;  // from the start of the data section (tiles) or leaf section (leaves)
    std::uint32_t length = 0;
    std::uint32_t run_length = 0;  // 0: a leaf directory
    bool operator==(const Entry&) const = default;
};
using Directory = std::vector<Entry>;

// A directory's (already decompressed) bytes: entry count, then tile-id deltas, run lengths,
// lengths and offsets (0 after the first entry: right after the previous entry's bytes), all as
// varints. Refused: counts beyond what the bytes can hold, tile ids not strictly increasing or
// overflowing, zero lengths, offsets that overflow, bytes left over.
std::optional<Directory> decode_directory(std::span<const std::uint8_t> bytes, std::string& error);
// The bytes of `entries` (sorted by tile id), offsets written as 0 where they follow on.
std::vector<std::uint8_t> encode_directory(const Directory& entries);

// The Hilbert tile id of tile (z, x, y), rows from the north; nullopt outside z 0..31 or the zoom's grid.
std::optional<std::uint64_t> tile_id(int z, std::uint32_t x, std::uint32_t y);
struct TileAddress {
    int z = 0;
    std::uint32_t x = 0, y = 0;
    bool operator==(const TileAddress&) const = default;
};
// The tile of an id; nullopt for ids beyond zoom 31.
std::optional<TileAddress> tile_address(std::uint64_t id);

// The entry of `directory` that answers for `id`: a tile entry whose run covers it, or the leaf
// entry (run_length 0) with the greatest tile id <= `id` (the leaf that may hold it). Null when
// neither (the tile is not in the archive). Binary search.
const Entry* find_entry(const Directory& directory, std::uint64_t id);

}  // namespace vg::pmtiles
