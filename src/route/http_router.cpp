#include "route/http_router.h"

#include <cmath>

#include <nlohmann/json.hpp>

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
    if (type == "depart" && first_step) {
        std::string t = std::string(leg == 0 ? "Head " : "Via-point " + std::to_string(leg) + ", then head ") +
                        compass_word(after);
        return street.empty() ? t : t + " on " + street;
    }
    if (type == "roundabout" || type == "rotary") {
        const auto exit = maneuver.find("exit");
        std::string t = "Enter the roundabout";
        if (exit != maneuver.end() && exit->is_number_integer())
            t += " and take exit " + std::to_string(exit->get<long long>());
        return street.empty() ? t : t + " onto " + street;
    }
    const int turn = static_cast<int>(std::lround(std::fmod(after - before + 540.0, 360.0) - 180.0));
    return turn_text(text(maneuver, "modifier") == "uturn" ? 180 : turn, street);
}

class HttpRouter final : public Router {
public:
    HttpRouter(std::unique_ptr<Fetcher> own, Fetcher& fetcher, FetchSettings settings, std::string base)
        : own_(std::move(own)), fetcher_(fetcher), settings_(std::move(settings)), base_(std::move(base)) {}

    std::optional<Route> route(const Request& request, const std::atomic<bool>* cancel,
                               std::string& error) override {
        if (!check_request(request, error)) return std::nullopt;
        FetchRequest fetch;
        fetch.url = osrm_url(base_, request);
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
            // OSRM answers "no route" and bad points with a 400 and its own message.
            const Json doc = Json::parse(result.body, nullptr, false);
            const std::string message = doc.is_object() ? text(doc, "message") : std::string();
            error = name() + ": " + (message.empty() ? std::string(fetch_situation(result)) : message);
            return std::nullopt;
        }
        auto route = parse_osrm_route(result.body, request.profile, error);
        if (!route) error = name() + ": " + error;
        return route;
    }

    std::string name() const override {
        std::string host = base_.substr(base_.find("://") + 3);
        host = host.substr(0, host.find('/'));
        return "OSRM at " + host;
    }

private:
    std::unique_ptr<Fetcher> own_;
    Fetcher& fetcher_;
    FetchSettings settings_;
    std::string base_;
};

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
    return route;
}

std::unique_ptr<Router> make_http_router(Fetcher& fetcher, const FetchSettings& settings, const std::string& url,
                                         std::string& error) {
#ifdef VG_NO_CURL
    (void)fetcher, (void)settings, (void)url;
    error = "an HTTP router is not available in this build (made without libcurl)";
    return nullptr;
#else
    if (!(url.starts_with("http://") || url.starts_with("https://")) || url.size() < 9 || url.size() > 512) {
        error = "\"" + url + "\" is not a router's address (http://HOST:PORT or https://HOST/PATH)";
        return nullptr;
    }
    return std::make_unique<HttpRouter>(nullptr, fetcher, settings, url);
#endif
}

std::unique_ptr<Router> make_http_router(const std::string& url, std::string& error) {
    FetcherOptions options;
    options.user_agent = vorglobal_user_agent();
    auto own = std::make_unique<Fetcher>(options);
    auto router = make_http_router(*own, FetchSettings{}, url, error);
    if (!router) return nullptr;
    Fetcher& fetcher = *own;
    return std::make_unique<HttpRouter>(std::move(own), fetcher, FetchSettings{}, url);
}

}  // namespace vg::route
