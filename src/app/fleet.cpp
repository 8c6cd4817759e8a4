#include "app/fleet.h"

#include <cmath>

#include "tiles/geometry.h"

namespace vg {

void simplify_trail(std::vector<std::array<int, 2>>& trail, double tolerance) {
    const std::size_t n = trail.size();
    if (n < 3) return;
    std::vector<char> keep(n, 0);
    keep[0] = keep[n - 1] = 1;
    std::vector<std::pair<std::size_t, std::size_t>> spans{{0, n - 1}};
    while (!spans.empty()) {
        const auto [first, last] = spans.back();
        spans.pop_back();
        const double ax = trail[first][0], ay = trail[first][1];
        const double dx = trail[last][0] - ax, dy = trail[last][1] - ay;
        const double length = std::hypot(dx, dy);
        double worst = -1;
        std::size_t worst_at = first;
        for (std::size_t i = first + 1; i < last; ++i) {
            const double px = trail[i][0] - ax, py = trail[i][1] - ay;
            const double d = length > 0 ? std::fabs(px * dy - py * dx) / length : std::hypot(px, py);
            if (d > worst) {
                worst = d;
                worst_at = i;
            }
        }
        if (worst > tolerance) {
            keep[worst_at] = 1;
            spans.push_back({first, worst_at});
            spans.push_back({worst_at, last});
        }
    }
    std::size_t out = 0;
    for (std::size_t i = 0; i < n; ++i)
        if (keep[i]) trail[out++] = trail[i];
    trail.resize(out);
}

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
        t.trail.back() = {time_ms, report.lat, report.lon, mercator_degrees(report.lat)};
    else
        t.trail.push_back({time_ms, report.lat, report.lon, mercator_degrees(report.lat)});
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
