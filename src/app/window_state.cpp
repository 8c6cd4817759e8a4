#include "app/window_state.h"
#include "app/toolbar_layout.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <new>

#include "gps/device_type.h"
#include "platform/c_number.h"
#include "platform/window.h"
#include "settings/text_scan.h"
#include "tiles/map_source.h"

namespace vg {

namespace {

char first_lower(std::string_view value) {
    if (value.empty()) return '\0';
    const char c = value[0];
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

void apply_size_setting(WindowState& ws, std::string_view value) { ws.big_maps = first_lower(value) != 's'; }

void apply_dash_setting(WindowState& ws, std::string_view value) {
    const char c = first_lower(value);
    if (c == '1' || c == 'y' || c == 'k')
        ws.dash = 'k';
    else if (c == 'm' || c == 's')
        ws.dash = c;
    else
        ws.dash = 0;
}

void apply_stale_setting(WindowState& ws, std::string_view value) {
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
    if (value.empty() || value.size() > 4) return;
    int seconds = 0;
    for (const char c : value) {
        if (c < '0' || c > '9') return;
        seconds = seconds * 10 + (c - '0');
    }
    if (seconds >= 1 && seconds <= kMostStaleSeconds) ws.stale_seconds = seconds;
}

void apply_base_setting(WindowState& ws, std::string_view value) {
    if (value.size() <= 8) return;
    ws.base_enabled = true;
    std::string_view text = value;
    if (text.substr(0, 7) == "http://") text.remove_prefix(7);
    // The port is taken from the whole text before the host is cut to its room, so a long host
    // name cannot hide the port.
    const auto colon = text.find(':');
    if (colon != std::string_view::npos) {
        if (const auto port = scan_int(text.substr(colon + 1))) ws.base_port = *port;
        text = text.substr(0, colon);
    }
    set_bounded(ws.base_host, text, kBaseHostMax);
}

void apply_site_setting(WindowState& ws, std::string_view value) {
    if (value.empty()) return;
    if (const auto source = source_from_letter(value[0])) ws.map_source = *source;
}

void apply_unit_setting(WindowState& ws, std::string_view value) {
    if (const auto type = device_from_unit(value)) {
        ws.device_type = *type;
        ws.line.baud_rate = device_info(*type).baud;
    }
}

void apply_port_setting(WindowState& ws, std::string_view value) {
    // "COM%d,%d,%c,%d,%d": each field counts only when the scan got that far. Numbers that do not
    // fit an 8-bit field leave it unchanged rather than wrapping round to another port.
    TextScanner scan(value);
    if (!scan.literal("COM")) return;
    const auto port = scan.integer();
    if (!port) return;
    if (*port >= 0 && *port <= 255) ws.line.port_number = *port;
    if (!scan.literal(",")) return;
    const auto baud = scan.integer();
    if (!baud) return;
    if (std::find(std::begin(kPortBaudRates), std::end(kPortBaudRates), static_cast<unsigned>(*baud)) !=
            std::end(kPortBaudRates) &&
        *baud > 0)
        ws.line.baud_rate = static_cast<unsigned>(*baud);
    if (!scan.literal(",")) return;
    const auto parity = scan.character();
    if (!parity) return;
    if (*parity == 'n') ws.line.parity = 0;
    if (*parity == 'e') ws.line.parity = 2;
    if (*parity == 'o') ws.line.parity = 1;
    if (!scan.literal(",")) return;
    const auto bits = scan.integer();
    if (!bits) return;
    if (*bits >= 0 && *bits <= 255) ws.line.byte_size = *bits;
    if (!scan.literal(",")) return;
    const auto stop = scan.integer();
    if (!stop) return;
    if (*stop == 1) ws.line.stop_bits = 0;
    if (*stop == 2) ws.line.stop_bits = 2;
}

void read_display_settings(WindowState& ws,
                           const std::function<std::optional<std::string>(std::string_view key)>& setting) {
    if (auto v = setting("hair")) {
        if (const auto hair = scan_int(*v)) ws.hair = *hair;
    }
    if (auto v = setting("dash")) apply_dash_setting(ws, *v);
    if (auto v = setting("stale")) apply_stale_setting(ws, *v);
    if (auto v = setting("plot")) ws.plot = first_lower(*v) == 'y';
    ws.speed_unit = speed_unit_from(setting("speed=").value_or(""));
    for (const std::string_view key : {"aisstale=", "aisremove=", "aiscpa=", "aistcpa="})
        if (auto v = setting(key)) apply_ais_setting(ws.ais_rules, key, *v);
}

void apply_ais_setting(ais::TargetRules& rules, std::string_view key, std::string_view value) {
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r')) value.remove_suffix(1);
    const auto n = whole_c_number(value);
    if (!n || !(*n > 0)) return;
    if (key.starts_with("aiscpa")) {
        if (*n <= 100) rules.cpa_limit_nm = *n;
        return;
    }
    if (*n > 1440) return;
    if (key.starts_with("aisstale")) rules.stale_after_s = *n * 60;
    else if (key.starts_with("aisremove")) rules.remove_after_s = *n * 60;
    else if (key.starts_with("aistcpa")) rules.tcpa_limit_min = *n;
}

void set_initial_menu_states(const WindowState& ws, Window& window) {
    // Online stays available: on line it asks the current source again at once.
    window.enable_menu_item(Command::Online, true);
    window.enable_menu_item(Command::Offline, ws.online.load());
    window.enable_menu_item(Command::Connect, true);
    window.enable_menu_item(Command::Disconnect, false);
    window.check_menu_item(Command::AutoPan, ws.auto_pan);
    window.check_menu_item(Command::AutoZoom, ws.auto_zoom);
    window.check_menu_item(Command::Track, ws.track);
    window.check_menu_item(Command::BigMaps, ws.big_maps);
    window.check_menu_item(Command::MapCoordinates, ws.map_coordinates);
    window.check_menu_item(Command::Night, ws.night);
    window.check_menu_item(Command::Hillshade, ws.hillshade);
    window.set_status_bar(ws.status_bar);
    if (ws.status_bar) window.check_menu_item(Command::StatusBar, *ws.status_bar);
    for (const auto& info : kMapSources) window.check_menu_item(info.command, false);
    window.check_menu_item(source_info(ws.map_source).command, true);
    for (const auto& info : kDeviceTypes) window.check_menu_item(info.command, info.type == ws.device_type);
}

std::unique_ptr<WindowState> create_window_state(const std::filesystem::path& dir, Window* window) {
    std::unique_ptr<WindowState> ws(new (std::nothrow) WindowState());
    if (!ws) return nullptr;
    const std::filesystem::path set_file = dir / kSetFile;
    const std::filesystem::path ini_file = dir / kIniFile;
    // Each lookup of a file that cannot be opened is told in a box, as it always was.
    const auto setting = [window](const std::filesystem::path& file, std::string_view key) -> std::optional<std::string> {
        SettingLookup found = look_up_setting(file, key);
        if (found.status == SettingLookup::Status::NoFile && window) window->warning_box(config_file_missing_text(file));
        if (found.status != SettingLookup::Status::Found) return std::nullopt;
        return std::move(found.value);
    };

    if (auto v = setting(set_file, "size")) apply_size_setting(*ws, *v);
    // The speed unit is newer than the boxes for a missing file: its lookup adds none.
    read_display_settings(*ws, [&](std::string_view key) {
        return key == "speed=" || key.starts_with("ais") ? setting_value(ini_file, key) : setting(ini_file, key);
    });
    if (auto v = setting(ini_file, "maps")) set_bounded(ws->maps_dir, *v, kMapsDirMax);
    if (auto v = setting(ini_file, "file")) set_bounded(ws->track_file, *v, kTrackFileMax);
    ws->recording = read_recording_settings(ini_file);
    if (auto v = setting(ini_file, "base")) apply_base_setting(*ws, *v);
    if (auto v = setting(set_file, "site")) apply_site_setting(*ws, *v);
    if (auto v = setting(set_file, "unit")) apply_unit_setting(*ws, *v);
    if (auto v = setting(set_file, "port")) apply_port_setting(*ws, *v);
    if (auto v = setting(set_file, "night")) ws->night = first_lower(*v) == 'y';
    if (auto v = setting(set_file, "hillshade")) ws->hillshade = first_lower(*v) == 'y';
    if (auto v = setting(set_file, "shading")) {
        TextScanner scan(*v);  // a whole percentage; anything else keeps the default
        const auto n = scan.integer();
        scan.skip_space();
        if (n && scan.at_end() && *n >= 0 && *n <= 100) ws->shading = *n;
    }
    if (auto v = setting(set_file, "statusbar")) ws->status_bar = first_lower(*v) == 'y';

    if (window) set_initial_menu_states(*ws, *window);
    return ws;
}

ZoneSetting parse_zone_setting(std::string_view value) {
    ZoneSetting zone;
    TextScanner scan(value);
    {
        TextScanner words(value);
        const auto word = words.word();
        if (word && word->size() == 5) {
            std::string lower(*word);
            for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (lower == "local") {
                zone.local = true;
                return zone;
            }
        }
    }
    const auto hours = scan.integer();
    if (!hours) return zone;
    zone.hours_read = true;
    zone.hours = *hours;
    if (const auto word = scan.word()) set_bounded(zone.label, *word, kZoneLabelMax);
    if (zone.hours != 0 && zone.label.empty()) {
        // Formatted whole: "[GMT+10]" needs eight characters and is still a correct label.
        char text[24];
        std::snprintf(text, sizeof text, "[GMT%+d]", zone.hours);
        zone.label = text;
    }
    return zone;
}

ZoneSetting read_zone_setting(const std::filesystem::path& ini_file) {
    if (const auto value = setting_value(ini_file, "zone")) return parse_zone_setting(*value);
    return {};
}

int read_start_level(MapSource map_source, const std::filesystem::path& ini_file) {
    if (map_source == MapSource::Etopo2) return 0;  // Etopo2 has only level 0
    int level = 2;
    if (const auto value = setting_value(ini_file, "zoom")) {
        if (const auto zoom = scan_int(*value)) level = std::clamp(*zoom, 0, 4);
    }
    return level;
}

void set_map_size(ViewState& view, bool big_maps) {
    view.map_width = big_maps ? toolbar::kBigMapWidth : toolbar::kSmallMapWidth;
    view.map_height = big_maps ? toolbar::kBigMapHeight : toolbar::kSmallMapHeight;
}

void set_view_zone(ViewState& view, SharedFix* fix, const std::filesystem::path& ini_file) {
    const ZoneSetting zone = read_zone_setting(ini_file);
    view.zone_hours = zone.hours;
    view.zone_label = zone.label;
    view.zone_local = zone.local;
    if (fix)
        fix->update([&](FixRecord& record) {
            if (zone.hours_read) record.local_offset_hours = zone.hours;
            record.local_zone_system = zone.local;
        });
}

std::optional<StartPosition> init_view_state(ViewState& view, const WindowState& ws, const std::filesystem::path& dir,
                                             SharedFix* fix) {
    const std::filesystem::path ini_file = dir / kIniFile;
    set_map_size(view, ws.big_maps);
    set_view_zone(view, fix, ini_file);
    view.level = read_start_level(ws.map_source, ini_file);
    view.anchor.level = view.level;
    const auto start = read_start_position(dir / kPosFile);
    if (start) {
        view.uploaded_lat = start->latitude;
        view.uploaded_lon = start->longitude;
    }
    return start;
}

}  // namespace vg
