#include "tiles/pmtiles.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace vg::pmtiles {
namespace {

std::uint64_t read_u64(const std::uint8_t* p) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
    return v;
}
std::int32_t read_i32(const std::uint8_t* p) {
    const std::uint32_t v = std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
                            std::uint32_t(p[3]) << 24;
    return static_cast<std::int32_t>(v);
}
void write_u64(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void write_i32(std::uint8_t* p, std::int32_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Whether [offset, offset + length) lies within [0, size).
bool inside(std::uint64_t offset, std::uint64_t length, std::uint64_t size) {
    return offset <= size && length <= size - offset;
}

// Reads varints from a span; fails (sticky) on a varint that runs past the end or over 64 bits.
struct VarintReader {
    std::span<const std::uint8_t> bytes;
    std::size_t pos = 0;
    bool failed = false;
    std::uint64_t next() {
        std::uint64_t v = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (pos >= bytes.size()) break;
            const std::uint8_t b = bytes[pos++];
            if (shift == 63 && b > 1) break;
            v |= std::uint64_t(b & 0x7f) << shift;
            if (!(b & 0x80)) return v;
        }
        failed = true;
        return 0;
    }
    std::size_t left() const { return bytes.size() - pos; }
};

void put_varint(std::vector<std::uint8_t>& out, std::uint64_t v) {
    while (v >= 0x80) {
        out.push_back(static_cast<std::uint8_t>(v | 0x80));
        v >>= 7;
    }
    out.push_back(static_cast<std::uint8_t>(v));
}

// Hilbert curve of a 2^order square: the quadrant walk turns the lower bits as it descends.
void rotate(std::uint64_t n, std::uint64_t& x, std::uint64_t& y, std::uint64_t rx, std::uint64_t ry) {
    if (ry == 0) {
        if (rx == 1) {
            x = n - 1 - x;
            y = n - 1 - y;
        }
        std::swap(x, y);
    }
}

// Ids before zoom z: (4^z - 1) / 3.
std::uint64_t zoom_base(int z) { return ((std::uint64_t(1) << (2 * z)) - 1) / 3; }

}  // namespace

const char* tile_type_name(TileType t) {
    switch (t) {
    case TileType::mvt: return "mvt";
    case TileType::png: return "png";
    case TileType::jpeg: return "jpeg";
    case TileType::webp: return "webp";
    case TileType::avif: return "avif";
    default: return "unknown";
    }
}

std::optional<Header> decode_header(std::span<const std::uint8_t> bytes, std::uint64_t archive_size, std::string& error) {
    if (bytes.size() < kHeaderSize || archive_size < kHeaderSize) {
        error = "too short for a PMTiles header";
        return std::nullopt;
    }
    const std::uint8_t* p = bytes.data();
    if (std::memcmp(p, "PMTiles", 7) != 0) {
        error = "not a PMTiles archive";
        return std::nullopt;
    }
    if (p[7] != 3) {
        error = "PMTiles version " + std::to_string(p[7]) + " (only version 3 is read)";
        return std::nullopt;
    }
    Header h;
    h.root_offset = read_u64(p + 8);
    h.root_length = read_u64(p + 16);
    h.metadata_offset = read_u64(p + 24);
    h.metadata_length = read_u64(p + 32);
    h.leaf_offset = read_u64(p + 40);
    h.leaf_length = read_u64(p + 48);
    h.data_offset = read_u64(p + 56);
    h.data_length = read_u64(p + 64);
    h.addressed_tiles = read_u64(p + 72);
    h.tile_entries = read_u64(p + 80);
    h.tile_contents = read_u64(p + 88);
    h.clustered = p[96] == 1;
    h.internal_compression = static_cast<Compression>(p[97]);
    h.tile_compression = static_cast<Compression>(p[98]);
    h.tile_type = static_cast<TileType>(p[99]);
    h.min_zoom = p[100];
    h.max_zoom = p[101];
    h.min_lon_e7 = read_i32(p + 102);
    h.min_lat_e7 = read_i32(p + 106);
    h.max_lon_e7 = read_i32(p + 110);
    h.max_lat_e7 = read_i32(p + 114);
    h.center_zoom = p[118];
    h.center_lon_e7 = read_i32(p + 119);
    h.center_lat_e7 = read_i32(p + 123);

    auto section = [&](const char* name, std::uint64_t offset, std::uint64_t length) {
        if (inside(offset, length, archive_size)) return true;
        error = std::string("the ") + name + " lies outside the archive (" + std::to_string(archive_size) + " bytes)";
        return false;
    };
    if (!section("root directory", h.root_offset, h.root_length) ||
        !section("metadata", h.metadata_offset, h.metadata_length) ||
        !section("leaf directories", h.leaf_offset, h.leaf_length) ||
        !section("tile data", h.data_offset, h.data_length))
        return std::nullopt;
    if (h.root_length == 0) {
        error = "no root directory";
        return std::nullopt;
    }
    if (h.max_zoom > kMaxZoom || h.min_zoom > h.max_zoom) {
        error = "zooms " + std::to_string(h.min_zoom) + "-" + std::to_string(h.max_zoom) + " are not within 0-31";
        return std::nullopt;
    }
    const auto known = [](Compression c) { return c >= Compression::none && c <= Compression::zstd; };
    if (!known(h.internal_compression)) {
        error = "unknown directory compression " + std::to_string(p[97]);
        return std::nullopt;
    }
    if (!known(h.tile_compression) && h.tile_compression != Compression::unknown) {
        error = "unknown tile compression " + std::to_string(p[98]);
        return std::nullopt;
    }
    return h;
}

std::array<std::uint8_t, kHeaderSize> encode_header(const Header& h) {
    std::array<std::uint8_t, kHeaderSize> out{};
    std::uint8_t* p = out.data();
    std::memcpy(p, "PMTiles", 7);
    p[7] = 3;
    write_u64(p + 8, h.root_offset);
    write_u64(p + 16, h.root_length);
    write_u64(p + 24, h.metadata_offset);
    write_u64(p + 32, h.metadata_length);
    write_u64(p + 40, h.leaf_offset);
    write_u64(p + 48, h.leaf_length);
    write_u64(p + 56, h.data_offset);
    write_u64(p + 64, h.data_length);
    write_u64(p + 72, h.addressed_tiles);
    write_u64(p + 80, h.tile_entries);
    write_u64(p + 88, h.tile_contents);
    p[96] = h.clustered ? 1 : 0;
    p[97] = static_cast<std::uint8_t>(h.internal_compression);
    p[98] = static_cast<std::uint8_t>(h.tile_compression);
    p[99] = static_cast<std::uint8_t>(h.tile_type);
    p[100] = h.min_zoom;
    p[101] = h.max_zoom;
    write_i32(p + 102, h.min_lon_e7);
    write_i32(p + 106, h.min_lat_e7);
    write_i32(p + 110, h.max_lon_e7);
    write_i32(p + 114, h.max_lat_e7);
    p[118] = h.center_zoom;
    write_i32(p + 119, h.center_lon_e7);
    write_i32(p + 123, h.center_lat_e7);
    return out;
}

std::optional<Directory> decode_directory(std::span<const std::uint8_t> bytes, std::string& error) {
    VarintReader r{bytes};
    const std::uint64_t count = r.next();
    // Each entry takes at least four one-byte varints.
    if (r.failed || count > r.left() / 4) {
        error = "directory entry count " + std::to_string(count) + " is more than its bytes hold";
        return std::nullopt;
    }
    Directory d(static_cast<std::size_t>(count));
    std::uint64_t id = 0;
    for (std::size_t i = 0; i < d.size(); ++i) {
        const std::uint64_t delta = r.next();
        if (i > 0 && delta == 0) {
            error = "directory tile ids are not in increasing order";
            return std::nullopt;
        }
        if (delta > std::numeric_limits<std::uint64_t>::max() - id) {
            error = "directory tile id overflows";
            return std::nullopt;
        }
        id += delta;
        d[i].tile_id = id;
    }
    for (Entry& e : d) {
        const std::uint64_t v = r.next();
        if (v > std::numeric_limits<std::uint32_t>::max()) {
            error = "directory run length too large";
            return std::nullopt;
        }
        e.run_length = static_cast<std::uint32_t>(v);
    }
    for (Entry& e : d) {
        const std::uint64_t v = r.next();
        if (v == 0 || v > std::numeric_limits<std::uint32_t>::max()) {
            error = v == 0 ? "directory entry of length 0" : "directory entry length too large";
            return std::nullopt;
        }
        e.length = static_cast<std::uint32_t>(v);
    }
    for (std::size_t i = 0; i < d.size(); ++i) {
        const std::uint64_t v = r.next();
        if (v == 0 && i > 0) {
            const Entry& prev = d[i - 1];
            if (prev.offset > std::numeric_limits<std::uint64_t>::max() - prev.length) {
                error = "directory offset overflows";
                return std::nullopt;
            }
            d[i].offset = prev.offset + prev.length;
        } else if (v == 0) {
            error = "directory's first offset is 0 (no previous entry to follow)";
            return std::nullopt;
        } else {
            d[i].offset = v - 1;
        }
    }
    if (r.failed) {
        error = "directory truncated or holds a bad varint";
        return std::nullopt;
    }
    if (r.left() != 0) {
        error = "directory has " + std::to_string(r.left()) + " bytes after its entries";
        return std::nullopt;
    }
    return d;
}

std::vector<std::uint8_t> encode_directory(const Directory& entries) {
    std::vector<std::uint8_t> out;
    out.reserve(entries.size() * 8 + 8);
    put_varint(out, entries.size());
    std::uint64_t last = 0;
    for (const Entry& e : entries) {
        put_varint(out, e.tile_id - last);
        last = e.tile_id;
    }
    for (const Entry& e : entries) put_varint(out, e.run_length);
    for (const Entry& e : entries) put_varint(out, e.length);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        if (i > 0 && e.offset == entries[i - 1].offset + entries[i - 1].length) put_varint(out, 0);
        else put_varint(out, e.offset + 1);
    }
    return out;
}

std::optional<std::uint64_t> tile_id(int z, std::uint32_t x, std::uint32_t y) {
    if (z < 0 || z > kMaxZoom) return std::nullopt;
    const std::uint64_t n = std::uint64_t(1) << z;
    if (x >= n || y >= n) return std::nullopt;
    std::uint64_t tx = x, ty = y, d = 0;
    for (std::uint64_t s = n / 2; s > 0; s /= 2) {
        const std::uint64_t rx = (tx & s) ? 1 : 0, ry = (ty & s) ? 1 : 0;
        d += s * s * ((3 * rx) ^ ry);
        rotate(n, tx, ty, rx, ry);
    }
    return zoom_base(z) + d;
}

std::optional<TileAddress> tile_address(std::uint64_t id) {
    int z = 0;
    while (z < kMaxZoom && id >= zoom_base(z + 1)) ++z;
    const std::uint64_t n = std::uint64_t(1) << z;
    std::uint64_t t = id - zoom_base(z);
    if (t >= n * n) return std::nullopt;
    std::uint64_t x = 0, y = 0;
    for (std::uint64_t s = 1; s < n; s *= 2) {
        const std::uint64_t rx = 1 & (t / 2), ry = 1 & (t ^ rx);
        rotate(s, x, y, rx, ry);
        x += s * rx;
        y += s * ry;
        t /= 4;
    }
    return TileAddress{z, static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y)};
}

const Entry* find_entry(const Directory& directory, std::uint64_t id) {
    // The last entry with tile_id <= id.
    auto it = std::upper_bound(directory.begin(), directory.end(), id,
                               [](std::uint64_t v, const Entry& e) { return v < e.tile_id; });
    if (it == directory.begin()) return nullptr;
    const Entry& e = *(it - 1);
    if (e.run_length == 0) return &e;
    if (id - e.tile_id < e.run_length) return &e;
    return nullptr;
}

}  // namespace vg::pmtiles
