// Routino through its library. The library keeps global state (the profiles and translations read
// from XML, its error number, the progress callback), so every call into it holds one mutex.
#include "route/route.h"

#ifndef VG_NO_ROUTINO

#include <routino.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "geo/geodesy.h"
#include "route/route_build.h"

namespace vg::route {
namespace {

constexpr const char* kRoutinoData = "/usr/share/routino";

std::mutex& routino_mutex() {
    static std::mutex mutex;
    return mutex;
}

// Set while a route is calculated, under the mutex: the library's progress callback takes no context.
const std::atomic<bool>* g_cancel = nullptr;

int keep_going(double) { return g_cancel && g_cancel->load() ? 0 : 1; }

// Reads Routino's profiles and translations once; "" when they are there.
const std::string& routino_setup() {
    static const std::string problem = [] {
        if (Routino_CheckAPIVersion() != ROUTINO_ERROR_NONE)
            return std::string("the installed Routino library is of another version");
        const std::string profiles = std::string(kRoutinoData) + "/profiles.xml";
        const std::string translations = std::string(kRoutinoData) + "/translations.xml";
        if (Routino_ParseXMLProfiles(profiles.c_str()) != 0)
            return "Routino's profiles cannot be read (" + profiles + "; Debian package routino-common)";
        if (Routino_ParseXMLTranslations(translations.c_str()) != 0)
            return "Routino's translations cannot be read (" + translations + "; Debian package routino-common)";
        return std::string();
    }();
    return problem;
}

const char* routino_profile(Profile profile) {
    switch (profile) {
        case Profile::car: return "motorcar";
        case Profile::bicycle: return "bicycle";
        case Profile::foot: return "foot";
    }
    return "motorcar";
}

// Routino names an unnamed way by its kind ("residential road"): such a way has no street name.
std::string street_of(const char* name) {
    if (!name) return {};
    static const char* const kinds[] = {"motorway",     "trunk road",       "primary road", "secondary road",
                                        "tertiary road", "unclassified road", "residential road",
                                        "service road", "track",            "cycleway",     "path",
                                        "steps",        "ferry"};
    for (const char* kind : kinds)
        if (std::strcmp(name, kind) == 0) return {};
    return name;
}

class RoutinoRouter final : public Router {
public:
    RoutinoRouter(Routino_Database* database, std::string region) : database_(database), region_(std::move(region)) {}
    ~RoutinoRouter() override {
        const std::lock_guard lock(routino_mutex());
        Routino_UnloadDatabase(database_);
    }

    std::optional<Route> route(const Request& request, const std::atomic<bool>* cancel,
                               std::string& error) override {
        if (!check_request(request, error)) return std::nullopt;
        if (cancel && cancel->load()) {
            error = "cancelled";
            return std::nullopt;
        }
        const std::lock_guard lock(routino_mutex());
        Routino_Profile* profile = Routino_GetProfile(routino_profile(request.profile));
        Routino_Translation* translation = Routino_GetTranslation("en");
        if (!profile || !translation || Routino_ValidateProfile(database_, profile) != ROUTINO_ERROR_NONE) {
            error = std::string("the routing database cannot be used for ") + profile_name(request.profile);
            return std::nullopt;
        }
        std::vector<Routino_Waypoint*> waypoints;
        struct Free {
            std::vector<Routino_Waypoint*>& w;
            ~Free() {
                for (auto* p : w) std::free(p);
            }
        } free_waypoints{waypoints};
        for (std::size_t i = 0; i < request.waypoints.size(); ++i) {
            const Point& p = request.waypoints[i];
            Routino_Waypoint* w = Routino_FindWaypoint(database_, profile, p.lat, p.lon);
            if (!w) {
                error = "no road for " + std::string(profile_name(request.profile)) + " near " +
                        waypoint_name(i, request.waypoints.size());
                return std::nullopt;
            }
            waypoints.push_back(w);
        }
        const int options = (request.shortest ? ROUTINO_ROUTE_SHORTEST : ROUTINO_ROUTE_QUICKEST) |
                            ROUTINO_ROUTE_LIST_TEXT_ALL;
        g_cancel = cancel;
        Routino_Output* output = Routino_CalculateRoute(database_, profile, translation, waypoints.data(),
                                                        static_cast<int>(waypoints.size()), options, keep_going);
        g_cancel = nullptr;
        if (!output) {
            if (Routino_errno == ROUTINO_ERROR_PROGRESS_ABORTED) {
                error = "cancelled";
            } else if (Routino_errno >= ROUTINO_ERROR_NO_ROUTE_1) {
                const auto to = static_cast<std::size_t>(Routino_errno - ROUTINO_ERROR_NO_ROUTE_1 + 1);
                error = "no way for " + std::string(profile_name(request.profile)) + " to " +
                        waypoint_name(std::min(to, request.waypoints.size() - 1), request.waypoints.size());
            } else {
                error = "Routino found no route (error " + std::to_string(Routino_errno) + ")";
            }
            return std::nullopt;
        }
        // Every point of the way with the name of the section that reaches it; the turns and bearings
        // are worked out here from the points, as this list form of Routino's output leaves them out.
        struct Raw {
            Point at;
            double time_s;
            int type;
            std::string street_in;
        };
        std::vector<Raw> raw;
        for (const Routino_Output* o = output; o; o = o->next)
            // Routino gives the time of this list form in minutes.
            raw.push_back({{o->lat * 180.0 / M_PI, o->lon * 180.0 / M_PI}, o->time * 60.0, o->type, street_of(o->name)});
        RouteBuilder builder(request.profile);
        double heading_in = 0;
        for (std::size_t i = 0; i < raw.size(); ++i) {
            RouteBuilder::Step step;
            step.at = raw[i].at;
            step.time_s = raw[i].time_s;
            if (i + 1 < raw.size()) {
                step.street = raw[i + 1].street_in;
                const auto out = geo::inverse(step.at.lat, step.at.lon, raw[i + 1].at.lat, raw[i + 1].at.lon);
                step.bearing_deg = static_cast<int>(std::lround(out.bearing_deg));
                if (i > 0) step.turn_deg = static_cast<int>(std::lround(std::fmod(out.bearing_deg - heading_in + 540.0, 360.0) - 180.0));
                heading_in = out.final_bearing_deg;
            }
            switch (raw[i].type) {
                case ROUTINO_POINT_WAYPOINT: step.kind = RouteBuilder::Kind::waypoint; break;
                case ROUTINO_POINT_JUNCT_IMPORT:
                case ROUTINO_POINT_MINI_RB: step.kind = RouteBuilder::Kind::turn; break;
                case ROUTINO_POINT_CHANGE: step.kind = RouteBuilder::Kind::change; break;
                case ROUTINO_POINT_RB_ENTRY: step.kind = RouteBuilder::Kind::roundabout_entry; break;
                case ROUTINO_POINT_RB_EXIT: step.kind = RouteBuilder::Kind::roundabout_exit; break;
                case ROUTINO_POINT_UTURN: step.kind = RouteBuilder::Kind::uturn; break;
                default: step.kind = RouteBuilder::Kind::point; break;
            }
            builder.add(step);
        }
        Routino_DeleteRoute(output);
        return builder.finish();
    }

    std::string name() const override { return "Routino (" + region_ + ")"; }

private:
    Routino_Database* database_;
    std::string region_;
};

}  // namespace

std::unique_ptr<Router> open_routino(const std::filesystem::path& folder, std::string& error) {
    std::error_code ec;
    for (const char* file : {"nodes.mem", "segments.mem", "ways.mem", "relations.mem"}) {
        if (!std::filesystem::is_regular_file(folder / file, ec)) {
            error = "no routing database in " + folder.string();
            return nullptr;
        }
    }
    const std::lock_guard lock(routino_mutex());
    if (const std::string& problem = routino_setup(); !problem.empty()) {
        error = problem;
        return nullptr;
    }
    Routino_Database* database = Routino_LoadDatabase(folder.string().c_str(), nullptr);
    if (!database) {
        error = "the routing database in " + folder.string() + " cannot be read";
        return nullptr;
    }
    return std::make_unique<RoutinoRouter>(database, folder.filename().string());
}

}  // namespace vg::route

#else

namespace vg::route {

std::unique_ptr<Router> open_routino(const std::filesystem::path&, std::string& error) {
    error = "routing is not available in this build";
    return nullptr;
}

}  // namespace vg::route

#endif
