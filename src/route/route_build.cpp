#include "route/route_build.h"

#include <cmath>

#include "geo/geodesy.h"

namespace vg::route {

bool check_request(const Request& request, std::string& error) {
    if (request.waypoints.size() < 2) {
        error = "a route needs a start and a destination";
        return false;
    }
    if (request.waypoints.size() > kMaxWaypoints) {
        error = "a route takes at most " + std::to_string(kMaxWaypoints) + " points";
        return false;
    }
    for (std::size_t i = 0; i < request.waypoints.size(); ++i) {
        const Point& p = request.waypoints[i];
        if (!(std::fabs(p.lat) <= 90) || !(std::fabs(p.lon) <= 180)) {
            error = waypoint_name(i, request.waypoints.size()) + " is not a position on the Earth";
            return false;
        }
    }
    return true;
}

std::string waypoint_name(std::size_t i, std::size_t count) {
    if (i == 0) return "the start";
    if (i + 1 >= count) return "the destination";
    return "via-point " + std::to_string(i);
}

const char* compass_word(double bearing_deg) {
    static const char* const words[] = {"north", "north-east", "east", "south-east",
                                        "south", "south-west", "west", "north-west"};
    double b = std::fmod(bearing_deg, 360.0);
    if (!(b >= 0)) b = b < 0 ? b + 360.0 : 0.0;
    return words[static_cast<int>(std::floor(b / 45.0 + 0.5)) % 8];
}

std::string depart_text(double bearing_deg, std::string_view street, std::size_t leg) {
    std::string t = std::string(leg == 0 ? "Head " : "Via-point " + std::to_string(leg) + ", then head ") +
                    compass_word(bearing_deg);
    return street.empty() ? t : t + " on " + std::string(street);
}

std::string roundabout_entry_text(std::optional<long long> exit, std::string_view street) {
    std::string t = "Enter the roundabout";
    if (exit) t += " and take exit " + std::to_string(*exit);
    return street.empty() ? t : t + " onto " + std::string(street);
}

std::string roundabout_exit_text(std::string_view street) {
    return street.empty() ? std::string("Leave the roundabout") : "Leave the roundabout onto " + std::string(street);
}

void measure_route(Route& route) {
    std::vector<double> along(route.line.size(), 0.0);
    for (std::size_t i = 1; i < route.line.size(); ++i)
        along[i] = along[i - 1] + geo::distance_m(route.line[i - 1].lat, route.line[i - 1].lon, route.line[i].lat,
                                                  route.line[i].lon);
    auto at = [&](std::size_t index) { return along.empty() ? 0.0 : along[std::min(index, along.size() - 1)]; };
    for (std::size_t m = 0; m < route.manoeuvres.size(); ++m) {
        const std::size_t end = m + 1 < route.manoeuvres.size() ? route.manoeuvres[m + 1].line_index
                                                                : route.manoeuvres[m].line_index;
        route.manoeuvres[m].distance_m = at(end) - at(route.manoeuvres[m].line_index);
    }
    for (std::size_t l = 0; l < route.legs.size(); ++l) {
        const std::size_t first = route.legs[l].first_manoeuvre;
        const std::size_t last = l + 1 < route.legs.size() ? route.legs[l + 1].first_manoeuvre
                                                           : route.manoeuvres.size() - 1;
        if (first < route.manoeuvres.size() && last < route.manoeuvres.size())
            route.legs[l].length_m = at(route.manoeuvres[last].line_index) - at(route.manoeuvres[first].line_index);
    }
    route.length_m = along.empty() ? 0.0 : along.back();
}

void RouteBuilder::manoeuvre(const Step& step, std::string text, int turn_deg) {
    Manoeuvre m;
    m.at = step.at;
    m.text = std::move(text);
    m.street = step.street;
    m.turn_deg = turn_deg;
    m.line_index = route_.line.size() - 1;
    route_.manoeuvres.push_back(std::move(m));
}

void RouteBuilder::add(const Step& step) {
    route_.line.push_back(step.at);
    times_.push_back(step.time_s);
    switch (step.kind) {
        case Kind::point:
            // A street that becomes another without a junction.
            if (step.street.empty() || step.street == street_ || route_.line.size() < 2) return;
            manoeuvre(step, turn_text(step.turn_deg, step.street), step.turn_deg);
            break;
        case Kind::waypoint: {
            const std::size_t n = waypoint_manoeuvres_.size();
            waypoint_manoeuvres_.push_back(route_.manoeuvres.size());
            manoeuvre(step, depart_text(step.bearing_deg, step.street, n), 0);
            break;
        }
        case Kind::turn:
            if (step.street == street_ && std::abs(step.turn_deg) <= 20) return;
            manoeuvre(step, turn_text(step.turn_deg, step.street), step.turn_deg);
            break;
        case Kind::change:
            if (step.street.empty() || step.street == street_) return;
            manoeuvre(step, turn_text(step.turn_deg, step.street), step.turn_deg);
            break;
        case Kind::roundabout_entry: manoeuvre(step, roundabout_entry_text(std::nullopt, {}), step.turn_deg); break;
        case Kind::roundabout_exit: manoeuvre(step, roundabout_exit_text(step.street), step.turn_deg); break;
        case Kind::uturn: manoeuvre(step, "Make a U-turn", 180); break;
    }
    street_ = step.street;
}

Route RouteBuilder::finish() {
    if (route_.line.empty()) return std::move(route_);
    // The last waypoint is the arrival.
    if (!waypoint_manoeuvres_.empty() && waypoint_manoeuvres_.back() == route_.manoeuvres.size() - 1 &&
        waypoint_manoeuvres_.size() > 1) {
        waypoint_manoeuvres_.pop_back();
        route_.manoeuvres.pop_back();
    }
    Manoeuvre arrive;
    arrive.at = route_.line.back();
    arrive.text = "Arrive";
    arrive.line_index = route_.line.size() - 1;
    route_.manoeuvres.push_back(std::move(arrive));
    for (const std::size_t m : waypoint_manoeuvres_) route_.legs.push_back(Leg{0, 0, m});
    if (route_.legs.empty()) route_.legs.push_back(Leg{});
    measure_route(route_);
    auto time_at = [&](const Manoeuvre& m) { return times_[std::min(m.line_index, times_.size() - 1)]; };
    for (std::size_t m = 0; m + 1 < route_.manoeuvres.size(); ++m)
        route_.manoeuvres[m].time_s = time_at(route_.manoeuvres[m + 1]) - time_at(route_.manoeuvres[m]);
    for (std::size_t l = 0; l < route_.legs.size(); ++l) {
        const std::size_t last = l + 1 < route_.legs.size() ? route_.legs[l + 1].first_manoeuvre
                                                            : route_.manoeuvres.size() - 1;
        route_.legs[l].time_s = time_at(route_.manoeuvres[last]) - time_at(route_.manoeuvres[route_.legs[l].first_manoeuvre]);
    }
    route_.time_s = times_.back() - times_.front();
    return std::move(route_);
}

}  // namespace vg::route
