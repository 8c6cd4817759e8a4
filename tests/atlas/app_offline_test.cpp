// The window's program logic with the built-in map drawing installed, and no network at all (the tile
// hosts are a closed port): a first start shows the lighter Atlas instead of grey, the Atlas and
// Etopo2 are drawn, and map packs in the cache root's packs folder are sources of the Maps menu.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "app/app_fixture.h"
#include "atlas/local_tiles.h"
#include "support/map_pack.h"
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
    bool every_cell_has_picture() const {
        const Mosaic& m = app->mosaic();
        for (int y = 128; y < m.height; y += 256)
            for (int x = 128; x < m.width; x += 256)
                if (!mosaic_has_picture(x, y) || !mosaic_has_picture(x - 100, y + 100)) return false;
        return m.exists();
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
// moves while it is paused: nothing is asked and no cell turns grey.
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
    app->paint();
    ASSERT_EQ(app->tiles_left(), 0u);
    app->on_key_up(Key::Right);
    EXPECT_EQ(app->tiles_left(), 0u);
    EXPECT_TRUE(every_cell_has_picture());
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
    EXPECT_EQ(files_below(dir / "Maps/City"), 1);  // the one tile the pack has in the view

    app->on_command(Command::Etopo2);
    EXPECT_TRUE(every_cell_has_picture());
    EXPECT_GE(files_below(dir / "Maps/E2"), 4);
}

}  // namespace
}  // namespace vg
