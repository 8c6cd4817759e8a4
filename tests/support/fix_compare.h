// Field-by-field equality of two fix records, shared by the gps tests and the receiver fuzz targets
// (a header only: the fuzz targets link no test library).
#pragma once

#include <cstring>

#include "gps/fix_record.h"

namespace vg::test {

// True when a reader of the records sees the same values: every number, and each text field up to
// its terminator (bounded by the field, so an unterminated field is compared safely too).
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
    return std::strncmp(a.last_message, b.last_message, sizeof a.last_message) == 0 &&
           std::strncmp(a.utc_text, b.utc_text, sizeof a.utc_text) == 0 &&
           std::strncmp(a.local_text, b.local_text, sizeof a.local_text) == 0 && a.latitude == b.latitude &&
           a.longitude == b.longitude && a.altitude == b.altitude && a.speed_knots == b.speed_knots &&
           a.course == b.course && a.fix_dimension == b.fix_dimension && a.sats_in_view == b.sats_in_view &&
           a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour && a.minute == b.minute &&
           a.second == b.second;
}

}  // namespace vg::test
