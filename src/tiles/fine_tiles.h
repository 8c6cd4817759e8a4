// The sharp tiles of a map cell on a screen of twice the pixel density, for every kind of source:
// where they come from and where they are cached ("<folder>@2x" beside the source's own folder,
// named as the cell's tile, fine_tile_path):
//   - sources fetched through the libcurl fetcher: their 512-pixel tile ({r} as "@2x"), else the
//     next web zoom's four tiles, one per quarter of the cell;
//   - the Atlas and Etopo2's relief: the cell drawn here at 512 pixels (PNG, by the local tile maker);
//   - map packs: the pack's four tiles of the next zoom, copied out where the pack has them, or the
//     pack's own tile when it is a 512-pixel picture.
// A quarter without its sharp tile shows the cell's 1x tile enlarged (the window's business).
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tiles/tile_catalogue.h"
#include "tiles/tile_naming.h"

namespace vg {

enum class FineOrigin {
    none,       // the cells stay their 1x tiles enlarged
    fetched,    // asked of the source's host after the view's 1x tiles
    made_here,  // drawn or copied out of a pack on this machine, no network
};

// Where the sharp tiles of `entry` at `level` come from. Fetched only for Mercator sources whose
// rows run from the north (a quarter is then a tile of the next zoom); made here for the Atlas and
// Etopo2 while a tile maker is installed, and for packs.
FineOrigin fine_origin(const CatalogueEntry& entry, int level);

// The sharp tile files of cell `key` of `entry`: (quarter, path), quarter -1 for one 512-pixel tile
// over the whole cell, 0..3 (north-west, north-east, south-west, south-east) for the four quarters.
// Empty for a cell outside the world or a source without sharp tiles. For a source made here only
// the files that are there are listed, the missing ones made first with `make` (a drawn 512-pixel
// picture costs a few milliseconds, bench/atlas): a pack that lacks a finer tile (or cannot be read)
// leaves that quarter out.
std::vector<std::pair<int, std::string>> fine_tile_files(const CatalogueEntry& entry, const TileKey& key,
                                                         std::string_view root, bool make);

}  // namespace vg
