// App: construction, window creation and shutdown, and loading views.
#include "app/app.h"


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
#include "platform/temp_files.h"
#include "platform/system.h"
#include "settings/settings_file.h"
#include "tiles/cache_sweep.h"
#include "tiles/geometry.h"
#include "tiles/catalogue_fetch.h"
#include "tiles/fine_tiles.h"
#include "tiles/local_source.h"
#include "tiles/tile_cache.h"
#include "tiles/tile_naming.h"

namespace vg {

using app_detail::WaitCursor;

App::App(std::filesystem::path settings_dir, AppOptions options)
    : dir_(std::move(settings_dir)), options_(std::move(options)),
      clock_(options_.clock ? options_.clock : &system_clock()), device_scale_(options_.device_scale >= 2 ? 2 : 1) {
    catalogue_ = load_catalogue(dir_);
    // Map packs in the packs folder of the cache root are sources too, after the user lines.
    std::string maps = setting_value(dir_ / kIniFile, "maps").value_or(kDefaultMapsDir);
    std::filesystem::path maps_path(normalise_root(maps));
    if (!maps_path.is_absolute() && !dir_.empty()) maps_path = dir_ / maps_path;
    add_packs(catalogue_, packs_folder(maps_path.string()));
    if (options_.http.settings_dir.empty()) options_.http.settings_dir = dir_;
    if (options_.probe.work_dir.empty()) options_.probe.work_dir = dir_;
    if (options_.probe.http.settings_dir.empty()) options_.probe.http.settings_dir = dir_;
    if (options_.server.settings_dir.empty()) options_.server.settings_dir = dir_;
    if (!options_.server.clock) options_.server.clock = [clock = clock_] { return clock->now_seconds(); };
}

App::~App() { on_destroy(); }

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
    if (options_.tile_hosts && context.entry && context.entry->original && !context.entry->from_user_file)
        context.entry = nullptr;
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
    // The receiver's state comes first: why it could not be opened, or that it has gone.
    if (link_ && !link_->link_active() && !link_->open_failure().empty())
        return "No GPS connected: " + link_->open_failure();
    if (link_ && link_->link_active() && link_->port_hung_up())
        return "Receiver " + link_->device_path() + " has gone; it is opened again when it comes back";
    const CatalogueEntry* e = current_entry();
    return e && ws_->online.load() ? health_->message(e->name, now()) : std::string();
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
    return e ? e->attribution : std::string();
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
    // Temporary files that a killed run left beside the settings, in the sources' cache folders and
    // in the packs folder, swept off the window thread.
    sweeper_ = std::thread([this, places = temporary_file_places(catalogue_, maps_root(), dir_)] {
        remove_stale_temporary_files(places, kStaleTempAge, &sweep_stop_);
    });

    // The tile sources: built-in ones and vor_src.txt. A `site` value naming any of them selects it.
    for (const auto& problem : catalogue_.problems)
        std::printf("Error: %s (%s skipped)\n", problem.c_str(), problem.starts_with(kSourcesFile) ? "line" : "map pack");
    std::fflush(stdout);
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
    server_ = std::make_unique<PositionServer>(fix_, fix_notice_.get());
    SerialLinkOptions link_options;
    link_options.ini_file = settings_path(kIniFile);
    link_options.pos_file = settings_path(kPosFile);
    link_options.clock_seconds = [clock = clock_] { return static_cast<long long>(clock->now_seconds()); };
    link_options.fix_notice = fix_notice_.get();
    link_options.remote.start = [this] {
        // The server listens on the port of the `base` line, as the copies that post to it are told;
        // a port the caller chose (tests: 0, any free one) stays.
        PositionServerConfig config = options_.server;
        if (config.port == PositionServerConfig{}.port && ws_->base_port > 0 && ws_->base_port <= 65535)
            config.port = ws_->base_port;
        return server_->start(config);
    };
    link_options.remote.stop = [this] { server_->stop(); };
    StreamSourceOptions stream_options;
    stream_options.fix_notice = fix_notice_.get();
    stream_options.clock_seconds = link_options.clock_seconds;
    stream_options.silence_ticks = &ws_->silence_ticks;
    stream_ = std::make_unique<StreamSource>(fix_, std::move(stream_options));
    link_options.network.start = [this](DeviceType type) { return start_network_source(type); };
    link_options.network.stop = [this] { stream_->stop(); };
    link_ = std::make_unique<SerialLink>(fix_, ws_->silence_ticks, std::move(link_options));
    link_->set_settings(ws_->line);
    link_->set_device_type(ws_->device_type);
    if (ws_->line.port_number != 0 || is_network_device(ws_->device_type)) {
        if (!open_link()) no_gps_connected();
        ws_->link_active.store(link_->link_active());
    }

    // 3. Map size; the client area fits it (two frame pixels across, the toolbar band and frame down).
    set_map_size(view_, ws_->big_maps);
    grid_ = view_grid_covering(view_.map_width, view_.map_height);
    view_.client_width = view_.map_width + 2;
    view_.client_height = view_.map_height + 51;
    window.set_client_size(view_.client_width, view_.client_height);
    view_.applied_big_maps = ws_->big_maps;

    // One engine for every fetch of the window (the view's tiles, revalidations, Reload Map), so its
    // per-host cap counts them all.
    if (!options_.fetcher) {
        FetcherOptions fetcher_options;
        fetcher_options.user_agent = vorglobal_user_agent(read_fetch_settings(dir_).contact);
        fetcher_ = std::make_unique<Fetcher>(fetcher_options);
    }
    if (options_.background_tiles)
        loader_ = std::make_unique<TileLoader>(*fetcher(), [&window] { window.invalidate(false); });

    // 4. The version probe, only for the sources whose addresses need it.
    start_probe_if_needed();

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
        if (background()) {
            // The cached part at once; the rest arrives in the background.
            if (prepare_tiles(table_, view_.centre_x, view_.centre_y, view_.level, false)) {
                view_loaded_ = true;
                if (compose()) window.invalidate(true);
                request_view_tiles(false);
            }
        } else {
            WaitCursor wait(&window);
            if (prepare_tiles(table_, view_.centre_x, view_.centre_y, view_.level, true)) {
                view_loaded_ = true;
                if (compose()) window.invalidate(true);
            }
        }
    }

    // 12. The timer.
    window.start_timer(kTimerPeriodMs);
}

void App::set_map_area(int client_width, int client_height) {
    // Two frame pixels across; the toolbar band, the frame and a pixel below it down.
    view_.map_width = std::max(1, client_width - 2);
    view_.map_height = std::max(1, client_height - 51);
    grid_ = view_grid_covering(view_.map_width, view_.map_height);
}

void App::on_size(int width, int height) {
    if (!ws_) return;
    view_.client_width = width;
    view_.client_height = height;
    // The map area takes the space; when it needs more (or fewer) cells the view is loaded again
    // around the same centre.
    const ViewGrid before = grid_;
    set_map_area(width, height);
    if (window_) window_->invalidate(true);
    if (view_loaded_ && !(grid_ == before)) {
        view_.pending_level = view_.level;
        view_.pending_x = view_.centre_x;
        view_.pending_y = view_.centre_y;
        load_pending_view(Variant::CacheOnlyThenOnline);
        return;
    }
    rebuild_bitmap();
}

void App::on_close() {
    if (!ws_ || !link_) return;
    close_link();
    ws_->link_active.store(false);
}

void App::on_destroy() {
    sweep_stop_.store(true);
    if (sweeper_.joinable()) sweeper_.join();
    if (!ws_) return;
    if (link_ && link_->link_active()) close_link();
    ws_->link_active.store(false);
    // The probe writes into the window state; it ends within its request waits.
    if (probe_) probe_->wait();
    probe_.reset();
    loader_.reset();
    fetcher_.reset();
    link_.reset();
    server_.reset();
    ws_.reset();
}

// ---- views -------------------------------------------------------------------------------------

bool App::made_here() const {
    const CatalogueEntry* e = current_entry();
    return (e && is_offline_entry(*e)) || (source() == MapSource::Etopo2 && has_local_tile_maker());
}

bool App::prepare_tiles(TilePathTable& table, int cx, int cy, int level, bool fetch) {
    const std::string root = maps_root();
    // Tiles made on this machine need no network: missing ones are made at once, on line or off.
    if (fetch || made_here()) {
        const bool ok = fetch_view_tiles(table, cx, cy, level, source(), root, ws_->aerial, grid_, fetch_context());
        // A cell still empty after downloading could not be had from the source: compose shows the
        // Atlas there as it does off line.
        fetch_missed_ = !made_here() &&
                        std::any_of(table.slots.begin(), table.slots.end(), [](const std::string& s) { return s.empty(); });
        return ok;
    }
    fetch_missed_ = false;
    return find_view_tiles(table, cx, cy, level, source(), root, ws_->aerial, grid_, current_entry());
}

bool App::compose() {
    if (!build_mosaic(table_, source(), ws_->aerial, grid_, mosaic_)) {
        if (window_) window_->warning_box(kMosaicFailedText);
        return false;
    }
    placeholder_cells_.assign(static_cast<std::size_t>(grid_.cells()), 0);
    if (loader_) draw_placeholders();
    if (source_off_line() || fetch_missed_) draw_atlas_fallback(-1);
    compose_fine();
    rebuild_bitmap();
    return true;
}

// ---- sharp cells on a screen of twice the pixel density ------------------------------------------
// The 1x mosaic and display bitmap stay exactly as on any screen; a sharp cell is drawn over its
// cell by the window layer. The sharp tiles are cached in their own folder beside the source's, are
// fetched after every 1x tile of the view (lower priority, same connections and health), and a cell
// shows its 1x tile enlarged until they land.

void App::set_device_scale(int scale) {
    const int s = scale >= 2 ? 2 : 1;
    if (s == device_scale_) return;
    device_scale_ = s;
    if (!ws_ || !view_loaded_) return;
    compose_fine();
    if (background() && may_fetch()) request_view_tiles(false);
    if (window_) window_->invalidate(false);
}

const CatalogueEntry* App::fine_entry() const {
    if (device_scale_ < 2 || !ws_) return nullptr;
    const CatalogueEntry* e = current_entry();
    // Any kind of source: the fetched ones, and the Atlas, Etopo2 and packs that make theirs here.
    const FineOrigin origin = e ? fine_origin(*e, view_.level) : FineOrigin::none;
    if (origin == FineOrigin::none) return nullptr;
    // Hosts given explicitly keep the original sources on their plain-http forms (fetch_context).
    if (origin == FineOrigin::fetched && options_.tile_hosts && e->original && !e->from_user_file) return nullptr;
    return e;
}

std::vector<std::pair<int, std::string>> App::fine_files(const CatalogueEntry& entry, int index, bool make) const {
    std::vector<std::pair<int, std::string>> files;
    if (grid_.columns < 1 || index < 0 || index >= grid_.cells()) return files;
    const WorldPixel p = view_cell_pixel(entry.geometry(), view_.centre_x, view_.centre_y, grid_,
                                         index / grid_.columns, index % grid_.columns);
    return fine_tile_files(entry, catalogue_tile_key(entry, p.x, p.y, view_.level), maps_root(), make);
}

void App::compose_fine() {
    fine_.clear();
    fine_wanted_.clear();
    fine_to_make_.clear();
    const CatalogueEntry* entry = fine_entry();
    if (!entry || !mosaic_.exists()) return;
    fine_.resize(static_cast<std::size_t>(grid_.cells()));
    const bool made_here = fine_origin(*entry, view_.level) == FineOrigin::made_here;
    for (int i = 0; i < grid_.cells(); ++i)
        if (static_cast<std::size_t>(i) < table_.slots.size() && !table_.slots[static_cast<std::size_t>(i)].empty()) {
            fill_fine_cell(i, true);
            if (made_here && fine_[static_cast<std::size_t>(i)].quarters != 0xFu) fine_to_make_.push_back(i);
        }
    // Sources made here draw (or copy) the missing ones over the next paints, middle cells first.
    auto distance = [&](int i) {
        const int dx = 2 * (i % grid_.columns) + 1 - grid_.columns, dy = 2 * (i / grid_.columns) + 1 - grid_.rows;
        return dx * dx + dy * dy;
    };
    std::stable_sort(fine_to_make_.begin(), fine_to_make_.end(),
                     [&](int a, int b) { return distance(a) < distance(b); });
}

void App::make_fine_cells() {
    const CatalogueEntry* entry = fine_to_make_.empty() ? nullptr : fine_entry();
    if (!entry) {
        fine_to_make_.clear();
        return;
    }
    // At least one cell a paint (a 512-pixel drawing takes a few milliseconds), then while the
    // paint's budget lasts; the window is asked for another paint while some are left.
    constexpr auto kPaintBudget = std::chrono::milliseconds(6);
    const auto start = std::chrono::steady_clock::now();
    std::size_t done = 0;
    while (done < fine_to_make_.size() && (done == 0 || std::chrono::steady_clock::now() - start < kPaintBudget)) {
        const int index = fine_to_make_[done++];
        fine_files(*entry, index, true);
        fill_fine_cell(index, true);
    }
    fine_to_make_.erase(fine_to_make_.begin(), fine_to_make_.begin() + static_cast<std::ptrdiff_t>(done));
    if (!fine_to_make_.empty() && window_) window_->invalidate(false);
}

void App::fill_fine_cell(int index, bool from_cache) {
    const CatalogueEntry* entry = fine_entry();
    if (!entry || index < 0 || static_cast<std::size_t>(index) >= fine_.size()) return;
    FineCell& f = fine_[static_cast<std::size_t>(index)];
    std::vector<std::pair<int, std::string>> cached;
    if (from_cache) {
        for (auto& [q, path] : fine_files(*entry, index)) {
            const unsigned bits = q < 0 ? 0xFu : 1u << q;
            std::error_code ec;
            if ((f.quarters & bits) != bits && std::filesystem::file_size(path, ec) > 0 && !ec)
                cached.emplace_back(q, std::move(path));
        }
        // Nothing sharp to show: the window layer draws the 1x cell enlarged, which looks the same.
        if (cached.empty() && f.quarters == 0) return;
    }
    if (!enlarge_mosaic_cell(mosaic_, grid_, index, f.image, f.quarters)) return;
    for (const auto& [q, path] : cached)
        if (draw_fine_tile(path, q, f.image)) f.quarters |= q < 0 ? 0xFu : 1u << q;
    f.dirty = 0xFu;
}

void App::draw_atlas_fallback(int index) {
    const MapSource src = source();
    if (!is_mercator(src) || made_here() || !mosaic_.exists()) return;
    const std::string root = maps_root();
    for (int i = index < 0 ? 0 : index; i < (index < 0 ? grid_.cells() : index + 1); ++i) {
        const std::size_t at = static_cast<std::size_t>(i);
        if (at < table_.slots.size() && !table_.slots[at].empty()) continue;
        if (at < placeholder_cells_.size() && placeholder_cells_[at]) continue;
        const WorldPixel p = view_cell_pixel(src, view_.centre_x, view_.centre_y, grid_, i / grid_.columns,
                                             i % grid_.columns);
        const std::string path = faded_atlas_tile(p.x, p.y, view_.level, src, root);
        // The Atlas is PNG whatever the source's own tiles are.
        if (!path.empty()) build_mosaic_cell(path, MapSource::OpenStreetMap, false, grid_, i, mosaic_);
    }
}

bool App::background() const { return loader_ != nullptr && source() != MapSource::Etopo2 && !made_here(); }

void App::request_view_tiles(bool all) {
    if (!background()) return;
    const MapSource src = source();
    const bool aerial = ws_->aerial;
    const std::string root = maps_root();
    const TileHosts& hosts = options_.tile_hosts ? *options_.tile_hosts : default_tile_hosts();
    const TileVersionTexts versions = current_version_texts(&versions_);
    // A catalogue source fetched with its policy: its template, folders, connections and freshness.
    const FetchContext context = fetch_context();
    const CatalogueEntry* entry = context.entry && context.entry->uses_fetcher() ? context.entry : nullptr;
    // A source paused after failures (silent host, blocked, rate-limited) is not asked again yet;
    // Reload Map and Online end the pause before they get here.
    const CatalogueEntry* shown = current_entry();
    const bool paused = shown && health_->paused(shown->name, context.now);
    std::vector<TileLoader::Want> wants;
    std::vector<CatalogueCell> cached;
    std::vector<std::string> cached_slots;
    cached_slots.reserve(static_cast<std::size_t>(grid_.rows * grid_.columns));
    wanted_cells_.clear();
    failed_tiles_ = 0;
    failure_reason_.clear();
    for (int r = 0; r < grid_.rows; ++r)
        for (int c = 0; c < grid_.columns; ++c) {
            const int i = r * grid_.columns + c;
            const WorldPixel p = view_cell_pixel(src, view_.centre_x, view_.centre_y, grid_, r, c);
            const bool have = static_cast<std::size_t>(i) < table_.slots.size() && !table_.slots[i].empty();
            std::string path;
            std::optional<std::string> url;
            if (entry) {
                if (!entry->has_level(view_.level)) continue;
                if (have && !all) {
                    // Drawn at once; a stale one is revalidated in the background.
                    cached_slots.push_back(table_.slots[i]);
                    cached.push_back({&cached_slots.back(), p.x, p.y});
                    continue;
                }
                if (paused) continue;
                const TileKey key = catalogue_tile_key(*entry, p.x, p.y, view_.level);
                if (!tile_in_world(key)) continue;
                path = catalogue_tile_paths(*entry, key, root).full_path;
                url = expand_template(*entry, view_.level, key.row, key.column, context.key);
                if (!url) {
                    FetchResult missing;
                    missing.outcome = FetchOutcome::bad_request;
                    missing.cause = "no key_" + entry->name + " line in vor_ini.txt";
                    health_->record(entry->name, missing, entry->tmpl, context.now);
                    continue;
                }
            } else {
                if ((!all && have) || paused) continue;
                const TileKey key = tile_key(p.x, p.y, view_.level, src, aerial);
                if (!tile_in_world(key)) continue;
                path = vg::tile_paths(key, root).full_path;
                url = tile_address(key, hosts, versions);
                if (!url) continue;
            }
            if (path.empty() || path.size() > kMaxTilePath) continue;
            // Squared distance of the cell's middle from the view's middle, in half cells.
            const int dx = 2 * c + 1 - grid_.columns, dy = 2 * r + 1 - grid_.rows;
            wants.push_back({path, *url, dx * dx + dy * dy});
            wanted_cells_[path] = i;
        }
    // On a screen of twice the pixel density, the sharp tiles of the cells come after every 1x tile.
    fine_wanted_.clear();
    if (const CatalogueEntry* fine = entry && !paused ? fine_entry() : nullptr) {
        constexpr int kAfterEveryCell = 1 << 20;
        for (int i = 0; i < grid_.cells(); ++i) {
            const int dx = 2 * (i % grid_.columns) + 1 - grid_.columns, dy = 2 * (i / grid_.columns) + 1 - grid_.rows;
            const WorldPixel p = view_cell_pixel(src, view_.centre_x, view_.centre_y, grid_, i / grid_.columns,
                                                 i % grid_.columns);
            const TileKey key = catalogue_tile_key(*fine, p.x, p.y, view_.level);
            for (auto& [q, path] : fine_files(*fine, i)) {
                std::error_code ec;
                if (!all && std::filesystem::file_size(path, ec) > 0 && !ec) continue;
                const auto url = expand_fine_template(*fine, view_.level, key.row, key.column, q, context.key);
                if (!url || path.size() > kMaxTilePath) continue;
                wants.push_back({path, *url, kAfterEveryCell + dx * dx + dy * dy});
                fine_wanted_[path] = {i, q};
            }
        }
    }
    if (entry && !cached.empty()) revalidate_catalogue_tiles(cached, view_.level, root, context);
    const FetchSettings settings = read_fetch_settings(dir_);
    TileLoader::Policy policy;
    policy.host_connections = options_.tile_connections;
    policy.proxy = settings.proxy;
    policy.cafile = settings.cafile;
    if (entry) {
        policy.host_connections = entry->conn;
        policy.expected_type = entry->extension() == "jpg" ? "image/jpeg" : "image/png";
        policy.health = health_;
        policy.source = entry->name;
        policy.fresh_seconds = static_cast<std::int64_t>(entry->fresh_days) * 86400;
        policy.now = options_.clock ? context.now : 0;
    } else if (shown) {
        // An original source: its transfers count for its health (pause, message), nothing more.
        policy.health = health_;
        policy.source = shown->name;
        policy.cache_records = false;
        policy.now = options_.clock ? context.now : 0;
    }
    policy.limits = options_.tile_limits;
    loader_->want(std::move(wants), policy);
}

void App::take_landed_tiles() {
    if (!loader_) return;
    const MapSource src = source();
    // A cell drawn anew goes into the bitmap alone (the overlays are stamped again by this paint);
    // the whole bitmap is made again only when it does not match the mosaic.
    bool rebuild = false;
    auto show_cell = [&](int index) {
        if (!copy_cell_to_bitmap(mosaic_, grid_, index, view_.display_bitmap)) rebuild = true;
    };
    // One paint takes what it can draw in a few milliseconds (a sharp cell's tiles are large); the
    // rest stays queued and counted, and the window is asked for another paint right away.
    constexpr auto kPaintBudget = std::chrono::milliseconds(6);
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        if (std::chrono::steady_clock::now() - start >= kPaintBudget) {
            if (loader_->has_landed() && window_) window_->invalidate(false);
            break;
        }
        std::vector<TileLoader::Landed> next = loader_->take_landed(1);
        if (next.empty()) break;
        const TileLoader::Landed& landed = next.front();
        if (auto f = fine_wanted_.find(landed.path); f != fine_wanted_.end()) {
            // A sharp tile: drawn into its cell's quarter (or the whole cell). One that failed
            // leaves the 1x tile enlarged there; the source's health has noted why.
            const auto [index, quarter] = f->second;
            if (landed.ok && static_cast<std::size_t>(index) < fine_.size()) {
                FineCell& cell = fine_[static_cast<std::size_t>(index)];
                // The first sharp tile of a cell starts from its 1x pixels enlarged; later ones only
                // replace their quarter (a 1x tile landing refreshes the rest, fill_fine_cell).
                bool ready = cell.image.width == kFineCellSize;
                if (!ready && enlarge_mosaic_cell(mosaic_, grid_, index, cell.image)) {
                    ready = true;
                    cell.dirty = 0xFu;
                }
                const unsigned bits = quarter < 0 ? 0xFu : 1u << quarter;
                if (ready && draw_fine_tile(landed.path, quarter, cell.image)) {
                    cell.quarters |= bits;
                    cell.dirty |= bits;
                }
            }
            continue;
        }
        if (!landed.ok) {
            // Only a cell of this view counts as failed; a tile of a view already left does not.
            auto it = wanted_cells_.find(landed.path);
            if (it == wanted_cells_.end()) continue;
            ++failed_tiles_;
            failure_reason_ = landed.reason;
            // The source cannot give this cell: the Atlas stands in, lighter, instead of grey.
            draw_atlas_fallback(it->second);
            show_cell(it->second);
            continue;
        }
        // MapQuest answers a missing tile with a placeholder picture of a known size.
        std::error_code ec;
        if (src == MapSource::MapQuest && std::filesystem::file_size(landed.path, ec) == kMapQuestNoTileSize) {
            std::filesystem::remove(landed.path, ec);
            continue;
        }
        auto it = wanted_cells_.find(landed.path);
        if (it == wanted_cells_.end()) continue;  // arrived for a view already left: it stays cached
        table_.fit(grid_);
        table_.slots[static_cast<std::size_t>(it->second)] = landed.path;
        if (!build_mosaic_cell(landed.path, src, ws_->aerial, grid_, it->second, mosaic_))
            table_.slots[static_cast<std::size_t>(it->second)].clear();
        else if (!fine_.empty())
            fill_fine_cell(it->second, true);  // the quarters not sharp yet show the new tile enlarged
        show_cell(it->second);
    }
    if (rebuild) rebuild_bitmap();
}

void App::draw_placeholders() {
    const MapSource src = source();
    // Ancestors are found for sources whose rows run from the north (their tiles nest simply).
    if (src == MapSource::Etopo2 || rows_run_north(src) || !mosaic_.exists()) return;
    const bool aerial = ws_->aerial;
    const std::string root = maps_root();
    std::map<std::string, RgbImage> decoded;  // each ancestor decoded once
    for (int r = 0; r < grid_.rows; ++r)
        for (int c = 0; c < grid_.columns; ++c) {
            const std::size_t i = static_cast<std::size_t>(r * grid_.columns + c);
            if (i < table_.slots.size() && !table_.slots[i].empty()) continue;
            const WorldPixel p = view_cell_pixel(src, view_.centre_x, view_.centre_y, grid_, r, c);
            for (int k = view_.level - 1; k >= 0; --k) {
                const int ax = rescale_x(p.x, view_.level, k, src), ay = rescale_y(p.y, view_.level, k, src);
                const TileKey key = tile_key(ax, ay, k, src, aerial);
                if (!tile_in_world(key)) break;
                const std::string path = vg::tile_paths(key, root).full_path;
                std::error_code ec;
                if (path.empty() || std::filesystem::file_size(path, ec) == 0 || ec) continue;
                auto it = decoded.find(path);
                if (it == decoded.end()) {
                    RgbImage image;
                    if (!load_tile_image(path, src, aerial, image)) image = RgbImage{};
                    it = decoded.emplace(path, std::move(image)).first;
                }
                const RgbImage& a = it->second;
                if (a.width < kTileSize || a.height < kTileSize) continue;
                // The cell's part of the ancestor: a square of 256 / 8^(level − k) pixels, enlarged.
                int span = kTileSize;
                for (int j = k; j < view_.level; ++j) span /= 8;
                if (span < 1) span = 1;
                const int sx = ((ax % kTileSize) + kTileSize) % kTileSize, sy = ((ay % kTileSize) + kTileSize) % kTileSize;
                const std::size_t stride = std::size_t(mosaic_.width) * 3;
                for (int v = 0; v < kTileSize; ++v) {
                    const int yy = std::min(sy + v * span / kTileSize, kTileSize - 1);
                    std::uint8_t* out = mosaic_.pixels.data() + (std::size_t(r) * kTileSize + v) * stride +
                                        std::size_t(c) * kTileSize * 3;
                    const std::uint8_t* in = a.pixels.data() + std::size_t(yy) * a.width * 3;
                    for (int u = 0; u < kTileSize; ++u, out += 3) {
                        const int xx = std::min(sx + u * span / kTileSize, kTileSize - 1);
                        out[0] = in[3 * xx];
                        out[1] = in[3 * xx + 1];
                        out[2] = in[3 * xx + 2];
                    }
                }
                if (i < placeholder_cells_.size()) placeholder_cells_[i] = 1;
                break;
            }
        }
}

void App::rebuild_bitmap() {
    if (!mosaic_.exists()) return;
    if (!build_display_bitmap(mosaic_, view_.display_bitmap) && window_) window_->warning_box(kDisplayBitmapFailedText);
}

void App::normalise_pending() {
    view_.pending_x = wrap_centre_x(view_.pending_x, view_.pending_level, source());
    view_.pending_y = clamp_centre_y(view_.pending_y, view_.pending_level, source());
}

bool App::load_pending_view(Variant variant) {
    const bool fetch = variant == Variant::Fetch ||
                       ((variant == Variant::ByOnline || variant == Variant::CacheOnlyThenOnline) &&
                        may_fetch());
    // The tiles go to a scratch table first, so that a failure leaves the current view whole.
    TilePathTable table = table_;
    const bool later = fetch && background();
    if (!prepare_tiles(table, view_.pending_x, view_.pending_y, view_.pending_level, fetch && !later)) return true;
    if (loader_ && !later) loader_->cancel_all();
    table_ = std::move(table);
    view_.level = view_.pending_level;
    view_.centre_x = view_.pending_x;
    view_.centre_y = view_.pending_y;
    view_loaded_ = true;
    if (!compose()) return false;
    if (later) request_view_tiles(false);
    if (window_) window_->invalidate(true);
    return true;
}

void App::auto_pan_off() {
    ws_->auto_pan = false;
    if (window_) window_->check_menu_item(Command::AutoPan, false);
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
