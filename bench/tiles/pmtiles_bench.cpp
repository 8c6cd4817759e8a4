// Random tile reads from a local PMTiles archive: 65,536 distinct tiles of about 200 bytes (a
// 256 × 256 block at zoom 14, gzip-compressed mvt), so the directory has leaves; the archive is
// written once into the build folder by our writer and kept between runs. Each iteration reads
// one tile at a random address, decompressed, through an archive open for the whole run (the
// leaf cache warm, as in a view that reads many tiles). Target: at least 50,000 tiles/s.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "tiles/pmtiles_file.h"
#include "tiles/pmtiles_writer.h"

namespace {

const std::string kArchive = "bench-64k-tiles.pmtiles";
constexpr int kZoom = 14, kX0 = 8000, kY0 = 5000, kSide = 256;

void make_archive_once() {
    if (std::filesystem::exists(kArchive)) return;
    std::string error;
    auto writer = vg::pmtiles::Writer::create(kArchive, {}, error);
    if (!writer) std::abort();
    std::mt19937 random(7);
    std::vector<std::uint8_t> body(200);
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            for (auto& b : body) b = static_cast<std::uint8_t>(random());
            const auto packed = vg::compress(vg::Compression::gzip, body, error);
            if (!writer->add_tile(kZoom, kX0 + x, kY0 + y, *packed)) std::abort();
        }
    }
    if (!writer->finish(error) || writer->counts().leaves == 0) std::abort();
}

void BM_PmtilesRandomTileReads(benchmark::State& state) {
    make_archive_once();
    std::string error;
    const auto archive = vg::pmtiles::Archive::open_file(kArchive, error);
    if (!archive) std::abort();
    std::mt19937 random(11);
    std::uniform_int_distribution<int> pick(0, kSide - 1);
    for (auto _ : state) {
        auto tile = archive->tile(kZoom, kX0 + pick(random), kY0 + pick(random));
        if (!tile) std::abort();
        benchmark::DoNotOptimize(tile);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PmtilesRandomTileReads);

}  // namespace

BENCHMARK_MAIN();
