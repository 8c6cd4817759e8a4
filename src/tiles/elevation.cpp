#include "tiles/elevation.h"

#include <cmath>
#include <limits>
#include <numbers>

namespace vg {

bool sample_web_tile(const ElevationModel& model, int z, std::uint32_t x, std::uint32_t y, int size,
                     std::vector<float>& out) {
    const double world = 256.0 * std::ldexp(1.0, z) * size / 256.0;  // pixels of this size per world
    const auto lon_of = [&](double px) { return px / world * 360.0 - 180.0; };
    const auto lat_of = [&](double py) {
        const double n = std::numbers::pi * (1.0 - 2.0 * py / world);
        return std::atan(std::sinh(n)) * 180.0 / std::numbers::pi;
    };
    const double x0 = double(x) * size, y0 = double(y) * size;
    if (!model.covers(lat_of(y0 + size + 1), lon_of(x0 - 1), lat_of(y0 - 1), lon_of(x0 + size + 1))) return false;
    const int n = size + 2;
    out.assign(std::size_t(n) * n, std::numeric_limits<float>::quiet_NaN());
    bool any = false;
    for (int r = 0; r < n; ++r) {
        const double lat = lat_of(y0 + r - 1 + 0.5);
        for (int c = 0; c < n; ++c) {
            if (const auto h = model.elevation(lat, lon_of(x0 + c - 1 + 0.5))) {
                out[std::size_t(r) * n + c] = float(*h);
                any = true;
            }
        }
    }
    return any;
}

// Replaced by the .hgt and elevation-tile readers.
std::shared_ptr<const ElevationModel> elevation_for(const std::string&, const CatalogueEntry*) { return nullptr; }

}  // namespace vg
