// Geodesics on WGS84 against published values, through the build's solver and through the fallback's
// Vincenty formulae (the only solver of the Windows cross build).
#include "geo/geodesy.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace vg::geo {
namespace {

double dms(double d, double m, double s) { return d < 0 ? d - m / 60 - s / 3600 : d + m / 60 + s / 3600; }

struct Known {
    const char* name;
    double lat1, lon1, lat2, lon2, distance_m, bearing_deg, final_bearing_deg, tolerance_m;
};

// Vincenty (1975), Flinders Peak to Buninyong (computed on GRS80, whose flattening differs from WGS84's
// by a part in 10^10: well under a millimetre here); GeographicLib's GeodSolve documentation, JFK to
// LHR (WGS84).
const Known kKnown[] = {
    {"Flinders Peak - Buninyong", dms(-37, 57, 3.72030), dms(144, 25, 29.52440), dms(-37, 39, 10.15610),
     dms(143, 55, 35.38390), 54972.271, dms(306, 52, 5.37), dms(127, 10, 25.07) + 180, 0.001},
    {"JFK - LHR", 40.6, -73.8, 51.6, -0.5, 5551759.400319, 51.198882845579, 107.821776735514, 0.001},
};

TEST(Geodesy, KnownGeodesicsThroughBothSolvers) {
    for (const Known& k : kKnown) {
        SCOPED_TRACE(k.name);
        for (bool fallback : {false, true}) {
            const Inverse g = fallback ? vincenty::inverse(k.lat1, k.lon1, k.lat2, k.lon2)
                                       : inverse(k.lat1, k.lon1, k.lat2, k.lon2);
            EXPECT_NEAR(g.distance_m, k.distance_m, k.tolerance_m) << "fallback " << fallback;
            EXPECT_NEAR(g.bearing_deg, k.bearing_deg, 1e-5);
            EXPECT_NEAR(std::fmod(g.final_bearing_deg, 360), std::fmod(k.final_bearing_deg, 360), 1e-5);
            // And back: the destination of the first point's bearing and distance is the second point.
            const Position p = fallback ? vincenty::direct(k.lat1, k.lon1, k.bearing_deg, k.distance_m)
                                        : direct(k.lat1, k.lon1, k.bearing_deg, k.distance_m);
            EXPECT_NEAR(p.lat, k.lat2, 1e-7);
            EXPECT_NEAR(p.lon, k.lon2, 1e-7);
        }
    }
}

TEST(Geodesy, ShortStepsAgreeWithTheGeodesic) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> lat(-85, 85), lon(-180, 180), bearing(0, 360), length(0, 1500);
    for (int i = 0; i < 2000; ++i) {
        const double a = lat(rng), b = lon(rng);
        const Position p = direct(a, b, bearing(rng), length(rng));
        EXPECT_NEAR(short_distance_m(a, b, p.lat, p.lon), distance_m(a, b, p.lat, p.lon), 1e-4) << a << " " << b;
    }
    // Across the date line, and far apart.
    EXPECT_NEAR(short_distance_m(10, 179.9995, 10, -179.9995), distance_m(10, 179.9995, 10, -179.9995), 1e-4);
    EXPECT_EQ(short_distance_m(10, 20, 11, 20), distance_m(10, 20, 11, 20));
}

TEST(Geodesy, EdgeCasesHaveDefinedAnswers) {
    EXPECT_EQ(distance_m(60, 25, 60, 25), 0);
    EXPECT_EQ(vincenty::inverse(60, 25, 60, 25).distance_m, 0);
    // A quarter meridian: 10 001 965.729 m on WGS84.
    EXPECT_NEAR(distance_m(0, 0, 90, 0), 10001965.729, 0.001);
    EXPECT_NEAR(vincenty::inverse(0, 0, 90, 0).distance_m, 10001965.729, 0.001);
    // Latitudes beyond the poles are clamped; longitudes go round.
    EXPECT_NEAR(distance_m(95, 0, 90, 0), 0, 1e-6);
    EXPECT_NEAR(distance_m(10, 170, 10, -170), distance_m(10, 0, 10, 20), 1e-6);
    // Near antipodes Vincenty's iteration does not settle and the fallback takes the mean sphere:
    // within half a percent of the true geodesic.
    const double exact_m = 20003931.4586;  // half the meridian ellipse: the shortest way to the antipode
    EXPECT_NEAR(distance_m(0, 0, 0.5, 179.7), vincenty::inverse(0, 0, 0.5, 179.7).distance_m, 0.005 * exact_m);
}

}  // namespace
}  // namespace vg::geo
