// The GPS fix record: what the receiver last reported, shared between the receiver side (reader
// thread or position server) and the window side.
#pragma once

#include <array>
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
};

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
