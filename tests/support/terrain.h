// A synthetic landscape for the terrain tests and benchmarks: a smooth mountain with ridges around
// (45.5° N, 6.5° E), a sea deepening westward of 5.4° E, as an in-memory ElevationModel and as the
// bytes of an SRTM .hgt file (big-endian 16-bit posts, rows from the north, −32768 voids) for the
// real tools that read such files.
#pragma once

#include <functional>
#include <string>

#include "tiles/elevation.h"

namespace vg::test {

// Metres at (lat, lon): defined everywhere (the sea is negative).
double synthetic_height(double lat, double lon);

// The synthetic landscape inside a box of degrees (nullopt outside it).
class SyntheticElevation : public ElevationModel {
public:
    SyntheticElevation(double south = 40, double west = 0, double north = 50, double east = 10)
        : south_(south), west_(west), north_(north), east_(east) {}
    std::optional<double> elevation(double lat, double lon) const override;
    bool covers(double south, double west, double north, double east) const override;

private:
    double south_, west_, north_, east_;
};

// The .hgt file of the 1° square whose south-west corner is (lat0, lon0), `posts` a side (1201 or
// 3601), heights from `height` rounded to whole metres; `is_void(lat, lon)` posts are −32768.
std::string hgt_bytes(int lat0, int lon0, int posts, const std::function<double(double, double)>& height,
                      const std::function<bool(double, double)>& is_void = {});

}  // namespace vg::test
