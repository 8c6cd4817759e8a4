// App: the menu commands.

#include <algorithm>

#include "app/app.h"
#include "app/app_detail.h"
#include "app/gps_monitor_texts.h"
#include "app/view_text.h"
#include "gps/device_type.h"
#include "platform/diagnostics.h"
#include "platform/system.h"
#include "settings/settings_file.h"
#include "tiles/geometry.h"
#include "tiles/tile_cache.h"
#include "tiles/tile_catalogue.h"
#include "tiles/tile_naming.h"

namespace vg {

using app_detail::show_online_menus;
using app_detail::WaitCursor;

namespace {

// The warning when an original source has no tiles for the view.
const char* source_missing_text(MapSource s) {
    switch (s) {
    case MapSource::Etopo2: return "No Etopo2 available";
    case MapSource::OpenStreetMap: return "No OpenStreetMap available";
    case MapSource::GoogleMaps: return "No Google Maps available";
    case MapSource::VirtualEarth: return "No Virtual Earth available";
    case MapSource::MapQuest: return "No MapQuest available";
    }
    return "No map available";
}

}  // namespace

void App::select_source(const CatalogueEntry& chosen_entry) {
    const CatalogueEntry* chosen = &chosen_entry;  // an element of catalogue_, its map layer when it has one
    const MapSource s = chosen->geometry();
    const MapSource old = source();
    const double lat = pixel_to_latitude(view_.centre_y, old, view_.level);
    const double lon = pixel_to_longitude(view_.centre_x, old, view_.level);
    ws_->map_source = s;
    site_name_ = chosen->name;
    health_->reset(chosen->name);  // choosing a source asks it again
    start_probe_if_needed();
    if (s == MapSource::Etopo2) {
        ws_->aerial = false;
        view_.level = 0;
    } else if (!catalogue_.has_aerial(chosen->name)) {
        ws_->aerial = false;
    }
    if (chosen->aerial) ws_->aerial = true;  // a source with an aerial layer only
    for (const auto& info : kMapSources) window_->check_menu_item(info.command, false);
    for (const auto& e : catalogue_.entries) window_->check_menu_item(e.menu_id, e.name == chosen->name);
    window_->check_menu_item(Command::AerialPhoto, ws_->aerial);
    write_setting("site", chosen->name, dir_);
    // A zoom the new source lacks becomes its nearest coarser level.
    if (!has_scale(source(), view_.level)) view_.level = level_at_or_below(web_zoom(view_.level));
    if (const CatalogueEntry* e = current_entry(); e && !e->has_level(view_.level))
        view_.level =
            std::min(level_at_or_below(web_zoom(view_.level)), std::max(0, static_cast<int>(e->zooms.size()) - 1));

    WaitCursor wait(window_);
    const WorldPixel p = geo_to_pixel(lat, lon, source(), view_.level);
    view_.centre_x = wrap_view_x(p.x, view_.level, source());
    view_.centre_y = clamp_view_y(p.y, view_.level, source());
    if (show_view(view_.level, view_.centre_x, view_.centre_y,
                  background() ? MapLayer::Fetch::Later : MapLayer::Fetch::Now, true) == MapLayer::Shown::NoTiles) {
        if (chosen->original) window_->warning_box(source_missing_text(s));
        else window_->warning_box(chosen->name + " has no tiles at this level");
    }
}

void App::no_gps_connected() {
    // The box stays as it always was; the cause (path, reason, remedy) goes to standard error and
    // to the map's message line (map_message), which shows it until the next open.
    if (const ReceiverStatus status = receiver_->status(); status.state == ReceiverState::Failed)
        report(status.cause, DiagnosticStream::Error);
    window_->warning_box("No GPS connected");
    window_->invalidate(false);
}

bool App::open_link() {
    if (receiver_->active()) return true;  // one link at a time
    // Remote's server is made afresh, so that it listens where the settings now say.
    if (receiver_kind(ws_->device_type) == ReceiverKind::Remote) {
        auto* remote = dynamic_cast<PositionReceiver*>(receiver_.get());
        if (!remote || !remote->server().running()) {
            std::unique_ptr<Receiver> old;
            {
                std::lock_guard lock(receiver_mutex_);
                old = std::move(receiver_);
            }
            old.reset();
            use_receiver(ws_->device_type);
        }
    }
    WaitCursor wait(window_);
    const LinkOpen outcome = receiver_->open();
    if (outcome == LinkOpen::Opened) {
        start_ntrip();
        window_->enable_menu_item(Command::Connect, false);
        window_->enable_menu_item(Command::Disconnect, true);
    } else if (outcome == LinkOpen::NoWakeEvent) {
        window_->warning_box(kNoWakeEventText, kNoWakeEventCaption);
    }
    return outcome == LinkOpen::Opened || outcome == LinkOpen::AlreadyOpen;
}

void App::close_link() {
    stop_ntrip();
    if (!receiver_->close() || !window_) return;
    window_->enable_menu_item(Command::Connect, true);
    window_->enable_menu_item(Command::Disconnect, false);
}

void App::use_receiver(DeviceType type) {
    if (receiver_ && receiver_kind(receiver_->device_type()) == receiver_kind(type)) {
        if (SerialLink* link = this->link()) link->set_device_type(type);
        return;
    }
    receiver_setup_.base_port = ws_->base_port;
    std::unique_ptr<Receiver> made = make_receiver(type, fix_, receiver_setup_);
    {
        std::lock_guard lock(receiver_mutex_);
        std::swap(made, receiver_);
    }
    made.reset();  // the one of another kind, closed outside the lock
}

void App::apply_line_settings() {
    receiver_setup_.line = ws_->line;
    if (SerialLink* link = this->link()) link->set_settings(ws_->line);
}

PositionServer* App::position_server() {
    auto* remote = dynamic_cast<PositionReceiver*>(receiver_.get());
    return remote ? &remote->server() : nullptr;
}

bool App::send_to_receiver(const std::uint8_t* data, std::size_t size) {
    std::lock_guard lock(receiver_mutex_);
    return receiver_ && receiver_->active() && receiver_->write(data, size);
}

void App::start_detect() {
    {
        std::lock_guard lock(detect_mutex_);
        if (detect_.running()) return;
        detected_.clear();
    }
    // The program's own receiver keeps its port: Detect tries the others.
    DetectOptions options = options_.detect;
    if (SerialLink* link = this->link(); link && link->link_active() && !options.serial_paths) {
        std::vector<std::string> paths;
        for (const SerialPortInfo& p : list_serial_ports(options_.serial_ports))
            if (p.accessible && p.path != link->device_path() && p.device != link->device_path()) paths.push_back(p.path);
        options.serial_paths = std::move(paths);
    }
    Window* window = window_;
    const bool started = detect_.start(
        std::move(options),
        [this, window](const DetectedReceiver& found) {
            {
                std::lock_guard lock(detect_mutex_);
                detected_.push_back(found);
            }
            detect_news_.store(true);
            window->invalidate(false);
        },
        [this, window](bool) {
            detect_news_.store(true);
            window->invalidate(false);
        });
    window_->show_detect_results({{}, started});
}

std::vector<DetectedReceiver> App::detected() const {
    std::lock_guard lock(detect_mutex_);
    return detected_;
}

void App::choose_detected(std::size_t index) {
    if (!ws_ || !window_) return;
    const std::vector<DetectedReceiver> found = detected();
    if (index >= found.size()) return;
    const DetectedReceiver& r = found[index];
    const std::filesystem::path ini = settings_path(kIniFile);
    close_link();
    ws_->link_active.store(false);
    if (r.kind == DetectedReceiver::Kind::Gpsd) {
        // The gpsd= line only when the address is not the one read without it.
        const std::string address = r.address.host + ":" + std::to_string(r.address.port);
        const auto now = parse_gpsd_address(setting_value(ini, "gpsd=").value_or(""));
        if (!now || now->host != r.address.host || now->port != r.address.port) write_setting_file(ini, "gpsd", address);
        select_device(DeviceType::Gpsd);
        return;
    }
    if (r.kind == DetectedReceiver::Kind::Udp) {
        write_setting_file(ini, "nmea", "udp://:" + std::to_string(r.address.port));
        select_device(DeviceType::Network);
        return;
    }
    // A serial receiver becomes the comN line of the current port (COM1 when none), at the speed it
    // answered at.
    const int port = ws_->line.port_number > 0 ? ws_->line.port_number : 1;
    if (serial_device_path(port, ini) != r.path) write_setting_file(ini, "com" + std::to_string(port), r.path);
    select_device(r.device);
    ws_->line.port_number = port;
    ws_->line.baud_rate = r.baud;
    write_setting("port", "COM" + std::to_string(port) + "," + std::to_string(r.baud), dir_);
    apply_line_settings();
    receiver_chosen_ = true;
    if (!open_link()) no_gps_connected();
    ws_->link_active.store(receiver_->active());
    window_->invalidate(false);
}

void App::select_device(DeviceType type) {
    receiver_chosen_ = true;
    ws_->device_type = type;
    ws_->line.baud_rate = device_info(type).baud;
    ws_->line.byte_size = 8;
    ws_->line.parity = 0;
    ws_->line.stop_bits = 0;
    for (const auto& info : kDeviceTypes) window_->check_menu_item(info.command, info.type == type);
    write_setting("unit", device_info(type).unit_value, dir_);
    if (receiver_kind(type) != receiver_kind(receiver_->device_type())) {
        close_link();
        ws_->link_active.store(false);
    }
    use_receiver(type);
    apply_line_settings();
    window_->invalidate(false);
    if (type == DeviceType::Remote || is_network_device(type)) {
        close_link();
        if (!open_link()) no_gps_connected();
        ws_->link_active.store(receiver_->active());
        window_->invalidate(false);
    }
}

void App::toggle_aerial() {
    ws_->aerial = catalogue_.has_aerial(site_name_) && !ws_->aerial;
    window_->check_menu_item(Command::AerialPhoto, ws_->aerial);
    WaitCursor wait(window_);
    const bool shown = show_view(view_.level, view_.centre_x, view_.centre_y,
                                 background() ? MapLayer::Fetch::Later : MapLayer::Fetch::Now,
                                 true) != MapLayer::Shown::NoTiles;
    if (!shown && ws_->aerial) {
        window_->warning_box("No aerial map available");
        ws_->aerial = false;
        window_->check_menu_item(Command::AerialPhoto, false);
    }
}

std::vector<std::pair<std::string, std::string>> App::serial_device_choices(const std::string& named,
                                                                          std::string* chosen) const {
    std::vector<std::pair<std::string, std::string>> devices;
    for (const SerialPortInfo& p : list_serial_ports(options_.serial_ports)) {
        std::string about = p.description.empty() ? p.kind : p.description;
        if (p.device != p.path) about += ", " + p.device;
        if (!p.accessible) about += "; no access: join the dialout group";
        devices.emplace_back(p.path, about);
        if (chosen && (p.path == named || p.device == named)) *chosen = p.path;
    }
    return devices;
}

void App::com_settings() {
    ComSettings s;
    s.line = ws_->line;
    s.port_locked = receiver_->active() && link();
    // The devices that exist, the one the port names now chosen when it is among them.
    const std::filesystem::path ini = settings_path(kIniFile);
    s.devices = serial_device_choices(serial_device_path(ws_->line.port_number, ini), &s.device);
    if (window_->run_com_settings_dialog(s)) {
        // The port number keeps its 8-bit room; a locked port stays as it is.
        const int port = ws_->line.port_number;
        ws_->line = s.line;
        if (s.port_locked || s.line.port_number < 0 || s.line.port_number > 255) ws_->line.port_number = port;
        // A chosen device becomes the comN line of the chosen port.
        if (!s.port_locked && !s.device.empty() && s.device != serial_device_path(ws_->line.port_number, ini)) {
            write_setting_file(ini, "com" + std::to_string(ws_->line.port_number), s.device);
            if (serial_device_path(ws_->line.port_number, ini) != s.device) window_->warning_box("Settings failed");
        }
        write_setting("port", "COM" + std::to_string(ws_->line.port_number), dir_);
        receiver_chosen_ = true;
        apply_line_settings();
        if (SerialLink* link = this->link(); link && link->link_active() && !link->configure_port())
            window_->warning_box("Settings failed");
    }
    window_->invalidate(false);
}

void App::on_command(Command id) {
    if (!ws_ || !window_) return;
    Window& w = *window_;
    switch (id) {
    case Command::ReloadMap: {
        const CatalogueEntry* reloaded = current_entry();
        if (reloaded) health_->reset(reloaded->name);  // the user asks again: a pause ends
        if (background() && view_loaded_) {
            // Cached tiles stay (and are drawn) until their replacements have arrived whole.
            request_view_tiles(true);
            w.invalidate(false);
            break;
        }
        WaitCursor wait(window_);
        TilePathTable scratch;
        // The cells shown: around the tile corner nearest the centre.
        delete_view_tiles(scratch, round_to_tile_edge(view_.centre_x), round_to_tile_edge(view_.centre_y), view_.level,
                          source(), maps_root(), ws_->aerial, layer_.grid_for(view_.centre_x, view_.centre_y),
                          current_entry());
        view_.pending = view_.centre();
        load_pending_view(Variant::Fetch);
        break;
    }
    case Command::Online: {
        // Downloads allowed again and the current source asked at once, a pause after its failures
        // ended; whether it answers shows in its cells and the message line.
        ws_->online.store(true);
        show_online_menus(w, true);
        if (const CatalogueEntry* e = current_entry()) health_->reset(e->name);
        if (!view_loaded_) break;
        if (background()) {
            request_view_tiles(false);
            w.invalidate(false);
        } else {
            WaitCursor wait(window_);
            view_.pending = view_.centre();
            load_pending_view(Variant::Fetch);
        }
        break;
    }
    case Command::Offline:
        ws_->online.store(false);  // no request is sent
        show_online_menus(w, false);
        break;
    case Command::Connect:
        if (!open_link()) no_gps_connected();
        ws_->link_active.store(receiver_->active());
        break;
    case Command::DetectReceiver:
        start_detect();
        break;
    case Command::StatusBar: {
        const bool on = !w.status_bar_shown();
        ws_->status_bar = on;
        write_setting("statusbar", on ? "yes" : "no", dir_);
        w.set_status_bar(on);
        w.check_menu_item(Command::StatusBar, on);
        break;
    }
    case Command::Disconnect:
        close_link();
        ws_->link_active.store(false);
        fix_.update([](FixRecord& f) { f.fix_dimension = 0; });
        w.invalidate(false);
        break;
    case Command::Exit:
        view_.display_bitmap.release();
        w.close_window();
        break;
    case Command::Copy:
        rebuild_bitmap();
        if (view_.display_bitmap.exists())
            w.copy_image_to_clipboard(view_.display_bitmap.pixels(), view_.display_bitmap.width(),
                                      view_.display_bitmap.height(), view_.display_bitmap.stride());
        break;
    case Command::Etopo2:
    case Command::OpenStreetMap:
    case Command::GoogleMaps:
    case Command::VirtualEarth:
    case Command::MapQuest:
    case Command::OpenTopoMap:
    case Command::Atlas:
    case Command::OpenFreeMap:
        if (const CatalogueEntry* e = catalogue_.find_menu_id(id)) select_source(*e);
        break;
    case Command::OpenMapPack:
        open_map_pack();
        break;
    case Command::Trip:
        open_trip();
        break;
    case Command::AisTargets:
        open_ais_targets();
        break;
    case Command::NtripCasters:
        open_ntrip_casters();
        break;
    case Command::Fleet:
        open_fleet();
        break;
    case Command::Find:
        open_search();
        break;
    case Command::RoutingData:
        open_routing_data();
        break;
    case Command::Route:
        open_route_panel();
        break;
    case Command::DownloadRegion:
        download_region();
        break;
    case Command::OpenGpx:
        open_gpx();
        break;
    case Command::ExportTrack:
        export_track();
        break;
    case Command::Profile:
        show_profile();
        break;
    case Command::Nmea:
    case Command::EarthMateUsb:
    case Command::EarthMate:
    case Command::TripMate:
    case Command::Garmin:
    case Command::Remote:
    case Command::Gpsd:
    case Command::NmeaNetwork:
        // The current receiver chosen again changes nothing.
        if (const auto type = device_from_command(id); type && *type != ws_->device_type) select_device(*type);
        break;
    case Command::GpsMonitor:
        w.open_gps_monitor([this] {
            const FixRecord fix = fix_.snapshot();
            const auto ground = elevation_ && fix.fix_dimension > 0 ? elevation_->elevation(fix.latitude, fix.longitude)
                                                                    : std::nullopt;
            MonitorTexts texts = gps_monitor_texts(fix, ground, ws_->speed_unit);
            if (receiver_) texts.receiver = receiver_monitor_text(receiver_->status());
            texts.corrections = ntrip_monitor_text();
            texts.fleet = mqtt_monitor_text();
            return texts;
        });
        break;
    case Command::AutoPan:
        ws_->auto_pan = !ws_->auto_pan;
        w.check_menu_item(id, ws_->auto_pan);
        w.invalidate(false);
        break;
    case Command::AutoZoom:
        ws_->auto_zoom = !ws_->auto_zoom;
        w.check_menu_item(id, ws_->auto_zoom);
        view_.zoom_clock = now();
        w.invalidate(false);
        break;
    case Command::Track:
        ws_->track = !ws_->track;
        w.check_menu_item(id, ws_->track);
        w.invalidate(false);
        break;
    case Command::BigMaps: {
        WaitCursor wait(window_);
        ws_->big_maps = !ws_->big_maps;
        w.check_menu_item(id, ws_->big_maps);
        set_map_size(view_, ws_->big_maps);
        layer_.set_area(view_.map_width, view_.map_height);
        view_.pending = view_.centre();
        load_pending_view(Variant::ByOnline);
        write_setting("size", ws_->big_maps ? "large" : "small", dir_);
        break;
    }
    case Command::MapCoordinates:
        ws_->map_coordinates = !ws_->map_coordinates;
        w.check_menu_item(id, ws_->map_coordinates);
        w.invalidate(false);
        break;
    case Command::Night: {  // Night: drawn differently at once; raster tiles and their cache stay as they are
        ws_->night = !ws_->night;
        w.check_menu_item(id, ws_->night);
        write_setting("night", ws_->night ? "yes" : "no", dir_);
        set_vector_night_style(ws_->night);
        // A vector source shows its cells of the other style (drawn into a cache folder of their own).
        const CatalogueEntry* e = current_entry();
        if (e && (e->kind == SourceKind::vector || e->kind == SourceKind::remote_vector) && view_loaded_)
            show_view(view_.level, view_.centre_x, view_.centre_y, MapLayer::Fetch::Later, true);
        w.invalidate(false);
        break;
    }
    case Command::Hillshade:  // the view's cells shaded (or no longer) from the elevation data
        ws_->hillshade = !ws_->hillshade;
        w.check_menu_item(id, ws_->hillshade);
        write_setting("hillshade", ws_->hillshade ? "yes" : "no", dir_);
        if (view_loaded_) show_view(view_.level, view_.centre_x, view_.centre_y, MapLayer::Fetch::Later, true);
        w.invalidate(false);
        break;
    case Command::AerialPhoto:
        toggle_aerial();
        break;
    case Command::SettingsCom:
        com_settings();
        break;
    case Command::Preferences:
        preferences();
        break;
    case Command::Keys:
        w.run_keys_dialog();
        break;
    case Command::About: {
        std::string sources = about_system_line(system_release(), system_name());
        // The map data of every source is credited; the visible one first.
        if (const CatalogueEntry* e = current_entry(); e && !e->attribution.empty())
            sources += "\n\nMap: " + e->name + " " + e->attribution;
        for (const CatalogueEntry* e : catalogue_.sources())
            if (!e->attribution.empty() && e->name != site_name_) sources += "\n" + e->name + ": " + e->attribution;
        w.run_about_dialog(about_version_line(__DATE__), sources);
        break;
    }
    default:
        if (is_catalogue_command(id))
            if (const CatalogueEntry* e = catalogue_.find_menu_id(id)) select_source(*e);
        break;
    }
}

}  // namespace vg
