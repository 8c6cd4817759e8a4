// vortool fleet export against a real history file: valid GPX 1.1 (the published schema when xmllint
// is there, else the program's own reader), the time bounds kept, and wrong arguments refused.
#include <gtest/gtest.h>

#include "support/gpx_schema.h"
#include "support/run_program.h"
#include "support/test_paths.h"
#include "track/fleet_store.h"
#include "track/gpx.h"

namespace vg {
namespace {

TEST(FleetExport, WritesOneDevicesPositionsAsGpxWithinTheTimes) {
    test::TempDir dir;
    const auto db = dir / "fleet.sqlite";
    {
        FleetStore store({db, 0});
        for (int i = 0; i < 20; ++i) {
            DeviceReport r;
            r.id = i % 2 ? "van <7>" : "boat";
            r.time_ms = 1'700'000'000'000 + i * 1000;
            r.lat = 60 + i * 0.001;
            r.lon = 24.9;
            if (i == 1) r.altitude_m = 12.5;
            store.add(r);
        }
        ASSERT_TRUE(store.flush());
    }
    const auto out = dir / "van.gpx";
    const auto run = test::run_program(test::vortool_path(), {"fleet", "export", "--device", "van <7>", "--from",
                                                              "1700000001", "--to", "2023-11-14T22:13:35Z", "--db",
                                                              db.string(), out.string()});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string text = test::read_file(out);
    if (test::have_tool("xmllint")) {
        std::string report;
        EXPECT_TRUE(test::gpx_file_valid(out, &report)) << report;
    }
    GpxData gpx;
    std::string error;
    ASSERT_TRUE(read_gpx(text, gpx, error)) << error;
    ASSERT_EQ(gpx.lines.size(), 1u);
    ASSERT_EQ(gpx.lines[0].size(), 8u);  // seconds 1, 3, ..., 15
    EXPECT_EQ(gpx.lines[0][0].utc_seconds, 1'700'000'001);
    EXPECT_EQ(gpx.lines[0][0].elevation, 12.5);
    EXPECT_EQ(gpx.lines[0][7].utc_seconds, 1'700'000'015);

    EXPECT_EQ(test::run_program(test::vortool_path(), {"fleet", "export", out.string()}).status, 2);
    EXPECT_EQ(test::run_program(test::vortool_path(), {"fleet", "export", "--device", "x", "--from", "soon", "o.gpx"})
                  .status,
              2);
    EXPECT_EQ(test::run_program(test::vortool_path(),
                                {"fleet", "export", "--device", "x", "--db", (dir / "none").string(), out.string()})
                  .status,
              1);
}

}  // namespace
}  // namespace vg
