// What the routers share: a request checked, waypoints named for the user, and a route put together
// point by point from a router's list (its manoeuvre texts, legs, distances and times).
// Pure; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "route/route.h"

namespace vg::route {

inline constexpr std::size_t kMaxWaypoints = 100;

// False with the reason when the request has fewer than two or more than kMaxWaypoints waypoints, or
// one that is not a position on the Earth.
bool check_request(const Request& request, std::string& error);

// "the start", "via-point 2", "the destination" (index `i` of `count` waypoints).
std::string waypoint_name(std::size_t i, std::size_t count);

// "north", "north-east", ... for a bearing in degrees.
const char* compass_word(double bearing_deg);

// The manoeuvre texts every router shares. The start of leg `leg` heading `bearing_deg`: "Head east
// on Mill Lane" (leg 0), "Via-point 2, then head north" (leg 2).
std::string depart_text(double bearing_deg, std::string_view street, std::size_t leg);
// "Enter the roundabout", "... and take exit 2", "... onto High Street".
std::string roundabout_entry_text(std::optional<long long> exit, std::string_view street);
// "Leave the roundabout", "Leave the roundabout onto Mill Lane".
std::string roundabout_exit_text(std::string_view street);

// Along-the-line distances: each manoeuvre's distance to the next, each leg's and the route's length,
// from geodesic distances between the points of the line.
void measure_route(Route& route);

class RouteBuilder {
public:
    enum class Kind { point, waypoint, turn, change, roundabout_entry, roundabout_exit, uturn };
    struct Step {
        Point at;
        double time_s = 0;    // from the start to here
        std::string street;   // of the way leaving this point ("" unnamed)
        int turn_deg = 0;     // at this point, left negative
        int bearing_deg = 0;  // of the way leaving this point
        Kind kind = Kind::point;
    };

    explicit RouteBuilder(Profile profile) { route_.profile = profile; }
    void add(const Step& step);
    // The route: its last waypoint is the arrival, the others start legs.
    Route finish();

private:
    void manoeuvre(const Step& step, std::string text, int turn_deg);

    Route route_;
    std::vector<double> times_;  // per line point
    std::vector<std::size_t> waypoint_manoeuvres_;
    std::string street_;
};

}  // namespace vg::route
