// Axis ticks a reader takes in at a glance: steps of 1, 2 or 5 times a power of ten for numbers, and
// whole seconds, minutes or hours (1, 2, 5, 10, 15, 30 of them) for times, labelled "m:ss" or "h:mm".
// Threads: pure functions. Failure: none; an empty or inverted range is widened to a unit around it,
// values that are not finite give no ticks.
#pragma once

#include <string>
#include <vector>

namespace vg::plot {

struct Ticks {
    double step = 1.0;
    std::vector<double> values;  // multiples of step within the range, rising
    int decimals = 0;            // digits after the point a label needs for this step
    bool clock = false;          // labels are times
    bool hours = false;          // times as h:mm (else m:ss)
};

// At most `most` (at least 2) ticks inside [lo, hi], of the smallest round step that keeps within it.
Ticks round_ticks(double lo, double hi, int most);
// The same for seconds, in steps a clock reads; past a day, whole days in 1-2-5 steps.
Ticks time_ticks(double lo, double hi, int most);
// The label of a tick value: "1.5", "20", or for times "0:30" (m:ss) or "1:05" (h:mm).
std::string tick_text(double value, const Ticks& ticks);
// The range [lo, hi] widened outwards to the nearest multiples of the ticks' step.
void widen_to_ticks(double& lo, double& hi, const Ticks& ticks);

}  // namespace vg::plot
