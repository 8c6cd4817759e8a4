#include "tiles/hillshade.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <numbers>

#include "tiles/geometry.h"

namespace vg {

namespace {

// The light of gdaldem's defaults, folded into the constants of its shade formula (z-factor 1 over
// Horn's weights, which sum to 8 on each side).
struct Light {
    double sin_alt_254;
    double cos_az_254;  // 254 · cos(azimuth) · cos(altitude) · z / 8
    double sin_az_254;
    double square_z;    // (z / 8)²
};

constexpr Light default_light() {
    // azimuth 315°, altitude 45°: cos 315° = √½, sin 315° = −√½, sin 45° = cos 45° = √½.
    constexpr double r = std::numbers::sqrt2 / 2.0;
    constexpr double zf = 1.0 / 8.0;
    return {254.0 * r, 254.0 * r * r * zf, -254.0 * r * r * zf, zf * zf};
}

struct RampStop {
    float metres;
    std::uint8_t r, g, b;
};

// Land: green lowlands, pale yellow hills, browns of the high mountains, grey rock, white summits.
constexpr RampStop kLandRamp[] = {
    {0, 172, 208, 165},     {300, 168, 198, 143},   {600, 209, 215, 171},  {1000, 239, 235, 192},
    {1500, 222, 214, 163},  {2000, 202, 185, 130},  {3000, 170, 135, 83},  {4000, 172, 154, 124},
    {5000, 224, 222, 216},  {6000, 245, 244, 242},
};
// Sea (heights at or below 0, by depth): light blue at the coast, darkening to the deep trenches.
constexpr RampStop kSeaRamp[] = {
    {0, 216, 242, 254},     {200, 198, 236, 255},   {1000, 161, 210, 247}, {3000, 121, 178, 222},
    {6000, 79, 130, 195},   {11000, 45, 80, 150},
};

template <std::size_t N>
void ramp(const RampStop (&stops)[N], float v, std::uint8_t rgb[3]) {
    if (!(v > stops[0].metres)) {
        rgb[0] = stops[0].r, rgb[1] = stops[0].g, rgb[2] = stops[0].b;
        return;
    }
    for (std::size_t i = 1; i < N; ++i) {
        if (v <= stops[i].metres) {
            const RampStop& a = stops[i - 1];
            const RampStop& b = stops[i];
            const float t = (v - a.metres) / (b.metres - a.metres);
            rgb[0] = std::uint8_t(std::lround(a.r + t * (b.r - a.r)));
            rgb[1] = std::uint8_t(std::lround(a.g + t * (b.g - a.g)));
            rgb[2] = std::uint8_t(std::lround(a.b + t * (b.b - a.b)));
            return;
        }
    }
    rgb[0] = stops[N - 1].r, rgb[1] = stops[N - 1].g, rgb[2] = stops[N - 1].b;
}

bool sizes_fit(std::size_t heights, int width, int height, std::size_t metres) {
    if (width <= 0 || height <= 0 || width > 1 << 15 || height > 1 << 15) return false;
    const std::size_t n = (std::size_t(width) + 2) * (std::size_t(height) + 2);
    return heights == n && (metres == 1 || metres == std::size_t(height));
}

}  // namespace

bool hillshade(std::span<const float> heights, int width, int height, std::span<const PixelMetres> metres,
               std::vector<std::uint8_t>& out) {
    if (!sizes_fit(heights.size(), width, height, metres.size())) return false;
    for (const PixelMetres& m : metres)
        if (!(m.x > 0) || !(m.y > 0) || !std::isfinite(m.x) || !std::isfinite(m.y)) return false;
    constexpr Light light = default_light();
    const std::size_t stride = std::size_t(width) + 2;
    out.resize(std::size_t(width) * std::size_t(height));
    std::uint8_t* o = out.data();
    for (int r = 0; r < height; ++r) {
        const PixelMetres& m = metres[metres.size() == 1 ? 0 : std::size_t(r)];
        const double inv_x = 1.0 / m.x, inv_y = 1.0 / m.y;
        const float* n = heights.data() + std::size_t(r) * stride;  // the row north of picture row r
        const float* c = n + stride;
        const float* s = c + stride;
        for (int i = 0; i < width; ++i, ++o) {
            const float h = c[i + 1];
            if (std::isnan(h)) {
                *o = kNoShade;
                continue;
            }
            float w[9] = {n[i], n[i + 1], n[i + 2], c[i], h, c[i + 2], s[i], s[i + 1], s[i + 2]};
            for (float& v : w)
                if (std::isnan(v)) v = h;
            // Horn's gradient as gdaldem takes it: x grows westward, y grows southward over the
            // (negative) north-south pixel size, i.e. northward here.
            const double x = ((w[0] + 2.0 * w[3] + w[6]) - (w[2] + 2.0 * w[5] + w[8])) * inv_x;
            const double y = ((w[0] + 2.0 * w[1] + w[2]) - (w[6] + 2.0 * w[7] + w[8])) * inv_y;
            const double lit = (light.sin_alt_254 - (y * light.cos_az_254 - x * light.sin_az_254)) /
                               std::sqrt(1.0 + light.square_z * (x * x + y * y));
            *o = lit <= 0.0 ? std::uint8_t(1) : std::uint8_t(std::lround(std::min(1.0 + lit, 255.0)));
        }
    }
    return true;
}

bool blend_shade(std::span<std::uint8_t> rgb, int channels, std::span<const std::uint8_t> shade, int strength) {
    if ((channels != 3 && channels != 4) || rgb.size() != shade.size() * std::size_t(channels)) return false;
    strength = std::clamp(strength, 0, 100);
    if (strength == 0) return true;
    // The factor of each grey in 1/65536ths: 65536 · (1 − s + s · g / 255).
    std::uint32_t factor[256];
    for (int g = 0; g < 256; ++g)
        factor[g] = std::uint32_t(std::lround(65536.0 * (1.0 - strength / 100.0 + strength / 100.0 * g / 255.0)));
    std::uint8_t* p = rgb.data();
    for (const std::uint8_t g : shade) {
        const std::uint32_t f = factor[g];
        for (int k = 0; k < 3; ++k) p[k] = std::uint8_t((p[k] * f + 32768u) >> 16);
        p += channels;
    }
    return true;
}

void relief_colour(float metres, std::uint8_t rgb[3]) {
    if (metres > 0) ramp(kLandRamp, metres, rgb);
    else ramp(kSeaRamp, -metres, rgb);
}

bool relief_picture(std::span<const float> heights, int width, int height, std::span<const PixelMetres> metres,
                    int strength, std::span<std::uint8_t> rgb, int channels) {
    if ((channels != 3 && channels != 4) || rgb.size() != std::size_t(width) * std::size_t(height) * channels)
        return false;
    std::vector<std::uint8_t> shade;
    if (!hillshade(heights, width, height, metres, shade)) return false;
    const std::size_t stride = std::size_t(width) + 2;
    std::uint8_t* p = rgb.data();
    for (int r = 0; r < height; ++r) {
        const float* row = heights.data() + (std::size_t(r) + 1) * stride + 1;
        for (int i = 0; i < width; ++i, p += channels)
            if (!std::isnan(row[i])) relief_colour(row[i], p);  // voids keep the picture's colour
    }
    return blend_shade(rgb, channels, shade, strength);
}

namespace {

// The square's pixels copied out into a packed buffer and back: the shade works on packed rows.
std::vector<std::uint8_t> packed(const PixelSquare& square) {
    const std::size_t row = std::size_t(square.size) * 3;
    std::vector<std::uint8_t> out(row * std::size_t(square.size));
    for (int r = 0; r < square.size; ++r)
        std::memcpy(out.data() + row * std::size_t(r), square.first + square.stride * std::size_t(r), row);
    return out;
}

void unpack(const std::vector<std::uint8_t>& pixels, const PixelSquare& square) {
    const std::size_t row = std::size_t(square.size) * 3;
    for (int r = 0; r < square.size; ++r)
        std::memcpy(square.first + square.stride * std::size_t(r), pixels.data() + row * std::size_t(r), row);
}

double mercator_latitude(double py, double world) {
    return std::atan(std::sinh(std::numbers::pi * (1.0 - 2.0 * py / world))) * 180.0 / std::numbers::pi;
}

double cos_degrees(double degrees) { return std::cos(degrees * std::numbers::pi / 180.0); }

}  // namespace

PixelSquare mosaic_cell_square(Mosaic& mosaic, const ViewGrid& grid, int index) {
    if (grid.columns < 1 || index < 0 || index >= grid.cells()) return {};
    const int c = index % grid.columns, r = index / grid.columns;
    if ((c + 1) * kTileSize > mosaic.width || (r + 1) * kTileSize > mosaic.height ||
        mosaic.pixels.size() < std::size_t(mosaic.width) * std::size_t(mosaic.height) * 3)
        return {};
    const std::size_t stride = std::size_t(mosaic.width) * 3;
    return {mosaic.pixels.data() + std::size_t(r) * kTileSize * stride + std::size_t(c) * kTileSize * 3, stride,
            kTileSize};
}

PixelSquare picture_square(RgbImage& picture, int quarter) {
    if (picture.width <= 0 || picture.width != picture.height || picture.width % 2 != 0 || quarter > 3 ||
        picture.pixels.size() != std::size_t(picture.width) * std::size_t(picture.height) * 3)
        return {};
    const std::size_t stride = std::size_t(picture.width) * 3;
    if (quarter < 0) return {picture.pixels.data(), stride, picture.width};
    const int half = picture.width / 2;
    return {picture.pixels.data() + std::size_t(quarter / 2) * half * stride + std::size_t(quarter % 2) * half * 3,
            stride, half};
}

bool shade_web_square(PixelSquare square, const ElevationModel& model, int z, std::uint32_t x, std::uint32_t y,
                      int strength) {
    if (!square.first || square.size <= 0 || strength <= 0) return false;
    std::vector<float> heights;
    if (!sample_web_tile(model, z, x, y, square.size, heights)) return false;
    // A Mercator pixel covers the same ground both ways: the equator's share, times cos(latitude).
    const double world = std::ldexp(double(square.size), z);
    std::vector<PixelMetres> metres(std::size_t(square.size));
    for (int r = 0; r < square.size; ++r) {
        const double m = kEquatorMetres / world * cos_degrees(mercator_latitude(double(y) * square.size + r + 0.5, world));
        metres[std::size_t(r)] = {m, m};
    }
    std::vector<std::uint8_t> shade;
    if (!hillshade(heights, square.size, square.size, metres, shade)) return false;
    std::vector<std::uint8_t> pixels = packed(square);
    blend_shade(pixels, 3, shade, strength);
    unpack(pixels, square);
    return true;
}

bool relief_degree_square(PixelSquare square, const ElevationModel& model, double south, double west, double north,
                          double east, int strength) {
    if (!square.first || square.size <= 0 || !(north > south) || !(east > west)) return false;
    const int n = square.size + 2;
    const double step_lat = (north - south) / square.size, step_lon = (east - west) / square.size;
    if (!model.covers(south - step_lat, west - step_lon, north + step_lat, east + step_lon)) return false;
    std::vector<float> heights(std::size_t(n) * n, std::numeric_limits<float>::quiet_NaN());
    std::vector<PixelMetres> metres(std::size_t(square.size));
    bool any = false;
    for (int r = 0; r < n; ++r) {
        const double lat = north - (r - 0.5) * step_lat;
        for (int c = 0; c < n; ++c) {
            if (const auto h = model.elevation(lat, west + (c - 0.5) * step_lon)) {
                heights[std::size_t(r) * n + c] = float(*h);
                any = true;
            }
        }
        if (r >= 1 && r <= square.size) {
            const double per_degree = kEquatorMetres / 360.0;
            metres[std::size_t(r - 1)] = {std::max(1.0, step_lon * per_degree * cos_degrees(lat)), step_lat * per_degree};
        }
    }
    if (!any) return false;
    std::vector<std::uint8_t> pixels = packed(square);
    if (!relief_picture(heights, square.size, square.size, metres, strength, pixels, 3)) return false;
    unpack(pixels, square);
    return true;
}

}  // namespace vg
