#include "gps/ais_targets.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "geo/geodesy.h"

namespace vg::ais {
namespace {

constexpr double kMetresPerNm = 1852.0;
constexpr double kRad = std::numbers::pi / 180.0;

TargetKind kind_of(int type) {
    switch (type) {
    case 1: case 2: case 3: case 5: case 27: return TargetKind::ClassA;
    case 18: case 19: case 24: return TargetKind::ClassB;
    case 4: return TargetKind::BaseStation;
    case 21: return TargetKind::AidToNavigation;
    default: return TargetKind::Other;
    }
}

void take_dimensions(Target& t, const Message& m) {
    if (m.to_bow + m.to_stern > 0) t.length_m = m.to_bow + m.to_stern;
    if (m.to_port + m.to_starboard > 0) t.beam_m = m.to_port + m.to_starboard;
}

}  // namespace

Approach closest_approach(double range_nm, double bearing_deg, double sog_kn, double cog_deg, double own_sog_kn,
                          double own_cog_deg) {
    const double px = range_nm * std::sin(bearing_deg * kRad), py = range_nm * std::cos(bearing_deg * kRad);
    const double vx = sog_kn * std::sin(cog_deg * kRad) - own_sog_kn * std::sin(own_cog_deg * kRad);
    const double vy = sog_kn * std::cos(cog_deg * kRad) - own_sog_kn * std::cos(own_cog_deg * kRad);
    const double vv = vx * vx + vy * vy;
    if (vv < 1e-9) return {range_nm, 0};
    const double t_h = -(px * vx + py * vy) / vv;
    return {std::hypot(px + vx * t_h, py + vy * t_h), t_h * 60.0};
}

Target& TargetTable::at(std::uint32_t mmsi, double now_s) {
    for (auto& t : targets_)
        if (t.mmsi == mmsi) return t;
    if (targets_.size() >= rules_.max_targets) {
        // The one heard from longest ago makes room.
        targets_.erase(std::min_element(targets_.begin(), targets_.end(), [](const Target& a, const Target& b) {
            return a.last_report_s < b.last_report_s;
        }));
    }
    Target t;
    t.mmsi = mmsi;
    t.last_report_s = now_s;
    targets_.push_back(std::move(t));
    return targets_.back();
}

void TargetTable::update(const Message& m, double now_s) {
    if (!m.decoded || m.own || m.mmsi == 0) return;
    Target& t = at(m.mmsi, now_s);
    t.last_report_s = now_s;
    t.stale = false;
    if (t.kind == TargetKind::Other || m.type != 5) t.kind = kind_of(m.type);
    if (m.latitude_deg()) {
        t.lat = m.latitude_deg();
        t.lon = m.longitude_deg();
        t.last_position_s = now_s;
    }
    switch (m.type) {
    case 1: case 2: case 3: case 18: case 19: case 27: {
        const bool long_range = m.type == 27;
        if (m.type != 18 && m.type != 19) t.status = m.status;
        const int no_speed = long_range ? 63 : 1023, no_course = long_range ? 511 : 3600;
        if (m.speed != no_speed) t.sog_kn = long_range ? m.speed : m.speed / 10.0;
        else t.sog_kn.reset();
        if (m.course < no_course) t.cog_deg = long_range ? m.course : m.course / 10.0;
        else t.cog_deg.reset();
        if (!long_range) {
            if (m.heading < 360) t.heading_deg = m.heading;
            else t.heading_deg.reset();
        }
        if (m.type == 19) {
            if (!m.shipname.empty()) t.name = m.shipname;
            t.shiptype = m.shiptype;
            take_dimensions(t, m);
        }
        break;
    }
    case 5:
        if (!m.shipname.empty()) t.name = m.shipname;
        if (!m.callsign.empty()) t.callsign = m.callsign;
        t.destination = m.destination;
        t.shiptype = m.shiptype;
        take_dimensions(t, m);
        break;
    case 21:
        if (!m.shipname.empty()) t.name = m.shipname;
        take_dimensions(t, m);
        break;
    case 24:
        // Part A (0), part B (1), or both at once (-1: gpsd's merged report).
        if (m.partno != 1 && !m.shipname.empty()) t.name = m.shipname;
        if (m.partno != 0) {
            if (!m.callsign.empty()) t.callsign = m.callsign;
            t.shiptype = m.shiptype;
            take_dimensions(t, m);
        }
        break;
    default:
        break;
    }
}

void TargetTable::refresh(double now_s, const std::optional<OwnShip>& own) {
    std::erase_if(targets_, [&](const Target& t) { return now_s - t.last_report_s > rules_.remove_after_s; });
    for (auto& t : targets_) {
        t.stale = now_s - t.last_report_s > rules_.stale_after_s;
        t.range_nm.reset();
        t.bearing_deg.reset();
        t.cpa_nm.reset();
        t.tcpa_min.reset();
        t.dangerous = false;
        if (!own || !t.lat || !t.lon) continue;
        const auto g = geo::inverse(own->lat, own->lon, *t.lat, *t.lon);
        t.range_nm = g.distance_m / kMetresPerNm;
        t.bearing_deg = g.bearing_deg;
        if (t.kind == TargetKind::BaseStation || t.kind == TargetKind::AidToNavigation) {
            // Fixed: the approach of our own motion alone.
            const auto a = closest_approach(*t.range_nm, g.bearing_deg, 0, 0, own->sog_kn, own->cog_deg);
            t.cpa_nm = a.cpa_nm;
            t.tcpa_min = a.tcpa_min;
        } else if (t.sog_kn && (t.cog_deg || *t.sog_kn == 0)) {
            const auto a = closest_approach(*t.range_nm, g.bearing_deg, *t.sog_kn, t.cog_deg.value_or(0), own->sog_kn,
                                            own->cog_deg);
            t.cpa_nm = a.cpa_nm;
            t.tcpa_min = a.tcpa_min;
        }
        t.dangerous = !t.stale && t.kind != TargetKind::BaseStation && t.cpa_nm && *t.cpa_nm < rules_.cpa_limit_nm &&
                      *t.tcpa_min > 0 && *t.tcpa_min < rules_.tcpa_limit_min;
    }
}

const Target* TargetTable::find(std::uint32_t mmsi) const {
    for (const auto& t : targets_)
        if (t.mmsi == mmsi) return &t;
    return nullptr;
}

std::vector<const Target*> TargetTable::dangerous() const {
    std::vector<const Target*> out;
    for (const auto& t : targets_)
        if (t.dangerous) out.push_back(&t);
    std::sort(out.begin(), out.end(), [](const Target* a, const Target* b) { return *a->cpa_nm < *b->cpa_nm; });
    return out;
}

}  // namespace vg::ais
