// What styling one busy tile costs: the built-in OpenMapTiles day style's filters and paints over 5000
// features (roads, buildings, places) at zoom 14.5, as the renderer evaluates them per tile.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "vectormap/style.h"

namespace {

using namespace vg;

mvt::Layer layer(const std::string& name, const std::vector<std::string>& classes, mvt::GeomType type, int count) {
    mvt::Layer l;
    l.name = name;
    l.keys = {"class", "name", "brunnel", "rank"};
    for (const auto& c : classes) {
        mvt::Value v;
        v.string = c;
        l.values.push_back(v);
    }
    mvt::Value n;
    n.string = "Isokatu";
    l.values.push_back(n);
    for (int i = 0; i < count; ++i) {
        mvt::Feature f;
        f.type = type;
        f.tags = {0, static_cast<std::uint32_t>(i % classes.size()), 1, static_cast<std::uint32_t>(classes.size())};
        l.features.push_back(f);
    }
    return l;
}

void BM_StyleBusyTile(benchmark::State& state) {
    const vmap::Style& style = vmap::Style::builtin(vmap::Schema::OpenMapTiles, false);
    const std::vector<mvt::Layer> tile = {
        layer("transportation", {"motorway", "primary", "secondary", "tertiary", "minor", "service", "path", "rail"},
              mvt::GeomType::LineString, 2500),
        layer("building", {"building"}, mvt::GeomType::Polygon, 2000),
        layer("place", {"city", "town", "village", "suburb"}, mvt::GeomType::Point, 500),
    };
    const double zoom = 14.5;
    for (auto _ : state) {
        int drawn = 0;
        for (const auto& sl : style.layers()) {
            if (!style.shown_at(sl, zoom)) continue;
            for (const auto& tl : tile) {
                if (tl.name != sl.source_layer) continue;
                for (const auto& f : tl.features) {
                    const vmap::FeatureContext ctx{zoom, &tl, &f};
                    if (!style.matches(sl, ctx)) continue;
                    ++drawn;
                    switch (sl.type) {
                    case vmap::Style::LayerType::Fill: benchmark::DoNotOptimize(style.fill(sl, ctx)); break;
                    case vmap::Style::LayerType::Line: benchmark::DoNotOptimize(style.line(sl, ctx)); break;
                    case vmap::Style::LayerType::Symbol: benchmark::DoNotOptimize(style.text(sl, ctx)); break;
                    case vmap::Style::LayerType::Circle: benchmark::DoNotOptimize(style.circle(sl, ctx)); break;
                    default: break;
                    }
                }
            }
        }
        benchmark::DoNotOptimize(drawn);
    }
}
BENCHMARK(BM_StyleBusyTile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
