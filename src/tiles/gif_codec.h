// The GIF reader and writer of the tile cache. The reader takes GIF87a and GIF89a streams and
// decodes the first image into a 24-bit RGB picture of the logical screen's size; the writer stores
// a picture as GIF87a with the fixed 256-colour palette and LZW compression.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "tiles/tile_types.h"

namespace vg {

// Largest logical screen (in pixels) the reader will allocate. Tiles are 256 × 256; a damaged or
// hostile header claiming more is refused like a failed allocation.
inline constexpr std::size_t kGifMaxScreenPixels = std::size_t{4096} * 4096;

// Decodes the first image of a GIF stream. On success (true) `out` holds the logical screen's pixels
// with the image placed at its (left, top); pixels outside the image are black, and so are pixels of
// colour indexes without a table entry. A stream whose trailer comes before any image also succeeds
// but leaves `out` empty: callers treat an empty result as "no image". On failure (false) `out` is empty.
bool gif_read(const std::uint8_t* data, std::size_t size, RgbImage& out);
bool gif_read_file(const std::filesystem::path& path, RgbImage& out);

// Encodes a picture as one complete GIF87a stream (fixed palette, 8-bit LZW) and replaces `out` with
// it. Fails (false, `out` empty) only for a picture the format cannot hold: no pixels, a side above
// 65535, or a pixel buffer whose size is not width × height × 3.
bool gif_write(const RgbImage& image, std::vector<std::uint8_t>& out);
// Writes the encoded picture to a file (created or truncated); false when encoding or writing fails.
bool gif_write_file(const std::filesystem::path& path, const RgbImage& image);

// The fixed palette: index 64·b + 8·g + r (r, g in 0..7, b in 0..3) has red and green at the levels
// 0, 36, 73, 109, 146, 182, 219, 255 and blue at 85·b.
struct PaletteColour {
    std::uint8_t red, green, blue;
};
PaletteColour fixed_palette_colour(int index);
inline int fixed_palette_index(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    return (red >> 5) + 8 * (green >> 5) + 64 * (blue >> 6);
}

}  // namespace vg
