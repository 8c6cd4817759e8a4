// Elevation data made in a test: .hgt files of any posts and Terrarium tiles of any heights.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "tiles/tile_types.h"

namespace vg::test {

// The bytes of a .hgt file, `side` posts a side, every post `fill` until set.
struct HgtBytes {
    int side;
    std::vector<std::uint8_t> bytes;
    explicit HgtBytes(int side_posts, std::int16_t fill = 0)
        : side(side_posts), bytes(std::size_t(side_posts) * side_posts * 2) {
        const auto v = static_cast<std::uint16_t>(fill);
        for (std::size_t i = 0; i < bytes.size(); i += 2) {
            bytes[i] = static_cast<std::uint8_t>(v >> 8);
            bytes[i + 1] = static_cast<std::uint8_t>(v & 0xff);
        }
    }
    // Post (row from the north, column from the west), big-endian.
    void set(int row, int column, std::int16_t metres) {
        const auto v = static_cast<std::uint16_t>(metres);
        const std::size_t at = (std::size_t(row) * side + column) * 2;
        bytes[at] = static_cast<std::uint8_t>(v >> 8);
        bytes[at + 1] = static_cast<std::uint8_t>(v & 0xff);
    }
    std::string string() const { return std::string(bytes.begin(), bytes.end()); }
};

// A 256-pixel Terrarium tile whose pixel (column, row) holds height(column, row) metres (to 1/256 m).
template <typename Height>
RgbImage terrarium_tile(Height height) {
    RgbImage image{256, 256, std::vector<std::uint8_t>(256 * 256 * 3)};
    for (int r = 0; r < 256; ++r)
        for (int c = 0; c < 256; ++c) {
            const auto v = static_cast<std::uint32_t>(std::lround((height(c, r) + 32768.0) * 256.0));
            std::uint8_t* p = &image.pixels[(std::size_t(r) * 256 + c) * 3];
            p[0] = static_cast<std::uint8_t>(v >> 16);
            p[1] = static_cast<std::uint8_t>(v >> 8);
            p[2] = static_cast<std::uint8_t>(v);
        }
    return image;
}

}  // namespace vg::test
