// App: construction, window creation and shutdown, and loading views.
#include "app/app.h"
#include "app/app_route.h"


#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include "app/app_detail.h"
#include "app/toolbar_layout.h"
#include "app/view_text.h"
#include "tiles/image_decode.h"
#include "gps/device_type.h"
#include "net/transfer_limits.h"
#include "platform/diagnostics.h"
#include "platform/temp_files.h"
#include "platform/system.h"
#include "settings/preferences.h"
#include "settings/settings_file.h"
#include "tiles/cache_sweep.h"
#include "tiles/geometry.h"
#include "tiles/catalogue_fetch.h"
#include "tiles/fine_tiles.h"
#include "tiles/local_source.h"
#include "tiles/remote_vector.h"
#include "tiles/source_kind.h"
#include "tiles/tile_cache.h"
#include "tiles/tile_naming.h"

namespace vg {

using app_detail::WaitCursor;

App::App(std::filesystem::path settings_dir, AppOptions options)
    : dir_(std::move(settings_dir)), options_(std::move(options)),
      clock_(options_.clock ? options_.clock : &system_clock()) {
    catalogue_ = load_sources(dir_);
    if (options_.http.settings_dir.empty()) options_.http.settings_dir = dir_;
    if (options_.probe.work_dir.empty()) options_.probe.work_dir = dir_;
    if (options_.probe.http.settings_dir.empty()) options_.probe.http.settings_dir = dir_;
    if (options_.server.settings_dir.empty()) options_.server.settings_dir = dir_;
    if (!options_.server.clock) options_.server.clock = [clock = clock_] { return clock->now_seconds(); };
    layer_.set_device_scale(LayerSource{}, options_.device_scale, false);
}

App::~App() { on_destroy(); }

Catalogue App::load_sources(const std::filesystem::path& dir) {
    Catalogue catalogue = load_catalogue(dir);
    // Map packs in the packs folder of the cache root are sources too, after the user lines.
    std::string maps = setting_value(dir / kIniFile, "maps").value_or(kDefaultMapsDir);
    std::filesystem::path maps_path(normalise_root(maps));
    if (!maps_path.is_absolute() && !dir.empty()) maps_path = dir / maps_path;
    add_packs(catalogue, packs_folder(maps_path.string()));
    return catalogue;
}

std::filesystem::path App::settings_path(const std::string& name) const { return dir_ / name; }

MapSource App::source() const {
    return ws_ ? ws_->map_source : MapSource::VirtualEarth;
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

Fetcher* App::fetcher() const { return options_.fetcher ? options_.fetcher : fetcher_.get(); }

FetchContext App::fetch_context() const {
    FetchContext context;
    context.hosts = options_.tile_hosts ? &*options_.tile_hosts : nullptr;
    context.versions = &versions_;
    context.http = options_.http;
    context.entry = current_entry();
    // Hosts given explicitly (a deployment's own servers, tests) keep the original sources on their
    // original plain-http forms.
    if (context.entry) context.entry = &fetched_form(*context.entry, options_.tile_hosts.has_value());
    context.fetcher = fetcher();
    context.settings = read_fetch_settings(dir_);
    if (context.entry) context.key = read_source_key(dir_, context.entry->name);
    context.health = health_;
    context.now = now();
    return context;
}

const CatalogueEntry* App::current_entry() const {
    if (!ws_) return nullptr;
    const CatalogueEntry* e = catalogue_.find(site_name_, ws_->aerial);
    return e ? e : catalogue_.find(site_name_, false);
}

std::string App::map_message() const {
    // The receiver's state comes first: none chosen yet, why it could not be opened, that it has
    // gone, refused, fell silent or lost its peer.
    if (receiver_) {
        const ReceiverStatus status = receiver_->status();
        if (!receiver_chosen_ && status.state == ReceiverState::Closed) return kNoReceiverChosenText;
        if (status.state == ReceiverState::Failed && !receiver_->active()) return "No GPS connected: " + status.cause;
        if (receiver_trouble(status.state)) return status.cause;
    }
    const CatalogueEntry* e = current_entry();
    std::string message = e && ws_->online.load() ? health_->message(e->name, now()) : std::string();
    if (message.empty()) message = mqtt_message();
    if (message.empty() && !region_message_.empty() && now() < region_message_until_) message = region_message_;
    if (message.empty() && source() == MapSource::Etopo2 && !elevation())
        message = etopo2_without_elevation_text(maps_root());
    return message;
}

bool App::may_fetch() const {
    if (!ws_ || !ws_->online.load()) return false;
    const CatalogueEntry* e = current_entry();
    return !e || !health_->paused(e->name, now());
}

bool App::source_off_line() const {
    if (!ws_ || !ws_->online.load()) return true;
    const CatalogueEntry* e = current_entry();
    return e && health_->silent(e->name);
}

void App::start_probe_if_needed() {
    if (!options_.start_probe || probe_ || !ws_) return;
    const CatalogueEntry* e = current_entry();
    if (!e || !e->original || (*e->original != MapSource::GoogleMaps && *e->original != MapSource::VirtualEarth)) return;
    probe_ = std::make_unique<ConnectivityProbe>();
    probe_->start(options_.probe, versions_);
}

std::string App::attribution() const {
    const CatalogueEntry* e = current_entry();
    std::string own = e ? e->attribution : std::string();
    // A vector source without one of its own credits what its TileJSON says.
    if (e && own.empty() && e->kind == SourceKind::remote_vector)
        if (const auto tj = cached_tilejson(*e, maps_root())) own = tj->attribution;
    // Cells the source could not give show a vector pack or the lighter Atlas: the credit names what
    // is drawn.
    std::string credit = own;
    if (layer_.shows_stand_ins())
        credit = !layer_.shows_source_tiles() ? atlas_entry().attribution
                                               : (own.empty() ? std::string("Atlas stand-ins") : own + " · Atlas stand-ins");
    for (const std::string& pack : layer_.stand_in_pack_credits()) credit += (credit.empty() ? "" : " · ") + pack;
    return credit;
}

// The name of the `site` value in the catalogue: the value itself when a source has that name,
// else the original source its first letter selects (the window state's rule).
static std::string site_from_setting(const Catalogue& catalogue, const std::filesystem::path& set_file,
                                     MapSource map_source) {
    if (const auto value = setting_value(set_file, "site"))
        if (catalogue.find(*value, false) || catalogue.find(*value, true)) return *value;
    return source_info(map_source).site_value;
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
    ais_feed_.set_rules(ws_->ais_rules);
    if (ws_->recording.record)
        recorder_ = std::make_unique<TrackRecorder>(
            TrackRecorder::Options{recording_folder(ws_->recording, dir_), ws_->recording.split_by_day}, now());
    start_fleet();
    route_ = std::make_unique<AppRoute>();
    route_->speech = setting_value(settings_path(kIniFile), "speech").value_or("") == "yes";
    set_vector_night_style(ws_->night);
    start_mqtt();
    // Temporary files that a killed run left beside the settings, in the sources' cache folders and
    // in the packs folder, swept off the window thread.
    sweeper_ = std::thread([this, places = temporary_file_places(catalogue_, maps_root(), dir_)] {
        remove_stale_temporary_files(places, kStaleTempAge, &sweep_stop_);
    });
    // The tile cache brought under its size limit, when one is set, in the background too.
    if (const auto mb = setting_value(settings_path(kIniFile), "cachemb=");
        mb && preference_problem("cachemb", *mb).empty())
        if (const std::uint64_t limit = std::stoull(*mb); limit > 0)
            start_cache_trim(limit, [](const std::string& result) { report("Tile cache: " + result); });

    // The tile sources: built-in ones and vor_src.txt. A `site` value naming any of them selects it.
    for (const auto& problem : catalogue_.problems)
        report("Error: " + problem + " (" + (problem.starts_with(kSourcesFile) ? "line" : "map pack") + " skipped)");
    site_name_ = site_from_setting(catalogue_, settings_path(kSetFile), ws_->map_source);
    if (const CatalogueEntry* e = current_entry()) {
        ws_->map_source = e->geometry();
        if (!catalogue_.has_aerial(e->name)) ws_->aerial = false;
        if (!e->original) {
            for (const auto& info : kMapSources) window.check_menu_item(info.command, false);
            window.check_menu_item(e->menu_id, true);
        }
    }

    fix_notice_ = std::make_unique<FixNotice>(&window);
    receiver_setup_.settings_dir = dir_;
    receiver_setup_.silence_ticks = &ws_->silence_ticks;
    receiver_setup_.fix_notice = fix_notice_.get();
    receiver_setup_.ais = &ais_feed_;
    receiver_setup_.clock_seconds = [clock = clock_] { return static_cast<long long>(clock->now_seconds()); };
    receiver_setup_.server = options_.server;
    receiver_setup_.server.on_device = [this](const DeviceReport& d) { device_report(d); };
    receiver_setup_.silent_after = options_.receiver_silent_after;
    apply_line_settings();
    use_receiver(ws_->device_type);
    // A start where no receiver was ever chosen opens nothing; a receiver that cannot be opened at
    // start is told in the message line (with Detect beside it), never in a box: nothing is asked.
    receiver_chosen_ = ws_->device_type == DeviceType::Remote || is_network_device(ws_->device_type) ||
                       look_up_setting(settings_path(kSetFile), "port").status == SettingLookup::Status::Found;
    if (receiver_chosen_ && (ws_->line.port_number != 0 || is_network_device(ws_->device_type))) {
        if (!open_link()) {
            const ReceiverStatus status = receiver_->status();
            if (status.state == ReceiverState::Failed) report(status.cause, DiagnosticStream::Error);
        }
        ws_->link_active.store(receiver_->active());
    }

    // 3. Map size; the client area fits it (two frame pixels across, the toolbar band and frame down).
    set_map_size(view_, ws_->big_maps);
    layer_.set_area(view_.map_width, view_.map_height);
    view_.client_width = view_.map_width + toolbar::kFrameWidth;
    view_.client_height = view_.map_height + toolbar::kBandAndFrameHeight;
    window.set_client_size(view_.client_width, view_.client_height);
    view_.applied_big_maps = ws_->big_maps;

    // One engine for every fetch of the window (the view's tiles, revalidations, Reload Map), so its
    // per-host cap counts them all.
    if (!options_.fetcher) {
        FetcherOptions fetcher_options;
        fetcher_options.user_agent = vorglobal_user_agent(read_fetch_settings(dir_).contact);
        fetcher_ = std::make_unique<Fetcher>(fetcher_options);
    }
    if (options_.background_tiles) {
        layer_.attach_loader(std::make_unique<TileLoader>(*fetcher(), [&window] { window.invalidate(false); }));
        layer_.set_notify([&window] { window.invalidate(false); });
    }
    if (options_.background_tiles) dem_loader_ = std::make_unique<TileLoader>(*fetcher(), [&window] { window.invalidate(false); });
    elevation_ = options_.elevation ? options_.elevation : elevation_for(maps_root(), catalogue_.elevation_source());
    // The trip's heights come from the elevation data where there is some (models live for the run).
    trip_ = RecordedTrip(elevation_.get());
    lap_ = RecordedTrip(elevation_.get());

    // 4. The version probe, only for the sources whose addresses need it.
    start_probe_if_needed();

    // 5-7. Zone, level and start position.
    const std::optional<StartPosition> start = init_view_state(view_, *ws_, dir_, &fix_);
    view_.pointer = {};

    // 8. The start centre. Without a start position the view starts from the default one, but no
    // view is loaded until navigation or the first fix asks for one.
    const double lat = start ? start->latitude : kDefaultStartLatitude;
    const double lon = start ? start->longitude : kDefaultStartLongitude;
    const WorldPixel p = geo_to_pixel(lat, lon, source(), view_.level);
    view_.centre_x = wrap_view_x(p.x, view_.level, source());
    view_.centre_y = clamp_view_y(p.y, view_.level, source());
    view_.anchor = view_.centre();
    if (!start) {
        view_.uploaded_lat = lat;
        view_.uploaded_lon = lon;
    }

    if (start) {
        // 9-11. The first view, fetched whatever the network state says: in the background the
        // cached part at once and the rest as it arrives.
        WaitCursor wait(background() ? nullptr : &window);
        show_view(view_.level, view_.centre_x, view_.centre_y,
                  background() ? MapLayer::Fetch::Later : MapLayer::Fetch::Now);
    }

    // 12. The timer.
    window.start_timer(kTimerPeriodMs);
}

void App::set_map_area(int client_width, int client_height) {
    // Two frame pixels across; the toolbar band, the frame and a pixel below it down.
    view_.map_width = std::max(1, client_width - toolbar::kFrameWidth);
    view_.map_height = std::max(1, client_height - toolbar::kBandAndFrameHeight);
    layer_.set_area(view_.map_width, view_.map_height);
}

void App::on_size(int width, int height) {
    if (!ws_) return;
    view_.client_width = width;
    view_.client_height = height;
    // The map area takes the space; when it needs more (or fewer) cells the view is loaded again
    // around the same centre.
    set_map_area(width, height);
    if (window_) window_->invalidate(true);
    if (view_loaded_ && !(layer_.grid_for(view_.centre_x, view_.centre_y) == layer_.grid())) {
        view_.pending = view_.centre();
        load_pending_view(Variant::CacheOnlyThenOnline, true);
        return;
    }
    rebuild_bitmap();
}

void App::on_close() {
    if (!ws_ || !receiver_) return;
    close_link();
    ws_->link_active.store(false);
}

void App::on_destroy() {
    detect_.cancel();  // its callbacks reach the window
    stop_routing();    // the routers' workers invalidate the window
    stop_region();     // within one range of the archive; its progress reaches the window
    stop_search();     // within one tile of the indexing; its news reaches the window
    sweep_stop_.store(true);
    if (sweeper_.joinable()) sweeper_.join();
    trim_stop_.store(true);
    if (trimmer_.joinable()) trimmer_.join();
    if (!ws_) return;
    if (receiver_ && receiver_->active()) close_link();
    ws_->link_active.store(false);
    // The probe writes into the window state; it ends within its request waits.
    if (probe_) probe_->wait();
    probe_.reset();
    layer_.release_loader();
    dem_loader_.reset();
    fetcher_.reset();
    std::unique_ptr<Receiver> receiver;
    {
        std::lock_guard lock(receiver_mutex_);
        receiver = std::move(receiver_);
    }
    receiver.reset();  // closed outside the lock: a writer waiting for it is not held up
    if (replay_thread_.joinable()) replay_thread_.join();
    fleet_store_.reset();  // what is queued committed
    recorder_.reset();  // the day's GPX written whole
    mqtt_.reset();      // the last will sent; within about a second
    ws_.reset();
}

// ---- views -------------------------------------------------------------------------------------

std::string etopo2_without_elevation_text(const std::string& maps_root) {
    return "No elevation data \u2014 Etopo2 shows the Atlas; put .hgt files in " +
           (std::filesystem::path(maps_root) / "dem").string();
}

bool App::made_here() const {
    const CatalogueEntry* e = current_entry();
    return e && tile_source_kind(*e).made_here(*e);
}

LayerSource App::layer_source(bool with_context) const {
    LayerSource src;
    if (!ws_) return src;
    src.source = source();
    src.aerial = ws_->aerial;
    src.root = maps_root();
    src.shown = current_entry();
    if (with_context) src.context = fetch_context();
    src.made_here = made_here();
    src.off_line = source_off_line();
    src.connections = options_.tile_connections;
    src.limits = options_.tile_limits;
    src.test_clock = options_.clock != nullptr;
    // Sharp cells for any kind of source: the fetched ones, and the Atlas, Etopo2 and packs that make
    // theirs here. Hosts given explicitly keep the original sources on their plain-http forms
    // (fetch_context).
    const CatalogueEntry* e = src.shown;
    if (!src.made_here)
        for (const CatalogueEntry& pack : catalogue_.entries)
            if (pack.kind == SourceKind::vector && pack.pack_path.size() > 0) src.stand_in_packs.push_back(&pack);
    src.elevation = elevation();
    src.hillshade = ws_->hillshade;
    src.elevation_generation = elevation_generation_;
    src.shading = ws_->shading;
    if (e && e->kind == SourceKind::remote_vector) src.drawn = e;
    const FineOrigin origin = e ? fine_origin(*e, view_.level) : FineOrigin::none;
    if (origin != FineOrigin::none &&
        !(origin == FineOrigin::fetched && options_.tile_hosts && e->original && !e->from_user_file))
        src.fine = e;
    return src;
}

MapLayer::Shown App::show_view(int level, int cx, int cy, MapLayer::Fetch fetch, bool force, bool bitmap_later) {
    const MapLayer::Shown shown = layer_.show(layer_source(), level, cx, cy, fetch, force);
    if (shown == MapLayer::Shown::NoTiles) return shown;
    view_.level = level;
    view_.centre_x = cx;
    view_.centre_y = cy;
    view_loaded_ = true;
    if (shown == MapLayer::Shown::MosaicFailed) {
        if (window_) window_->warning_box(kMosaicFailedText);
        return shown;
    }
    if (bitmap_later)
        bitmap_due_ = true;
    else
        rebuild_bitmap();
    if (window_) window_->invalidate(true);
    return shown;
}

void App::set_device_scale(int scale) {
    if (!ws_) {
        layer_.set_device_scale(LayerSource{}, scale, false);
        return;
    }
    if (layer_.set_device_scale(layer_source(), scale, background() && may_fetch()) && window_)
        window_->invalidate(false);
}

bool App::background() const { return ws_ && layer_.background(layer_source(false)); }

void App::request_view_tiles(bool all) {
    layer_.request(layer_source(), all);
    // Shaded maps and Etopo2's relief want the elevation tiles of the view too.
    if (elevation_ && ws_ && (ws_->hillshade || source() == MapSource::Etopo2)) request_dem_tiles();
}

void App::rebuild_bitmap() {
    bitmap_due_ = false;
    if (!layer_.mosaic().exists()) return;
    layer_.overlays_cleared();
    if (!build_display_bitmap(layer_.mosaic(), view_.display_bitmap) && window_) window_->warning_box(kDisplayBitmapFailedText);
}

void App::normalise_pending() {
    ViewTarget& t = view_.pending;
    t.x = wrap_view_x(t.x, t.level, source());
    t.y = clamp_view_y(t.y, t.level, source());
}

bool App::load_pending_view(Variant variant, bool bitmap_later) {
    const bool fetch = variant == Variant::Fetch ||
                       ((variant == Variant::ByOnline || variant == Variant::CacheOnlyThenOnline) &&
                        may_fetch());
    const MapLayer::Fetch how = !fetch ? MapLayer::Fetch::CacheOnly
                                : background() ? MapLayer::Fetch::Later
                                               : MapLayer::Fetch::Now;
    // Fetch asks the source again for every cell, even when the cells are those shown.
    return show_view(view_.pending.level, view_.pending.x, view_.pending.y, how, variant == Variant::Fetch,
                     bitmap_later) != MapLayer::Shown::MosaicFailed;
}

void App::auto_pan_off() {
    ws_->auto_pan = false;
    if (window_) window_->check_menu_item(Command::AutoPan, false);
}

void App::auto_pan_on() {
    ws_->auto_pan = true;
    if (window_) window_->check_menu_item(Command::AutoPan, true);
}

void App::pan(int dx, int dy) {
    auto_pan_off();
    if (rows_run_north(source())) dy = -dy;
    view_.pending = {view_.level, view_.centre_x + dx, view_.centre_y + dy};
    normalise_pending();
    view_.anchor = view_.pending;
    view_.pointer = view_.pending;
    load_pending_view(Variant::ByOnline);
}

bool App::in_map(int x, int y) const {
    return y >= toolbar::kMapTop && y < toolbar::kMapTop + view_.map_height && x >= toolbar::kMapLeft &&
           x <= view_.map_width;
}

ViewTarget App::pointed_target(int x, int y) const {
    const int dy = y - toolbar::kMapTop - view_.map_height / 2;
    return {view_.level, x - 1 - view_.map_width / 2 + view_.centre_x,
            rows_run_north(source()) ? view_.centre_y - dy : view_.centre_y + dy};
}

}  // namespace vg
