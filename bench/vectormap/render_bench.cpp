// A dense z14 city tile in the OpenMapTiles schema (over 5 000 features: buildings, named streets of
// every class, water, places, house numbers) made by the tests' tile writer: decoded from its bytes,
// then drawn with the built-in day style at 256 and 512 pixels, and a zoom-16 cell over-zoomed from
// it. For the ratio, the same cell's 256-pixel picture read back as a PNG tile (what showing a
// downloaded raster tile costs). Targets: a 256-pixel cell within 10 ms, a 512-pixel one within 25.
#include <benchmark/benchmark.h>

#include <QGuiApplication>

#include "support/mvt_builder.h"
#include "support/test_paths.h"
#include "tiles/image_decode.h"
#include "tiles/mvt.h"
#include "vectormap/render.h"

namespace {

using vg::vmap::TileId;

constexpr TileId kCity{14, 9000, 5000};

const vg::mvt::Tile& city() {
    static const vg::mvt::Tile tile = vg::test::city_tile();
    return tile;
}

const vg::vmap::Style& day() { return vg::vmap::Style::builtin(vg::vmap::Schema::OpenMapTiles, false); }

void BM_DecodeCityTile(benchmark::State& state) {
    const std::string bytes = vg::test::encode_tile(city());
    std::size_t features = 0;
    for (const auto& layer : city().layers) features += layer.features.size();
    for (auto _ : state) {
        std::string error;
        auto tile = vg::mvt::decode(bytes, error);
        if (!tile) state.SkipWithError(error.c_str());
        benchmark::DoNotOptimize(tile);
    }
    state.counters["features"] = static_cast<double>(features);
    state.counters["bytes"] = static_cast<double>(bytes.size());
}
BENCHMARK(BM_DecodeCityTile)->Unit(benchmark::kMillisecond);

// The city cell at device scale range(0).
void BM_RenderCityCell(benchmark::State& state) {
    const double scale = static_cast<double>(state.range(0));
    vg::vmap::RenderInfo info;
    for (auto _ : state) benchmark::DoNotOptimize(vg::vmap::render_cell(kCity, city(), kCity, day(), scale, &info));
    state.counters["labels"] = static_cast<double>(info.labels.size());
    state.counters["features_drawn"] = static_cast<double>(info.features_drawn);
}
BENCHMARK(BM_RenderCityCell)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// A zoom-16 cell drawn from the zoom-14 tile (a sixteenth of it, scaled four times).
void BM_RenderOverZoomedCell(benchmark::State& state) {
    const TileId cell{16, kCity.x * 4 + 1, kCity.y * 4 + 2};
    for (auto _ : state) benchmark::DoNotOptimize(vg::vmap::render_cell(cell, city(), kCity, day(), 1));
}
BENCHMARK(BM_RenderOverZoomedCell)->Unit(benchmark::kMillisecond);

// The 256-pixel city cell as a PNG file (libpng's default level, as tile servers write), read back.
void BM_DecodePngTile(benchmark::State& state) {
    const QImage image = vg::vmap::render_cell(kCity, city(), kCity, day(), 1).convertToFormat(QImage::Format_RGB888);
    vg::RgbImage rgb;
    rgb.width = image.width();
    rgb.height = image.height();
    for (int y = 0; y < image.height(); ++y)
        rgb.pixels.insert(rgb.pixels.end(), image.constScanLine(y), image.constScanLine(y) + image.width() * 3);
    vg::test::TempDir dir;
    const auto path = dir / "city.png";
    if (!vg::write_png(path, rgb)) state.SkipWithError("not written");
    for (auto _ : state) {
        vg::RgbImage out;
        if (!vg::load_png(path, out)) state.SkipWithError("not read");
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_DecodePngTile)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    QGuiApplication app(argc, argv);
    // The first text drawn loads the fonts: done before the timing, as a running program has done.
    (void)vg::vmap::render_cell(kCity, city(), kCity, day(), 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
