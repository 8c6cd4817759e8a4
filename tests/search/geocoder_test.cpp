// The online geocoder against a Nominatim-compatible peer on the loopback: the request's form and
// User-Agent, at most one request a second, the answer read; and answers that are not Nominatim's.
#include "search/geocoder.h"

#include <gtest/gtest.h>

#include <future>

#include "support/loopback_http_server.h"
#include "support/test_paths.h"

namespace vg::search {
namespace {

const char* kAnswer =
    R"([{"place_id":1,"lat":"47.5030","lon":"10.0065","category":"place","type":"town","display_name":"Lakeford, Tyrol"},)"
    R"({"place_id":2,"lat":"x","lon":"1"},)"
    R"({"place_id":3,"lat":47.51,"lon":10.01,"class":"highway","type":"primary","name":"High Street"}])";

TEST(Geocoder, AsksThePeerOnceASecondWithTheProgramsUserAgent) {
    test::LoopbackHttpServer server(test::ScriptedReply::make(200, "application/json", kAnswer, true));
    Fetcher fetcher;
    auto now = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
    Geocoder geocoder(fetcher, server.url("/"), FetchSettings{{}, {}, "ops@example.org"}, [&] { return now; });
    ASSERT_TRUE(geocoder.enabled());
    std::promise<std::pair<std::vector<Result>, std::string>> answer;
    ASSERT_TRUE(geocoder.ask("Lakeford Straße", LatLon{47.5, 10.0}, [&](std::vector<Result> r, std::string e) {
        answer.set_value({std::move(r), std::move(e)});
    }));
    // Within the second: refused, nothing sent.
    now += std::chrono::milliseconds(999);
    EXPECT_FALSE(geocoder.ask("Lakeford", std::nullopt, [](auto, auto) { FAIL(); }));
    auto [results, error] = answer.get_future().get();
    EXPECT_EQ(error, "");
    ASSERT_EQ(results.size(), 2U);
    EXPECT_EQ(results[0].place.name, "Lakeford, Tyrol");
    EXPECT_EQ(results[0].place.kind, "online/place/town");
    EXPECT_NEAR(results[0].distance_m, 592, 10);
    EXPECT_EQ(results[1].place.name, "High Street");
    ASSERT_TRUE(server.wait_for_requests(1));
    const std::string request = server.requests().at(0);
    EXPECT_EQ(request.rfind("GET /search?q=Lakeford%20Stra%C3%9Fe&format=jsonv2&limit=10 HTTP/1.1\r\n", 0), 0U)
        << request;
    EXPECT_NE(request.find("\r\nUser-Agent: " + vorglobal_user_agent("ops@example.org") + "\r\n"), std::string::npos)
        << request;
    // A second later the next one goes.
    now += std::chrono::milliseconds(1);
    std::promise<void> second;
    EXPECT_TRUE(geocoder.ask("Mill", std::nullopt, [&](auto, auto) { second.set_value(); }));
    second.get_future().get();
    EXPECT_EQ(server.requests().size(), 2U);
}

TEST(Geocoder, IsOffWithoutItsLineAndReadsOnlyNominatimAnswers) {
    test::TempDir dir;
    EXPECT_EQ(read_geocoder_url(dir.path()), "");
    test::write_file(dir / "vor_ini.txt", "maps=Maps\r\ngeocoder= https://geo.example/nominatim/ \r\n");
    EXPECT_EQ(read_geocoder_url(dir.path()), "https://geo.example/nominatim/");
    EXPECT_EQ(nominatim_url("https://geo.example/nominatim/", "a&b", 5),
              "https://geo.example/nominatim/search?q=a%26b&format=jsonv2&limit=5");
    EXPECT_EQ(nominatim_url("http://h/search?countrycodes=de", "x", 1),
              "http://h/search?countrycodes=de&q=x&format=jsonv2&limit=1");
    Fetcher fetcher;
    Geocoder off(fetcher, "", {});
    EXPECT_FALSE(off.ask("x", std::nullopt, [](auto, auto) { FAIL(); }));
    std::string error;
    for (const char* body : {"", "{}", "[1", "<html>busy</html>"}) EXPECT_FALSE(parse_nominatim(body, error)) << body;
    EXPECT_EQ(parse_nominatim(R"([{"lat":"91","lon":"0"},{"lat":"nan","lon":"0"},7])", error)->size(), 0U);
}

}  // namespace
}  // namespace vg::search
