// App: construction, window creation and shutdown, and loading views.
#include "app/app.h"


#include <algorithm>
#include <chrono>
#include <thread>

#include "app/app_detail.h"
#include "app/toolbar_layout.h"
#include "app/view_text.h"
#include "gps/device_type.h"
#include "net/transfer_limits.h"
#include "platform/temp_files.h"
#include "platform/system.h"
#include "settings/settings_file.h"
#include "tiles/geometry.h"
#include "tiles/tile_cache.h"
#include "tiles/tile_naming.h"

namespace vg {

using app_detail::WaitCursor;

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
    // Temporary files that a killed run left beside the settings and in the tile cache.
    remove_stale_temporary_files(dir_.empty() ? std::filesystem::path(".") : dir_, false, kStaleTempAge);
    remove_stale_temporary_files(maps_root(), true, kStaleTempAge);

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

}  // namespace vg
