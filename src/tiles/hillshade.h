// Hillshade and relief colours from a height grid: the grey of `gdaldem hillshade`'s defaults (Horn's
// gradient, light from azimuth 315° at altitude 45°, z-factor 1), its multiply blend onto a map picture
// at a strength, and the hypsometric tints of the Etopo2 relief.
// Pure and toolkit-free: numbers in, numbers out; any thread. Failure: grids whose sizes do not match
// their dimensions are refused (false, nothing written); NaN heights are voids, handled as stated below.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "tiles/elevation.h"
#include "tiles/image_decode.h"
#include "tiles/tile_types.h"

namespace vg {

// The ground size of one grid pixel in metres: east-west (x) and north-south (y).
struct PixelMetres {
    double x = 1.0;
    double y = 1.0;
};

// The grey of a pixel whose own height is a void: the blend leaves such a pixel unchanged.
inline constexpr std::uint8_t kNoShade = 255;
// The grey of level ground under the default light (1 + 254 · sin 45°, rounded).
inline constexpr std::uint8_t kFlatShade = 181;

// The shade of a `width` × `height` picture from `heights`, the grid with a border of one pixel all
// round ((width + 2) × (height + 2) values, rows from the north: sample_web_tile's layout). `metres`
// holds one size for the whole grid or one per picture row (`height` entries, for Mercator cells whose
// scale changes with latitude). Out: width × height greys 1..255 rows from the north, as gdaldem
// writes them (1 in full shadow, kFlatShade on level ground).
// Voids: a pixel whose own height is NaN gets kNoShade; a NaN neighbour takes the centre's height (the
// ground is taken as level towards the void), so the pixels beside a void are still shaded.
// False (out untouched) when the sizes do not match or a dimension is not positive.
bool hillshade(std::span<const float> heights, int width, int height, std::span<const PixelMetres> metres,
               std::vector<std::uint8_t>& out);

// Multiplies each pixel of `rgb` (red-green-blue bytes, rows packed; `channels` 3 for RGB, also
// 4 to leave a fourth byte alone) by its grey with `strength` percent (0..100, clamped): the colour
// times (1 − s + s · grey / 255). Strength 0 leaves the picture unchanged. False when the sizes differ.
bool blend_shade(std::span<std::uint8_t> rgb, int channels, std::span<const std::uint8_t> shade, int strength);

// The relief colour of a height in metres: the land ramp (green lowlands through yellow and browns to
// grey and white above 5000 m) above 0, blues darkening with depth at 0 and below (the sea level of
// .hgt files and of bathymetry).
// Linear between the ramp's stops (hillshade.cpp, kLandRamp and kSeaRamp).
void relief_colour(float metres, std::uint8_t rgb[3]);

// Relief over a `width` × `height` picture (`channels` 3 or 4 bytes a pixel, rows packed) from its
// bordered grid (as hillshade): each pixel with a height takes its tint, shaded at `strength` percent;
// void pixels (NaN) keep the picture's colour. False (nothing changed) when the sizes differ.
bool relief_picture(std::span<const float> heights, int width, int height, std::span<const PixelMetres> metres,
                    int strength, std::span<std::uint8_t> rgb, int channels);

// A square of `size` × `size` red-green-blue pixels inside a larger picture: its first byte and the
// picture's row length in bytes (a mosaic's cell, a quarter of a sharp cell).
struct PixelSquare {
    std::uint8_t* first = nullptr;
    std::size_t stride = 0;
    int size = 0;
};
// Cell `index` of a mosaic built for `grid`; empty (size 0) when it lies outside the mosaic.
PixelSquare mosaic_cell_square(Mosaic& mosaic, const ViewGrid& grid, int index);
// Quarter `quarter` (0 north-west .. 3 south-east; −1 the whole) of a sharp cell's square picture.
PixelSquare picture_square(RgbImage& picture, int quarter);

// Shades `square`, web tile (z, x, y) drawn at the square's size, with the heights of `model` at
// `strength` percent. False (nothing changed) when the model has no data in the tile or the square is
// empty. The ground size of a pixel follows the latitude of its row.
bool shade_web_square(PixelSquare square, const ElevationModel& model, int z, std::uint32_t x, std::uint32_t y,
                      int strength);
// Relief (tints under the shade, relief_picture) over `square`, the equal-angle box south..north,
// west..east in degrees (an Etopo2 cell or a part of one), where `model` has heights; elsewhere the
// square keeps its picture. False (nothing changed) when the model has no data in the box.
bool relief_degree_square(PixelSquare square, const ElevationModel& model, double south, double west, double north,
                          double east, int strength);

}  // namespace vg
