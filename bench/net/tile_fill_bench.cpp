// Time to fill a 4 × 4 view: 16 tiles fetched one after the other with http_get_file from a loopback
// tile server that waits before each reply (20 ms, as a nearby tile server would), and without the
// wait to show the client's own cost per tile.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "net/http_client.h"

// The tests' loopback server, compiled in here (benchmarks do not link the test support library).
#include "../../tests/support/loopback_http_server.cpp"

namespace {

std::string read_all(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void fill_view(benchmark::State& state) {
    const auto latency = std::chrono::milliseconds(state.range(0));
    const std::string tile = read_all(std::filesystem::path(VG_TESTDATA) / "images/bench/map256-rgb.png");
    vg::test::LoopbackHttpServer server(vg::test::ScriptedReply::make(200, "image/png", tile).after(latency));

    std::string pattern = (std::filesystem::temp_directory_path() / "vgbench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        state.SkipWithError("no temp folder");
        return;
    }
    const std::filesystem::path dir = pattern;
    vg::HttpOptions options;
    options.settings_dir = dir;  // no vor_ini.txt: direct connections

    for (auto _ : state) {
        int fetched = 0;
        for (int row = 0; row < 4; ++row)
            for (int column = 0; column < 4; ++column)
                fetched += vg::http_get_file(server.url("/2/" + std::to_string(column) + "/" + std::to_string(row) + ".png"),
                                             dir / ("t" + std::to_string(row * 4 + column) + ".png"), options);
        if (fetched != 16) state.SkipWithError("a tile failed");
    }
    state.counters["tiles"] = benchmark::Counter(16.0 * static_cast<double>(state.iterations()),
                                                 benchmark::Counter::kIsRate);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

}  // namespace

BENCHMARK(fill_view)->Arg(20)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

BENCHMARK_MAIN();
