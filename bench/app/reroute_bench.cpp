// Re-routing after a missed turn: from the paint that takes the fix which decides the route was left
// to the paint whose frame carries the new line from the position (goal: at most a second). The
// router is a fake of no cost, so what is measured is the window's part: the request handed to the
// worker, its result taken, guidance made again and the line placed in the frame. A Routino router's
// own time adds to it (bench of the routing core).
#include <benchmark/benchmark.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "app/app.h"
#include "support/fake_window.h"
#include "support/route_drive.h"
#include "support/test_paths.h"

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

void BM_RerouteAfterMissedTurn(benchmark::State& state) {
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
    options.router = [] { return std::make_unique<InstantRouter>(); };
    test::FakeWindow window;
    App app(dir, options);
    app.create(window);
    const route::Route town = test::town_route(kLat, kLon);
    const auto fixes = test::wrong_turn_drive(town, 600, 0, 12);
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
    auto drawn_again = [&](const PaintFrame& frame) {
        return !app.routing() && !frame.route.rerouting && app.current_route() &&
               app.current_route()->line.front().lat != town.line.front().lat;
    };
    for (auto _ : state) {
        feed(fixes[0]);
        app.route_to(town.line.back().lat, town.line.back().lon);
        while (app.routing()) std::this_thread::sleep_for(std::chrono::microseconds(50));
        app.paint();
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
BENCHMARK(BM_RerouteAfterMissedTurn)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
