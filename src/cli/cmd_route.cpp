// vortool route: a route between positions, as JSON or GPX, from the routing data of the maps folder
// or an HTTP router (OSRM, Valhalla, GraphHopper).
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "cli/commands.h"
#include "cli/fix_json.h"
#include "platform/c_number.h"
#include "route/http_router.h"
#include "route/route_gpx.h"
#include "route/routing_data.h"
#include "search/coordinates.h"
#include "tiles/tile_naming.h"

namespace vg::cli {
namespace {

bool write_out(const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
}

std::string route_json(const route::Route& r, const std::string& router) {
    std::string out = "{\"profile\":\"" + std::string(route::profile_name(r.profile)) + "\",\"router\":";
    append_json_string(out, router, JsonText::utf8);
    out += ",\"length_m\":" + fixed_text(r.length_m, 1) + ",\"time_s\":" + fixed_text(r.time_s, 1) + ",\"legs\":[";
    for (std::size_t i = 0; i < r.legs.size(); ++i)
        out += std::string(i ? "," : "") + "{\"length_m\":" + fixed_text(r.legs[i].length_m, 1) +
               ",\"time_s\":" + fixed_text(r.legs[i].time_s, 1) + "}";
    out += "],\"manoeuvres\":[";
    for (std::size_t i = 0; i < r.manoeuvres.size(); ++i) {
        const auto& m = r.manoeuvres[i];
        out += std::string(i ? "," : "") + "{\"lat\":" + fixed_text(m.at.lat, 6) + ",\"lon\":" + fixed_text(m.at.lon, 6) +
               ",\"text\":";
        append_json_string(out, m.text, JsonText::utf8);
        out += ",\"street\":";
        append_json_string(out, m.street, JsonText::utf8);
        out += ",\"turn_deg\":" + std::to_string(m.turn_deg) + ",\"distance_m\":" + fixed_text(m.distance_m, 1) + "}";
    }
    out += "],\"line\":[";
    for (std::size_t i = 0; i < r.line.size(); ++i)
        out += std::string(i ? "," : "") + "[" + fixed_text(r.line[i].lat, 6) + "," + fixed_text(r.line[i].lon, 6) + "]";
    return out + "]}\n";
}

// The region to route in: the one named, or the only one there is.
std::optional<std::string> pick_region(const std::string& maps, const std::string& named, std::string& error) {
    if (!named.empty()) return named;
    const auto all = route::regions(maps);
    if (all.size() == 1) return all.front();
    error = all.empty() ? "no routing data in " + maps + "/routing (vortool routing build)"
                        : "there are routing data of several regions: name one with --region";
    return std::nullopt;
}

}  // namespace

int run_route(int argc, char** argv) {
    std::vector<route::Point> points;
    std::vector<route::Point> via;
    route::Request request;
    std::string maps = kDefaultMapsDir, region, router_url;
    bool gpx = false;
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--profile" || arg == "--via" || arg == "--maps" || arg == "--region" || arg == "--router") {
            if (!has_value || !*argv[i + 1]) return usage_error("route", "a value is required after", argv[i]);
            const std::string value = argv[++i];
            if (arg == "--profile") {
                const auto p = route::profile_from_name(value);
                if (!p) return usage_error("route", "the profile is car, bicycle or foot, not", argv[i]);
                request.profile = *p;
            } else if (arg == "--via") {
                const auto at = search::parse_coordinates(value);
                if (!at) return usage_error("route", "not a position", argv[i]);
                via.push_back({at->lat, at->lon});
            } else if (arg == "--maps") {
                maps = value;
            } else if (arg == "--region") {
                region = value;
            } else {
                router_url = value;
            }
        } else if (arg == "--gpx") {
            gpx = true;
        } else if (arg == "--shortest") {
            request.shortest = true;
        } else if (!arg.starts_with("--") && points.size() < 2) {
            const auto at = search::parse_coordinates(arg);
            if (!at) return usage_error("route", "not a position", argv[i]);
            points.push_back({at->lat, at->lon});
        } else {
            return usage_error("route", points.size() < 2 ? "unknown option" : "two positions only", argv[i]);
        }
    }
    if (points.size() < 2) return usage_error("route", "FROM and TO positions are required");
    request.waypoints = {points[0]};
    request.waypoints.insert(request.waypoints.end(), via.begin(), via.end());
    request.waypoints.push_back(points[1]);
    std::string error;
    std::unique_ptr<route::Router> router;
    if (!router_url.empty()) {
        router = route::make_http_router(router_url, error);
    } else if (const auto name = pick_region(maps, region, error)) {
        if (!route::valid_region_name(*name)) return usage_error("route", "not a region's name", name->c_str());
        router = route::open_routino(route::database_folder(maps, *name), error);
    }
    if (!router) {
        std::fprintf(stderr, "vortool route: %s\n", error.c_str());
        return 1;
    }
    const auto r = router->route(request, nullptr, error);
    if (!r) {
        std::fprintf(stderr, "vortool route: %s\n", error.c_str());
        return 1;
    }
    return write_out(gpx ? route::route_to_gpx(*r, "Route") : route_json(*r, router->name())) ? 0 : 1;
}

}  // namespace vg::cli
