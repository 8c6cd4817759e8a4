// Map pack reads, one thread. A pack of 200 MB (4096 tiles of 50 kB at zoom 12, the sqlite3 command
// writes it once into the build folder, kept between runs) is opened and one tile read, and single
// tiles are read from an open pack. Opening does not depend on the pack's size: SQLite reads the
// schema page and then walks the index, so neither the open nor a tile read touches the rest.
// Targets: a tile read well under 1 ms.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tiles/mbtiles.h"

namespace {

const std::string kPack = "bench-pack-200mb.mbtiles";

void make_pack_once() {
    if (std::filesystem::exists(kPack)) return;
    const std::string sql =
        "CREATE TABLE metadata (name text, value text);"
        "INSERT INTO metadata VALUES ('name','Bench'),('format','png');"
        "CREATE TABLE tiles (zoom_level integer, tile_column integer, tile_row integer, tile_data blob);"
        "CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, tile_row);"
        "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 4095) "
        "INSERT INTO tiles SELECT 12, 2000 + i % 64, 3000 + i / 64, X'89504E470D0A1A0A' || randomblob(50000) FROM n;";
    const std::string cmd = "sqlite3 " + kPack + ".tmp \"" + sql + "\" && mv " + kPack + ".tmp " + kPack;
    if (std::system(cmd.c_str()) != 0) std::abort();
}

void BM_PackOpenAndReadOne(benchmark::State& state) {
    make_pack_once();
    for (auto _ : state) {
        std::string error;
        const auto pack = vg::MbtilesPack::open(kPack, error);
        benchmark::DoNotOptimize(pack->read_tile(12, 2010, 4095 - 3010));
    }
    state.counters["pack_MB"] = static_cast<double>(std::filesystem::file_size(kPack)) / 1e6;
}
BENCHMARK(BM_PackOpenAndReadOne)->Unit(benchmark::kMicrosecond);

void BM_PackTileRead(benchmark::State& state) {
    make_pack_once();
    std::string error;
    const auto pack = vg::MbtilesPack::open(kPack, error);
    int i = 0;
    for (auto _ : state) {
        const int k = (i++ * 37) % 4096;
        benchmark::DoNotOptimize(pack->read_tile(12, 2000 + k % 64, 4095 - (3000 + k / 64)));
    }
}
BENCHMARK(BM_PackTileRead)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
