// Routes between points of the map: what a router gives (the line, its length and time, the legs
// between via-points, the manoeuvres with street names), and the routers that make them — Routino
// over a routing database built from an OSM extract on this machine, or an HTTP router the user runs.
// Threads: a Router answers one request at a time and may be used from any one thread; routing is
// slow (up to a second on a large region), so the window asks it from a worker. Make one per thread
// that routes at the same time.
// Failure: nothing throws; a request that cannot be routed (no database, a point far from any road of
// the profile, no way between) gives no route and the reason in `error`, in words for the user.
#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vg::route {

enum class Profile { car, bicycle, foot };

// "car", "bicycle", "foot".
const char* profile_name(Profile profile);
std::optional<Profile> profile_from_name(std::string_view name);

struct Point {
    double lat = 0;
    double lon = 0;
};

// One instruction: what to do at `at` and how far it is to the next one.
struct Manoeuvre {
    Point at;
    std::string text;      // for the user: "Turn left onto High Street", "Arrive"
    std::string street;    // the street taken at this point ("" when unnamed)
    int turn_deg = 0;      // change of heading, -180..180, left negative; 0 for start and arrival
    double distance_m = 0; // from here to the next manoeuvre
    double time_s = 0;
    std::size_t line_index = 0;  // index in Route::line of `at`
};

struct Leg {
    double length_m = 0;
    double time_s = 0;
    std::size_t first_manoeuvre = 0;  // index in Route::manoeuvres
};

struct Route {
    Profile profile = Profile::car;
    std::vector<Point> line;  // the whole way, from the first point to the last
    std::vector<Manoeuvre> manoeuvres;
    std::vector<Leg> legs;    // one per pair of consecutive waypoints
    double length_m = 0;
    double time_s = 0;
};

struct Request {
    std::vector<Point> waypoints;  // from, via-points..., to (at least two)
    Profile profile = Profile::car;
    bool shortest = false;         // the shortest way instead of the quickest (Routino only)
};

class Router {
public:
    virtual ~Router() = default;
    // The route through the request's waypoints, or nullopt with the reason in `error`. `cancel`
    // set (it may be null) ends the search early with "cancelled".
    virtual std::optional<Route> route(const Request& request, const std::atomic<bool>* cancel,
                                       std::string& error) = 0;
    // For the message line: "Routino (Lakeford)", "OSRM at router.example.org", "Valhalla at ...".
    virtual std::string name() const = 0;
};

// The instruction for a change of heading of `turn_deg` (left negative) onto `street` ("" unnamed):
// "Continue onto Mill Lane", "Bear right", "Turn left onto High Street", "Make a U-turn".
std::string turn_text(int turn_deg, std::string_view street);

// The routing database of a region: `<maps>/routing/<region>/`.
std::filesystem::path database_folder(const std::filesystem::path& maps_folder, std::string_view region);

// Routino over the database in `folder`; nullptr with the reason when there is none or it cannot be
// read, or when this build has no Routino ("not available in this build").
std::unique_ptr<Router> open_routino(const std::filesystem::path& folder, std::string& error);

}  // namespace vg::route
