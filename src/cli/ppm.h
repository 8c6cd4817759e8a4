// Binary PPM (P6, 8 bits per channel) in and out, the picture format of vortool's image commands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tiles/tile_types.h"

namespace vg::cli {

// Parses a P6 picture with maxval 255 (comments allowed in the header). On failure returns false,
// leaves `out` empty and puts a one-line reason in `error` when given.
bool parse_ppm(const std::uint8_t* data, std::size_t size, RgbImage& out, std::string* error = nullptr);
bool read_ppm_file(const std::filesystem::path& path, RgbImage& out, std::string* error = nullptr);

// "P6\n<width> <height>\n255\n" followed by the pixels.
std::vector<std::uint8_t> encode_ppm(const RgbImage& image);
// False when the picture is inconsistent (buffer size not width × height × 3) or the file cannot
// be written.
bool write_ppm_file(const std::filesystem::path& path, const RgbImage& image);

}  // namespace vg::cli
