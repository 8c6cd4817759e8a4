// Heights from .hgt files (byte order, voids, names across the hemispheres, files of a maps folder)
// and from elevation tiles (Terrarium and terrain-RGB pixels, the cached tiles of a kind=dem source).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "support/captured_diagnostics.h"
#include "support/elevation_files.h"
#include "support/test_paths.h"
#include "tiles/elevation.h"
#include "tiles/hgt.h"
#include "tiles/image_decode.h"
#include "tiles/tile_catalogue.h"
#include "tiles/tile_naming.h"

namespace vg {
namespace {

using test::HgtBytes;

TEST(Hgt, NamesAcrossTheHemispheres) {
    EXPECT_EQ(parse_hgt_name("N60E024.hgt"), (HgtCell{60, 24}));
    EXPECT_EQ(parse_hgt_name("s34w071.HGT"), (HgtCell{-34, -71}));
    EXPECT_EQ(parse_hgt_name("S90W180.hgt"), (HgtCell{-90, -180}));
    EXPECT_EQ(parse_hgt_name("N00E000.hgt"), (HgtCell{0, 0}));
    for (const char* bad : {"N90E000.hgt", "N00E180.hgt", "X60E024.hgt", "N60E24.hgt", "N6aE024.hgt", "N60E024.zip",
                            "N60E024.hgt.zip", ""})
        EXPECT_FALSE(parse_hgt_name(bad)) << bad;
    EXPECT_EQ(hgt_file_name({-34, -71}), "S34W071.hgt");
    EXPECT_EQ(hgt_file_name({60, 24}), "N60E024.hgt");
    // The south-west corner names a cell: just south of the equator and west of Greenwich is S01W001.
    EXPECT_EQ(hgt_file_name(*hgt_cell_of(-0.25, -0.25)), "S01W001.hgt");
    EXPECT_EQ(hgt_cell_of(-33.4, -70.6), (HgtCell{-34, -71}));
    EXPECT_EQ(hgt_cell_of(90.0, 180.0), (HgtCell{89, -180}));  // the pole: the cell below; 180° E is 180° W
    EXPECT_EQ(hgt_cell_of(10.0, 190.5), (HgtCell{10, -170}));
    EXPECT_FALSE(hgt_cell_of(90.5, 0.0));
    EXPECT_FALSE(hgt_cell_of(NAN, 0.0));
}

TEST(Hgt, BigEndianPostsVoidsAndBilinearHeights) {
    HgtBytes file(1201);
    file.set(0, 0, 258);         // bytes 01 02: big-endian, not 513
    file.set(1200, 1200, -5);    // bytes FF FB: signed
    file.set(600, 600, kHgtVoid);
    file.set(600, 601, 200);
    file.set(601, 600, 300);
    file.set(601, 601, 100);
    std::string why;
    const auto tile = HgtTile::from_bytes(file.bytes, {45, 7}, &why);
    ASSERT_TRUE(tile) << why;
    EXPECT_EQ(tile->side(), 1201);
    EXPECT_EQ(file.bytes[0], 0x01);
    EXPECT_EQ(tile->post(0, 0), 258);
    EXPECT_EQ(tile->post(1200, 1200), -5);
    EXPECT_FALSE(tile->post(600, 600));
    EXPECT_FALSE(tile->post(1201, 0));
    // Corners of the cell: the north-west post is row 0, the south-east the last.
    EXPECT_DOUBLE_EQ(*tile->elevation(46.0, 7.0), 258.0);
    EXPECT_DOUBLE_EQ(*tile->elevation(45.0, 8.0), -5.0);
    // Post (600, 600) lies at 45.5° N, 7.5° E. Half-way between posts 200 and 100 of column 601:
    const double step = 1.0 / 1200;
    EXPECT_NEAR(*tile->elevation(45.5 - step / 2, 7.5 + step), 150.0, 1e-6);
    // At the middle of the four posts the void is left out and the three others share its weight.
    EXPECT_NEAR(*tile->elevation(45.5 - step / 2, 7.5 + step / 2), 200.0, 1e-9);
    // Only the void weighs at its own post: no height there, none outside the cell either.
    EXPECT_FALSE(tile->elevation(45.5, 7.5));
    EXPECT_FALSE(tile->elevation(44.9, 7.5));
    EXPECT_FALSE(tile->elevation(NAN, 7.5));

    // Any other length is refused with the reason; a 1″ file is read at its own spacing.
    EXPECT_FALSE(HgtTile::from_bytes(std::vector<std::uint8_t>(1201 * 1201 * 2 - 1), {0, 0}, &why));
    EXPECT_NE(why.find("not 2884801 bytes"), std::string::npos) << why;
    EXPECT_FALSE(HgtTile::from_bytes({}, {0, 0}));
    HgtBytes fine(3601);
    fine.set(1800, 1800, 1234);
    const auto one = HgtTile::from_bytes(fine.bytes, {0, 0});
    ASSERT_TRUE(one);
    EXPECT_DOUBLE_EQ(*one->elevation(0.5, 0.5), 1234.0);
}

TEST(Elevation, MapsFolderFilesReadAcrossHemispheresAndBadFilesSaySo) {
    test::TempDir dir;
    std::filesystem::create_directories(dir / "dem");
    // Santiago's cell (south and west) and a cell of the north east, each with its own height.
    HgtBytes south(1201, 520), north(1201, 40);
    test::write_file(dir / "dem" / "S34W071.hgt", south.string());
    test::write_file(dir / "dem" / "n60e024.hgt", north.string());
    test::write_file(dir / "dem" / "N10E010.hgt", "short");
    test::write_file(dir / "dem" / "notes.txt", "not a height file");
    test::CapturedDiagnostics lines;
    const auto model = elevation_for(dir.path().string(), nullptr);
    ASSERT_TRUE(model);
    EXPECT_EQ(model, elevation_for(dir.path().string(), nullptr));  // one model a folder
    EXPECT_DOUBLE_EQ(*model->elevation(-33.45, -70.66), 520.0);
    EXPECT_DOUBLE_EQ(*model->elevation(60.17, 24.94), 40.0);
    const auto at = model->elevation_at(60.17, 24.94);
    ASSERT_TRUE(at);
    EXPECT_EQ(at->source, "hgt");
    EXPECT_FALSE(model->elevation(33.45, 70.66));  // the other hemisphere's cell: no file
    EXPECT_FALSE(model->elevation(10.5, 10.5));    // the short file: refused, said once
    EXPECT_FALSE(model->elevation(10.6, 10.6));
    const auto said = lines.lines();
    ASSERT_EQ(said.size(), 1u);
    EXPECT_NE(said[0].find("N10E010.hgt: a .hgt file holds"), std::string::npos) << said[0];
    EXPECT_TRUE(model->covers(-34.5, -71.5, -33.5, -70.5));
    EXPECT_FALSE(model->covers(0, 0, 1, 1));
    // A web tile over the cell's edge: heights inside, NaN beyond.
    std::vector<float> heights;
    ASSERT_TRUE(sample_web_tile(*model, 7, std::uint32_t(web_tile_column(-70.5, 7)),
                                std::uint32_t(web_tile_row(-33.5, 7)), 16, heights));
    EXPECT_EQ(std::count(heights.begin(), heights.end(), 520.0f) + std::count_if(heights.begin(), heights.end(),
                                                                                [](float h) { return std::isnan(h); }),
              18 * 18);
    EXPECT_GT(std::count(heights.begin(), heights.end(), 520.0f), 0);

    test::TempDir empty;
    EXPECT_FALSE(elevation_for(empty.path().string(), nullptr));
}

TEST(Elevation, TerrariumAndTerrainRgbPixelsDecodeToKnownHeights) {
    // Terrarium: 32768 + h = R · 256 + G + B / 256; terrain-RGB: (h + 10000) · 10 = R · 65536 + G · 256 + B.
    EXPECT_DOUBLE_EQ(dem_pixel_height(DemEncoding::terrarium, 128, 0, 0), 0.0);
    EXPECT_DOUBLE_EQ(dem_pixel_height(DemEncoding::terrarium, 162, 55, 128), 8759.5);  // 32768 + 8759.5
    EXPECT_DOUBLE_EQ(dem_pixel_height(DemEncoding::terrarium, 127, 246, 0), -10.0);
    EXPECT_DOUBLE_EQ(dem_pixel_height(DemEncoding::terrain_rgb, 1, 134, 160), 0.0);  // 100000 = 0x0186A0
    EXPECT_NEAR(dem_pixel_height(DemEncoding::terrain_rgb, 1, 182, 207), 1233.5, 1e-9);

    // Through a PNG file as the cache holds it.
    test::TempDir dir;
    RgbImage image{2, 1, {162, 55, 128, 127, 246, 0}};
    ASSERT_TRUE(write_png(dir / "t.png", image));
    RgbImage back;
    ASSERT_TRUE(load_png(dir / "t.png", back));
    EXPECT_EQ(dem_heights(back, DemEncoding::terrarium), (std::vector<float>{8759.5f, -10.0f}));
    EXPECT_TRUE(dem_heights(RgbImage{}, DemEncoding::terrarium).empty());
}

TEST(Elevation, CachedDemTilesFinestZoomFirstAfterTheHgtFiles) {
    Catalogue catalogue = builtin_catalogue();
    read_sources_text("Terrain|map|http://127.0.0.1:1/{z}/{x}/{y}.png|4,7|Terrain Tiles|kind=dem\n", catalogue);
    ASSERT_TRUE(catalogue.problems.empty());
    const CatalogueEntry* dem = catalogue.find("Terrain", false);
    ASSERT_TRUE(dem);
    test::TempDir dir;
    const std::string root = dir.path().string();
    const auto model = elevation_for(root, dem);
    ASSERT_TRUE(model);  // tiles may come later: none is cached yet, so no height
    EXPECT_FALSE(model->elevation(46.5, 7.5));

    // Zoom 4 holds 1000 m everywhere, zoom 7 a west-east ramp over its 256 pixels; a tile that lands
    // is found once the mark of its absence has aged (a second).
    const auto place = [&](int z, double lat, double lon, const RgbImage& image) {
        const TileKey key{dem->geometry(), false, zoom_code(z), web_tile_row(lat, z), web_tile_column(lon, z)};
        const TilePaths paths = catalogue_tile_paths(*dem, key, root);
        std::filesystem::create_directories(paths.directory);
        ASSERT_TRUE(write_png(paths.full_path, image));
    };
    place(4, 46.5, 7.5, test::terrarium_tile([](int, int) { return 1000.0; }));
    place(7, 46.5, 7.5, test::terrarium_tile([](int c, int) { return 2.0 * c; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    EXPECT_DOUBLE_EQ(*model->elevation(50.0, 10.0), 1000.0);  // outside the zoom 7 tile
    // Pixel centres: column c's centre lies c + 0.5 pixels from the tile's west edge.
    const double west = web_tile_column(7.5, 7) * 360.0 / 128 - 180.0;
    const double pixel = 360.0 / 128 / 256;
    EXPECT_NEAR(*model->elevation(46.5, west + 10.5 * pixel), 20.0, 1e-3);
    EXPECT_NEAR(*model->elevation(46.5, west + 11.0 * pixel), 21.0, 1e-3);
    EXPECT_EQ(model->elevation_at(46.5, west + 10.5 * pixel)->source, "dem");

    // A .hgt file of the place comes first (a new folder: the model is made once a folder).
    test::TempDir both;
    std::filesystem::create_directories(both / "dem");
    test::write_file(both / "dem" / "N46E007.hgt", HgtBytes(1201, 77).string());
    std::filesystem::copy(dir.path() / dem->cache_folder(), both.path() / dem->cache_folder(),
                          std::filesystem::copy_options::recursive);
    const auto combined = elevation_for(both.path().string(), dem);
    EXPECT_EQ(combined->elevation_at(46.5, 7.5)->source, "hgt");
    EXPECT_DOUBLE_EQ(*combined->elevation(46.5, 7.5), 77.0);
    EXPECT_EQ(combined->elevation_at(47.5, 7.5)->source, "dem");

    // Many samplers at once (hillshade's workers): every one sees the same heights.
    std::vector<std::thread> samplers;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t)
        samplers.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                const double lon = 7.0 + (i % 100) / 100.0;
                if (combined->elevation(46.5 + t / 10.0, lon) != 77.0 || combined->elevation(48.0, lon) != 1000.0) ++wrong;
            }
        });
    for (auto& s : samplers) s.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace vg
