// The Trip dialog's texts in each speed unit, and the dialog's hooks through App: Trip opens it,
// Lap keeps a lap, Reset clears them.
#include "app/trip_texts.h"

#include <gtest/gtest.h>

#include "app/app_fixture.h"

namespace vg {
namespace {

TEST(TripTexts, UnitsTimesAndUnknowns) {
    TripFigures f;
    f.distance_m = 12345.6;
    f.total_s = 3723;
    f.moving_s = 3600;
    f.avg_moving_mps = 3.43;
    f.max_mps = 10;
    f.ascent_m = 123.4;
    f.descent_m = 99.5;
    f.min_ele_m = -3.2;
    f.max_ele_m = 1500;
    const TripTexts km = trip_texts(f, TripFigures{}, {f}, SpeedUnit::kmh);
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"Distance", "12.35 km"},   {"Moving time", "1:00:00"},        {"Total time", "1:02:03"},
        {"Average speed", "12.3 km/h"}, {"Maximum speed", "36.0 km/h"}, {"Ascent", "123 m"},
        {"Descent", "100 m"},       {"Lowest", "-3 m"},                {"Highest", "1500 m"}};
    EXPECT_EQ(km.rows, rows);
    EXPECT_EQ(km.lap, "Lap 2: 0.00 km, - moving, - average, - maximum");
    ASSERT_EQ(km.laps.size(), 1u);
    EXPECT_EQ(km.laps[0], "Lap 1: 12.35 km, 1:00:00 moving, 12.3 km/h average, 36.0 km/h maximum");

    const TripTexts mi = trip_texts(f, f, {}, SpeedUnit::mph);
    EXPECT_EQ(mi.rows[0].second, "7.67 mi");
    EXPECT_EQ(mi.rows[4].second, "22.4 mph");
    const TripTexts kn = trip_texts(f, f, {}, SpeedUnit::knots);
    EXPECT_EQ(kn.rows[0].second, "6.67 nm");
    EXPECT_EQ(kn.rows[4].second, "19.4 kn");

    const TripTexts none = trip_texts(TripFigures{}, TripFigures{}, {}, SpeedUnit::kmh);
    for (std::size_t i = 1; i < none.rows.size(); ++i) EXPECT_EQ(none.rows[i].second, "-") << none.rows[i].first;
}

class TripDialogOfApp : public test::AppFixture {};

TEST_F(TripDialogOfApp, LapAndResetThroughTheHooks) {
    write_settings("", "speed=mph\r\n");
    App& a = start();
    a.on_command(Command::Trip);
    ASSERT_EQ(window.trips.size(), 1u);
    TripDialogData& d = window.trips[0];
    EXPECT_EQ(d.poll().rows[0].second, "0.00 mi");
    d.lap();
    d.lap();
    EXPECT_EQ(d.poll().laps.size(), 2u);
    EXPECT_EQ(d.poll().lap.substr(0, 6), "Lap 3:");
    d.reset();
    EXPECT_TRUE(d.poll().laps.empty());
}

}  // namespace
}  // namespace vg
