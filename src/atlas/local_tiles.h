// Tiles made on this machine and written into the tile cache like downloaded ones, for the sources
// that need no network: the Atlas (PNG, web-Mercator, same naming as any Mercator source), the Etopo2
// relief cells at level 0 (GIF with the fixed palette, as the cut relief images were), and tiles taken
// out of a map pack. Every file is written under a temporary name and renamed into place, so a reader
// never sees half a tile. The Atlas and relief writers need a QGuiApplication (see atlas_render.h).
#pragma once

#include <string>

#include "tiles/local_source.h"

namespace vg::atlas {

// The Atlas tile at web zoom `zoom`, column x (wrapped), row y (from the north). `faded` draws the
// lighter picture shown in place of a tile that could not be downloaded. `scale` 2 writes the 512-pixel
// picture of the same tile (render_tile). False when it cannot be written.
bool write_atlas_tile(int zoom, int x, int y, const std::string& path, bool faded = false, int scale = 1);

// The Etopo2 level-0 tile at `row` (0..7 from the south) and `column` (0..15 from 180° W): GIF with the
// fixed palette; `scale` 2 writes its 512-pixel picture as PNG instead.
bool write_relief_tile(int row, int column, const std::string& path, int scale = 1);

// Makes these writers the tile library's local maker (vg::set_local_tile_maker), so that the Atlas
// and Etopo2 are drawn wherever tiles are fetched. The caller owns a QGuiApplication.
void install_local_tile_maker();

// For programs without a window (vortool): creates one QGuiApplication on the offscreen platform,
// kept for the process, unless one exists, with the C library's numbers left in the C locale. Call from
// the main thread.
void ensure_offscreen_gui();

}  // namespace vg::atlas
