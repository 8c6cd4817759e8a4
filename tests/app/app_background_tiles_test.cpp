// The view's missing tiles fetched in the background from a loopback tile server that holds every
// reply until the test opens a gate: the window side never waits for it (a view change returns while
// the server holds its replies), the middle cells are asked for first, never more connections than
// allowed, a move of the view cancels what it no longer needs, a broken transfer leaves no file, the
// waiting cells show an enlarged tile of a coarser level, Reload keeps the cached tiles when the
// server fails, the tiles still queued follow the middle when the view moves, at a device scale
// of 2 the cells turn sharp from the next web zoom's tiles fetched after the 1x ones, an own source
// fills with the probe's hosts unreachable, and a silent host is paused, not asked on every move. The
// window's one fetching engine keeps a view's revalidations and missing tiles within the host's
// connections, Reload Map lifts a blocked source's pause, a server that never answers costs one
// time-out per connection, and a built-in https source goes through the window's own engine.
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "app/app_fixture.h"
#include "net/network_wait.h"
#include "support/loopback_http_server.h"
#include "support/view_fill_contract.h"
#if !defined(VG_NO_CURL) && !defined(_WIN32)
#include "support/https_source_contract.h"
#include "support/latency_relay.h"
#include "support/nghttpd.h"
#include "support/tls_test_server.h"
#endif
#include "tiles/image_decode.h"
#include "tiles/tile_loader.h"
#include "tiles/tile_sources.h"

namespace vg::test {
namespace {

using namespace std::chrono_literals;

// Replies wait here until the test opens it (bounded, so a failing test cannot hang).
class Gate {
public:
    void open() {
        std::lock_guard lock(m_);
        open_ = true;
        cv_.notify_all();
    }
    void pass() {
        std::unique_lock lock(m_);
        cv_.wait_for(lock, 30s, [&] { return open_; });
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool open_ = false;
};

class BackgroundTiles : public AppFixture {
protected:
    // These views are centred on a tile corner: the classic cells, counted below.
    void SetUp() override { start_on_tile_corner(); }

    void start_with(std::function<ScriptedReply(const std::string&)> reply, int connections = 2,
                    const std::string& size = "small") {
        server = std::make_unique<LoopbackHttpServer>(std::move(reply));
        write_settings("site=OpenStreetMap\r\nsize=" + size + "\r\n");
        AppOptions o = options();
        o.background_tiles = true;
        o.tile_connections = connections;
        o.tile_hosts->openstreetmap = "127.0.0.1:" + std::to_string(server->port());
        hosts = *o.tile_hosts;
        app = std::make_unique<App>(dir.path(), o);
        app->create(window);
    }

    ScriptedReply tile_reply() const { return ScriptedReply::make(200, "image/png", read_file(kTile), true); }

    // Paints (as the window does when the loader invalidates it) until no tile is left.
    bool paint_until_filled() {
        const auto end = std::chrono::steady_clock::now() + 30s;
        while (app->tiles_left() > 0) {
            if (std::chrono::steady_clock::now() > end) return false;
            app->paint();
            std::this_thread::sleep_for(5ms);
        }
        app->paint();
        return true;
    }

    // "GET /z/x/y.png" of the view's cells; `middle_only`: the four around the centre.
    std::set<std::string> cell_requests(bool middle_only = false) const {
        std::set<std::string> out;
        const ViewGrid g = app->grid();
        const int level = app->view().level;
        app->layer().for_each_cell([&](int, int r, int c, WorldPixel p) {
            if (middle_only && (std::abs(2 * r + 1 - g.rows) > 1 || std::abs(2 * c + 1 - g.columns) > 1)) return;
            const auto url = tile_address(tile_key(p.x, p.y, level, MapSource::OpenStreetMap, false), hosts, {});
            if (url) out.insert("GET " + url->substr(url->find('/', 7)));
        });
        return out;
    }
    std::vector<std::string> request_lines() const {
        std::vector<std::string> lines;
        for (const std::string& r : server->requests()) lines.push_back(r.substr(0, r.find(" HTTP/")));
        return lines;
    }

    // A catalogue source "Loop" at `url_template` with two connections per host, and a view of `size`.
    void write_loop_source(const std::string& url_template, const std::string& ini_lines = "",
                           const std::string& size = "large") {
        write_file(dir / "vor_src.txt", "Loop|map|" + url_template + "||Test|conn=2\r\n");
        write_settings("site=Loop\r\nsize=" + size + "\r\n", ini_lines);
    }
    // The window started on "Loop" served by a loopback server answering `reply`, a small view
    // filled in the background; `adjust` changes the options first.
    void start_loop(std::function<ScriptedReply(const std::string&)> reply,
                    const std::function<void(AppOptions&)>& adjust = {}) {
        server = std::make_unique<LoopbackHttpServer>(std::move(reply));
        write_loop_source(server->url("/{z}/{x}/{y}.png"), "", "small");
        AppOptions o = options();
        o.background_tiles = true;
        if (adjust) adjust(o);
        app = std::make_unique<App>(dir.path(), o);
        app->create(window);
    }

    const std::filesystem::path kTile = shared_testdata() / "images/bench/map256-rgb.png";
    Gate gate;
    TileHosts hosts;
    std::unique_ptr<LoopbackHttpServer> server;
};

TEST_F(BackgroundTiles, ViewChangesAtOnceAndCellsFillInMiddleFirstWithinTheConnectionLimit) {
    // This thread plays the window thread: no blocking network call may happen on it.
    NoNetworkWaits window_thread;
    const std::size_t waits = NoNetworkWaits::breaches();
    start_with([this](const std::string&) {
        gate.pass();
        return tile_reply();
    }, 2, "large");
    // create() returned while the server holds every reply: the window side did not wait for it.
    ASSERT_TRUE(app->view_loaded());
    EXPECT_EQ(app->tiles_left(), 16u);
    EXPECT_EQ(app->paint().tiles_left, 16);
    // Plain http: both allowed connections carry a request at once, before the first reply (a build
    // without libcurl downloads one tile at a time).
#ifdef VG_NO_CURL
    constexpr std::size_t kInFlight = 1;
#else
    constexpr std::size_t kInFlight = 2;
#endif
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (server->requests().size() < kInFlight && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    // While the server holds its replies, no more requests than connections allowed reach it, and
    // those are among the four middle cells.
    std::this_thread::sleep_for(50ms);  // a third request would have arrived by now
    EXPECT_EQ(server->requests().size(), kInFlight);
    const std::set<std::string> middle = cell_requests(true);
    for (const std::string& line : request_lines()) EXPECT_EQ(middle.count(line), 1u) << line;
    // Navigation goes on meanwhile: Map Coordinates, a paint, a timer tick.
    app->on_command(Command::MapCoordinates);
    app->on_timer();
    gate.open();
    ASSERT_TRUE(paint_until_filled());
    EXPECT_EQ(app->paint().tiles_left, 0);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) EXPECT_TRUE(mosaic_has_picture(c * 256 + 128, r * 256 + 128)) << r << "," << c;
    EXPECT_EQ(request_lines().size(), 16u);
    // No wait cursor was shown for the network, and nothing on this thread waited for it.
    EXPECT_EQ(count_calls("wait on"), 0);
    EXPECT_EQ(NoNetworkWaits::breaches(), waits);
}

TEST_F(BackgroundTiles, MovingTheViewCancelsWhatItNoLongerNeeds) {
    start_with([this](const std::string&) {
        gate.pass();
        return tile_reply();
    }, 1);
    app->window_state()->online.store(true);  // on line: navigation fetches
    const std::set<std::string> old_view = cell_requests();
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (server->requests().empty() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(5ms);
    app->on_left_button(257, 241);  // zoom in: none of the old tiles is wanted any more
    ASSERT_EQ(app->view().level, 3);
    const std::set<std::string> new_view = cell_requests();
    gate.open();
    ASSERT_TRUE(paint_until_filled());
    std::size_t old_asked = 0, new_asked = 0;
    for (const std::string& line : request_lines()) {
        old_asked += old_view.count(line);
        new_asked += new_view.count(line);
    }
    EXPECT_EQ(old_asked, 1u) << "only the one already on its way " << testing::PrintToString(request_lines());
    EXPECT_EQ(new_asked, 4u);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 2; ++c) EXPECT_TRUE(mosaic_has_picture(c * 256 + 128, r * 256 + 128));
}

TEST_F(BackgroundTiles, BrokenTransferLeavesNoFileAndCountsAsFailed) {
    // Announces 20000 bytes, sends 100 and closes.
    start_with([this](const std::string&) {
        return ScriptedReply::make(200, "image/png", read_file(kTile).substr(0, 100), false,
                                   "Content-Length: 20000\r\n");
    });
    ASSERT_TRUE(paint_until_filled());
    const PaintFrame frame = app->paint();
    EXPECT_EQ(frame.failed_tiles, 4);
    EXPECT_FALSE(frame.failure_reason.empty());
    std::size_t files = 0;
    if (std::filesystem::exists(root()))
        for (const auto& e : std::filesystem::recursive_directory_iterator(root())) files += e.is_regular_file();
    EXPECT_EQ(files, 0u) << "neither a partial tile nor a temporary file";
    EXPECT_FALSE(mosaic_has_picture(128, 128));
}

TEST_F(BackgroundTiles, WaitingCellsShowTheCoarserLevelsTileEnlarged) {
    // Level 1 is cached around the start; level 2 is not, and the server never answers.
    const WorldPixel l1 = centre_of(start_lat, start_lon, MapSource::OpenStreetMap, 1);
    cache_view(MapSource::OpenStreetMap, 1, l1.x, l1.y);
    ScriptedReply silent;
    silent.silent = true;
    start_with([silent](const std::string&) { return silent; });
    ASSERT_EQ(app->view().level, 2);
    EXPECT_EQ(app->tiles_left(), 4u);
    compose_view();
    RgbImage ancestor;
    const ViewState& v = app->view();
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 2; ++c) {
            const WorldPixel p = view_cell_pixel(MapSource::OpenStreetMap, round_to_tile_edge(v.centre_x),
                                                 round_to_tile_edge(v.centre_y), 2, r, c);
            const int ax = rescale_x(p.x, 2, 1, MapSource::OpenStreetMap), ay = rescale_y(p.y, 2, 1, MapSource::OpenStreetMap);
            const TileKey key = tile_key(ax, ay, 1, MapSource::OpenStreetMap, false);
            ASSERT_TRUE(load_png(tile_paths(key, root()).full_path, ancestor));
            // Cell pixel (u, v) shows ancestor pixel (ax mod 256 + u / 8, ay mod 256 + v / 8).
            for (int uv : {0, 100, 255}) {
                const std::uint8_t* want = &ancestor.pixels[((ay % 256 + uv / 8) * 256 + ax % 256 + uv / 8) * 3];
                const Mosaic& m = app->mosaic();
                const std::uint8_t* got = &m.pixels[((std::size_t(r) * 256 + uv) * m.width + c * 256 + uv) * 3];
                EXPECT_EQ(std::vector<int>(got, got + 3), std::vector<int>(want, want + 3)) << r << c << " " << uv;
            }
        }
}

TEST_F(BackgroundTiles, ReloadKeepsTheCachedTilesWhenTheServerFails) {
    const WorldPixel centre = centre_of(start_lat, start_lon, MapSource::OpenStreetMap, 2);
    cache_view(MapSource::OpenStreetMap, 2, centre.x, centre.y);
    start_with([](const std::string&) { return ScriptedReply::make(503, "text/plain", "busy", true); });
    EXPECT_EQ(app->tiles_left(), 0u);  // everything was cached
    const std::string before = read_file(app->tile_paths().slots[0]);
    app->on_command(Command::ReloadMap);
    EXPECT_EQ(app->tiles_left(), 4u);
    ASSERT_TRUE(paint_until_filled());
    EXPECT_EQ(request_lines().size(), 4u);
    EXPECT_EQ(app->paint().failed_tiles, 4);
    EXPECT_EQ(read_file(app->tile_paths().slots[0]), before);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 2; ++c) EXPECT_TRUE(mosaic_has_picture(c * 256 + 128, r * 256 + 128));
}

// An own tile server of vor_src.txt works with no route to the internet: the hosts of the version
// probe do not answer, yet every pan and a larger window ask for their new cells at once, Offline
// stops that and Online asks for the view's missing cells at once, without a box.
TEST_F(BackgroundTiles, OwnSourceFillsAfterPansResizesAndOnlineWithTheProbeHostsUnreachable) {
    start_loop([this](const std::string&) { return tile_reply(); }, [](AppOptions& o) {
        o.start_probe = true;
        o.probe.first_site = o.probe.second_site = "http://127.0.0.1:1/";
    });
    auto every_cell_filled = [&] {
        const ViewGrid g = app->grid();
        for (int r = 0; r < g.rows; ++r)
            for (int c = 0; c < g.columns; ++c)
                if (!mosaic_has_picture(c * 256 + 128, r * 256 + 128)) return false;
        return true;
    };
    auto asked_once_each = [&] {
        const std::vector<std::string> lines = request_lines();
        return std::set<std::string>(lines.begin(), lines.end()).size() == lines.size();
    };
    ASSERT_TRUE(paint_until_filled());
    EXPECT_EQ(server->requests().size(), 4u);
    app->on_key_up(Key::Right);
    EXPECT_EQ(app->tiles_left(), 2u);
    ASSERT_TRUE(paint_until_filled());
    EXPECT_EQ(server->requests().size(), 6u);
    EXPECT_TRUE(every_cell_filled());

    app->on_size(900, 700);
    ASSERT_GT(app->grid().cells(), 4);
    EXPECT_GT(app->tiles_left(), 0u);
    ASSERT_TRUE(paint_until_filled());
    EXPECT_TRUE(every_cell_filled());
    EXPECT_TRUE(asked_once_each());

    app->on_command(Command::Offline);
    const std::size_t asked = server->requests().size();
    app->on_key_up(Key::Down);
    EXPECT_EQ(app->tiles_left(), 0u);
    EXPECT_FALSE(every_cell_filled());
    app->on_command(Command::Online);
    EXPECT_GT(app->tiles_left(), 0u);
    ASSERT_TRUE(paint_until_filled());
    EXPECT_GT(server->requests().size(), asked);
    EXPECT_TRUE(every_cell_filled());
    EXPECT_TRUE(asked_once_each());
    EXPECT_TRUE(window.boxes().empty());
}

// A source whose host does not answer (here the original OpenStreetMap at a closed port) is paused
// after its failures: navigation asks it nothing until the pause has passed; Online and Reload Map ask
// at once.
TEST_F(BackgroundTiles, ASilentHostIsPausedNotAskedOnEveryMove) {
    write_settings("site=OpenStreetMap\r\nsize=small\r\n");
    AppOptions o = options();
    o.background_tiles = true;
    app = std::make_unique<App>(dir.path(), o);
    app->create(window);
    ASSERT_TRUE(paint_until_filled());
    EXPECT_EQ(app->paint().failed_tiles, 4);
    EXPECT_EQ(app->map_message().rfind("OpenStreetMap: ", 0), 0u) << app->map_message();
    for (Key key : {Key::Right, Key::Down, Key::Left}) {
        app->on_key_up(key);
        EXPECT_EQ(app->tiles_left(), 0u);
    }
    clock.seconds += SourceHealth::kNetworkPause;
    app->on_key_up(Key::Up);  // back at the start: its four cells are asked again
    EXPECT_EQ(app->tiles_left(), 4u);
    ASSERT_TRUE(paint_until_filled());
    app->on_key_up(Key::Right);
    EXPECT_EQ(app->tiles_left(), 0u);
    app->on_command(Command::Online);
    EXPECT_EQ(app->tiles_left(), 4u);
    ASSERT_TRUE(paint_until_filled());
    app->on_key_up(Key::Left);
    EXPECT_EQ(app->tiles_left(), 0u);
    app->on_command(Command::ReloadMap);
    EXPECT_EQ(app->tiles_left(), 4u);
    ASSERT_TRUE(paint_until_filled());
}

// A view centred on its own pixel (not a tile corner) in windows of any size: every cell the map area
// shows gets the source's own tile, Big Maps and back give the classic sizes again, a drag moves the
// view by exactly the dragged pixels, and the marker sits on its map place.
TEST_F(BackgroundTiles, AnyWindowFillsWithTheSourcesTilesAndADragMovesByItsPixels) {
    start_pos = "N 60 10 30\r\nE 24 55 00\r\n";  // not on a tile corner at any level
    start_loop([this](const std::string&) { return tile_reply(); });
    const WorldPixel start = geo_to_pixel(kStartLat, kStartLon, MapSource::OpenStreetMap, 2);
    EXPECT_EQ(app->view().centre_x, start.x);
    EXPECT_EQ(app->view().centre_y, start.y);
    // Every cell the map area shows holds the source's own tile, none the Atlas nor grey.
    auto resize = [&](int w, int h) { app->on_size(w, h); };
    auto settle = [&] { return paint_until_filled(); };
    for (const auto& [w, h] : {std::pair{514, 435}, std::pair{900, 700}, std::pair{1600, 1200}})
        expect_resize_fills(*app, w, h, resize, settle);
    // Big Maps and back: the classic client sizes.
    window.clear();
    app->on_command(Command::BigMaps);
    app->paint();
    EXPECT_EQ(count_calls("size 1026x819"), 1);
    app->on_command(Command::BigMaps);
    app->paint();
    EXPECT_EQ(count_calls("size 514x435"), 1);
    app->on_size(514, 435);
    EXPECT_EQ(app->view().map_width, 512);
    EXPECT_EQ(app->view().map_height, 384);

    // A drag right and down by 170 × 90 shows what lies west and north by exactly that.
    const WorldPixel before{app->view().centre_x, app->view().centre_y};
    app->on_drag(170, 90);
    EXPECT_EQ(app->view().centre_x, before.x - 170);
    EXPECT_EQ(app->view().centre_y, before.y - 90);
    expect_resize_fills(*app, 514, 435, resize, settle);

    // A fix 37 pixels east and 21 north of the centre: the marker is drawn on the tile that holds
    // the place, at the place's pixel of it, and 37, −21 pixels from the middle of the map area.
    const WorldPixel fix{app->view().centre_x + 37, app->view().centre_y - 21};
    set_fix(pixel_to_latitude(fix.y, MapSource::OpenStreetMap, 2) - 1e-7,
            pixel_to_longitude(fix.x, MapSource::OpenStreetMap, 2) + 1e-7);
    const PaintFrame f = app->paint();
    const int mx = app->view().marker_x, my = app->view().marker_y;
    EXPECT_EQ(mx - f.visible_first_column, 256 + 37);
    EXPECT_EQ(my - f.visible_first_row, 192 - 21);
    const CatalogueEntry* loop = app->current_entry();
    ASSERT_NE(loop, nullptr);
    const std::string place_tile =
        catalogue_tile_paths(*loop, catalogue_tile_key(*loop, fix.x, fix.y, 2), root()).full_path;
    const int cell = my / kTileSize * app->grid().columns + mx / kTileSize;
    EXPECT_EQ(app->tile_paths().slots[static_cast<std::size_t>(cell)], place_tile);
    EXPECT_EQ(mx % kTileSize, fix.x % kTileSize);
    EXPECT_EQ(my % kTileSize, fix.y % kTileSize);
}

// A catalogue source's waiting cells show its own cached tile of a coarser level, enlarged.
TEST_F(BackgroundTiles, ACatalogueSourcesWaitingCellsShowItsCoarserTileEnlarged) {
    ScriptedReply silent;
    silent.silent = true;
    start_loop([silent](const std::string&) { return silent; });
    const CatalogueEntry* loop = app->current_entry();
    ASSERT_NE(loop, nullptr);
    // Level 1 cached in the source's own folder, then the view moved: its new cells wait.
    std::map<std::string, int> cached;
    app->layer().for_each_cell([&](int, int, int, WorldPixel p) {
        for (int dx : {-256, 0, 256}) {
            const int ax = rescale_x(p.x + dx, 2, 1, MapSource::OpenStreetMap), ay = rescale_y(p.y, 2, 1, MapSource::OpenStreetMap);
            const TilePaths paths = catalogue_tile_paths(*loop, catalogue_tile_key(*loop, ax, ay, 1), root());
            create_tile_directories(paths.directory);
            std::filesystem::copy_file(kTile, paths.full_path, std::filesystem::copy_options::overwrite_existing);
        }
    });
    app->on_key_up(Key::Right);
    ASSERT_GT(app->tiles_left(), 0u);
    compose_view();
    RgbImage ancestor;
    ASSERT_TRUE(load_png(kTile, ancestor));
    app->layer().for_each_cell([&](int i, int r, int c, WorldPixel p) {
        ASSERT_TRUE(app->tile_paths().slots[static_cast<std::size_t>(i)].empty());
        const int ax = rescale_x(p.x, 2, 1, MapSource::OpenStreetMap), ay = rescale_y(p.y, 2, 1, MapSource::OpenStreetMap);
        // Cell pixel (u, v) shows ancestor pixel (ax mod 256 + u / 8, ay mod 256 + v / 8).
        for (int uv : {0, 100, 255}) {
            const std::uint8_t* want = &ancestor.pixels[((ay % 256 + uv / 8) * 256 + ax % 256 + uv / 8) * 3];
            const Mosaic& m = app->mosaic();
            const std::uint8_t* got = &m.pixels[((std::size_t(r) * 256 + uv) * m.width + c * 256 + uv) * 3];
            EXPECT_EQ(std::vector<int>(got, got + 3), std::vector<int>(want, want + 3)) << r << c << " " << uv;
        }
    });
}

// At a device scale of 2 a catalogue source's cells are drawn from the next web zoom's four tiles,
// asked for after every 1x tile and over the same connections; until they land a cell shows its 1x
// tile (enlarged by the window layer), then their own pixels, one for each device pixel.
TEST_F(BackgroundTiles, ScaleTwoCellsTurnSharpFromTheNextZoomsTilesWithinTheConnectionLimit) {
    const std::string coarse = read_file(kTile);
    const std::filesystem::path fine_file = shared_testdata() / "images/bench/map256-palette.png";
    const std::string fine = read_file(fine_file);
    // Kept-alive connections, so that the server's count of open ones is the client's.
    start_loop(
        [&](const std::string& request) {
            // Level 2 is web zoom 10; its quarters come from zoom 11 and wait for the gate.
            const bool quarter = request.rfind("GET /11/", 0) == 0;
            if (quarter) gate.pass();
            ScriptedReply reply = ScriptedReply::make(200, "image/png", quarter ? fine : coarse, true);
            reply.keep_alive = true;
            return reply;
        },
        [](AppOptions& o) { o.device_scale = 2; });
    ASSERT_EQ(app->view().level, 2);
    EXPECT_EQ(app->tiles_left(), 4u + 16u);
    // The 1x tiles land while the quarters are held: no cell is sharp yet, none is grey.
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (app->tiles_left() > 16 && std::chrono::steady_clock::now() < deadline) {
        app->paint();
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_TRUE(app->paint().fine_cells.empty());
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 2; ++c) EXPECT_TRUE(mosaic_has_picture(c * 256 + 128, r * 256 + 128));
    gate.open();
    ASSERT_TRUE(paint_until_filled());
    const std::vector<std::string> lines = request_lines();
    ASSERT_EQ(lines.size(), 20u);
    // The 1x tiles go first: the last of them may only race the one sharp tile started beside it on
    // the other connection.
    std::size_t last_coarse = 0;
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].rfind("GET /10/", 0) == 0) last_coarse = i;
    EXPECT_LE(last_coarse, 4u) << testing::PrintToString(lines);
    EXPECT_LE(server->max_open_connections(), 2);

    RgbImage quarter;
    ASSERT_TRUE(load_png(fine_file, quarter));
    const PaintFrame frame = app->paint();
    ASSERT_EQ(frame.fine_cells.size(), 4u);
    for (const PaintFrame::FineCell& cell : frame.fine_cells) {
        std::size_t differ = 0;
        for (int y = 0; y < kFineCellSize; ++y)
            for (int x = 0; x < kFineCellSize; ++x) {
                const std::uint8_t* got = cell.bgr + (std::size_t(y) * kFineCellSize + x) * 3;
                const std::uint8_t* want = &quarter.pixels[(std::size_t(y % 256) * 256 + x % 256) * 3];
                differ += got[0] != want[2] || got[1] != want[1] || got[2] != want[0];
            }
        EXPECT_EQ(differ, 0u) << cell.x << "," << cell.y;
    }
    // The overlays are drawn over the sharp cells at their size: the marker's centre pixel as a
    // 2 × 2 block; when the marker moves its old place shows the sharp picture again.
    auto fine_pixel = [&](const PaintFrame& f, int x, int y) {  // display bitmap pixel (x, y), top-left device pixel
        for (const PaintFrame::FineCell& cell : f.fine_cells)
            if (x >= cell.x && x < cell.x + 256 && y >= cell.y && y < cell.y + 256)
                return std::vector<int>(cell.bgr + ((std::size_t(2 * (y - cell.y)) * kFineCellSize) + 2 * (x - cell.x)) * 3,
                                        cell.bgr + ((std::size_t(2 * (y - cell.y)) * kFineCellSize) + 2 * (x - cell.x)) * 3 + 3);
        return std::vector<int>();
    };
    app->window_state()->auto_pan = false;
    const ViewState& v = app->view();
    set_fix(pixel_to_latitude(v.centre_y + 40, MapSource::OpenStreetMap, 2), pixel_to_longitude(v.centre_x + 30, MapSource::OpenStreetMap, 2));
    PaintFrame marked = app->paint();
    const int mx = v.marker_x, my = v.marker_y;
    EXPECT_EQ(fine_pixel(marked, mx, my), (std::vector<int>{0, 0, 0})) << "the marker's black centre";
    set_fix(pixel_to_latitude(v.centre_y - 60, MapSource::OpenStreetMap, 2), pixel_to_longitude(v.centre_x - 50, MapSource::OpenStreetMap, 2));
    marked = app->paint();
    ASSERT_NE(v.marker_x, mx);
    const int qx = 2 * ((mx - 0) % 256) % 256, qy = 2 * (my % 256) % 256;  // the quarter picture's pixel there
    const std::uint8_t* q = &quarter.pixels[(std::size_t(qy) * 256 + qx) * 3];
    EXPECT_EQ(fine_pixel(marked, mx, my), (std::vector<int>{q[2], q[1], q[0]}));
    // The sharp tiles are cached beside the 1x ones: the same view later needs no request.
    EXPECT_TRUE(std::filesystem::exists(dir / "Maps" / "Loop@2x"));
}

// The fetching engine's connection handling is libcurl's (a build without it fetches tiles one at a
// time through the own client); the TLS and HTTP/2 peers are Linux test peers.
#if !defined(VG_NO_CURL) && !defined(_WIN32)
// A view of one conn=2 host whose tiles are half stale (max-age 0, ETag: revalidated) and half
// missing never has more than two connections open to it: the revalidations and the missing tiles
// go through the window's one engine. Over plain http, HTTP/1.1 over TLS, and HTTP/2 (nghttpd, which
// answers a revalidation with the whole tile, behind a relay that counts the connections).
TEST_F(BackgroundTiles, StaleAndMissingTilesOfAViewShareTheHostsConnections) {
    const std::string tile = read_file(kTile);
    enum class Transport { http, https, http2 };
    for (const Transport transport : {Transport::http, Transport::https, Transport::http2}) {
        SCOPED_TRACE(transport == Transport::http ? "http" : transport == Transport::https ? "https" : "HTTP/2");
        std::filesystem::remove_all(dir / "Maps");
        std::atomic<int> conditional{0};
        auto reply = [&](const std::string& request) {
            ScriptedReply r = request.find("If-None-Match:") != std::string::npos
                                  ? (++conditional, ScriptedReply::make(304, "", "", true, "ETag: \"v1\"\r\n"))
                                  : ScriptedReply::make(200, "image/png", tile, true,
                                                        "ETag: \"v1\"\r\nCache-Control: max-age=0\r\n");
            r.keep_alive = true;
            return r.after(30ms);
        };
        // Every tile of the view cached, stale at once; then half of them removed.
        std::vector<std::string> tile_paths;
        {
            LoopbackHttpServer first(reply);
            write_loop_source(first.url("/{z}/{x}/{y}.png"));
            AppOptions o = options();
            o.background_tiles = true;
            app = std::make_unique<App>(dir.path(), o);
            app->create(window);
            ASSERT_TRUE(paint_until_filled());
            const auto& slots = app->tile_paths().slots;
            ASSERT_EQ(slots.size(), 16u);
            for (std::size_t i = 0; i < slots.size(); i += 2) ASSERT_TRUE(std::filesystem::remove(slots[i])) << i;
            app.reset();
            for (const std::string& r : first.requests()) tile_paths.push_back(r.substr(4, r.find(" HTTP/") - 4));
        }
        TestPki pki;
        TempDir htdocs;
        for (const std::string& path : tile_paths) {
            std::filesystem::create_directories((htdocs / path.substr(1)).parent_path());
            write_file(htdocs / path.substr(1), tile);
        }
        std::unique_ptr<LoopbackHttpServer> plain;
        std::unique_ptr<TlsTestServer> secure;
        std::unique_ptr<Nghttpd> h2;
        std::unique_ptr<LatencyRelay> relay;
        std::string base;
        if (transport == Transport::http) {
            plain = std::make_unique<LoopbackHttpServer>(reply);
            base = plain->url("");
        } else if (transport == Transport::https) {
            secure = std::make_unique<TlsTestServer>(pki.good, reply);
            base = secure->url("");
        } else {
            h2 = std::make_unique<Nghttpd>(htdocs.path(), pki.good.key_file, pki.good.cert_file, htdocs / "log");
            if (!h2->available()) {
                std::printf("nghttpd (nghttp2-server) missing: no HTTP/2 case\n");
                continue;
            }
            relay = std::make_unique<LatencyRelay>(h2->port(), 15ms);
            base = "https://127.0.0.1:" + std::to_string(relay->port());
        }
        write_loop_source(base + "/{z}/{x}/{y}.png", "cafile=" + pki.ca_file + "\r\n");
        AppOptions o = options();
        o.background_tiles = true;
        app = std::make_unique<App>(dir.path(), o);
        app->create(window);
        EXPECT_EQ(app->tiles_left(), 8u);
        ASSERT_TRUE(paint_until_filled());
        const auto end = std::chrono::steady_clock::now() + 30s;
        while (revalidations_in_flight() > 0 && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(5ms);
        EXPECT_EQ(revalidations_in_flight(), 0u);
        EXPECT_EQ(app->paint().failed_tiles, 0);
        app.reset();
        if (transport == Transport::http2) {
            EXPECT_EQ(relay->max_open_connections(), 1);  // every transfer multiplexed over one
        } else {
            EXPECT_EQ(conditional.load(), 8);
            EXPECT_LE(plain ? plain->max_open_connections() : secure->max_open_connections(), 2);
        }
    }
}


// The built-in https OpenStreetMap with no plain-http hosts given, re-defined at a loopback TLS
// server: the window's own engine fills, pans, pauses on a 403 and reloads (the Qt window runs the
// same steps).
TEST_F(BackgroundTiles, ABuiltInHttpsSourceGoesThroughTheWindowsOwnEngine) {
    HttpsTilePeer peer;
    write_file(dir / "vor_src.txt", peer.sources_line());
    write_settings("site=OpenStreetMap\r\n", peer.ini_lines());
    AppOptions o = options();
    o.tile_hosts.reset();
    o.background_tiles = true;
    app = std::make_unique<App>(dir.path(), o);
    app->create(window);
    expect_https_source_contract(*app, peer,
                                 {[&] { return paint_until_filled(); }, [&] { app->on_key_up(Key::Right); },
                                  [&](Command id) { app->on_command(id); }});
}
#endif

#ifndef VG_NO_CURL
// Reload Map asks a source that refused us (403, paused, "until Reload Map" on the map line) again,
// also when the view fills in the background.
TEST_F(BackgroundTiles, ReloadMapLiftsABlockedSourcesPause) {
    const std::string tile = read_file(kTile);
    std::atomic<bool> refuse{true};
    server = std::make_unique<LoopbackHttpServer>([&](const std::string&) {
        return refuse ? ScriptedReply::make(403, "text/plain", "go away", true)
                      : ScriptedReply::make(200, "image/png", tile, true);
    });
    write_loop_source(server->url("/{z}/{x}/{y}.png"));
    AppOptions o = options();
    o.background_tiles = true;
    app = std::make_unique<App>(dir.path(), o);
    app->create(window);
    app->window_state()->online = true;  // the map line speaks of the network only on line
    ASSERT_TRUE(paint_until_filled());
    EXPECT_NE(app->map_message().find("not asked again until Reload Map"), std::string::npos) << app->map_message();
    const std::size_t refused = server->requests().size();
    refuse = false;
    app->on_command(Command::ReloadMap);
    EXPECT_EQ(app->tiles_left(), 16u);
    ASSERT_TRUE(paint_until_filled());
    EXPECT_EQ(server->requests().size(), refused + 16);
    EXPECT_EQ(app->paint().failed_tiles, 0);
    EXPECT_EQ(app->map_message(), "");
}

// A server that takes connections and never answers: the view gives up after one idle time-out per
// connection slot (only the two slots' connections are ever opened), and the map line says why.
TEST_F(BackgroundTiles, AServerThatNeverAnswersCostsOneTimeOutPerConnection) {
    ScriptedReply silent;
    silent.silent = true;
    server = std::make_unique<LoopbackHttpServer>(silent);
    write_loop_source(server->url("/{z}/{x}/{y}.png"));
    AppOptions o = options();
    o.background_tiles = true;
    o.tile_limits.connect = 1s;
    o.tile_limits.idle = 1s;
    app = std::make_unique<App>(dir.path(), o);
    app->create(window);
    app->window_state()->online = true;
    EXPECT_EQ(app->tiles_left(), 16u);
    ASSERT_TRUE(paint_until_filled());
    EXPECT_EQ(app->paint().failed_tiles, 16);
    EXPECT_LE(server->connection_count(), 2u);
    EXPECT_EQ(app->map_message().rfind("Loop: no answer", 0), 0u) << app->map_message();
}

#endif

TEST(TileLoaderOrder, TilesStillQueuedFollowTheMovedMiddle) {
    Gate gate;
    const std::string tile = read_file(shared_testdata() / "images/bench/map256-rgb.png");
    LoopbackHttpServer server([&](const std::string&) {
        gate.pass();
        return ScriptedReply::make(200, "image/png", tile, true);
    });
    TempDir dir;
    Fetcher fetcher;
    FakeWindow window;
    TileLoader loader(fetcher, [&window] { window.invalidate(false); });
    TileLoader::Policy policy;
    policy.host_connections = 1;
    auto wants = [&](std::vector<int> distances) {
        std::vector<TileLoader::Want> w;
        for (std::size_t i = 0; i < distances.size(); ++i) {
            const std::string name = std::string(1, static_cast<char>('a' + i));
            w.push_back({(dir / (name + ".png")).string(), server.url("/" + name), distances[i]});
        }
        return w;
    };
    loader.want(wants({0, 1, 2, 3}), policy);  // a goes first and is held by the server
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (server.requests().empty() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(5ms);
    loader.want(wants({0, 3, 2, 1}), policy);  // the view moved towards d
    gate.open();
    ASSERT_TRUE(server.wait_for_requests(4));
    std::vector<std::string> order;
    for (const std::string& r : server.requests()) order.push_back(r.substr(0, r.find(" HTTP/")));
    EXPECT_EQ(order, (std::vector<std::string>{"GET /a", "GET /d", "GET /c", "GET /b"}));
}

}  // namespace
}  // namespace vg::test
