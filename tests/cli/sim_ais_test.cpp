// The simulator's AIS traffic: each target crosses the own ship's track where the ship will be, and its
// lines decode to the targets the table then holds.
#include "cli/sim_ais.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "geo/geodesy.h"
#include "gps/ais_feed.h"

namespace vg::cli {
namespace {

TEST(SimAis, TargetsCrossTheOwnTrackAndDecode) {
    // Own ship: northwards along a meridian, one point a second.
    std::vector<std::pair<double, double>> track;
    for (int i = 0; i < 3600; ++i) track.emplace_back(60 + i * 1e-4, 25.0);
    const SimAisTraffic traffic(3, track, 1);
    for (int i = 0; i < 3; ++i) {
        const std::size_t crossing = static_cast<std::size_t>((i + 1) * 120);
        const auto [lat, lon] = traffic.position(i, crossing);
        EXPECT_NEAR(geo::distance_m(lat, lon, track[crossing].first, track[crossing].second), 0, 0.01) << i;
        // A minute earlier it was on its way there along its course.
        const auto [lat0, lon0] = traffic.position(i, crossing - 60);
        const geo::Inverse g = geo::inverse(lat0, lon0, lat, lon);
        EXPECT_NEAR(g.bearing_deg, traffic.course(i), 0.01);
        EXPECT_NEAR(g.distance_m, (8 + i * 2) * 1852.0 / 60, 0.5);
    }
    ais::AisFeed feed([] { return 0.0; });
    std::istringstream lines(traffic.epoch(0));
    for (std::string line; std::getline(lines, line);) feed.sentence(line);
    EXPECT_EQ(feed.rejected(), 0u);
    const auto targets = feed.targets(std::nullopt);
    ASSERT_EQ(targets.size(), 3u);
    EXPECT_EQ(targets[0].mmsi, 230990001u);
    EXPECT_EQ(targets[0].name, "SIM TARGET 1");
    EXPECT_EQ(targets[0].kind, ais::TargetKind::ClassA);
    EXPECT_EQ(targets[1].kind, ais::TargetKind::ClassB);
    EXPECT_EQ(targets[1].name, "SIM TARGET 2");
    // Static data only every 10 seconds; no targets without a track.
    EXPECT_EQ(traffic.epoch(1).find("!AIVDM,2,"), std::string::npos);
    EXPECT_EQ(SimAisTraffic(5, {}, 1).epoch(0), "");
}

}  // namespace
}  // namespace vg::cli
