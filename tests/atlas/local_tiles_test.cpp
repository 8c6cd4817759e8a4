// Tiles written into the cache by the local makers read back through the program's own decoders,
// as the window's mosaic builder reads any cached tile.
#include "atlas/local_tiles.h"

#include <gtest/gtest.h>

#include "atlas/atlas_render.h"
#include "support/map_pack.h"
#include "support/test_paths.h"
#include "tiles/gif_codec.h"
#include "tiles/image_decode.h"

namespace vg {
namespace {

TEST(LocalTiles, AtlasReliefAndPackTilesDecodeFromTheCache) {
    test::TempDir dir;
    RgbImage image;
    ASSERT_TRUE(atlas::write_atlas_tile(4, 9, 4, (dir / "a.png").string()));
    ASSERT_TRUE(load_png(dir / "a.png", image));
    EXPECT_EQ(image.width, 256);
    EXPECT_EQ(image.height, 256);
    // The top-left corner of tile 4/9/4 (22.5° E, 66.5° N) is Lapland: land colour.
    EXPECT_NEAR(image.pixels[0], qRed(atlas::kLandRgb), 6);

    ASSERT_TRUE(atlas::write_relief_tile(6, 9, (dir / "r.gif").string()));
    ASSERT_TRUE(gif_read_file(dir / "r.gif", image));
    EXPECT_EQ(image.width, 256);
    // The 512-pixel pictures of a screen of twice the pixel density are PNG for both.
    ASSERT_TRUE(atlas::write_atlas_tile(4, 9, 4, (dir / "a2.png").string(), false, 2));
    ASSERT_TRUE(load_png(dir / "a2.png", image));
    EXPECT_EQ(image.width, 512);
    EXPECT_NEAR(image.pixels[0], qRed(atlas::kLandRgb), 6);
    ASSERT_TRUE(atlas::write_relief_tile(6, 9, (dir / "r2.png").string(), 2));
    ASSERT_TRUE(load_png(dir / "r2.png", image));
    EXPECT_EQ(image.height, 512);
    // A picture without pixels, or whose pixels do not fill its sides, is not written.
    RgbImage short_of_pixels;
    short_of_pixels.width = short_of_pixels.height = 4;
    short_of_pixels.pixels.assign(47, 0);
    EXPECT_FALSE(write_png(dir / "e.png", RgbImage{}));
    EXPECT_FALSE(write_png(dir / "e.png", short_of_pixels));
    EXPECT_FALSE(std::filesystem::exists(dir / "e.png"));

    const auto png = test::shared_testdata() / "images/bench/map256-rgb.png";
    ASSERT_TRUE(test::make_pack(dir / "p.mbtiles", {{"name", "P"}, {"format", "png"}}, {{4, 9, 11, png}}));
    std::string error;
    const auto pack = MbtilesPack::open((dir / "p.mbtiles").string(), error);
    ASSERT_TRUE(pack) << error;
    EXPECT_TRUE(copy_pack_tile(*pack, 4, 9, 4, (dir / "t.png").string()));
    EXPECT_EQ(test::read_file(dir / "t.png"), test::read_file(png));
    EXPECT_FALSE(copy_pack_tile(*pack, 4, 9, 5, (dir / "u.png").string()));
    EXPECT_FALSE(std::filesystem::exists(dir / "u.png"));
    // An unwritable place fails without leaving anything behind.
    EXPECT_FALSE(atlas::write_atlas_tile(4, 9, 4, (dir / "no/such/dir/a.png").string()));
    EXPECT_FALSE(copy_pack_tile(*pack, 4, 9, 4, (dir / "no/such/dir/t.png").string()));
}

}  // namespace
}  // namespace vg
