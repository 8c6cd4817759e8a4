// Fuzzes the NMEA line framing and sentence handlers. The first byte picks a read size; the rest is
// the receiver stream. Fed in reads of that size or all at once, the stream must leave the same
// record, and no text field may lose its terminator.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "gps/nmea.h"

namespace {

bool same(const vg::FixRecord& a, const vg::FixRecord& b) {
    for (int i = 0; i < vg::kSatelliteSlots; ++i) {
        const vg::SatelliteEntry &x = a.satellites[i], &y = b.satellites[i];
        if (x.prn != y.prn || x.elevation != y.elevation || x.azimuth != y.azimuth || x.snr != y.snr ||
            x.used != y.used)
            return false;
    }
    return std::memcmp(a.last_message, b.last_message, sizeof a.last_message) == 0 &&
           std::memcmp(a.utc_text, b.utc_text, sizeof a.utc_text) == 0 &&
           std::memcmp(a.local_text, b.local_text, sizeof a.local_text) == 0 && a.latitude == b.latitude &&
           a.longitude == b.longitude && a.altitude == b.altitude && a.speed_knots == b.speed_knots &&
           a.course == b.course && a.fix_dimension == b.fix_dimension && a.sats_in_view == b.sats_in_view;
}

void check_terminated(const vg::FixRecord& fix) {
    if (!std::memchr(fix.last_message, '\0', sizeof fix.last_message)) std::abort();
    if (!std::memchr(fix.utc_text, '\0', sizeof fix.utc_text)) std::abort();
    if (!std::memchr(fix.local_text, '\0', sizeof fix.local_text)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::size_t chunk = 1 + data[0] % 97;
    ++data;
    --size;

    std::size_t astral_lines = 0;
    vg::NmeaParser split([&](std::string_view line) {
        if (line.substr(0, 6) != "ASTRAL") std::abort();
        ++astral_lines;
    });
    vg::FixRecord fix_split;
    fix_split.local_offset_hours = static_cast<int>(chunk % 47) - 23;
    for (std::size_t i = 0; i < size; i += chunk) {
        split.nmea_feed(data + i, size - i < chunk ? size - i : chunk, fix_split);
        if (split.pending() >= vg::NmeaParser::kLineBufferSize) std::abort();
        check_terminated(fix_split);
    }

    vg::NmeaParser whole;
    vg::FixRecord fix_whole;
    fix_whole.local_offset_hours = fix_split.local_offset_hours;
    whole.nmea_feed(data, size, fix_whole);
    if (!same(fix_split, fix_whole)) std::abort();

    // The field helpers on the raw bytes as one sentence text.
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    vg::FixRecord scratch;
    for (int n = 0; n < 24; ++n) {
        std::string_view field = vg::nmea_field(text, n);
        if (!field.empty() && (field.data() < text.data() || field.data() + field.size() > text.data() + text.size()))
            std::abort();
        vg::nmea_position(text, n, scratch);
    }
    whole.nmea_dispatch(text, scratch);
    check_terminated(scratch);
    (void)astral_lines;
    return 0;
}
