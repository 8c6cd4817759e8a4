#include "app/trip_texts.h"

#include <cmath>
#include <cstdio>

#include "platform/c_number.h"

namespace vg {
namespace {

constexpr const char* kUnknown = "-";

struct Units {
    double metres;  // in one distance unit
    const char* distance;
    const char* speed;
};

Units units_of(SpeedUnit unit) {
    switch (unit) {
    case SpeedUnit::mph: return {1609.344, "mi", "mph"};
    case SpeedUnit::knots: return {1852, "nm", "kn"};
    case SpeedUnit::kmh: break;
    }
    return {1000, "km", "km/h"};
}

std::string distance(double metres, const Units& u) { return fixed_text(metres / u.metres, 2) + " " + u.distance; }

std::string speed(const std::optional<double>& mps, const Units& u) {
    return mps ? fixed_text(*mps * 3600 / u.metres, 1) + " " + u.speed : kUnknown;
}

std::string duration(const std::optional<double>& seconds) {
    if (!seconds) return kUnknown;
    const long long s = std::llround(std::max(0.0, *seconds));
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    return text;
}

std::string height(const std::optional<double>& m) { return m ? std::to_string(std::llround(*m)) + " m" : kUnknown; }

std::string lap_line(const std::string& name, const TripFigures& f, const Units& u) {
    return name + ": " + distance(f.distance_m, u) + ", " + duration(f.moving_s) + " moving, " +
           speed(f.avg_moving_mps, u) + " average, " + speed(f.max_mps, u) + " maximum";
}

}  // namespace

TripTexts trip_texts(const TripFigures& trip, const TripFigures& lap, const std::vector<TripFigures>& laps,
                     SpeedUnit unit) {
    const Units u = units_of(unit);
    TripTexts t;
    t.rows = {{"Distance", distance(trip.distance_m, u)},   {"Moving time", duration(trip.moving_s)},
              {"Total time", duration(trip.total_s)},       {"Average speed", speed(trip.avg_moving_mps, u)},
              {"Maximum speed", speed(trip.max_mps, u)},    {"Ascent", height(trip.ascent_m)},
              {"Descent", height(trip.descent_m)},          {"Lowest", height(trip.min_ele_m)},
              {"Highest", height(trip.max_ele_m)}};
    t.lap = lap_line("Lap " + std::to_string(laps.size() + 1), lap, u);
    for (std::size_t i = 0; i < laps.size(); ++i) t.laps.push_back(lap_line("Lap " + std::to_string(i + 1), laps[i], u));
    return t;
}

}  // namespace vg
