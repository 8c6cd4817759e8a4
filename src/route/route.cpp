#include "route/route.h"

#include <cstdlib>

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

std::string turn_text(int turn_deg, std::string_view street) {
    const int size = std::abs(turn_deg);
    const char* side = turn_deg < 0 ? "left" : "right";
    std::string text;
    if (size <= 20) text = "Continue";
    else if (size <= 60) text = std::string("Bear ") + side;
    else if (size <= 120) text = std::string("Turn ") + side;
    else if (size <= 160) text = std::string("Turn sharp ") + side;
    else text = "Make a U-turn";
    if (!street.empty()) text += " onto " + std::string(street);
    return text;
}

std::filesystem::path database_folder(const std::filesystem::path& maps_folder, std::string_view region) {
    return maps_folder / "routing" / std::filesystem::path(std::string(region));
}

}  // namespace vg::route
