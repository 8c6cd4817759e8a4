#include "route/route.h"

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

}  // namespace vg::route
