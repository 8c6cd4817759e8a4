#include "tiles/pmtiles_writer.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <numbers>
#include <string_view>

#include "platform/files.h"
#include "net/transfer_limits.h"
#include "platform/temp_files.h"
#include "tiles/pmtiles_file.h"

namespace vg::pmtiles {
namespace {

std::int32_t e7(double degrees) { return static_cast<std::int32_t>(std::llround(degrees * 1e7)); }

double tile_lon(double x, int z) { return x / std::ldexp(1.0, z) * 360.0 - 180.0; }
double tile_lat(double y, int z) {
    return std::atan(std::sinh(std::numbers::pi * (1.0 - 2.0 * y / std::ldexp(1.0, z)))) * 180.0 / std::numbers::pi;
}

}  // namespace

std::unique_ptr<Writer> Writer::create(const std::string& path, const WriterOptions& options, std::string& error) {
    for (const Compression c : {options.internal_compression, options.tile_compression}) {
        if (!compression_available(c)) {
            error = "\"" + path + "\": " + compression_name(c) + " is not available in this build";
            return nullptr;
        }
    }
    std::unique_ptr<Writer> w(new Writer);
    w->path_ = path;
    w->options_ = options;
    remove_stale_temporaries_of(path, kStaleTempAge);
    std::filesystem::path spool;
    w->spool_ = create_temp_beside(path, spool);
    if (w->spool_ < 0) {
        error = "\"" + path + "\": cannot be written (" + std::strerror(errno) + ")";
        return nullptr;
    }
    w->spool_path_ = spool.string();
    return w;
}

Writer::~Writer() {
    if (spool_ >= 0) close_file(spool_);
    if (!spool_path_.empty()) remove_file(spool_path_);
}

bool Writer::add_tile(int z, int x, int y, std::span<const std::uint8_t> bytes) {
    if (failed_ || finished_) return false;
    const auto id = x < 0 || y < 0 ? std::nullopt : tile_id(z, static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y));
    if (!id || bytes.empty() || bytes.size() > std::numeric_limits<std::uint32_t>::max()) {
        failed_ = true;
        return false;
    }
    const std::uint64_t hash =
        std::hash<std::string_view>{}(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    const auto [first, last] = by_hash_.equal_range(hash);
    std::vector<std::uint8_t> seen;
    std::string why;
    for (auto it = first; it != last; ++it) {
        const Content& c = contents_[it->second];
        if (c.length != bytes.size()) continue;
        seen.resize(c.length);
        if (!read_file_at(spool_, c.spool_offset, seen, why)) {
            failed_ = true;
            return false;
        }
        if (std::equal(seen.begin(), seen.end(), bytes.begin())) {
            tiles_.push_back({*id, it->second});
            return true;
        }
    }
    if (!write_all(spool_, bytes.data(), bytes.size())) {
        failed_ = true;
        return false;
    }
    const auto index = static_cast<std::uint32_t>(contents_.size());
    contents_.push_back({spool_size_, static_cast<std::uint32_t>(bytes.size())});
    spool_size_ += bytes.size();
    by_hash_.emplace(hash, index);
    tiles_.push_back({*id, index});
    return true;
}

bool Writer::finish(std::string& error) {
    auto fail = [&](const std::string& why) {
        error = "\"" + path_ + "\": cannot be written (" + why + ")";
        failed_ = true;
        return false;
    };
    if (failed_ || finished_) return fail(finished_ ? "already finished" : "a tile could not be added");
    if (tiles_.empty()) return fail("no tiles");
    std::sort(tiles_.begin(), tiles_.end(), [](const Tile& a, const Tile& b) { return a.id < b.id; });
    for (std::size_t i = 1; i < tiles_.size(); ++i)
        if (tiles_[i].id == tiles_[i - 1].id) return fail("a tile was given twice");

    // Each content at its first tile, in tile-id order: the archive is clustered.
    constexpr std::uint64_t kUnplaced = std::numeric_limits<std::uint64_t>::max();
    std::vector<std::uint64_t> placed(contents_.size(), kUnplaced);
    std::vector<std::uint32_t> write_order;
    std::uint64_t data_length = 0;
    Directory entries;
    for (const Tile& t : tiles_) {
        if (placed[t.content] == kUnplaced) {
            placed[t.content] = data_length;
            data_length += contents_[t.content].length;
            write_order.push_back(t.content);
        }
        const std::uint64_t offset = placed[t.content];
        if (!entries.empty()) {
            Entry& last = entries.back();
            if (last.offset == offset && last.tile_id + last.run_length == t.id &&
                last.run_length < std::numeric_limits<std::uint32_t>::max()) {
                ++last.run_length;
                continue;
            }
        }
        entries.push_back({t.id, offset, contents_[t.content].length, 1});
    }

    // Root alone when it fits in the first 16 KiB; else leaves, larger until the root fits.
    std::string why;
    auto packed = [&](const Directory& d) { return compress(options_.internal_compression, encode_directory(d), why); };
    auto root = packed(entries);
    std::vector<std::uint8_t> leaves;
    counts_.leaves = 0;
    if (!root) return fail(why);
    for (std::size_t per_leaf = std::max<std::size_t>(options_.leaf_entries, 1);
         kHeaderSize + root->size() > kRootBytes || (options_.always_leaves && counts_.leaves == 0); per_leaf *= 2) {
        leaves.clear();
        Directory pointers;
        for (std::size_t i = 0; i < entries.size(); i += per_leaf) {
            const Directory part(entries.begin() + static_cast<std::ptrdiff_t>(i),
                                 entries.begin() + static_cast<std::ptrdiff_t>(std::min(i + per_leaf, entries.size())));
            const auto leaf = packed(part);
            if (!leaf) return fail(why);
            pointers.push_back({part.front().tile_id, leaves.size(), static_cast<std::uint32_t>(leaf->size()), 0});
            leaves.insert(leaves.end(), leaf->begin(), leaf->end());
        }
        root = packed(pointers);
        if (!root) return fail(why);
        counts_.leaves = pointers.size();
    }
    const std::string& json = options_.metadata_json;
    const auto metadata = compress(options_.internal_compression,
                                   std::span(reinterpret_cast<const std::uint8_t*>(json.data()), json.size()), why);
    if (!metadata) return fail(why);

    Header h;
    h.root_offset = kHeaderSize;
    h.root_length = root->size();
    h.metadata_offset = h.root_offset + h.root_length;
    h.metadata_length = metadata->size();
    h.leaf_offset = h.metadata_offset + h.metadata_length;
    h.leaf_length = leaves.size();
    h.data_offset = h.leaf_offset + h.leaf_length;
    h.data_length = data_length;
    h.addressed_tiles = tiles_.size();
    h.tile_entries = entries.size();
    h.tile_contents = contents_.size();
    h.clustered = true;
    h.internal_compression = options_.internal_compression;
    h.tile_compression = options_.tile_compression;
    h.tile_type = options_.tile_type;
    int min_z = kMaxZoom, max_z = 0;
    double west = 180, south = 90, east = -180, north = -90;
    for (const Tile& t : tiles_) {
        const TileAddress a = *tile_address(t.id);
        min_z = std::min(min_z, a.z);
        max_z = std::max(max_z, a.z);
        west = std::min(west, tile_lon(a.x, a.z));
        east = std::max(east, tile_lon(a.x + 1.0, a.z));
        north = std::max(north, tile_lat(a.y, a.z));
        south = std::min(south, tile_lat(a.y + 1.0, a.z));
    }
    if (options_.has_bounds) west = options_.west, south = options_.south, east = options_.east, north = options_.north;
    h.min_zoom = static_cast<std::uint8_t>(min_z);
    h.max_zoom = static_cast<std::uint8_t>(max_z);
    h.min_lon_e7 = e7(west), h.min_lat_e7 = e7(south), h.max_lon_e7 = e7(east), h.max_lat_e7 = e7(north);
    if (options_.has_center) {
        h.center_lon_e7 = e7(options_.center_lon), h.center_lat_e7 = e7(options_.center_lat);
        h.center_zoom = static_cast<std::uint8_t>(std::clamp(options_.center_zoom, 0, kMaxZoom));
    } else {
        h.center_lon_e7 = e7((west + east) / 2), h.center_lat_e7 = e7((south + north) / 2);
        h.center_zoom = static_cast<std::uint8_t>(min_z);
    }

    remove_stale_temporaries_of(path_, kStaleTempAge);
    std::filesystem::path temp;
    const int fd = create_temp_beside(path_, temp);
    if (fd < 0) return fail(std::strerror(errno));
    const auto header = encode_header(h);
    bool ok = write_all(fd, header.data(), header.size()) && write_all(fd, root->data(), root->size()) &&
              write_all(fd, metadata->data(), metadata->size()) && write_all(fd, leaves.data(), leaves.size());
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; ok && i < write_order.size(); ++i) {
        const Content& c = contents_[write_order[i]];
        bytes.resize(c.length);
        ok = read_file_at(spool_, c.spool_offset, bytes, why) && write_all(fd, bytes.data(), bytes.size());
    }
    close_file(fd);
    if (!ok || !replace_file_durably(temp, path_)) {
        remove_file(temp);
        return fail(ok ? "cannot be flushed and renamed into place" : "a write failed");
    }
    finished_ = true;
    counts_.tiles = tiles_.size();
    counts_.entries = entries.size();
    counts_.contents = contents_.size();
    return true;
}

}  // namespace vg::pmtiles
