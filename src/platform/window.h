// Window services that the toolkit-independent application logic uses. The Qt layer implements
// them for the real window; tests use the recording fake in tests/support/fake_window.h.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/command.h"
#include "platform/line_settings.h"

namespace vg {

// What the COM settings dialog edits: the line settings, and port_locked: the port of an open link
// cannot be changed (the port list is disabled).
struct ComSettings {
    LineSettings line;
    bool port_locked = false;
    // The serial devices of this machine offered to name the port: (path, what the system says
    // about it). `device` is the one chosen, empty for none (the port keeps what vor_ini.txt names).
    std::vector<std::pair<std::string, std::string>> devices;
    std::string device;
};

// One refresh of a GPS monitor: the texts of its controls. A row left empty (nullopt) keeps the text
// it showed before.
struct MonitorTexts {
    std::string time;      // UTC date and time
    std::string position;  // position line or "No Fix"
    // How good the fix is ("RTK fixed, corrections 1.2 s old, station 2, ±0.02 m"); "" when the
    // receiver says nothing beyond a plain fix.
    std::string quality;
    // RTK corrections from an NTRIP caster: state, bytes/s, message types and the last frame's age;
    // "" when corrections are off.
    std::string corrections;
    // The fleet's MQTT broker: state, positions published and received, what was dropped, and the
    // devices of the fleet; "" when MQTT is off.
    std::string fleet;
    std::string message;   // last message
    std::string receiver;  // the receiver's state and its cause ("Receiver: refused - gpsd at ...")
    std::string header;    // satellite table header
    std::array<std::optional<std::string>, 12> rows;
    // Every satellite in view, of every system: system, PRN, elevation, azimuth, SNR ("" when not
    // heard), used ("Yes"/"No").
    std::vector<std::array<std::string, 6>> sky;
};

// The results of Detect as its small non-modal list shows them: one line for each receiver that
// answered, and whether the search still runs.
struct DetectTexts {
    std::vector<std::string> found;
    bool searching = false;
};

// What the Preferences dialog shows and the hooks it calls (all on the window thread). `values` are
// the settings by key as settings/preferences.h names them, `source_lines` the user lines of
// vor_src.txt. The checks answer "" for an acceptable value or line, else the reason; `apply` makes
// the values take effect and answers "" or what failed; `clean_cache` starts the tile cache's
// clean-up down to `megabytes` (the size field's text) and answers "" when it started, else why not;
// it never waits for the clean-up, whose result text goes to `done` once, on the clean-up's own thread.
struct PreferencesDialogData {
    std::map<std::string, std::string, std::less<>> values;
    std::vector<std::string> source_lines;
    std::vector<std::pair<std::string, std::string>> receivers;  // (text shown, `unit` value)
    std::vector<std::pair<std::string, std::string>> devices;    // serial devices, as ComSettings::devices
    std::function<std::string(std::string_view name, std::string_view value)> check_value;
    std::function<std::string(std::string_view line)> check_source_line;
    std::function<std::string(const PreferencesDialogData&)> apply;
    using CleanDone = std::function<void(const std::string& result)>;
    std::function<std::string(std::string_view megabytes, CleanDone done)> clean_cache;
};

// Gps → Download Region: what the dialog edits (an area of a PMTiles archive, by address, file or
// catalogue source name; degrees, west > east crossing the date line; web zooms; the output file).
struct RegionChoice {
    std::string source;
    double west = 0, south = 0, east = 0, north = 0;
    int min_zoom = 0, max_zoom = 0;
    std::string out;
};

// A region download as its dialog shows it: the size once planned ("N tiles, X MB to fetch"), the
// progress line, percent done (-1 before planning), whether it runs, and how the last run ended.
struct RegionTexts {
    std::string size;
    std::string progress;
    int percent = -1;
    bool running = false;
    std::string outcome;
};

// The dialog's preset and hooks (all called on the window thread, none waits for the network):
// `start` answers "" when the download began, else why not; `cancel` stops it (kept for a resume);
// `poll` reads its state.
struct RegionDialogData {
    RegionChoice preset;
    std::function<std::string(const RegionChoice&)> start;
    std::function<void()> cancel;
    std::function<RegionTexts()> poll;
};

// Gps → AIS Targets: one row per target as the non-modal list shows it (texts in the columns' order:
// name, MMSI, distance, bearing, SOG, COG, CPA, TCPA) and the numbers the columns sort by (NaN where
// unknown; the name and MMSI columns sort by their text).
struct AisTargetRow {
    std::array<std::string, 8> texts;
    std::array<double, 8> keys{};
    bool stale = false;
    bool dangerous = false;
};

// Gps → Trip: the live trip as its non-modal dialog shows it, in the units of the `speed` setting:
// one (name, value) row per figure of the whole trip, the lap running, and one line per lap taken.
struct TripTexts {
    std::vector<std::pair<std::string, std::string>> rows;
    std::string lap;
    std::vector<std::string> laps;
};

// The dialog's hooks (window thread, none waits): `poll` reads the figures, `reset` starts the trip
// and its laps again, `lap` keeps the lap running and starts the next.
struct TripDialogData {
    std::function<TripTexts()> poll;
    std::function<void()> reset;
    std::function<void()> lap;
};

// Gps → Fleet: one row a device of the fleet, its texts made by App.
struct FleetRow {
    std::string id, name, age, speed, distance, bearing;
    bool stale = false;
};
// The Fleet dialog's hooks (window thread, none waits): `rows` reads the list, `centre` centres the
// map once on a device, `follow` follows one (empty: the own position again), `history` gives the
// first and last stored time (milliseconds) for the replay slider, `replay` shows the fleet at a
// moment of it (none: live).
struct FleetDialogData {
    std::function<std::vector<FleetRow>()> rows;
    std::function<void(const std::string& id)> centre;
    std::function<void(const std::string& id)> follow;
    std::function<std::optional<std::pair<std::int64_t, std::int64_t>>()> history;
    std::function<void(std::optional<std::int64_t> at_ms)> replay;
};

// Gps → NTRIP Casters: a caster's mountpoints as the dialog lists them, nearest first (texts made by
// App: distance in km from the position, "" when the caster gives no place).
struct NtripCasterRow {
    std::string mountpoint, identifier, format, network, country, distance;
    bool wants_position = false;  // the caster asks for the client's position (a network, VRS)
};
struct NtripCasterTexts {
    bool busy = false;     // a request for the table is running
    std::string message;   // what happened last ("12 mountpoints, nearest first from the position")
    std::vector<NtripCasterRow> rows;
};
// The dialog's preset and hooks (window thread, none waits for the network): `fetch` asks `caster`
// (http://[user@]host[:port]) for its table with `password` (empty: the stored one) and answers ""
// when the request began, else why not; `poll` reads the state; `choose` makes `mountpoint` of that
// caster the `ntrip=` setting (a password given, the password file) and starts the corrections when
// the receiver is open; it answers what it did, for the dialog's status line.
struct NtripDialogData {
    std::string caster;  // the caster of the `ntrip=` setting, without its mountpoint
    std::function<std::string(const std::string& caster, const std::string& password)> fetch;
    std::function<NtripCasterTexts()> poll;
    std::function<std::string(const std::string& caster, const std::string& mountpoint, const std::string& password)>
        choose;
};

// Gps → Find: the search field's list, one row a result (name, kind, distance from the view as it
// was when asked), best first, and a line under the text ("Indexing town.mbtiles 40 %", "Nothing
// found", "Asking geo.example..."). `chosen` names the place chosen, which the field's Route button
// routes to ("" none: no button).
struct SearchRow {
    std::string name, kind, distance;
};
struct SearchTexts {
    std::vector<SearchRow> rows;
    std::string status;
    std::string chosen;
};
// The field's hooks (window thread; none waits on the disk or the network): `edited` at each change
// of the text, `entered` for Enter in the text, `chosen` for a row of the list, `cleared` for Escape
// (the marker goes), `route` for the Route button (a route from the position to the place chosen).
// `online`: Enter asks the online service (the geocoder= line is set).
struct SearchFieldData {
    std::function<void(const std::string& text)> edited;
    std::function<void(const std::string& text)> entered;
    std::function<void(std::size_t row)> chosen;
    std::function<void()> cleared;
    std::function<void()> route;
    bool online = false;
};

struct Profile;  // track/profile.h: the window only passes it on to the dialog

// Gps → Profile: the track's profile (made by App from what it holds), the track's name for the
// title, the `speed` setting (the chart's units), and `highlight`, which the dialog calls on the
// window thread with the place under the pointer (latitude, longitude), or none when the pointer
// leaves the plot or the dialog closes; App marks that place on the map.
struct ProfileDialogData {
    std::shared_ptr<const Profile> profile;
    std::string track_name;
    std::string speed_setting;
    std::function<void(std::optional<std::pair<double, double>>)> highlight;
};

// Gps → Route: the route as its non-modal panel shows it: from and to, the profile ("car",
// "bicycle", "foot"), the length and time or the state ("Routing...", "No route: ..."), and one row
// a manoeuvre (street, direction, distance).
struct RouteTexts {
    std::string from, to, profile, summary;
    std::vector<std::array<std::string, 3>> turns;
    bool has_route = false;
};
// The panel's hooks (window thread, none waits): `poll` reads it, `profile` routes again with
// another profile, `export_gpx` and `open_gpx` ask for a file and write or read a GPX route,
// `clear` drops the route.
struct RouteDialogData {
    std::function<RouteTexts()> poll;
    std::function<void(const std::string& profile)> profile;
    std::function<void()> export_gpx;
    std::function<void()> open_gpx;
    std::function<void()> clear;
};

// Gps → Routing Data: the regions with routing data, a build or download running (its stage and
// percent, -1 before it is known), how the last one ended, and whether an extract service is set.
struct RoutingDataTexts {
    std::vector<std::string> regions;
    std::string progress;
    int percent = -1;
    bool running = false;
    std::string outcome;
    bool can_download = false;
};
// The dialog's hooks (window thread, none waits): `from_file` asks for an .osm.pbf file and builds
// its region, `download` fetches region `name` from the extract service and builds it; both answer
// "" when the work began, else why not. `cancel` stops it, `poll` reads its state.
struct RoutingDataDialogData {
    std::function<RoutingDataTexts()> poll;
    std::function<std::string()> from_file;
    std::function<std::string(const std::string& name)> download;
    std::function<void()> cancel;
};

class Window {
public:
    virtual ~Window() = default;

    virtual void set_title(const std::string& title) = 0;
    // Menu items by command; a command the menu does not have is ignored.
    virtual void enable_menu_item(Command id, bool enabled) = 0;
    virtual void check_menu_item(Command id, bool checked) = 0;
    // A warning message box with the window caption "VorGlobal" unless another caption is given.
    virtual void warning_box(const std::string& text, const std::string& caption = "VorGlobal") = 0;
    virtual void set_wait_cursor(bool on) = 0;
    // Asks for a paint; callable from any thread, never waits (the reader and server threads reach
    // it through platform/fix_notice.h).
    virtual void invalidate(bool erase) = 0;
    virtual void set_client_size(int width, int height) = 0;
    // A top-down 24-bit image, bytes blue, green, red, rows of `stride` bytes.
    virtual void copy_image_to_clipboard(const std::uint8_t* bgr, int width, int height, int stride) = 0;
    virtual void start_timer(int period_ms) = 0;
    // Asks for one paint after `ms` milliseconds (a single shot, apart from the window timer); a
    // later call replaces the one still waiting.
    virtual void repaint_after(int /*ms*/) {}

    // Closes the main window (as the close box does); the program ends after it.
    virtual void close_window() = 0;

    // Dialogs. The COM settings dialog is modal and returns true on OK with `settings` edited.
    virtual bool run_com_settings_dialog(ComSettings& settings) = 0;
    // Opens a new modeless GPS monitor that calls `poll` on the window thread for each refresh.
    virtual void open_gps_monitor(std::function<MonitorTexts()> poll) = 0;
    virtual void run_keys_dialog() = 0;
    // The modal Preferences dialog: Apply and OK call data.apply; true when closed with OK.
    virtual bool run_preferences_dialog(PreferencesDialogData& /*data*/) { return false; }
    // Opens the non-modal Download Region dialog (or raises the one open, with its own values).
    virtual void open_region_dialog(RegionDialogData /*data*/) {}
    // Opens the non-modal Trip dialog (or raises the one open).
    virtual void open_trip_dialog(TripDialogData /*data*/) {}
    // Opens the non-modal AIS target list that calls `poll` on the window thread for each refresh (or
    // raises the one open).
    virtual void open_ais_targets_dialog(std::function<std::vector<AisTargetRow>()> /*poll*/) {}
    // Opens the non-modal Fleet dialog (or raises the one open).
    virtual void open_fleet_dialog(FleetDialogData /*data*/) {}
    // Opens the non-modal NTRIP Casters dialog (or raises the one open).
    virtual void open_ntrip_dialog(NtripDialogData /*data*/) {}
    // Opens the non-modal Profile dialog with this track (or shows it in the one open).
    virtual void open_profile_dialog(ProfileDialogData /*data*/) {}
    // Opens the search field over the map with the keyboard in it (or focuses the one open), and
    // replaces its list and status line.
    virtual void open_search_field(SearchFieldData /*data*/) {}
    virtual void show_search_results(const SearchTexts& /*texts*/) {}
    // Opens the non-modal Route panel or the Routing Data dialog (or raises the one open).
    virtual void open_route_dialog(RouteDialogData /*data*/) {}
    virtual void open_routing_data_dialog(RoutingDataDialogData /*data*/) {}
    // A small menu of `items` at the pointer (modal); the index chosen, or none when dismissed.
    virtual std::optional<std::size_t> choose_from_menu(const std::vector<std::string>& /*items*/) {
        return std::nullopt;
    }
    virtual void run_about_dialog(const std::string& version_line, const std::string& system_line) = 0;

    // File dialogs (modal): the path the user chose, or empty when cancelled. `filter` in Qt's form,
    // such as "Map packs (*.mbtiles)"; `suggested` the file name offered for saving.
    virtual std::string choose_file_to_open(const std::string& /*title*/, const std::string& /*filter*/) { return {}; }
    virtual std::string choose_file_to_save(const std::string& /*title*/, const std::string& /*filter*/,
                                            const std::string& /*suggested*/) {
        return {};
    }
    // A source added to the Maps menu while the program runs (a map pack opened from the Gps menu).
    virtual void add_map_source_item(const std::string& /*name*/, Command /*id*/) {}
    // The status bar: shown or hidden, or nullopt for the window's own rule (shown except at the
    // classic client sizes); whether it is shown now.
    virtual void set_status_bar(std::optional<bool> /*on*/) {}
    virtual bool status_bar_shown() const { return false; }
    // Detect's list (non-modal): opened on the first call, its lines replaced by each later one.
    virtual void show_detect_results(const DetectTexts& /*texts*/) {}
    // The Maps menu's sources after the five originals replaced by `sources` (name, id), in order:
    // the catalogue read again.
    virtual void set_map_source_items(const std::vector<std::pair<std::string, Command>>& /*sources*/) {}
};

}  // namespace vg
