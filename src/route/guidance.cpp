#include "route/guidance.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "geo/geodesy.h"

namespace vg::route {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRadian = kPi / 180;
// How far back along the line a fix may be matched (a fix wobbling around a corner).
constexpr double kLookBackM = 50;

double angle_between(double a, double b) {
    const double d = std::fmod(std::fabs(a - b), 360.0);
    return d > 180 ? 360 - d : d;
}

}  // namespace

Guidance::Guidance(Route route, GuidanceOptions options) : route_(std::move(route)), options_(options) {
    cumulative_.reserve(route_.line.size());
    double total = 0;
    for (std::size_t i = 0; i < route_.line.size(); ++i) {
        if (i > 0) total += geo::distance_m(route_.line[i - 1].lat, route_.line[i - 1].lon, route_.line[i].lat, route_.line[i].lon);
        cumulative_.push_back(total);
    }
    step_.remaining_m = total;
    if (route_.line.size() < 2) step_.state = GuidanceState::arrived;
}

Guidance::Match Guidance::match(const GuidanceFix& fix) const {
    // Segments in a plane around the fix: metres east and north, exact enough at the distances
    // that matter here (tens of metres).
    const double east_scale = geo::kMeanRadiusM * kRadian * std::cos(fix.lat * kRadian);
    const double north_scale = geo::kMeanRadiusM * kRadian;
    auto plane = [&](const Point& p) {
        double dlon = p.lon - fix.lon;
        if (dlon > 180) dlon -= 360;
        if (dlon < -180) dlon += 360;
        return std::pair{dlon * east_scale, (p.lat - fix.lat) * north_scale};
    };
    std::size_t first = segment_;
    while (first > 0 && cumulative_[segment_] - cumulative_[first - 1] <= kLookBackM) --first;
    Match best;
    double best_d2 = INFINITY;
    for (std::size_t i = first; i + 1 < route_.line.size(); ++i) {
        const auto [ax, ay] = plane(route_.line[i]);
        const auto [bx, by] = plane(route_.line[i + 1]);
        const double dx = bx - ax, dy = by - ay;
        const double len2 = dx * dx + dy * dy;
        const double t = len2 > 0 ? std::clamp(-(ax * dx + ay * dy) / len2, 0.0, 1.0) : 0.0;
        const double px = ax + t * dx, py = ay + t * dy;
        const double d2 = px * px + py * py;
        if (d2 < best_d2) {
            best_d2 = d2;
            best.segment = i;
            best.along_m = cumulative_[i] + t * (cumulative_[i + 1] - cumulative_[i]);
            best.bearing_deg = std::atan2(dx, dy) / kRadian;
        }
    }
    best.from_line_m = std::sqrt(best_d2);
    return best;
}

const GuidanceStep& Guidance::update(const GuidanceFix& fix) {
    step_.left_now = false;
    step_.arrived_now = false;
    if (step_.state == GuidanceState::arrived || !std::isfinite(fix.lat) || !std::isfinite(fix.lon)) return step_;
    const Match m = match(fix);
    step_.from_line_m = m.from_line_m;
    step_.remaining_m = std::max(0.0, cumulative_.back() - m.along_m);

    const bool heading_known = fix.course_deg >= 0 && fix.speed_mps >= options_.heading_speed_mps;
    const bool heading_against = heading_known && angle_between(fix.course_deg, m.bearing_deg) > options_.heading_limit_deg;
    const bool against = m.from_line_m > options_.off_distance_m || heading_against;
    if (against) {
        if (against_ == 0) against_since_ = fix.time_s;
        ++against_;
    } else {
        against_ = 0;
    }

    if (step_.state == GuidanceState::off_route) {
        if (m.from_line_m < options_.back_distance_m && !heading_against) {
            step_.state = GuidanceState::on_route;
            segment_ = m.segment;
        }
    } else if (against && (against_ >= options_.off_fixes || fix.time_s - against_since_ >= options_.off_seconds)) {
        step_.state = GuidanceState::off_route;
        step_.left_now = true;
    } else if (!against) {
        segment_ = m.segment;
    }

    step_.segment = segment_;
    const Point& end = route_.line.back();
    if (step_.state == GuidanceState::on_route &&
        (geo::distance_m(fix.lat, fix.lon, end.lat, end.lon) <= options_.arrival_m ||
         (step_.remaining_m <= options_.arrival_m && m.from_line_m <= options_.arrival_m))) {
        step_.state = GuidanceState::arrived;
        step_.arrived_now = true;
        step_.next.reset();
        return step_;
    }

    // The first manoeuvre beyond the matched segment's start.
    step_.next.reset();
    for (std::size_t k = 0; k < route_.manoeuvres.size(); ++k) {
        const std::size_t at = std::min(route_.manoeuvres[k].line_index, cumulative_.size() - 1);
        if (at > segment_) {
            step_.next = k;
            step_.distance_to_next_m = std::max(0.0, cumulative_[at] - m.along_m);
            break;
        }
    }
    return step_;
}

std::string guidance_distance(double metres) {
    char text[32];
    if (metres < 995) {
        std::snprintf(text, sizeof text, "%d m", static_cast<int>(std::lround(metres / 10) * 10));
    } else {
        std::snprintf(text, sizeof text, "%.1f km", metres / 1000);
    }
    return text;
}

std::string guidance_text(const Route& route, const GuidanceStep& step) {
    switch (step.state) {
    case GuidanceState::arrived: return "Arrived";
    case GuidanceState::off_route: return "Off route";
    case GuidanceState::on_route: break;
    }
    if (!step.next || *step.next >= route.manoeuvres.size()) return {};
    std::string what = route.manoeuvres[*step.next].text;
    if (what.empty()) what = "Continue";
    // "Turn left onto High Street" becomes "turn left onto High Street" after the distance.
    if (what[0] >= 'A' && what[0] <= 'Z' && !(what.size() > 1 && what[1] >= 'A' && what[1] <= 'Z'))
        what[0] = static_cast<char>(what[0] - 'A' + 'a');
    return "In " + guidance_distance(step.distance_to_next_m) + " " + what;
}

}  // namespace vg::route
