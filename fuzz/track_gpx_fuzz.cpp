// Fuzzes the GPX reader and the track log reader on the same bytes: any input must give a defined
// result (true with points in range, or false with a reason), and what the track log reader finds
// must write out as GPX that reads back with the same number of segments, and the plot's reader must
// find the same positions.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "track/gpx.h"
#include "track/track_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    vg::GpxData gpx;
    std::string error;
    if (vg::read_gpx(bytes, gpx, error)) {
        for (const auto& line : gpx.lines)
            for (const auto& p : line)
                if (!(std::fabs(p.latitude) <= 90 && std::fabs(p.longitude) <= 180)) std::abort();
    } else if (error.empty()) {
        std::abort();
    }
    const auto runs = vg::read_track_log(bytes);
    std::size_t segments = 0, points = 0;
    for (const auto& run : runs) {
        segments += run.empty() ? 0 : 1;
        points += run.size();
    }
    // The plot's reader takes the same lines as the export's.
    if (vg::read_track_positions(bytes, SIZE_MAX).size() != points) std::abort();
    const std::string out = vg::write_gpx(runs, bytes.substr(0, 40));
#ifndef VG_NO_LIBXML2
    // Without libxml2 (a build without it) GPX cannot be read back.
    vg::GpxData back;
    if (!vg::read_gpx(out, back, error) || back.lines.size() != segments) std::abort();
#else
    (void)segments;
#endif
    return 0;
}
