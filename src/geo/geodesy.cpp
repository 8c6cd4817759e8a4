#include "geo/geodesy.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#ifdef VG_WITH_GEOGRAPHICLIB
#include <GeographicLib/Geodesic.hpp>
#endif

namespace vg::geo {
namespace {

double clamp_lat(double lat) { return std::clamp(lat, -90.0, 90.0); }

double norm360(double deg) {
    double d = std::fmod(deg, 360.0);
    if (d < 0) d += 360.0;
    return d;
}

constexpr double kA = 6378137.0;
constexpr double kF = 1 / 298.257223563;
constexpr double kB = kA * (1 - kF);
constexpr double kRad = std::numbers::pi / 180;

Inverse sphere_inverse(double lat1, double lon1, double lat2, double lon2) {
    const double p1 = lat1 * kRad, p2 = lat2 * kRad, dl = (lon2 - lon1) * kRad;
    const double h = std::pow(std::sin((p2 - p1) / 2), 2) + std::cos(p1) * std::cos(p2) * std::pow(std::sin(dl / 2), 2);
    Inverse r;
    r.distance_m = 2 * kMeanRadiusM * std::asin(std::min(1.0, std::sqrt(h)));
    r.bearing_deg = norm360(std::atan2(std::sin(dl) * std::cos(p2),
                                       std::cos(p1) * std::sin(p2) - std::sin(p1) * std::cos(p2) * std::cos(dl)) / kRad);
    r.final_bearing_deg = norm360(std::atan2(std::sin(dl) * std::cos(p1),
                                             -std::cos(p2) * std::sin(p1) + std::sin(p2) * std::cos(p1) * std::cos(dl)) / kRad);
    return r;
}

// Vincenty's inverse formula on WGS84.
Inverse vincenty_inverse(double lat1, double lon1, double lat2, double lon2) {
    const double L = (lon2 - lon1) * kRad;
    const double U1 = std::atan((1 - kF) * std::tan(lat1 * kRad));
    const double U2 = std::atan((1 - kF) * std::tan(lat2 * kRad));
    const double sinU1 = std::sin(U1), cosU1 = std::cos(U1), sinU2 = std::sin(U2), cosU2 = std::cos(U2);
    double lambda = L, sinSigma = 0, cosSigma = 0, sigma = 0, cosSqAlpha = 0, cos2SigmaM = 0;
    for (int i = 0; i < 200; ++i) {
        const double sinL = std::sin(lambda), cosL = std::cos(lambda);
        sinSigma = std::hypot(cosU2 * sinL, cosU1 * sinU2 - sinU1 * cosU2 * cosL);
        if (sinSigma == 0) return {};
        cosSigma = sinU1 * sinU2 + cosU1 * cosU2 * cosL;
        sigma = std::atan2(sinSigma, cosSigma);
        const double sinAlpha = cosU1 * cosU2 * sinL / sinSigma;
        cosSqAlpha = 1 - sinAlpha * sinAlpha;
        cos2SigmaM = cosSqAlpha != 0 ? cosSigma - 2 * sinU1 * sinU2 / cosSqAlpha : 0;
        const double C = kF / 16 * cosSqAlpha * (4 + kF * (4 - 3 * cosSqAlpha));
        const double prev = lambda;
        lambda = L + (1 - C) * kF * sinAlpha *
                         (sigma + C * sinSigma * (cos2SigmaM + C * cosSigma * (-1 + 2 * cos2SigmaM * cos2SigmaM)));
        if (std::abs(lambda - prev) < 1e-12) {
            const double uSq = cosSqAlpha * (kA * kA - kB * kB) / (kB * kB);
            const double A = 1 + uSq / 16384 * (4096 + uSq * (-768 + uSq * (320 - 175 * uSq)));
            const double B = uSq / 1024 * (256 + uSq * (-128 + uSq * (74 - 47 * uSq)));
            const double dSigma =
                B * sinSigma *
                (cos2SigmaM + B / 4 *
                                  (cosSigma * (-1 + 2 * cos2SigmaM * cos2SigmaM) -
                                   B / 6 * cos2SigmaM * (-3 + 4 * sinSigma * sinSigma) * (-3 + 4 * cos2SigmaM * cos2SigmaM)));
            Inverse r;
            r.distance_m = kB * A * (sigma - dSigma);
            const double sl = std::sin(lambda), cl = std::cos(lambda);
            r.bearing_deg = norm360(std::atan2(cosU2 * sl, cosU1 * sinU2 - sinU1 * cosU2 * cl) / kRad);
            r.final_bearing_deg = norm360(std::atan2(cosU1 * sl, -sinU1 * cosU2 + cosU1 * sinU2 * cl) / kRad);
            return r;
        }
    }
    return sphere_inverse(lat1, lon1, lat2, lon2);  // nearly antipodal: no convergence
}

// Vincenty's direct formula on WGS84.
Position vincenty_direct(double lat1, double lon1, double bearing_deg, double s) {
    const double alpha1 = bearing_deg * kRad, sinA1 = std::sin(alpha1), cosA1 = std::cos(alpha1);
    const double tanU1 = (1 - kF) * std::tan(lat1 * kRad);
    const double cosU1 = 1 / std::sqrt(1 + tanU1 * tanU1), sinU1 = tanU1 * cosU1;
    const double sigma1 = std::atan2(tanU1, cosA1);
    const double sinAlpha = cosU1 * sinA1, cosSqAlpha = 1 - sinAlpha * sinAlpha;
    const double uSq = cosSqAlpha * (kA * kA - kB * kB) / (kB * kB);
    const double A = 1 + uSq / 16384 * (4096 + uSq * (-768 + uSq * (320 - 175 * uSq)));
    const double B = uSq / 1024 * (256 + uSq * (-128 + uSq * (74 - 47 * uSq)));
    double sigma = s / (kB * A), sinSigma = 0, cosSigma = 0, cos2SigmaM = 0;
    for (int i = 0; i < 200; ++i) {
        cos2SigmaM = std::cos(2 * sigma1 + sigma);
        sinSigma = std::sin(sigma);
        cosSigma = std::cos(sigma);
        const double dSigma =
            B * sinSigma *
            (cos2SigmaM + B / 4 *
                              (cosSigma * (-1 + 2 * cos2SigmaM * cos2SigmaM) -
                               B / 6 * cos2SigmaM * (-3 + 4 * sinSigma * sinSigma) * (-3 + 4 * cos2SigmaM * cos2SigmaM)));
        const double next = s / (kB * A) + dSigma;
        const bool done = std::abs(next - sigma) < 1e-12;
        sigma = next;
        if (done) break;
    }
    cos2SigmaM = std::cos(2 * sigma1 + sigma);
    sinSigma = std::sin(sigma);
    cosSigma = std::cos(sigma);
    const double x = sinU1 * sinSigma - cosU1 * cosSigma * cosA1;
    const double lat2 = std::atan2(sinU1 * cosSigma + cosU1 * sinSigma * cosA1, (1 - kF) * std::hypot(sinAlpha, x));
    const double lambda = std::atan2(sinSigma * sinA1, cosU1 * cosSigma - sinU1 * sinSigma * cosA1);
    const double C = kF / 16 * cosSqAlpha * (4 + kF * (4 - 3 * cosSqAlpha));
    const double L = lambda - (1 - C) * kF * sinAlpha *
                                  (sigma + C * sinSigma * (cos2SigmaM + C * cosSigma * (-1 + 2 * cos2SigmaM * cos2SigmaM)));
    return {lat2 / kRad, std::remainder(lon1 + L / kRad, 360.0)};
}

}  // namespace

namespace vincenty {
Inverse inverse(double lat1, double lon1, double lat2, double lon2) {
    return vincenty_inverse(clamp_lat(lat1), lon1, clamp_lat(lat2), lon2);
}
Position direct(double lat, double lon, double bearing_deg, double distance) {
    return vincenty_direct(clamp_lat(lat), lon, bearing_deg, distance);
}
}  // namespace vincenty

Inverse inverse(double lat1, double lon1, double lat2, double lon2) {
    lat1 = clamp_lat(lat1);
    lat2 = clamp_lat(lat2);
#ifdef VG_WITH_GEOGRAPHICLIB
    Inverse r;
    double azi1 = 0, azi2 = 0;
    GeographicLib::Geodesic::WGS84().Inverse(lat1, lon1, lat2, lon2, r.distance_m, azi1, azi2);
    r.bearing_deg = norm360(azi1);
    r.final_bearing_deg = norm360(azi2);
    return r;
#else
    return vincenty_inverse(lat1, lon1, lat2, lon2);
#endif
}

double distance_m(double lat1, double lon1, double lat2, double lon2) {
    return inverse(lat1, lon1, lat2, lon2).distance_m;
}

double short_distance_m(double lat1, double lon1, double lat2, double lon2) {
    constexpr double kE2 = kF * (2 - kF);
    constexpr double kNear = 0.009;  // degrees: about a kilometre of latitude
    double dlon = std::remainder(lon2 - lon1, 360.0);
    const double dlat = lat2 - lat1;
    if (!(std::fabs(dlat) < kNear && std::fabs(dlon) < kNear) || std::fabs(lat1) > 80 || std::fabs(lat2) > 80)
        return distance_m(lat1, lon1, lat2, lon2);
    const double phi = (lat1 + lat2) / 2 * kRad, s = std::sin(phi), w = 1 - kE2 * s * s;
    const double n = kA / std::sqrt(w);  // prime vertical radius
    const double m = n * (1 - kE2) / w;  // meridian radius
    const double east = n * std::cos(phi) * dlon * kRad, north = m * dlat * kRad;
    // Beyond a kilometre of longitude near the poles the flat step is not good enough.
    if (east * east + north * north > 1.0e6) return distance_m(lat1, lon1, lat2, lon2);
    return std::hypot(east, north);
}

Position direct(double lat, double lon, double bearing_deg, double distance) {
    lat = clamp_lat(lat);
#ifdef VG_WITH_GEOGRAPHICLIB
    Position p;
    GeographicLib::Geodesic::WGS84().Direct(lat, lon, bearing_deg, distance, p.lat, p.lon);
    return p;
#else
    return vincenty_direct(lat, lon, bearing_deg, distance);
#endif
}

bool exact() {
#ifdef VG_WITH_GEOGRAPHICLIB
    return true;
#else
    return false;
#endif
}

}  // namespace vg::geo
