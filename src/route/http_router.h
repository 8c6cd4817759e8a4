// A router the user runs, asked over HTTP (an OSRM, Valhalla or GraphHopper server, local or remote),
// through the program's one fetch engine. Configured in vor_ini.txt (`router=`); nothing is asked
// unless configured. Threads and failure as Router (route.h). The parse_* functions are pure (bytes
// in, a route out) and fuzzed: anything but that router's JSON with a route of at least two points
// fails with a reason. Manoeuvre texts are this program's own (turn_text), whatever the router.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "net/fetcher.h"
#include "route/route.h"

namespace vg::route {

// "router=" of `dir`/vor_ini.txt, trimmed; "" when the line is missing (no HTTP router, the default).
std::string read_router_setting(const std::filesystem::path& dir);

enum class RouterKind { osrm, valhalla, graphhopper };

// BASE/route/v1/<driving|cycling|walking>/<lon,lat;...>?steps=true&overview=full&geometries=geojson
std::string osrm_url(std::string_view base, const Request& request);
// BASE/route?json={"locations":[{"lat":..,"lon":..},...],"costing":"auto|bicycle|pedestrian",
// "directions_options":{"units":"kilometers"}} (the JSON percent-encoded)
std::string valhalla_url(std::string_view base, const Request& request);
// BASE/route?point=LAT,LON&point=...&profile=car|bike|foot&points_encoded=false&instructions=true&locale=en
std::string graphhopper_url(std::string_view base, const Request& request);

// The first route of an OSRM answer: its line from the steps' geometries, a manoeuvre per step, a leg
// per leg, OSRM's distances and times.
std::optional<Route> parse_osrm_route(std::string_view body, Profile profile, std::string& error);
// A Valhalla answer: a leg per leg, its line from the leg's shape (polyline, 6 decimals), a
// manoeuvre per maneuver (its type, street names, length and time).
std::optional<Route> parse_valhalla_route(std::string_view body, Profile profile, std::string& error);
// A GraphHopper answer (points not encoded): its first path's line, a manoeuvre per instruction (its
// sign, street name, interval, distance and time), a new leg at each via-point reached.
std::optional<Route> parse_graphhopper_route(std::string_view body, Profile profile, std::string& error);

// A router for `url`: "http://127.0.0.1:5000" (OSRM), or the kind first: "valhalla:http://host:8002",
// "graphhopper:http://host:8989" ("osrm:" too). nullptr with the reason when the URL is not usable or
// this build cannot fetch. The first form makes a fetcher of its own (vortool); the window passes the
// program's one fetcher (which must outlive the router) and vor_ini.txt's fetch settings.
std::unique_ptr<Router> make_http_router(const std::string& url, std::string& error);
std::unique_ptr<Router> make_http_router(Fetcher& fetcher, const FetchSettings& settings, const std::string& url,
                                         std::string& error);

}  // namespace vg::route
