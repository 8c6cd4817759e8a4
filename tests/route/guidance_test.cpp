#include "route/guidance.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support/route_drive.h"

namespace vg::route {
namespace {

using test::drive_along;
using test::town_route;
using test::wrong_turn_drive;

TEST(Guidance, DriveAlongTheRouteAnnouncesEachTurnAndArrivesOnce) {
    const Route r = town_route();
    Guidance g(r);
    int arrivals = 0;
    std::string at_300, at_700, at_1250;
    for (const GuidanceFix& f : drive_along(r.line, 10, 0, r.length_m)) {
        const GuidanceStep& s = g.update(f);
        EXPECT_FALSE(s.left_now);
        EXPECT_LT(s.from_line_m, 1.0);
        arrivals += s.arrived_now;
        const double along = f.time_s * 10;
        if (along == 300) at_300 = guidance_text(r, s);
        if (along == 700) at_700 = guidance_text(r, s);
        if (along == 1250) at_1250 = guidance_text(r, s);
        if (s.state == GuidanceState::arrived) {
            // Within the arrival distance of the end, not before.
            EXPECT_GE(along, r.length_m - 25 - 1e-6);
        }
    }
    EXPECT_EQ(at_300, "In 300 m turn right onto High Street");
    EXPECT_EQ(at_700, "In 300 m turn left onto Mill Lane");
    EXPECT_EQ(at_1250, "In 50 m arrive");
    EXPECT_EQ(arrivals, 1);
    EXPECT_EQ(guidance_text(r, g.last()), "Arrived");
}

TEST(Guidance, MissedTurnLeavesTheRouteAfterTheHysteresisAndComesBackOnWhenClose) {
    const Route r = town_route();
    Guidance g(r);
    // Straight on past High Street: 10 m a second away from the corner.
    const auto fixes = wrong_turn_drive(r, 600, 0, 12);
    int left = 0;
    double left_at_distance = 0;
    for (const GuidanceFix& f : fixes) {
        const GuidanceStep& s = g.update(f);
        if (s.left_now) {
            ++left;
            left_at_distance = s.from_line_m;
        }
    }
    EXPECT_EQ(left, 1);
    // Three fixes beyond 40 m: the third is at 70 m.
    EXPECT_NEAR(left_at_distance, 70, 1.5);
    EXPECT_EQ(g.last().state, GuidanceState::off_route);
    EXPECT_EQ(guidance_text(r, g.last()), "Off route");
    // Still 25 m away is not yet back; 10 m from the line is.
    const geo::Position corner{r.line[12].lat, r.line[12].lon};
    const geo::Position near25 = geo::direct(corner.lat, corner.lon, 0, 25);
    EXPECT_EQ(g.update({near25.lat, near25.lon, 180, 5, 100}).state, GuidanceState::off_route);
    const geo::Position on = geo::direct(corner.lat, corner.lon, 90, 30);
    const geo::Position near10 = geo::direct(on.lat, on.lon, 0, 10);
    EXPECT_EQ(g.update({near10.lat, near10.lon, 90, 5, 101}).state, GuidanceState::on_route);
}

TEST(Guidance, HysteresisIgnoresOneStrayFixButNotALongOrBackwardDeparture) {
    const Route r = town_route();
    const auto fixes = drive_along(r.line, 10, 0, 300);
    {
        // One fix thrown 80 m aside among good ones.
        Guidance g(r);
        for (std::size_t i = 0; i < fixes.size(); ++i) {
            GuidanceFix f = fixes[i];
            if (i == 10) f.lon += 0.0012;
            EXPECT_NE(g.update(f).state, GuidanceState::off_route) << i;
        }
    }
    {
        // Two fixes against the route, 6 s apart: the time rule decides on the second.
        Guidance g(r);
        g.update(fixes[0]);
        GuidanceFix far = fixes[5];
        far.lon += 0.0012;
        EXPECT_FALSE(g.update(far).left_now);
        far.time_s += 6;
        EXPECT_TRUE(g.update(far).left_now);
    }
    {
        // Driving back down Main Street on the line itself: the course is against it.
        Guidance g(r);
        for (std::size_t i = 0; i < 20; ++i) g.update(fixes[i]);
        int left = 0;
        for (int k = 1; k <= 4; ++k) {
            GuidanceFix back = fixes[20 - k];
            back.course_deg = 180;
            back.time_s = 20 + k;
            left += g.update(back).left_now;
        }
        EXPECT_EQ(left, 1);
        // Slow, the course is not trusted: standing still is never off the route.
        Guidance slow(r);
        GuidanceFix still = fixes[3];
        still.course_deg = 180;
        still.speed_mps = 0.5;
        for (int k = 0; k < 10; ++k, still.time_s += 1) EXPECT_EQ(slow.update(still).state, GuidanceState::on_route);
    }
}

TEST(Guidance, BadFixesAndDegenerateRoutesHaveDefinedOutcomes) {
    const Route r = town_route();
    Guidance g(r);
    const auto fixes = drive_along(r.line, 10, 0, 100);
    const GuidanceStep before = g.update(fixes[5]);
    const GuidanceStep& after = g.update({NAN, r.line[0].lon, 0, 10, 6});
    EXPECT_EQ(after.state, before.state);
    EXPECT_EQ(after.next, before.next);
    Route empty;
    EXPECT_EQ(Guidance(empty).update(fixes[0]).state, GuidanceState::arrived);
    Route one;
    one.line.push_back(r.line[0]);
    EXPECT_EQ(Guidance(one).last().state, GuidanceState::arrived);
    EXPECT_EQ(guidance_distance(47), "50 m");
    EXPECT_EQ(guidance_distance(1234), "1.2 km");
}

}  // namespace
}  // namespace vg::route
