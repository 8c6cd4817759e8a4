// `vortool mvt` run as a real process on conformance tiles: raw and gzip-compressed tiles print
// their features as JSON lines, a malformed one prints its reason and exits 1.
#include <gtest/gtest.h>

#include <string>

#include "support/run_program.h"
#include "support/test_paths.h"

namespace {

vg::test::RunResult mvt_tool(const std::string& shell_args) {
    return vg::test::run_shell(vg::test::vortool_path().string() + " mvt " + shell_args);
}

std::string fixture(const char* name) {
    return "'" + (vg::test::shared_testdata() / "mvt-fixtures/fixtures" / name / "tile.mvt").string() + "'";
}

TEST(MvtCli, PrintsFeaturesOfRawAndCompressedTilesAndRefusesMalformedOnes) {
    const std::string polygons =
        "{\"layer\":\"hello\",\"id\":1,\"type\":\"Polygon\",\"properties\":{\"hello\":\"world\"},\"geometry\":"
        "[[[0,0],[10,0],[10,10],[0,10],[0,0]],[[11,11],[20,11],[20,20],[11,20],[11,11]],"
        "[[13,13],[13,17],[17,17],[17,13],[13,13]]]}\n";
    auto run = mvt_tool(fixture("022"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, polygons);

    vg::test::TempDir dir;
    const std::string gz = "'" + (dir / "t.mvt.gz").string() + "'";
    ASSERT_EQ(vg::test::run_shell("gzip -c " + fixture("038") + " > " + gz).status, 0);
    run = mvt_tool(gz);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out,
              "{\"layer\":\"hello\",\"id\":1,\"type\":\"Point\",\"properties\":{\"string_value\":\"ello\","
              "\"bool_value\":true,\"int_value\":6,\"double_value\":1.23,\"float_value\":3.1,\"sint_value\":-87948,"
              "\"uint_value\":87948},\"geometry\":[[[25,17]]]}\n");

    run = mvt_tool(fixture("051") + " 2>&1");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("geometry command past the end"), std::string::npos) << run.out;
    EXPECT_EQ(mvt_tool("'" + (dir / "none").string() + "' 2>/dev/null").status, 1);
    EXPECT_EQ(mvt_tool("2>/dev/null").status, 2);
}

}  // namespace
