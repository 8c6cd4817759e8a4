// The window's program logic with the built-in map drawing installed, and no network at all (the tile
// hosts are a closed port): a first start shows the lighter Atlas instead of grey, the Atlas and
// Etopo2 are drawn, and map packs in the cache root's packs folder are sources of the Maps menu. On a
// screen of twice the pixel density they all give sharp cells of their own.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "app/app_fixture.h"
#include "atlas/local_tiles.h"
#include "support/map_pack.h"
#include "tiles/gif_codec.h"
#include "tiles/image_decode.h"
#include "tiles/local_source.h"

namespace vg {
namespace {

class OfflineApp : public test::AppFixture {
protected:
    void SetUp() override { atlas::install_local_tile_maker(); }
    void TearDown() override {
        app.reset();
        set_local_tile_maker(nullptr);
    }
    bool every_cell_has_picture() {
        compose_view();
        const Mosaic& m = app->mosaic();
        for (int y = 128; y < m.height; y += 256)
            for (int x = 128; x < m.width; x += 256)
                if (!mosaic_has_picture(x, y) || !mosaic_has_picture(x - 100, y + 100)) return false;
        return m.exists();
    }
    App& start_at_scale_two() {
        AppOptions o = options();
        o.device_scale = 2;
        app = std::make_unique<App>(dir.path(), o);
        app->create(window);
        return *app;
    }
    // The sharp drawings are made a few a paint: paints enough for a whole view.
    PaintFrame paint_until_sharp() {
        compose_view();
        for (int i = 0; i < 16; ++i) app->paint();
        return app->paint();
    }
    // Cell `index` of the mosaic (red-green-blue) against its sharp picture (blue-green-red with the
    // overlays): of the 1x pixels on an edge (a neighbour differs clearly), how many have a 2 × 2 block
    // that is not one colour (a doubled picture has none); and of all pixels, how many blocks average
    // close to the 1x pixel (the same map; `gif`: the 1x tile holds the GIF palette's colours).
    struct Sharpness {
        int edges = 0, edges_with_detail = 0, pixels = 0, alike = 0;
    };
    Sharpness compare_with_mosaic(const PaintFrame::FineCell& cell, bool gif = false) const {
        const Mosaic& m = app->mosaic();
        auto at = [&](int x, int y) { return &m.pixels[(std::size_t(cell.y + y) * m.width + cell.x + x) * 3]; };
        auto fine = [&](int x, int y) { return cell.bgr + (std::size_t(y) * kFineCellSize + x) * 3; };
        Sharpness s;
        for (int y = 1; y < 255; ++y)
            for (int x = 1; x < 255; ++x) {
                const std::uint8_t* p = at(x, y);
                int mean[3] = {0, 0, 0};
                bool uniform = true;
                for (int k = 0; k < 4; ++k) {
                    const std::uint8_t* f = fine(2 * x + k % 2, 2 * y + k / 2);
                    for (int c = 0; c < 3; ++c) mean[c] += f[2 - c];
                    uniform &= std::memcmp(f, fine(2 * x, 2 * y), 3) == 0;
                }
                ++s.pixels;
                for (int& c : mean) c /= 4;
                if (gif) {
                    const PaletteColour pc = fixed_palette_colour(fixed_palette_index(
                        std::uint8_t(mean[0]), std::uint8_t(mean[1]), std::uint8_t(mean[2])));
                    mean[0] = pc.red, mean[1] = pc.green, mean[2] = pc.blue;
                }
                s.alike += std::abs(mean[0] - p[0]) + std::abs(mean[1] - p[1]) + std::abs(mean[2] - p[2]) < 60;
                bool edge = false;
                for (const std::uint8_t* q : {at(x - 1, y), at(x + 1, y), at(x, y - 1), at(x, y + 1)})
                    edge |= std::abs(q[0] - p[0]) + std::abs(q[1] - p[1]) + std::abs(q[2] - p[2]) > 60;
                if (!edge) continue;
                ++s.edges;
                s.edges_with_detail += !uniform;
            }
        return s;
    }
    static int files_below(const std::filesystem::path& dir) {
        int n = 0;
        if (std::filesystem::exists(dir))
            for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) n += e.is_regular_file();
        return n;
    }
};

TEST_F(OfflineApp, AFirstStartWithoutNetworkShowsTheLighterAtlasNotGrey) {
    write_settings();  // VirtualEarth, nothing cached, its host silent
    start();
    ASSERT_TRUE(app->view_loaded());
    EXPECT_TRUE(every_cell_has_picture());
    EXPECT_GE(files_below(dir / "Maps/Atlas/faded"), 4);
    // Its own tiles were not invented: the source's folder stays empty.
    EXPECT_EQ(files_below(dir / "Maps/VE"), 0);
    // Every level around the start position.
    for (int level = 0; level < 5; ++level) {
        app->on_left_button(257, 241);
        if (app->view().level == 4) break;
    }
    EXPECT_TRUE(every_cell_has_picture());
}

// Filling in the background, a source whose host did not answer keeps the Atlas look when the view
// moves while it is paused: nothing is asked and no cell turns grey. The Atlas is credited.
TEST_F(OfflineApp, ASilentSourceKeepsTheAtlasLookWhileItIsPaused) {
    write_settings();
    AppOptions o = options();
    o.background_tiles = true;
    app = std::make_unique<App>(dir.path(), o);
    app->create(window);
    for (int i = 0; i < 2000 && app->tiles_left() > 0; ++i) {
        app->paint();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    PaintFrame frame = app->paint();
    ASSERT_EQ(app->tiles_left(), 0u);
    EXPECT_GT(frame.failed_tiles, 0);
    // Nothing of the source is drawn: the credit is the Atlas's, not the silent source's.
    EXPECT_EQ(frame.attribution, atlas_entry().attribution);
    app->on_key_up(Key::Right);
    EXPECT_EQ(app->tiles_left(), 0u);
    EXPECT_TRUE(every_cell_has_picture());

    // Another source's view starts with no failures of its own.
    app->on_command(Command::Atlas);
    compose_view();
    frame = app->paint();
    EXPECT_EQ(frame.failed_tiles, 0);
    EXPECT_EQ(frame.failure_reason, "");
    EXPECT_EQ(frame.message, "");
    EXPECT_EQ(frame.attribution, atlas_entry().attribution);
}

TEST_F(OfflineApp, AtlasAndEtopo2AreDrawnAndPacksAreSources) {
    std::filesystem::create_directories(dir / "Maps/packs");
    // The tile of the start position at each level's web zoom.
    std::vector<test::PackTile> tiles;
    for (int level = 0; level < 5; ++level) {
        const WorldPixel p = geo_to_pixel(test::kStartLat, test::kStartLon, MapSource::OpenStreetMap, level);
        const int z = web_zoom(level);
        tiles.push_back({z, p.x / 256, (1 << z) - 1 - p.y / 256, test::shared_testdata() / "images/bench/map256-rgb.png"});
    }
    ASSERT_TRUE(test::make_pack(dir / "Maps/packs/city.mbtiles", {{"name", "City"}, {"format", "png"}}, tiles));
    test::write_file(dir / "Maps/packs/broken.mbtiles", "not a database at all");
    // A pack whose tiles never end is named on standard output with its reason; the window comes up.
    ASSERT_TRUE(test::run_sqlite(dir / "Maps/packs/endless.mbtiles", test::endless_pack_sql(false)));
    write_settings();
    testing::internal::CaptureStdout();
    start();
    const std::string said = testing::internal::GetCapturedStdout();
    EXPECT_NE(said.find("endless.mbtiles\": not a map pack (tiles: a view that never ends (a recursive query)) "
                        "(map pack skipped)"),
              std::string::npos)
        << said;
    const CatalogueEntry* city = app->catalogue().find("City", false);
    ASSERT_NE(city, nullptr);
    EXPECT_EQ(city->menu_id, catalogue_home_id("City"));
    EXPECT_EQ(app->catalogue().find("broken", false), nullptr);
    EXPECT_EQ(app->catalogue().find("Endless", false), nullptr);

    app->on_command(Command::Atlas);
    ASSERT_EQ(app->current_entry()->name, "Atlas");
    EXPECT_TRUE(every_cell_has_picture());
    EXPECT_GE(files_below(dir / "Maps/Atlas"), 4);

    app->on_command(city->menu_id);
    ASSERT_EQ(app->current_entry()->name, "City");
    compose_view();  // the pack's tiles are copied out as the cells are composed
    EXPECT_EQ(files_below(dir / "Maps/City"), 1);  // the one tile the pack has in the view

    app->on_command(Command::Etopo2);
    EXPECT_TRUE(every_cell_has_picture());
    EXPECT_GE(files_below(dir / "Maps/E2"), 4);
}

// At a device scale of 2 the Atlas cells are drawn at device resolution, not the 1x picture doubled:
// coasts, borders and labels have detail inside each 1x pixel, and the picture is still the same map.
// The 512-pixel drawings are cached beside the 1x tiles; Etopo2's relief is drawn sharp the same way.
TEST_F(OfflineApp, AtScaleTwoTheAtlasAndEtopo2AreDrawnAtDeviceResolution) {
    start_on_tile_corner();  // the classic 2 x 2 cells
    write_settings("zoom=2\r\n");
    start_at_scale_two();
    app->on_command(Command::Atlas);
    ASSERT_EQ(app->current_entry()->name, "Atlas");
    const PaintFrame frame = paint_until_sharp();
    ASSERT_EQ(frame.fine_cells.size(), 4u);
    Sharpness all;
    for (const PaintFrame::FineCell& cell : frame.fine_cells) {
        const Sharpness s = compare_with_mosaic(cell);
        all.edges += s.edges;
        all.edges_with_detail += s.edges_with_detail;
        all.pixels += s.pixels;
        all.alike += s.alike;
    }
    // Helsinki at level 2: the Gulf of Finland's coasts and the city labels.
    EXPECT_GT(all.edges, 2000);
    EXPECT_GT(all.edges_with_detail, all.edges * 6 / 10) << all.edges_with_detail << " of " << all.edges;
    EXPECT_GT(all.alike, all.pixels * 95 / 100);
    EXPECT_EQ(files_below(dir / "Maps/Atlas@2x"), 4);

    // Back to scale 1 nothing is drawn sharp; at scale 2 again the cached drawings are used.
    app->set_device_scale(1);
    EXPECT_TRUE(app->paint().fine_cells.empty());
    app->set_device_scale(2);
    EXPECT_EQ(app->paint().fine_cells.size(), 4u);

    // A pan by one tile keeps two cells with their sharp pictures, moved with them: the same as
    // those made afresh.
    app->on_key_up(Key::Right);
    auto sharp_cells = [&] {
        std::vector<std::vector<std::uint8_t>> cells;
        for (const PaintFrame::FineCell& cell : paint_until_sharp().fine_cells)
            cells.emplace_back(cell.bgr, cell.bgr + std::size_t(kFineCellSize) * kFineCellSize * 3);
        return cells;
    };
    const auto moved = sharp_cells();
    EXPECT_EQ(moved.size(), 4u);
    app->set_device_scale(1);
    app->set_device_scale(2);
    EXPECT_TRUE(sharp_cells() == moved);

    app->on_command(Command::Etopo2);
    const PaintFrame relief = paint_until_sharp();
    ASSERT_FALSE(relief.fine_cells.empty());
    const Sharpness s = compare_with_mosaic(relief.fine_cells.front(), true);
    EXPECT_GT(s.edges_with_detail, s.edges / 2) << s.edges_with_detail << " of " << s.edges;
    EXPECT_GT(s.alike, s.pixels * 95 / 100);
    RgbImage png;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir / "Maps/E2@2x"))
        if (e.is_regular_file()) {
            EXPECT_TRUE(load_png(e.path(), png) && png.width == kFineCellSize) << e.path();
        }
}

// A pack with the next zoom's tiles gives sharp cells from them, one tile a quarter; a quarter whose
// finer tile is missing, or is no picture, shows the 1x tile enlarged. A pack of 512-pixel tiles
// gives its own tile as the whole sharp cell.
TEST_F(OfflineApp, APacksNextZoomGivesSharpQuartersAndAMissingOrBrokenOneLeavesTheEnlargedTile) {
    const auto images = test::shared_testdata() / "images/bench";
    test::write_file(dir / "broken.png", "\x89PNG\r\n\x1a\n this is no picture");
    start_on_tile_corner();  // the classic 2 x 2 cells
    const WorldPixel centre = centre_of(start_lat, start_lon, MapSource::OpenStreetMap, 2);
    const WorldPixel first = view_cell_pixel(MapSource::OpenStreetMap, centre.x, centre.y, 2, 0, 0);
    const int z = web_zoom(2), x = first.x / 256, y = first.y / 256;
    auto tms = [](int zoom, int row) { return (1 << zoom) - 1 - row; };
    std::vector<test::PackTile> tiles;
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 2; ++c) tiles.push_back({z, x + c, tms(z, y + r), images / "map256-rgb.png"});
    // The first cell's quarters at the next zoom: north-west and south-east good, north-east broken,
    // south-west missing.
    tiles.push_back({z + 1, 2 * x, tms(z + 1, 2 * y), images / "map256-palette.png"});
    tiles.push_back({z + 1, 2 * x + 1, tms(z + 1, 2 * y), dir / "broken.png"});
    tiles.push_back({z + 1, 2 * x + 1, tms(z + 1, 2 * y + 1), images / "map256-palette.png"});
    std::filesystem::create_directories(dir / "Maps/packs");
    ASSERT_TRUE(test::make_pack(dir / "Maps/packs/city.mbtiles", {{"name", "City"}, {"format", "png"}}, tiles));
    // A pack made for such screens: 512-pixel tiles, each the whole sharp cell.
    RgbImage wide;
    wide.width = wide.height = kFineCellSize;
    wide.pixels.resize(std::size_t(kFineCellSize) * kFineCellSize * 3);
    for (std::size_t i = 0; i < wide.pixels.size(); ++i) wide.pixels[i] = static_cast<std::uint8_t>(i * 7 % 251);
    ASSERT_TRUE(write_png(dir / "wide.png", wide));
    ASSERT_TRUE(test::make_pack(dir / "Maps/packs/wide.mbtiles", {{"name", "Wide"}, {"format", "png"}},
                                {{z, x, tms(z, y), dir / "wide.png"}}));
    write_settings();
    start_at_scale_two();
    app->on_command(app->catalogue().find("City", false)->menu_id);
    ASSERT_EQ(app->current_entry()->name, "City");
    const PaintFrame frame = paint_until_sharp();
    // Only the first cell has finer tiles.
    ASSERT_EQ(frame.fine_cells.size(), 1u);
    const PaintFrame::FineCell& cell = frame.fine_cells.front();
    ASSERT_EQ(cell.x, 0);
    ASSERT_EQ(cell.y, 0);
    RgbImage sharp;
    ASSERT_TRUE(load_png(images / "map256-palette.png", sharp));
    const Mosaic& m = app->mosaic();
    int differ[4] = {0, 0, 0, 0};
    for (int v = 0; v < kFineCellSize; ++v)
        for (int u = 0; u < kFineCellSize; ++u) {
            const int q = (v >= 256 ? 2 : 0) + (u >= 256 ? 1 : 0);
            const std::uint8_t* got = cell.bgr + (std::size_t(v) * kFineCellSize + u) * 3;
            const std::uint8_t* want = q == 0 || q == 3 ? &sharp.pixels[(std::size_t(v % 256) * 256 + u % 256) * 3]
                                                        : &m.pixels[(std::size_t(v / 2) * m.width + u / 2) * 3];
            differ[q] += got[0] != want[2] || got[1] != want[1] || got[2] != want[0];
        }
    // The view's overlays (cross-hair, marker) cover a few pixels of the enlarged quarters.
    EXPECT_EQ(differ[0], 0);
    EXPECT_EQ(differ[3], 0);
    EXPECT_LT(differ[1], 2000);
    EXPECT_LT(differ[2], 2000);
    EXPECT_EQ(files_below(dir / "Maps/City@2x"), 3);  // the missing one is not invented

    app->on_command(app->catalogue().find("Wide", false)->menu_id);
    ASSERT_EQ(app->current_entry()->name, "Wide");
    const PaintFrame whole = paint_until_sharp();
    ASSERT_EQ(whole.fine_cells.size(), 1u);
    int wide_differ = 0;
    for (std::size_t i = 0; i < wide.pixels.size(); i += 3) {
        const std::uint8_t* got = whole.fine_cells.front().bgr + i;
        wide_differ += got[0] != wide.pixels[i + 2] || got[1] != wide.pixels[i + 1] || got[2] != wide.pixels[i];
    }
    EXPECT_LT(wide_differ, 4000);  // only the overlays
}

}  // namespace
}  // namespace vg
