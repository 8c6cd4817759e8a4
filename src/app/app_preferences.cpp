// App: Options → Preferences. The dialog edits the settings files' lines; what it changes takes
// effect through the same steps as the menu commands (the Device items, Night), the window state's
// readers and the link's reconnection.

#include <algorithm>

#include "app/app.h"
#include "gps/device_type.h"
#include "settings/preferences.h"
#include "settings/settings_file.h"
#include "tiles/cache_sweep.h"

namespace vg {

namespace {

// The receivers as the dialog lists them: the Device menu's names with their `unit` values.
std::vector<std::pair<std::string, std::string>> receiver_choices() {
    std::vector<std::pair<std::string, std::string>> out;
    for (const DeviceTypeInfo& info : kDeviceTypes) {
        std::string text;
        switch (info.type) {
        case DeviceType::Nmea: text = "NMEA (serial or USB)"; break;
        case DeviceType::EarthMateUsb: text = "EarthMate USB"; break;
        case DeviceType::EarthMate: text = "EarthMate (Zodiac)"; break;
        case DeviceType::TripMate: text = "TripMate"; break;
        case DeviceType::Garmin: text = "Garmin"; break;
        case DeviceType::Remote: text = "Remote (phone or another copy)"; break;
        case DeviceType::Gpsd: text = "gpsd"; break;
        case DeviceType::Network: text = "NMEA network"; break;
        }
        out.emplace_back(text, info.unit_value);
    }
    return out;
}

}  // namespace

void App::preferences() {
    PreferencesDialogData data;
    data.values = read_preferences(dir_);
    // The receiver as the program reads it ("N" and "nmea" are NMEA), so the dialog shows its entry.
    data.values["unit"] = device_info(ws_->device_type).unit_value;
    data.source_lines = read_source_lines(dir_);
    data.receivers = receiver_choices();
    data.devices = serial_device_choices({}, nullptr);
    data.check_value = [](std::string_view name, std::string_view value) { return preference_problem(name, value); };
    data.check_source_line = [](std::string_view line) { return source_line_problem(line); };
    data.apply = [this](const PreferencesDialogData& chosen) { return apply_preferences(chosen); };
    data.clean_cache = [this](std::string_view megabytes, std::function<void(const std::string&)> done) {
        if (std::string why = preference_problem("cachemb", megabytes); !why.empty()) return why;
        if (!start_cache_trim(std::stoull(std::string(megabytes)), std::move(done)))
            return std::string("a clean-up is still running");
        return std::string();
    };
    window_->run_preferences_dialog(data);
    window_->invalidate(false);
}

std::string App::apply_preferences(const PreferencesDialogData& chosen) {
    if (!ws_ || !window_) return "no window";
    // What changed is checked before anything takes effect (the values by write_preferences, the new
    // source lines here); lines the user wrote by hand and did not touch stay as they are.
    const std::vector<std::string> old_lines = read_source_lines(dir_);
    for (const std::string& line : chosen.source_lines)
        if (std::find(old_lines.begin(), old_lines.end(), line) == old_lines.end())
            if (std::string why = source_line_problem(line); !why.empty()) return std::string(kSourcesFile) + ": " + why;
    if (const auto unit = chosen.values.find("unit"); unit != chosen.values.end() && !device_from_unit(unit->second))
        return "unit: no such receiver";
    const auto wanted = [&chosen](const std::string& name) -> std::optional<std::string> {
        const auto it = chosen.values.find(name);
        if (it == chosen.values.end()) return std::nullopt;
        return it->second;
    };

    Preferences rest(chosen.values.begin(), chosen.values.end());
    rest.erase("unit");
    rest.erase("night");
    const PreferencesWritten written = write_preferences(dir_, read_preferences(dir_), rest);
    if (!written.ok()) return written.failure;
    const auto changed = [&written](std::string_view name) {
        return std::find(written.changed.begin(), written.changed.end(), name) != written.changed.end();
    };
    const auto changed_device_line = std::any_of(written.changed.begin(), written.changed.end(),
                                                 [](const std::string& name) { return name.starts_with("com"); });

    // The base line before the receiver: Remote's server listens on its port.
    if (changed("base")) {
        ws_->base_enabled = false;
        ws_->base_host.clear();
        ws_->base_port = 0;
        apply_base_setting(*ws_, wanted("base").value_or(""));
    }

    // The receiver and Night as their menu commands do it (they write `unit` and `night`); a new
    // network or Remote receiver connects with the lines just written.
    bool device_changed = false;
    if (const auto unit = wanted("unit"))
        if (const auto type = device_from_unit(*unit); type && *type != ws_->device_type) {
            on_command(device_info(*type).command);
            device_changed = true;
        }
    if (const auto night = wanted("night"); night && (*night == "yes") != ws_->night) on_command(Command::Night);
    // Hillshade as its menu command does it; a new strength shades the view again.
    if (const auto shading = wanted("shading"); shading && changed("shading")) {
        ws_->shading = std::stoi(*shading);
        if (view_loaded_) show_view(view_.level, view_.centre_x, view_.centre_y, MapLayer::Fetch::Later, true);
    }
    if (const auto on = wanted("hillshade"); on && (*on == "yes") != ws_->hillshade) on_command(Command::Hillshade);

    if (chosen.source_lines != old_lines) {
        if (!write_source_lines(dir_, chosen.source_lines)) return std::string(kSourcesFile) + " could not be written";
        reload_sources();
    }

    // The display lines, read as at start.
    const std::filesystem::path ini = settings_path(kIniFile);
    read_display_settings(*ws_, [&ini](std::string_view key) { return setting_value(ini, key); });
    ais_feed_.set_rules(ws_->ais_rules);
    if (changed("zone")) set_view_zone(view_, &fix_, ini);

    // The line settings and the receiver's connection: a changed line of the receiver in use
    // reconnects it.
    bool reconnect = false;
    if (changed("port") || changed_device_line) {
        apply_port_setting(*ws_, wanted("port").value_or("COM1"));
        apply_line_settings();
        reconnect = !is_network_device(ws_->device_type) && ws_->device_type != DeviceType::Remote;
    }
    if (changed("gpsd") && ws_->device_type == DeviceType::Gpsd) reconnect = true;
    if (changed("nmea") && ws_->device_type == DeviceType::Network) reconnect = true;
    if ((changed("base") || changed("bind") || changed("relaykey")) && ws_->device_type == DeviceType::Remote)
        reconnect = true;
    if (reconnect && !device_changed && receiver_->active()) {
        close_link();
        if (!open_link()) no_gps_connected();
        ws_->link_active.store(receiver_->active());
    }
    window_->invalidate(false);
    return {};
}

bool App::start_cache_trim(std::uint64_t megabytes, std::function<void(const std::string&)> done) {
    if (trimming_.exchange(true)) return false;
    // The one before has handed on its result and is at most returning.
    if (trimmer_.joinable()) trimmer_.join();
    trim_stop_.store(false);
    trimmer_ = std::thread([this, folders = tile_cache_folders(catalogue_, maps_root()), megabytes,
                            done = std::move(done)] {
        const std::uint64_t limit = megabytes * kCacheMegabyte;
        const CacheTrim trim = trim_cache(folders, limit, &trim_stop_);
        if (done) done(cache_trim_text(trim, limit));
        trimming_.store(false);
    });
    return true;
}

void App::reload_sources() {
    // The old catalogue can go at once: no other thread holds its entries. The map layer's
    // requests carry copies (addresses, paths, the loader's policy), the revalidations likewise,
    // and the window thread builds its LayerSource afresh from the catalogue for every step.
    catalogue_ = load_sources(dir_);
    elevation_ = options_.elevation ? options_.elevation : elevation_for(maps_root(), catalogue_.elevation_source());
    dem_asked_.clear();
    std::vector<std::pair<std::string, Command>> items;
    for (const CatalogueEntry* e : catalogue_.sources())
        if (!e->original && !e->is_dem()) items.emplace_back(e->name, e->menu_id);
    window_->set_map_source_items(items);
    // The source shown stays (read again); one whose line went gives way to OpenStreetMap.
    const CatalogueEntry* shown = current_entry();
    if (!shown) shown = catalogue_.find(source_info(MapSource::OpenStreetMap).site_value, false);
    if (shown) select_source(*shown);
}

}  // namespace vg
