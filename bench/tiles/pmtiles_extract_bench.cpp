// A region extract from a remote archive: a generated clustered archive (zooms 0 to 8, a few hundred
// to a few thousand bytes a tile, the southern sea one shared content) served with byte ranges by the
// loopback HTTP server, and the region 5° E to 40° E, 35° N to 60° N at zooms 2 to 8 copied out of it
// by pmtiles_extract. Counters: `fetch_ratio`, bytes received (directories included) per tile byte
// written (target: at most 1.2), the ranges asked, and the tiles written.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "net/fetcher.h"
#include "tiles/pmtiles_extract.h"

#include "support/loopback_http_server.h"
#include "support/pmtiles_world.h"
#include "support/range_file.h"
#include "support/test_paths.h"

namespace {

void BM_PmtilesExtractFetchRatio(benchmark::State& state) {
    vg::test::RangeFile file(vg::test::clustered_archive(vg::test::world_tiles(8, ""), 300));
    vg::test::LoopbackHttpServer server(file.handler());
    vg::test::TempDir dir;
    vg::Fetcher fetcher;
    vg::pmtiles::ExtractResult last;
    int run = 0;
    for (auto _ : state) {
        vg::pmtiles::ExtractRequest rq;
        rq.source = server.url("/world.pmtiles");
        vg::test::set_extract_area(rq);
        rq.out = dir / ("area-" + std::to_string(run++) + ".pmtiles");
        last = vg::pmtiles::extract_region(fetcher, rq);
        if (last.status != vg::pmtiles::ExtractResult::Status::ok) {
            state.SkipWithError(last.error.c_str());
            return;
        }
        std::filesystem::remove(rq.out);
    }
    state.counters["fetch_ratio"] = static_cast<double>(last.fetched) / static_cast<double>(last.tile_bytes);
    state.counters["requests"] = static_cast<double>(last.requests);
    state.counters["tiles"] = static_cast<double>(last.tiles);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * last.tile_bytes));
}
BENCHMARK(BM_PmtilesExtractFetchRatio)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
