// Distances, bearings and destinations on the WGS84 ellipsoid: the one place the program measures on
// the Earth (track lengths, speeds from positions, trip figures, closest approach of targets, region
// sizes). Computed with GeographicLib's geodesic solution (accurate to nanometres); a build without
// GeographicLib (the Windows cross build) uses the same ellipsoid through Vincenty's formulae (inverse
// and direct), with the points near antipodal falling back to the sphere of the mean radius.
// Threads: every function may be called from any thread at once. Failure: none; latitudes outside
// [-90, 90] are clamped and longitudes taken modulo 360.
#pragma once

namespace vg::geo {

// WGS84's mean radius (metres), for the rare callers that need a sphere (map scale bars).
inline constexpr double kMeanRadiusM = 6371008.8;

struct Inverse {
    double distance_m = 0;   // along the geodesic
    double bearing_deg = 0;  // initial bearing at the first point, 0..360 clockwise from north
    double final_bearing_deg = 0;  // at the second point
};

// From (lat1, lon1) to (lat2, lon2), degrees.
Inverse inverse(double lat1, double lon1, double lat2, double lon2);
// The distance alone (same as inverse().distance_m).
double distance_m(double lat1, double lon1, double lat2, double lon2);

// The distance of two points less than about a kilometre apart (a track's steps), from the ellipsoid's
// radii of curvature at their mean latitude: within 0.1 mm of the geodesic there and far cheaper;
// points farther apart, or beyond 80 degrees of latitude, are measured by distance_m.
double short_distance_m(double lat1, double lon1, double lat2, double lon2);

struct Position {
    double lat = 0;
    double lon = 0;
};
// The point `distance_m` from (lat, lon) along initial bearing `bearing_deg`.
Position direct(double lat, double lon, double bearing_deg, double distance_m);

// True when geodesics are solved by GeographicLib in this build.
bool exact();

// The fallback's own formulae (Vincenty's inverse and direct on WGS84), compiled in every build so that
// the tests check them where GeographicLib is used; accurate to a millimetre except near antipodes.
namespace vincenty {
Inverse inverse(double lat1, double lon1, double lat2, double lon2);
Position direct(double lat, double lon, double bearing_deg, double distance_m);
}  // namespace vincenty

}  // namespace vg::geo
