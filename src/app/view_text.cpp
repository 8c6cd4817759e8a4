#include "app/view_text.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <cstdlib>

#include "settings/text_scan.h"
#include "tiles/geometry.h"

namespace vg {

namespace {

double fraction(double v) { return v - std::trunc(v); }

// A whole number of a value that may lie outside int range or be NaN.
int whole(double v) {
    if (!std::isfinite(v)) return 0;
    if (v > 2147483647.0) return 2147483647;
    if (v < -2147483648.0) return -2147483647 - 1;
    return static_cast<int>(v);
}

void append_angle(std::string& out, char letter, double value) {
    const AngleParts p = angle_parts(std::fabs(value));
    char text[64];
    std::snprintf(text, sizeof text, "%c %d%s%02d'%02d\"", letter, p.degrees, kDegreeSign, p.minutes, p.seconds);
    out += text;
}

}  // namespace

AngleParts angle_parts(double x) {
    AngleParts p;
    p.degrees = whole(std::floor(x + 0.00001));
    p.minutes = whole(std::floor(fraction(x + 0.0000001) * 60));
    p.seconds = whole(std::floor(fraction(x * 60 + 0.0000001) * 60));
    return p;
}

std::string title_position_text(std::string_view source_name, bool with_position, double latitude, double longitude) {
    std::string out = "Vor ";
    out += source_name;
    if (!with_position) return out;
    out += " - ";
    append_angle(out, latitude > 0 ? 'N' : 'S', latitude);
    out += " / ";
    append_angle(out, longitude > 0 ? 'E' : 'W', longitude);
    return out;
}

std::string title_time_text(std::string_view utc_text, std::string_view local_text, bool big_maps, bool tripmate,
                            std::string_view zone_label) {
    if (utc_text.empty() || utc_text.substr(0, 3) == "199") return {};
    std::string_view shown = local_text;
    if (!big_maps) {
        const std::size_t space = shown.find(' ');
        shown = space == std::string_view::npos ? std::string_view{} : shown.substr(space + 1);
    }
    if (tripmate) shown = shown.substr(0, shown.size() >= 3 ? shown.size() - 3 : 0);
    std::string out = " - ";
    out += shown;
    out += ' ';
    out += zone_label;
    return out;
}

std::string fix_age_text(std::int64_t age_seconds) {
    const long long age = age_seconds < 0 ? 0 : age_seconds;
    char text[48];
    if (age < 60)
        std::snprintf(text, sizeof text, " (%lld s old)", age);
    else if (age < 3600)
        std::snprintf(text, sizeof text, " (%lld min old)", age / 60);
    else
        std::snprintf(text, sizeof text, " (%lld h old)", age / 3600);
    return text;
}

int fix_age_text_lasts(std::int64_t age_seconds) {
    const long long age = age_seconds < 0 ? 0 : age_seconds;
    if (age < 60) return 1;
    if (age < 3600) return static_cast<int>(60 - age % 60);
    return static_cast<int>(3600 - age % 3600);
}

std::string start_position_text(double latitude, double longitude) {
    const AngleParts a = angle_parts(std::fabs(latitude));
    const AngleParts b = angle_parts(std::fabs(longitude));
    char text[128];
    std::snprintf(text, sizeof text, "%c %3d %02d %02d\n%c %3d %02d %02d\n", latitude > 0 ? 'N' : 'S', a.degrees,
                  a.minutes, a.seconds, longitude > 0 ? 'E' : 'W', b.degrees, b.minutes, b.seconds);
    return text;
}

int speed_kmh(double speed_knots) { return whole(std::floor(speed_knots * 1.852)); }

SpeedUnit speed_unit_from(std::string_view value) {
    value = trim_blanks(value);
    if (value == "mph") return SpeedUnit::mph;
    if (value == "kn") return SpeedUnit::knots;
    return SpeedUnit::kmh;
}

const char* speed_unit_text(SpeedUnit unit) {
    switch (unit) {
    case SpeedUnit::mph: return "mph";
    case SpeedUnit::knots: return "kn";
    case SpeedUnit::kmh: break;
    }
    return "km/h";
}

int speed_in(double speed_knots, SpeedUnit unit) {
    switch (unit) {
    case SpeedUnit::mph: return whole(std::floor(speed_knots * 1.852 / 1.609344));
    case SpeedUnit::knots: return whole(std::floor(speed_knots));
    case SpeedUnit::kmh: break;
    }
    return speed_kmh(speed_knots);
}

std::string speed_text(int value, double course, SpeedUnit unit) {
    char text[64];
    std::snprintf(text, sizeof text, "%d %s %s", value, speed_unit_text(unit), compass_point(course));
    return text;
}

std::string stale_speed_text(SpeedUnit unit) { return std::string("\xE2\x80\x94 ") + speed_unit_text(unit); }

int stale_speed_characters(SpeedUnit unit) { return 2 + static_cast<int>(std::strlen(speed_unit_text(unit))); }

std::string ground_text(double metres, SpeedUnit unit) {
    const bool feet = unit == SpeedUnit::mph;
    const double value = std::clamp(feet ? metres / 0.3048 : metres, -1e6, 1e6);  // NaN stays NaN
    char text[48];
    std::snprintf(text, sizeof text, "Ground %ld %s", std::isfinite(value) ? std::lround(value) : 0L, feet ? "ft" : "m");
    return text;
}

std::optional<ScaleBarLength> scale_bar_length(double metres_per_pixel, int most_pixels) {
    if (!(metres_per_pixel > 0) || !std::isfinite(metres_per_pixel) || most_pixels <= 0) return std::nullopt;
    const double most = metres_per_pixel * most_pixels;
    if (most < 1 || most > 1e9) return std::nullopt;  // not even 1 m, or more than the earth
    double power = std::pow(10.0, std::floor(std::log10(most)));
    if (power * 10 <= most) power *= 10;  // log10 a hair short of a whole power
    double length = power;
    for (const double step : {5.0, 2.0})
        if (step * power <= most) {
            length = step * power;
            break;
        }
    const long long whole = std::llround(length);
    ScaleBarLength bar;
    bar.pixels = std::max(1, static_cast<int>(std::lround(length / metres_per_pixel)));
    bar.label = whole >= 1000 ? std::to_string(whole / 1000) + " km" : std::to_string(whole) + " m";
    return bar;
}

std::string about_version_line(std::string_view compiler_date) {
    // __DATE__ is "Mmm dd yyyy" with a space before a one-digit day.
    std::string month = "???";
    int day = 0;
    int year = 0;
    if (compiler_date.size() >= 11) {
        month.assign(compiler_date.substr(0, 3));
        for (char& c : month)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        day = std::atoi(std::string(compiler_date.substr(4, 2)).c_str());
        year = std::atoi(std::string(compiler_date.substr(7, 4)).c_str());
    }
    char date[32];
    std::snprintf(date, sizeof date, "%04d%s%02d", year, month.c_str(), day);
    char text[96];
    std::snprintf(text, sizeof text, "VorGlobal ver %d.%d - build %s", 1, 4, date);
    return text;
}

std::string about_system_line(std::string_view release, std::string_view system) {
    int major = 0;
    int minor = 0;
    std::sscanf(std::string(release).c_str(), "%d.%d", &major, &minor);
    char text[64];
    std::snprintf(text, sizeof text, "%.20s ver. %d.%d", std::string(system).c_str(), major, minor);
    return text;
}

std::string fix_status_text(int dimension, int satellites) {
    if (dimension < 2) return "No fix";
    std::string text = (dimension == 2 ? "2D fix, " : "3D fix, ") + std::to_string(std::max(0, satellites));
    return text + (satellites == 1 ? " satellite" : " satellites");
}

std::string tiles_status_text(int left, int failed, std::string_view reason) {
    if (left <= 0 && failed <= 0) return "Tiles: all here";
    std::string text = "Tiles: " + std::to_string(std::max(0, left)) + " left";
    if (failed > 0) {
        text += ", " + std::to_string(failed) + " failed";
        if (!reason.empty()) text += " (" + std::string(reason) + ")";
    }
    return text;
}

std::string fix_age_status_text(bool seen, std::int64_t age_seconds) {
    if (!seen) return "No fix yet";
    const std::string age = fix_age_text(age_seconds);  // " (8 s old)"
    return "Fix " + age.substr(2, age.size() - 3);
}

}  // namespace vg
