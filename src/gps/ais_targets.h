// The AIS targets around us: each vessel, base station and aid to navigation by MMSI, its dynamic
// reports (position, speed, course, heading) and static data (name, call sign, type, size) merged as
// they come, marked stale when it has not reported for a while and dropped later. The closest point of
// approach (CPA) and the time to it (TCPA) of each moving target against our own ship say which ones
// are dangerous.
//
// CPA: both ships keep their course and speed over ground. The target's place relative to us comes
// from the geodesic (range and bearing, geo/geodesy.h) and the motion is worked out in a local plane
// around our position, which is exact enough for the few nautical miles that matter.
//
// Pure (no clock of its own: callers pass the time, seconds of any monotonic clock). Threads: one
// owner at a time. Failure: a message without an MMSI or of a type that carries nothing for the table
// is ignored; a target's count is bounded (the oldest report goes first).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "gps/ais.h"

namespace vg::ais {

enum class TargetKind { ClassA, ClassB, BaseStation, AidToNavigation, Other };

struct Target {
    std::uint32_t mmsi = 0;
    TargetKind kind = TargetKind::Other;
    std::string name, callsign, destination;
    int shiptype = 0;
    int length_m = 0, beam_m = 0;  // from the dimensions, 0 when unknown
    std::optional<double> lat, lon;        // degrees
    std::optional<double> sog_kn;          // speed over ground
    std::optional<double> cog_deg;         // course over ground
    std::optional<double> heading_deg;
    int status = 15;
    double last_report_s = 0;   // time of the last message of any kind
    double last_position_s = 0; // time of the last position
    bool stale = false;
    // Against our own ship, when both positions and motions are known.
    std::optional<double> range_nm, bearing_deg, cpa_nm, tcpa_min;
    bool dangerous = false;
};

struct OwnShip {
    double lat = 0, lon = 0;
    double sog_kn = 0, cog_deg = 0;
};

struct TargetRules {
    double stale_after_s = 6 * 60;
    double remove_after_s = 20 * 60;
    double cpa_limit_nm = 0.5;     // dangerous when the closest approach is nearer than this...
    double tcpa_limit_min = 12;    // ...and comes within this time (and not in the past)
    std::size_t max_targets = 2000;
};

// Closest approach of a target at `range_nm` on `bearing_deg` from us, moving at (sog, cog), while we
// move at (own_sog, own_cog): CPA in nautical miles and TCPA in minutes (negative: it was in the past;
// 0 with the current range when the two do not move relative to each other).
struct Approach {
    double cpa_nm = 0;
    double tcpa_min = 0;
};
Approach closest_approach(double range_nm, double bearing_deg, double sog_kn, double cog_deg, double own_sog_kn,
                          double own_cog_deg);

class TargetTable {
public:
    explicit TargetTable(TargetRules rules = {}) : rules_(rules) {}
    // Takes one decoded message received at `now_s`. Own-ship reports (!AIVDO) are not targets.
    void update(const Message& m, double now_s);
    // Marks stale targets, drops old ones and works out range, bearing, CPA and TCPA against `own`
    // (none when `own` is unknown).
    void refresh(double now_s, const std::optional<OwnShip>& own);
    const std::vector<Target>& targets() const { return targets_; }
    const Target* find(std::uint32_t mmsi) const;
    // The dangerous targets, nearest approach first.
    std::vector<const Target*> dangerous() const;
    const TargetRules& rules() const { return rules_; }
    void set_rules(const TargetRules& rules) { rules_ = rules; }

private:
    Target& at(std::uint32_t mmsi, double now_s);
    TargetRules rules_;
    std::vector<Target> targets_;
};

}  // namespace vg::ais
