// Positions typed in the forms people use, and texts that are not positions (those go to the name
// search).
#include "search/coordinates.h"

#include <gtest/gtest.h>

namespace vg::search {
namespace {

TEST(Coordinates, TheUsualFormsGiveThePosition) {
    const struct {
        const char* text;
        double lat, lon;
    } cases[] = {
        {"52.52, 13.405", 52.52, 13.405},
        {"52.52 13.405", 52.52, 13.405},
        {"-33.8688;151.2093", -33.8688, 151.2093},
        {"  47.5030 , 10.0065 ", 47.5030, 10.0065},
        {"52.5N 13.4E", 52.5, 13.4},
        {"13.4E 52.5N", 52.5, 13.4},
        {"N 52.5 W 13.4", 52.5, -13.4},
        {"s33.5 e151", -33.5, 151},
        {"52°31'12\"N 13°24'18\"E", 52.52, 13.405},
        {"52° 31' 12\" N, 13° 24' 18\" E", 52.52, 13.405},
        {"52\xC2\xB0" "31\xE2\x80\xB2" "12\xE2\x80\xB3S 13\xC2\xB0" "24\xE2\x80\xB2" "18\xE2\x80\xB3W", -52.52, -13.405},
        {"52 31 12 N 13 24 18 E", 52.52, 13.405},
        {"52 31 12 13 24 18", 52.52, 13.405},
        {"N 52° 31.2' E 13° 24.3'", 52.52, 13.405},
        {"52 31.2, 13 24.3", 52.52, 13.405},
        {"52°31.2' 13°24.3'", 52.52, 13.405},
        {"-52 31.2 -13 24.3", -52.52, -13.405},
        {"90 180", 90, 180},
    };
    for (const auto& c : cases) {
        const auto p = parse_coordinates(c.text);
        ASSERT_TRUE(p) << c.text;
        EXPECT_NEAR(p->lat, c.lat, 1e-9) << c.text;
        EXPECT_NEAR(p->lon, c.lon, 1e-9) << c.text;
    }
}

TEST(Coordinates, TextsThatAreNotPositionsGiveNothing) {
    for (const char* text : {"", "High Street", "52.5", "52.5 13.4 7", "91 10", "10 181", "52 60 0 13 0 0",
                             "52 30 60 N 13 0 0 E", "52.5N 13.4N", "52.5E 13.4W", "-52.5S 13.4E", "52.5N 13.4",
                             "1.2.3 4", "52.5, 13.4, 1", "52.5 ,, 13.4", "N 52 E", "'52 13",
                             "52.5 13.4 Street", "1e5 2", "52.5\xC2\xB0\xC2\xB0 13"}) {
        EXPECT_FALSE(parse_coordinates(text)) << text;
    }
}

}  // namespace
}  // namespace vg::search
