#include "support/pmtiles_world.h"

#include <algorithm>
#include <random>

#include "tiles/compression.h"
#include "tiles/pmtiles.h"

namespace vg::test {

namespace {

std::string gzip(const std::vector<std::uint8_t>& raw) {
    std::string error;
    const auto c = compress(Compression::gzip, {raw.data(), raw.size()}, error);
    return {c->begin(), c->end()};
}

}  // namespace

std::string clustered_archive(const std::map<std::uint64_t, std::string>& tiles, std::size_t per_leaf) {
    using namespace pmtiles;
    Directory entries;
    std::string data;
    std::map<std::string, std::uint64_t> stored;
    for (const auto& [id, bytes] : tiles) {
        auto [it, added] = stored.emplace(bytes, data.size());
        if (added) data += bytes;
        if (!entries.empty() && entries.back().offset == it->second &&
            entries.back().tile_id + entries.back().run_length == id) {
            ++entries.back().run_length;
            continue;
        }
        entries.push_back({id, it->second, static_cast<std::uint32_t>(bytes.size()), 1});
    }
    std::string root, leaves;
    if (per_leaf == 0) {
        root = gzip(encode_directory(entries));
    } else {
        Directory pointers;
        for (std::size_t at = 0; at < entries.size(); at += per_leaf) {
            const Directory part(entries.begin() + static_cast<long>(at),
                                 entries.begin() + static_cast<long>(std::min(entries.size(), at + per_leaf)));
            const std::string bytes = gzip(encode_directory(part));
            pointers.push_back({part.front().tile_id, leaves.size(), static_cast<std::uint32_t>(bytes.size()), 0});
            leaves += bytes;
        }
        root = gzip(encode_directory(pointers));
    }
    const std::string metadata = gzip(std::vector<std::uint8_t>{'{', '}'});
    Header h;
    h.root_offset = kHeaderSize;
    h.root_length = root.size();
    h.metadata_offset = h.root_offset + root.size();
    h.metadata_length = metadata.size();
    h.leaf_offset = h.metadata_offset + metadata.size();
    h.leaf_length = leaves.size();
    h.data_offset = h.leaf_offset + leaves.size();
    h.data_length = data.size();
    h.clustered = true;
    h.internal_compression = Compression::gzip;
    h.tile_compression = Compression::none;
    h.tile_type = TileType::png;
    h.min_zoom = static_cast<std::uint8_t>(tile_address(tiles.begin()->first)->z);
    h.max_zoom = static_cast<std::uint8_t>(tile_address(tiles.rbegin()->first)->z);
    h.min_lon_e7 = -1800000000;
    h.max_lon_e7 = 1800000000;
    h.min_lat_e7 = -850000000;
    h.max_lat_e7 = 850000000;
    const auto head = encode_header(h);
    return std::string(head.begin(), head.end()) + root + metadata + leaves + data;
}

std::map<std::uint64_t, std::string> world_tiles(int max, const std::string& tag) {
    std::map<std::uint64_t, std::string> tiles;
    std::mt19937 random(7);
    const std::string sea(700, 's');
    for (int z = 0; z <= max; ++z)
        for (std::uint32_t y = 0; y < (1u << z); ++y)
            for (std::uint32_t x = 0; x < (1u << z); ++x) {
                std::string bytes = tag + std::to_string(z) + "/" + std::to_string(x) + "/" + std::to_string(y) + ":";
                bytes.resize(300 + random() % 2500, static_cast<char>('a' + random() % 26));
                tiles[*pmtiles::tile_id(z, x, y)] = z >= 4 && y >= (1u << z) / 2 ? sea : bytes;
            }
    return tiles;
}

void set_extract_area(pmtiles::ExtractRequest& rq) {
    rq.west = 5;
    rq.south = 35;
    rq.east = 40;
    rq.north = 60;
    rq.min_zoom = 2;
    rq.max_zoom = 8;
}

}  // namespace vg::test
