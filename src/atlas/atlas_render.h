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

namespace vg::atlas {

// Cartographic colours, shared by the renderer and the tests that read pixels back.
inline constexpr unsigned kSeaRgb = 0xaacbe3;
inline constexpr unsigned kLandRgb = 0xf2efe6;

// A 256 × 256 RGB32 web-Mercator tile. `faded` draws it lighter, for a tile shown in place of one
// that could not be downloaded. A zoom outside 0..22 or a row outside the world gives an all-sea tile.
QImage render_tile(const AtlasData& data, int zoom, int x, int y, bool faded = false);

// A 256 × 256 RGB32 relief tile at Etopo2 level 0 (row 0..7 from the south, column 0..15 from 180° W).
QImage render_relief_tile(const AtlasData& data, int row, int column);

// Saves as PNG through a temporary file renamed into place, so that a reader never sees half a tile.
bool save_png_atomically(const QImage& image, const std::string& path);

}  // namespace vg::atlas
