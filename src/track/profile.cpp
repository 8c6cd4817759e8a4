#include "track/profile.h"

#include <algorithm>
#include <cmath>

#include "geo/geodesy.h"
#include "tiles/elevation.h"
#include "track/track_record.h"

namespace vg {
namespace {

// Steps on each side of a point whose speeds are pooled: one position that jumped spoils the two
// steps beside it, which a median of five steps outvotes.
constexpr std::size_t kSpeedSteps = 2;

std::optional<double> finite(std::optional<double> v) {
    if (v && !std::isfinite(*v)) return std::nullopt;
    return v;
}

// The speeds of points without the fix's own, from the steps of each line.
void fill_speeds(Profile& profile, const std::vector<std::optional<double>>& own) {
    auto& pts = profile.points;
    // step[i]: the speed from point i-1 to point i of one line, when both have times.
    std::vector<std::optional<double>> step(pts.size());
    for (std::size_t i = 1; i < pts.size(); ++i) {
        if (pts[i].starts_line || !pts[i].seconds || !pts[i - 1].seconds) continue;
        const double dt = *pts[i].seconds - *pts[i - 1].seconds;
        if (dt > 0) step[i] = (pts[i].distance_m - pts[i - 1].distance_m) / dt;
    }
    // Each point pools the 2 * kSpeedSteps + 1 steps around it, the window moved inwards at either
    // end of its line so that the first and last points are outvoted the same way.
    std::vector<double> pool;
    for (std::size_t start = 0, end = 0; start < pts.size(); start = end) {
        end = start + 1;
        while (end < pts.size() && !pts[end].starts_line) ++end;
        // Steps of this line: indices start + 1 .. end - 1.
        for (std::size_t i = start; i < end; ++i) {
            if (own[i]) {
                pts[i].speed_mps = own[i];
                continue;
            }
            constexpr std::size_t width = 2 * kSpeedSteps + 1;
            std::size_t from = i > start + kSpeedSteps ? i - kSpeedSteps : start + 1;
            if (from + width > end) from = end > start + width ? end - width : start + 1;
            pool.clear();
            for (std::size_t k = from; k < end && k < from + width; ++k)
                if (step[k]) pool.push_back(*step[k]);
            if (pool.empty()) continue;
            std::sort(pool.begin(), pool.end());
            const std::size_t n = pool.size();
            pts[i].speed_mps = n % 2 ? pool[n / 2] : (pool[n / 2 - 1] + pool[n / 2]) / 2;
        }
    }
}

}  // namespace

double Profile::duration_s() const {
    for (auto it = points.rbegin(); it != points.rend(); ++it)
        if (it->seconds) return *it->seconds;
    return 0.0;
}

Profile make_profile(const std::vector<std::vector<ProfileSample>>& lines, const ElevationModel* model) {
    Profile profile;
    std::vector<std::optional<double>> own_speed;
    double distance = 0.0;
    std::optional<double> last_time;
    for (const auto& line : lines) {
        for (std::size_t i = 0; i < line.size(); ++i) {
            const ProfileSample& s = line[i];
            ProfilePoint p;
            p.latitude = s.latitude;
            p.longitude = s.longitude;
            p.starts_line = i == 0;
            if (const auto t = finite(s.utc_seconds); t && (!last_time || *t > *last_time)) {
                if (!profile.start_utc) profile.start_utc = *t;
                p.seconds = *t - *profile.start_utc;
                // Nothing was recorded for minutes: a gap, as between two lines.
                if (last_time && *t - *last_time > kFixGapSeconds && i > 0) p.starts_line = true;
                last_time = t;
            }
            if (!p.starts_line)
                distance += geo::distance_m(line[i - 1].latitude, line[i - 1].longitude, s.latitude, s.longitude);
            p.distance_m = distance;
            p.elevation_m = model ? model->elevation(s.latitude, s.longitude) : finite(s.elevation);
            p.elevation_m = finite(p.elevation_m);
            const auto speed = finite(s.speed_mps);
            own_speed.push_back(speed && *speed >= 0 ? speed : std::nullopt);
            profile.points.push_back(p);
        }
    }
    fill_speeds(profile, own_speed);
    return profile;
}

Profile profile_of(const GpxData& gpx, const ElevationModel* model) {
    std::vector<std::vector<ProfileSample>> lines;
    for (const auto& line : gpx.lines) {
        auto& out = lines.emplace_back();
        for (const GpxPoint& p : line) out.push_back({p.latitude, p.longitude, p.elevation, p.utc_seconds, {}});
    }
    return make_profile(lines, model);
}

Profile profile_of(const std::vector<TrackRun>& runs, const ElevationModel* model) {
    std::vector<std::vector<ProfileSample>> lines;
    for (const auto& run : runs) {
        auto& out = lines.emplace_back();
        for (const TrackPoint& p : run) {
            std::optional<double> t;
            if (p.utc_seconds) t = static_cast<double>(*p.utc_seconds);
            out.push_back({p.latitude, p.longitude, p.elevation, t, {}});
        }
    }
    return make_profile(lines, model);
}

std::optional<double> profile_x(const ProfilePoint& point, ProfileAxis axis) {
    if (axis == ProfileAxis::distance) return point.distance_m;
    return point.seconds;
}

std::optional<std::size_t> nearest_point(const Profile& profile, ProfileAxis axis, double x) {
    std::optional<std::size_t> best;
    double best_gap = 0;
    for (std::size_t i = 0; i < profile.points.size(); ++i) {
        const auto xi = profile_x(profile.points[i], axis);
        if (!xi) continue;
        const double gap = std::abs(*xi - x);
        if (!best || gap < best_gap) best = i, best_gap = gap;
    }
    return best;
}

}  // namespace vg
