// Guidance along a route: each fix placed on the route's line, the next manoeuvre and the distance to
// it along the line, leaving the route (too far from the line, or heading against it, for a few
// fixes or seconds; back on when close again) and arrival. Pure and toolkit-free.
// Threads: one Guidance is used from one thread at a time. Failure: a fix with a position that is
// not finite is ignored (the last step is given again); a route with fewer than two points arrives
// at once.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "route/route.h"

namespace vg::route {

struct GuidanceFix {
    double lat = 0;
    double lon = 0;
    double course_deg = -1;  // clockwise from north; negative when unknown
    double speed_mps = 0;
    double time_s = 0;       // any steady clock, in seconds
};

struct GuidanceOptions {
    double off_distance_m = 40;    // farther than this from the line counts against the route
    double back_distance_m = 20;   // closer than this (heading along) is on the route again
    int off_fixes = 3;             // this many fixes in a row against the route leave it...
    double off_seconds = 5;        // ...or fixes against it for this long
    double heading_limit_deg = 100;  // a course this far from the line's direction is against it
    double heading_speed_mps = 2;  // the course counts only at this speed or more
    double arrival_m = 25;         // this close to the end is arrival
};

enum class GuidanceState { on_route, off_route, arrived };

struct GuidanceStep {
    GuidanceState state = GuidanceState::on_route;
    bool left_now = false;     // this fix decided that the route was left
    bool arrived_now = false;  // this fix arrived
    // The next manoeuvre ahead (index in Route::manoeuvres) and the distance to it along the line.
    std::optional<std::size_t> next;
    double distance_to_next_m = 0;
    double from_line_m = 0;    // the fix's distance from the line
    double remaining_m = 0;    // along the line to the end
    std::size_t segment = 0;   // the line's segment the route was last followed on
};

class Guidance {
public:
    explicit Guidance(Route route, GuidanceOptions options = {});
    const GuidanceStep& update(const GuidanceFix& fix);
    const GuidanceStep& last() const { return step_; }
    const Route& route() const { return route_; }

private:
    struct Match {
        std::size_t segment = 0;
        double along_m = 0;  // from the start of the line
        double from_line_m = 0;
        double bearing_deg = 0;  // of the segment
    };
    Match match(const GuidanceFix& fix) const;

    Route route_;
    GuidanceOptions options_;
    std::vector<double> cumulative_;  // along the line to each point
    std::size_t segment_ = 0;         // the segment matched last (progress never goes far back)
    int against_ = 0;                 // fixes in a row against the route
    double against_since_ = 0;
    GuidanceStep step_;
};

// The message line's text of a step: "In 300 m turn left onto High Street", "Arrived", "Off route".
std::string guidance_text(const Route& route, const GuidanceStep& step);
// A distance as guidance says it: 10 m steps below 1 km ("In 50 m"), then tenths of a kilometre.
std::string guidance_distance(double metres);

}  // namespace vg::route
