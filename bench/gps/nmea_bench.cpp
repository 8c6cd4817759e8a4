// Sentences per second through NmeaParser::nmea_feed, for a receiver's one-second report: RMC, GGA,
// GSA and three GSV sentences (real sentences of a handheld receiver), fed as the reader thread
// feeds them (reads of 80 bytes) and in one large read.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "gps/fix_record.h"
#include "gps/nmea.h"

namespace {

const char* const kEpoch[] = {
    "$GPRMC,225310,A,4527.458,S,16709.165,E,000.0,094.5,060601,024.1,E*64\r\n",
    "$GPGGA,225310,4527.458,S,16709.165,E,1,05,2.1,14.6,M,1.1,M,,*5B\r\n",
    "$GPGSA,A,3,01,,,,13,20,22,,,,28,,3.1,2.1,2.0*3A\r\n",
    "$GPGSV,3,1,11,01,78,221,47,03,09,042,00,04,05,242,00,06,04,149,00*70\r\n",
    "$GPGSV,3,2,11,13,37,235,48,20,41,333,46,22,65,081,46,24,02,205,00*7B\r\n",
    "$GPGSV,3,3,11,25,20,108,00,27,08,281,00,28,17,339,39,,,,*4C\r\n",
};
constexpr int kSentencesPerEpoch = sizeof kEpoch / sizeof kEpoch[0];
constexpr int kEpochs = 1000;

std::string stream() {
    std::string s;
    for (int e = 0; e < kEpochs; ++e)
        for (const char* sentence : kEpoch) s += sentence;
    return s;
}

void run(benchmark::State& state, std::size_t chunk) {
    const std::string bytes = stream();
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    vg::NmeaParser parser;
    vg::FixRecord fix;
    for (auto _ : state) {
        for (std::size_t i = 0; i < bytes.size(); i += chunk)
            parser.nmea_feed(data + i, std::min(chunk, bytes.size() - i), fix);
        benchmark::DoNotOptimize(fix);
    }
    state.SetItemsProcessed(state.iterations() * kEpochs * kSentencesPerEpoch);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}

void BM_NmeaFeedReads80(benchmark::State& state) { run(state, 80); }
void BM_NmeaFeedOneRead(benchmark::State& state) { run(state, 1 << 20); }

BENCHMARK(BM_NmeaFeedReads80);
BENCHMARK(BM_NmeaFeedOneRead);

}  // namespace

BENCHMARK_MAIN();
