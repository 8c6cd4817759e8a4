// The AIS targets of the running receiver: every path that carries AIS (NMEA lines !AIVDM/!AIVDO on
// serial, TCP and UDP streams; gpsd's AIS reports) hands it here, and the window reads a copy of the
// table to draw and list.
// Threads: every member may be called from any thread (one mutex; nothing blocks inside it beyond the
// decode of one line). Failure: lines that are not AIS or do not decode are counted and dropped.
// Ownership: the owner (the program state) outlives the readers that feed it.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "gps/ais.h"
#include "gps/ais_targets.h"

namespace vg::ais {

class AisFeed {
public:
    // `now_s`: seconds of a monotonic clock (empty: the steady clock).
    explicit AisFeed(std::function<double()> now_s = {});

    // One NMEA line (with or without line end); lines that are not AIS are ignored.
    void sentence(std::string_view line);
    // A message decoded elsewhere (gpsd's AIS reports).
    void message(const Message& m);

    // Refreshes staleness and the approach figures against `own` and returns a copy of the targets.
    std::vector<Target> targets(const std::optional<OwnShip>& own);
    void set_rules(const TargetRules& rules);
    // Sentences taken and rejected since construction; bumped by every accepted message.
    std::uint64_t sentences() const;
    std::uint64_t rejected() const;
    std::uint64_t generation() const;

private:
    double now() const;

    std::function<double()> now_s_;
    mutable std::mutex mutex_;
    AisAssembler assembler_;
    TargetTable table_;
    std::uint64_t generation_ = 0;
};

}  // namespace vg::ais
