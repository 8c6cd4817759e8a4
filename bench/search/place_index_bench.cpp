// Searching a place index of a million names (a country's pack has some hundred thousand to a few
// million): made-up street, place and house names of syllables, spread over a 10-degree square, then
// queries as typed: a rare whole name, a common street word with a place nearby, a two-letter prefix.
// Goal: a search in 50 ms or less.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <string>

#include "search/place_index.h"
#include "support/test_paths.h"

namespace {

constexpr std::size_t kNames = 1'000'000;

std::string word(std::mt19937& random) {
    static const char* syllables[] = {"ka", "lo", "mi", "ber", "ston", "ford", "ley", "ham", "wick", "dor",
                                      "an", "el", "ri", "vel", "mar", "tin", "gro", "sen", "bu", "zo"};
    std::string w;
    const int n = 2 + static_cast<int>(random() % 3);
    for (int i = 0; i < n; ++i) w += syllables[random() % 20];
    w[0] = static_cast<char>(w[0] - 32);
    return w;
}

struct Index {
    vg::test::TempDir dir;
    std::unique_ptr<vg::search::PlaceIndex> index;
    Index() {
        static const char* types[] = {"Street", "Road", "Lane", "Avenue", "Way", "Close", "Hill", "Park"};
        std::mt19937 random(7);
        std::string error;
        const std::string path = (dir / "million.search.sqlite").string();
        auto writer = vg::search::IndexWriter::create(path, error);
        std::uniform_real_distribution<double> lat(45, 55), lon(0, 10);
        for (std::size_t i = 0; i < kNames; ++i) {
            vg::search::Place p;
            switch (i % 4) {
            case 0: p = {word(random), {}, "place/village", lat(random), lon(random)}; break;
            case 3: p = {std::to_string(1 + random() % 200), {}, "housenumber", lat(random), lon(random)}; break;
            default:
                p = {word(random) + " " + types[random() % 8], {}, "transportation_name/minor", lat(random),
                     lon(random)};
            }
            writer->add(p);
        }
        writer->add({"Берёзовка", {"Beryozovka"}, "place/village", 50, 5});
        writer->finish(error);
        index = vg::search::PlaceIndex::open(path, error);
    }
};

Index& shared_index() {
    static Index index;
    return index;
}

void search(benchmark::State& state, const char* query) {
    const auto& index = *shared_index().index;
    std::size_t found = 0;
    for (auto _ : state) {
        const auto results = index.search(query, vg::search::LatLon{50.0, 5.0}, 20);
        found = results.size();
        benchmark::DoNotOptimize(results.data());
    }
    state.counters["results"] = static_cast<double>(found);
}

void BM_SearchRareName(benchmark::State& state) { search(state, "beryozovka"); }
void BM_SearchCommonStreetWord(benchmark::State& state) { search(state, "kalo street"); }
void BM_SearchOneWordEverywhere(benchmark::State& state) { search(state, "street"); }
void BM_SearchShortPrefix(benchmark::State& state) { search(state, "ka"); }
BENCHMARK(BM_SearchRareName)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchCommonStreetWord)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchOneWordEverywhere)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchShortPrefix)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
