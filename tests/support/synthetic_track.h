// Made-up rides with a known true height profile and GPS-like altitude noise, for the trip figure tests
// and benchmark. Header-only; needs vg_track (and through it vg_geo).
//
// The noise is what a receiver's altitude does: a wander (a first-order Gauss-Markov process, AR(1),
// with a correlation time of kNoiseTauS seconds) of standard deviation `sigma_m`, plus 1 m of white
// noise a fix. Fixed seeds give the same ride on every machine (mt19937 and our own Box-Muller, not the
// library's unspecified normal distribution).
#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

#include "geo/geodesy.h"
#include "track/trip_stats.h"

namespace vg::test {

enum class Relief { flat, rolling, climb };

struct SyntheticRide {
    std::vector<TripSample> samples;
    double true_ascent_m = 0;
    double true_descent_m = 0;
};

inline constexpr double kNoiseTauS = 30;

inline double true_height(Relief relief, double along_m, double length_m) {
    switch (relief) {
    case Relief::flat: return 500;
    case Relief::rolling: return 500 + 40 * std::sin(2 * std::numbers::pi * along_m / 2000);  // 80 m hills
    case Relief::climb: return 500 + 600 * along_m / length_m;                                // 3 % for 20 km
    }
    return 0;
}

// East from 46 N 7 E at `speed_mps`, one fix a second for `seconds` seconds.
inline SyntheticRide synthetic_ride(Relief relief, double sigma_m, std::uint32_t seed, int seconds = 4000,
                                    double speed_mps = 5) {
    std::mt19937 rng(seed);
    auto gauss = [&rng] {
        const double u1 = (static_cast<double>(rng()) + 1) / 4294967297.0, u2 = static_cast<double>(rng()) / 4294967296.0;
        return std::sqrt(-2 * std::log(u1)) * std::cos(2 * std::numbers::pi * u2);
    };
    const double a = std::exp(-1 / kNoiseTauS);
    const double scale = sigma_m * std::sqrt(1 - a * a);  // the process's stationary σ
    double u = 0;
    for (int k = 0; k < 2000; ++k) u = a * u + gauss();  // into its stationary state first
    SyntheticRide ride;
    const double length = seconds * speed_mps;
    double previous = true_height(relief, 0, length);
    for (int k = 0; k < seconds; ++k) {
        const double along = k * speed_mps;
        const geo::Position at = geo::direct(46.0, 7.0, 90.0, along);
        const double h = true_height(relief, along, length);
        if (h > previous) ride.true_ascent_m += h - previous;
        else ride.true_descent_m += previous - h;
        previous = h;
        u = a * u + gauss();
        ride.samples.push_back({at.lat, at.lon, 1.7e9 + k, h + scale * u + gauss(), std::nullopt});
    }
    return ride;
}

}  // namespace vg::test
