// Fuzzes the NMEA line framing and sentence handlers. The first byte picks a read size; the rest is
// the receiver stream. Fed in reads of that size or all at once, the stream must leave the same
// record, and no text field may lose its terminator.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "fix_checks.h"
#include "gps/nmea.h"

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
        vg::fuzz::check_terminated(fix_split);
    }

    vg::NmeaParser whole;
    vg::FixRecord fix_whole;
    fix_whole.local_offset_hours = fix_split.local_offset_hours;
    whole.nmea_feed(data, size, fix_whole);
    if (!vg::fuzz::same_fix(fix_split, fix_whole)) std::abort();

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
    vg::fuzz::check_terminated(scratch);
    (void)astral_lines;
    return 0;
}
