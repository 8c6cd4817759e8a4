#include "route/http_router.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#include <nlohmann/json.hpp>

#include "geo/geodesy.h"
#include "net/base_link.h"
#include "platform/c_number.h"
#include "route/fetch_wait.h"
#include "route/route_build.h"
#include "settings/settings_file.h"

namespace vg::route {
namespace {

using Json = nlohmann::json;

const char* osrm_profile(Profile profile) {
    switch (profile) {
        case Profile::car: return "driving";
        case Profile::bicycle: return "cycling";
        case Profile::foot: return "walking";
    }
    return "driving";
}

double number(const Json& object, const char* key) {
    const auto it = object.find(key);
    return it != object.end() && it->is_number() ? it->get<double>() : 0.0;
}

std::string text(const Json& object, const char* key) {
    const auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

std::optional<Point> point_of(const Json& pair) {
    if (!pair.is_array() || pair.size() < 2 || !pair[0].is_number() || !pair[1].is_number()) return std::nullopt;
    const Point p{pair[1].get<double>(), pair[0].get<double>()};
    if (!(std::fabs(p.lat) <= 90) || !(std::fabs(p.lon) <= 180)) return std::nullopt;
    return p;
}

// The manoeuvre's text from OSRM's type and its bearings before and after.
std::string step_text(const Json& maneuver, const std::string& street, std::size_t leg, bool first_step) {
    const std::string type = text(maneuver, "type");
    const double before = number(maneuver, "bearing_before"), after = number(maneuver, "bearing_after");
    if (type == "depart" && first_step) return depart_text(after, street, leg);
    if (type == "roundabout" || type == "rotary") {
        const auto exit = maneuver.find("exit");
        return roundabout_entry_text(exit != maneuver.end() && exit->is_number_integer()
                                         ? std::optional<long long>(exit->get<long long>())
                                         : std::nullopt,
                                     street);
    }
    const int turn = static_cast<int>(std::lround(std::fmod(after - before + 540.0, 360.0) - 180.0));
    return turn_text(text(maneuver, "modifier") == "uturn" ? 180 : turn, street);
}

// depart_text for a leg starting at line[at], heading to the next point that is not the same.
std::string depart_from(const std::vector<Point>& line, std::size_t at, const std::string& street, std::size_t leg) {
    double bearing = 0;
    for (std::size_t i = at + 1; i < line.size(); ++i)
        if (line[i].lat != line[at].lat || line[i].lon != line[at].lon) {
            bearing = geo::inverse(line[at].lat, line[at].lon, line[i].lat, line[i].lon).bearing_deg;
            break;
        }
    return depart_text(bearing, street, leg);
}

// A roundabout's exit number as Valhalla and GraphHopper give it (none unless positive).
std::optional<long long> exit_number(long long exit) { return exit > 0 ? std::optional<long long>(exit) : std::nullopt; }

// A whole number of the answer, held within ±1e15 (a cast of a larger double is undefined); 0 when
// the value is missing or not a number.
long long whole(const Json& value) {
    if (!value.is_number()) return 0;
    const double v = value.get<double>();
    return v >= -1e15 && v <= 1e15 ? static_cast<long long>(v) : v > 0 ? 1000000000000000LL : -1000000000000000LL;
}

long long integer(const Json& object, const char* key) {
    const auto it = object.find(key);
    return it != object.end() ? whole(*it) : 0;
}

// An encoded polyline (Google's form; Valhalla's has 6 decimals); nullopt when it is not one.
std::optional<std::vector<Point>> decode_polyline(std::string_view text, double scale) {
    std::vector<Point> points;
    std::int64_t lat = 0, lon = 0;
    std::size_t i = 0;
    auto next = [&](std::int64_t& value) {
        std::uint64_t result = 0;
        int shift = 0;
        for (;;) {
            if (i >= text.size() || shift > 60) return false;
            const int c = static_cast<unsigned char>(text[i++]) - 63;
            if (c < 0 || c > 63) return false;
            result |= static_cast<std::uint64_t>(c & 0x1f) << shift;
            shift += 5;
            if (c < 0x20) break;
        }
        const std::int64_t delta = (result & 1) ? ~static_cast<std::int64_t>(result >> 1) : static_cast<std::int64_t>(result >> 1);
        if (delta > (std::int64_t{1} << 40) || delta < -(std::int64_t{1} << 40)) return false;
        value += delta;
        return true;
    };
    while (i < text.size()) {
        if (!next(lat) || !next(lon)) return std::nullopt;
        const Point p{static_cast<double>(lat) / scale, static_cast<double>(lon) / scale};
        if (!(std::fabs(p.lat) <= 90) || !(std::fabs(p.lon) <= 180)) return std::nullopt;
        points.push_back(p);
    }
    return points;
}

// Appends `points` to the route's line (a first point equal to the line's last is shared) and gives
// the line index of points[0].
std::size_t append_points(Route& route, const std::vector<Point>& points) {
    std::size_t first = route.line.size();
    for (std::size_t i = 0; i < points.size(); ++i) {
        const Point& p = points[i];
        if (!route.line.empty() && route.line.back().lat == p.lat && route.line.back().lon == p.lon) {
            if (i == 0) first = route.line.size() - 1;
            continue;
        }
        route.line.push_back(p);
    }
    return first;
}

// Valhalla's maneuver types as changes of heading (left negative).
int valhalla_turn(long long type) {
    switch (type) {
        case 9: case 18: case 20: case 23: return 30;      // slight right, ramp, exit, stay right
        case 10: return 90;                                 // right
        case 11: return 135;                                // sharp right
        case 12: return 180;                                // U-turn right
        case 13: return -180;                               // U-turn left
        case 14: return -135;                               // sharp left
        case 15: return -90;                                // left
        case 16: case 19: case 21: case 24: return -30;     // slight left, ramp, exit, stay left
        default: return 0;                                  // becomes, continue, straight, merge, ferry
    }
}

// GraphHopper's instruction signs as changes of heading.
int graphhopper_turn(long long sign) {
    switch (sign) {
        case -98: case 8: return 180;
        case -8: return -180;
        case -7: case -1: return -30;
        case -3: return -135;
        case -2: return -90;
        case 1: case 7: return 30;
        case 2: return 90;
        case 3: return 135;
        default: return 0;
    }
}

// A route that ends in a manoeuvre at its last point, and lengths and times that are numbers.
std::optional<Route> finished(Route route, std::string& error) {
    if (route.line.size() < 2 || route.manoeuvres.empty()) {
        error = "the answer's route has no line";
        return std::nullopt;
    }
    if (route.manoeuvres.back().text != "Arrive") {
        Manoeuvre arrive;
        arrive.at = route.line.back();
        arrive.text = "Arrive";
        arrive.line_index = route.line.size() - 1;
        route.manoeuvres.push_back(std::move(arrive));
    }
    if (route.legs.empty()) route.legs.push_back(Leg{route.length_m, route.time_s, 0});
    return route;
}

class HttpRouter final : public Router {
public:
    HttpRouter(std::unique_ptr<Fetcher> own, Fetcher& fetcher, FetchSettings settings, RouterKind kind,
               std::string base)
        : own_(std::move(own)), fetcher_(fetcher), settings_(std::move(settings)), kind_(kind), base_(std::move(base)) {}

    std::optional<Route> route(const Request& request, const std::atomic<bool>* cancel,
                               std::string& error) override {
        if (!check_request(request, error)) return std::nullopt;
        FetchRequest fetch;
        fetch.url = kind_ == RouterKind::valhalla      ? valhalla_url(base_, request)
                    : kind_ == RouterKind::graphhopper ? graphhopper_url(base_, request)
                                                       : osrm_url(base_, request);
        fetch.limits = TransferLimits::other();
        fetch.limits.max_body = 64 * kMiB;
        fetch.quiet = true;
        settings_.apply_to(fetch);
        FetchResult result = fetch_cancellable(fetcher_, std::move(fetch), cancel);
        if (result.outcome == FetchOutcome::cancelled) {
            error = "cancelled";
            return std::nullopt;
        }
        if (!result.ok()) {
            // Each answers "no route" and bad points with a 400 and its own message.
            const Json doc = Json::parse(result.body, nullptr, false);
            const std::string message =
                doc.is_object() ? text(doc, kind_ == RouterKind::valhalla ? "error" : "message") : std::string();
            error = name() + ": " + (message.empty() ? std::string(fetch_situation(result)) : message);
            return std::nullopt;
        }
        auto route = kind_ == RouterKind::valhalla      ? parse_valhalla_route(result.body, request.profile, error)
                     : kind_ == RouterKind::graphhopper ? parse_graphhopper_route(result.body, request.profile, error)
                                                        : parse_osrm_route(result.body, request.profile, error);
        if (!route) error = name() + ": " + error;
        return route;
    }

    std::string name() const override {
        std::string host = base_.substr(base_.find("://") + 3);
        host = host.substr(0, host.find('/'));
        const char* kind = kind_ == RouterKind::valhalla ? "Valhalla" : kind_ == RouterKind::graphhopper ? "GraphHopper" : "OSRM";
        return std::string(kind) + " at " + host;
    }

private:
    std::unique_ptr<Fetcher> own_;
    Fetcher& fetcher_;
    FetchSettings settings_;
    RouterKind kind_;
    std::string base_;
};

// "valhalla:http://..." and the like: the kind and the URL.
std::pair<RouterKind, std::string> router_kind(const std::string& setting) {
    for (const auto& [prefix, kind] : {std::pair{"osrm:", RouterKind::osrm}, std::pair{"valhalla:", RouterKind::valhalla},
                                       std::pair{"graphhopper:", RouterKind::graphhopper}})
        if (setting.starts_with(prefix)) return {kind, setting.substr(std::string_view(prefix).size())};
    return {RouterKind::osrm, setting};
}

}  // namespace

std::string read_router_setting(const std::filesystem::path& dir) {
    const auto v = setting_value(dir / kIniFile, "router=");
    if (!v) return {};
    const auto first = v->find_first_not_of(" \t\r\n");
    return first == std::string::npos ? std::string() : v->substr(first, v->find_last_not_of(" \t\r\n") - first + 1);
}

std::string osrm_url(std::string_view base, const Request& request) {
    std::string url(base);
    while (!url.empty() && url.back() == '/') url.pop_back();
    url += "/route/v1/" + std::string(osrm_profile(request.profile)) + "/";
    for (std::size_t i = 0; i < request.waypoints.size(); ++i) {
        if (i) url += ';';
        url += fixed_text(request.waypoints[i].lon, 6) + "," + fixed_text(request.waypoints[i].lat, 6);
    }
    return url + "?steps=true&overview=full&geometries=geojson";
}

std::string valhalla_url(std::string_view base, const Request& request) {
    std::string url(base);
    while (!url.empty() && url.back() == '/') url.pop_back();
    std::string json = "{\"locations\":[";
    for (std::size_t i = 0; i < request.waypoints.size(); ++i) {
        if (i) json += ',';
        json += "{\"lat\":" + fixed_text(request.waypoints[i].lat, 6) + ",\"lon\":" + fixed_text(request.waypoints[i].lon, 6) + "}";
    }
    const char* costing = request.profile == Profile::bicycle ? "bicycle" : request.profile == Profile::foot ? "pedestrian" : "auto";
    json += "],\"costing\":\"" + std::string(costing) + "\",\"directions_options\":{\"units\":\"kilometers\"}}";
    return url + "/route?json=" + form_encoded(json);
}

std::string graphhopper_url(std::string_view base, const Request& request) {
    std::string url(base);
    while (!url.empty() && url.back() == '/') url.pop_back();
    url += "/route?";
    for (const Point& p : request.waypoints) url += "point=" + fixed_text(p.lat, 6) + "%2C" + fixed_text(p.lon, 6) + "&";
    const char* profile = request.profile == Profile::bicycle ? "bike" : request.profile == Profile::foot ? "foot" : "car";
    return url + "profile=" + profile + "&points_encoded=false&instructions=true&locale=en";
}

std::optional<Route> parse_valhalla_route(std::string_view body, Profile profile, std::string& error) {
    const Json doc = Json::parse(body.begin(), body.end(), nullptr, false);
    if (!doc.is_object()) {
        error = "the answer is not Valhalla's JSON";
        return std::nullopt;
    }
    const auto trip = doc.find("trip");
    if (trip == doc.end() || !trip->is_object() || !trip->contains("legs") || !(*trip)["legs"].is_array()) {
        const std::string message = text(doc, "error");
        error = message.empty() ? "the answer holds no route" : message;
        return std::nullopt;
    }
    Route route;
    route.profile = profile;
    if (const auto summary = trip->find("summary"); summary != trip->end() && summary->is_object()) {
        route.length_m = number(*summary, "length") * 1000;
        route.time_s = number(*summary, "time");
    }
    const Json& legs = (*trip)["legs"];
    for (std::size_t l = 0; l < legs.size(); ++l) {
        const Json& leg = legs[l];
        if (!leg.is_object()) continue;
        const auto shape = decode_polyline(text(leg, "shape"), 1e6);
        if (!shape || shape->empty()) {
            error = "leg " + std::to_string(l + 1) + " has no shape";
            return std::nullopt;
        }
        const std::size_t first = append_points(route, *shape);
        Leg out{0, 0, route.manoeuvres.size()};
        if (const auto summary = leg.find("summary"); summary != leg.end() && summary->is_object()) {
            out.length_m = number(*summary, "length") * 1000;
            out.time_s = number(*summary, "time");
        }
        route.legs.push_back(out);
        const auto maneuvers = leg.find("maneuvers");
        if (maneuvers == leg.end() || !maneuvers->is_array()) continue;
        for (const Json& m : *maneuvers) {
            if (!m.is_object()) continue;
            const long long type = integer(m, "type");
            const bool arrive = type >= 4 && type <= 6;
            if (arrive && l + 1 < legs.size()) continue;  // the next leg's start names the via-point
            const long long index = std::clamp<long long>(integer(m, "begin_shape_index"), 0,
                                                          static_cast<long long>(shape->size()) - 1);
            Manoeuvre out_m;
            out_m.line_index = std::min(first + static_cast<std::size_t>(index), route.line.size() - 1);
            out_m.at = route.line[out_m.line_index];
            if (const auto names = m.find("street_names");
                names != m.end() && names->is_array() && !names->empty() && (*names)[0].is_string())
                out_m.street = (*names)[0].get<std::string>();
            if (arrive) {
                out_m.text = "Arrive";
                out_m.street.clear();
            } else if (type >= 1 && type <= 3) {
                out_m.text = depart_from(route.line, out_m.line_index, out_m.street, l);
            } else if (type == 26) {
                out_m.text = roundabout_entry_text(exit_number(integer(m, "roundabout_exit_count")), out_m.street);
            } else if (type == 27) {
                out_m.text = roundabout_exit_text(out_m.street);
            } else {
                out_m.turn_deg = valhalla_turn(type);
                out_m.text = turn_text(out_m.turn_deg, out_m.street);
            }
            out_m.distance_m = number(m, "length") * 1000;
            out_m.time_s = number(m, "time");
            route.manoeuvres.push_back(std::move(out_m));
        }
    }
    return finished(std::move(route), error);
}

std::optional<Route> parse_graphhopper_route(std::string_view body, Profile profile, std::string& error) {
    const Json doc = Json::parse(body.begin(), body.end(), nullptr, false);
    if (!doc.is_object()) {
        error = "the answer is not GraphHopper's JSON";
        return std::nullopt;
    }
    const auto paths = doc.find("paths");
    if (paths == doc.end() || !paths->is_array() || paths->empty() || !(*paths)[0].is_object()) {
        const std::string message = text(doc, "message");
        error = message.empty() ? "the answer holds no route" : message;
        return std::nullopt;
    }
    const Json& path = (*paths)[0];
    Route route;
    route.profile = profile;
    route.length_m = number(path, "distance");
    route.time_s = number(path, "time") / 1000;
    if (const auto points = path.find("points");
        points != path.end() && points->is_object() && points->contains("coordinates") && (*points)["coordinates"].is_array()) {
        std::vector<Point> line;
        for (const Json& pair : (*points)["coordinates"]) {
            const auto p = point_of(pair);
            if (!p) {
                error = "the answer's points are not positions (points_encoded=false is asked)";
                return std::nullopt;
            }
            line.push_back(*p);
        }
        append_points(route, line);
    }
    if (route.line.size() < 2) {
        error = "the answer's route has no line";
        return std::nullopt;
    }
    const auto instructions = path.find("instructions");
    if (instructions == path.end() || !instructions->is_array()) {
        error = "the answer has no instructions (instructions=true is asked)";
        return std::nullopt;
    }
    route.legs.push_back(Leg{0, 0, 0});
    std::size_t skip_at = SIZE_MAX;  // the instruction at a via-point that its manoeuvre stands for
    for (std::size_t i = 0; i < instructions->size(); ++i) {
        const Json& in = (*instructions)[i];
        if (!in.is_object()) continue;
        const long long sign = integer(in, "sign");
        long long index = 0;
        if (const auto interval = in.find("interval"); interval != in.end() && interval->is_array() && !interval->empty())
            index = whole((*interval)[0]);
        Manoeuvre m;
        m.line_index = static_cast<std::size_t>(std::clamp<long long>(index, 0, static_cast<long long>(route.line.size()) - 1));
        m.at = route.line[m.line_index];
        m.street = text(in, "street_name");
        m.distance_m = number(in, "distance");
        m.time_s = number(in, "time") / 1000;
        route.legs.back().length_m += m.distance_m;
        route.legs.back().time_s += m.time_s;
        if (m.line_index == skip_at) {
            route.manoeuvres.back().text = depart_from(route.line, m.line_index, m.street, route.legs.size() - 1);
            route.manoeuvres.back().street = m.street;
            route.manoeuvres.back().distance_m += m.distance_m;
            route.manoeuvres.back().time_s += m.time_s;
            skip_at = SIZE_MAX;
            continue;
        }
        skip_at = SIZE_MAX;
        if (sign == 4) {
            m.text = "Arrive";
            m.street.clear();
        } else if (sign == 5) {  // a via-point reached: the next leg starts here
            route.legs.back().length_m -= m.distance_m;
            route.legs.back().time_s -= m.time_s;
            route.legs.push_back(Leg{m.distance_m, m.time_s, route.manoeuvres.size()});
            m.street.clear();
            m.text = depart_from(route.line, m.line_index, m.street, route.legs.size() - 1);
            skip_at = m.line_index;
        } else if (route.manoeuvres.empty()) {
            m.text = depart_from(route.line, m.line_index, m.street, 0);
        } else if (sign == 6) {
            m.text = roundabout_entry_text(exit_number(integer(in, "exit_number")), m.street);
        } else if (sign == -6) {
            m.text = roundabout_exit_text(m.street);
        } else {
            m.turn_deg = graphhopper_turn(sign);
            m.text = turn_text(m.turn_deg, m.street);
        }
        route.manoeuvres.push_back(std::move(m));
    }
    return finished(std::move(route), error);
}

std::optional<Route> parse_osrm_route(std::string_view body, Profile profile, std::string& error) {
    const Json doc = Json::parse(body.begin(), body.end(), nullptr, false);
    if (!doc.is_object()) {
        error = "the answer is not OSRM's JSON";
        return std::nullopt;
    }
    if (text(doc, "code") != "Ok") {
        const std::string message = text(doc, "message");
        error = message.empty() ? "no route (" + text(doc, "code") + ")" : message;
        return std::nullopt;
    }
    const auto routes = doc.find("routes");
    if (routes == doc.end() || !routes->is_array() || routes->empty() || !(*routes)[0].is_object() ||
        !(*routes)[0].contains("legs") || !(*routes)[0]["legs"].is_array()) {
        error = "the answer holds no route";
        return std::nullopt;
    }
    const Json& first = (*routes)[0];
    Route route;
    route.profile = profile;
    route.length_m = number(first, "distance");
    route.time_s = number(first, "duration");
    const Json& legs = first["legs"];
    for (std::size_t l = 0; l < legs.size(); ++l) {
        const Json& leg = legs[l];
        if (!leg.is_object()) continue;
        route.legs.push_back(Leg{number(leg, "distance"), number(leg, "duration"), route.manoeuvres.size()});
        const auto steps = leg.find("steps");
        if (steps == leg.end() || !steps->is_array()) continue;
        for (std::size_t s = 0; s < steps->size(); ++s) {
            const Json& step = (*steps)[s];
            if (!step.is_object()) continue;
            const auto maneuver = step.find("maneuver");
            if (maneuver == step.end() || !maneuver->is_object()) continue;
            const bool arrive = text(*maneuver, "type") == "arrive";
            if (arrive && l + 1 < legs.size()) continue;  // the next leg's departure names the via-point
            // The step's points, the first of which is where the manoeuvre is (the last point of
            // the step before).
            const auto geometry = step.find("geometry");
            std::vector<Point> points;
            if (geometry != step.end() && geometry->is_object() && geometry->contains("coordinates") &&
                (*geometry)["coordinates"].is_array())
                for (const Json& pair : (*geometry)["coordinates"])
                    if (const auto p = point_of(pair)) points.push_back(*p);
            if (points.empty()) {
                if (const auto p = point_of(maneuver->value("location", Json()))) points.push_back(*p);
                else continue;
            }
            const bool joins = !route.line.empty() && route.line.back().lat == points.front().lat &&
                               route.line.back().lon == points.front().lon;
            Manoeuvre m;
            m.at = points.front();
            m.line_index = joins ? route.line.size() - 1 : route.line.size();
            for (const Point& p : points)
                if (route.line.empty() || route.line.back().lat != p.lat || route.line.back().lon != p.lon)
                    route.line.push_back(p);
            m.street = text(step, "name");
            m.text = arrive ? "Arrive" : step_text(*maneuver, m.street, l, s == 0);
            if (arrive) m.street.clear();
            const double before = number(*maneuver, "bearing_before"), after = number(*maneuver, "bearing_after");
            m.turn_deg = arrive || s == 0 ? 0 : static_cast<int>(std::lround(std::fmod(after - before + 540.0, 360.0) - 180.0));
            m.distance_m = number(step, "distance");
            m.time_s = number(step, "duration");
            route.manoeuvres.push_back(std::move(m));
        }
    }
    return finished(std::move(route), error);
}

std::unique_ptr<Router> make_http_router(Fetcher& fetcher, const FetchSettings& settings, const std::string& url,
                                         std::string& error) {
#ifdef VG_NO_CURL
    (void)fetcher, (void)settings, (void)url;
    error = "an HTTP router is not available in this build (made without libcurl)";
    return nullptr;
#else
    const auto [kind, base] = router_kind(url);
    if (!(base.starts_with("http://") || base.starts_with("https://")) || base.size() < 9 || base.size() > 512) {
        error = "\"" + url + "\" is not a router's address ([osrm:|valhalla:|graphhopper:]http://HOST:PORT or https://HOST/PATH)";
        return nullptr;
    }
    return std::make_unique<HttpRouter>(nullptr, fetcher, settings, kind, base);
#endif
}

std::unique_ptr<Router> make_http_router(const std::string& url, std::string& error) {
    FetcherOptions options;
    options.user_agent = vorglobal_user_agent();
    auto own = std::make_unique<Fetcher>(options);
    auto router = make_http_router(*own, FetchSettings{}, url, error);
    if (!router) return nullptr;
    Fetcher& fetcher = *own;
    const auto [kind, base] = router_kind(url);
    return std::make_unique<HttpRouter>(std::move(own), fetcher, FetchSettings{}, kind, base);
}

}  // namespace vg::route
