// Heights in the window: the ground under the pointer in the status bar from the maps folder's .hgt
// files, and from an elevation source whose tiles the window asks for in the background.
#include <chrono>
#include <thread>

#include "app_fixture.h"
#include "support/elevation_files.h"
#include "support/loopback_http_server.h"
#include "tiles/image_decode.h"

namespace vg::test {
namespace {

class AppElevation : public AppFixture {
protected:
    // Map Coordinates on and the pointer over the middle of the map area; the status bar's height.
    std::string ground_under_pointer() {
        app->on_mouse_move(1 + 256, 49 + 192 + 10);
        return app->paint().status.ground;
    }
};

TEST_F(AppElevation, GroundUnderThePointerFromTheHgtFilesInFeetWithMph) {
    std::filesystem::create_directories(dir / "Maps" / "dem");
    write_file(dir / "Maps" / "dem" / "N60E024.hgt", HgtBytes(1201, 40).string());
    write_settings("", "speed=mph\r\n");
    start();
    ASSERT_TRUE(app->elevation());
    EXPECT_EQ(app->paint().status.ground, "");  // the pointer's place is shown only with Map Coordinates
    app->on_command(Command::MapCoordinates);
    EXPECT_EQ(ground_under_pointer(), "Ground 131 ft");
}

TEST_F(AppElevation, TheViewsElevationTilesAreFetchedInTheBackgroundForThePointer) {
#ifdef VG_NO_CURL
    GTEST_SKIP() << "libcurl is not available in this build: elevation tiles are not fetched";
#endif
    ASSERT_TRUE(write_png(dir / "t.png", terrarium_tile([](int, int) { return 1500.0; })));
    LoopbackHttpServer server(ScriptedReply::make(200, "image/png", read_file(dir / "t.png"), true));
    write_file(dir / "vor_src.txt", "Terrain|map|" + server.url("/{z}/{x}/{y}.png") + "|4,7,10,13|T|kind=dem\r\n");
    write_settings();
    AppOptions o = options();
    o.background_tiles = true;
    app = std::make_unique<App>(dir.path(), o);
    app->create(window);
    app->on_command(Command::MapCoordinates);
    EXPECT_EQ(ground_under_pointer(), "");  // not cached: asked for
    std::string ground;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while ((ground = app->paint().status.ground).empty() && std::chrono::steady_clock::now() < end) {
        app->on_mouse_move(1 + 256, 49 + 192 + 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(ground, "Ground 1500 m");
    // The view's zoom (level 2, web zoom 10), tiles around Helsinki only, each asked for once.
    const auto requests = server.requests();
    ASSERT_FALSE(requests.empty());
    for (const auto& r : requests) EXPECT_EQ(r.rfind("GET /10/", 0), 0u) << r;
    EXPECT_LE(requests.size(), 12u);
}

}  // namespace
}  // namespace vg::test
