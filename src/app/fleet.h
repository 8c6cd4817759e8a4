// The fleet: the last position and recent trail of every other device, fed from any thread
// (position server, broker) and read by the paint and the fleet dialog. Thread-safe; every call
// holds one mutex briefly and never waits for anything else.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "gps/device_report.h"

namespace vg {

inline constexpr std::int64_t kFleetTrailMinutes = 10;
inline constexpr std::int64_t kFleetStaleSeconds = 120;
inline constexpr std::int64_t kFleetTrailStepMs = 5000;
// Devices kept at most; a report of a new device beyond it is dropped and counted.
inline constexpr std::size_t kFleetMaxDevices = 10000;

struct FleetTarget {
    DeviceReport last;           // its last report, time_ms always set
    std::int64_t arrived_ms = 0;  // when that report came
    struct TrailPoint {
        std::int64_t time_ms;
        double lat, lon;
        double mercator_deg;  // tiles/geometry.h's mercator_degrees(lat), kept for the paints
    };
    std::deque<TrailPoint> trail;  // oldest first, within the trail window, the last position included
};

// Leaves out the points of a trail on screen that lie within `tolerance` pixels of the line through
// the points kept around them (Douglas-Peucker), the first and last always kept: a device going
// straight along a road draws a few segments, not one every 5 s.
void simplify_trail(std::vector<std::array<int, 2>>& trail, double tolerance);

// A report fit for the fleet: an id of 1 to kDeviceIdMax bytes, a finite position on the globe.
bool valid_device_report(const DeviceReport& report);

class FleetTable {
public:
    // Takes a report (a missing time becomes `now_ms`); false, counted in dropped(), when it is
    // not valid or the table is full.
    bool update(const DeviceReport& report, std::int64_t now_ms);
    // Every device, by id; trails cut to the last `trail_ms` before `now_ms`.
    std::vector<FleetTarget> snapshot(std::int64_t now_ms, std::int64_t trail_ms) const;
    // Calls `visit` with every device and the first trail point within the last `trail_ms` before
    // `now_ms`, under the table's lock and without copies (the paint's way): `visit` must be quick and
    // must not call back into the table.
    template <class Visit>
    void for_each(std::int64_t now_ms, std::int64_t trail_ms, Visit&& visit) const {
        std::lock_guard lock(mutex_);
        for (const auto& [id, t] : targets_) {
            std::size_t first = 0;
            while (first + 1 < t.trail.size() && t.trail[first].time_ms < now_ms - trail_ms) ++first;
            visit(t, first);
        }
    }
    std::optional<FleetTarget> find(const std::string& id) const;
    std::size_t size() const;
    std::uint64_t dropped() const;
    // Keeps trails to this span (the layer's N minutes).
    void set_trail_ms(std::int64_t trail_ms);

private:
    mutable std::mutex mutex_;
    std::map<std::string, FleetTarget> targets_;
    std::int64_t trail_ms_ = kFleetTrailMinutes * 60'000;
    std::uint64_t dropped_ = 0;
};

}  // namespace vg
