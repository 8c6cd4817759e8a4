#include "route/route.h"

#include "route/http_router.h"
#include "route/route_gpx.h"
#include "route/routing_data.h"

namespace vg::route {

const char* profile_name(Profile profile) {
    switch (profile) {
        case Profile::car: return "car";
        case Profile::bicycle: return "bicycle";
        case Profile::foot: return "foot";
    }
    return "car";
}

std::optional<Profile> profile_from_name(std::string_view name) {
    if (name == "car") return Profile::car;
    if (name == "bicycle") return Profile::bicycle;
    if (name == "foot") return Profile::foot;
    return std::nullopt;
}

std::filesystem::path database_folder(const std::filesystem::path& maps_folder, std::string_view region) {
    return maps_folder / "routing" / std::filesystem::path(std::string(region));
}

std::unique_ptr<Router> open_routino(const std::filesystem::path&, std::string& error) {
    error = "routing is not available in this build";
    return nullptr;
}

// Placeholders until the routers and the database tools are in.
bool build_database(const std::filesystem::path&, const std::filesystem::path&, const std::string&, const DataProgress&,
                    const std::atomic<bool>*, std::string& error) {
    error = "routing is not available in this build";
    return false;
}

std::vector<std::string> regions(const std::filesystem::path&) { return {}; }

bool download_extract(const std::string&, const std::filesystem::path&, const DataProgress&, const std::atomic<bool>*,
                      std::string& error) {
    error = "routing is not available in this build";
    return false;
}

std::string route_to_gpx(const Route&, std::string_view) { return {}; }

std::optional<Route> route_from_gpx(std::string_view, std::string& error) {
    error = "routing is not available in this build";
    return std::nullopt;
}

std::unique_ptr<Router> make_http_router(const std::string&, std::string& error) {
    error = "routing is not available in this build";
    return nullptr;
}

}  // namespace vg::route
