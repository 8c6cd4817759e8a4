// Trip figures of saved tracks: real receivers' tracks against a second implementation (python3-gpxpy),
// and a recording's live figures against those of the GPX it wrote.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "support/run_program.h"
#include "support/synthetic_track.h"
#include "support/test_paths.h"
#include "track/gpx.h"
#include "track/track_record.h"
#include "track/trip_stats.h"

namespace vg {
namespace {

// gpxpy's figures of each file: its 2D length and moving time, with the segments cut where the time
// steps back (our segment rule; gpxpy would measure the jump between two captures joined in one file).
const char* const kGpxpy = R"(
import sys, gpxpy, gpxpy.gpx
for name in sys.argv[1:]:
    g = gpxpy.parse(open(name))
    length = moving = 0.0
    for t in g.tracks:
        for s in t.segments:
            parts, cur = [], []
            for p in s.points:
                if cur and p.time and cur[-1].time and p.time < cur[-1].time:
                    parts.append(cur); cur = []
                cur.append(p)
            parts.append(cur)
            for part in parts:
                seg = gpxpy.gpx.GPXTrackSegment(part)
                length += seg.length_2d()
                m = seg.get_moving_data()
                moving += m.moving_time if m else 0
    print(length, moving)
)";

TEST(TripGpx, RealTracksAgreeWithGpxpy) {
    // Debian's python3 (a python3 earlier on PATH may be another installation without Debian's modules).
    if (test::run_program("/usr/bin/python3", {"-c", "import gpxpy"}).status != 0)
        GTEST_SKIP() << "python3-gpxpy (Debian) is not installed: no second implementation to compare with";
    const auto dir = test::shared_testdata() / "gpx" / "receivers";
    const std::vector<std::string> names = {"bt451",        "bu353-glonass", "eXplorist210", "foretrex-201",
                                            "garmin48",     "magellan-ec10", "nmea-rtk",     "ublox-lea-4h"};
    std::vector<std::string> args = {"-c", kGpxpy};
    for (const auto& n : names) args.push_back((dir / (n + ".gpx")).string());
    const auto peer = test::run_program("/usr/bin/python3", args);
    ASSERT_EQ(peer.status, 0) << peer.err;
    std::istringstream lines(peer.out);
    double measured = 0;
    for (const auto& n : names) {
        SCOPED_TRACE(n);
        double length = 0, moving = 0;
        ASSERT_TRUE(lines >> length >> moving);
        GpxData gpx;
        std::string error;
        ASSERT_TRUE(read_gpx(test::read_file(dir / (n + ".gpx")), gpx, error)) << error;
        const TripFigures f = trip_figures(gpx);
        // gpxpy measures on a sphere of 10 000.8 km a quadrant, flat within 0.2 degrees; we measure on
        // the ellipsoid. At these latitudes (49-56) the two differ by about 0.2 %.
        EXPECT_NEAR(f.distance_m, length, 0.004 * length + 0.01);
        measured += f.distance_m;
        // gpxpy counts every interval faster than 1 km/h as moving (no hysteresis), so a resting
        // receiver's wander is moving to it and short runs are moving to us before gpxpy; on these
        // short captures the two may differ by some seconds.
        ASSERT_TRUE(f.moving_s && f.total_s);
        EXPECT_NEAR(*f.moving_s, moving, std::max(10.0, 0.3 * *f.total_s));
    }
    EXPECT_GT(measured, 900);  // there was something to measure
}

TEST(TripGpx, LiveFiguresOfARecordingEqualThoseOfItsGpx) {
    // A ride with a stop, noisy altitude and a gap of five minutes (a new segment), recorded fix by fix
    // while the live trip is fed the same fixes.
    auto ride = test::synthetic_ride(test::Relief::rolling, 5, 7, 1500, 8);
    for (std::size_t k = 600; k < 700; ++k) {  // resting
        ride.samples[k].latitude = ride.samples[599].latitude;
        ride.samples[k].longitude = ride.samples[599].longitude;
    }
    test::TempDir dir;
    RecordedTrip live;
    {
        TrackRecorder recorder({dir.path(), false, 1000}, 1'700'000'000);
        for (std::size_t k = 0; k < ride.samples.size(); ++k) {
            const TripSample& s = ride.samples[k];
            const auto t = static_cast<std::int64_t>(*s.utc_seconds) + (k >= 1000 ? 300 : 0) + (k % 2);
            const TrackPoint fix{s.latitude, s.longitude, t, s.altitude_m};
            recorder.record(fix);
            live.add(fix);
        }
    }
    GpxData gpx;
    std::string error;
    ASSERT_TRUE(read_gpx(test::read_file(dir / "track.gpx"), gpx, error)) << error;
    ASSERT_EQ(gpx.lines.size(), 2u);
    const TripFigures saved = trip_figures(gpx), now = live.figures();
    EXPECT_EQ(trip_figures_json(now), trip_figures_json(saved));
    EXPECT_DOUBLE_EQ(now.distance_m, saved.distance_m);
    EXPECT_DOUBLE_EQ(*now.moving_s, *saved.moving_s);
    EXPECT_DOUBLE_EQ(*now.ascent_m, *saved.ascent_m);
    EXPECT_DOUBLE_EQ(*now.max_mps, *saved.max_mps);
    EXPECT_LT(*now.moving_s, *now.total_s - 90);  // the stop was seen
    EXPECT_EQ(now.points, ride.samples.size());
}

}  // namespace
}  // namespace vg
