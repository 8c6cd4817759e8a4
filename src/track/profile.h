// Profiles of a track: for each point its distance along the track, its time, its height and its
// speed, the series a profile plot draws against distance or time.
//
// Distance is measured on WGS84 (geo/geodesy.h) along each line; the step between two lines (GPX
// segments, recording runs) is not counted, since nothing was recorded there. A line whose times
// jump by more than kFixGapSeconds (track_record.h) is cut there the same way. Time is the seconds
// since the track's first timed point. Height is the point's own (GPS altitude) or, when a model is
// given, the model's height at the place (a place outside its data then has none). Speed is the fix's
// when the point has one, else worked out from positions over time and damped: the median of the
// speeds over the neighbouring steps, so that one position that jumped does not make a spike.
//
// Gaps: a point without height (or speed, or time) has none in the series, and a plot breaks its
// line there; a point whose time is not after the previous timed point's (a clock that went back, a
// repeated time) has no time, so the time axis never goes backwards.
// Threads: pure functions. Failure: none; an empty track gives an empty profile.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "track/gpx.h"
#include "track/track_log.h"

namespace vg {

class ElevationModel;

// One point of a track as its source knows it.
struct ProfileSample {
    double latitude = 0.0;
    double longitude = 0.0;
    std::optional<double> elevation;    // metres
    std::optional<double> utc_seconds;  // seconds since 1970
    std::optional<double> speed_mps;    // the fix's own speed over ground, metres per second
};

struct ProfilePoint {
    double latitude = 0.0;
    double longitude = 0.0;
    double distance_m = 0.0;            // along the track from its first point
    std::optional<double> seconds;      // since the first timed point; none when missing or going back
    std::optional<double> elevation_m;
    std::optional<double> speed_mps;
    bool starts_line = false;           // the first point of a line: a plot does not join it to the one before
};

enum class ProfileAxis { distance, time };

struct Profile {
    std::vector<ProfilePoint> points;
    std::optional<double> start_utc;    // the first timed point's time
    double length_m() const { return points.empty() ? 0.0 : points.back().distance_m; }
    double duration_s() const;          // the last time on the time axis, 0 without any
};

// The profile of a track's lines (any of them may be empty). `model`, when given, gives the heights.
Profile make_profile(const std::vector<std::vector<ProfileSample>>& lines, const ElevationModel* model = nullptr);
// The same for every line of a GPX file (tracks' segments and routes), or a recording's runs.
Profile profile_of(const GpxData& gpx, const ElevationModel* model = nullptr);
Profile profile_of(const std::vector<TrackRun>& runs, const ElevationModel* model = nullptr);

// A point's place on the x axis: its distance or time; none when it has no time on a time axis.
std::optional<double> profile_x(const ProfilePoint& point, ProfileAxis axis);

// The point whose x lies nearest `x` (what a pointer over the plot names); none when no point has an x.
std::optional<std::size_t> nearest_point(const Profile& profile, ProfileAxis axis, double x);

}  // namespace vg
