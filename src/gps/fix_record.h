// The GPS fix record: what the receiver last reported, shared between the receiver side (reader
// thread or position server) and the window side.
#pragma once

#include <array>
#include <cmath>
#include <mutex>

namespace vg {

struct SatelliteEntry {
    int prn = 0;
    int elevation = 0;
    int azimuth = 0;
    int snr = 0;
    int used = 0;
};

inline constexpr int kSatelliteSlots = 12;

// The satellite systems a receiver may report, as the sky table names them.
enum class GnssSystem : unsigned char { Unknown = 0, Gps, Glonass, Galileo, Beidou, Qzss, Navic, Sbas };

// "GPS", "GLONASS", "Galileo", "BeiDou", "QZSS", "NavIC", "SBAS" or "unknown".
const char* gnss_system_name(GnssSystem system);

// The system of a satellite number in the numbering that NMEA GP and GN talkers and gpsd's "PRN" use
// (1-32 GPS, 33-64 and 120-158 SBAS, 65-96 GLONASS, 193-200 QZSS, 201-237 and 401-437 BeiDou,
// 301-336 Galileo).
GnssSystem gnss_system_of_prn(int prn);

// One satellite in view of any system. `seen` is the sky clock (FixRecord::sky_clock) when a report
// last named it; entries that no report names for a while are dropped.
struct SkyEntry {
    GnssSystem system = GnssSystem::Unknown;
    int prn = 0;
    int elevation = 0;
    int azimuth = 0;
    int snr = 0;
    int used = 0;
    unsigned seen = 0;
};

inline constexpr int kSkyEntries = 64;

struct FixRecord {
    char last_message[256] = {};
    char utc_text[20] = {};
    char local_text[20] = {};
    double latitude = 0;
    double longitude = 0;
    double altitude = 0;
    double speed_knots = 0;
    double course = 0;
    int fix_dimension = 0;
    int sats_in_view = 0;
    std::array<SatelliteEntry, kSatelliteSlots> satellites{};
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    int local_offset_hours = 0;
    // Local time is the system's (its zone rules, daylight saving included) instead of the fixed
    // offset; local_zone_name then holds the zone's abbreviation at the fix's time ("EET", "EEST").
    bool local_zone_system = false;
    char local_zone_name[8] = {};
    // Talker of the last NMEA position sentence stored ("GP", "GN", ...); empty for other sources.
    char talker[3] = {};
    // Every satellite in view, of every system, in the order the reports named them.
    std::array<SkyEntry, kSkyEntries> sky{};
    int sky_count = 0;
    unsigned sky_clock = 0;  // advanced by each satellite report group
    // Advanced by every position stored (even the same place again): the window tells a fix that
    // keeps arriving from one that stopped.
    unsigned positions = 0;
    // How good the fix is, where the receiver says: the GGA quality (0 none, 1 GPS, 2 DGPS, 3 PPS,
    // 4 RTK fixed, 5 RTK float, 6 dead reckoning, 7 manual, 8 simulated; gpsd's status mapped to it),
    // -1 when unknown; the age of the corrections in seconds and the correction station (NaN, -1
    // when not given); the horizontal error estimate in metres at one sigma (GST, gpsd's eph), NaN
    // when unknown.
    int quality = -1;
    double correction_age = std::nan("");
    int station_id = -1;
    double h_error_m = std::nan("");
};

// The name of a fix's quality for the window ("RTK fixed", "RTK float", "DGPS", "3D", "2D", "Dead
// reckoning", ...): the quality when the receiver gave one above a plain fix, else the dimension;
// "" without a fix.
const char* fix_quality_name(const FixRecord& fix);

// Whether a position can be stored: finite, latitude within ±90°, longitude within ±180°. Every
// receiver type and the position server refuse anything else.
inline bool valid_coordinates(double latitude, double longitude) {
    return std::isfinite(latitude) && std::isfinite(longitude) && std::fabs(latitude) <= 90.0 &&
           std::fabs(longitude) <= 180.0;
}

// Stores a receiver's UTC date and time in the clock fields and texts, and shifts the clock
// fields by local_offset_hours (at most one day is crossed; February always has 28 days), or with
// local_zone_system converts them to the system's local time.
void set_receiver_time(FixRecord& fix, int year, int month, int day, int hour, int minute, int second);

// The one fix record of the program. Writers (the reader thread, the position server) and readers
// (the window thread) hold the lock only for a short copy or a parse of one chunk, so a writer never
// waits for the window thread to do anything but finish such a copy.
class SharedFix {
public:
    // Runs fn(FixRecord&) under the lock; used by the writers.
    template <typename Fn>
    decltype(auto) update(Fn&& fn) {
        std::lock_guard lock(mutex_);
        return fn(record_);
    }
    FixRecord snapshot() const {
        std::lock_guard lock(mutex_);
        return record_;
    }

private:
    mutable std::mutex mutex_;
    FixRecord record_;
};

}  // namespace vg
