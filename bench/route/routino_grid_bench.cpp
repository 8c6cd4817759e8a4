// Car routes across a synthetic grid town of 100 000 nodes (316 x 316 streets crossing every 100 m,
// every tenth street a primary road) with Routino. The grid's OSM XML is written here and turned into
// a database by planetsplitter once. Goal: at most 100 ms a route.
//
// Straight across (west edge to east edge) is the goal's case. Corner to corner is the worst case of
// a grid: every node lies on a shortest path, so any goal-directed search touches the whole grid, and
// Routino, whose shortcut graph is no smaller than a grid where every node is a junction, visits all
// 400 000 node-and-street states.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "platform/c_number.h"
#include "route/route.h"
#include "route/routing_data.h"
#include "support/test_paths.h"

namespace {

constexpr int kSide = 316;
constexpr double kStep = 0.0009;  // about 100 m of latitude

std::string grid_osm() {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<osm version=\"0.6\">\n";
    auto id = [](int row, int col) { return std::to_string(1 + row * kSide + col); };
    for (int r = 0; r < kSide; ++r)
        for (int c = 0; c < kSide; ++c)
            xml += "<node id=\"" + id(r, c) + "\" version=\"1\" lat=\"" + vg::fixed_text(47.0 + r * kStep, 6) +
                   "\" lon=\"" + vg::fixed_text(10.0 + c * kStep * 1.48, 6) + "\"/>\n";
    long way = 1;
    for (int line = 0; line < kSide; ++line) {
        const char* kind = line % 10 == 0 ? "primary" : "residential";
        for (const bool across : {true, false}) {
            xml += "<way id=\"" + std::to_string(way++) + "\" version=\"1\">";
            for (int k = 0; k < kSide; ++k) xml += "<nd ref=\"" + (across ? id(line, k) : id(k, line)) + "\"/>";
            xml += "<tag k=\"highway\" v=\"" + std::string(kind) + "\"/></way>\n";
        }
    }
    return xml + "</osm>\n";
}

vg::route::Router* grid_router() {
    static vg::test::TempDir dir;
    static std::unique_ptr<vg::route::Router> router = [] {
        vg::test::write_file(dir / "grid.osm", grid_osm());
        std::string error;
        if (!vg::route::build_database(dir / "grid.osm", dir.path(), "grid", nullptr, nullptr, error))
            std::fprintf(stderr, "grid: %s\n", error.c_str());
        return vg::route::open_routino(vg::route::database_folder(dir.path(), "grid"), error);
    }();
    return router.get();
}

// Start and finish are given in grid steps from the south-west corner, off the junctions.
void route_on_grid(benchmark::State& state, double from_row, double from_col, double to_row, double to_col) {
    vg::route::Router* router = grid_router();
    if (!router) {
        state.SkipWithError("no grid database");
        return;
    }
    auto at = [](double row, double col) { return vg::route::Point{47.0 + row * kStep, 10.0 + col * kStep * 1.48}; };
    const vg::route::Request request{{at(from_row, from_col), at(to_row, to_col)}, vg::route::Profile::car};
    std::string error;
    double length = 0;
    for (auto _ : state) {
        const auto r = router->route(request, nullptr, error);
        if (!r) {
            state.SkipWithError(error.c_str());
            return;
        }
        length = r->length_m;
    }
    state.counters["length_km"] = length / 1000;
}

void RouteStraightAcross(benchmark::State& state) { route_on_grid(state, 157.3, 0.5, 157.6, kSide - 1); }
BENCHMARK(RouteStraightAcross)->Unit(benchmark::kMillisecond);

void RouteCornerToCorner(benchmark::State& state) { route_on_grid(state, 0.3, 0.5, kSide - 1.4, kSide - 1); }
BENCHMARK(RouteCornerToCorner)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
