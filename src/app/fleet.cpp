#include "app/fleet.h"

#include <cmath>

namespace vg {

bool valid_device_report(const DeviceReport& r) {
    return !r.id.empty() && r.id.size() <= kDeviceIdMax && r.name.size() <= kDeviceIdMax && std::isfinite(r.lat) &&
           std::isfinite(r.lon) && std::fabs(r.lat) <= 90 && std::fabs(r.lon) <= 180;
}

bool FleetTable::update(const DeviceReport& report, std::int64_t now_ms) {
    std::lock_guard lock(mutex_);
    auto found = targets_.find(report.id);
    if (!valid_device_report(report) || (found == targets_.end() && targets_.size() >= kFleetMaxDevices)) {
        ++dropped_;
        return false;
    }
    if (found == targets_.end()) found = targets_.emplace(report.id, FleetTarget{}).first;
    FleetTarget& t = found->second;
    const std::int64_t time_ms = report.time_ms != 0 ? report.time_ms : now_ms;
    // A report older than the last one (sent late) goes into the history, not over the newer position.
    if (!t.trail.empty() && time_ms < t.last.time_ms) return true;
    t.last = report;
    t.last.time_ms = time_ms;
    t.arrived_ms = now_ms;
    // One trail point every kFleetTrailStepMs (the newest moves with the device), so that long
    // trails of many devices stay cheap to keep and to draw.
    if (t.trail.size() >= 2 && t.trail.back().time_ms - t.trail[t.trail.size() - 2].time_ms < kFleetTrailStepMs)
        t.trail.back() = {time_ms, report.lat, report.lon};
    else
        t.trail.push_back({time_ms, report.lat, report.lon});
    while (!t.trail.empty() && t.trail.front().time_ms < time_ms - trail_ms_) t.trail.pop_front();
    return true;
}

std::vector<FleetTarget> FleetTable::snapshot(std::int64_t now_ms, std::int64_t trail_ms) const {
    std::lock_guard lock(mutex_);
    std::vector<FleetTarget> out;
    out.reserve(targets_.size());
    for (const auto& [id, t] : targets_) {
        out.push_back(t);
        auto& trail = out.back().trail;
        while (trail.size() > 1 && trail.front().time_ms < now_ms - trail_ms) trail.pop_front();
    }
    return out;
}

std::optional<FleetTarget> FleetTable::find(const std::string& id) const {
    std::lock_guard lock(mutex_);
    const auto found = targets_.find(id);
    if (found == targets_.end()) return std::nullopt;
    return found->second;
}

std::size_t FleetTable::size() const {
    std::lock_guard lock(mutex_);
    return targets_.size();
}

std::uint64_t FleetTable::dropped() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}

void FleetTable::set_trail_ms(std::int64_t trail_ms) {
    std::lock_guard lock(mutex_);
    trail_ms_ = trail_ms;
}

}  // namespace vg
