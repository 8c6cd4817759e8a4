// Routino over the test town's database: routes respect one-way streets (car) and take the footpath
// (foot), and their lengths equal the shortest way this test finds itself on the town's OSM graph
// (its own XML reading, geodesic distances and Dijkstra, each end snapped to the nearest segment as
// Routino does). Manoeuvres name the streets; bad requests and databases get clear errors; a database
// is built, replaced and kept when a build fails or is cancelled.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <queue>
#include <regex>

#include "geo/geodesy.h"
#include "route/route.h"
#include "route/routing_data.h"
#include "support/test_paths.h"
#include "support/town_routing.h"

namespace vg::route {
namespace {

// The town's ways as a graph for one profile.
class TownGraph {
public:
    explicit TownGraph(Profile profile) {
        const std::string xml = test::read_file(test::shared_testdata() / "vector" / "town.osm");
        const std::regex node(R"x(<node id="(\d+)"[^>]* lat="([-\d.]+)" lon="([-\d.]+)")x");
        for (std::sregex_iterator it(xml.begin(), xml.end(), node), end; it != end; ++it)
            nodes_[std::stol((*it)[1])] = {std::stod((*it)[2]), std::stod((*it)[3])};
        const std::regex way(R"x(<way id="\d+"[^>]*>([\s\S]*?)</way>)x"), nd(R"x(<nd ref="(\d+)"/>)x");
        for (std::sregex_iterator it(xml.begin(), xml.end(), way), end; it != end; ++it) {
            const std::string body = (*it)[1];
            std::smatch highway;
            if (!std::regex_search(body, highway, std::regex(R"x(k="highway" v="(\w+)")x"))) continue;
            const bool footway = highway[1] == "footway";
            if (footway && profile == Profile::car) continue;
            const bool oneway = profile != Profile::foot && body.find(R"(k="oneway" v="yes")") != std::string::npos;
            std::vector<long> refs;
            for (std::sregex_iterator n(body.begin(), body.end(), nd); n != end; ++n) refs.push_back(std::stol((*n)[1]));
            for (std::size_t i = 0; i + 1 < refs.size(); ++i) segments_.push_back({refs[i], refs[i + 1], oneway});
        }
    }

    // The shortest way from `from` to `to`, each snapped to its nearest segment.
    double shortest_m(Point from, Point to) {
        std::map<long, std::vector<std::pair<long, double>>> edges;
        auto add = [&](long a, long b, bool oneway) {
            const double d = distance(at(a), at(b));
            edges[a].push_back({b, d});
            if (!oneway) edges[b].push_back({a, d});
        };
        for (const auto& s : segments_) add(s.a, s.b, s.oneway);
        const auto [sa, sb, sp, s_oneway] = snap(from);
        const auto [ta, tb, tp, t_oneway] = snap(to);
        nodes_[-1] = sp, nodes_[-2] = tp;
        add(sa, -1, s_oneway), add(-1, sb, s_oneway), add(ta, -2, t_oneway), add(-2, tb, t_oneway);
        if (sa == ta && sb == tb) {  // both on one segment: straight along it, where allowed
            const bool forward = distance(at(sa), sp) <= distance(at(sa), tp);
            if (forward || !s_oneway) edges[-1].push_back({-2, distance(sp, tp)});
        }
        std::map<long, double> best{{-1, 0.0}};
        std::priority_queue<std::pair<double, long>, std::vector<std::pair<double, long>>, std::greater<>> queue;
        queue.push({0.0, -1});
        while (!queue.empty()) {
            const auto [d, n] = queue.top();
            queue.pop();
            if (n == -2) return d;
            if (d > best[n]) continue;
            for (const auto& [m, w] : edges[n])
                if (!best.count(m) || d + w < best[m]) queue.push({best[m] = d + w, m});
        }
        return INFINITY;
    }

private:
    struct Segment {
        long a, b;
        bool oneway;
    };
    Point at(long id) const { return nodes_.at(id); }
    static double distance(Point a, Point b) { return geo::distance_m(a.lat, a.lon, b.lat, b.lon); }
    // The nearest point of any segment (on a local flat projection, enough for a town).
    std::tuple<long, long, Point, bool> snap(Point p) const {
        std::tuple<long, long, Point, bool> best;
        double best_d = INFINITY;
        const double k = std::cos(p.lat * M_PI / 180);
        for (const auto& s : segments_) {
            const Point a = at(s.a), b = at(s.b);
            const double dx = (b.lon - a.lon) * k, dy = b.lat - a.lat;
            double t = ((p.lon - a.lon) * k * dx + (p.lat - a.lat) * dy) / (dx * dx + dy * dy);
            t = std::clamp(t, 0.0, 1.0);
            const Point q{a.lat + t * (b.lat - a.lat), a.lon + t * (b.lon - a.lon)};
            if (const double d = distance(p, q); d < best_d) best_d = d, best = {s.a, s.b, q, s.oneway};
        }
        return best;
    }
    std::map<long, Point> nodes_;
    std::vector<Segment> segments_;
};

class TownRoutes : public ::testing::Test {
protected:
    void SetUp() override {
        maps_ = test::town_routing_maps();
        if (maps_.empty()) GTEST_SKIP() << test::town_routing_problem();
        std::string error;
        router_ = open_routino(database_folder(maps_, "town"), error);
        ASSERT_TRUE(router_) << error;
    }
    Route route(Profile profile, std::vector<Point> points) {
        std::string error;
        auto r = router_->route(Request{std::move(points), profile, true}, nullptr, error);
        EXPECT_TRUE(r) << error;
        return r ? *r : Route{};
    }
    std::filesystem::path maps_;
    std::unique_ptr<Router> router_;
};

// Mill Lane near Station Road's foot, and High Street just east of Station Road's head.
constexpr Point kMillLaneEast{47.5010, 10.0100}, kHighStreetEast{47.50209, 10.0118};
// Mill Lane's west end and High Street's, with the Mill Path between them.
constexpr Point kMillLaneWest{47.5010, 10.0012}, kHighStreetWest{47.5020, 9.9998};

TEST_F(TownRoutes, CarsKeepToOneWayStreetsAndWalkersTakeTheFootpath) {
    const struct {
        Profile profile;
        Point from, to;
    } cases[] = {
        {Profile::car, kMillLaneEast, kHighStreetEast},   // Station Road is one way against it: round
        {Profile::car, kHighStreetEast, kMillLaneEast},   // down Station Road
        {Profile::foot, kMillLaneEast, kHighStreetEast},  // walkers may go up it
        {Profile::foot, kMillLaneWest, kHighStreetWest},  // the Mill Path
        {Profile::car, kMillLaneWest, kHighStreetWest},   // round by Church Road
    };
    std::vector<double> lengths;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(profile_name(c.profile)) + " from " + std::to_string(c.from.lon));
        const Route r = route(c.profile, {c.from, c.to});
        const double expected = TownGraph(c.profile).shortest_m(c.from, c.to);
        EXPECT_NEAR(r.length_m, expected, 2.0 + expected * 0.002);
        EXPECT_GT(r.time_s, 0);
        lengths.push_back(r.length_m);
    }
    EXPECT_GT(lengths[0], lengths[1] + 400) << "the car goes round, not up the one-way street";
    EXPECT_NEAR(lengths[2], lengths[1], 5);
    EXPECT_LT(lengths[3], 250) << "the footpath";
    EXPECT_GT(lengths[4], 800);
}

TEST_F(TownRoutes, ManoeuvresNameTheStreetsOverTheBridgeAndLegsMeetAtViaPoints) {
    const Point mira{47.5060, 10.0090};
    const Route r = route(Profile::car, {mira, kHighStreetEast, kMillLaneEast});
    std::vector<std::string> texts;
    for (const auto& m : r.manoeuvres) texts.push_back(m.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"Head east on Улица Мира", "Turn right onto Bridge Street",
                                               "Turn right onto High Street (A1)",
                                               "Via-point 1, then head west on High Street (A1)",
                                               "Turn left onto Station Road", "Turn right onto Mill Lane", "Arrive"}));
    ASSERT_EQ(r.legs.size(), 2U);
    double sum = 0;
    for (const auto& m : r.manoeuvres) {
        ASSERT_LT(m.line_index, r.line.size());
        EXPECT_DOUBLE_EQ(r.line[m.line_index].lat, m.at.lat);
        sum += m.distance_m;
    }
    EXPECT_NEAR(sum, r.length_m, 0.01);
    EXPECT_NEAR(r.legs[0].length_m + r.legs[1].length_m, r.length_m, 0.01);
    EXPECT_NEAR(r.legs[0].time_s + r.legs[1].time_s, r.time_s, 0.01);
    const bool over_the_bridge = std::any_of(r.line.begin(), r.line.end(), [](const Point& p) {
        return std::fabs(p.lon - 10.01225) < 0.0001 && p.lat > 47.5030 && p.lat < 47.5043;
    });
    EXPECT_TRUE(over_the_bridge);
}

TEST_F(TownRoutes, BadRequestsGetTheirReason) {
    std::string error;
    const auto bad = [&](Request request, const std::atomic<bool>* cancel = nullptr) {
        error.clear();
        EXPECT_FALSE(router_->route(request, cancel, error));
        return error;
    };
    EXPECT_EQ(bad({{kMillLaneEast}}), "a route needs a start and a destination");
    EXPECT_EQ(bad({{{0.0, -30.0}, kMillLaneEast}}), "no road for car near the start");
    EXPECT_EQ(bad({{kMillLaneEast, {47.6, 10.0}}, Profile::foot}), "no road for foot near the destination");
    EXPECT_EQ(bad({{kMillLaneEast, {91.0, 0.0}}}), "the destination is not a position on the Earth");
    const std::atomic<bool> cancel{true};
    EXPECT_EQ(bad({{kMillLaneEast, kHighStreetEast}}, &cancel), "cancelled");
    test::TempDir empty;
    EXPECT_FALSE(open_routino(empty.path(), error));
    EXPECT_EQ(error, "no routing database in " + empty.path().string());
}

TEST(RoutingData, BuildsReplacesAndKeepsTheDatabaseWhenABuildFailsOrIsCancelled) {
    const auto town = test::town_routing_maps();
    if (town.empty()) GTEST_SKIP() << test::town_routing_problem();
    test::TempDir maps;
    std::vector<std::pair<double, std::string>> steps;
    std::string error;
    const auto progress = [&](double f, const std::string& stage) { steps.push_back({f, stage}); };
    const auto extract = test::shared_testdata() / "vector" / "town.osm";
    ASSERT_TRUE(build_database(extract, maps.path(), "town", progress, nullptr, error)) << error;
    ASSERT_GE(steps.size(), 5U);
    EXPECT_TRUE(std::is_sorted(steps.begin(), steps.end(), [](auto& a, auto& b) { return a.first < b.first; }));
    EXPECT_EQ(steps.back().first, 1.0);
    EXPECT_EQ(regions(maps.path()), std::vector<std::string>{"town"});
    ASSERT_TRUE(build_database(extract, maps.path(), "town", nullptr, nullptr, error)) << error;

    test::write_file(maps / "broken.osm.pbf", "not a protocol buffer");
    EXPECT_FALSE(build_database(maps / "broken.osm.pbf", maps.path(), "town", nullptr, nullptr, error));
    EXPECT_NE(error.find("planetsplitter failed: "), std::string::npos) << error;
    const std::atomic<bool> cancel{true};
    EXPECT_FALSE(build_database(extract, maps.path(), "town", nullptr, &cancel, error));
    EXPECT_EQ(error, "cancelled");
    EXPECT_FALSE(build_database(maps / "missing.osm.pbf", maps.path(), "town", nullptr, nullptr, error));
    EXPECT_EQ(error, "there is no file " + (maps / "missing.osm.pbf").string());
    EXPECT_FALSE(build_database(extract, maps.path(), "../up", nullptr, nullptr, error));
    // Still the first database, with nothing left beside it.
    auto router = open_routino(database_folder(maps.path(), "town"), error);
    ASSERT_TRUE(router) << error;
    EXPECT_TRUE(router->route({{kMillLaneWest, kHighStreetWest}}, nullptr, error)) << error;
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(maps / "routing")) left.push_back(e.path().filename());
    EXPECT_EQ(left, std::vector<std::string>{"town"});
}

}  // namespace
}  // namespace vg::route
