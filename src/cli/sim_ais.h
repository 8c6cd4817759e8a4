// AIS traffic for vortool sim: targets on courses that cross the simulated ship's own track, sent as
// !AIVDM lines (gps/ais_encode.h) after each epoch's NMEA sentences.
// Target i (MMSI 230990001 + i) passes through the place where the own ship will be (i + 1) · 2 minutes
// after the start, at 8 to 14 knots on a course of its own, and comes back through it every 40 minutes;
// even targets are class A (position type 1, static data type 5), odd ones class B (18 and 24 part A).
// Pure apart from the geodesy; one owner.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace vg::cli {

class SimAisTraffic {
public:
    static constexpr int kMostTargets = 100;
    // `track`: the own ship's (latitude, longitude) of each epoch, repeated; `rate`: epochs a second.
    SimAisTraffic(int targets, std::vector<std::pair<double, double>> track, double rate);
    // The AIS lines of epoch `index` (the own ship at track[index % size]): every target's position,
    // and its static data on the first epoch and every 10 seconds.
    std::string epoch(std::size_t index) const;
    // Where target `i` is at epoch `index` and its course (for tests).
    std::pair<double, double> position(int i, std::size_t index) const;
    double course(int i) const;

private:
    int targets_;
    std::vector<std::pair<double, double>> track_;
    double rate_;
};

}  // namespace vg::cli
