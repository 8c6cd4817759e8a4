// AIS decoding against gpsd's own decoder on the same large capture (gpsd's live feed, 100 times over:
// 8.5 MB, 17,100 messages), in one run: `vortool ais` and `gpsdecode` each decode it to JSON as
// processes, and the CPU time of each (user + system, so that a loaded machine does not skew the
// ratio) is compared. ratio > 1: vortool is faster. The assembler and decoder alone are measured too.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <fstream>
#include <sstream>
#include <string>

#include "gps/ais.h"
#include "support/run_program.h"
#include "support/test_paths.h"

namespace {

constexpr int kCopies = 100;

std::string capture() {
    std::ifstream in(vg::test::shared_testdata() / "ais" / "ais-nmea.log", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    std::string all;
    for (int i = 0; i < kCopies; ++i) all += s.str();
    return all;
}

double children_cpu_s() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double cpu_of(const std::string& command) {
    const double before = children_cpu_s();
    if (vg::test::run_shell(command).status != 0) return -1;
    return children_cpu_s() - before;
}

void BM_AisAgainstGpsdecode(benchmark::State& state) {
    if (vg::test::run_shell("command -v gpsdecode >/dev/null").status != 0) {
        state.SkipWithError("gpsdecode (gpsd-clients) is not installed");
        return;
    }
    vg::test::TempDir dir;
    const auto log = (dir / "feed.log").string();
    std::ofstream(log, std::ios::binary) << capture();
    double ours = 0, theirs = 0;
    for (auto _ : state) {
        ours += cpu_of(vg::test::vortool_path().string() + " ais '" + log + "' > /dev/null 2>&1");
        theirs += cpu_of("gpsdecode < '" + log + "' > /dev/null 2>&1");
    }
    state.counters["vortool_cpu_s"] = ours / double(state.iterations());
    state.counters["gpsdecode_cpu_s"] = theirs / double(state.iterations());
    state.counters["ratio"] = ours > 0 ? theirs / ours : 0;
}
BENCHMARK(BM_AisAgainstGpsdecode)->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_AisDecodeLines(benchmark::State& state) {
    const std::string text = capture();
    std::size_t messages = 0;
    for (auto _ : state) {
        vg::ais::AisAssembler assembler;
        std::size_t start = 0;
        while (start < text.size()) {
            auto end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            if (assembler.feed_line(std::string_view(text).substr(start, end - start))) ++messages;
            start = end + 1;
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(messages));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_AisDecodeLines)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
