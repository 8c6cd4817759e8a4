// How a cached tile is identified and where its file lives below the cache root.
//
// A tile's directory and file names carry its row and column in octal, scaled to level-4 tile units,
// so that the tree follows the 8 × 8 subdivision between levels: each directory is named after the
// coarser tile that holds everything below it. The separator is "/"; a backslash in the root text
// (as in the default ".\Maps") is read as "/".
#pragma once

#include <string>
#include <string_view>

#include "tiles/geometry.h"
#include "tiles/map_source.h"

namespace vg {

// Default cache root, as the settings file spells it.
inline constexpr const char* kDefaultMapsDir = ".\\Maps";

struct TileKey {
    MapSource source = MapSource::VirtualEarth;
    bool aerial = false;  // the aerial-photo layer; only GoogleMaps, VirtualEarth and MapQuest have one
    int level = 0;
    int row = 0;     // floor(y / 256), not wrapped
    int column = 0;  // floor(x / 256), wrapped round the world
    bool operator==(const TileKey&) const = default;
};

// The key of the tile that holds world pixel (x, y). `aerial` is dropped for sources without an
// aerial layer.
TileKey tile_key(int x, int y, int level, MapSource source, bool aerial);

// True when the key's row lies inside the world raster and its level is one the source has.
bool tile_in_world(const TileKey& key);

struct TilePaths {
    std::string directory;
    std::string full_path;
    bool operator==(const TilePaths&) const = default;
};

// The directory and full path of a tile below `root`. Touches nothing on disk. A zoom between the
// levels keeps its tiles in "z<zoom>/<row>/vor_z<zoom>_<row>_<column>.<ext>" below the folder.
TilePaths tile_paths(const TileKey& key, std::string_view root);
// The same for a tile kept in `folder` below the root (instead of the site code) with `extension`:
// the catalogue sources other than the five originals.
TilePaths tile_paths_in(const TileKey& key, std::string_view root, std::string_view folder, std::string_view extension);

// The root text with every backslash read as "/".
std::string normalise_root(std::string_view root);

// "E2", "OS", "GM", "VE", "MQ".
const char* site_code(MapSource source);
// "gif", "png" or "jpg" by source and layer.
const char* tile_extension(MapSource source, bool aerial);
// The tile's file name, e.g. "vor_2_123400_056700.png".
std::string tile_file_name(const TileKey& key);

// Creates the directories of `directory` shallowest first, skipping the component before the first
// "/" (the "." of a relative root), which is never created. Failures are ignored: an existing
// directory is the normal case, and a download into a missing one fails later.
void create_tile_directories(std::string_view directory);

}  // namespace vg
