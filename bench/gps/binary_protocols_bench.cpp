// Bytes per second through the Zodiac and Garmin feeds, over the real receiver captures read in the
// 80-byte pieces the reader thread hands over.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "gps/garmin.h"
#include "gps/zodiac.h"
#include "support/nmea_capture.h"

namespace {

// A capture without its leading "#" header lines.
std::string capture(const char* name) { return vg::test::binary_log_body(vg::test::receivers_dir() / name); }

template <typename Parser>
void feed_capture(benchmark::State& state, Parser& parser, const std::string& bytes) {
    vg::FixRecord fix;
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    for (auto _ : state) {
        for (std::size_t at = 0; at < bytes.size(); at += 80)
            parser.feed(data + at, std::min<std::size_t>(80, bytes.size() - at), fix);
        benchmark::DoNotOptimize(fix);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytes.size()));
}

void BM_ZodiacFeed(benchmark::State& state) {
    const std::string bytes = capture("zodiac.log");
    if (bytes.empty()) {
        state.SkipWithError("zodiac.log not found");
        return;
    }
    vg::ZodiacParser parser(vg::ParserContext{}, nullptr);
    feed_capture(state, parser, bytes);
}
BENCHMARK(BM_ZodiacFeed);

void BM_GarminFeed(benchmark::State& state) {
    const std::string bytes = capture("garmin18x-bin.log");
    if (bytes.empty()) {
        state.SkipWithError("garmin18x-bin.log not found");
        return;
    }
    vg::GarminParser parser;
    feed_capture(state, parser, bytes);
}
BENCHMARK(BM_GarminFeed);

}  // namespace

BENCHMARK_MAIN();
