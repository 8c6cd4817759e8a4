// The texts of the AIS targets: the warning on the message line, the rows of the target list and
// our own ship from the fix. Pure functions; no threads, no toolkit.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "gps/ais_targets.h"
#include "gps/fix_record.h"
#include "platform/window.h"

namespace vg {

// Our own ship for the approach figures: the fix's position, speed and course; none without a valid,
// fresh fix.
std::optional<ais::OwnShip> own_ship_of(const FixRecord& fix, bool stale);

// "AIS: NAME (MMSI) CPA 0.3 nm in 7 min" for each dangerous target, nearest approach first, at most
// kMostWarnings of them ("; " between, "and N more" after); "" when none is dangerous.
inline constexpr std::size_t kMostAisWarnings = 3;
std::string ais_warning_text(const std::vector<ais::Target>& targets);

// A target's name, or its MMSI when it has not sent one.
std::string ais_target_label(const ais::Target& target);

// One row a target, nearest first (targets of unknown range last).
std::vector<AisTargetRow> ais_target_rows(const std::vector<ais::Target>& targets);

}  // namespace vg
