// The AIS target table: a real feed's reports merged per vessel, ageing, and the closest approach that
// names a ship on a collision course.
#include "gps/ais_targets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <string>

#include "geo/geodesy.h"
#include "support/test_paths.h"

namespace vg::ais {
namespace {

TEST(AisTargets, ClosestApproachOfCrossingParallelAndPassingShips) {
    // Head on: 2 nm north, coming south at 10 kn while we stay: meets us in 12 minutes.
    auto a = closest_approach(2, 0, 10, 180, 0, 0);
    EXPECT_NEAR(a.cpa_nm, 0, 1e-9);
    EXPECT_NEAR(a.tcpa_min, 12, 1e-9);
    // Same course and speed beside us: no relative motion, the range stays.
    a = closest_approach(1.5, 90, 8, 45, 8, 45);
    EXPECT_NEAR(a.cpa_nm, 1.5, 1e-9);
    EXPECT_EQ(a.tcpa_min, 0);
    // Crossing ahead: 3 nm east going west at 12 kn while we go north at 9 kn: a 3-4-5 triangle of
    // relative motion (15 kn), closest at 3·(9/15) = 1.8 nm after 3·(12/15)/15 h.
    a = closest_approach(3, 90, 12, 270, 9, 0);
    EXPECT_NEAR(a.cpa_nm, 1.8, 1e-9);
    EXPECT_NEAR(a.tcpa_min, 3 * 12.0 / 15 / 15 * 60, 1e-9);
    // Already passed: astern and opening.
    EXPECT_LT(closest_approach(1, 180, 5, 180, 0, 0).tcpa_min, 0);
}

TEST(AisTargets, ARealFeedMergesPerVesselAgesAndNamesTheDangerousOne) {
    TargetTable table;
    AisAssembler assembler;
    std::ifstream log(test::shared_testdata() / "ais" / "ais-nmea.log");
    int messages = 0;
    for (std::string line; std::getline(log, line);)
        if (const auto m = assembler.feed_line(line)) table.update(*m, ++messages);  // one second apart
    ASSERT_GT(messages, 150);
    // Static and dynamic data of one vessel meet in one target (type 5 and type 1 of 371255000 in the feed).
    const Target* enterprise = table.find(371255000);
    ASSERT_NE(enterprise, nullptr);
    EXPECT_EQ(enterprise->name, "SEA ENTERPRISE");
    EXPECT_EQ(enterprise->length_m, 28);
    std::size_t with_position = 0;
    for (const auto& t : table.targets()) with_position += t.lat.has_value();
    EXPECT_GT(with_position, 10u);

    // Nothing is dangerous to a ship far away; every target is stale after six minutes of silence and gone
    // after twenty.
    table.refresh(messages, OwnShip{0, 0, 10, 0});
    EXPECT_TRUE(table.dangerous().empty());
    table.refresh(messages + 7 * 60.0, std::nullopt);
    EXPECT_TRUE(std::all_of(table.targets().begin(), table.targets().end(), [](const Target& t) { return t.stale; }));
    table.refresh(messages + 21 * 60.0, std::nullopt);
    EXPECT_TRUE(table.targets().empty());

    // A vessel 3 nm east of us steering west at 12 kn while we steer east at 6 kn: met in ten minutes.
    const OwnShip own{52.8, 5.6, 6, 90};
    const auto there = geo::direct(own.lat, own.lon, 90, 3 * 1852.0);
    Message m;
    m.type = 1;
    m.mmsi = 244000001;
    m.decoded = true;
    m.lat = static_cast<std::int32_t>(std::lround(there.lat * 600000));
    m.lon = static_cast<std::int32_t>(std::lround(there.lon * 600000));
    m.speed = 120;
    m.course = 2700;
    m.heading = 270;
    table.update(m, 0);
    m.mmsi = 244000002;  // the same, but going away north-east
    m.course = 450;
    table.update(m, 0);
    table.refresh(1, own);
    const auto danger = table.dangerous();
    ASSERT_EQ(danger.size(), 1u);
    EXPECT_EQ(danger[0]->mmsi, 244000001u);
    EXPECT_NEAR(*danger[0]->tcpa_min, 10, 0.1);
    EXPECT_NEAR(*danger[0]->range_nm, 3, 0.01);
    EXPECT_NEAR(*danger[0]->bearing_deg, 90, 0.1);
}

TEST(AisTargets, TheTableIsBoundedAndOwnReportsAreNotTargets) {
    TargetTable table(TargetRules{.max_targets = 3});
    Message m;
    m.type = 18;
    m.decoded = true;
    for (std::uint32_t id = 1; id <= 5; ++id) {
        m.mmsi = id;
        table.update(m, id);
    }
    ASSERT_EQ(table.targets().size(), 3u);
    EXPECT_EQ(table.find(1), nullptr);  // the oldest made room
    m.mmsi = 9;
    m.own = true;
    table.update(m, 9);
    EXPECT_EQ(table.find(9), nullptr);
}

}  // namespace
}  // namespace vg::ais
