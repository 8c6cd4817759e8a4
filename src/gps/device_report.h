// A position reported by another device: a phone's tracker form, another copy of the program posting
// to this one, or a message of the fleet's broker. Plain data; `id` says which device (at most
// kDeviceIdMax characters; empty: the one Remote target of a copy without a name).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace vg {

inline constexpr std::size_t kDeviceIdMax = 64;

struct DeviceReport {
    std::string id;
    std::string name;   // shown beside the marker; empty: the id
    std::string via;    // "http" or "mqtt"
    double lat = 0, lon = 0;
    std::int64_t time_ms = 0;  // UTC milliseconds of the fix; 0: when it arrived
    std::optional<double> speed_kmh, course_deg, altitude_m, accuracy_m, battery_pct;
};

}  // namespace vg
