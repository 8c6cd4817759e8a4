// Hillshade and relief colours from a height grid: the grey of `gdaldem hillshade`'s defaults (Horn's
// gradient, light from azimuth 315° at altitude 45°, z-factor 1), its multiply blend onto a map picture
// at a strength, and the hypsometric tints of the Etopo2 relief.
// Pure and toolkit-free: numbers in, numbers out; any thread. Failure: grids whose sizes do not match
// their dimensions are refused (false, nothing written); NaN heights are voids, handled as stated below.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

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

// The relief picture of a `width` × `height` cell from its bordered grid (as hillshade): tints under
// the shade at `strength` percent; void pixels (NaN) stay `void_rgb`. False when the sizes differ.
bool relief_picture(std::span<const float> heights, int width, int height, std::span<const PixelMetres> metres,
                    int strength, unsigned void_rgb, RgbImage& out);

}  // namespace vg
