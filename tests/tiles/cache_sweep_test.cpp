// The cache size limit against a made-up cache tree: which files count, which go first, and what stays.
#include "tiles/cache_sweep.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "support/test_paths.h"

namespace vg {
namespace {

namespace fs = std::filesystem;

class CacheTrimTest : public ::testing::Test {
protected:
    fs::path root() const { return tmp_.path() / "Maps"; }
    // A file of `kb` KiB, last written `hours` ago.
    fs::path put(const std::string& relative, int kb, int hours) {
        const fs::path p = root() / relative;
        fs::create_directories(p.parent_path());
        test::write_file(p, std::string(static_cast<std::size_t>(kb) * 1024, 'x'));
        fs::last_write_time(p, fs::file_time_type::clock::now() - std::chrono::hours(hours));
        return p;
    }
    std::vector<fs::path> folders() const { return tile_cache_folders(builtin_catalogue(), root().string()); }

    test::TempDir tmp_;
};

TEST_F(CacheTrimTest, OldestTilesGoFirstUntilNinetyPercentAndNothingElseIsTouched) {
    // Ten tiles of 100 KiB, one an hour older than the next; the oldest has a record, renewed recently
    // by a revalidation, so it counts as young.
    std::vector<fs::path> tiles;
    for (int i = 0; i < 10; ++i)
        tiles.push_back(
            put("OS/z11/59" + std::to_string(i) + "/vor_z11_59" + std::to_string(i) + "_1.png", 100, 20 - i));
    const fs::path record = put("OS/z11/590/vor_z11_590_1.png.meta", 1, 0);
    const fs::path old_record = put("OS/z11/591/vor_z11_591_1.png.meta", 1, 30);
    const fs::path lone = put("OS/z11/599/vor_z11_599_2.png.meta", 1, 50);  // its tile is gone
    // Not the cache's: a pack, the user's own files, a temporary file, a folder of no source.
    const fs::path pack = put("packs/trip.mbtiles", 2000, 100);
    const fs::path mine = put("OS/notes.png", 500, 100);
    const fs::path temp = put("OS/z11/592/vor_z11_592_1.png.partAB12CD", 500, 100);
    const fs::path other = put("Holiday/vor_1_0_0.png", 500, 100);

    const std::vector<fs::path> where = folders();
    for (const fs::path& f : where) EXPECT_NE(f.filename(), "packs");
    // 1003 KiB of tiles and records over a limit of 512 KiB: down to 90 % of it.
    const CacheTrim trim = trim_cache(where, kCacheMegabyte / 2);
    EXPECT_EQ(trim.tiles, 11u);
    EXPECT_EQ(trim.bytes, 10u * 100 * 1024 + 3 * 1024);
    EXPECT_LE(trim.bytes - trim.bytes_freed, kCacheMegabyte / 2 / 10 * 9);
    // The lone record, then tiles 1 (with its old record) to 6 by age; tile 0 stays, its record is new.
    EXPECT_EQ(trim.tiles_removed, 7u);
    EXPECT_FALSE(fs::exists(lone));
    EXPECT_FALSE(fs::exists(old_record));
    for (int i = 1; i <= 6; ++i) EXPECT_FALSE(fs::exists(tiles[static_cast<std::size_t>(i)])) << i;
    for (int i : {0, 7, 8, 9}) EXPECT_TRUE(fs::exists(tiles[static_cast<std::size_t>(i)])) << i;
    EXPECT_TRUE(fs::exists(record));
    for (const fs::path& p : {pack, mine, temp, other}) EXPECT_TRUE(fs::exists(p)) << p;
    EXPECT_EQ(cache_trim_text(trim, kCacheMegabyte / 2), "Removed 7 tiles, 1 MB");

    // Now under the limit: nothing more goes, and no limit removes nothing at all.
    for (const std::uint64_t limit : {std::uint64_t{kCacheMegabyte / 2}, std::uint64_t{0}}) {
        const CacheTrim again = trim_cache(where, limit);
        EXPECT_EQ(again.tiles_removed, 0u);
        EXPECT_EQ(again.tiles, 4u);
    }
    EXPECT_EQ(cache_trim_text(trim_cache(where, 5 * kCacheMegabyte), 5 * kCacheMegabyte),
              "Nothing to remove: the cache holds 0 MB of 5 MB");
    // A stop asked for before the walk ends it with nothing removed; a missing root has no folders.
    const std::atomic<bool> stop{true};
    EXPECT_TRUE(trim_cache(where, 1, &stop).stopped);
    EXPECT_EQ(trim_cache(where, 1, &stop).tiles_removed, 0u);
    EXPECT_TRUE(tile_cache_folders(builtin_catalogue(), "").empty());
}

TEST(CacheTrimText, CountsWithThousandsAndRoundsMegabytes) {
    CacheTrim t;
    t.tiles_removed = 1234;
    t.bytes_freed = 56 * kCacheMegabyte + kCacheMegabyte / 3;
    EXPECT_EQ(cache_trim_text(t, 100 * kCacheMegabyte), "Removed 1,234 tiles, 56 MB");
}

}  // namespace
}  // namespace vg
