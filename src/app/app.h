// The application: the one owner of the program-wide state (window state, view, fix record, tile
// paths, mosaic, receiver link, position server, version probe) and the handlers of the main
// window's events. Free of any toolkit: the window layer calls the handlers and draws the PaintFrame
// that paint() returns. Every handler runs on the window thread and does nothing before create()
// made the window state (or after on_destroy() freed it).
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "app/map_layer.h"
#include "app/paint_frame.h"
#include "app/place_search.h"
#include "app/track_plot.h"
#include "app/window_state.h"
#include "app/fleet.h"
#include "track/fleet_store.h"
#include "gps/ais_feed.h"
#include "gps/device_report.h"
#include "gps/fix_record.h"
#include "gps/serial_link.h"
#include "net/base_link.h"
#include "net/ntrip.h"
#include "net/mqtt_link.h"
#include "net/position_server.h"
#include "net/receiver_detect.h"
#include "net/receivers.h"
#include "net/stream_source.h"
#include "search/geocoder.h"
#include "platform/clock.h"
#include "platform/command.h"
#include "platform/fix_notice.h"
#include "platform/serial_ports.h"
#include "platform/window.h"
#include "route/route.h"
#include "tiles/elevation.h"
#include "tiles/image_decode.h"
#include "tiles/tile_catalogue.h"
#include "track/track_log.h"
#include "tiles/tile_loader.h"
#include "tiles/tile_sources.h"
#include "tiles/tile_types.h"
#include "tiles/tile_versions.h"
#include "track/gpx.h"
#include "track/track_record.h"
#include "track/trip_stats.h"

namespace vg {

enum class Key { Left, Up, Right, Down, Other };

// The position the view starts from when no start position could be read: N 60 10 30, E 24 55 00.
inline constexpr double kDefaultStartLatitude = 60.0 + 10.0 / 60 + 30.0 / 3600;
inline constexpr double kDefaultStartLongitude = 24.0 + 55.0 / 60;

// Period of the window timer.
inline constexpr int kTimerPeriodMs = 5000;

// What the program normally uses; tests replace the clock, the service hosts and the addresses.
struct AppOptions {
    const Clock* clock = nullptr;  // system_clock() when null
    // The probe of the version texts, run once when an original Google or Virtual Earth source is
    // shown; downloading never waits for it. Tests switch it off so nothing leaves the machine.
    bool start_probe = true;
    ProbeConfig probe;  // work_dir and http.settings_dir default to the settings directory
    // Tile service hosts; default_tile_hosts() when empty.
    std::optional<TileHosts> tile_hosts;
    HttpOptions http;  // settings_dir defaults to the settings directory
    // The position server of the Remote device (port 4477; settings_dir defaults as above).
    PositionServerConfig server;
    // The engine of every fetch of the window; when null the window makes its own at create().
    Fetcher* fetcher = nullptr;
    // Waits and size bound of each tile transfer (tests shorten the waits).
    TransferLimits tile_limits = TransferLimits::tiles();
    // Missing tiles of the view are fetched in the background (the view changes at once and its
    // cells fill in as the tiles arrive). Off: fetched before the view changes, as scripts do.
    bool background_tiles = true;
    // Connections per tile host for background fetching.
    int tile_connections = 2;
    // The window's device pixel ratio, rounded: 2 draws the cells of catalogue sources fetched by the
    // fetcher sharp, from the next web zoom's tiles or the source's 512-pixel tiles.
    int device_scale = 1;
    // Where the COM settings dialog looks for serial devices (tests point it at a made-up tree).
    SerialPortRoots serial_ports;
    // What Gps → Detect Receiver tries (tests point it at their own gpsd, port and terminal).
    DetectOptions detect;
    // After this long without data an open receiver is silent (the message line says so).
    std::chrono::milliseconds receiver_silent_after = kReceiverSilentAfter;
    // Elevation data in place of the maps folder's (tests give a synthetic landscape).
    std::shared_ptr<const ElevationModel> elevation;
    // The search field's worker (tests hold a query back with its hook).
    PlaceSearch::Options search;
    // The router of every route in place of the maps folder's routing databases and `router=`
    // (tests give a fake); called on the routing worker, once.
    std::function<std::unique_ptr<route::Router>()> router;
};

struct AppRoute;  // the route's state (app/app_route.h)

// The message line of Etopo2 shown without elevation data: the Atlas picture stands in.
std::string etopo2_without_elevation_text(const std::string& maps_root);

class App {
public:
    // `settings_dir` holds vor_set.txt, vor_ini.txt and vor_pos.txt; relative cache roots and track
    // files are taken from it (the program passes its working directory).
    explicit App(std::filesystem::path settings_dir, AppOptions options = {});
    ~App();
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    // Window creation: default files, window state, receiver link, probe, zone, level, start
    // position, first view, timer.
    void create(Window& window);
    void on_size(int width, int height);
    // The close box: closes the receiver link.
    void on_close();
    // The window goes: closes the link, waits for the probe and frees the window state.
    void on_destroy();
    // The paint handler: follows the receiver, updates the title and overlays, and says what to draw.
    PaintFrame paint();
    void on_command(Command id);
    void on_key_up(Key key);
    void on_left_button(int x, int y);
    void on_right_button(int x, int y);
    void on_mouse_move(int x, int y);
    // The mouse wheel or the + and - keys: `steps` zooms in (positive) or out, keeping the map point
    // under client point (x, y) under the pointer. A source that has the web zooms between its levels
    // steps through every one of them (up to the entry's finest); the others step level by level.
    void on_wheel(int steps, int x, int y);
    // The map was dragged by (dx, dy) client pixels: the view moves by exactly that.
    void on_drag(int dx, int dy);
    void on_timer();
    // The window moved to a screen of another pixel density (1, or 2 for sharp cells).
    void set_device_scale(int scale);
    int device_scale() const { return layer_.device_scale(); }

    // State, for the window layer and tests.
    const WindowState* window_state() const { return ws_.get(); }
    WindowState* window_state() { return ws_.get(); }
    const ViewState& view() const { return view_; }
    SharedFix& fix() { return fix_; }
    // Null before create().
    FixNotice* fix_notice() { return fix_notice_.get(); }
    const Mosaic& mosaic() const { return layer_.mosaic(); }
    const TilePathTable& tile_paths() const { return layer_.tile_paths(); }
    // The cells of the view: enough to cover the map area around the centre.
    const ViewGrid& grid() const { return layer_.grid(); }
    const MapLayer& layer() const { return layer_; }
    // Tiles of the view still on their way (background fetching).
    std::size_t tiles_left() const { return layer_.tiles_left(); }
    // The receiver chosen by the device setting (null before create()); the serial link when it is
    // one of the serial kinds; the position server when it is Remote.
    Receiver* receiver() { return receiver_.get(); }
    SerialLink* link() { return dynamic_cast<SerialLink*>(receiver_.get()); }
    PositionServer* position_server();
    // Window or any thread: writes bytes to the receiver (corrections) through Receiver::write,
    // bounded by the port's write time-out; false when there is no receiver or it takes no bytes.
    bool send_to_receiver(const std::uint8_t* data, std::size_t size);
    // True once a view has been loaded (the centre, level and mosaic belong together).
    bool view_loaded() const { return view_loaded_; }
    // The cache root as the tile functions get it (relative roots resolved against the settings
    // directory).
    std::string maps_root() const;
    // The tile source catalogue read at creation (built-in sources and vor_src.txt), and the name of
    // the selected source in it.
    const Catalogue& catalogue() const { return catalogue_; }
    // Heights: the model of the maps folder (its dem/*.hgt files, then the catalogue's elevation
    // source; AppOptions::elevation in tests), taken when the window is made and when the sources are
    // read again; null when there is none. Its samples may be taken from any thread.
    std::shared_ptr<const ElevationModel> elevation() const { return elevation_; }
    // Window thread: asks for the elevation source's tiles over the current view in the background
    // (at the view's web zoom, at most the source's finest; those cached are not asked for again),
    // the middle first, on a loader of their own; each landing invalidates the window. Nothing
    // without an elevation source or background loading, with Offline chosen, or while the source
    // is paused. The pointer's height asks for them when it has none; hillshade may too.
    void request_dem_tiles();
    // The AIS targets heard on the receiver's paths (any thread may feed it).
    ais::AisFeed& ais_feed() { return ais_feed_; }
    // Any thread: a position of another device (the position server's forms, the fleet's broker).
    void device_report(const DeviceReport& report);
    // The NTRIP client's state for GPS Monitor ("" when corrections are off).
    std::string ntrip_monitor_text() const;
    // The fleet's devices (app_fleet.cpp). Window thread: centre the view once on a device, follow
    // one like the own position (empty: the own position again), show the fleet as it was at a
    // moment of its history (nullopt: live; read off the window thread, shown when it has come).
    const FleetTable& fleet() const { return fleet_; }
    void centre_on_device(const std::string& id);
    void follow_device(const std::string& id);
    const std::string& followed_device() const { return followed_device_; }
    void replay_fleet(std::optional<std::int64_t> at_ms);
    std::optional<std::int64_t> fleet_replay_time() const;
    // The history file (null when it could not be opened or before create()).
    FleetStore* fleet_store() { return fleet_store_.get(); }
    // The fleet's broker (app_mqtt.cpp): started at creation when vor_ini.txt has an `mqtt=` line;
    // each new fix published (queued, never waiting on the network); its state for the message line
    // (empty while connected or off). The link is stopped by on_destroy within about a second.
    void start_mqtt();
    void mqtt_fix(const FixRecord& fix);
    std::string mqtt_message() const;
    // GPS Monitor's line of the broker ("" when MQTT is off).
    std::string mqtt_monitor_text() const;
    const std::string& site_name() const { return site_name_; }
    // The selected source and layer as the catalogue has it (nullptr before creation).
    const CatalogueEntry* current_entry() const;
    // The line shown over the map when the visible source has a problem, else empty; the
    // attribution of the visible source (drawn bottom-left on the map).
    std::string map_message() const;
    std::string attribution() const;
    // True when the fix shown is old: one was seen, and since then the link closed, the receiver
    // lost its fix, or no new position came for the `stale` seconds. Decided by the last paint.
    bool fix_stale() const { return last_fix_.stale; }

    // False on a start where no receiver was ever chosen: the receiver is one of the serial kinds
    // and vor_set.txt has no `port` line (the default files carry none; Settings COM, a Device menu
    // receiver and Detect's choice write one). Nothing is opened then, and the message line says
    // kNoReceiverChosenText with Detect beside it.
    bool receiver_chosen() const { return receiver_chosen_; }
    // Detect's results so far, in the order found (the list the window shows).
    std::vector<DetectedReceiver> detected() const;
    bool detecting() const { return detect_.running(); }
    // The user chose result `index` of Detect's list: its device is set, through the same settings
    // and steps as the menus, and connected. An index beyond the list does nothing.
    void choose_detected(std::size_t index);
    // Detect's list was closed: a search still running ends.
    void cancel_detect() { detect_.request_cancel(); }
    // The place the Profile dialog's pointer names, marked on the map (app_profile.cpp).
    std::optional<std::pair<double, double>> highlight() const { return highlight_; }
    // True while a Download Region worker runs (app_region.cpp).
    bool region_running() const { return region_running_.load(); }
    // Gps → Find (app_search.cpp). The field's hooks: each change of its text asks the packs'
    // indexes on the search's worker (a position typed is listed at once); Enter takes a typed
    // position, else asks the online geocoder when one is set, else takes the first result; a row
    // chosen; Escape clears the field and the marker.
    void search_edited(const std::string& text);
    void search_entered(const std::string& text);
    void search_chosen(std::size_t row);
    void search_cleared();
    // A place chosen: the map is centred on it (at a town's scale at least) and it is marked with a
    // pin and its name until the field is cleared or a new search is typed. The place marked is what
    // a route may be asked to (nullopt: none).
    void search_result_chosen(const search::Result& place);
    const std::optional<search::Result>& chosen_place() const { return chosen_place_; }
    // Routes (app_route.cpp), window thread. `route_to` routes from the route's start (the position
    // when none was set) through the via-points to (lat, lon); `route_from` sets the start. Routing
    // runs on a worker (a newer request cancels the one running); the route is drawn and followed
    // from the paint after it came. Guidance then goes on the message line; leaving the route asks
    // for a new one from the position, to the via-points still ahead and the destination.
    void route_to(double lat, double lon);
    void route_from(double lat, double lon);
    void clear_route();
    void set_route_profile(route::Profile profile);
    // A route made elsewhere (a GPX route) followed as it is.
    void follow_route(route::Route route);
    // The route followed (null when none), and whether a request is being routed.
    const route::Route* current_route() const;
    bool routing() const;
    // The client point (x, y) is on the route's line as the last paint drew it; a drag of the line
    // from there to (x1, y1) adds a via-point at (x1, y1) and routes again.
    bool route_line_at(int x, int y) const;
    void on_route_drag(int x0, int y0, int x1, int y1);
    // The map's context menu at client point (x, y): Route from here, Route to here, Clear route.
    void on_context_menu(int x, int y);

private:
    enum class Variant { Fetch, CacheOnly, ByOnline, CacheOnlyThenOnline };

    std::int64_t now() const { return clock_->now_seconds(); }
    MapSource source() const;
    FetchContext fetch_context() const;
    // The engine of the window's fetches: AppOptions::fetcher, else the window's own (null before create()).
    Fetcher* fetcher() const;
    std::filesystem::path settings_path(const std::string& name) const;
    std::filesystem::path track_path() const;
    // What the layer needs of the current source; `with_context` reads the fetch settings too (for
    // loading a view and requesting tiles; a paint does without).
    LayerSource layer_source(bool with_context = true) const;
    // Shows the view of `level` around (cx, cy) through the layer: on success it becomes the view,
    // its bitmap is made (by the next paint when `bitmap_later`) and the window invalidated. NoTiles
    // leaves the current view; MosaicFailed has shown its message.
    MapLayer::Shown show_view(int level, int cx, int cy, MapLayer::Fetch fetch, bool force = false,
                              bool bitmap_later = false);
    // True when the current source's tiles are fetched in the background.
    bool background() const;
    // Asks for the view's missing tiles (all of them when `all`, to replace cached ones) in the
    // background, the middle ones first.
    void request_view_tiles(bool all);
    // True when the current source's tiles are made here (Atlas, Etopo2's relief, map packs).
    bool made_here() const;
    // Navigation may download from the current source now: Offline is not chosen and the source is
    // not paused after failures (its host silent, refusing or limiting us).
    bool may_fetch() const;
    // The current source shows the off-line look: Offline is chosen, or its host did not answer the
    // last transfer. Decided by the source's own answers, never by other hosts.
    bool source_off_line() const;
    // The status bar's height under the pointer (ground_text), "" where none is known.
    std::string pointer_ground_text() const;
    // Starts the version probe once, when the current source is an original Google or Virtual Earth
    // one (their addresses carry the version texts it sets).
    void start_probe_if_needed();
    // Gps menu: a map pack placed in the packs folder and shown; a GPX file drawn over the map; the
    // track log written as GPX 1.1 (app_offline.cpp).
    void open_map_pack();
    void open_gpx();
    void export_track();
    // Gps → Profile (app_profile.cpp): the dialog with the profile of the GPX file opened last, else of
    // today's recording; the place its pointer names, marked over the map until it leaves.
    void show_profile();
    void set_highlight(std::optional<std::pair<double, double>> place);
    void draw_highlight();
    // The opened GPX file's lines and waypoints over the display bitmap.
    void draw_gpx();
    void gpx_labels(PaintFrame& frame) const;
    // The circle of the fix's horizontal error, when known and large enough to see.
    void accuracy_circle(PaintFrame& frame, const FixRecord& fix, bool stale) const;
    // The AIS targets in the view as marks of the frame (app_ais.cpp); returns the warning of the
    // dangerous ones for the message line ("" when none).
    std::string ais_marks(PaintFrame& frame, const FixRecord& fix, bool stale);
    // Gps → AIS Targets: the live list of the targets.
    void open_ais_targets();
    // The fleet's settings (`fleetdays`, `fleetstale`, `fleettrail` of vor_ini.txt) and its history file.
    void start_fleet();
    // Gps → Fleet...: the fleet dialog's rows and hooks.
    void open_fleet();
    // Every device of the fleet (or of its replay) as the map view draws it (app_fleet.cpp).
    void fleet_layer(PaintFrame& frame) const;
    // Moves the view to the opened GPX file: its middle, at the finest zoom that shows all of it.
    void fit_view_to_gpx();
    static void draw_track_line(DisplayBitmap& bitmap, const std::vector<TrackPlot::Place>& places,
                                const std::uint8_t* bgr);
    void rebuild_bitmap();
    // A resize made a larger view: its display bitmap (megabytes to allocate and fill) is made by
    // the next paint rather than in the resize handler as well.
    bool bitmap_due_ = false;
    // Prepares the tiles of the pending view and, when that succeeds, makes it current and composes
    // it. False only when composing failed (its message has been shown).
    bool load_pending_view(Variant variant, bool bitmap_later = false);
    void normalise_pending();
    // Sets the map area for a client area.
    void set_map_area(int client_width, int client_height);
    void auto_pan_off();
    void auto_pan_on();
    void pan(int dx, int dy);
    void level_button(int k);
    // Selects a catalogue source (an element of catalogue_: the entry of a Maps menu command or of an
    // opened pack); the `site` setting keeps its name.
    void select_source(const CatalogueEntry& chosen_entry);
    void select_device(DeviceType type);
    // The receiver for `type`: the one held when it serves that kind, else a new closed one (the
    // old one closed); settings it is made with are read afresh.
    void use_receiver(DeviceType type);
    // The line settings of ws_ handed to the serial link (and kept for a receiver made later).
    void apply_line_settings();
    void no_gps_connected();
    // Gps → Detect Receiver: a new search in the background; its list opens at once.
    void start_detect();
    // The receiver, its place and state as the status bar shows it.
    std::string receiver_status() const;
    // The status bar's fields and Detect's offer for this paint.
    void fill_status(PaintFrame& frame, const FixRecord& fix) const;
    // The receiver link opened with the wait cursor, the Connect/Disconnect items following the
    // outcome; false when no link is open afterwards (the caller says "No GPS connected").
    bool open_link();
    // Closes the link; the menu items go back when one was open.
    void close_link();
    // RTK corrections (app_ntrip.cpp): the NTRIP client runs while the receiver link is open and
    // `ntrip=` is set; a refused password file is named through the diagnostics sink.
    void start_ntrip();
    void stop_ntrip();
    // Gps → NTRIP Casters...: the caster's mountpoints nearest first, one chosen becomes `ntrip=`.
    // The table is fetched by a worker of its own that writes only ntrip_table_ (shared with it), so
    // closing the program never waits for a caster.
    void open_ntrip_casters();
    std::string fetch_ntrip_table(const std::string& caster, const std::string& password);
    std::string choose_ntrip_mountpoint(const std::string& caster, const std::string& mountpoint,
                                        const std::string& password);
    struct NtripTable;
    std::shared_ptr<NtripTable> ntrip_table_;
    void toggle_aerial();
    void com_settings();
    // The serial devices offered for a port (path, what the system says), and in `chosen` the one
    // `named` (a comN device) is, when it is among them.
    std::vector<std::pair<std::string, std::string>> serial_device_choices(const std::string& named,
                                                                           std::string* chosen) const;
    // Options → Preferences (app_preferences.cpp): the dialog over the settings files; Apply and OK
    // make the changes take effect at once through the same steps as the menu commands.
    void preferences();
    std::string apply_preferences(const PreferencesDialogData& chosen);
    // The built-in sources, vor_src.txt and the map packs of `dir`'s cache root.
    static Catalogue load_sources(const std::filesystem::path& dir);
    // The sources read again and the Maps menu following; the source shown stays when it still exists.
    void reload_sources();
    // Trims the tile cache to `megabytes` (0: nothing removed, what it holds is counted) on a thread of
    // its own; `done` gets the result text there. False when a trim still runs.
    bool start_cache_trim(std::uint64_t megabytes, std::function<void(const std::string&)> done);
    // Gps → Download Region (app_region.cpp): the dialog preset to the view; a region extract on a
    // worker thread of its own; its state for the dialog; the finished pack added to the catalogue
    // (by the paint after the worker ended).
    void download_region();
    RegionChoice region_preset() const;
    std::string start_region(const RegionChoice& choice);
    RegionTexts region_texts() const;
    void finish_region();
    void stop_region();
    // Gps → Find: the field opened, the packs' indexes made where missing or stale; the field's texts
    // taken from the search's state; the pin of the chosen place in the frame.
    void open_search();
    void show_search_texts();
    void search_pin(PaintFrame& frame) const;
    void stop_search();
    // Gps → Trip (app_trip.cpp): the live trip's dialog, its texts, Reset and Lap; each new fix is fed
    // to the trip and the running lap (age_fix).
    void open_trip();
    TripTexts trip_texts() const;
    void trip_fix(const TrackPoint& point);
    bool in_map(int x, int y) const;
    // The level or zoom code `steps` wheel steps from the view's.
    int wheel_level(int steps) const;
    // The map point under client point (x, y), at the view's level.
    ViewTarget pointed_target(int x, int y) const;
    // Auto Pan and Auto Zoom for a valid fix. False when composing a new view failed.
    bool follow(const FixRecord& fix);
    void draw_overlays(const FixRecord& fix);
    // Takes a new position of `fix` as the last fix seen, decides whether the last fix is stale and
    // asks for the paint that shows the next change (turning stale, or the age text moving on).
    void age_fix(const FixRecord& fix);
    // Why no new fix comes, as far as the link knows: "disconnected", "receiver gone", "no data",
    // "no fix", or empty.
    std::string stale_reason(const FixRecord& fix) const;

    std::filesystem::path dir_;
    AppOptions options_;
    const Clock* clock_;
    Window* window_ = nullptr;
    std::unique_ptr<WindowState> ws_;
    ViewState view_;
    SharedFix fix_;
    // The reader and server threads' "fix changed" notice; made with the window, before them.
    std::unique_ptr<FixNotice> fix_notice_;
    // The view's tiles: cells, mosaic, background loading, placeholders and sharp cells.
    MapLayer layer_;
    std::unique_ptr<Fetcher> fetcher_;
    // Elevation (after the fetcher: its loader goes first).
    std::shared_ptr<const ElevationModel> elevation_;
    std::unique_ptr<TileLoader> dem_loader_;
    int elevation_generation_ = 0;   // elevation tiles that landed for shading (LayerSource)
    bool elevation_landed_ = false;  // some landed since the view was last made again with them
    std::string dem_asked_;  // the view whose elevation tiles were asked for last
    GpxData gpx_;                          // the GPX file opened last
    std::string gpx_name_;                 // its file name, for the profile's title
    std::optional<std::pair<double, double>> highlight_;  // the profile's place under the pointer
    TrackLog track_log_;                   // the `file` setting's log, its positions kept for the plot
    TrackPlot track_plot_;                 // their places in the current view's bitmap
    // Every new fix recorded into the day's track (record=yes), and its places in the view.
    std::unique_ptr<TrackRecorder> recorder_;
    // The live trip, the lap running and the laps taken (window thread), fed the fixes the recorder
    // records, as it records them, so that the figures are those of the saved recording.
    RecordedTrip trip_, lap_;
    std::vector<TripFigures> laps_;
    TrackPlot recorded_plot_;
    TileVersions versions_;
    ais::AisFeed ais_feed_;                 // before the readers that feed it
    ReceiverSetup receiver_setup_;
    // Replaced on the window thread only, under receiver_mutex_ (send_to_receiver writes under it).
    std::unique_ptr<Receiver> receiver_;
    std::mutex receiver_mutex_;
    std::unique_ptr<ntrip::Client> ntrip_;  // after receiver_: stopped before the receiver goes
    FleetTable fleet_;
    std::unique_ptr<FleetStore> fleet_store_;  // fed by device_report from any thread
    std::string followed_device_;               // window thread
    std::int64_t fleet_stale_ms_ = kFleetStaleSeconds * 1000;
    std::int64_t fleet_trail_ms_ = kFleetTrailMinutes * 60'000;
    // The replay: the moment asked for and the positions read for it (by its reader thread).
    mutable std::mutex replay_mutex_;
    std::optional<std::int64_t> replay_at_;
    std::vector<FleetPoint> replay_points_;
    std::thread replay_thread_;
    std::atomic<std::int64_t> fleet_first_ms_{0};  // the earliest position known (0: none)
    // Lowers fleet_first_ms_ to `time_ms` (any thread).
    void note_fleet_time(std::int64_t time_ms);
    std::unique_ptr<MqttLink> mqtt_;        // the fleet's broker, when configured (after the fleet it feeds)
    std::string failed_mqtt_cause_;         // why it was configured but not started
    std::unique_ptr<ConnectivityProbe> probe_;
    bool view_loaded_ = false;
    // The last fix seen by a paint: what the title, speed and marker show once it is old.
    struct LastFix {
        bool seen = false;
        bool stale = false;
        unsigned positions = 0;  // FixRecord::positions of the fix
        std::int64_t at = 0;     // clock second it was seen
        double latitude = 0;
        double longitude = 0;
        std::string utc_text, local_text, zone_name;
    } last_fix_;
    Catalogue catalogue_;
    std::string site_name_;
    std::shared_ptr<SourceHealth> health_ = std::make_shared<SourceHealth>();
    bool receiver_chosen_ = true;
    // Detect: its worker, and what it found (written by the worker, shown by the next paint).
    ReceiverDetect detect_;
    mutable std::mutex detect_mutex_;
    std::vector<DetectedReceiver> detected_;
    std::atomic<bool> detect_news_{false};
    // The sweep of stale temporary files, started by create() on a thread of its own so that a large
    // cache never delays the first paint; on_destroy() stops and joins it.
    std::atomic<bool> sweep_stop_{false};
    std::thread sweeper_;
    // The trim of the tile cache to its size limit (at start when `cachemb` is set, and from
    // Preferences); `trimming_` is true until its result has been handed on; on_destroy() stops and joins it.
    std::atomic<bool> trim_stop_{false};
    std::atomic<bool> trimming_{false};
    std::thread trimmer_;
    // Download Region: the worker, its cancel flag and news, and under region_mutex_ its last
    // progress and outcome (written by the worker, read by the dialog's polls). region_message_ is
    // shown on the message line until region_message_until_.
    std::thread region_worker_;
    std::atomic<bool> region_cancel_{false};
    std::atomic<bool> region_running_{false};
    std::atomic<bool> region_done_{false};
    mutable std::mutex region_mutex_;
    RegionTexts region_state_;
    std::string region_out_;
    bool region_ok_ = false;
    std::string region_message_;
    std::int64_t region_message_until_ = 0;
    // Gps → Find: the worker over the packs folder (made when the field first opens), the online
    // geocoder (geocoder= set), their news for the next paint, the query shown and its rows.
    struct SearchNews;
    std::shared_ptr<SearchNews> search_news_;
    std::unique_ptr<PlaceSearch> place_search_;
    std::filesystem::path search_folder_;
    std::unique_ptr<search::Geocoder> geocoder_;
    std::string geocoder_url_;
    std::string search_text_;
    std::uint64_t search_query_ = 0;
    std::vector<search::Result> search_rows_;
    std::optional<search::Result> chosen_place_;
    // The route, its worker and guidance (app_route.cpp); made by create(), the worker stopped first
    // by on_destroy().
    std::unique_ptr<AppRoute> route_;
    // Routing data and the Route panel (app_route.cpp).
    void open_routing_data();
    void open_route_panel();
    // The route's part of a paint: the result of the worker taken, the fix fed to guidance (a new
    // request when the route was left), the line in the frame; returns the message line's text.
    std::string route_layer(PaintFrame& frame, const FixRecord& fix, bool stale);
    void request_route(bool from_position_only);
    void stop_routing();
};

}  // namespace vg
