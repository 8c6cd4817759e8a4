#include "app/app.h"


#include <algorithm>
#include <chrono>
#include <thread>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "app/gps_monitor_texts.h"
#include "app/toolbar_layout.h"
#include "app/view_text.h"
#include "gps/device_type.h"
#include "platform/files.h"
#include "platform/system.h"
#include "settings/settings_file.h"
#include "tiles/geometry.h"
#include "tiles/tile_cache.h"
#include "tiles/tile_naming.h"

namespace vg {

namespace {

constexpr int kAerialMenuId = 1047;

bool fix_valid(const FixRecord& fix) { return fix.fix_dimension > 0; }

// Shows the wait cursor for the life of the object.
class WaitCursor {
public:
    explicit WaitCursor(Window* window) : window_(window) {
        if (window_) window_->set_wait_cursor(true);
    }
    ~WaitCursor() {
        if (window_) window_->set_wait_cursor(false);
    }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    Window* window_;
};

const char* const kSourceMissing[] = {"No Etopo2 available", "No OpenStreetMap available",
                                      "No Google Maps available", "No Virtual Earth available",
                                      "No MapQuest available"};

}  // namespace

App::App(std::filesystem::path settings_dir, AppOptions options)
    : dir_(std::move(settings_dir)), options_(std::move(options)),
      clock_(options_.clock ? options_.clock : &system_clock()) {
    if (options_.http.settings_dir.empty()) options_.http.settings_dir = dir_;
    if (options_.probe.work_dir.empty()) options_.probe.work_dir = dir_;
    if (options_.probe.http.settings_dir.empty()) options_.probe.http.settings_dir = dir_;
    if (options_.server.settings_dir.empty()) options_.server.settings_dir = dir_;
    if (!options_.server.clock) options_.server.clock = [clock = clock_] { return clock->now_seconds(); };
}

App::~App() { on_destroy(); }

std::filesystem::path App::settings_path(const std::string& name) const { return dir_ / name; }

MapSource App::source() const {
    const int s = ws_ ? ws_->map_source : 4;
    return (s >= 1 && s <= 5) ? static_cast<MapSource>(s) : MapSource::VirtualEarth;
}

std::string App::maps_root() const {
    if (!ws_) return {};
    const std::string root = normalise_root(ws_->maps_dir);
    const std::filesystem::path p(root);
    if (p.is_absolute() || dir_.empty()) return root;
    return (dir_ / p).string();
}

std::filesystem::path App::track_path() const {
    const std::filesystem::path p(ws_->track_file);
    return p.is_absolute() || dir_.empty() ? p : dir_ / p;
}

FetchContext App::fetch_context() const {
    FetchContext context;
    context.hosts = options_.tile_hosts ? &*options_.tile_hosts : nullptr;
    context.versions = &versions_;
    context.http = options_.http;
    return context;
}

void App::wait_step() {
    // While the window thread waits for the reader or server thread to end, that thread may be
    // waiting for a repaint: answer it, then give the thread a moment.
    if (window_) window_->serve_pending_repaints();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

// ---- creation and shutdown -------------------------------------------------------------------

void App::create(Window& window) {
    if (ws_) return;  // one window per application
    window_ = &window;
    window.set_title("Vor Global");

    // 1. Missing settings files get their default lines.
    write_default_files(dir_);

    // 2. The window state, and the receiver link when a port is configured.
    ws_ = create_window_state(dir_, &window);
    if (!ws_) return;
    ws_->owner_window = &window;

    server_ = std::make_unique<PositionServer>(fix_, &window);
    SerialLinkOptions link_options;
    link_options.ini_file = settings_path(kIniFile);
    link_options.pos_file = settings_path(kPosFile);
    link_options.clock_seconds = [clock = clock_] { return static_cast<long long>(clock->now_seconds()); };
    link_options.wait_step = [this] { wait_step(); };
    link_options.remote.start = [this] { return server_->start(options_.server); };
    link_options.remote.stop = [this] {
        server_->stop([this] {
            if (window_) window_->serve_pending_repaints();
        });
    };
    link_ = std::make_unique<SerialLink>(fix_, &window, ws_->silence_ticks, std::move(link_options));
    link_->set_settings(link_settings(*ws_));
    link_->set_device_type(static_cast<DeviceType>(ws_->device_type));
    if (ws_->port_number != 0) {
        if (link_->open_link() != 1) window.warning_box("No GPS connected");
        ws_->link_active.store(link_->link_active() ? 1 : 0);
    }

    // 3. Map size; the client area fits it (two frame pixels across, the toolbar band and frame down).
    set_map_size(view_, ws_->big_maps);
    view_.client_width = view_.map_width + 2;
    view_.client_height = view_.map_height + 51;
    window.set_client_size(view_.client_width, view_.client_height);
    view_.applied_big_maps = ws_->big_maps;

    // 4. The connectivity probe.
    if (options_.start_probe) {
        probe_ = std::make_unique<ConnectivityProbe>();
        probe_->start(options_.probe, ws_->online, versions_, &window);
    }

    // 5-7. Zone, level and start position.
    const std::optional<StartPosition> start = init_view_state(view_, *ws_, dir_, &fix_);
    view_.pointer_x = 0;
    view_.pointer_y = 0;

    // 8. The start centre. Without a start position the view starts from the default one, but no
    // view is loaded until navigation or the first fix asks for one.
    const double lat = start ? start->latitude : kDefaultStartLatitude;
    const double lon = start ? start->longitude : kDefaultStartLongitude;
    const WorldPixel p = geo_to_pixel(lat, lon, source(), view_.level);
    view_.centre_x = wrap_centre_x(p.x, view_.level, source());
    view_.centre_y = clamp_centre_y(p.y, view_.level, source());
    view_.anchor_x = view_.centre_x;
    view_.anchor_y = view_.centre_y;
    view_.anchor_level = view_.level;
    if (!start) {
        view_.uploaded_lat = lat;
        view_.uploaded_lon = lon;
    }

    if (start) {
        // 9-11. The first view, fetched whatever the network state says.
        WaitCursor wait(&window);
        if (prepare_tiles(table_, view_.centre_x, view_.centre_y, view_.level, true) == 0) {
            view_loaded_ = true;
            if (compose()) window.invalidate(true);
        }
    }

    // 12. The timer.
    window.start_timer(kTimerPeriodMs);
}

void App::on_size(int width, int height) {
    if (!ws_) return;
    view_.client_width = width;
    view_.client_height = height;
    if (window_) window_->invalidate(true);
    rebuild_bitmap();
}

void App::on_close() {
    if (!ws_ || !link_) return;
    link_->close_link();
    ws_->link_active.store(0);
}

void App::on_destroy() {
    if (!ws_) return;
    if (link_ && link_->link_active()) link_->close_link();
    ws_->link_active.store(0);
    // The probe writes into the window state; it ends within its request waits.
    if (probe_) probe_->wait();
    probe_.reset();
    link_.reset();
    server_.reset();
    ws_.reset();
}

// ---- views -------------------------------------------------------------------------------------

int App::prepare_tiles(TilePathTable& table, int cx, int cy, int level, bool fetch) {
    const std::string root = maps_root();
    if (fetch)
        return fetch_view_tiles(table, cx, cy, level, source(), root, ws_->aerial != 0, ws_->big_maps != 0,
                                fetch_context());
    return find_view_tiles(table, cx, cy, level, source(), root, ws_->aerial != 0, ws_->big_maps != 0);
}

bool App::compose() {
    if (build_mosaic(window_, table_, source(), ws_->aerial != 0, ws_->big_maps != 0, mosaic_) != 1) return false;
    rebuild_bitmap();
    return true;
}

void App::rebuild_bitmap() {
    if (!mosaic_.exists()) return;
    build_display_bitmap(ws_->big_maps != 0, mosaic_, view_.display_bitmap, window_);
}

void App::normalise_pending() {
    view_.pending_x = wrap_centre_x(view_.pending_x, view_.pending_level, source());
    view_.pending_y = clamp_centre_y(view_.pending_y, view_.pending_level, source());
}

bool App::load_pending_view(Variant variant) {
    const bool fetch = variant == Variant::Fetch || (variant == Variant::ByOnline && ws_->online.load() != 0);
    // The tiles go to a scratch table first, so that a failure leaves the current view whole.
    TilePathTable table = table_;
    if (prepare_tiles(table, view_.pending_x, view_.pending_y, view_.pending_level, fetch) != 0) return true;
    table_ = std::move(table);
    view_.level = view_.pending_level;
    view_.centre_x = view_.pending_x;
    view_.centre_y = view_.pending_y;
    view_loaded_ = true;
    if (!compose()) return false;
    if (window_) window_->invalidate(true);
    return true;
}

void App::auto_pan_off() {
    ws_->auto_pan = 0;
    if (window_) window_->check_menu_item(menu::kAutoPan, false);
}

void App::pan(int dx, int dy) {
    auto_pan_off();
    if (rows_run_north(source())) dy = -dy;
    view_.pending_level = view_.level;
    view_.pending_x = view_.centre_x + dx;
    view_.pending_y = view_.centre_y + dy;
    normalise_pending();
    view_.anchor_x = view_.pending_x;
    view_.anchor_y = view_.pending_y;
    view_.anchor_level = view_.pending_level;
    view_.pointer_x = view_.pending_x;
    view_.pointer_y = view_.pending_y;
    load_pending_view(Variant::ByOnline);
}

bool App::in_map(int x, int y) const {
    return y >= toolbar::kMapTop && y < toolbar::kMapTop + view_.map_height && x >= toolbar::kMapLeft &&
           x <= view_.map_width;
}

WorldPixel App::pointed_pixel(int x, int y) const {
    const int dy = y - toolbar::kMapTop - view_.map_height / 2;
    WorldPixel p;
    p.x = x - 1 - view_.map_width / 2 + view_.centre_x;
    p.y = rows_run_north(source()) ? view_.centre_y - dy : view_.centre_y + dy;
    return p;
}

// ---- paint ---------------------------------------------------------------------------------------

bool App::follow(const FixRecord& fix) {
    const MapSource src = source();
    auto pending_from_fix = [&] {
        const WorldPixel p = geo_to_pixel(fix.latitude, fix.longitude, src, view_.pending_level);
        view_.pending_x = p.x;
        view_.pending_y = p.y;
        normalise_pending();
    };
    view_.pending_level = view_.level;
    pending_from_fix();
    if (ws_->online.load() == 0 && ws_->auto_zoom) {
        const std::int64_t t = now();
        if (t - view_.zoom_clock > 20) {
            if (view_.pending_level < 4) {
                ++view_.pending_level;
                pending_from_fix();
            }
            view_.zoom_clock = t;
        }
    }
    if (view_loaded_ && view_.pending_level == view_.level && view_.pending_x == view_.centre_x &&
        view_.pending_y == view_.centre_y)
        return true;
    WaitCursor wait(window_);
    return load_pending_view(Variant::ByOnline);
}

void App::draw_overlays(const FixRecord& fix) {
    DisplayBitmap& bitmap = view_.display_bitmap;
    const int w = bitmap.side();
    const MapSource src = source();
    const bool north = rows_run_north(src);
    auto to_mosaic = [&](double lat, double lon, int& c, int& r) {
        const WorldPixel p = geo_to_pixel(lat, lon, src, view_.level);
        const long long dr = north ? static_cast<long long>(view_.centre_y) - p.y
                                   : static_cast<long long>(p.y) - view_.centre_y;
        r = static_cast<int>(std::clamp<long long>(dr + w / 2, -1, w));
        c = static_cast<int>(std::clamp<long long>(static_cast<long long>(p.x) - view_.centre_x + w / 2, -1, w));
    };

    // Logged points.
    if (ws_->plot && !ws_->track_file.empty()) {
        std::FILE* f = open_stream(track_path(), "r");
        if (f) {
            char line[260];
            while (std::fgets(line, sizeof line, f)) {
                double lat = 0, lon = 0;
                if (std::sscanf(line, "%lf %lf", &lat, &lon) != 2) continue;
                int c = 0, r = 0;
                to_mosaic(lat, lon, c, r);
                if (c >= 0 && c < w && r >= 0 && r < w) draw_position_marker(bitmap, c, r);
            }
            std::fclose(f);
        }
    }

    // The position.
    if (!fix_valid(fix)) return;
    int c = 0, r = 0;
    to_mosaic(fix.latitude, fix.longitude, c, r);
    if (c < 0 || c >= w || r < 0 || r >= w) return;
    if (c != view_.marker_x || r != view_.marker_y) {
        if (!ws_->track_file.empty()) {
            std::FILE* f = open_stream(track_path(), "a");
            if (f) {
                const std::string line = track_log_line(fix.latitude, fix.longitude, clock_->local_calendar_text());
                std::fputs(line.c_str(), f);
                std::fclose(f);
            }
        }
        if (!ws_->track) rebuild_bitmap();
    }
    draw_cross_hair(bitmap, c, r, ws_->track != 0, ws_->hair);
    draw_position_marker(bitmap, c, r);
    view_.marker_x = c;
    view_.marker_y = r;
}

PaintFrame App::paint() {
    PaintFrame frame;
    if (!ws_) return frame;
    const FixRecord fix = fix_.snapshot();

    // 1. Window size after a Big Maps change.
    if (ws_->big_maps != view_.applied_big_maps) {
        view_.client_width = (ws_->big_maps ? 1024 : 512) + 2;
        view_.client_height = (ws_->big_maps ? 768 : 384) + 51;
        if (window_) window_->set_client_size(view_.client_width, view_.client_height);
        view_.applied_big_maps = ws_->big_maps;
    }

    // 2. The first fix of the run becomes the next start position.
    if (!view_.start_saved && fix_valid(fix)) {
        view_.start_saved = 1;
        std::ofstream out(settings_path(kPosFile), std::ios::binary | std::ios::trunc);
        if (out) out << start_position_text(fix.latitude, fix.longitude);
        view_.zoom_clock = now();
    }

    // 3. Title.
    {
        const MapSource src = source();
        std::string title;
        const char* name = source_title_name(ws_->map_source);
        if (ws_->map_coordinates && view_.pointer_x != kNoPointer)
            title = title_position_text(name, true, pixel_to_latitude(view_.pointer_y, src, view_.level),
                                        pixel_to_longitude(view_.pointer_x, src, view_.level));
        else if (ws_->auto_pan && fix_valid(fix))
            title = title_position_text(name, true, fix.latitude, fix.longitude);
        else
            title = title_position_text(name, false, 0, 0);
        const std::string_view utc(fix.utc_text, strnlen(fix.utc_text, sizeof fix.utc_text));
        const std::string_view local(fix.local_text, strnlen(fix.local_text, sizeof fix.local_text));
        title += title_time_text(utc, local, ws_->big_maps != 0,
                                 ws_->device_type == static_cast<int>(DeviceType::TripMate), view_.zone_label);
        if (title != view_.title_text) {
            if (window_) window_->set_title(title);
            view_.title_text = title;
        }
    }

    // 4. Following.
    if (ws_->auto_pan && fix_valid(fix)) {
        if (!follow(fix)) return frame;  // composing the mosaic failed: nothing is drawn
    }

    // 5. Toolbar.
    frame.draw_toolbar = true;
    frame.button_bitmaps = {ws_->auto_pan ? toolbar::kBitmapAutoPanOn : toolbar::kBitmapAutoPanOff,
                            toolbar::kBitmapPanWest,
                            toolbar::kBitmapPanNorth,
                            toolbar::kBitmapPanSouth,
                            toolbar::kBitmapPanEast,
                            0, 0, 0, 0, 0,
                            ws_->aerial ? toolbar::kBitmapMaps : toolbar::kBitmapAerial};
    for (int k = 0; k < 5; ++k)
        frame.button_bitmaps[toolbar::kLevel0 + k] =
            (view_.level == k ? toolbar::kBitmapLevelCurrentBase : toolbar::kBitmapLevelBase) + k;
    frame.map_width = view_.map_width;
    frame.map_height = view_.map_height;

    // 6. The map.
    if (!view_.display_bitmap.exists()) return frame;
    frame.draw_frame = true;
    if (fix.fix_dimension != view_.last_fix_seen) {
        rebuild_bitmap();
        view_.last_fix_seen = fix.fix_dimension;
    }
    draw_overlays(fix);
    frame.bitmap = &view_.display_bitmap;
    frame.visible_first_row = view_.display_bitmap.side() / 8;

    const int kmh = speed_kmh(fix.speed_knots);
    if (ws_->dash != 0 && kmh > 1) {
        frame.speed.show = true;
        frame.speed.text = speed_text(kmh, fix.course);
        frame.speed.font_height = ws_->big_maps ? 36 : 24;
        frame.speed.x = view_.map_width - (ws_->big_maps ? 17 : 11) * static_cast<int>(frame.speed.text.size());
        frame.speed.y = view_.map_height + 48 - frame.speed.font_height;
    }
    return frame;
}

// ---- commands ------------------------------------------------------------------------------------

void App::switch_source(int s) {
    const MapSource old = source();
    const double lat = pixel_to_latitude(view_.centre_y, old, view_.level);
    const double lon = pixel_to_longitude(view_.centre_x, old, view_.level);
    ws_->map_source = s;
    if (s == 1) {
        ws_->aerial = 0;
        view_.level = 0;
    } else if (s == 2) {
        ws_->aerial = 0;
    }
    for (int i = 1; i <= 5; ++i) window_->check_menu_item(menu::kMapSourceBase + i, i == s);
    window_->check_menu_item(kAerialMenuId, ws_->aerial != 0);
    write_setting("site", kMapSources[s - 1].site_value, dir_);

    WaitCursor wait(window_);
    const WorldPixel p = geo_to_pixel(lat, lon, source(), view_.level);
    view_.centre_x = wrap_centre_x(p.x, view_.level, source());
    view_.centre_y = clamp_centre_y(p.y, view_.level, source());
    if (prepare_tiles(table_, view_.centre_x, view_.centre_y, view_.level, true) != 0) {
        window_->warning_box(kSourceMissing[s - 1]);
        return;
    }
    view_loaded_ = true;
    if (compose()) window_->invalidate(true);
}

void App::select_device(int d) {
    const DeviceType type = static_cast<DeviceType>(d);
    ws_->device_type = d;
    ws_->baud_rate = device_info(type).baud;
    ws_->byte_size = 8;
    ws_->parity = 0;
    ws_->stop_bits = 0;
    for (int i = 1; i <= 6; ++i) window_->enable_menu_item(menu::kDeviceBase + i, i != d);
    write_setting("unit", device_info(type).unit_value, dir_);
    link_->set_device_type(type);
    link_->set_settings(link_settings(*ws_));
    window_->invalidate(false);
    if (type == DeviceType::Remote) {
        if (link_->open_link() != 1) window_->warning_box("No GPS connected");
        ws_->link_active.store(link_->link_active() ? 1 : 0);
        window_->invalidate(false);
    }
}

void App::toggle_aerial() {
    const MapSource s = source();
    ws_->aerial = (s == MapSource::Etopo2 || s == MapSource::OpenStreetMap) ? 0 : !ws_->aerial;
    window_->check_menu_item(kAerialMenuId, ws_->aerial != 0);
    WaitCursor wait(window_);
    if (prepare_tiles(table_, view_.centre_x, view_.centre_y, view_.level, true) == 0) {
        view_loaded_ = true;
        if (compose()) window_->invalidate(true);
    } else if (ws_->aerial) {
        window_->warning_box("No aerial map available");
        ws_->aerial = 0;
        window_->check_menu_item(kAerialMenuId, false);
    }
}

void App::com_settings() {
    ComSettings s;
    s.port_number = ws_->port_number;
    s.baud_rate = ws_->baud_rate;
    s.byte_size = ws_->byte_size;
    s.parity = ws_->parity;
    s.stop_bits = ws_->stop_bits;
    s.flow_control = ws_->flow_control;
    s.port_locked = link_->link_active();
    if (window_->run_com_settings_dialog(s)) {
        if (!s.port_locked && s.port_number >= 0 && s.port_number <= 255)
            ws_->port_number = static_cast<std::uint8_t>(s.port_number);
        ws_->baud_rate = s.baud_rate;
        ws_->byte_size = static_cast<std::uint8_t>(s.byte_size);
        ws_->parity = static_cast<std::uint8_t>(s.parity);
        ws_->stop_bits = static_cast<std::uint8_t>(s.stop_bits);
        ws_->flow_control = static_cast<std::uint8_t>(s.flow_control);
        write_setting("port", "COM" + std::to_string(ws_->port_number), dir_);
        link_->set_settings(link_settings(*ws_));
        if (link_->link_active() && link_->configure_port() != 1) window_->warning_box("Settings failed");
    }
    window_->invalidate(false);
}

void App::on_command(int id) {
    if (!ws_ || !window_) return;
    Window& w = *window_;
    switch (id) {
    case 1001: {  // Reload Map
        WaitCursor wait(window_);
        TilePathTable scratch;
        delete_view_tiles(scratch, view_.centre_x, view_.centre_y, view_.level, source(), maps_root(),
                          ws_->aerial != 0, ws_->big_maps != 0);
        view_.pending_level = view_.level;
        view_.pending_x = view_.centre_x;
        view_.pending_y = view_.centre_y;
        load_pending_view(Variant::Fetch);
        break;
    }
    case 1002:
        online_command(options_.probe, ws_->online, w);
        break;
    case 1003:
        offline_command(ws_->online, w);
        break;
    case 1004:
        if (link_->open_link() != 1) w.warning_box("No GPS connected");
        ws_->link_active.store(link_->link_active() ? 1 : 0);
        break;
    case 1005:
        link_->close_link();
        ws_->link_active.store(0);
        fix_.update([](FixRecord& f) { f.fix_dimension = 0; });
        w.invalidate(false);
        break;
    case 1006:
        view_.display_bitmap.release();
        w.close_window();
        break;
    case 1011:
        rebuild_bitmap();
        if (view_.display_bitmap.exists())
            w.copy_image_to_clipboard(view_.display_bitmap.pixels(), view_.display_bitmap.side(),
                                      view_.display_bitmap.side(), view_.display_bitmap.stride());
        break;
    case 1021:
    case 1022:
    case 1023:
    case 1024:
    case 1025:
        switch_source(id - menu::kMapSourceBase);
        break;
    case 1031:
    case 1032:
    case 1033:
    case 1034:
    case 1035:
    case 1036:
        select_device(id - menu::kDeviceBase);
        break;
    case 1037:
        w.open_gps_monitor([this] { return gps_monitor_texts(fix_.snapshot()); });
        break;
    case 1041:
        ws_->auto_pan = !ws_->auto_pan;
        w.check_menu_item(id, ws_->auto_pan != 0);
        w.invalidate(false);
        break;
    case 1042:
        ws_->auto_zoom = !ws_->auto_zoom;
        w.check_menu_item(id, ws_->auto_zoom != 0);
        view_.zoom_clock = now();
        w.invalidate(false);
        break;
    case 1043:
        ws_->track = !ws_->track;
        w.check_menu_item(id, ws_->track != 0);
        w.invalidate(false);
        break;
    case 1044: {
        WaitCursor wait(window_);
        ws_->big_maps = !ws_->big_maps;
        w.check_menu_item(id, ws_->big_maps != 0);
        set_map_size(view_, ws_->big_maps);
        view_.pending_level = view_.level;
        view_.pending_x = view_.centre_x;
        view_.pending_y = view_.centre_y;
        load_pending_view(Variant::ByOnline);
        write_setting("size", ws_->big_maps ? "large" : "small", dir_);
        break;
    }
    case 1045:
        ws_->map_coordinates = !ws_->map_coordinates;
        w.check_menu_item(id, ws_->map_coordinates != 0);
        w.invalidate(false);
        break;
    case 1047:
        toggle_aerial();
        break;
    case 1048:
        com_settings();
        break;
    case 1051:
        w.run_keys_dialog();
        break;
    case 1053: {
        w.run_about_dialog(about_version_line(__DATE__), about_system_line(system_release(), system_name()));
        break;
    }
    default:
        break;
    }
}

// ---- keys, mouse, timer ----------------------------------------------------------------------------

void App::on_key_up(Key key) {
    if (!ws_) return;
    WaitCursor wait(window_);
    switch (key) {
    case Key::Left: pan(-kTileSize, 0); break;
    case Key::Up: pan(0, -kTileSize); break;
    case Key::Right: pan(kTileSize, 0); break;
    case Key::Down: pan(0, kTileSize); break;
    case Key::Other: break;
    }
}

void App::level_button(int k) {
    const MapSource src = source();
    const int m = src == MapSource::Etopo2 ? 0 : k;
    const FixRecord fix = fix_.snapshot();
    if (ws_->auto_pan && fix_valid(fix)) {
        const WorldPixel p = geo_to_pixel(fix.latitude, fix.longitude, src, m);
        view_.pending_x = p.x;
        view_.pending_y = p.y;
    } else if (m > view_.level) {
        view_.pending_x = rescale_x(view_.anchor_x, view_.anchor_level, m, src);
        view_.pending_y = rescale_y(view_.anchor_y, view_.anchor_level, m, src);
    } else {
        view_.pending_x = rescale_x(view_.centre_x, view_.level, m, src);
        view_.pending_y = rescale_y(view_.centre_y, view_.level, m, src);
    }
    view_.pending_level = m;
    normalise_pending();
    view_.pointer_x = view_.pending_x;
    view_.pointer_y = view_.pending_y;
    load_pending_view(Variant::ByOnline);
}

void App::on_left_button(int x, int y) {
    if (!ws_) return;
    WaitCursor wait(window_);
    view_.pending_level = view_.level;
    const toolbar::Button b = toolbar::hit_button(x, y);
    if (b != toolbar::kButtonCount) {
        switch (b) {
        case toolbar::kAutoPan:
            ws_->auto_pan = 1;
            window_->check_menu_item(menu::kAutoPan, true);
            window_->invalidate(false);
            break;
        case toolbar::kPanWest: pan(-kTileSize, 0); break;
        case toolbar::kPanNorth: pan(0, -kTileSize); break;
        case toolbar::kPanSouth: pan(0, kTileSize); break;
        case toolbar::kPanEast: pan(kTileSize, 0); break;
        case toolbar::kAerial: toggle_aerial(); break;
        default: level_button(b - toolbar::kLevel0); break;
        }
    } else if (in_map(x, y)) {
        auto_pan_off();
        const MapSource src = source();
        const int m = (src == MapSource::Etopo2 || view_.level >= 4) ? view_.level : view_.level + 1;
        const WorldPixel p = pointed_pixel(x, y);
        view_.anchor_x = rescale_x(p.x, view_.level, m, src);
        view_.anchor_y = rescale_y(p.y, view_.level, m, src);
        view_.anchor_level = m;
        view_.pending_x = view_.anchor_x;
        view_.pending_y = view_.anchor_y;
        view_.pending_level = m;
        normalise_pending();
        view_.pointer_x = view_.pending_x;
        view_.pointer_y = view_.pending_y;
        load_pending_view(Variant::ByOnline);
    }
    if (ws_) view_.zoom_clock = now();
}

void App::on_right_button(int x, int y) {
    if (!ws_) return;
    WaitCursor wait(window_);
    if (!in_map(x, y)) return;
    auto_pan_off();
    const MapSource src = source();
    const int m = view_.level > 0 ? view_.level - 1 : 0;
    const WorldPixel p = pointed_pixel(x, y);
    view_.pending_x = rescale_x(p.x, view_.level, m, src);
    view_.pending_y = rescale_y(p.y, view_.level, m, src);
    view_.pending_level = m;
    normalise_pending();
    view_.pointer_x = view_.pending_x;
    view_.pointer_y = view_.pending_y;
    load_pending_view(Variant::ByOnline);
    view_.zoom_clock = now();
}

void App::on_mouse_move(int x, int y) {
    if (!ws_ || !ws_->map_coordinates) return;
    if (in_map(x, y)) {
        if (view_.level > 4) {
            view_.pointer_x = kNoPointer;
            view_.pointer_y = kNoPointer;
        } else {
            const WorldPixel p = pointed_pixel(x, y);
            view_.pointer_x = p.x;
            view_.pointer_y = p.y;
        }
    } else {
        view_.pointer_x = view_.centre_x;
        view_.pointer_y = view_.centre_y;
    }
    if (window_) window_->invalidate(false);
}

void App::on_timer() {
    if (!ws_) return;
    const DeviceType device = static_cast<DeviceType>(ws_->device_type);

    // 1. Garmin polling: position and date-time requests in turn.
    if (device == DeviceType::Garmin) {
        if (link_->garmin_timer_step() && window_) window_->invalidate(false);
        view_.garmin_toggle = !view_.garmin_toggle;
    }

    // 2-3. Base upload or remote poll.
    if (ws_->base_enabled) {
        BaseLinkConfig base;
        base.base_enabled = true;
        base.base_host = ws_->base_host;
        base.base_port = ws_->base_port;
        base.http = options_.http;
        BaseLinkState state{view_.upload_clock, view_.uploaded_lat, view_.uploaded_lon};
        if (device != DeviceType::Remote)
            base_position_upload(base, device, fix_.snapshot(), state, now());
        else
            remote_poll(base, device, state, now());
        view_.upload_clock = state.upload_clock;
        view_.uploaded_lat = state.uploaded_lat;
        view_.uploaded_lon = state.uploaded_lon;
    }

    // 4. No-data watchdog.
    if (link_->link_active() && device != DeviceType::Remote) {
        if (ws_->silence_ticks.load() > 120) {
            fix_.update([](FixRecord& f) { f.fix_dimension = 0; });
            if (window_) window_->invalidate(false);
        } else {
            ws_->silence_ticks.fetch_add(1);
        }
    }
}

}  // namespace vg
