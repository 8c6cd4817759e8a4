// A small town route and drives along it, for the guidance, window and benchmark tests. Header-only;
// needs vg_route (and through it vg_geo).
//
// The route: 600 m north on Main Street, right onto High Street for 400 m east, left onto Mill Lane
// for 300 m north, a point every 50 m. A drive is one fix a second at a steady speed along a line.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "geo/geodesy.h"
#include "route/guidance.h"
#include "route/route.h"

namespace vg::test {

struct TownLeg {
    double bearing_deg;
    double length_m;
    const char* street;
    const char* turn_text;  // the manoeuvre at the leg's start
    int turn_deg;
};

inline constexpr TownLeg kTownLegs[] = {
    {0, 600, "Main Street", "Head north on Main Street", 0},
    {90, 400, "High Street", "Turn right onto High Street", 90},
    {0, 300, "Mill Lane", "Turn left onto Mill Lane", -90},
};

// The town route from (lat, lon); `start` replaces the first point (a re-route from elsewhere).
inline route::Route town_route(double lat = 51.5, double lon = -0.1) {
    route::Route r;
    r.line.push_back({lat, lon});
    for (const TownLeg& leg : kTownLegs) {
        route::Manoeuvre m;
        m.at = r.line.back();
        m.text = leg.turn_text;
        m.street = leg.street;
        m.turn_deg = leg.turn_deg;
        m.distance_m = leg.length_m;
        m.time_s = leg.length_m / 10;
        m.line_index = r.line.size() - 1;
        r.manoeuvres.push_back(m);
        for (double d = 50; d <= leg.length_m + 1e-6; d += 50) {
            const geo::Position p = geo::direct(m.at.lat, m.at.lon, leg.bearing_deg, d);
            r.line.push_back({p.lat, p.lon});
        }
        r.length_m += leg.length_m;
    }
    route::Manoeuvre arrive;
    arrive.at = r.line.back();
    arrive.text = "Arrive";
    arrive.line_index = r.line.size() - 1;
    r.manoeuvres.push_back(arrive);
    r.time_s = r.length_m / 10;
    r.legs.push_back({r.length_m, r.time_s, 0});
    return r;
}

// Fixes a second apart at `speed_mps` along `line` from `from_m` to `to_m` (metres along it), times
// from `t0`.
inline std::vector<route::GuidanceFix> drive_along(const std::vector<route::Point>& line, double speed_mps,
                                                   double from_m, double to_m, double t0 = 0) {
    std::vector<route::GuidanceFix> fixes;
    double along = from_m, t = t0;
    std::size_t i = 0;
    double start_of_segment = 0;
    while (along <= to_m + 1e-6 && i + 1 < line.size()) {
        const geo::Inverse seg = geo::inverse(line[i].lat, line[i].lon, line[i + 1].lat, line[i + 1].lon);
        if (along > start_of_segment + seg.distance_m) {
            start_of_segment += seg.distance_m;
            ++i;
            continue;
        }
        const geo::Position p = geo::direct(line[i].lat, line[i].lon, seg.bearing_deg, along - start_of_segment);
        fixes.push_back({p.lat, p.lon, seg.bearing_deg, speed_mps, t});
        along += speed_mps;
        t += 1;
    }
    return fixes;
}

// A wrong turn: the town route driven to `turn_m` along it, then straight on along `bearing_deg` for
// `seconds` more fixes.
inline std::vector<route::GuidanceFix> wrong_turn_drive(const route::Route& r, double turn_m, double bearing_deg,
                                                        int seconds, double speed_mps = 10) {
    std::vector<route::GuidanceFix> fixes = drive_along(r.line, speed_mps, 0, turn_m);
    const route::GuidanceFix last = fixes.back();
    for (int s = 1; s <= seconds; ++s) {
        const geo::Position p = geo::direct(last.lat, last.lon, bearing_deg, s * speed_mps);
        fixes.push_back({p.lat, p.lon, bearing_deg, speed_mps, last.time_s + s});
    }
    return fixes;
}

}  // namespace vg::test
