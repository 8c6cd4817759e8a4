// Cache-only lookup and deletion against a real cache tree in a temporary folder.
#include "tiles/tile_cache.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/test_paths.h"
#include "tiles/geometry.h"
#include "tiles/tile_naming.h"

namespace vg {
namespace {

namespace fs = std::filesystem;

class TileCache : public ::testing::Test {
protected:
    std::string root() const { return (tmp_.path() / "Maps").string(); }

    // Puts a tile file of `bytes` into the cache and returns its path.
    std::string put(MapSource s, bool aerial, int level, int row, int column, const std::string& bytes = "tile") {
        const TilePaths p = tile_paths(TileKey{s, aerial, level, row, column}, root());
        fs::create_directories(p.directory);
        test::write_file(p.full_path, bytes);
        return p.full_path;
    }
    static TilePathTable filled_table() {
        TilePathTable t;
        for (auto& s : t.slots) s = "stale";
        return t;
    }

    test::TempDir tmp_;
};

TEST_F(TileCache, EmptyCacheGivesEmptySlotsAndSuccess) {
    for (bool big : {false, true}) {
        TilePathTable t = filled_table();
        EXPECT_TRUE(find_view_tiles(t, 1280, 10240, 1, MapSource::OpenStreetMap, root(), false, big));
        const int cells = big ? 16 : 4;
        for (int i = 0; i < kTileSlots; ++i) EXPECT_EQ(t.slots[i].empty(), i < cells) << i;
    }
    EXPECT_FALSE(fs::exists(root()));  // nothing was created
}

TEST_F(TileCache, FindsCachedTilesInGridOrder) {
    // OpenStreetMap level 1 around (1280, 10240): rows 39 and 40 top-down, columns 4 and 5.
    const std::string a = put(MapSource::OpenStreetMap, false, 1, 39, 4);
    const std::string d = put(MapSource::OpenStreetMap, false, 1, 40, 5, "x");  // 1 byte is enough
    put(MapSource::OpenStreetMap, false, 1, 39, 5, "");                           // 0 bytes: missing
    fs::create_directories(tile_paths(TileKey{MapSource::OpenStreetMap, false, 1, 40, 4}, root()).full_path);
    TilePathTable t = filled_table();
    EXPECT_TRUE(find_view_tiles(t, 1280, 10240, 1, MapSource::OpenStreetMap, root(), false, false));
    EXPECT_EQ(t.slots[0], a);
    EXPECT_EQ(t.slots[1], "");
    EXPECT_EQ(t.slots[2], "");  // a directory of the tile's name is no tile
    EXPECT_EQ(t.slots[3], d);
    EXPECT_EQ(t.slots[4], "stale");  // beyond the 2 × 2 grid nothing is touched
    // The empty file stays where it is.
    EXPECT_TRUE(fs::exists(tile_paths(TileKey{MapSource::OpenStreetMap, false, 1, 39, 5}, root()).full_path));

    // The aerial layer is a different file in the same directory.
    std::string slot;
    EXPECT_FALSE(find_tile(slot, 1024, 9984, 1, MapSource::GoogleMaps, root(), true));
    EXPECT_EQ(slot, tile_paths(TileKey{MapSource::GoogleMaps, true, 1, 39, 4}, root()).full_path);
    const std::string aerial = put(MapSource::GoogleMaps, true, 1, 39, 4);
    EXPECT_TRUE(find_tile(slot, 1024, 9984, 1, MapSource::GoogleMaps, root(), true));
    EXPECT_EQ(slot, aerial);
    EXPECT_FALSE(find_tile(slot, 1024, 9984, 1, MapSource::GoogleMaps, root(), false));
    // A FIFO of a tile's name is no tile, and looking never waits for a writer.
    const TilePaths fifo = tile_paths(TileKey{MapSource::GoogleMaps, false, 1, 40, 4}, root());
    fs::create_directories(fifo.directory);
    bool found = true;
    EXPECT_TRUE(test::done_beside_fifo(fifo.full_path, [&] {
        found = find_tile(slot, 1024, 10240, 1, MapSource::GoogleMaps, root(), false);
    }));
    EXPECT_FALSE(found);
}

TEST_F(TileCache, ColumnsBeyondTheWorldEdgeWrap) {
    const std::string west = put(MapSource::VirtualEarth, false, 0, 9, 15);
    const std::string east = put(MapSource::VirtualEarth, false, 0, 9, 0);
    TilePathTable t;
    // Centre column 0: the left cells fall west of 180° W.
    EXPECT_TRUE(find_view_tiles(t, 0, 2304, 0, MapSource::VirtualEarth, root(), false, false));
    EXPECT_EQ(t.slots[2], west);
    EXPECT_EQ(t.slots[3], east);
    // Centre column 4096 (a wrapped centre may equal the world width): the right cells fall east.
    EXPECT_TRUE(find_view_tiles(t, 4096, 2304, 0, MapSource::VirtualEarth, root(), false, false));
    EXPECT_EQ(t.slots[2], west);
    EXPECT_EQ(t.slots[3], east);
    // MapQuest wraps with its own tiles per row (12 at level 0); rows run north-up.
    const std::string mq = put(MapSource::MapQuest, true, 0, 4, 11);
    EXPECT_TRUE(find_view_tiles(t, 0, 1024, 0, MapSource::MapQuest, root(), true, false));
    EXPECT_EQ(t.slots[0], mq);
    EXPECT_EQ(t.slots[2], "");
}

TEST_F(TileCache, Etopo2OnlyAtLevelZero) {
    const std::string tile = put(MapSource::Etopo2, false, 0, 4, 8);
    TilePathTable t = filled_table();
    EXPECT_TRUE(find_view_tiles(t, 2304, 1024, 0, MapSource::Etopo2, root(), false, false));
    EXPECT_EQ(t.slots[0], tile);  // top row is tile row 4, left column 8
    EXPECT_EQ(t.slots[1], "");
    TilePathTable untouched = filled_table();
    EXPECT_FALSE(find_view_tiles(untouched, 2304, 1024, 1, MapSource::Etopo2, root(), false, false));
    EXPECT_EQ(untouched.slots[0], "stale");
    std::string slot = "keep";
    EXPECT_FALSE(find_tile(slot, 2304, 1024, 2, MapSource::Etopo2, root(), false));
    EXPECT_EQ(slot, "keep");
    // Levels outside 0..4 have no tiles for any source.
    EXPECT_FALSE(find_view_tiles(untouched, 0, 0, 5, MapSource::GoogleMaps, root(), false, false));
    EXPECT_FALSE(find_view_tiles(untouched, 0, 0, -1, MapSource::GoogleMaps, root(), false, false));
    EXPECT_EQ(untouched.slots[0], "stale");
}

TEST_F(TileCache, PathsThatDoNotFitASlotAreNoTiles) {
    const std::string long_root = (tmp_.path() / std::string(200, 'r')).string();
    std::string slot = "old";
    EXPECT_FALSE(find_tile(slot, 0, 0, 4, MapSource::GoogleMaps, long_root, false));
    EXPECT_EQ(slot, "");
    // Rows outside the world have no tile and no path.
    EXPECT_FALSE(find_tile(slot, 0, -1, 0, MapSource::GoogleMaps, root(), false));
    EXPECT_EQ(slot, "");
    EXPECT_FALSE(delete_tile(slot, 0, 4096, 0, MapSource::GoogleMaps, root(), false));
}

TEST_F(TileCache, ReloadDeletesExactlyTheViewTiles) {
    // A 4 × 4 GoogleMaps level-2 view around (256·100, 256·200): rows 198..201, columns 98..101.
    for (int row = 197; row <= 202; ++row)
        for (int col = 97; col <= 102; ++col) {
            put(MapSource::GoogleMaps, false, 2, row, col);
            put(MapSource::GoogleMaps, true, 2, row, col);
        }
    TilePathTable t;
    EXPECT_TRUE(delete_view_tiles(t, 25600, 51200, 2, MapSource::GoogleMaps, root(), false, true));
    int left = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root()))
        if (entry.is_regular_file()) ++left;
    EXPECT_EQ(left, 72 - 16);
    for (int row = 198; row <= 201; ++row)
        for (int col = 98; col <= 101; ++col) {
            const TilePaths p = tile_paths(TileKey{MapSource::GoogleMaps, false, 2, row, col}, root());
            EXPECT_FALSE(fs::exists(p.full_path));
            EXPECT_TRUE(fs::is_directory(p.directory));
            EXPECT_TRUE(fs::exists(tile_paths(TileKey{MapSource::GoogleMaps, true, 2, row, col}, root()).full_path));
        }
    // The slots hold the deleted paths, in grid order.
    EXPECT_EQ(t.slots[0], tile_paths(TileKey{MapSource::GoogleMaps, false, 2, 198, 98}, root()).full_path);
    EXPECT_EQ(t.slots[15], tile_paths(TileKey{MapSource::GoogleMaps, false, 2, 201, 101}, root()).full_path);

    // Deleting again finds nothing to delete.
    std::string slot;
    EXPECT_FALSE(delete_tile(slot, 25600, 51200, 2, MapSource::GoogleMaps, root(), false));
    EXPECT_TRUE(delete_tile(slot, 25600, 51200, 2, MapSource::GoogleMaps, root(), true));
}

TEST_F(TileCache, Etopo2TilesAreNeverDeleted) {
    const std::string tile = put(MapSource::Etopo2, false, 0, 4, 8);
    TilePathTable t = filled_table();
    EXPECT_FALSE(delete_view_tiles(t, 2304, 1024, 0, MapSource::Etopo2, root(), false, false));
    std::string slot;
    EXPECT_FALSE(delete_tile(slot, 2048, 1024, 0, MapSource::Etopo2, root(), false));
    EXPECT_TRUE(fs::exists(tile));
    EXPECT_EQ(t.slots[0], "stale");
}

}  // namespace
}  // namespace vg
