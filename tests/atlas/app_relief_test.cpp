// Etopo2's relief and the hillshade over a map, through the window's program logic with the built-in
// map drawing installed and a synthetic landscape around Helsinki as the elevation data.
#include <gtest/gtest.h>

#include <cstring>

#include "app/app_fixture.h"
#include "atlas/local_tiles.h"
#include "support/terrain.h"
#include "tiles/local_source.h"

namespace vg {
namespace {

class ReliefApp : public test::AppFixture {
protected:
    void SetUp() override { atlas::install_local_tile_maker(); }
    void TearDown() override {
        app.reset();
        set_local_tile_maker(nullptr);
    }
    // A fresh start with `model` as the maps folder's elevation data (null: none), showing `command`.
    const Mosaic& show(std::shared_ptr<const ElevationModel> model, Command command, int scale = 1) {
        app.reset();
        AppOptions o = options();
        o.elevation = std::move(model);
        o.device_scale = scale;
        app = std::make_unique<App>(dir.path(), o);
        app->create(window);
        app->on_command(command);
        compose_view();
        return app->mosaic();
    }
    static int pixels_differing(const Mosaic& a, const Mosaic& b) {
        if (a.pixels.size() != b.pixels.size()) return -1;
        int n = 0;
        for (std::size_t i = 0; i < a.pixels.size(); i += 3) n += std::memcmp(&a.pixels[i], &b.pixels[i], 3) != 0;
        return n;
    }
    const std::shared_ptr<const ElevationModel> helsinki = std::make_shared<test::SyntheticElevation>(55, 15, 65, 35);
    const std::shared_ptr<const ElevationModel> elsewhere = std::make_shared<test::SyntheticElevation>(-40, -70, -30, -60);
};

TEST_F(ReliefApp, Etopo2ShowsReliefWhereThereIsDataAndTheAtlasWithANoteWithout) {
    start_on_tile_corner();
    write_settings();
    const Mosaic atlas = show(nullptr, Command::Etopo2);
    EXPECT_EQ(app->paint().message, etopo2_without_elevation_text(root()));
    EXPECT_NE(app->paint().message.find("No elevation data"), std::string::npos);

    const Mosaic relief = show(helsinki, Command::Etopo2);
    EXPECT_EQ(app->paint().message, "");
    // The 10° × 20° box is a part of the view's 45° × 45°: tinted there, the Atlas picture elsewhere.
    const int changed = pixels_differing(atlas, relief);
    EXPECT_GT(changed, 500);
    EXPECT_LT(changed, int(atlas.pixels.size() / 3 / 4));
}

TEST_F(ReliefApp, HillshadeShadesTheMapOnlyWhereTheDataCoversIt) {
    start_on_tile_corner();
    write_settings();
    const Mosaic plain = show(helsinki, Command::Atlas);
    app->on_command(Command::Hillshade);
    EXPECT_TRUE(window.checked(Command::Hillshade));
    EXPECT_NE(test::read_file(dir / "vor_set.txt").find("hillshade=yes\r\n"), std::string::npos);
    compose_view();
    const int shaded = pixels_differing(plain, app->mosaic());
    EXPECT_GT(shaded, int(plain.pixels.size() / 3 / 2));  // the whole view lies in the data

    // The setting is read at start; without data where the view is, the map is unchanged.
    EXPECT_EQ(pixels_differing(plain, show(elsewhere, Command::Atlas)), 0);
    EXPECT_TRUE(app->window_state()->hillshade);
    // Strength 0 leaves the map unchanged too.
    test::write_file(dir / "vor_set.txt", "shading=0\r\n" + test::read_file(dir / "vor_set.txt"));
    EXPECT_EQ(pixels_differing(plain, show(helsinki, Command::Atlas)), 0);

    // At a device scale of 2 the sharp cells are shaded at their own resolution.
    test::write_file(dir / "vor_set.txt", "shading=100\r\n" + test::read_file(dir / "vor_set.txt"));
    show(helsinki, Command::Atlas, 2);
    for (int i = 0; i < 16; ++i) app->paint();
    const PaintFrame frame = app->paint();
    ASSERT_FALSE(frame.fine_cells.empty());
    // A fully shaded cell has no pixel as light as the Atlas's land colour.
    const PaintFrame::FineCell& cell = frame.fine_cells.front();
    int land = 0;
    for (std::size_t i = 0; i < std::size_t(kFineCellSize) * kFineCellSize * 3; i += 3)
        land += cell.bgr[i + 2] == 0xf2 && cell.bgr[i + 1] == 0xef && cell.bgr[i] == 0xe6;
    EXPECT_EQ(land, 0);
}

}  // namespace
}  // namespace vg
