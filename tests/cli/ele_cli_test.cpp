// `vortool ele` as a real process: heights from a .hgt file and from an elevation source's tiles
// fetched by `vortool fetch` from a loopback server, and a clear outcome where there is no data.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/elevation_files.h"
#include "support/loopback_http_server.h"
#include "support/run_program.h"
#include "support/test_paths.h"
#include "tiles/image_decode.h"

namespace {

vg::test::RunResult vortool(const std::string& args, const vg::test::TempDir& dir) {
    return vg::test::run_shell("cd '" + dir.path().string() + "' && " + vg::test::vortool_path().string() + " " + args);
}

TEST(EleCli, HeightsFromHgtFilesAndFetchedTerrariumTiles) {
    vg::test::TempDir dir;
    ASSERT_TRUE(vg::write_png(dir / "tile.png", vg::test::terrarium_tile([](int, int) { return 1234.5; })));
    const std::string png = vg::test::read_file(dir / "tile.png");
    vg::test::LoopbackHttpServer server(vg::test::ScriptedReply::make(200, "image/png", png, true));
    vg::test::write_file(dir / "vor_src.txt", "Terrain|map|" + server.url("/{z}/{x}/{y}.png") + "|4,7|Terrain Tiles|kind=dem\n");

    // Listed as an elevation source; nothing cached yet, so no height.
    auto r = vortool("sources 2>&1 | grep Terrain", dir);
    EXPECT_NE(r.out.find("\"kind\":\"dem\",\"dem\":\"terrarium\"}"), std::string::npos) << r.out;
    r = vortool("ele 46.5 7.5 --root cache 2>&1", dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "vortool ele: no elevation data at 46.5, 7.5\n");

    // The view's tiles fetched like any source's, then read from the cache.
    r = vortool("fetch --root cache --source Terrain --level 1 --lat 46.5 --lon 7.5 2>&1", dir);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(server.wait_for_requests(4));
    r = vortool("ele 46.5 7.5 --root cache", dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "{\"lat\":46.500000,\"lon\":7.500000,\"ele_m\":1234.5,\"source\":\"dem\"}\n");

    // A .hgt file of the place comes first.
    std::filesystem::create_directories(dir / "cache" / "dem");
    vg::test::write_file(dir / "cache" / "dem" / "N46E007.hgt", vg::test::HgtBytes(1201, -12).string());
    r = vortool("ele 46.5 7.5 --root cache", dir);
    EXPECT_EQ(r.out, "{\"lat\":46.500000,\"lon\":7.500000,\"ele_m\":-12.0,\"source\":\"hgt\"}\n");

    EXPECT_EQ(vortool("ele 91 0 2>/dev/null", dir).status, 2);
    EXPECT_EQ(vortool("ele 10 2>/dev/null", dir).status, 2);
    EXPECT_EQ(vortool("ele 1 2 3 2>/dev/null", dir).status, 2);
}

}  // namespace
