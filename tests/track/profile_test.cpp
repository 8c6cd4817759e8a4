// Profile series: distances along lines, times that never go back, heights from the points or a
// model, speeds from the fix or damped from positions, and the point a pointer's x names.
#include "track/profile.h"

#include <gtest/gtest.h>

#include <cmath>

#include "geo/geodesy.h"
#include "tiles/elevation.h"

namespace vg {
namespace {

// A walk north from (60, 25): point i lies 10 * i metres along the meridian, one a second.
std::vector<ProfileSample> walk(int count, double start_utc = 1'000'000) {
    std::vector<ProfileSample> out;
    for (int i = 0; i < count; ++i) {
        const auto at = geo::direct(60, 25, 0, 10.0 * i);
        out.push_back({at.lat, at.lon, 100.0 + i, start_utc + i, {}});
    }
    return out;
}

class Ramp : public ElevationModel {
public:
    std::optional<double> elevation(double lat, double) const override {
        if (lat > 60.0003) return std::nullopt;  // beyond about 33 m north: no data
        return 1000.0;
    }
    bool covers(double, double, double, double) const override { return true; }
};

TEST(Profile, DistancesTimesAndHeightsWithGaps) {
    auto first = walk(4);
    auto second = walk(3, 2'000'000);
    second[1].elevation.reset();
    second[2].utc_seconds = 1'500'000;  // the clock went back
    first[2].elevation = NAN;
    const Profile profile = make_profile({first, {}, second});
    ASSERT_EQ(profile.points.size(), 7u);
    // Along each line, not across the jump between lines.
    EXPECT_NEAR(profile.points[3].distance_m, 30.0, 1e-6);
    EXPECT_NEAR(profile.points[4].distance_m, 30.0, 1e-6);
    EXPECT_NEAR(profile.length_m(), 50.0, 1e-6);
    EXPECT_TRUE(profile.points[4].starts_line);
    EXPECT_FALSE(profile.points[5].starts_line);
    EXPECT_EQ(*profile.points[3].seconds, 3.0);
    EXPECT_EQ(*profile.points[4].seconds, 1'000'000.0);
    EXPECT_FALSE(profile.points[6].seconds);  // went back: off the time axis
    EXPECT_EQ(profile.duration_s(), 1'000'001.0);
    EXPECT_FALSE(profile.points[2].elevation_m);  // not a number is no height
    EXPECT_FALSE(profile.points[5].elevation_m);
    EXPECT_EQ(*profile.points[1].elevation_m, 101.0);

    // Minutes without a fix cut a line as a gap: nothing drawn across, no distance counted.
    auto paused = walk(3);
    paused[2].utc_seconds = *paused[1].utc_seconds + 600;
    const Profile cut = make_profile({paused});
    EXPECT_TRUE(cut.points[2].starts_line);
    EXPECT_NEAR(cut.length_m(), 10.0, 1e-6);
    EXPECT_EQ(*cut.points[2].seconds, 601.0);

    // A model replaces the points' heights; where it has no data there is none.
    const Ramp model;
    const Profile modelled = make_profile({walk(5)}, &model);
    EXPECT_EQ(*modelled.points[0].elevation_m, 1000.0);
    EXPECT_FALSE(modelled.points[4].elevation_m);

    // A GPX file and a recording's runs give the same series.
    GpxData gpx;
    gpx.lines.push_back({{60, 25, 5.0, 10.0}, {60.001, 25, 6.0, 20.0}});
    TrackRun run = {{60, 25, 10, 5.0}, {60.001, 25, 20, 6.0}};
    const Profile a = profile_of(gpx), b = profile_of(std::vector<TrackRun>{run});
    ASSERT_EQ(a.points.size(), 2u);
    EXPECT_DOUBLE_EQ(a.points[1].distance_m, b.points[1].distance_m);
    EXPECT_EQ(*a.points[1].seconds, 10.0);
    EXPECT_EQ(*b.points[1].elevation_m, 6.0);
}

TEST(Profile, SpeedsFromTheFixOrDampedPositions) {
    auto line = walk(20);
    line[10].latitude += 0.01;  // one fix a kilometre off
    line[15].speed_mps = 3.0;   // the receiver's own speed
    const Profile profile = make_profile({line});
    for (std::size_t i = 0; i < profile.points.size(); ++i) {
        ASSERT_TRUE(profile.points[i].speed_mps) << i;
        if (i == 15) EXPECT_EQ(*profile.points[i].speed_mps, 3.0);
        else EXPECT_NEAR(*profile.points[i].speed_mps, 10.0, 0.01) << i;
    }
    // Without times there are no speeds, and a single point has none either.
    auto untimed = walk(3);
    for (auto& s : untimed) s.utc_seconds.reset();
    EXPECT_FALSE(make_profile({untimed}).points[1].speed_mps);
    EXPECT_FALSE(make_profile({walk(1)}).points[0].speed_mps);
}

TEST(Profile, NearestPointOnEitherAxis) {
    auto line = walk(5);
    line[2].utc_seconds = 0;  // off the time axis
    const Profile profile = make_profile({line});
    EXPECT_EQ(nearest_point(profile, ProfileAxis::distance, 14.0), 1u);
    EXPECT_EQ(nearest_point(profile, ProfileAxis::distance, 16.0), 2u);
    EXPECT_EQ(nearest_point(profile, ProfileAxis::distance, -100.0), 0u);
    EXPECT_EQ(nearest_point(profile, ProfileAxis::distance, 1e9), 4u);
    EXPECT_EQ(nearest_point(profile, ProfileAxis::time, 2.2), 3u);  // point 2 has no time
    EXPECT_FALSE(nearest_point(Profile{}, ProfileAxis::time, 0.0));
}

}  // namespace
}  // namespace vg
