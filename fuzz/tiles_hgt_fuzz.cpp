// Fuzzes the .hgt reader: the input's first eleven bytes as a file name, the input itself as a file
// (refused unless of a .hgt length), and a 1201² file whose posts repeat the input, sampled at places
// the input gives. A height must be finite and within the posts' range; never a read outside a buffer.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "tiles/hgt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size >= 11) {
        if (const auto cell = vg::parse_hgt_name(std::string_view(reinterpret_cast<const char*>(data), 11)))
            if (vg::parse_hgt_name(vg::hgt_file_name(*cell)) != cell) std::abort();
    }
    std::string why;
    if (vg::HgtTile::from_bytes({data, size}, {0, 0}, &why) && vg::hgt_side(size) == 0) std::abort();
    if (size < 2) return 0;
    std::vector<std::uint8_t> file(std::size_t(1201) * 1201 * 2);
    for (std::size_t i = 0; i < file.size(); ++i) file[i] = data[i % size];
    const auto tile = vg::HgtTile::from_bytes(file, {-1, -1});
    if (!tile) std::abort();
    for (std::size_t at = 0; at + 16 <= size; at += 16) {
        double lat = 0, lon = 0;
        std::memcpy(&lat, data + at, 8);
        std::memcpy(&lon, data + at + 8, 8);
        // Also the same place folded into the cell, so that most samples land inside it.
        for (int fold = 0; fold < 2; ++fold) {
            if (fold && std::isfinite(lat) && std::isfinite(lon)) {
                lat = -1.0 + std::fmod(std::fabs(lat), 1.0);
                lon = -1.0 + std::fmod(std::fabs(lon), 1.0);
            }
            if (const auto h = tile->elevation(lat, lon); h && !(std::isfinite(*h) && std::fabs(*h) <= 32767.0))
                std::abort();
            (void)vg::hgt_cell_of(lat, lon);
        }
    }
    return 0;
}
