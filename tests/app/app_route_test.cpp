// Routes in a running App with a fake router: routed on the worker and drawn, guidance on the message
// line while the fixes follow the route, a missed turn routed again from the position, arrival, a
// stale request cancelled, the context menu, a via-point by dragging the line, and the Route panel; and
// end to end with Routino over the test town and `vortool sim` driving past the turn it should take.
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/app_fixture.h"
#include "app/toolbar_layout.h"
#include "geo/geodesy.h"
#include "support/peers.h"
#include "support/route_drive.h"
#include "support/town_routing.h"

namespace vg {
namespace {

// Answers the town route from the request's first point, ending at its last; keeps every request.
// With `hold` set, the first request waits until it is cancelled.
struct FakeRouting {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<route::Request> requests;
    std::vector<bool> cancelled;
    bool hold = false;
};

class FakeRouter : public route::Router {
public:
    explicit FakeRouter(std::shared_ptr<FakeRouting> state) : state_(std::move(state)) {}
    std::optional<route::Route> route(const route::Request& rq, const std::atomic<bool>* cancel,
                                      std::string& error) override {
        std::unique_lock lock(state_->mutex);
        state_->requests.push_back(rq);
        state_->changed.notify_all();
        const bool first = state_->requests.size() == 1;
        while (state_->hold && first && !cancel->load()) state_->changed.wait_for(lock, std::chrono::milliseconds(5));
        state_->cancelled.push_back(cancel->load());
        if (cancel->load()) {
            error = "cancelled";
            return std::nullopt;
        }
        route::Route r = test::town_route(rq.waypoints.front().lat, rq.waypoints.front().lon);
        r.line.back() = rq.waypoints.back();
        return r;
    }
    std::string name() const override { return "Fake"; }

private:
    std::shared_ptr<FakeRouting> state_;
};

class AppRouting : public test::AppFixture {
protected:
    void start_routing(const std::string& ini = "") {
        write_settings("", ini);
        AppOptions o = options();
        o.router = [s = routing] { return std::make_unique<FakeRouter>(s); };
        app = std::make_unique<App>(dir.path(), o);
        app->create(window);
    }
    // Paints until the worker has answered and its result is taken.
    PaintFrame routed() {
        for (int i = 0; i < 2000 && app->routing(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return app->paint();
    }
    PaintFrame drive(const route::GuidanceFix& f) {
        app->fix().update([&](FixRecord& r) {
            r.latitude = f.lat;
            r.longitude = f.lon;
            r.fix_dimension = 3;
            r.course = f.course_deg;
            r.speed_knots = f.speed_mps / (1852.0 / 3600);
            ++r.positions;
        });
        clock.seconds += 1;
        return app->paint();
    }
    std::shared_ptr<FakeRouting> routing = std::make_shared<FakeRouting>();
    const route::Route town = test::town_route(test::kStartLat, test::kStartLon);
};

TEST_F(AppRouting, RoutedOnTheWorkerDrawnAndFollowedToArrival) {
    start_routing();
    app->route_to(town.line.back().lat, town.line.back().lon);
    EXPECT_EQ(app->paint().message, "No route: no position yet (Shift+right-click the map: Route from here)");
    set_fix(town.line[0].lat, town.line[0].lon);
    app->route_to(town.line.back().lat, town.line.back().lon);
    PaintFrame f = routed();
    ASSERT_NE(app->current_route(), nullptr);
    ASSERT_EQ(f.route.line.size(), town.line.size());
    EXPECT_TRUE(f.route.marker);
    // The line's first point is the position, under the marker.
    EXPECT_EQ(f.route.line.front(), (std::array<int, 2>{f.route.marker_x, f.route.marker_y}));
    EXPECT_TRUE(app->route_line_at(f.route.line[3][0] + toolbar::kMapLeft, f.route.line[3][1] + toolbar::kMapTop));
    EXPECT_EQ(f.message, "In 600 m turn right onto High Street");

    std::vector<std::string> said;
    for (const auto& fix : test::drive_along(town.line, 10, 10, town.length_m)) {
        const std::string m = drive(fix).message;
        if (said.empty() || said.back() != m) said.push_back(m);
    }
    EXPECT_NE(std::find(said.begin(), said.end(), "In 300 m turn right onto High Street"), said.end());
    EXPECT_NE(std::find(said.begin(), said.end(), "In 300 m turn left onto Mill Lane"), said.end());
    EXPECT_EQ(said.back(), "Arrived");
    // Only one request: following never asks the router.
    EXPECT_EQ(routing->requests.size(), 1u);
}

TEST_F(AppRouting, MissedTurnIsRoutedAgainFromThePosition) {
    start_routing();
    set_fix(town.line[0].lat, town.line[0].lon);
    app->route_to(town.line.back().lat, town.line.back().lon);
    routed();
    const auto fixes = test::wrong_turn_drive(town, 600, 0, 12);
    std::string message;
    std::size_t left_at = 0;
    for (std::size_t i = 0; i < fixes.size() && left_at == 0; ++i) {
        message = drive(fixes[i]).message;
        if (app->routing() || message == "Off route, routing again") left_at = i;
    }
    ASSERT_NE(left_at, 0u);
    EXPECT_EQ(message, "Off route, routing again");
    const PaintFrame f = routed();
    ASSERT_EQ(routing->requests.size(), 2u);
    const route::Request& again = routing->requests[1];
    EXPECT_EQ(again.waypoints.size(), 2u);
    EXPECT_DOUBLE_EQ(again.waypoints.front().lat, fixes[left_at].lat);
    EXPECT_DOUBLE_EQ(again.waypoints.back().lat, town.line.back().lat);
    // The new line starts where the position is, and guidance goes on along it.
    EXPECT_DOUBLE_EQ(app->current_route()->line.front().lat, fixes[left_at].lat);
    EXPECT_FALSE(f.route.rerouting);
    EXPECT_EQ(f.message.rfind("In ", 0), 0u) << f.message;
}

TEST_F(AppRouting, StaleRequestIsCancelledAndOnlyTheNewestIsShown) {
    start_routing();
    set_fix(town.line[0].lat, town.line[0].lon);
    {
        std::lock_guard l(routing->mutex);
        routing->hold = true;
    }
    app->route_to(town.line.back().lat, town.line.back().lon);
    {
        std::unique_lock l(routing->mutex);
        routing->changed.wait_for(l, std::chrono::seconds(5), [&] { return routing->requests.size() == 1; });
    }
    EXPECT_EQ(app->paint().message, "Routing...");
    const route::Point other{town.line[20].lat, town.line[20].lon};
    app->route_to(other.lat, other.lon);
    routed();
    ASSERT_EQ(routing->requests.size(), 2u);
    EXPECT_TRUE(routing->cancelled[0]);
    ASSERT_NE(app->current_route(), nullptr);
    EXPECT_DOUBLE_EQ(app->current_route()->line.back().lat, other.lat);
}

TEST_F(AppRouting, ContextMenuDragAndPanel) {
    start_routing();
    set_fix(town.line[0].lat, town.line[0].lon);
    PaintFrame f = app->paint();
    // "Route to here" at the map's middle; then "Route from here" elsewhere.
    const int mx = toolbar::kMapLeft + f.map_width / 2 + 40, my = toolbar::kMapTop + f.map_height / 2 - 60;
    window.next_menu_choice = 1;
    app->on_context_menu(mx, my);
    const auto calls = window.calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "menu Route from here|Route to here"), calls.end());
    f = routed();
    ASSERT_EQ(routing->requests.size(), 1u);
    const route::Point to = routing->requests[0].waypoints.back();
    ASSERT_FALSE(f.route.line.empty());
    // The end of the drawn line is where the menu was opened.
    EXPECT_NEAR(f.route.line.back()[0] + toolbar::kMapLeft, mx, 1);
    EXPECT_NEAR(f.route.line.back()[1] + toolbar::kMapTop, my, 1);

    // Dragging the line from its 5th point adds one via-point where it is dropped.
    const auto p = f.route.line[4];
    app->on_route_drag(p[0] + toolbar::kMapLeft, p[1] + toolbar::kMapTop, mx - 100, my);
    routed();
    ASSERT_EQ(routing->requests.size(), 2u);
    ASSERT_EQ(routing->requests[1].waypoints.size(), 3u);
    EXPECT_DOUBLE_EQ(routing->requests[1].waypoints.back().lat, to.lat);
    // A drag that does not start on the line moves the map, not the route.
    app->on_route_drag(toolbar::kMapLeft + 2, toolbar::kMapTop + 2, mx, my);
    EXPECT_EQ(routing->requests.size(), 2u);

    app->on_command(Command::Route);
    ASSERT_EQ(window.routes.size(), 1u);
    RouteTexts texts = window.routes[0].poll();
    // After the drag the route keeps its start, wherever the position goes.
    EXPECT_EQ(texts.from.substr(0, 6), "60.175");
    EXPECT_EQ(texts.profile, "car");
    EXPECT_EQ(texts.summary, "1.3 km, 2 min (Fake)");
    ASSERT_EQ(texts.turns.size(), 4u);
    EXPECT_EQ(texts.turns[1], (std::array<std::string, 3>{"High Street", "right", "400 m"}));
    window.routes[0].profile("foot");
    routed();
    EXPECT_EQ(routing->requests.back().profile, route::Profile::foot);
    window.routes[0].clear();
    EXPECT_EQ(app->current_route(), nullptr);
    EXPECT_TRUE(app->paint().route.line.empty());
    window.next_menu_choice.reset();
    app->on_context_menu(mx, my);
    EXPECT_EQ(window.calls().back(), "menu Route from here|Route to here");  // nothing to clear
}

TEST_F(AppRouting, WithoutRoutingDataTheMessageLineSaysHowToGetIt) {
    write_settings();
    start();
    set_fix(town.line[0].lat, town.line[0].lon);
    app->route_to(town.line.back().lat, town.line.back().lon);
    for (int i = 0; i < 2000 && app->routing(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(app->paint().message, "No route: no routing data (Gps > Routing Data... makes it from a region's extract)");
    EXPECT_EQ(app->current_route(), nullptr);
    app->on_command(Command::RoutingData);
    ASSERT_EQ(window.routing_data.size(), 1u);
    const RoutingDataTexts texts = window.routing_data[0].poll();
    EXPECT_FALSE(texts.can_download);
    EXPECT_TRUE(texts.regions.empty());
    EXPECT_EQ(window.routing_data[0].download("monaco"), "No extract service is set (extracts= in vor_ini.txt).");
}

TEST_F(AppRouting, RoutinoRoutesAgainWhenTheSimulatedDriveMissesItsTurn) {
    VG_TOWN_ROUTING(town_maps);
    if (!test::real_peers_available()) GTEST_SKIP() << "vortool sim is not available here";
    // East along High Street from lon 10.0020, past Church Road (lon 10.0060) to lon 10.0110: the
    // route to Church Road's north end turns left at the crossing, the drive does not.
    const auto track = dir / "missed_turn.txt";
    {
        std::ofstream out(track);
        for (int i = 20; i <= 110; ++i) out << "47.50200 " << 10.0000 + i * 1e-4 << "\n";
    }
    test::Simulator receiver(dir.path(), {"--track", track.string(), "--rate", "10"});
    ASSERT_FALSE(receiver.first_line().empty());
    std::filesystem::create_directories(std::filesystem::path(root()) / "routing");
    std::filesystem::create_directory_symlink(town_maps / "routing" / "town",
                                              std::filesystem::path(root()) / "routing" / "town");
    write_settings("port=COM1\r\n", "com1=" + receiver.first_line() + "\r\n");
    App& a = start();
    ASSERT_TRUE(a.link()->link_active());
    const route::Point church_north{47.5045, 10.0062};
    ASSERT_TRUE(test::eventually([&] {
        a.paint();
        const FixRecord fix = a.fix().snapshot();
        return fix.fix_dimension > 0 && fix.longitude < 10.0035;  // the drive's start, before the crossing
    }));
    a.route_to(church_north.lat, church_north.lon);
    bool left = false;
    std::string guided;
    ASSERT_TRUE(test::eventually([&] {
        const std::string message = a.paint().message;
        if (message.starts_with("In ") && guided.empty()) guided = message;  // the first announcement
        left = left || message == "Off route, routing again";
        return left && !a.routing() && a.current_route() &&
               a.current_route()->line.front().lon > 10.0062;  // the new route starts past the crossing
    })) << guided;
    EXPECT_NE(guided.find("Church Road"), std::string::npos) << guided;
    const route::Route& again = *a.current_route();
    const FixRecord fix = a.fix().snapshot();
    EXPECT_LT(geo::distance_m(again.line.front().lat, again.line.front().lon, fix.latitude, fix.longitude), 150.0);
    EXPECT_LT(geo::distance_m(again.line.back().lat, again.line.back().lon, church_north.lat, church_north.lon), 30.0);
}

}  // namespace
}  // namespace vg
