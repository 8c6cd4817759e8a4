// AIS targets in the window: drawn as marks of the paint where they are, a ship on a collision course
// named on the message line, the target list's rows, and the rules read from vor_ini.txt.
#include <gtest/gtest.h>

#include <cmath>

#include "app/ais_texts.h"
#include "app/window_state.h"
#include "app_fixture.h"

namespace vg {
namespace {

using test::kStartLat;
using test::kStartLon;

ais::Message report(std::uint32_t mmsi, double lat, double lon, double knots, double course) {
    ais::Message m;
    m.type = 1;
    m.mmsi = mmsi;
    m.lat = static_cast<std::int32_t>(std::lround(lat * 600000));
    m.lon = static_cast<std::int32_t>(std::lround(lon * 600000));
    m.speed = static_cast<int>(std::lround(knots * 10));
    m.course = static_cast<int>(std::lround(course * 10));
    m.heading = static_cast<int>(std::lround(course));
    m.decoded = true;
    return m;
}

class AisView : public test::AppFixture {};

TEST_F(AisView, TargetsAreDrawnWhereTheyAreAndACollisionCourseIsNamed) {
    write_settings();
    App& a = start();
    set_fix(kStartLat, kStartLon, 3, 10);  // northwards at 10 knots
    // Two nautical miles ahead, coming south at 10 knots: closest approach 0 nm in 6 minutes.
    a.ais_feed().message(report(230000001, kStartLat + 2.0 / 60, kStartLon, 10, 180));
    ais::Message name;
    name.type = 5, name.mmsi = 230000001, name.shipname = "BOLT", name.decoded = true;
    a.ais_feed().message(name);
    // 1.5 nm east, moored; and one far outside the view.
    a.ais_feed().message(report(230000002, kStartLat, kStartLon + 0.05, 0, 0));
    a.ais_feed().message(report(230000003, kStartLat + 5, kStartLon, 5, 90));

    const PaintFrame frame = a.paint();
    ASSERT_TRUE(frame.draw_frame);
    ASSERT_EQ(frame.ais.size(), 2u);
    EXPECT_EQ(frame.message, "AIS: BOLT (230000001) CPA 0.0 nm in 6 min");
    const PaintFrame::AisMark* bolt = frame.ais[0].label == "BOLT" ? &frame.ais[0] : &frame.ais[1];
    const PaintFrame::AisMark* moored = bolt == &frame.ais[0] ? &frame.ais[1] : &frame.ais[0];
    EXPECT_TRUE(bolt->dangerous);
    EXPECT_FALSE(moored->dangerous);
    EXPECT_EQ(moored->label, "230000002");
    EXPECT_EQ(bolt->kind, PaintFrame::AisMark::Kind::ClassA);
    EXPECT_TRUE(bolt->oriented);
    EXPECT_DOUBLE_EQ(bolt->angle_deg, 180);
    // North of the moored one; its six-minute vector (1 nm) ends halfway to our position.
    EXPECT_LT(bolt->y, moored->y);
    EXPECT_GT(moored->x, bolt->x);
    EXPECT_TRUE(bolt->vector);
    EXPECT_FALSE(moored->vector);
    EXPECT_NEAR(bolt->vector_y, (bolt->y + moored->y) / 2.0, 1);
    EXPECT_EQ(bolt->vector_x, bolt->x);

    // The list: nearest first, every column filled for a moving target.
    a.on_command(Command::AisTargets);
    ASSERT_EQ(window.ais_lists.size(), 1u);
    const std::vector<AisTargetRow> rows = window.ais_lists[0]();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].texts[1], "230000002");
    EXPECT_EQ(rows[1].texts[0], "BOLT");
    EXPECT_EQ(rows[1].texts[2], "2.01 nm");  // two minutes of latitude at 60° N
    EXPECT_EQ(rows[1].texts[3], "000\u00b0");
    EXPECT_EQ(rows[1].texts[5], "180\u00b0");
    EXPECT_EQ(rows[1].texts[6], "0.00 nm");
    EXPECT_EQ(rows[1].texts[7], "6.0 min");
    EXPECT_TRUE(rows[1].dangerous);
    EXPECT_EQ(rows[2].texts[1], "230000003");

    // Without a fix there is no own ship: targets are drawn, nothing is dangerous.
    set_fix(kStartLat, kStartLon, 0);
    const PaintFrame lost = a.paint();
    EXPECT_EQ(lost.message.find("AIS:"), std::string::npos);
    for (const PaintFrame::AisMark& m : lost.ais) EXPECT_FALSE(m.dangerous);
}

TEST(AisTexts, WarningsNearestApproachFirstAndTheRulesOfTheSettings) {
    std::vector<ais::Target> targets(5);
    for (std::size_t i = 0; i < targets.size(); ++i) {
        targets[i].mmsi = 100 + static_cast<std::uint32_t>(i);
        targets[i].dangerous = i != 0;
        targets[i].cpa_nm = 0.4 - 0.1 * static_cast<double>(i);
        targets[i].tcpa_min = 0.2 + static_cast<double>(i);
    }
    targets[4].name = "LAST";
    EXPECT_EQ(ais_warning_text(targets),
              "AIS: LAST (104) CPA 0.0 nm in 4 min; AIS: (103) CPA 0.1 nm in 3 min; AIS: (102) CPA 0.2 nm in 2 min and 1 more");
    EXPECT_EQ(ais_warning_text({}), "");

    WindowState ws;
    const std::map<std::string, std::string, std::less<>> ini = {
        {"aisstale=", " 3 "}, {"aisremove=", "30"}, {"aiscpa=", "1.5"}, {"aistcpa=", "x"}};
    read_display_settings(ws, [&](std::string_view key) -> std::optional<std::string> {
        const auto it = ini.find(key);
        return it == ini.end() ? std::nullopt : std::optional<std::string>(it->second);
    });
    EXPECT_EQ(ws.ais_rules.stale_after_s, 180);
    EXPECT_EQ(ws.ais_rules.remove_after_s, 1800);
    EXPECT_EQ(ws.ais_rules.cpa_limit_nm, 1.5);
    EXPECT_EQ(ws.ais_rules.tcpa_limit_min, 12);  // refused: the default stays
    for (const char* bad : {"0", "-1", "1441", "nan", "", "2 min"}) {
        ais::TargetRules rules;
        apply_ais_setting(rules, "aisstale=", bad);
        EXPECT_EQ(rules.stale_after_s, 360) << bad;
    }
}

}  // namespace
}  // namespace vg
