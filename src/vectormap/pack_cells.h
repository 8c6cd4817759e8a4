// Map cells of a vector pack (tiles/tile_pack.h) drawn with a style, for the local tile maker: the
// cell's own tile, or past the pack's deepest zoom its ancestor there (render.h draws the cell's
// sub-square of it sharp). Styles are read once per file and kept; the built-in style is the one of
// the schema the pack's layers name. The last few decoded tiles are kept, so the cells of one over-zoom
// tile decode it once.
// Threads: any thread, several at once (a QGuiApplication must exist, see render.h). Failure: a null
// image when the pack cannot be opened, has no tile for the cell (or its ancestor at the deepest zoom),
// the cell is above its least zoom, or the tile does not decode; a style file that cannot be read falls back to the built-in style
// (reported once).
#pragma once

#include <QImage>

#include "tiles/local_source.h"

namespace vg::vmap {

QImage draw_pack_cell(const LocalTileRequest& request);

// A remote vector source's cell from its cached raw tile (request.raw_tile): a vector tile (gzip
// undone) drawn with the style file or the built-in style of the schema its layers name; a picture
// (PNG, JPEG: a raster archive's tile) as it is, or past its zoom its part enlarged. Null when the
// file is missing, does not decode or is not the cell's tile or an ancestor of it.
QImage draw_raw_cell(const LocalTileRequest& request);

}  // namespace vg::vmap
