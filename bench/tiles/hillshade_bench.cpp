// Hillshade of one web cell from its sampled heights (the work the map layer adds to each cell), and
// the relief picture of an Etopo2 cell.
#include <benchmark/benchmark.h>

#include "support/terrain.h"
#include "tiles/elevation.h"
#include "tiles/geometry.h"
#include "tiles/hillshade.h"

namespace {

std::vector<float> cell_heights(int size) {
    std::vector<float> grid;
    vg::test::SyntheticElevation model;
    vg::sample_web_tile(model, 9, 265, 181, size, grid);  // the mountain's cell at zoom 9
    return grid;
}

void BM_HillshadeCell(benchmark::State& state) {
    const int size = int(state.range(0));
    const std::vector<float> grid = cell_heights(size);
    const vg::PixelMetres step{150.0 * 256 / size, 150.0 * 256 / size};
    std::vector<std::uint8_t> shade;
    std::vector<std::uint8_t> rgb(std::size_t(size) * size * 3, 200);
    for (auto _ : state) {
        vg::hillshade(grid, size, size, {&step, 1}, shade);
        vg::blend_shade(rgb, 3, shade, 60);
        benchmark::DoNotOptimize(rgb.data());
    }
}
BENCHMARK(BM_HillshadeCell)->Arg(256)->Arg(512)->Unit(benchmark::kMillisecond);

void BM_ReliefCell(benchmark::State& state) {
    const std::vector<float> grid = cell_heights(256);
    const vg::PixelMetres step{150.0, 150.0};
    std::vector<std::uint8_t> picture(256 * 256 * 3, 200);
    for (auto _ : state) {
        vg::relief_picture(grid, 256, 256, {&step, 1}, 60, picture, 3);
        benchmark::DoNotOptimize(picture.data());
    }
}
BENCHMARK(BM_ReliefCell)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
