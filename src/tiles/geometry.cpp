#include "tiles/geometry.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <cstdint>
#include <limits>

#include "tiles/tile_types.h"

namespace vg {
namespace {

// Per-level constants. The MapQuest tiles-per-row values are the service's own and follow no single
// rounding rule from the width.
constexpr int kWorldWidth[kLevelCount] = {4096, 32768, 262144, 2097152, 16777216};
constexpr int kMapQuestWidth[kLevelCount] = {3072, 59909, 581676, 5006920, 36049815};
constexpr int kMapQuestHeight[kLevelCount] = {1938, 37751, 366565, 3155529, 22719784};
constexpr int kMapQuestTilesPerRow[kLevelCount] = {12, 234, 2272, 19559, 140826};

constexpr double kPi = 3.14159265358979323846;
// The base of the exponential in the inverse Mercator formula, to the ten places the program uses.
constexpr double kE = 2.7182818284;

int level_index(int level) { return std::clamp(level, 0, kLevelCount - 1); }
int zoom_index(int zoom) { return std::clamp(zoom, 0, kMaxWebZoom); }

// floor(v) as an int, saturating at the int range; NaN gives 0.
int floor_to_int(double v) {
    if (std::isnan(v)) return 0;
    const double f = std::floor(v);
    if (f <= static_cast<double>(std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
    if (f >= static_cast<double>(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
    return static_cast<int>(f);
}

int saturate(long long v) {
    return static_cast<int>(std::clamp<long long>(v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

long long floor_div(long long a, long long b) {
    long long q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

long long positive_mod(long long a, long long m) {
    long long r = a % m;
    return r < 0 ? r + m : r;
}

int shift_levels(int v, int from_level, int to_level) {
    const int d = web_zoom(to_level) - web_zoom(from_level);
    if (d > 0) return saturate(static_cast<long long>(v) * (1LL << d));
    return static_cast<int>(v / (1LL << -d));  // truncates towards zero
}

}  // namespace

int world_width(int level) {
    return is_zoom_code(level) ? kTileSize << (level - kZoomCode) : kWorldWidth[level_index(level)];
}
double pixels_per_degree(int level) { return world_width(level) / 360.0; }
int mapquest_width(int level) { return kMapQuestWidth[level_index(level)]; }
int mapquest_height(int level) { return kMapQuestHeight[level_index(level)]; }
int mapquest_tiles_per_row(int level) { return kMapQuestTilesPerRow[level_index(level)]; }
int web_zoom(int level) { return is_zoom_code(level) ? level - kZoomCode : 3 * level_index(level) + 4; }

int zoom_code(int zoom) {
    const int level = level_of_zoom(zoom_index(zoom));
    return level >= 0 ? level : kZoomCode + zoom_index(zoom);
}

int level_of_zoom(int zoom) {
    if (zoom < 4 || zoom > web_zoom(kLevelCount - 1) || (zoom - 4) % 3 != 0) return -1;
    return (zoom - 4) / 3;
}

int level_at_or_below(int zoom) { return std::clamp((zoom - 4) / 3, 0, kLevelCount - 1); }

bool is_mercator(MapSource source) {
    return source == MapSource::OpenStreetMap || source == MapSource::GoogleMaps ||
           source == MapSource::VirtualEarth;
}

bool has_scale(MapSource source, int level) {
    if (is_zoom_code(level)) return is_mercator(source);
    return is_valid_level(level) && (source != MapSource::Etopo2 || level == 0);
}

int tiles_per_row(MapSource source, int level) {
    if (source == MapSource::MapQuest) return mapquest_tiles_per_row(level);
    return world_width(level) / kTileSize;
}

int world_height(MapSource source, int level) {
    if (source == MapSource::MapQuest) return mapquest_height(level);
    if (source == MapSource::Etopo2) return world_width(level) / 2;
    return world_width(level);
}

int tile_rows(MapSource source, int level) { return (world_height(source, level) - 1) / kTileSize + 1; }

WorldPixel geo_to_pixel(double latitude, double longitude, MapSource source, int level) {
    if (source == MapSource::MapQuest) {
        return {floor_to_int(mapquest_width(level) * (longitude + 180.0) / 360.0),
                floor_to_int(mapquest_height(level) * (latitude + 90.0) / 180.0)};
    }
    const double ppd = pixels_per_degree(level);
    const int x = floor_to_int((longitude + 180.0) * ppd);
    if (source == MapSource::Etopo2) return {x, floor_to_int((latitude + 90.0) * ppd)};
    return {x, floor_to_int(mercator_degrees(latitude) * ppd)};
}

double mercator_degrees(double latitude) {
    // At the poles the Mercator logarithm is infinite (and beyond them undefined).
    if (latitude >= 90.0) latitude = kMercatorLimit;
    if (latitude <= -90.0) latitude = -kMercatorLimit;
    const double m = std::log(std::tan(latitude * kPi / 180.0 * 0.5 + kPi / 4.0));
    return 180.0 - m * 180.0 / kPi;
}

int mercator_row(double mercator_deg, int level) { return floor_to_int(mercator_deg * pixels_per_degree(level)); }

double pixel_to_longitude(int x, MapSource source, int level) {
    if (source == MapSource::MapQuest) return static_cast<double>(x) / mapquest_width(level) * 360.0 - 180.0;
    return x / pixels_per_degree(level) - 180.0;
}

double pixel_to_latitude(int y, MapSource source, int level) {
    if (source == MapSource::MapQuest) return static_cast<double>(y) / mapquest_height(level) * 180.0 - 90.0;
    const double ppd = pixels_per_degree(level);
    if (source == MapSource::Etopo2) return y / ppd - 90.0;
    const double t = (180.0 - y / ppd) * kPi / 180.0;
    return (2.0 * std::atan(std::pow(kE, t)) - kPi / 2.0) * 180.0 / kPi;
}

double metres_per_pixel(MapSource source, int level, double latitude) {
    const double width = source == MapSource::MapQuest ? mapquest_width(level) : world_width(level);
    const double phi = std::clamp(latitude, -90.0, 90.0) * kPi / 180.0;
    return kEquatorMetres * std::max(0.0, std::cos(phi)) / width;
}

int rescale_x(int x, int from_level, int to_level, MapSource source) {
    if (source != MapSource::MapQuest) return shift_levels(x, from_level, to_level);
    const double longitude = static_cast<double>(x) / mapquest_width(from_level) * 360.0 - 180.0;
    return floor_to_int(mapquest_width(to_level) * (longitude + 180.0) / 360.0);
}

int rescale_y(int y, int from_level, int to_level, MapSource source) {
    if (source != MapSource::MapQuest) return shift_levels(y, from_level, to_level);
    const double latitude = static_cast<double>(y) / mapquest_height(from_level) * 180.0 - 90.0;
    return floor_to_int(mapquest_height(to_level) * (latitude + 90.0) / 180.0);
}

int round_to_tile_edge(long long v) {
    return saturate(floor_div(v + kTileSize / 2, kTileSize) * kTileSize);
}

int clamp_view_y(int y, int level, MapSource source) {
    long long lower = 0;
    long long upper = 0;
    const long long w = world_width(level);
    switch (source) {
        case MapSource::Etopo2:
            lower = 512;
            upper = w / 2 - 512;
            break;
        case MapSource::MapQuest:
            lower = 512;
            upper = mapquest_height(level) - 513;
            break;
        default:
            lower = w / 16 + 256;
            upper = 15 * w / 16 - 257;
            // The coarsest zooms' worlds are smaller than that: their middle row.
            if (lower > upper) return static_cast<int>(w / 2);
            break;
    }
    long long v = y;
    if (v < lower) v = lower;
    if (v > upper) v = upper;
    return static_cast<int>(v);
}

int clamp_centre_y(int y, int level, MapSource source) { return round_to_tile_edge(clamp_view_y(y, level, source)); }

int wrap_view_x(int x, int level, MapSource source) {
    const long long wx = source == MapSource::MapQuest ? mapquest_width(level) : world_width(level);
    long long v = x;
    if (v < 0 || v >= wx) v = positive_mod(v, wx);
    return static_cast<int>(v);
}

int wrap_centre_x(int x, int level, MapSource source) { return round_to_tile_edge(wrap_view_x(x, level, source)); }

int tile_row(int y) { return static_cast<int>(floor_div(y, kTileSize)); }

int tile_column(int x, MapSource source, int level) {
    return static_cast<int>(positive_mod(floor_div(x, kTileSize), tiles_per_row(source, level)));
}

WorldPixel view_cell_pixel(MapSource source, int cx, int cy, int g, int r, int c) {
    return view_cell_pixel(source, cx, cy, ViewGrid{g, g}, r, c);
}

WorldPixel view_cell_pixel(MapSource source, int cx, int cy, const ViewGrid& grid, int r, int c) {
    const long long x = cx + static_cast<long long>(c - grid.columns / 2) * kTileSize;
    const long long y = rows_run_north(source) ? cy + static_cast<long long>(grid.rows / 2 - 1 - r) * kTileSize
                                               : cy + static_cast<long long>(r - grid.rows / 2) * kTileSize;
    return {saturate(x), saturate(y)};
}

std::optional<std::string> make_quadkey(int level, int x, int y) {
    long long c = world_width(level);
    long long px = x;
    long long py = y;
    if (py < 0 || py > c - 1) return std::nullopt;
    if (px < 0 || px > c - 1) px = positive_mod(px, c);
    std::string key;
    for (int i = 0; i < web_zoom(level); ++i) {
        c /= 2;
        char digit = '0';
        if (py >= c) {
            digit += 2;
            py -= c;
        }
        if (px >= c) {
            digit += 1;
            px -= c;
        }
        key.push_back(digit);
    }
    return key;
}

const char* compass_point(double course) {
    static constexpr const char* kNames[8] = {"N", "NE", "E", "SE", "S", "SW", "W", "NW"};
    if (!std::isfinite(course)) return kNames[0];
    double wrapped = std::fmod(course, 360.0);
    if (wrapped < 0) wrapped += 360.0;
    const int sector = static_cast<int>(std::floor((wrapped + 22.5) / 45.0)) % 8;
    return kNames[sector];
}

int web_tile_column(double longitude, int zoom) {
    const double n = std::ldexp(1.0, zoom);
    return static_cast<int>(std::clamp(std::floor((longitude + 180.0) / 360.0 * n), 0.0, n - 1));
}

int web_tile_row(double latitude, int zoom) {
    const double n = std::ldexp(1.0, zoom);
    const double r = std::clamp(latitude, -85.0511287798, 85.0511287798) * std::numbers::pi / 180.0;
    const double y = (1.0 - std::log(std::tan(r) + 1.0 / std::cos(r)) / std::numbers::pi) / 2.0 * n;
    return static_cast<int>(std::clamp(std::floor(y), 0.0, n - 1));
}

}  // namespace vg
