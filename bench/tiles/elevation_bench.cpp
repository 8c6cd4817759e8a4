// The heights of a 256-pixel web tile (sample_web_tile, as hillshade takes them) from a 3″ .hgt file
// and from a cached Terrarium tile of an elevation source, once the data is open or decoded.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <vector>

#include "support/elevation_files.h"
#include "support/test_paths.h"
#include "tiles/elevation.h"
#include "tiles/image_decode.h"
#include "tiles/tile_catalogue.h"
#include "tiles/tile_naming.h"

namespace {

void sample_tile(benchmark::State& state, const vg::ElevationModel& model) {
    // Zoom 12 around 46.5° N, 7.5° E: inside N46E007 and inside the zoom-10 elevation tile.
    const auto x = std::uint32_t(vg::web_tile_column(7.5, 12)), y = std::uint32_t(vg::web_tile_row(46.5, 12));
    std::vector<float> heights;
    for (auto _ : state) {
        if (!vg::sample_web_tile(model, 12, x, y, 256, heights)) state.SkipWithError("no heights");
        benchmark::DoNotOptimize(heights.data());
    }
    state.SetItemsProcessed(state.iterations() * 258 * 258);
}

void BM_SampleWebTileFromHgt(benchmark::State& state) {
    vg::test::TempDir dir;
    std::filesystem::create_directories(dir / "dem");
    vg::test::HgtBytes file(1201);
    for (int r = 0; r < 1201; ++r)
        for (int c = 0; c < 1201; ++c) file.set(r, c, static_cast<std::int16_t>(r + c));
    vg::test::write_file(dir / "dem" / "N46E007.hgt", file.string());
    sample_tile(state, *vg::elevation_for(dir.path().string(), nullptr));
}
BENCHMARK(BM_SampleWebTileFromHgt)->Unit(benchmark::kMillisecond);

void BM_SampleWebTileFromTerrariumTiles(benchmark::State& state) {
    vg::Catalogue catalogue;
    vg::read_sources_text("T|map|http://127.0.0.1:1/{z}/{x}/{y}.png|4,7,10,13||kind=dem\n", catalogue);
    const vg::CatalogueEntry& dem = catalogue.entries.front();
    vg::test::TempDir dir;
    const vg::TileKey key{dem.geometry(), false, vg::zoom_code(10), vg::web_tile_row(46.5, 10), vg::web_tile_column(7.5, 10)};
    const vg::TilePaths paths = vg::catalogue_tile_paths(dem, key, dir.path().string());
    std::filesystem::create_directories(paths.directory);
    vg::write_png(paths.full_path, vg::test::terrarium_tile([](int c, int r) { return 1000.0 + c + r; }));
    sample_tile(state, *vg::elevation_for(dir.path().string(), &dem));
}
BENCHMARK(BM_SampleWebTileFromTerrariumTiles)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
