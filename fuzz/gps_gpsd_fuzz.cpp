// Fuzzes gpsd's JSON report lines. The first byte picks a read size; the rest is the stream. Fed in
// reads of that size or all at once it must leave the same record, with every text terminated and
// every stored coordinate in range; an AIS report's message has its position within the globe or not
// available.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "fix_checks.h"
#include "gps/gpsd_json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::size_t chunk = 1 + data[0] % 97;
    ++data;
    --size;
    vg::GpsdParser split;
    vg::FixRecord fix_split;
    for (std::size_t i = 0; i < size; i += chunk) {
        split.feed(data + i, size - i < chunk ? size - i : chunk, fix_split);
        if (split.pending() > vg::GpsdParser::kLineBufferSize) std::abort();
        vg::fuzz::check_terminated(fix_split);
    }
    vg::GpsdParser whole;
    vg::FixRecord fix_whole;
    whole.feed(data, size, fix_whole);
    if (!vg::fuzz::same_fix(fix_split, fix_whole)) std::abort();
    if (!(std::fabs(fix_whole.latitude) <= 90) || !(std::fabs(fix_whole.longitude) <= 180)) std::abort();

    vg::FixRecord scratch;
    vg::gpsd_report(std::string_view(reinterpret_cast<const char*>(data), size), scratch);
    vg::fuzz::check_terminated(scratch);
    if (const auto m = vg::gpsd_ais_message(std::string_view(reinterpret_cast<const char*>(data), size))) {
        if (const auto lat = m->latitude_deg(); lat && !(std::fabs(*lat) <= 91 && std::fabs(*m->longitude_deg()) <= 181))
            std::abort();
    }
    return 0;
}
