// Trip figures on made-up rides whose truth is known: climb through GPS-like altitude noise, moving
// time through stops with a wandering position, outliers, heights from an elevation model, bad input.
#include "track/trip_stats.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "geo/geodesy.h"
#include "support/synthetic_track.h"
#include "tiles/elevation.h"

namespace vg {
namespace {

using test::Relief;

TripFigures figures_of(const std::vector<TripSample>& samples, const ElevationModel* model = nullptr) {
    TripStats stats(model);
    for (const auto& s : samples) stats.add(s);
    return stats.figures();
}

TEST(TripClimb, AscentWithinFivePercentThroughAltitudeNoise) {
    // 20 km at 5 m/s with correlated altitude noise (see synthetic_track.h). Rolling ground climbs 800 m
    // (ten hills of 80 m), the long climb 600 m, flat ground nothing: there "within 5 %" means a false
    // climb of at most 5 % of the rolling ride's 800 m over the same 20 km, 40 m.
    for (Relief relief : {Relief::flat, Relief::rolling, Relief::climb}) {
        for (double sigma : {3.0, 5.0, 8.0}) {
            for (std::uint32_t seed : {1u, 2u, 3u, 4u}) {
                const auto ride = test::synthetic_ride(relief, sigma, seed);
                const TripFigures f = figures_of(ride.samples);
                SCOPED_TRACE(testing::Message() << "relief " << static_cast<int>(relief) << " sigma " << sigma
                                                << " seed " << seed);
                ASSERT_TRUE(f.ascent_m && f.descent_m && f.min_ele_m && f.max_ele_m);
                // These rides are within 5 %, but not every ride is: each of the rolling ride's 21 turning
                // heights keeps the noise of its surroundings (noise correlated over 30 s is as strong at
                // the hills' 400 s as at any scale, and no averaging removes it without the hills), which
                // spreads that ascent by some 4 % (one standard deviation) at 8 m of noise, even where the
                // turning points are known.
                const double bound = relief == Relief::flat ? 40 : 0.05 * ride.true_ascent_m;
                EXPECT_NEAR(*f.ascent_m, ride.true_ascent_m, bound);
            }
        }
    }
    // One wild height (a receiver settling after a cold start) neither makes a hill nor hides the real ones.
    auto spiked = test::synthetic_ride(Relief::rolling, 5, 1);
    *spiked.samples[1000].altitude_m += 400;
    EXPECT_NEAR(*figures_of(spiked.samples).ascent_m, spiked.true_ascent_m, 0.05 * spiked.true_ascent_m);
    // Without noise, flat ground has no climb at all.
    auto ride = test::synthetic_ride(Relief::flat, 0, 1);
    for (auto& s : ride.samples) s.altitude_m = 500;
    EXPECT_EQ(*figures_of(ride.samples).ascent_m, 0);
}

class TiltedPlane : public ElevationModel {
public:
    std::optional<double> elevation(double /*lat*/, double lon) const override {
        if (lon > 7.2) return std::nullopt;  // no data east of 7.2 E
        return 1000 + 10000 * (lon - 7.0);
    }
    bool covers(double, double, double, double) const override { return true; }
};

TEST(TripClimb, HeightsComeFromTheModelWhenOneIsGiven) {
    auto ride = test::synthetic_ride(Relief::rolling, 8, 1);
    const TiltedPlane plane;
    const TripFigures f = figures_of(ride.samples, &plane);
    // East along the plane to 7.2 E: a steady climb of 2000 m; the noisy GPS altitude is not used, nor
    // where the model has no data.
    ASSERT_TRUE(f.ascent_m);
    EXPECT_NEAR(*f.ascent_m, 2000, 15);
    EXPECT_EQ(*f.descent_m, 0);
    EXPECT_NEAR(*f.min_ele_m, 1000, 1);
    EXPECT_NEAR(*f.max_ele_m, 3000, 15);
}

// One fix a second along a line east at `speed` m/s for `seconds`, positions with `jitter_m` of made-up wander.
void ride(std::vector<TripSample>& out, double speed, int seconds, double jitter_m = 0) {
    for (int k = 0; k < seconds; ++k) {
        TripSample s = out.empty() ? TripSample{46.0, 7.0, 0.0, 500.0, std::nullopt} : out.back();
        const double step = speed + (jitter_m > 0 ? jitter_m * std::sin(k * 2.3) : 0);
        const geo::Position p = geo::direct(s.latitude, s.longitude, step >= 0 ? 90 : 270, std::fabs(step));
        s.latitude = p.lat;
        s.longitude = p.lon;
        s.utc_seconds = *s.utc_seconds + 1;
        out.push_back(s);
    }
}

TEST(TripMoving, StopsWithAWanderingPositionAreRestingTime) {
    std::vector<TripSample> s;
    ride(s, 10, 120);     // 2 min at 36 km/h
    ride(s, 0, 180, 1);   // a 3 min stop; the position wanders by up to a metre a second
    ride(s, 10, 60);      // on again
    ride(s, 0.2, 3);      // a moment of crawling, too short to be a stop
    ride(s, 10, 60);
    const TripFigures f = figures_of(s);
    ASSERT_TRUE(f.moving_s && f.total_s && f.avg_moving_mps && f.max_mps);
    EXPECT_DOUBLE_EQ(*f.total_s, 422);
    EXPECT_NEAR(*f.moving_s, 243, 4);
    EXPECT_NEAR(*f.avg_moving_mps, 10, 0.3);
    EXPECT_NEAR(*f.max_mps, 10, 0.01);
    EXPECT_GT(f.distance_m, 2400);  // the wander is path measured
    EXPECT_LT(f.distance_m, 2600);
    // A walker below the speed threshold still starts moving by displacement.
    std::vector<TripSample> walk;
    ride(walk, 1.2, 600);
    EXPECT_NEAR(*figures_of(walk).moving_s, 599, 1);
}

TEST(TripOutliers, AJumpAndAnImpossibleSpeedAreNotTaken) {
    std::vector<TripSample> s;
    ride(s, 10, 100);
    // One fix 2 km north of the way.
    const geo::Position off = geo::direct(s[50].latitude, s[50].longitude, 0, 2000);
    s[50].latitude = off.lat;
    s[50].longitude = off.lon;
    // A receiver speed of 90 m/s between readings of 10 m/s.
    for (auto& p : s) p.speed_mps = 10;
    s[70].speed_mps = 90;
    const TripFigures f = figures_of(s);
    EXPECT_EQ(f.outliers, 1u);
    EXPECT_EQ(f.points, 100u);
    EXPECT_NEAR(f.distance_m, 990, 0.5);
    EXPECT_DOUBLE_EQ(*f.max_mps, 10);

    // A step of 500 m in a second that never comes back (a receiver settling): in the distance, not
    // in the average speed.
    std::vector<TripSample> step;
    ride(step, 5, 60);
    ride(step, 500, 1);
    ride(step, 5, 60);
    const TripFigures g = figures_of(step);
    EXPECT_NEAR(g.distance_m, 5 * 119 + 500, 0.5);
    EXPECT_NEAR(*g.avg_moving_mps, 5, 0.1);
}

TEST(TripBadInput, DefinedFiguresForEveryCase) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const TripFigures none = TripStats().figures();
    EXPECT_EQ(none.points, 0u);
    EXPECT_EQ(none.distance_m, 0);
    EXPECT_FALSE(none.total_s || none.moving_s || none.avg_moving_mps || none.max_mps || none.ascent_m ||
                 none.min_ele_m);
    EXPECT_EQ(trip_figures_json(none),
              "{\"distance_m\":0.0,\"moving_s\":null,\"total_s\":null,\"avg_moving_kmh\":null,\"max_kmh\":null,"
              "\"ascent_m\":null,\"descent_m\":null,\"min_ele_m\":null,\"max_ele_m\":null,\"points\":0}");

    const TripFigures one = figures_of({{46, 7, 100.0, 420.0, 3.0}});
    EXPECT_EQ(one.points, 1u);
    EXPECT_EQ(one.distance_m, 0);
    EXPECT_FALSE(one.total_s);  // no interval
    EXPECT_EQ(*one.min_ele_m, 420);
    EXPECT_EQ(*one.ascent_m, 0);

    // Bad positions are skipped; a time, height or speed that is not a number is absent.
    std::vector<TripSample> s;
    ride(s, 5, 20);
    s[3].latitude = nan;
    s[4].longitude = 200;
    s[5].utc_seconds = nan;
    s[6].altitude_m = std::numeric_limits<double>::infinity();
    s[7].speed_mps = nan;
    s[8].speed_mps = -1;
    const TripFigures bad = figures_of(s);
    EXPECT_EQ(bad.rejected, 2u);
    EXPECT_EQ(bad.points, 18u);
    EXPECT_NEAR(bad.distance_m, 95, 0.1);  // the rejected points' 10 m between neighbours still measured
    EXPECT_NEAR(*bad.total_s, 15, 1e-9);   // the intervals beside the untimed point have no time
    EXPECT_FALSE(std::isnan(*bad.max_mps));

    // Time going back starts a new segment: nothing is measured across the step.
    std::vector<TripSample> back;
    ride(back, 5, 10);
    for (int k = 5; k < 10; ++k) back[k].utc_seconds = *back[k].utc_seconds - 100;
    const TripFigures b = figures_of(back);
    EXPECT_NEAR(b.distance_m, 40, 0.01);
    EXPECT_DOUBLE_EQ(*b.total_s, 8);
    // Nor is climb: the second segment is 100 m higher.
    for (int k = 5; k < 10; ++k) back[k].altitude_m = 600;
    EXPECT_EQ(*figures_of(back).ascent_m, 0);

}

}  // namespace
}  // namespace vg
