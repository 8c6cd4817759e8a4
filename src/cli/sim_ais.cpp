#include "cli/sim_ais.h"

#include <algorithm>
#include <cmath>

#include "geo/geodesy.h"
#include "gps/ais.h"
#include "gps/ais_encode.h"

namespace vg::cli {

namespace {

constexpr double kCrossingEverySeconds = 120;  // target i crosses (i + 1) · this after the start
constexpr double kCycleSeconds = 40 * 60;      // and again every cycle
constexpr std::uint32_t kFirstMmsi = 230990001;

double speed_kn(int i) { return 8 + (i % 4) * 2; }

}  // namespace

SimAisTraffic::SimAisTraffic(int targets, std::vector<std::pair<double, double>> track, double rate)
    : targets_(std::clamp(targets, 0, kMostTargets)), track_(std::move(track)), rate_(rate > 0 ? rate : 1) {
    if (track_.empty()) targets_ = 0;
}

double SimAisTraffic::course(int i) const { return std::fmod(60 + i * 137.5, 360.0); }

std::pair<double, double> SimAisTraffic::position(int i, std::size_t index) const {
    const double crossing_s = (i + 1) * kCrossingEverySeconds;
    const auto meet_epoch = static_cast<std::size_t>(std::lround(crossing_s * rate_));
    const auto& [lat, lon] = track_[meet_epoch % track_.size()];
    // Seconds from the nearest crossing, -cycle/2 .. cycle/2.
    const double t = static_cast<double>(index) / rate_ - crossing_s;
    const double from_crossing = t - kCycleSeconds * std::floor(t / kCycleSeconds + 0.5);
    const double metres = speed_kn(i) * 1852 / 3600 * from_crossing;
    const geo::Position p = metres >= 0 ? geo::direct(lat, lon, course(i), metres)
                                        : geo::direct(lat, lon, std::fmod(course(i) + 180, 360.0), -metres);
    return {p.lat, p.lon};
}

std::string SimAisTraffic::epoch(std::size_t index) const {
    std::string out;
    const auto static_every = static_cast<std::size_t>(std::max(1.0, std::round(10 * rate_)));
    for (int i = 0; i < targets_; ++i) {
        const bool class_a = i % 2 == 0;
        const auto [lat, lon] = position(i, index);
        ais::Message m;
        m.type = class_a ? 1 : 18;
        m.mmsi = kFirstMmsi + static_cast<std::uint32_t>(i);
        m.status = 0;
        m.turn = 0;
        m.speed = static_cast<int>(std::lround(speed_kn(i) * 10));
        m.accuracy = true;
        m.lon = static_cast<std::int32_t>(std::lround(lon * 600000));
        m.lat = static_cast<std::int32_t>(std::lround(lat * 600000));
        m.course = static_cast<int>(std::lround(course(i) * 10)) % 3600;
        m.heading = static_cast<int>(std::lround(course(i))) % 360;
        m.second = static_cast<int>(static_cast<double>(index) / rate_) % 60;
        m.cs = !class_a;
        for (const std::string& s : ais::encode_sentences(m)) out += s;
        if (index % static_every != 0) continue;
        ais::Message d;
        d.mmsi = m.mmsi;
        d.shipname = "SIM TARGET " + std::to_string(i + 1);
        if (class_a) {
            d.type = 5;
            d.callsign = "OJ" + std::to_string(1000 + i);
            d.shiptype = 70;  // cargo
            d.to_bow = 80;
            d.to_stern = 20;
            d.to_port = 8;
            d.to_starboard = 8;
            d.destination = "HELSINKI";
        } else {
            d.type = 24;
            d.partno = 0;
        }
        for (const std::string& s : ais::encode_sentences(d, i % 10)) out += s;
    }
    return out;
}

}  // namespace vg::cli
