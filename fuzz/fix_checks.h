// Checks shared by the receiver fuzz targets: two fix records hold the same values, and no text field
// of a record has lost its terminator.
#pragma once

#include <cstdlib>
#include <cstring>

#include "gps/fix_record.h"

namespace vg::fuzz {

inline bool same_fix(const FixRecord& a, const FixRecord& b) {
    for (int i = 0; i < kSatelliteSlots; ++i) {
        const SatelliteEntry &x = a.satellites[i], &y = b.satellites[i];
        if (x.prn != y.prn || x.elevation != y.elevation || x.azimuth != y.azimuth || x.snr != y.snr ||
            x.used != y.used)
            return false;
    }
    if (a.sky_count != b.sky_count || a.sky_clock != b.sky_clock || std::memcmp(a.talker, b.talker, sizeof a.talker) != 0)
        return false;
    for (int i = 0; i < a.sky_count && i < kSkyEntries; ++i) {
        const SkyEntry &x = a.sky[i], &y = b.sky[i];
        if (x.system != y.system || x.prn != y.prn || x.elevation != y.elevation || x.azimuth != y.azimuth ||
            x.snr != y.snr || x.used != y.used || x.seen != y.seen)
            return false;
    }
    return std::memcmp(a.last_message, b.last_message, sizeof a.last_message) == 0 &&
           std::memcmp(a.utc_text, b.utc_text, sizeof a.utc_text) == 0 &&
           std::memcmp(a.local_text, b.local_text, sizeof a.local_text) == 0 && a.latitude == b.latitude &&
           a.longitude == b.longitude && a.altitude == b.altitude && a.speed_knots == b.speed_knots &&
           a.course == b.course && a.fix_dimension == b.fix_dimension && a.sats_in_view == b.sats_in_view;
}

// Aborts (a finding) when a text field has no terminator.
inline void check_terminated(const FixRecord& fix) {
    if (!std::memchr(fix.last_message, '\0', sizeof fix.last_message)) std::abort();
    if (!std::memchr(fix.utc_text, '\0', sizeof fix.utc_text)) std::abort();
    if (!std::memchr(fix.local_text, '\0', sizeof fix.local_text)) std::abort();
    if (!std::memchr(fix.talker, '\0', sizeof fix.talker)) std::abort();
    if (fix.sky_count < 0 || fix.sky_count > vg::kSkyEntries) std::abort();
}

}  // namespace vg::fuzz
