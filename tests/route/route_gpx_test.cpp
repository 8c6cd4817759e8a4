// Routes as GPX 1.1: what is written validates against the schema and reads back as the same route;
// routes and tracks of other programs are read as routes to follow; anything else gets a reason.
#include <gtest/gtest.h>

#include "route/route_gpx.h"
#include "support/gpx_schema.h"

namespace vg::route {
namespace {

Route sample() {
    Route r;
    r.profile = Profile::bicycle;
    r.line = {{47.5010, 10.0100}, {47.5010, 10.0060}, {47.5020, 10.0060}, {47.5020, 9.9998}};
    r.manoeuvres = {{{47.5010, 10.0100}, "Head west on Mill Lane", "Mill Lane", 0, 0, 0, 0},
                    {{47.5010, 10.0060}, "Turn right onto Church Road & <Co>", "Church Road", 90, 0, 0, 1},
                    {{47.5020, 10.0060}, "Turn left onto High Street", "High Street", -90, 0, 0, 2},
                    {{47.5020, 9.9998}, "Arrive", "", 0, 0, 0, 3}};
    r.legs = {Leg{}};
    r.time_s = 240;
    return r;
}

TEST(RouteGpx, WrittenRoutesValidateAndReadBackAsTheSameRoute) {
    const std::string gpx = route_to_gpx(sample(), "To \"town\"");
    std::string report;
    EXPECT_TRUE(test::gpx_text_valid(gpx, &report)) << report << gpx;
    std::string error;
    const auto back = route_from_gpx(gpx, error);
    ASSERT_TRUE(back) << error;
    ASSERT_EQ(back->line.size(), 4U);
    ASSERT_EQ(back->manoeuvres.size(), 4U);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(back->manoeuvres[i].text, sample().manoeuvres[i].text);
        EXPECT_EQ(back->manoeuvres[i].line_index, i);
        EXPECT_NEAR(back->line[i].lon, sample().line[i].lon, 1e-7);
    }
    EXPECT_NEAR(back->length_m, 300 + 111 + 466, 5);
    EXPECT_NEAR(back->manoeuvres[1].distance_m, 111, 1);
    EXPECT_EQ(back->manoeuvres[1].turn_deg, 90);
}

TEST(RouteGpx, OtherProgramsRoutesAndTracksAreRoutesToFollowAndGarbageIsRefused) {
    const std::string head = R"(<?xml version="1.0"?><gpx version="1.1" xmlns="http://www.topografix.com/GPX/1/1">)";
    std::string error;
    const auto rte = route_from_gpx(head + R"(<rte><rtept lat="47.5" lon="10"/><rtept lat="47.5" lon="10.01"/>)"
                                           R"(<rtept lat="47.51" lon="10.01"/></rte></gpx>)",
                                    error);
    ASSERT_TRUE(rte) << error;
    ASSERT_EQ(rte->manoeuvres.size(), 3U);
    EXPECT_EQ(rte->manoeuvres[0].text, "Start");
    EXPECT_EQ(rte->manoeuvres[1].text, "Turn left");
    EXPECT_EQ(rte->manoeuvres[2].text, "Arrive");
    const auto trk = route_from_gpx(head + R"(<trk><trkseg><trkpt lat="47.5" lon="10"/><trkpt lat="47.5" lon="10.01"/>)"
                                           R"(<trkpt lat="47.51" lon="10.01"/></trkseg></trk></gpx>)",
                                    error);
    ASSERT_TRUE(trk) << error;
    EXPECT_EQ(trk->line.size(), 3U);
    EXPECT_EQ(trk->manoeuvres.size(), 2U);
    for (const std::string& bad : {std::string("not xml at all"), head + "<wpt lat=\"1\" lon=\"2\"/></gpx>",
                                   head + R"(<rte><rtept lat="47.5" lon="10"/></rte></gpx>)",
                                   head + R"(<rte><rtept lat="147.5" lon="10"/></rte></gpx>)"}) {
        error.clear();
        EXPECT_FALSE(route_from_gpx(bad, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

}  // namespace
}  // namespace vg::route
