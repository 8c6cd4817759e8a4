// The fleet in a running App: reports from another thread become marks with names, trails and age,
// malformed ones are dropped, the Fleet dialog lists distance and bearing, a device can be
// followed, and every report reaches the history file.
#include <thread>

#include "app/app_fixture.h"
#include "track/fleet_store.h"

namespace vg {
namespace {

class AppFleet : public test::AppFixture {};

DeviceReport report(const std::string& id, double lat, double lon, std::int64_t seconds) {
    DeviceReport r;
    r.id = id;
    r.via = "http";
    r.lat = lat;
    r.lon = lon;
    r.time_ms = seconds * 1000;
    r.course_deg = 90;
    return r;
}

TEST(FleetTable, KeepsATrailPerDeviceAndDropsMalformedReports) {
    FleetTable table;
    for (int s = 0; s < 600; ++s) EXPECT_TRUE(table.update(report("van", 60, 24.9 + s * 1e-4, 1000 + s), 0));
    const auto targets = table.snapshot(1'599'000, 10 * 60'000);
    ASSERT_EQ(targets.size(), 1u);
    // One point every 5 s over the last 10 minutes, then the newest, the last report.
    EXPECT_EQ(targets[0].trail.size(), 121u);
    EXPECT_DOUBLE_EQ(targets[0].trail.back().lon, 24.9 + 599e-4);
    EXPECT_FALSE(table.update(report(std::string(kDeviceIdMax + 1, 'x'), 1, 1, 1), 0));
    EXPECT_FALSE(table.update(report("", 1, 1, 1), 0));
    EXPECT_FALSE(table.update(report("nan", std::nan(""), 1, 1), 0));
    EXPECT_FALSE(table.update(report("far", 91, 1, 1), 0));
    EXPECT_EQ(table.dropped(), 4u);
    // A late report of an older moment does not move the device back.
    EXPECT_TRUE(table.update(report("van", 10, 10, 900), 0));
    EXPECT_DOUBLE_EQ(table.find("van")->last.lat, 60);
}

TEST(FleetTable, TrailsOnScreenKeepTheirShapeWithinAPixel) {
    using Trail = std::vector<std::array<int, 2>>;
    Trail straight, corner, still(5, {7, 7});
    for (int i = 0; i <= 100; ++i) straight.push_back({i * 4, i * 2 + (i % 2)});  // a pixel of jitter
    for (int i = 0; i <= 50; ++i) corner.push_back({i < 25 ? i * 4 : 100, i < 25 ? 0 : (i - 25) * 4});
    simplify_trail(straight, 1.0);
    EXPECT_EQ(straight, (Trail{{0, 0}, {400, 200}}));
    simplify_trail(corner, 1.0);
    EXPECT_EQ(corner, (Trail{{0, 0}, {100, 0}, {100, 100}}));
    simplify_trail(still, 1.0);
    EXPECT_EQ(still, (Trail{{7, 7}, {7, 7}}));
}

TEST_F(AppFleet, DevicesAreDrawnListedFollowedAndStored) {
    write_settings("", "fleetstale=60\r\n");
    start();
    App& a = *app;
    set_fix(test::kStartLat, test::kStartLon);
    const std::int64_t t = clock.seconds;
    std::thread([&] {
        a.device_report(report("north", test::kStartLat + 0.01, test::kStartLon, t));
        a.device_report(report("old", test::kStartLat, test::kStartLon + 0.01, t - 120));
        a.device_report(report(std::string(kDeviceIdMax + 1, 'x'), 1, 1, t));
    }).join();
    EXPECT_EQ(a.fleet().size(), 2u);
    EXPECT_EQ(a.fleet().dropped(), 1u);

    PaintFrame frame = a.paint();
    ASSERT_EQ(frame.fleet.size(), 2u);
    const auto& north = frame.fleet[0];
    EXPECT_EQ(north.label, "north");
    EXPECT_FALSE(north.stale);
    EXPECT_TRUE(north.has_course);
    EXPECT_LT(north.y, frame.fleet[1].y);  // north of the other, which is east
    EXPECT_GT(frame.fleet[1].x, north.x);
    EXPECT_TRUE(frame.fleet[1].stale);

    a.on_command(Command::Fleet);
    ASSERT_EQ(window.fleets.size(), 1u);
    const auto rows = window.fleets[0].rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].name, "north");
    EXPECT_EQ(rows[0].distance, "1114 m");
    EXPECT_EQ(rows[0].bearing, "0\u00b0");
    EXPECT_EQ(rows[1].age, "2 min");
    EXPECT_TRUE(rows[1].stale);

    // Followed: the view goes with the device, not with the own position.
    window.fleets[0].follow("north");
    a.device_report(report("north", 61, 26, t + 1));
    a.paint();
    EXPECT_EQ(a.followed_device(), "north");
    const WorldPixel p = geo_to_pixel(61, 26, MapSource::VirtualEarth, a.view().level);
    EXPECT_NEAR(static_cast<double>(a.view().centre_x), static_cast<double>(p.x), 2);
    window.fleets[0].follow("");
    EXPECT_EQ(a.followed_device(), "");

    ASSERT_TRUE(a.fleet_store() && a.fleet_store()->flush());
    std::vector<FleetPoint> stored;
    std::string error;
    ASSERT_TRUE(read_fleet_track(dir / kFleetStoreFile, "north", 0, (t + 10) * 1000, stored, error)) << error;
    EXPECT_EQ(stored.size(), 2u);
}

}  // namespace
}  // namespace vg
