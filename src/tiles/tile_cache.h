// Cache-only tile lookup and deletion: the view drawn from tiles already on disk, and the removal of
// the current view's tiles before they are fetched again. Window thread only.
//
// Results are true when the tile or view is available (or deleted), false when it is not.
// A tile is in the cache when its file is a regular file larger than 0 bytes.
// Paths longer than kMaxTilePath and rows outside the world have no tile (false, slot empty).
#pragma once

#include <string>
#include <string_view>

#include "tiles/map_source.h"
#include "tiles/tile_catalogue.h"
#include "tiles/tile_types.h"

namespace vg {

// True when the tile holding world pixel (x, y) is cached; its full path is then in `slot`. False
// when it is not: the slot holds the path it would have (or is empty when it has none, e.g. Etopo2 above
// level 0, which leaves the slot untouched).
// With `entry` (a catalogue source other than the originals) its own folder, extension and levels apply;
// `source` is then its geometry.
bool find_tile(std::string& slot, int x, int y, int level, MapSource source, std::string_view root, bool aerial,
               const CatalogueEntry* entry = nullptr);

// Fills slots 0 .. g·g − 1 for the view grid around (centre_x, centre_y): a cached tile's path or
// an empty text. False, with the table unchanged, when the source has no tiles at that level (Etopo2
// above level 0, or a level outside 0..4); else true.
bool find_view_tiles(TilePathTable& table, int centre_x, int centre_y, int level, MapSource source,
                     std::string_view root, bool aerial, bool big_maps, const CatalogueEntry* entry = nullptr);
// The same for any grid; the table grows to hold its cells.
bool find_view_tiles(TilePathTable& table, int centre_x, int centre_y, int level, MapSource source,
                     std::string_view root, bool aerial, const ViewGrid& grid, const CatalogueEntry* entry = nullptr);

// Deletes the cached file of the tile holding (x, y); `slot` receives its path. True when a file
// was deleted; false when there was none, the delete failed, or the source is Etopo2 (never deleted).
bool delete_tile(std::string& slot, int x, int y, int level, MapSource source, std::string_view root, bool aerial,
                 const CatalogueEntry* entry = nullptr);

// Deletes the g × g tiles of the view around (centre_x, centre_y); directories stay. False for Etopo2
// (nothing deleted), else true. The slots then hold the paths of the deleted files.
bool delete_view_tiles(TilePathTable& table, int centre_x, int centre_y, int level, MapSource source,
                       std::string_view root, bool aerial, bool big_maps, const CatalogueEntry* entry = nullptr);
bool delete_view_tiles(TilePathTable& table, int centre_x, int centre_y, int level, MapSource source,
                       std::string_view root, bool aerial, const ViewGrid& grid, const CatalogueEntry* entry = nullptr);

}  // namespace vg
