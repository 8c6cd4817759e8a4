// Tiles of the sources that need no network, made on demand into the tile cache like downloaded
// ones (same naming, written under a temporary name and renamed into place):
//   - drawn on this machine (the Atlas, Etopo2's relief cells) by a maker that a program linking
//     the built-in map installs at start (the drawing needs Qt GUI, which this library does not);
//   - drawn from the vector tiles of a pack (MBTiles or PMTiles) by the same maker;
//   - copied out of a raster map pack (MBTiles or PMTiles), toolkit-free.
// Any thread: the pack table is guarded, and a pack's reads are serialised by it.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "tiles/mbtiles.h"
#include "tiles/tile_catalogue.h"

namespace vg {

inline constexpr const char* kAtlasName = "Atlas";
inline constexpr const char* kPacksFolder = "packs";

// What a maker is asked for: an Atlas tile (web zoom, column, row from the north; `faded` for the
// lighter picture shown in place of a tile that could not be downloaded) or an Etopo2 relief cell
// (`relief`: row from the south in y, column from 180° W in x). `scale` 2: the same tile drawn
// 512 pixels square for a screen of twice the pixel density, always as PNG. `vector_pack` set: the
// cell drawn from that vector pack's tiles (the deepest tile above `zoom` past the pack's zooms) with
// the style file `style_path` (empty: the built-in style of the pack's schema), `night` its night
// style.
struct LocalTileRequest {
    bool relief = false;
    int zoom = 0;
    int x = 0;
    int y = 0;
    bool faded = false;
    int scale = 1;
    std::string vector_pack;
    std::string style_path;
    bool night = false;
    // A remote vector source's cell: drawn from the cached raw tile `raw_tile`, tile (raw_zoom, raw_x,
    // raw_y) (the cell's own, or its ancestor past the tiles' zooms): vector tiles with the style as
    // for a pack, a picture (PNG, JPEG) as it is, its part enlarged.
    std::string raw_tile;
    int raw_zoom = 0;
    int raw_x = 0;
    int raw_y = 0;
};
// The request for an Atlas tile, or with `relief` an Etopo2 relief cell.
LocalTileRequest drawn_tile_request(bool relief, int zoom, int x, int y, bool faded = false);
// The request for cell (zoom, x, y) of vector source `entry` in the style now in use.
LocalTileRequest vector_tile_request(const CatalogueEntry& entry, int zoom, int x, int y, int scale);
using LocalTileMaker = bool (*)(const LocalTileRequest& request, const std::string& path);

// Installs (or with null removes) the maker. Without one, the Atlas has no tiles and Etopo2 is
// fetched as before.
void set_local_tile_maker(LocalTileMaker maker);
bool has_local_tile_maker();
// Runs the maker; false without one or when it fails.
bool make_local_tile_file(const LocalTileRequest& request, const std::string& path);


// Makes sure the tile of `entry` holding world pixel (x, y) at `level` is in the cache, drawing it
// or copying it out of the pack when missing. True when the file is there afterwards (its path in
// `slot`); false otherwise (slot emptied): the level has no tiles, the pack lacks the tile, no maker.
bool make_offline_tile(std::string& slot, int x, int y, int level, std::string_view root, const CatalogueEntry& entry);

// Copies web tile (zoom, x, y) of a pack to `path`; false when the pack has no such tile or the file
// cannot be written. One thread at a time per pack.
bool copy_pack_tile(const MbtilesPack& pack, int zoom, int x, int y, const std::string& path);
// The same for the pack of file `pack_path` as the program keeps it open (open_pack_shared, a
// PMTiles archive open_tile_pack_shared), its reads serialised with every other thread's: false also
// when the pack cannot be opened.
bool copy_pack_file_tile(const std::string& pack_path, int zoom, int x, int y, const std::string& path);

// The faded Atlas picture for tile (x, y) of a Web-Mercator source at `level`, kept in the cache at
// <root>/Atlas/faded; its path, or empty when it cannot be had (no maker, not a Mercator source).
std::string faded_atlas_tile(int x, int y, int level, MapSource geometry, std::string_view root);

// The Atlas entry of the built-in catalogue (menu command Atlas).
CatalogueEntry atlas_entry();

// The pack of `path`, opened once and kept for the run; null with `error` naming the file when it
// cannot be used.
std::shared_ptr<MbtilesPack> open_pack_shared(const std::string& path, std::string& error);

// The packs folder of a cache root: <root>/packs.
std::filesystem::path packs_folder(std::string_view root);

// Adds every usable *.mbtiles and *.pmtiles file of `folder` (raster packs as kind pack, vector ones
// as kind vector, with the style file <stem>.style.json beside the pack when there is one) (sorted by file name) to the catalogue as a source
// named after its metadata name (characters a folder name cannot hold become "_"; a name already
// taken gets "-2", "-3"...), after the user lines. A pack that cannot be used is named in
// catalogue.problems with the reason. Returns the number added.
int add_packs(Catalogue& catalogue, const std::filesystem::path& folder);
// Adds one pack file; false, with the reason naming the file in `error`, when it cannot be used.
bool add_pack(Catalogue& catalogue, const std::filesystem::path& file, std::string& error);

}  // namespace vg
