#include "plot/ticks.h"

#include <array>
#include <cmath>
#include <cstdio>

#include "platform/c_number.h"

namespace vg::plot {
namespace {

bool fits(double lo, double hi, double step, int most) {
    return std::floor(hi / step) - std::ceil(lo / step) + 1 <= most;
}

void fill(Ticks& t, double lo, double hi) {
    const double first = std::ceil(lo / t.step - 1e-9);
    for (double k = first; k * t.step <= hi + t.step * 1e-9; k += 1) {
        const double v = k * t.step;
        t.values.push_back(v == 0 ? 0.0 : v);  // no "-0"
    }
}

bool normalise(double& lo, double& hi, int& most) {
    if (!std::isfinite(lo) || !std::isfinite(hi)) return false;
    if (hi < lo) std::swap(lo, hi);
    if (hi == lo) lo -= 0.5, hi += 0.5;
    if (most < 2) most = 2;
    return true;
}

}  // namespace

Ticks round_ticks(double lo, double hi, int most) {
    Ticks t;
    if (!normalise(lo, hi, most)) return t;
    double power = std::pow(10.0, std::floor(std::log10((hi - lo) / most)));
    for (;; power *= 10) {
        for (const double m : {1.0, 2.0, 5.0}) {
            if (fits(lo, hi, m * power, most)) {
                t.step = m * power;
                t.decimals = std::max(0, -static_cast<int>(std::floor(std::log10(t.step) + 1e-9)));
                fill(t, lo, hi);
                return t;
            }
        }
    }
}

Ticks time_ticks(double lo, double hi, int most) {
    Ticks t;
    t.clock = true;
    if (!normalise(lo, hi, most)) return t;
    static constexpr std::array<double, 17> kSteps = {1,    2,    5,    10,    15,    30,    60,    120,  300,
                                                      600,  900,  1800, 3600,  7200,  10800, 21600, 43200};
    t.step = 0;
    for (const double s : kSteps) {
        if (fits(lo, hi, s, most)) {
            t.step = s;
            break;
        }
    }
    if (t.step == 0) {  // longer than a few days: whole days in 1-2-5 steps
        t.step = std::max(1.0, round_ticks(lo / 86400, hi / 86400, most).step) * 86400;
    }
    t.hours = hi >= 3600;
    fill(t, lo, hi);
    return t;
}

std::string tick_text(double value, const Ticks& ticks) {
    char text[48];
    if (ticks.clock) {
        const long long s = std::llround(value);
        const long long sign_free = s < 0 ? -s : s;
        if (ticks.hours)
            std::snprintf(text, sizeof text, "%s%lld:%02lld", s < 0 ? "-" : "", sign_free / 3600, sign_free / 60 % 60);
        else
            std::snprintf(text, sizeof text, "%s%lld:%02lld", s < 0 ? "-" : "", sign_free / 60, sign_free % 60);
        return text;
    }
    return fixed_text(value == 0 ? 0.0 : value, ticks.decimals);
}

void widen_to_ticks(double& lo, double& hi, const Ticks& ticks) {
    lo = std::floor(lo / ticks.step + 1e-9) * ticks.step;
    hi = std::ceil(hi / ticks.step - 1e-9) * ticks.step;
    if (hi <= lo) hi = lo + ticks.step;
}

}  // namespace vg::plot
