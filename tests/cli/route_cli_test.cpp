// `vortool routing build` and `vortool route` as real processes over the test town: the data made in
// the maps folder, the route as JSON and as GPX that validates, and clear exit statuses.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/gpx_schema.h"
#include "support/run_program.h"
#include "support/test_paths.h"

namespace {

vg::test::RunResult vortool(const std::string& args, const vg::test::TempDir& dir) {
    return vg::test::run_shell("cd '" + dir.path().string() + "' && " + vg::test::vortool_path().string() + " " + args);
}

TEST(RouteCli, BuildsTheTownsDataAndPrintsRoutesAsJsonAndGpx) {
    if (!vg::test::have_tool("planetsplitter")) GTEST_SKIP() << "planetsplitter is not installed (routino)";
    vg::test::TempDir dir;
    const std::string osm = (vg::test::shared_testdata() / "vector" / "town.osm").string();
    auto r = vortool("routing build '" + osm + "' --region town --maps Maps 2>err", dir);
    ASSERT_EQ(r.status, 0) << vg::test::read_file(dir / "err");
    EXPECT_EQ(r.out, "Maps/routing/town\n");
    EXPECT_NE(vg::test::read_file(dir / "err").find("vortool routing: 100% Done\n"), std::string::npos);
    EXPECT_EQ(vortool("routing list --maps Maps", dir).out, "town\n");

    r = vortool("route 47.5010,10.0012 '47.5020 9.9998' --profile foot --maps Maps", dir);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("{\"profile\":\"foot\",\"router\":\"Routino (town)\",\"length_m\":", 0), 0U) << r.out;
    EXPECT_NE(r.out.find("\"text\":\"Bear right onto Mill Path\",\"street\":\"Mill Path\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"text\":\"Arrive\""), std::string::npos) << r.out;
    r = vortool("route 47.5010,10.0012 47.5020,9.9998 --via 47.5020,10.0050 --gpx --maps Maps", dir);
    ASSERT_EQ(r.status, 0);
    std::string report;
    EXPECT_TRUE(vg::test::gpx_text_valid(r.out, &report)) << report;

    r = vortool("route 47.5010,10.0012 0,0 --maps Maps 2>err", dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(vg::test::read_file(dir / "err"), "vortool route: no road for car near the destination\n");
    EXPECT_EQ(vortool("route 47.5010,10.0012 0,0 --maps Nowhere 2>/dev/null", dir).status, 1);
    EXPECT_EQ(vortool("route 47.5010,10.0012 --maps Maps 2>/dev/null", dir).status, 2);
    EXPECT_EQ(vortool("route 1,2 3,4 --profile horse 2>/dev/null", dir).status, 2);
    EXPECT_EQ(vortool("routing build '" + osm + "' --region ../x --maps Maps 2>/dev/null", dir).status, 2);
}

}  // namespace
