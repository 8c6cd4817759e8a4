// The trip figures of a 100 000-point track (28 hours at one fix a second, rolling ground, noisy
// altitude) worked out whole, as vortool stats and opening a saved track do; the live trip does the
// same work one fix at a time. Target: under 50 ms.
#include <benchmark/benchmark.h>

#include "support/synthetic_track.h"
#include "track/trip_stats.h"

namespace {

void trip_figures_100k(benchmark::State& state) {
    const auto ride = vg::test::synthetic_ride(vg::test::Relief::rolling, 5, 1, 100'000, 5);
    for (auto _ : state) {
        vg::TripStats stats;
        for (const auto& s : ride.samples) stats.add(s);
        benchmark::DoNotOptimize(stats.figures());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(ride.samples.size()));
}
BENCHMARK(trip_figures_100k)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
