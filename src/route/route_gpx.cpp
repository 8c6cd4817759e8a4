#include "route/route_gpx.h"

#include <cmath>

#include "geo/geodesy.h"
#include "platform/c_number.h"
#include "route/route_build.h"
#include "track/gpx.h"

namespace vg::route {
namespace {

// The schema's longitudes run from -180 up to, not including, 180.
std::string position(const Point& p) {
    return "lat=\"" + fixed_text(p.lat, 7) + "\" lon=\"" + fixed_text(p.lon >= 180.0 ? p.lon - 360.0 : p.lon, 7) + "\"";
}

std::string distance_text(double m) {
    return m < 1000 ? fixed_text(std::round(m), 0) + " m" : fixed_text(m / 1000.0, 1) + " km";
}

std::vector<Point> points_of(const std::vector<GpxPoint>& line) {
    std::vector<Point> out;
    out.reserve(line.size());
    for (const auto& p : line) out.push_back({p.latitude, p.longitude});
    return out;
}

double gap_m(const Point& a, const Point& b) { return geo::distance_m(a.lat, a.lon, b.lat, b.lon); }

// The change of heading at line[i], from the way in to the way out (left negative).
int turn_at(const std::vector<Point>& line, std::size_t i) {
    if (i == 0 || i + 1 >= line.size()) return 0;
    const double in = geo::inverse(line[i - 1].lat, line[i - 1].lon, line[i].lat, line[i].lon).final_bearing_deg;
    const double out = geo::inverse(line[i].lat, line[i].lon, line[i + 1].lat, line[i + 1].lon).bearing_deg;
    double turn = std::fmod(out - in + 540.0, 360.0) - 180.0;
    return static_cast<int>(std::lround(turn));
}

}  // namespace

std::string route_to_gpx(const Route& route, std::string_view name) {
    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<gpx version=\"1.1\" creator=\"VorGlobal " VG_VERSION "\" xmlns=\"http://www.topografix.com/GPX/1/1\""
        " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""
        " xsi:schemaLocation=\"http://www.topografix.com/GPX/1/1 http://www.topografix.com/GPX/1/1/gpx.xsd\">\n";
    const std::string summary = distance_text(route.length_m) + ", " +
                                fixed_text(std::round(route.time_s / 60.0), 0) + " min by " +
                                profile_name(route.profile);
    out += "  <rte>\n    <name>" + xml_escaped(name) + "</name>\n    <desc>" + summary + "</desc>\n";
    out += "    <type>" + std::string(profile_name(route.profile)) + "</type>\n";
    for (const Manoeuvre& m : route.manoeuvres) {
        out += "    <rtept " + position(m.at) + "><name>" + xml_escaped(m.text) + "</name>";
        if (m.distance_m > 0) out += "<desc>" + distance_text(m.distance_m) + "</desc>";
        out += "</rtept>\n";
    }
    out += "  </rte>\n";
    if (!route.line.empty()) {
        out += "  <trk>\n    <name>" + xml_escaped(name) + "</name>\n    <trkseg>\n";
        for (const Point& p : route.line) out += "      <trkpt " + position(p) + "/>\n";
        out += "    </trkseg>\n  </trk>\n";
    }
    out += "</gpx>\n";
    return out;
}

std::optional<Route> route_from_gpx(std::string_view gpx_bytes, std::string& error) {
    GpxData data;
    if (!read_gpx(gpx_bytes, data, error)) return std::nullopt;
    Route route;
    std::vector<Point> stops;
    std::vector<std::string> names;
    if (!data.routes.empty() && data.lines[data.routes.front().line].size() >= 2) {
        stops = points_of(data.lines[data.routes.front().line]);
        names = data.routes.front().names;
        // A track that runs from the route's first point to its last is its line (a route written here).
        route.line = stops;
        for (const auto& line : data.lines) {
            if (line.size() < 2 || &line == &data.lines[data.routes.front().line]) continue;
            const auto points = points_of(line);
            if (gap_m(points.front(), stops.front()) < 50 && gap_m(points.back(), stops.back()) < 50) {
                route.line = points;
                break;
            }
        }
    } else {
        for (const auto& line : data.lines)
            if (line.size() >= 2) {
                route.line = points_of(line);
                stops = {route.line.front(), route.line.back()};
                break;
            }
    }
    if (route.line.size() < 2) {
        error = "the file holds no route or track of at least two points";
        return std::nullopt;
    }
    // Each stop on the line, in order: the nearest point from the previous stop on.
    std::size_t from = 0;
    for (std::size_t s = 0; s < stops.size(); ++s) {
        std::size_t best = from;
        double best_gap = INFINITY;
        for (std::size_t i = from; i < route.line.size(); ++i) {
            const double gap = gap_m(route.line[i], stops[s]);
            if (gap < best_gap) best = i, best_gap = gap;
        }
        if (s + 1 == stops.size()) best = route.line.size() - 1;
        Manoeuvre m;
        m.at = route.line[best];
        m.line_index = best;
        m.turn_deg = s + 1 == stops.size() ? 0 : turn_at(route.line, best);
        m.text = s < names.size() && !names[s].empty() ? names[s]
                 : s == 0                             ? "Start"
                 : s + 1 == stops.size()              ? "Arrive"
                                                      : turn_text(m.turn_deg, "");
        route.manoeuvres.push_back(std::move(m));
        from = best;
    }
    route.legs.push_back(Leg{});
    measure_route(route);
    return route;
}

}  // namespace vg::route
