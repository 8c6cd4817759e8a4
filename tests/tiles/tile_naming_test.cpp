// Tile keys, directory and file names, and directory creation on a real temporary folder.
#include "tiles/tile_naming.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "support/test_paths.h"

namespace vg {
namespace {

namespace fs = std::filesystem;

TilePaths paths_of(MapSource s, bool aerial, int level, int row, int column, std::string_view root = kDefaultMapsDir) {
    return tile_paths(TileKey{s, aerial, level, row, column}, root);
}

using test::native;

TEST(TileNaming, KnownPaths) {
    EXPECT_EQ(paths_of(MapSource::OpenStreetMap, false, 2, 668, 375),
              (TilePaths{native("./Maps/OS/120000_050000/123000_056000"),
                         native("./Maps/OS/120000_050000/123000_056000/vor_2_123400_056700.png")}));
    EXPECT_EQ(paths_of(MapSource::VirtualEarth, false, 0, 5, 12).full_path, native("./Maps/VE/vor_0_050000_140000.png"));
    EXPECT_EQ(paths_of(MapSource::Etopo2, false, 0, 7, 15).full_path, native("./Maps/E2/vor_0_070000_170000.gif"));
    EXPECT_EQ(tile_file_name(TileKey{MapSource::GoogleMaps, false, 4, 65535, 0}), "vor_4_177777_000000.png");
    EXPECT_EQ(paths_of(MapSource::GoogleMaps, true, 4, 65535, 0).full_path,
              native("./Maps/GM/170000_000000/177000_000000/177700_000000/177770_000000/vor_4_177777_000000.jpg"));
    EXPECT_EQ(paths_of(MapSource::GoogleMaps, false, 3, 8191, 1).full_path,
              native("./Maps/GM/170000_000000/177000_000000/177700_000000/vor_3_177770_000010.png"));
    // MapQuest: both layers share the site directory and differ by extension.
    EXPECT_EQ(paths_of(MapSource::MapQuest, false, 1, 146, 233).full_path,
              native("./Maps/MQ/220000_350000/vor_1_222000_351000.gif"));
    EXPECT_EQ(paths_of(MapSource::MapQuest, true, 1, 146, 233).full_path,
              native("./Maps/MQ/220000_350000/vor_1_222000_351000.jpg"));
    // Level 4 MapQuest columns need more than six octal digits ("%06o" widens, nothing is cut).
    EXPECT_EQ(tile_file_name(TileKey{MapSource::MapQuest, false, 4, 1, 140825}), "vor_4_000001_423031.gif");
    // Roots: either separator reads as the system's own, an absolute root kept as given.
    EXPECT_EQ(paths_of(MapSource::VirtualEarth, true, 0, 0, 0, "C:\\tiles\\cache").directory, native("C:/tiles/cache/VE"));
    EXPECT_EQ(paths_of(MapSource::VirtualEarth, true, 0, 0, 0, native("/var/maps")).full_path, native("/var/maps/VE/vor_0_000000_000000.jpg"));
}

TEST(TileNaming, AerialLayerOnlyWhereItExists) {
    // Sources without an aerial layer keep their map layer (and its extension).
    EXPECT_FALSE(tile_key(0, 0, 0, MapSource::OpenStreetMap, true).aerial);
    EXPECT_FALSE(tile_key(0, 0, 0, MapSource::Etopo2, true).aerial);
    EXPECT_TRUE(tile_key(0, 0, 0, MapSource::MapQuest, true).aerial);
    EXPECT_STREQ(tile_extension(MapSource::OpenStreetMap, true), "png");
    EXPECT_STREQ(tile_extension(MapSource::Etopo2, true), "gif");
}

TEST(TileNaming, KeysWrapColumnsButNotRows) {
    EXPECT_EQ(tile_key(-1, 300, 0, MapSource::VirtualEarth, false), (TileKey{MapSource::VirtualEarth, false, 0, 1, 15}));
    EXPECT_EQ(tile_key(4096, 0, 0, MapSource::OpenStreetMap, false).column, 0);
    EXPECT_EQ(tile_key(12 * 256 + 1, 0, 0, MapSource::MapQuest, false).column, 0);
    const TileKey above = tile_key(0, -1, 0, MapSource::OpenStreetMap, false);
    EXPECT_EQ(above.row, -1);
    EXPECT_FALSE(tile_in_world(above));
    EXPECT_FALSE(tile_in_world(tile_key(0, 4096, 0, MapSource::OpenStreetMap, false)));
    EXPECT_TRUE(tile_in_world(tile_key(0, 4095, 0, MapSource::OpenStreetMap, false)));
    EXPECT_TRUE(tile_in_world(tile_key(0, 2047, 0, MapSource::Etopo2, false)));
    EXPECT_FALSE(tile_in_world(tile_key(0, 2048, 0, MapSource::Etopo2, false)));
    EXPECT_FALSE(tile_in_world(tile_key(0, 0, 1, MapSource::Etopo2, false)));
    // The last MapQuest row at level 0 is partly outside the raster (1938 pixels high) but exists.
    EXPECT_TRUE(tile_in_world(tile_key(0, 1937, 0, MapSource::MapQuest, false)));
    EXPECT_FALSE(tile_in_world(tile_key(0, 1938 + 256, 0, MapSource::MapQuest, false)));
    EXPECT_FALSE(tile_in_world(TileKey{MapSource::GoogleMaps, false, 5, 0, 0}));
    // A row outside the world still names a bounded path (nothing ever uses it as a tile).
    EXPECT_LE(tile_paths(TileKey{MapSource::GoogleMaps, false, 4, -1, 0}, "r").full_path.size(), 200u);
}

// The same ground position at level k+1 lies in the directory named after its level-k tile, and the
// file-name numbers are the row and column in level-4 units.
TEST(TileNaming, RandomPositionsNestInTheirAncestors) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> lon(-180.0, 179.9999);
    std::uniform_real_distribution<double> lat(-85.0, 85.0);
    const MapSource sources[] = {MapSource::Etopo2, MapSource::OpenStreetMap, MapSource::GoogleMaps,
                                 MapSource::VirtualEarth};
    for (int i = 0; i < 3000; ++i) {
        const double la = lat(rng), lo = lon(rng);
        for (MapSource s : sources) {
            for (int k = 0; k < 4; ++k) {
                const WorldPixel pk = geo_to_pixel(la, lo, s, k);
                const WorldPixel pk1 = geo_to_pixel(la, lo, s, k + 1);
                const TileKey parent = tile_key(pk.x, pk.y, k, s, false);
                const TileKey child = tile_key(pk1.x, pk1.y, k + 1, s, false);
                const std::string parent_name = tile_file_name(parent);
                const std::string numbers = parent_name.substr(6, 13);  // "RRRRRR_CCCCCC"
                ASSERT_EQ(tile_paths(child, "root").directory, tile_paths(parent, "root").directory + native("/") + numbers)
                    << la << " " << lo << " source " << static_cast<int>(s) << " level " << k;
                const std::string child_name = tile_file_name(child);
                const long scale = 1L << (3 * (4 - (k + 1)));
                ASSERT_EQ(std::stol(child_name.substr(6, 6), nullptr, 8), child.row * scale);
                ASSERT_EQ(std::stol(child_name.substr(13, 6), nullptr, 8), child.column * scale);
            }
        }
    }
}

TEST(TileNaming, DirectoryCreation) {
    test::TempDir tmp;
    const TilePaths paths = paths_of(MapSource::OpenStreetMap, false, 3, 1234, 567, (tmp.path() / "Maps").string());
    create_tile_directories(paths.directory);
    EXPECT_TRUE(fs::is_directory(paths.directory));
    create_tile_directories(paths.directory);  // existing directories are the normal case
    EXPECT_TRUE(fs::is_directory(paths.directory));

    // A relative root: the component before the first "/" is never created.
    const fs::path old = fs::current_path();
    fs::current_path(tmp.path());
    create_tile_directories(paths_of(MapSource::VirtualEarth, false, 1, 9, 9, "Cache").directory);
    EXPECT_FALSE(fs::exists(tmp / "Cache"));
    create_tile_directories(paths_of(MapSource::VirtualEarth, false, 1, 9, 9, kDefaultMapsDir).directory);
    EXPECT_TRUE(fs::is_directory(tmp / "Maps/VE/010000_010000"));
    fs::create_directory(tmp / "Cache");
    create_tile_directories(paths_of(MapSource::VirtualEarth, false, 1, 9, 9, "Cache").directory);
    EXPECT_TRUE(fs::is_directory(tmp / "Cache/VE/010000_010000"));
    fs::current_path(old);

    // A file standing where a directory should be: creation fails quietly.
    test::write_file(tmp / "blocked", "x");
    create_tile_directories((tmp / "blocked/VE").string());
    EXPECT_TRUE(fs::is_regular_file(tmp / "blocked"));
}

}  // namespace
}  // namespace vg
