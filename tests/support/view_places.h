// Start positions for view tests.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>

#include "tiles/geometry.h"

namespace vg::test {

// A start position (vor_pos.txt text, whole seconds) near (lat, lon) whose pixel at `level` is a
// tile corner of the Mercator sources, so that the view has the classic 2 × 2 (4 × 4) cells; its
// degrees go to *out_lat and *out_lon. Whole seconds are about 0.2 pixels at level 2: one of the
// seconds around the corner's own angle lands on its pixel.
inline std::string tile_corner_position(double lat, double lon, int level, double* out_lat = nullptr,
                                        double* out_lon = nullptr) {
    const MapSource ve = MapSource::VirtualEarth;
    const WorldPixel p = geo_to_pixel(lat, lon, ve, level);
    const WorldPixel corner{round_to_tile_edge(p.x), round_to_tile_edge(p.y)};
    auto seconds_on = [&](bool latitude) {
        const double angle = latitude ? pixel_to_latitude(corner.y, ve, level) : pixel_to_longitude(corner.x, ve, level);
        const long long around = std::llround(angle * 3600);
        for (long long s = around - 3; s <= around + 3; ++s) {
            const WorldPixel q = latitude ? geo_to_pixel(s / 3600.0, lon, ve, level) : geo_to_pixel(lat, s / 3600.0, ve, level);
            if ((latitude ? q.y : q.x) == (latitude ? corner.y : corner.x)) return s;
        }
        return around;
    };
    const long long s_lat = seconds_on(true), s_lon = seconds_on(false);
    if (out_lat) *out_lat = s_lat / 3600.0;
    if (out_lon) *out_lon = s_lon / 3600.0;
    char text[64];
    std::snprintf(text, sizeof text, "N %lld %02lld %02lld\r\nE %lld %02lld %02lld\r\n", s_lat / 3600, s_lat / 60 % 60,
                  s_lat % 60, s_lon / 3600, s_lon / 60 % 60, s_lon % 60);
    return text;
}

}  // namespace vg::test
