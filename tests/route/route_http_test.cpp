// An OSRM router of the tests on the loopback address answers through the fetcher: the request asks
// for steps and GeoJSON at OSRM's path, the answer becomes a route with its legs and manoeuvres, and
// OSRM's refusals and garbage give reasons; Valhalla's and GraphHopper's answers for the same route
// give the same manoeuvres. A region's extract is downloaded in ranges and, broken
// off, goes on from where it stopped, unless the service's file has changed meanwhile.
#include <gtest/gtest.h>

#include <atomic>

#include "route/http_router.h"
#include "route/routing_data.h"
#include "support/loopback_http_server.h"
#include "support/range_file.h"
#include "support/test_paths.h"

namespace vg::route {
namespace {

// Two legs: east along Mill Lane to the via-point, then north; OSRM's own form (abridged).
constexpr const char* kTwoLegs = R"({"code":"Ok","routes":[{"distance":411.5,"duration":61.2,"legs":[
 {"distance":300.5,"duration":40.1,"steps":[
   {"distance":300.5,"duration":40.1,"name":"Mill Lane","geometry":{"type":"LineString","coordinates":[[10.0060,47.5010],[10.0080,47.5010],[10.0100,47.5010]]},
    "maneuver":{"type":"depart","bearing_before":0,"bearing_after":90,"location":[10.0060,47.5010]}},
   {"distance":0,"duration":0,"name":"Mill Lane","geometry":{"type":"LineString","coordinates":[[10.0100,47.5010],[10.0100,47.5010]]},
    "maneuver":{"type":"arrive","bearing_before":90,"bearing_after":0,"location":[10.0100,47.5010]}}]},
 {"distance":111.0,"duration":21.1,"steps":[
   {"distance":111.0,"duration":21.1,"name":"Station Road","geometry":{"type":"LineString","coordinates":[[10.0100,47.5010],[10.0100,47.5020]]},
    "maneuver":{"type":"depart","bearing_before":0,"bearing_after":0,"location":[10.0100,47.5010]}},
   {"distance":0,"duration":0,"name":"Station Road","geometry":{"type":"LineString","coordinates":[[10.0100,47.5020],[10.0100,47.5020]]},
    "maneuver":{"type":"arrive","bearing_before":0,"bearing_after":0,"location":[10.0100,47.5020]}}]}]}]})";

TEST(HttpRouter, AsksOsrmForStepsAndReadsItsLegsManoeuvresAndRefusals) {
    std::string answer = kTwoLegs;
    int status = 200;
    test::LoopbackHttpServer server(
        [&](const std::string&) { return test::ScriptedReply::make(status, "application/json", answer, true); });
    std::string error;
    auto router = make_http_router(server.url(), error);
    ASSERT_TRUE(router) << error;
    EXPECT_EQ(router->name(), "OSRM at 127.0.0.1:" + std::to_string(server.port()));
    const Request request{{{47.5010, 10.0060}, {47.5010, 10.0100}, {47.5020, 10.0100}}, Profile::bicycle};
    const auto r = router->route(request, nullptr, error);
    ASSERT_TRUE(r) << error;
    EXPECT_EQ(server.requests().at(0).rfind(
                  "GET /route/v1/cycling/10.006000,47.501000;10.010000,47.501000;10.010000,47.502000"
                  "?steps=true&overview=full&geometries=geojson HTTP/1.1\r\n", 0),
              0U)
        << server.requests().at(0);
    EXPECT_DOUBLE_EQ(r->length_m, 411.5);
    ASSERT_EQ(r->legs.size(), 2U);
    EXPECT_EQ(r->legs[1].first_manoeuvre, 1U);
    ASSERT_EQ(r->manoeuvres.size(), 3U);
    EXPECT_EQ(r->manoeuvres[0].text, "Head east on Mill Lane");
    EXPECT_EQ(r->manoeuvres[1].text, "Via-point 1, then head north on Station Road");
    EXPECT_EQ(r->manoeuvres[2].text, "Arrive");
    EXPECT_EQ(r->line.size(), 4U);
    EXPECT_EQ(r->manoeuvres[1].line_index, 2U);
    EXPECT_EQ(r->manoeuvres[2].line_index, 3U);

    status = 400;
    answer = R"({"code":"NoRoute","message":"Impossible route between points"})";
    EXPECT_FALSE(router->route(request, nullptr, error));
    EXPECT_EQ(error, router->name() + ": Impossible route between points");
    status = 200;
    for (const char* bad : {"<html>", R"({"code":"Ok","routes":[]})", R"({"code":"Ok","routes":[{"legs":[{}]}]})"}) {
        answer = bad;
        EXPECT_FALSE(router->route(request, nullptr, error)) << bad;
        EXPECT_EQ(error.rfind(router->name() + ": ", 0), 0U) << error;
    }
    EXPECT_FALSE(make_http_router("ftp://example.org", error));
}

// The same two legs with a left turn at the end (east along Mill Lane to the via-point, north on
// Station Road, left onto High Street), as Valhalla and GraphHopper answer them (abridged). Valhalla's
// shapes are polylines of 6 decimals: 47.5010,10.0060 / 47.5010,10.0080 / 47.5010,10.0100, then
// 47.5010,10.0100 / 47.5020,10.0100 / 47.5020,10.0090.
constexpr const char* kValhalla = R"({"trip":{"status":0,"units":"kilometers","summary":{"length":0.4856,"time":70.2},"legs":[
 {"summary":{"length":0.3005,"time":40.1},"shape":"okfryA_~uaR?_|B?_|B","maneuvers":[
   {"type":2,"instruction":"Drive east on Mill Lane.","street_names":["Mill Lane"],"length":0.3005,"time":40.1,"begin_shape_index":0,"end_shape_index":2},
   {"type":4,"instruction":"You have arrived at your destination.","length":0,"time":0,"begin_shape_index":2,"end_shape_index":2}]},
 {"summary":{"length":0.1851,"time":30.1},"shape":"okfryA_x}aRo}@??n}@","maneuvers":[
   {"type":1,"instruction":"Drive north on Station Road.","street_names":["Station Road"],"length":0.111,"time":21.1,"begin_shape_index":0,"end_shape_index":1},
   {"type":15,"instruction":"Turn left onto High Street.","street_names":["High Street"],"length":0.0741,"time":9,"begin_shape_index":1,"end_shape_index":2},
   {"type":4,"instruction":"You have arrived at your destination.","length":0,"time":0,"begin_shape_index":2,"end_shape_index":2}]}]}})";
constexpr const char* kGraphHopper = R"({"paths":[{"distance":485.6,"time":70200,"points_encoded":false,
 "points":{"type":"LineString","coordinates":[[10.006,47.501],[10.008,47.501],[10.010,47.501],[10.010,47.502],[10.009,47.502]]},
 "instructions":[
   {"distance":300.5,"sign":0,"interval":[0,2],"text":"Continue onto Mill Lane","time":40100,"street_name":"Mill Lane"},
   {"distance":0,"sign":5,"interval":[2,2],"text":"Waypoint 1","time":0,"street_name":""},
   {"distance":111.0,"sign":-2,"interval":[2,3],"text":"Turn left onto Station Road","time":21100,"street_name":"Station Road"},
   {"distance":74.1,"sign":-2,"interval":[3,4],"text":"Turn left onto High Street","time":9000,"street_name":"High Street"},
   {"distance":0,"sign":4,"interval":[4,4],"text":"Arrive at destination","time":0,"street_name":""}]}]})";

TEST(HttpRouter, ValhallaAndGraphHopperAnswersGiveTheSameRouteAndTheirRefusalsAReason) {
    struct Case {
        const char* kind;
        const char* name;
        const char* answer;
        const char* refusal;
        const char* refused;
        const char* request;
    };
    const Case cases[] = {
        {"valhalla:", "Valhalla", kValhalla,
         R"({"error_code":442,"error":"No path could be found for input","status_code":400,"status":"Bad Request"})",
         "No path could be found for input",
         "GET /route?json=%7B%22locations%22%3A%5B%7B%22lat%22%3A47.501000%2C%22lon%22%3A10.006000%7D%2C"},
        {"graphhopper:", "GraphHopper", kGraphHopper, R"({"message":"Connection between locations not found","hints":[]})",
         "Connection between locations not found",
         "GET /route?point=47.501000%2C10.006000&point=47.501000%2C10.010000&point=47.502000%2C10.009000&profile=bike"
         "&points_encoded=false&instructions=true&locale=en HTTP/1.1\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string answer = c.answer;
        int status = 200;
        test::LoopbackHttpServer server(
            [&](const std::string&) { return test::ScriptedReply::make(status, "application/json", answer, true); });
        std::string error;
        auto router = make_http_router(c.kind + server.url(), error);
        ASSERT_TRUE(router) << error;
        EXPECT_EQ(router->name(), std::string(c.name) + " at 127.0.0.1:" + std::to_string(server.port()));
        const Request request{{{47.5010, 10.0060}, {47.5010, 10.0100}, {47.5020, 10.0090}}, Profile::bicycle};
        const auto r = router->route(request, nullptr, error);
        ASSERT_TRUE(r) << error;
        EXPECT_EQ(server.requests().at(0).rfind(c.request, 0), 0U) << server.requests().at(0);
        EXPECT_NEAR(r->length_m, 485.6, 0.1);
        EXPECT_NEAR(r->time_s, 70.2, 0.01);
        ASSERT_EQ(r->line.size(), 5U);
        EXPECT_DOUBLE_EQ(r->line[3].lat, 47.5020);
        ASSERT_EQ(r->legs.size(), 2U);
        EXPECT_EQ(r->legs[1].first_manoeuvre, 1U);
        EXPECT_NEAR(r->legs[1].length_m, 185.1, 0.1);
        ASSERT_EQ(r->manoeuvres.size(), 4U);
        EXPECT_EQ(r->manoeuvres[0].text, "Head east on Mill Lane");
        EXPECT_EQ(r->manoeuvres[1].text, "Via-point 1, then head north on Station Road");
        EXPECT_EQ(r->manoeuvres[2].text, "Turn left onto High Street");
        EXPECT_EQ(r->manoeuvres[2].line_index, 3U);
        EXPECT_NEAR(r->manoeuvres[2].distance_m, 74.1, 0.1);
        EXPECT_EQ(r->manoeuvres[3].text, "Arrive");

        status = 400;
        answer = c.refusal;
        EXPECT_FALSE(router->route(request, nullptr, error));
        EXPECT_EQ(error, router->name() + ": " + c.refused);
        status = 200;
        for (const char* bad : {"<html>", "{}", R"({"trip":{"legs":[{"shape":"~~~~"}]}})", R"({"paths":[{"points":{"coordinates":[[1,2]]}}]})"}) {
            answer = bad;
            EXPECT_FALSE(router->route(request, nullptr, error)) << bad;
            EXPECT_EQ(error.rfind(router->name() + ": ", 0), 0U) << error;
        }
    }
    std::string error;
    EXPECT_FALSE(make_http_router("valhalla:ftp://example.org", error));
}

TEST(ExtractDownload, ABrokenDownloadGoesOnFromWhereItStopped) {
    std::string bytes(9 * 1024 * 1024 + 123, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
    test::RangeFile file(bytes);
    std::atomic<bool> broken{false};
    test::LoopbackHttpServer server([&](const std::string& request) {
        auto reply = file.answer(request);
        if (request.find("Range: bytes=" + std::to_string(kExtractPiece) + "-") != std::string::npos &&
            !broken.exchange(true)) {
            std::string all;
            for (const auto& piece : reply.pieces) all += piece.bytes;
            reply.pieces = {{std::chrono::milliseconds(0), all.substr(0, all.size() / 2)}};
            reply.keep_alive = false;
        }
        return reply;
    });
    test::TempDir dir;
    const auto target = dir / "town.osm.pbf";
    std::string error;
    std::vector<double> fractions;
    const DataProgress progress = [&](double f, const std::string&) { fractions.push_back(f); };
    EXPECT_FALSE(download_extract(server.url("/town.osm.pbf"), target, progress, nullptr, error));
    EXPECT_NE(error.find("goes on from 4194304 bytes"), std::string::npos) << error;
    EXPECT_EQ(test::read_file(dir / "town.osm.pbf.part").size(), kExtractPiece);
    file.clear_log();
    ASSERT_TRUE(download_extract(server.url("/town.osm.pbf"), target, progress, nullptr, error)) << error;
    EXPECT_EQ(file.log().front(), std::to_string(kExtractPiece) + "-" + std::to_string(2 * kExtractPiece - 1));
    EXPECT_TRUE(test::read_file(target) == bytes);
    EXPECT_FALSE(std::filesystem::exists(dir / "town.osm.pbf.part"));
    EXPECT_EQ(fractions.back(), 1.0);
    EXPECT_FALSE(std::filesystem::exists(dir / "town.osm.pbf.part.version"));

    // Broken off again, and the service's file replaced before it goes on: the old part is not
    // joined to the new file, which is downloaded from its start.
    broken = false;
    const auto second = dir / "second.osm.pbf";
    EXPECT_FALSE(download_extract(server.url("/town.osm.pbf"), second, progress, nullptr, error));
    EXPECT_EQ(test::read_file(dir / "second.osm.pbf.part.version"), file.etag());
    std::string newer = bytes.substr(1000) + "newer";
    file.replace(newer);
    std::vector<std::string> said;
    const DataProgress saying = [&](double, const std::string& text) { said.push_back(text); };
    ASSERT_TRUE(download_extract(server.url("/town.osm.pbf"), second, saying, nullptr, error)) << error;
    EXPECT_TRUE(test::read_file(second) == newer);
    EXPECT_EQ(said.front(), "The extract changed on the service: downloading it again");
    EXPECT_EQ(extract_url("https://x.example/europe/{region}-latest.osm.pbf", "monaco"),
              "https://x.example/europe/monaco-latest.osm.pbf");
}

}  // namespace
}  // namespace vg::route
