// Draws tiles of the built-in world map with QPainter on a QImage (Qt GUI only, no display needed:
// the caller owns a QGuiApplication, offscreen platform is enough, because text needs the font
// database). Two pictures are drawn from the same data:
//   - web-Mercator tiles (zoom z, column x, row y counted southward), for the Atlas source;
//   - 22.5° equirectangular relief tiles in the Etopo2 cells' layout (rows counted northward from the
//     south pole, columns eastward from 180° W), a shaded land/sea picture.
// Safe to call from any thread (each call paints its own image; the data are read only).
#pragma once

#include <QImage>
#include <string>

#include "atlas/atlas_data.h"
#include "tiles/tile_types.h"

namespace vg::atlas {

// Cartographic colours, shared by the renderer and the tests that read pixels back.
inline constexpr unsigned kSeaRgb = 0xaacbe3;
inline constexpr unsigned kLandRgb = 0xf2efe6;

// A 256 × 256 RGB32 web-Mercator tile. `faded` draws it lighter, for a tile shown in place of one
// that could not be downloaded. A zoom outside 0..22 or a row outside the world gives an all-sea tile.
// `scale` 2 draws the same tile for a screen of twice the pixel density: 512 × 512, lines, symbols
// and labels twice as wide (the same places labelled in the same spots), coasts of the next zoom's
// detail. Any other scale is 1.
QImage render_tile(const AtlasData& data, int zoom, int x, int y, bool faded = false, int scale = 1);

// A 256 × 256 RGB32 relief tile at Etopo2 level 0 (row 0..7 from the south, column 0..15 from 180° W);
// 512 × 512, the cell sampled twice as densely, with `scale` 2.
QImage render_relief_tile(const AtlasData& data, int row, int column, int scale = 1);

// zlib level of the PNG files written here: the tiles are made on the window thread, and the fastest
// level (rows unfiltered) writes a tile in well under half the time of Qt's default writer, for files
// about 2 % larger (bench/atlas: BM_AtlasTileWritten).
inline constexpr int kTilePngLevel = 1;

// The picture's pixels as red-green-blue bytes, the tile library's picture form.
RgbImage rgb_pixels(const QImage& image);

// Saves as PNG (zlib level 0..9, -1 the default) through a temporary file renamed into place, so
// that a reader never sees half a tile.
bool save_png_atomically(const QImage& image, const std::string& path, int level = kTilePngLevel);

}  // namespace vg::atlas
