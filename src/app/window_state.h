// The per-window Window state and the program-wide View state, and how they are filled from the
// settings files when the main window is created.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/view_text.h"
#include "gps/ais_targets.h"
#include "gps/device_type.h"
#include "gps/fix_record.h"
#include "gps/serial_link.h"
#include "settings/recording_settings.h"
#include "settings/settings_file.h"
#include "tiles/image_decode.h"
#include "tiles/map_source.h"

namespace vg {

class Window;

// Room of the text fields, in characters.
inline constexpr std::size_t kMapsDirMax = 255;
inline constexpr std::size_t kTrackFileMax = 63;
inline constexpr std::size_t kBaseHostMax = 63;
inline constexpr std::size_t kZoneLabelMax = 7;

// Sets `field` to `text`, cut to `max` characters.
inline void set_bounded(std::string& field, std::string_view text, std::size_t max) {
    field.assign(text.substr(0, max));
}

// The `stale` setting: its default and the range a value must lie in (whole seconds).
inline constexpr int kDefaultStaleSeconds = 3;
inline constexpr int kMostStaleSeconds = 3600;

// Baud rates the `port` setting may choose.
inline constexpr unsigned kPortBaudRates[] = {1200, 2400, 4800, 9600, 14400, 19200, 38400, 57600, 115200};

// One per main window; made by create_window_state, owned by the window.
struct WindowState {
    // The serial port, the reader thread and the read/write wait records belong to SerialLink.
    // Downloads allowed: true until the user chooses Offline. Whether the current source answers is
    // its own health's business (App::source_off_line).
    std::atomic<bool> online{true};
    std::atomic<int> silence_ticks{0};
    MapSource map_source = MapSource::VirtualEarth;
    DeviceType device_type = DeviceType::EarthMate;
    bool auto_pan = true;
    bool auto_zoom = false;
    bool track = false;
    bool plot = false;
    bool big_maps = false;
    bool map_coordinates = false;
    // The status bar (`statusbar` of vor_set.txt): yes or no; nothing: the window's own rule.
    std::optional<bool> status_bar;
    bool night = false;  // the map and toolbar drawn dimmed for a dark cab (`night` of vor_set.txt)
    // Hillshade over the map where elevation data covers it (`hillshade` of vor_set.txt) and its
    // strength in percent (`shading`, 0..100).
    bool hillshade = false;
    int shading = 60;
    int hair = 0;
    char dash = 0;  // 0 off, or the letter 'k', 'm' or 's' read from the setting
    SpeedUnit speed_unit = SpeedUnit::kmh;  // `speed` of vor_ini.txt
    // Seconds without a new fix after which the title, speed and marker show the data as old.
    int stale_seconds = kDefaultStaleSeconds;
    std::string maps_dir = ".\\Maps";  // at most kMapsDirMax characters
    std::string track_file;            // at most kTrackFileMax characters; empty: no log
    RecordingSettings recording;       // record, recdir, recsplit of vor_ini.txt
    // AIS targets: stale and removed after (aisstale, aisremove: minutes), dangerous within (aiscpa: nm,
    // aistcpa: minutes) of vor_ini.txt.
    ais::TargetRules ais_rules;
    bool aerial = false;
    std::atomic<bool> link_active{false};
    // The `port` setting: COM port (0 means none, at most 255), rate, parity, data and stop bits.
    LineSettings line;
    bool base_enabled = false;
    std::string base_host;  // at most kBaseHostMax characters
    int base_port = 0;
};

// Builds the Window state of a new main window from the settings files in `dir` (empty: the working
// directory). Absent keys and files that cannot be opened leave the creation values. With a window,
// a settings file that cannot be opened is reported with a message box, and the menu states are set
// from the record. Returns nullptr when the record cannot be made.
std::unique_ptr<WindowState> create_window_state(const std::filesystem::path& dir, Window* window);

// The steps of create_window_state, each over one setting value.
void apply_size_setting(WindowState& ws, std::string_view value);
void apply_dash_setting(WindowState& ws, std::string_view value);
// A whole number of seconds, 1 to kMostStaleSeconds, spaces around allowed; anything else keeps the
// value the state has.
void apply_stale_setting(WindowState& ws, std::string_view value);
void apply_base_setting(WindowState& ws, std::string_view value);
void apply_site_setting(WindowState& ws, std::string_view value);
void apply_unit_setting(WindowState& ws, std::string_view value);
void apply_port_setting(WindowState& ws, std::string_view value);
// The AIS lines of vor_ini.txt (aisstale, aisremove, aiscpa, aistcpa): a number above 0 (at most 1440
// minutes or 100 nm), spaces around allowed; anything else keeps the value the rules have.
void apply_ais_setting(ais::TargetRules& rules, std::string_view key, std::string_view value);
// The display settings of vor_ini.txt (hair, dash, stale, plot, speed, the AIS lines) read again from `ini_file`:
// at creation and when the Preferences dialog changed them. `setting` looks one key up.
void read_display_settings(WindowState& ws,
                           const std::function<std::optional<std::string>(std::string_view key)>& setting);
// Menu check and grey states of a new window from the record.
void set_initial_menu_states(const WindowState& ws, Window& window);

// A map point at a level: world pixel (x, y) of that level.
struct ViewTarget {
    int level = 0;
    int x = 0;
    int y = 0;
    bool operator==(const ViewTarget&) const = default;
};

// The program-wide view: what part of which map is shown.
struct ViewState {
    int level = 0;
    int centre_x = 0;
    int centre_y = 0;
    ViewTarget anchor;   // where zooming in from the level buttons aims (the last point chosen)
    ViewTarget pending;  // the view about to be loaded
    ViewTarget pointer;  // the map point the title shows; x kNoPointer: none
    int map_width = 512;
    int map_height = 384;
    int client_width = 0;
    int client_height = 0;
    DisplayBitmap display_bitmap;  // none until the first view is loaded
    // The cursor to put back after a wait is kept by the platform window.
    int marker_x = 0;
    int marker_y = 0;
    int last_fix_seen = 0;  // the fix dimension the bitmap was last rebuilt for
    bool applied_big_maps = false;  // the map size the client area was last set for
    bool start_saved = false;       // the first valid fix has been written as the start position
    std::int64_t zoom_clock = 0;
    std::int64_t upload_clock = 0;
    double uploaded_lat = 0;
    double uploaded_lon = 0;
    int zone_hours = 0;
    bool zone_local = false;  // the title shows the system's local time and its zone abbreviation
    std::string zone_label;  // at most kZoneLabelMax characters when read from the settings
    std::string title_text;

    // The current centre as a target.
    ViewTarget centre() const { return {level, centre_x, centre_y}; }
};

inline constexpr int kNoPointer = 2147483647;

struct ZoneSetting {
    bool local = false;       // "local": the system's local time, its rules and abbreviation
    bool hours_read = false;  // the value began with a number
    int hours = 0;
    std::string label;
};
// The `zone` value ("%d %s"): hours and an optional label word (cut to kZoneLabelMax characters);
// with hours other than 0 and no label, the label is "[GMT%+d]" of the hours. The word "local" (any
// case) asks for the system's local time instead.
ZoneSetting parse_zone_setting(std::string_view value);
// The `zone` key of `ini_file`; hours 0 and no label when it is absent or holds no number.
ZoneSetting read_zone_setting(const std::filesystem::path& ini_file);

// Start level: 0 for Etopo2, else the `zoom` key of `ini_file` clamped to 0..4, else 2.
int read_start_level(MapSource map_source, const std::filesystem::path& ini_file);

// Map area in pixels: 1024 × 768 with Big Maps, else 512 × 384.
void set_map_size(ViewState& view, bool big_maps);

// The `zone` line of `ini_file` into the view (hours, label, local) and into `fix` (its local offset
// when the zone names hours).
void set_view_zone(ViewState& view, SharedFix* fix, const std::filesystem::path& ini_file);

// The settings part of the View state at window creation: map size, zone (also given to `fix` as its
// local offset when the zone names hours), level, and the start position (kept as the last uploaded
// position). Returns the start position, or nothing when vor_pos.txt cannot be opened; turning it
// into the view centre is left to the caller.
std::optional<StartPosition> init_view_state(ViewState& view, const WindowState& ws, const std::filesystem::path& dir,
                                             SharedFix* fix = nullptr);

}  // namespace vg
