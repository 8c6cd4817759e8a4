// An OSRM router of the tests on the loopback address answers through the fetcher: the request asks
// for steps and GeoJSON at OSRM's path, the answer becomes a route with its legs and manoeuvres, and
// OSRM's refusals and garbage give reasons. A region's extract is downloaded in ranges and, broken
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
