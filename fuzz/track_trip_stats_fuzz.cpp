// Fuzzes the trip figures with any points: each 40 bytes are a point's latitude, longitude, time,
// altitude and speed (any doubles: NaN, infinities, huge values), a first byte 0xFF before a point
// starts a new segment. Every figure stays a finite number in its range, and no point is lost.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "track/trip_stats.h"

namespace {
bool ok(const std::optional<double>& v, bool may_be_negative = false) {
    return !v || (std::isfinite(*v) && (may_be_negative || *v >= 0));
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vg::TripStats stats;
    std::size_t count = 0;
    while (size >= 40) {
        if (data[0] == 0xFF) stats.begin_segment();
        double v[5];
        std::memcpy(v, data, sizeof v);
        stats.add({v[0], v[1], v[2], v[3], v[4]});
        ++count;
        data += 40;
        size -= 40;
    }
    const vg::TripFigures f = stats.figures();
    if (!std::isfinite(f.distance_m) || f.distance_m < 0) std::abort();
    if (!ok(f.total_s) || !ok(f.moving_s) || !ok(f.avg_moving_mps) || !ok(f.max_mps) || !ok(f.ascent_m) ||
        !ok(f.descent_m) || !ok(f.min_ele_m, true) || !ok(f.max_ele_m, true))
        std::abort();
    if (f.moving_s && *f.moving_s > *f.total_s * (1 + 1e-9) + 1e-6) std::abort();
    if (f.min_ele_m && *f.min_ele_m > *f.max_ele_m) std::abort();
    if (f.points + f.rejected != count || f.outliers > f.points) std::abort();
    return 0;
}
