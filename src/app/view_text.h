// The texts the main window writes: the title line, the start-position file, the speed text, the
// scale bar's length and the About lines. Pure functions over plain values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vg {

// Whole degrees, minutes and seconds of a non-negative angle, each rounded down after a small nudge
// so that values a hair below a whole unit (from binary fractions) count as the whole unit.
struct AngleParts {
    int degrees = 0;
    int minutes = 0;
    int seconds = 0;
};
AngleParts angle_parts(double x);

// The degree sign as the title carries it (UTF-8).
inline constexpr const char* kDegreeSign = "\xC2\xB0";

// "Vor <source>" alone, or with a position: Vor %s - %c %d°%02d'%02d" / %c %d°%02d'%02d".
std::string title_position_text(std::string_view source_name, bool with_position, double latitude, double longitude);

// The time part of the title: empty when the receiver gave no time (empty, or a "199x" date),
// else " - " + the local date and time with Big Maps, or only the time of day without; a TripMate
// shows no seconds; then " " + the zone label.
std::string title_time_text(std::string_view utc_text, std::string_view local_text, bool big_maps, bool tripmate,
                            std::string_view zone_label);

// How old the shown fix is, as the title appends it: " (8 s old)" under a minute, " (4 min old)" under
// an hour, else " (2 h old)" (whole units, rounded down; a negative age counts as 0).
std::string fix_age_text(std::int64_t age_seconds);
// Seconds until fix_age_text of an age that grows from `age_seconds` next reads differently.
int fix_age_text_lasts(std::int64_t age_seconds);

// The message line and status bar of a start where no receiver was ever chosen (UTF-8 dash).
inline constexpr const char* kNoReceiverChosenText = "No receiver chosen \xE2\x80\x94 Preferences or Detect";

// Status bar fields: "No fix", "2D fix, 5 satellites", "3D fix, 1 satellite" (a dimension below 2
// is no fix); "Tiles: all here", "Tiles: 3 left", "Tiles: 3 left, 2 failed (timeout)"; "No fix yet"
// or "Fix 8 s old" (fix_age_text's units).
std::string fix_status_text(int dimension, int satellites);
std::string tiles_status_text(int left, int failed, std::string_view reason);
std::string fix_age_status_text(bool seen, std::int64_t age_seconds);

// The two lines of vor_pos.txt for a position: "%c %3d %02d %02d\n" for the latitude and the
// longitude.
std::string start_position_text(double latitude, double longitude);

// The shown speed value: the receiver's knots as whole kilometres per hour (rounded down; 0 for
// values that are not finite or out of range).
int speed_kmh(double speed_knots);
// The unit of the speed text, the `speed` setting of vor_ini.txt: "mph", "kn", else km/h.
enum class SpeedUnit { kmh, mph, knots };
SpeedUnit speed_unit_from(std::string_view value);
// "km/h", "mph" or "kn".
const char* speed_unit_text(SpeedUnit unit);
// The shown speed value in `unit`, rounded down as speed_kmh.
int speed_in(double speed_knots, SpeedUnit unit);
// "%d <unit> %s" with the speed value and the compass point of the course.
std::string speed_text(int value, double course, SpeedUnit unit = SpeedUnit::kmh);
// The speed of a fix that is no longer current (UTF-8; six characters as drawn in km/h).
inline constexpr const char* kStaleSpeedText = "\xE2\x80\x94 km/h";
inline constexpr int kStaleSpeedCharacters = 6;
// The same in `unit`, and its characters as drawn.
std::string stale_speed_text(SpeedUnit unit);
int stale_speed_characters(SpeedUnit unit);
// The height of the ground: "Ground 123 m", or in feet ("Ground 404 ft") when speeds are in mph;
// rounded to whole units.
std::string ground_text(double metres, SpeedUnit unit);

// The scale bar: the longest round length (1, 2 or 5 times a power of ten; metres, or kilometres
// from 1 km) that takes at most `most_pixels` pixels at `metres_per_pixel`, its pixels (rounded)
// and its label ("200 m", "5 km"). Nothing when not even 1 m fits, or the scale is not a positive
// finite number.
struct ScaleBarLength {
    int pixels = 0;
    std::string label;
};
std::optional<ScaleBarLength> scale_bar_length(double metres_per_pixel, int most_pixels);

// "VorGlobal ver 1.4 - build YYYYMMMDD" from a compiler date text ("Dec  7 2026").
std::string about_version_line(std::string_view compiler_date);
// "Linux ver. %d.%d" from a kernel release text ("6.1.0-13-amd64").
std::string about_system_line(std::string_view release, std::string_view system = "Linux");

}  // namespace vg
