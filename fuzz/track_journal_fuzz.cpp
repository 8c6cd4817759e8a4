// Fuzzes the recording journal's reader: any bytes give points in range with a time, each point
// written back as a journal line reads back as itself, and the segments hold every point.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "track/track_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto points = vg::read_journal(bytes);
    std::string again;
    for (const auto& p : points) {
        if (!p.utc_seconds || !(std::fabs(p.latitude) <= 90 && std::fabs(p.longitude) <= 180)) std::abort();
        if (p.elevation && !std::isfinite(*p.elevation)) std::abort();
        again += vg::journal_line(p);
    }
    const auto back = vg::read_journal(again);
    if (back.size() != points.size()) std::abort();
    for (std::size_t i = 0; i < back.size(); ++i)
        if (back[i].utc_seconds != points[i].utc_seconds || std::fabs(back[i].latitude - points[i].latitude) > 1e-7 ||
            std::fabs(back[i].longitude - points[i].longitude) > 1e-7)
            std::abort();
    std::size_t total = 0;
    for (const auto& run : vg::split_runs(points)) total += run.size();
    if (total != points.size()) std::abort();
    return 0;
}
