// The tests' one reader of binary PNM pictures (P6 colour, P5 grey, maxval 255): the reference
// decodes in tests/data/images/refs and the pictures vortool writes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "tiles/tile_types.h"

namespace vg::test {

struct Pnm {
    int width = 0;
    int height = 0;
    int channels = 0;  // 3 for P6, 1 for P5
    std::vector<std::uint8_t> pixels;
};

// nullopt for anything but a whole P5 or P6 picture with maxval 255 (comments allowed in the header;
// a width or height of 0 is a picture without pixels).
std::optional<Pnm> read_pnm(const std::filesystem::path& path);

// A P6 picture as red-green-blue rows; an empty image when the file is no whole P6 picture.
RgbImage read_ppm(const std::filesystem::path& path);

}  // namespace vg::test
