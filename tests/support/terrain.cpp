#include "support/terrain.h"

#include <cmath>
#include <cstdint>

namespace vg::test {

double synthetic_height(double lat, double lon) {
    const double dlat = lat - 45.5, dlon = lon - 6.5;
    const double mountain = 2600.0 * std::exp(-(dlat * dlat + dlon * dlon) / 0.06);
    const double ridges = 250.0 * std::sin(dlon * 35.0 + dlat * 12.0) * std::cos(dlat * 21.0);
    const double land = 600.0 + mountain + ridges;
    return lon >= 5.4 ? land : land - 3000.0 * (5.4 - lon);
}

std::optional<double> SyntheticElevation::elevation(double lat, double lon) const {
    if (!(lat >= south_ && lat <= north_ && lon >= west_ && lon <= east_)) return std::nullopt;
    return synthetic_height(lat, lon);
}

bool SyntheticElevation::covers(double south, double west, double north, double east) const {
    return south <= north_ && north >= south_ && west <= east_ && east >= west_;
}

std::string hgt_bytes(int lat0, int lon0, int posts, const std::function<double(double, double)>& height,
                      const std::function<bool(double, double)>& is_void) {
    std::string bytes;
    bytes.reserve(std::size_t(posts) * posts * 2);
    for (int r = 0; r < posts; ++r) {
        const double lat = lat0 + 1.0 - double(r) / (posts - 1);
        for (int c = 0; c < posts; ++c) {
            const double lon = lon0 + double(c) / (posts - 1);
            const auto v = std::uint16_t(is_void && is_void(lat, lon) ? -32768 : std::lround(height(lat, lon)));
            bytes.push_back(char(v >> 8));
            bytes.push_back(char(v & 0xff));
        }
    }
    return bytes;
}

}  // namespace vg::test
