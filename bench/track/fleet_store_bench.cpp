// The fleet history's ingest: 1 000 devices reporting once a second into a real SQLite file. Each
// iteration is one second's reports added and committed; the CPU time per iteration (this thread
// and the writer's) over the 1 000 ms a second has is the store's share of one core.
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>

#include "support/test_paths.h"
#include "track/fleet_store.h"

namespace {

using namespace vg;

void BM_FleetIngestOneSecond(benchmark::State& state) {
    test::TempDir dir;
    FleetStore store({dir / "fleet.sqlite"});
    std::int64_t second = static_cast<std::int64_t>(std::time(nullptr)) - 86'400;
    const std::clock_t cpu_start = std::clock();
    std::int64_t seconds = 0;
    for (auto _ : state) {
        for (int d = 0; d < 1000; ++d) {
            DeviceReport r;
            r.id = "device " + std::to_string(d);
            r.via = "http";
            r.lat = 60 + d * 1e-3;
            r.lon = 24 + second * 1e-6;
            r.time_ms = second * 1000;
            r.speed_kmh = 40;
            store.add(r);
        }
        store.flush();
        ++second;
        ++seconds;
    }
    const double cpu_ms = 1000.0 * static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;
    state.counters["cpu_share_of_a_core"] = cpu_ms / (1000.0 * static_cast<double>(seconds));
    if (store.dropped() != 0) state.SkipWithError("reports dropped");
}
BENCHMARK(BM_FleetIngestOneSecond)->Unit(benchmark::kMillisecond)->Iterations(30);

}  // namespace

BENCHMARK_MAIN();
