// Hillshade against GDAL's gdaldem on the same .hgt files (a synthetic one and a real SRTM tile), the
// multiply blend and the relief colours.
#include "tiles/hillshade.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tiles/image_decode.h"

#ifndef _WIN32
#include "support/run_program.h"
#endif
#include "support/terrain.h"
#include "support/test_paths.h"

namespace vg {
namespace {

#ifndef _WIN32  // gdaldem is run as a Linux program
constexpr int kPosts = 1201;

bool in_void(double lat, double lon) { return std::abs(lat - 45.25) < 0.02 && std::abs(lon - 6.75) < 0.03; }

// Runs gdaldem on the .hgt file `name` holding `hgt` and compares its shade with ours on the same
// grid (the whole file is the bordered grid of its inner posts, on the metric grid gdaldem's scale
// makes of the 1/1200° steps): the mean absolute difference away from voids and their edges, and the
// number of void posts.
void expect_as_gdaldem(const std::string& name, const std::string& hgt, std::size_t least_voids) {
    test::TempDir dir;
    test::write_file(dir / name, hgt);
    const auto run = test::run_program("gdaldem", {"hillshade", "-q", "-s", "111120", "-of", "ENVI", name, "shade.bin"},
                                       dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string theirs = test::read_file(dir / "shade.bin");
    ASSERT_EQ(theirs.size(), std::size_t(kPosts) * kPosts);

    std::vector<float> grid(std::size_t(kPosts) * kPosts);
    for (std::size_t i = 0; i < grid.size(); ++i) {
        const auto v = std::int16_t(std::uint16_t(std::uint8_t(hgt[2 * i]) << 8 | std::uint8_t(hgt[2 * i + 1])));
        grid[i] = v == -32768 ? std::numeric_limits<float>::quiet_NaN() : float(v);
    }
    const int inner = kPosts - 2;
    const PixelMetres step{111120.0 / 1200.0, 111120.0 / 1200.0};
    std::vector<std::uint8_t> ours;
    ASSERT_TRUE(hillshade(grid, inner, inner, {&step, 1}, ours));

    double sum = 0;
    std::size_t compared = 0, voids = 0;
    for (int r = 0; r < inner; ++r) {
        for (int c = 0; c < inner; ++c) {
            const std::uint8_t gdal = std::uint8_t(theirs[std::size_t(r + 1) * kPosts + c + 1]);
            const std::uint8_t mine = ours[std::size_t(r) * inner + c];
            if (std::isnan(grid[std::size_t(r + 1) * kPosts + c + 1])) {
                EXPECT_EQ(mine, kNoShade);
                EXPECT_EQ(gdal, 0);  // gdaldem's no-data
                ++voids;
            }
            if (gdal == 0) continue;  // beside a void gdaldem writes no-data; ours is shaded
            sum += std::abs(int(gdal) - int(mine));
            ++compared;
        }
    }
    EXPECT_GE(voids, least_voids);
    EXPECT_GT(compared, std::size_t(inner) * inner * 95 / 100);
    EXPECT_LE(sum / double(compared), 2.0);
}

TEST(Hillshade, MatchesGdaldemOnASyntheticAndARealHgtFile) {
    if (!test::have_tool("gdaldem")) GTEST_SKIP() << "gdaldem (gdal-bin) is not installed";
    {
        SCOPED_TRACE("synthetic mountain, ridges and a void");
        expect_as_gdaldem("N45E006.hgt", test::hgt_bytes(45, 6, kPosts, test::synthetic_height, in_void), 1000);
    }
    {
        SCOPED_TRACE("SRTM N57E011, the Swedish west coast");
        expect_as_gdaldem("N57E011.hgt", test::read_file(test::shared_testdata() / "dem" / "N57E011.hgt"), 0);
    }
}
#endif

TEST(Hillshade, RefusesGridsThatDoNotFitTheirSizes) {
    const std::vector<float> grid(6 * 6, 100.0f);
    const PixelMetres one{30, 30}, bad{0, 30};
    std::vector<std::uint8_t> out{7};
    EXPECT_FALSE(hillshade(grid, 5, 4, {&one, 1}, out));                      // 7 × 6 values needed
    EXPECT_FALSE(hillshade(grid, 0, 34, {&one, 1}, out));
    EXPECT_FALSE(hillshade(grid, 4, 4, {&bad, 1}, out));                      // no ground size
    EXPECT_FALSE(hillshade(grid, 4, 4, std::vector<PixelMetres>(3), out));    // neither 1 nor a row each
    EXPECT_EQ(out, std::vector<std::uint8_t>{7});
    ASSERT_TRUE(hillshade(grid, 4, 4, std::vector<PixelMetres>(4, one), out));
    EXPECT_EQ(out, std::vector<std::uint8_t>(16, kFlatShade));
}

TEST(ShadeBlend, MultipliesByTheShadeAtTheStrength) {
    const std::vector<std::uint8_t> shade{0, 255, 128, kFlatShade};
    const std::vector<std::uint8_t> map{200, 100, 50, 200, 100, 50, 200, 100, 50, 255, 255, 255};
    auto rgb = map;
    ASSERT_TRUE(blend_shade(rgb, 3, shade, 0));
    EXPECT_EQ(rgb, map);  // strength 0: the map unchanged
    ASSERT_TRUE(blend_shade(rgb, 3, shade, 100));
    EXPECT_EQ(rgb, (std::vector<std::uint8_t>{0, 0, 0, 200, 100, 50, 100, 50, 25, 181, 181, 181}));
    rgb = map;
    ASSERT_TRUE(blend_shade(rgb, 3, shade, 50));
    EXPECT_EQ(rgb[0], 100);  // half way to black
    EXPECT_EQ(rgb[3], 200);  // a fully lit pixel keeps its colour at any strength

    std::vector<std::uint8_t> rgba{200, 100, 50, 77};
    ASSERT_TRUE(blend_shade(rgba, 4, {shade.data(), 1}, 100));
    EXPECT_EQ(rgba, (std::vector<std::uint8_t>{0, 0, 0, 77}));
    EXPECT_FALSE(blend_shade(rgb, 3, {shade.data(), 3}, 60));  // one grey per pixel
    EXPECT_FALSE(blend_shade(rgb, 2, {shade.data(), 6}, 60));
}

TEST(Relief, TintsLandAndSeaAndKeepsVoids) {
    std::uint8_t low[3], high[3], snow[3], shallow[3], deep[3];
    relief_colour(50, low);
    relief_colour(2500, high);
    relief_colour(7000, snow);
    relief_colour(-100, shallow);
    relief_colour(-5000, deep);
    EXPECT_GT(low[1], low[2]);                         // green lowlands
    EXPECT_GT(high[0], high[2]);                       // brown mountains
    EXPECT_GT(snow[0] + snow[1] + snow[2], 3 * 240);   // white summits
    EXPECT_GT(shallow[2], shallow[0]);                 // blue sea...
    EXPECT_LT(deep[2], shallow[2]);                    // ...darker with depth

    // A void keeps the picture's colour; the rest is tinted and shaded.
    std::vector<float> grid(5 * 5, 800.0f);
    grid[2 * 5 + 2] = std::numeric_limits<float>::quiet_NaN();
    const PixelMetres step{90, 90};
    std::vector<std::uint8_t> picture;
    for (int i = 0; i < 9; ++i) picture.insert(picture.end(), {0x12, 0x34, 0x56});
    ASSERT_TRUE(relief_picture(grid, 3, 3, {&step, 1}, 100, picture, 3));
    EXPECT_EQ(picture[12], 0x12);
    EXPECT_EQ(picture[14], 0x56);
    std::uint8_t tint[3];
    relief_colour(800, tint);
    EXPECT_EQ(picture[0], std::uint8_t(std::lround(tint[0] * kFlatShade / 255.0)));
    EXPECT_FALSE(relief_picture(grid, 3, 3, {&step, 1}, 100, {picture.data(), 26}, 3));
}

// The mean red of a box of a mosaic cell.
double mean_red(const PixelSquare& square, int x0, int y0, int side) {
    double sum = 0;
    for (int r = y0; r < y0 + side; ++r)
        for (int c = x0; c < x0 + side; ++c) sum += square.first[square.stride * std::size_t(r) + std::size_t(c) * 3];
    return sum / (side * side);
}

TEST(ShadeCells, LightsTheNorthWestSlopesOfAWebCellAndLeavesCellsWithoutData) {
    // Zoom 8 tile (132, 91) holds the synthetic summit near its pixel (159, 146).
    const test::SyntheticElevation model;
    Mosaic mosaic{512, 512, std::vector<std::uint8_t>(512 * 512 * 3, 200)};
    const ViewGrid grid{2, 2};
    const PixelSquare cell = mosaic_cell_square(mosaic, grid, 3);
    ASSERT_EQ(cell.first, mosaic.pixels.data() + 256 * 512 * 3 + 256 * 3);
    EXPECT_EQ(mosaic_cell_square(mosaic, grid, 4).size, 0);  // outside the grid

    EXPECT_FALSE(shade_web_square(cell, model, 8, 132, 91, 0));  // strength 0: unchanged
    EXPECT_FALSE(shade_web_square(cell, model, 8, 10, 91, 60));  // no data in that tile
    EXPECT_EQ(mosaic.pixels, std::vector<std::uint8_t>(512 * 512 * 3, 200));
    ASSERT_TRUE(shade_web_square(cell, model, 8, 132, 91, 100));
    EXPECT_GT(mean_red(cell, 124, 111, 20), mean_red(cell, 174, 161, 20) + 15);  // north-west lit, south-east dark
    EXPECT_EQ(mosaic.pixels[0], 200);                                            // the other cells untouched

    // The sharp picture's quarters are the zoom-9 tiles: the same ground, the same light.
    RgbImage fine{512, 512, std::vector<std::uint8_t>(512 * 512 * 3, 200)};
    const PixelSquare south_east = picture_square(fine, 3);
    ASSERT_EQ(south_east.size, 256);
    ASSERT_TRUE(shade_web_square(picture_square(fine, -1), model, 8, 132, 91, 100));
    EXPECT_NEAR(mean_red(picture_square(fine, -1), 248, 222, 40), mean_red(cell, 124, 111, 20), 6);
}

TEST(ShadeCells, ReliefTintsTheCoveredPartOfAnEtopoCell) {
    // The Etopo2 cell 22.5° N .. 45° N, 0° .. 22.5° E; the model covers 40..50° N, 0..10° E.
    const test::SyntheticElevation model;
    RgbImage cell{256, 256, std::vector<std::uint8_t>(256 * 256 * 3, 99)};
    ASSERT_TRUE(relief_degree_square(picture_square(cell, -1), model, 22.5, 0, 45, 22.5, 60));
    const auto at = [&](double lat, double lon) {
        const int r = int((45 - lat) / 22.5 * 256), c = int(lon / 22.5 * 256);
        return cell.pixels.data() + (std::size_t(r) * 256 + std::size_t(c)) * 3;
    };
    EXPECT_EQ(at(30, 15)[0], 99);         // no data: the picture kept
    EXPECT_GT(at(43, 2)[2], at(43, 2)[0]);  // the synthetic sea west of 5.4° E is blue
    EXPECT_GT(at(44.5, 8)[1], at(44.5, 8)[2]);  // its land is not
    EXPECT_FALSE(relief_degree_square(picture_square(cell, -1), model, -45, 100, -22.5, 122.5, 60));
}

}  // namespace
}  // namespace vg
