// Re-routing after a missed turn: from the paint that takes the fix which decides the route was left
// to the paint whose frame carries the new line from the position (goal: at most a second). The
// router is a fake of no cost, so what is measured is the window's part: the request handed to the
// worker, its result taken, guidance made again and the line placed in the frame; the second run
// routes with Routino over the test town, its own time included.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <thread>

#include "app/app.h"
#include "support/fake_window.h"
#include "support/route_drive.h"
#include "support/test_paths.h"
#include "support/town_routing.h"

namespace {

using namespace vg;

constexpr double kLat = 60.175;
constexpr double kLon = 24.916667;

class InstantRouter : public route::Router {
public:
    std::optional<route::Route> route(const route::Request& rq, const std::atomic<bool>*, std::string&) override {
        route::Route r = test::town_route(rq.waypoints.front().lat, rq.waypoints.front().lon);
        r.line.back() = rq.waypoints.back();
        return r;
    }
    std::string name() const override { return "instant"; }
};

// Times `iterations` missed turns: routed to `to` from fixes[0], then fed the fixes until a paint
// takes the one that leaves the route, and painted until the new line from the position is in.
void reroute_after_missed_turn(benchmark::State& state, std::function<std::unique_ptr<route::Router>()> router,
                               const std::vector<route::GuidanceFix>& fixes, route::Point to) {
    test::TempDir scratch;
    const auto dir = scratch.path();
    std::ofstream(dir / "vor_set.txt") << "site=VirtualEarth\r\nsize=small\r\nunit=NMEA\r\nport=COM0\r\n";
    std::ofstream(dir / "vor_ini.txt") << "maps=" << (dir / "Maps").string() << "\r\nzoom=2\r\n";
    AppOptions options;
    options.start_probe = false;
    options.server.port = 0;
    options.server.bind_address = "127.0.0.1";
    // No tile leaves the machine: the tile hosts are a closed port.
    TileHosts closed;
    closed.etopo2 = closed.openstreetmap = closed.google_map = closed.google_aerial = closed.mapquest = "127.0.0.1:1";
    closed.virtual_earth_road.fill("127.0.0.1:1");
    closed.virtual_earth_aerial.fill("127.0.0.1:1");
    options.tile_hosts = closed;
    options.router = std::move(router);
    test::FakeWindow window;
    App app(dir, options);
    app.create(window);
    auto feed = [&](const route::GuidanceFix& f) {
        app.fix().update([&](FixRecord& r) {
            r.latitude = f.lat;
            r.longitude = f.lon;
            r.fix_dimension = 3;
            r.course = f.course_deg;
            r.speed_knots = f.speed_mps / (1852.0 / 3600);
            ++r.positions;
        });
    };
    std::optional<route::Point> first;
    auto drawn_again = [&](const PaintFrame& frame) {
        return !app.routing() && !frame.route.rerouting && app.current_route() &&
               app.current_route()->line.front().lat != first->lat;
    };
    for (auto _ : state) {
        feed(fixes[0]);
        app.route_to(to.lat, to.lon);
        while (app.routing()) std::this_thread::sleep_for(std::chrono::microseconds(50));
        app.paint();
        if (!app.current_route()) {
            state.SkipWithError("no first route");
            break;
        }
        first = app.current_route()->line.front();
        double seconds = -1;
        for (std::size_t i = 1; i < fixes.size() && seconds < 0; ++i) {
            feed(fixes[i]);
            const auto start = std::chrono::steady_clock::now();
            PaintFrame frame = app.paint();
            if (!frame.route.rerouting) continue;
            // This paint took the deciding fix: paints go on until the new line is in the frame.
            while (!drawn_again(frame)) {
                std::this_thread::sleep_for(std::chrono::microseconds(50));
                frame = app.paint();
            }
            seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        }
        if (seconds < 0) {
            state.SkipWithError("the missed turn was not noticed");
            break;
        }
        state.SetIterationTime(seconds);
        app.clear_route();
    }
    app.on_destroy();
}

// The window's part alone: a router of no cost.
void BM_RerouteAfterMissedTurn(benchmark::State& state) {
    const route::Route town = test::town_route(kLat, kLon);
    reroute_after_missed_turn(state, [] { return std::make_unique<InstantRouter>(); },
                              test::wrong_turn_drive(town, 600, 0, 12), town.line.back());
}
BENCHMARK(BM_RerouteAfterMissedTurn)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

// With Routino over the test town: east along High Street past the left turn into Church Road.
void BM_RerouteAfterMissedTurnRoutino(benchmark::State& state) {
    const std::filesystem::path maps = test::town_routing_maps();
    if (maps.empty()) {
        state.SkipWithError(test::town_routing_problem().c_str());
        return;
    }
    std::vector<route::GuidanceFix> fixes;
    for (int i = 0; i <= 120; ++i) {
        route::GuidanceFix f;
        f.lat = 47.5020;
        f.lon = 10.0020 + i * 0.75e-4;
        f.course_deg = 90;
        f.speed_mps = 15;
        f.time_s = i * 0.4;
        fixes.push_back(f);
    }
    reroute_after_missed_turn(
        state,
        [maps] {
            std::string error;
            return route::open_routino(route::database_folder(maps, "town"), error);
        },
        fixes, {47.5045, 10.0062});
}
BENCHMARK(BM_RerouteAfterMissedTurnRoutino)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
