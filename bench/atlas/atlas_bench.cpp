// Atlas tiles drawn from the built-in data, one thread: a busy coast and city tile at each of the
// five levels (around Helsinki), an open-ocean tile, and an Etopo2 relief tile. The data is parsed
// once before the timing starts (as the program does on first use). Targets: well under 50 ms a tile.
#include <benchmark/benchmark.h>

#include <QGuiApplication>

#include "atlas/atlas_data.h"
#include "atlas/atlas_render.h"

namespace {

using vg::atlas::builtin_atlas;

// Web tile of Helsinki at each web zoom of our levels.
void BM_AtlasTileHelsinki(benchmark::State& state) {
    const int zoom = static_cast<int>(state.range(0));
    const double n = 1 << zoom;
    const int x = static_cast<int>((24.94 + 180.0) / 360.0 * n);
    const int y = static_cast<int>((1.0 - std::log(std::tan(60.17 * M_PI / 180) + 1 / std::cos(60.17 * M_PI / 180)) / M_PI) / 2 * n);
    const auto& data = builtin_atlas();
    for (auto _ : state) benchmark::DoNotOptimize(vg::atlas::render_tile(data, zoom, x, y));
}
BENCHMARK(BM_AtlasTileHelsinki)->Arg(4)->Arg(7)->Arg(10)->Arg(13)->Arg(16)->Unit(benchmark::kMillisecond);

void BM_AtlasTileOcean(benchmark::State& state) {
    const auto& data = builtin_atlas();
    for (auto _ : state) benchmark::DoNotOptimize(vg::atlas::render_tile(data, 7, 10, 60));
}
BENCHMARK(BM_AtlasTileOcean)->Unit(benchmark::kMillisecond);

void BM_ReliefTileEurope(benchmark::State& state) {
    const auto& data = builtin_atlas();
    for (auto _ : state) benchmark::DoNotOptimize(vg::atlas::render_relief_tile(data, 6, 8));
}
BENCHMARK(BM_ReliefTileEurope)->Unit(benchmark::kMillisecond);

void BM_ParseBuiltinData(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(vg::atlas::parse_atlas(vg::atlas::builtin_atlas_bytes()));
}
BENCHMARK(BM_ParseBuiltinData)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    QGuiApplication app(argc, argv);
    (void)builtin_atlas();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
