// Window creation, the paint handler's title, following, Auto Zoom, the start file and the track
// log, the scale bar, over a real tile cache in a scratch folder.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <thread>
#include <tuple>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include "app/view_text.h"
#include "app_fixture.h"
#include "app/toolbar_layout.h"
#include "support/loopback_http_server.h"

namespace vg {
namespace {

using test::AppFixture;
using test::kStartLat;
using test::kStartLon;
using test::read_file;
using test::write_file;

// Views centred on a tile corner show the classic cells (2 × 2, 4 × 4 with Big Maps).
class AppView : public AppFixture {
protected:
    void SetUp() override { start_on_tile_corner(); }
};

TEST_F(AppView, CreationLoadsTheStartViewFromTheCacheAndStartsTheTimer) {
    write_settings();
    const WorldPixel c = centre_of(start_lat, start_lon, MapSource::VirtualEarth, 2);
    cache_view(MapSource::VirtualEarth, 2, c.x, c.y);
    // A killed run's stale settings rewrite and download, swept by a thread of the App's own.
    const std::filesystem::path leftovers[] = {dir / "vor_set.txt.partAb12Xy", dir / "Maps/VE/vor_2_1_1.png.partAb12Xy"};
    for (const auto& file : leftovers) {
        std::filesystem::create_directories(file.parent_path());
        write_file(file, "x");
        std::filesystem::last_write_time(file, std::filesystem::file_time_type::clock::now() - std::chrono::hours(2));
    }
    App& a = start();
    for (int i = 0; i < 500 && (std::filesystem::exists(leftovers[0]) || std::filesystem::exists(leftovers[1])); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    for (const auto& file : leftovers) EXPECT_FALSE(std::filesystem::exists(file)) << file;

    EXPECT_EQ(window.calls().front(), "title Vor Global");
    EXPECT_EQ(window.calls().back(), "timer 5000");
    EXPECT_EQ(count_calls("size 514x435"), 1);
    EXPECT_TRUE(window.boxes().empty());
    EXPECT_TRUE(a.view_loaded());
    EXPECT_EQ(a.view().level, 2);
    EXPECT_EQ(a.view().centre_x, c.x);
    EXPECT_EQ(a.view().centre_y, c.y);
    EXPECT_EQ(a.view().anchor.x, c.x);
    EXPECT_EQ(a.view().anchor.level, 2);
    EXPECT_TRUE(a.view().display_bitmap.exists());
    for (int y : {0, 511})
        for (int x : {0, 511}) EXPECT_TRUE(mosaic_has_picture(x, y)) << x << "," << y;

    // Without a fix: the toolbar, the frame and the bitmap's middle rows, no speed text.
    const PaintFrame f = a.paint();
    EXPECT_TRUE(f.draw_toolbar);
    EXPECT_TRUE(f.draw_frame);
    EXPECT_EQ(f.bitmap, &a.view().display_bitmap);
    EXPECT_EQ(f.visible_first_row, 64);
    EXPECT_EQ(f.map_width, 512);
    EXPECT_EQ(f.map_height, 384);
    EXPECT_FALSE(f.speed.show);
    const std::array<int, 11> buttons = {702, 721, 722, 723, 724, 730, 731, 742, 733, 734, 751};
    EXPECT_EQ(f.button_bitmaps, buttons);
    EXPECT_EQ(window.title(), "Vor VirtualEarth");

    // Shutdown: Exit frees the bitmap and closes the window; the destroy step frees the state.
    a.on_command(Command::Exit);
    EXPECT_EQ(window.calls().back(), "close");
    EXPECT_FALSE(a.view().display_bitmap.exists());
    a.on_close();
    a.on_destroy();
    EXPECT_EQ(a.window_state(), nullptr);
    EXPECT_FALSE(a.paint().draw_toolbar);
    a.on_timer();
    a.on_command(Command::BigMaps);  // handlers without a state do nothing
}

// A resize to a large window shows at once: the cells it keeps are there, the rest grey until the
// paints that follow decode them, middle cells first. Composed, the view is the mosaic built whole
// from its tiles; back to the classic size every cell is kept and nothing is left to compose.
TEST_F(AppView, ALargeResizeIsComposedOverThePaintsThatFollowIt) {
    write_settings();
    const WorldPixel c = centre_of(start_lat, start_lon, MapSource::VirtualEarth, 2);
    // Each tile marked with its place in its first row, so that a cell drawn in the wrong place shows.
    RgbImage map;
    ASSERT_TRUE(load_png(test::shared_testdata() / "images" / "bench" / "map256-rgb.png", map));
    for (int r = -3; r < 3; ++r)  // the 8 × 6 cells of a 1600 × 1200 window
        for (int k = -4; k < 4; ++k) {
            const TileKey key = tile_key(c.x + 256 * k, c.y + 256 * r, 2, MapSource::VirtualEarth, false);
            const TilePaths paths = tile_paths(key, root());
            create_tile_directories(paths.directory);
            RgbImage tile = map;
            for (int x = 0; x < 16; ++x) {
                tile.pixels[3 * x] = static_cast<std::uint8_t>(key.column);
                tile.pixels[3 * x + 1] = static_cast<std::uint8_t>(key.row);
            }
            ASSERT_TRUE(write_png(paths.full_path, tile, 1));
        }
    App& a = start();
    compose_view();
    const std::vector<std::uint8_t> classic = a.mosaic().pixels;

    a.on_size(1600, 1200);
    const ViewGrid g = a.grid();
    ASSERT_EQ(g.cells(), 48);
    EXPECT_GT(a.layer().cells_to_compose(), 0u);
    const std::size_t middle = (std::size_t(g.rows / 2) * 256 * a.mosaic().width + std::size_t(g.columns / 2) * 256) * 3;
    for (std::size_t k : {0, 1}) EXPECT_EQ(a.mosaic().pixels[middle + k], classic[(std::size_t(256) * 512 + 256) * 3 + k]);  // a kept cell
    EXPECT_EQ(a.mosaic().pixels[0], kMosaicGrey);  // a corner cell, still to compose
    EXPECT_FALSE(a.paint().view_complete);  // a screenshot waits for the rest
    EXPECT_GE(compose_view(), 1);
    EXPECT_TRUE(mosaic_has_picture(0, 0));
    EXPECT_TRUE(a.paint().view_complete);
    Mosaic whole;
    ASSERT_TRUE(build_mosaic(a.tile_paths(), MapSource::VirtualEarth, false, g, whole));
    ASSERT_EQ(a.mosaic().width, whole.width);
    EXPECT_TRUE(a.mosaic().pixels == whole.pixels);

    a.on_size(514, 435);
    EXPECT_EQ(a.layer().cells_to_compose(), 0u);
    EXPECT_TRUE(a.mosaic().pixels == classic);
}

TEST_F(AppView, WithoutAStartFileNavigationStartsFromTheDefaultPosition) {
    write_settings("", "", "");
    std::filesystem::create_directory(dir / "vor_pos.txt");  // cannot be read as a file
    App& a = start();
    EXPECT_FALSE(a.view_loaded());
    EXPECT_FALSE(a.paint().draw_frame);  // no map yet

    const WorldPixel c = centre_of(kStartLat, kStartLon, MapSource::VirtualEarth, 2);
    cache_view(MapSource::VirtualEarth, 2, c.x + 256, c.y);
    a.on_key_up(Key::Right);
    EXPECT_TRUE(a.view_loaded());
    EXPECT_EQ(a.view().centre_x, c.x + 256);
    EXPECT_EQ(a.view().centre_y, c.y);
    EXPECT_TRUE(mosaic_has_picture(256, 256));
    EXPECT_FALSE(a.window_state()->auto_pan);
    EXPECT_FALSE(window.checked(Command::AutoPan));
}

TEST_F(AppView, TitleTextsForTheReceiverTimeAndTheMousePointer) {
    write_settings("", "zone=2\r\n");
    start();
    App& a = *app;
    set_fix(kStartLat, kStartLon);
    app->fix().update([](FixRecord& f) { set_receiver_time(f, 2026, 12, 7, 5, 9, 35); });
    a.paint();
    const std::string position = "Vor VirtualEarth - N 60\xC2\xB0" "10'30\" / E 24\xC2\xB0" "55'00\"";
    EXPECT_EQ(window.title(), position + " - 07:09:35 [GMT+2]");

    // An RTK receiver's fix says so, with its error; the error circle shows once it is large enough to see.
    app->fix().update([](FixRecord& f) { f.quality = 4, f.h_error_m = 0.02; });
    EXPECT_FALSE(a.paint().accuracy.show);
    EXPECT_EQ(window.title(), position + " - 07:09:35 [GMT+2]  RTK fixed \u00b10.02 m");
    app->fix().update([](FixRecord& f) { f.quality = 2, f.h_error_m = 3000; });
    const PaintFrame frame = a.paint();
    ASSERT_TRUE(frame.accuracy.show);
    EXPECT_NEAR(frame.accuracy.radius, 3000 / metres_per_pixel(MapSource::VirtualEarth, a.view().level, kStartLat), 1);
    EXPECT_EQ(window.title(), position + " - 07:09:35 [GMT+2]  DGPS \u00b13000.0 m");
    app->fix().update([](FixRecord& f) { f.quality = -1, f.h_error_m = std::nan(""); });
    EXPECT_FALSE(a.paint().accuracy.show);
    EXPECT_EQ(window.title(), position + " - 07:09:35 [GMT+2]");

    a.on_command(Command::TripMate);  // TripMate: no seconds
    a.paint();
    EXPECT_EQ(window.title(), position + " - 07:09 [GMT+2]");
    a.on_command(Command::Nmea);

    a.on_command(Command::BigMaps);  // Big Maps: the date as well
    a.paint();
    EXPECT_EQ(window.title(), position + " - 2026/12/07 07:09:35 [GMT+2]");
    a.on_command(Command::BigMaps);

    // A receiver without a clock reports a 199x date: no time at all.
    app->fix().update([](FixRecord& f) { set_receiver_time(f, 1999, 1, 1, 0, 0, 0); });
    a.paint();
    EXPECT_EQ(window.title(), position);

    // South and west; the title is set only when it changes.
    set_fix(-33.0 - 52.0 / 60, -(70.0 + 40.0 / 60));
    a.paint();
    EXPECT_EQ(window.title(), "Vor VirtualEarth - S 33\xC2\xB0" "52'00\" / W 70\xC2\xB0" "40'00\"");
    window.clear();
    a.paint();
    EXPECT_EQ(count_calls("title " + window.title()), 0);

    // Map Coordinates with the mouse outside the map: the view centre.
    a.on_command(Command::MapCoordinates);
    a.on_mouse_move(600, 10);
    a.paint();
    const auto& v = a.view();
    EXPECT_EQ(window.title(), title_position_text("VirtualEarth", true,
                                                  pixel_to_latitude(v.centre_y, MapSource::VirtualEarth, v.level),
                                                  pixel_to_longitude(v.centre_x, MapSource::VirtualEarth, v.level)));
    // Over the map: the pointed pixel (middle of the map area is the centre plus one column).
    a.on_mouse_move(1 + 256, 49 + 192 + 10);
    EXPECT_EQ(v.pointer.x, v.centre_x);
    EXPECT_EQ(v.pointer.y, v.centre_y + 10);

    // Without auto pan and Map Coordinates the title names only the source.
    a.on_command(Command::MapCoordinates);
    a.on_command(Command::AutoPan);
    a.paint();
    EXPECT_EQ(window.title(), "Vor VirtualEarth");
}

TEST_F(AppView, FollowingKeepsThePositionInTheMiddleOfTheMapArea) {
    write_settings();
    App& a = start();
    const WorldPixel c{a.view().centre_x, a.view().centre_y};
    const MapSource ve = MapSource::VirtualEarth;
    const double lat = pixel_to_latitude(c.y, ve, 2);
    auto lon_at = [&](int dx) { return pixel_to_longitude(c.x + dx, ve, 2); };

    // The view follows the position pixel by pixel; the cells change only past the half-tile line.
    for (int dx : {100, 127, 140}) {
        set_fix(lat, lon_at(dx));
        const PaintFrame f = a.paint();
        EXPECT_NEAR(a.view().centre_x, c.x + dx, 1) << dx;
        EXPECT_EQ(a.view().centre_y, c.y);
        EXPECT_EQ(a.layer().grid().columns, 4) << "the cells uncovered by the offset" << dx;
        EXPECT_EQ(a.view().marker_x - f.visible_first_column, 256) << dx;
        EXPECT_EQ(a.view().marker_y - f.visible_first_row, 192) << dx;
        EXPECT_EQ(round_to_tile_edge(a.view().centre_x), dx < 128 ? c.x : c.x + 256);
    }

    // The marker is stamped into the bitmap at its mosaic pixel (black centre).
    const DisplayBitmap& b = a.view().display_bitmap;
    const std::uint8_t* px = b.row(a.view().marker_y) + 3 * a.view().marker_x;
    EXPECT_EQ(px[0] + px[1] + px[2], 0);

    // Speed text with the dash setting: knots as km/h and the compass point.
    a.window_state()->dash = 'k';
    set_fix(lat, lon_at(140), 3, 54.0);
    app->fix().update([](FixRecord& f) { f.course = 90; });
    const PaintFrame f = a.paint();
    ASSERT_TRUE(f.speed.show);
    EXPECT_EQ(f.speed.text, "100 km/h E");
    EXPECT_EQ(f.speed.font_height, 24);
    EXPECT_EQ(f.speed.x, 512 - 11 * 10);
    EXPECT_EQ(f.speed.y, 384 + 48 - 24);
}

TEST_F(AppView, AutoZoomStepsInOnlyOffLineEveryTwentySeconds) {
    write_settings();
    App& a = start();
    set_fix(kStartLat, kStartLon);
    a.on_command(Command::AutoZoom);
    ASSERT_TRUE(a.window_state()->auto_zoom);

    a.window_state()->online = true;
    clock.seconds += 100;
    a.paint();
    EXPECT_EQ(a.view().level, 2);

    EXPECT_EQ(a.view().zoom_clock, clock.seconds);  // the first fix restarts the interval

    a.window_state()->online = false;
    clock.seconds += 20;
    a.paint();
    EXPECT_EQ(a.view().level, 2);
    clock.seconds += 1;
    a.paint();
    EXPECT_EQ(a.view().level, 3);
    clock.seconds += 20;
    a.paint();
    EXPECT_EQ(a.view().level, 3);
    clock.seconds += 1;
    a.paint();
    EXPECT_EQ(a.view().level, 4);
    const WorldPixel c4 = centre_of(kStartLat, kStartLon, MapSource::VirtualEarth, 4);
    EXPECT_EQ(a.view().centre_x, c4.x);
    EXPECT_EQ(a.view().centre_y, c4.y);
    clock.seconds += 21;
    a.paint();
    EXPECT_EQ(a.view().level, 4);
}

// A Web Mercator source of vor_src.txt: the wheel steps through every web zoom, z11 and z12 between
// the level 2 and level 3 presets, asking the tile server for those zooms' tiles and keeping the
// pointed place under the pointer; the marker and the plotted log stay on their map places there;
// the level buttons still give zooms 4, 7, 10, 13 and 16, and `zoom=2` still starts at zoom 10.
TEST_F(AppView, WheelStepsThroughTheWebZoomsBetweenTheLevels) {
    const std::string tile = read_file(test::shared_testdata() / "images/bench/map256-rgb.png");
    test::LoopbackHttpServer server(test::ScriptedReply::make(200, "image/png", tile, false));
    write_file(dir / "vor_src.txt", "Loop|map|" + server.url("/{z}/{x}/{y}.png") + "||Test|conn=2\r\n");
    const MapSource osm = MapSource::OpenStreetMap;
    // A logged point five level-2 pixels south-east of the place under the pointer.
    const int px = 101, py = toolbar::kMapTop + 50;  // client point: map-area pixel (100, 50)
    const WorldPixel c2 = centre_of(start_lat, start_lon, osm, 2);
    const WorldPixel at2{c2.x + 100 - 256, c2.y + 50 - 192};
    const double lat = pixel_to_latitude(at2.y, osm, 2), lon = pixel_to_longitude(at2.x, osm, 2);
    char log_line[96];
    std::snprintf(log_line, sizeof log_line, "%.9f %.9f - Mon Dec  7 05:09:35 2026\n",
                  pixel_to_latitude(at2.y + 5, osm, 2), pixel_to_longitude(at2.x + 5, osm, 2));
    write_file(dir / "track.txt", log_line);
    write_settings("site=Loop\r\n", "file=track.txt\r\nplot=yes\r\n");
    App& a = start();
    ASSERT_EQ(a.view().level, 2);
    auto asked_at = [&](int zoom) {
        std::set<std::string> lines;
        for (const std::string& r : server.requests())
            if (r.rfind("GET /" + std::to_string(zoom) + "/", 0) == 0) lines.insert(r.substr(4, r.find(" HTTP/") - 4));
        return lines;
    };
    EXPECT_EQ(asked_at(10).size(), 4u);
    auto track_near = [&](const PaintFrame& f, int x, int y) {
        const DisplayBitmap& b = a.view().display_bitmap;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                const int c = f.visible_first_column + x + dx, r = f.visible_first_row + y + dy;
                if (r < 0 || r >= b.height() || c < 0 || c >= b.width()) continue;
                const std::uint8_t* px = b.row(r) + 3 * c;
                if (px[0] == 0x10 && px[1] == 0x40 && px[2] == 0xe0) return true;  // the track's colour
            }
        return false;
    };

    auto tile_line = [](int zoom, int x, int y) {
        return "/" + std::to_string(zoom) + "/" + std::to_string(x / 256) + "/" + std::to_string(y / 256) + ".png";
    };
    for (int zoom : {11, 12}) {
        a.on_wheel(1, px, py);
        ASSERT_EQ(web_zoom(a.view().level), zoom);
        EXPECT_EQ(level_of_zoom(zoom), -1);
        // Every cell's tile of this zoom was asked for, by its own column and row.
        std::set<std::string> want;
        a.layer().for_each_cell([&](int, int, int, WorldPixel p) {
            want.insert(tile_line(zoom, p.x, p.y));
        });
        EXPECT_EQ(asked_at(zoom), want);
        const WorldPixel place = geo_to_pixel(lat, lon, osm, a.view().level);
        EXPECT_EQ(want.count(tile_line(zoom, place.x, place.y)), 1u);
        // The pointed place is still under the pointer (to the pixel).
        EXPECT_NEAR(a.view().centre_x + 100 - a.view().map_width / 2, place.x, 1) << zoom;
        EXPECT_NEAR(a.view().centre_y + 50 - a.view().map_height / 2, place.y, 1) << zoom;
        // A fix there: the marker is drawn under the pointer, the logged point 5 · 2^(zoom − 10) pixels off.
        set_fix(lat, lon);
        a.paint();  // the marker moved: the bitmap is made again, the next paint plots the log over it
        const PaintFrame f = a.paint();
        EXPECT_NEAR(a.view().marker_x - f.visible_first_column, 100, 1) << zoom;
        EXPECT_NEAR(a.view().marker_y - f.visible_first_row, 50, 1) << zoom;
        const int off = 5 << (zoom - 10);
        EXPECT_TRUE(track_near(f, 100 + off, 50 + off)) << zoom;
    }
    a.on_wheel(1, px, py);
    EXPECT_EQ(a.view().level, 3);
    // Clicks between the levels zoom to the next level in or out.
    a.on_wheel(-2, px, py);
    a.on_left_button(px, py);
    EXPECT_EQ(a.view().level, 3);
    a.on_wheel(-1, px, py);
    a.on_right_button(px, py);
    EXPECT_EQ(a.view().level, 2);

    // The level buttons are the classic presets.
    for (int k = 0; k < kLevelCount; ++k) {
        a.on_left_button(toolbar::kHitLeft[toolbar::kLevel0 + k] + 5, 20);
        EXPECT_EQ(a.view().level, k);
        EXPECT_EQ(asked_at(4 + 3 * k).empty(), false) << k;
    }
    for (int zoom : {5, 6, 8, 9, 14, 15}) EXPECT_TRUE(asked_at(zoom).empty()) << zoom;
    // Beyond level 4 the wheel goes on to zoom 19, and no further.
    a.on_wheel(5, px, py);
    EXPECT_EQ(web_zoom(a.view().level), 19);
}

// MapQuest's rows are not the web pyramid's: the wheel steps level by level there.
TEST_F(AppView, WheelStepsLevelByLevelOnASourceWithoutWebZooms) {
    write_settings("site=MapQuest\r\n");
    App& a = start();
    const MapSource mq = MapSource::MapQuest;
    const WorldPixel c = {a.view().centre_x, a.view().centre_y};
    cache_view(mq, 3, rescale_x(c.x, 2, 3, mq), rescale_y(c.y, 2, 3, mq));
    a.on_wheel(1, 0, 0);  // outside the map: around the centre
    EXPECT_EQ(a.view().level, 3);
}

TEST_F(AppView, FirstFixIsWrittenOnceAndMarkerMovesAreLogged) {
    write_settings("", "file=track.txt\r\nplot=yes\r\n");
    App& a = start();
    a.paint();
    EXPECT_EQ(read_file(dir / "vor_pos.txt"), start_pos);

    set_fix(-(33.0 + 52.0 / 60), -(70.0 + 40.0 / 60));
    a.paint();
    EXPECT_EQ(read_file(dir / "vor_pos.txt"), "S  33 52 00\nW  70 40 00\n");
    EXPECT_EQ(a.view().zoom_clock, clock.seconds);
    set_fix(kStartLat, kStartLon);
    a.paint();
    a.paint();  // no move: no line
    EXPECT_EQ(read_file(dir / "vor_pos.txt"), "S  33 52 00\nW  70 40 00\n");
    // A text file of the system: CR LF line ends on Windows.
    const std::string eol = kPathSeparator == '\\' ? "\r\n" : "\n";
    EXPECT_EQ(read_file(dir / "track.txt"),
              "-33.866667 -70.666667 - Mon Dec  7 05:09:35 2026" + eol + "60.175000 24.916667 - Mon Dec  7 05:09:35 2026" + eol);

    // Logged points are drawn back; lines that are not two numbers are skipped.
    const std::string log = read_file(dir / "track.txt");
    write_file(dir / "track.txt", "garbage\n60.17\n\n" + log + std::string(600, 'x') + "\n");
    a.on_command(Command::Track);  // track on: markers stay, no cross-hair
    a.paint();
    EXPECT_EQ(read_file(dir / "track.txt"), "garbage\n60.17\n\n" + log + std::string(600, 'x') + "\n");
}

TEST_F(AppView, AFailedStartFileWriteLeavesTheOldOne) {
#ifdef _WIN32
    GTEST_SKIP() << "the full disk is made with a POSIX file size limit";
#else
    write_settings();
    App& a = start();
    // A disk that fills after 4 bytes: the start file is replaced whole or not at all, and the new
    // file beside it is removed.
    const std::string old = read_file(dir / "vor_pos.txt");
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto saved_signal = std::signal(SIGXFSZ, SIG_IGN);
    rlimit full = saved;
    full.rlim_cur = 4;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &full), 0);
    set_fix(-33.5, -70.5);
    a.paint();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, saved_signal);
    EXPECT_EQ(read_file(dir / "vor_pos.txt"), old);
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(e.path().filename().string().find(".part"), std::string::npos) << e.path();
#endif
}

// The display bitmap's pixels.
std::vector<std::uint8_t> pixels_of(const DisplayBitmap& b) {
    std::vector<std::uint8_t> out;
    for (int y = 0; y < b.height(); ++y) out.insert(out.end(), b.row(y), b.row(y) + 3 * b.width());
    return out;
}

TEST_F(AppView, LoggedPointsAreKeptInMemoryAndTheScaleBarFollowsTheLatitude) {
    // Without a log: the map as it is.
    write_settings("", "file=track.txt\r\nplot=yes\r\n");
    const std::vector<std::uint8_t> bare = pixels_of(*start().paint().bitmap);
    app.reset();

    // Points near the start position are drawn; a bad line and a line cut short are skipped.
    write_file(dir / "track.txt", "60.18 24.96 - Mon Dec  7 05:09:35 2026\ngarbage\n60.16 24.88 - Mon Dec  7 05:09:36 2026\n60.1");
    const PaintFrame f = start().paint();
    const std::vector<std::uint8_t> plotted = pixels_of(*f.bitmap);
    EXPECT_NE(plotted, bare);
    // Kept in memory: a paint does not read the file again.
    std::filesystem::remove(dir / "track.txt");
    EXPECT_EQ(pixels_of(*app->paint().bitmap), plotted);

    // Level 2 (web zoom 10) at 60.2° N: about 76 m a pixel, so 5 km is the longest round length
    // within the bar's 120 pixels.
    EXPECT_TRUE(f.scale_bar.show);
    EXPECT_EQ(f.scale_bar.label, "5 km");
    EXPECT_NEAR(f.scale_bar.pixels, 5000 / (152.874 * std::cos(60.2 * 3.14159265 / 180)), 1.0);
}

TEST(TrackPlotPlaces, OneLineBrokenAtGapsWorkedOutAgainOnlyForChanges) {
    test::TempDir dir;
    write_file(dir / "a.txt", "1 1\n1.2 1.4\n2 3\n9 9\n");
    TrackLog log;
    log.open(dir / "a.txt");
    TrackPlot plot;
    int asked = 0;
    auto place = [&](double lat, double lon, long long& c, long long& r) {  // whole degrees as pixels
        ++asked;
        c = static_cast<long long>(lon);
        r = static_cast<long long>(lat);
    };
    auto joined = [](const LoggedPosition&, const LoggedPosition&) { return true; };
    auto places = [&](const TrackPlot::View& v) {
        std::vector<std::tuple<long long, long long, bool>> out;
        for (const auto& p : plot.places(log.positions(), log.version(), v, place, joined)) out.emplace_back(p.c, p.r, p.starts);
        return out;
    };
    using Places = std::vector<std::tuple<long long, long long, bool>>;
    const TrackPlot::View view{MapSource::OpenStreetMap, 2, 0, 0, 5, 5};
    // (1.2, 1.4) is at (1, 1) again; (9, 9) outside the bitmap stays, as the line to it crosses it.
    EXPECT_EQ(places(view), (Places{{1, 1, true}, {3, 2, false}, {9, 9, false}}));
    EXPECT_EQ(asked, 4);
    // Unchanged: nothing asked. An append: only the new position.
    places(view);
    EXPECT_EQ(asked, 4);
    ASSERT_TRUE(log.append(4, 0, "Mon Dec  7 05:09:35 2026"));
    EXPECT_EQ(places(view).back(), std::make_tuple(0LL, 4LL, false));
    EXPECT_EQ(asked, 5);
    // Another view or another log: all again.
    TrackPlot::View panned = view;
    panned.centre_x = 256;
    places(panned);
    EXPECT_EQ(asked, 10);
    write_file(dir / "b.txt", "0 0\n");
    log.open(dir / "b.txt");
    EXPECT_EQ(places(panned), (Places{{0, 0, true}}));
    EXPECT_EQ(asked, 11);

    // Recorded fixes: a new line after a gap without fixes.
    const std::vector<TrackPoint> fixes{{1, 1, 100, {}}, {2, 2, 101, {}}, {3, 3, 101 + kFixGapSeconds + 1, {}}};
    TrackPlot recorded;
    auto by_time = [](const TrackPoint& a, const TrackPoint& b) { return same_segment(a, b); };
    std::vector<bool> starts;
    for (const auto& p : recorded.places(fixes, 0, view, place, by_time)) starts.push_back(p.starts);
    EXPECT_EQ(starts, (std::vector<bool>{true, false, true}));
}

// The age of an old fix in whole units, and how long each text stays (the window wakes when it changes).
TEST(ViewText, FixAges) {
    EXPECT_EQ(fix_age_text(-4), " (0 s old)");  // a clock set back
    EXPECT_EQ(fix_age_text(59), " (59 s old)");
    EXPECT_EQ(fix_age_text(60), " (1 min old)");
    EXPECT_EQ(fix_age_text(3599), " (59 min old)");
    EXPECT_EQ(fix_age_text(7300), " (2 h old)");
    EXPECT_EQ(fix_age_text_lasts(8), 1);
    EXPECT_EQ(fix_age_text_lasts(61), 59);
    EXPECT_EQ(fix_age_text_lasts(3600 + 100), 3500);
    for (const std::int64_t age : {0, 59, 60, 119, 3599, 3600, 86399})
        EXPECT_NE(fix_age_text(age), fix_age_text(age + fix_age_text_lasts(age))) << age;
}

TEST(ViewText, ScaleBarLengths) {
    const auto equator = scale_bar_length(152.874, 120);  // web zoom 10 at the equator
    ASSERT_TRUE(equator);
    EXPECT_EQ(equator->label, "10 km");
    EXPECT_EQ(equator->pixels, 65);
    // 1, 2 and 5 steps, metres below a kilometre; a whole power of ten reached exactly.
    EXPECT_EQ(scale_bar_length(1.0, 120)->label, "100 m");
    EXPECT_EQ(scale_bar_length(1.0, 120)->pixels, 100);
    EXPECT_EQ(scale_bar_length(0.3, 120)->label, "20 m");
    EXPECT_EQ(scale_bar_length(0.3, 120)->pixels, 67);
    EXPECT_EQ(scale_bar_length(10.0, 100)->label, "1 km");
    EXPECT_EQ(scale_bar_length(10.0, 100)->pixels, 100);
    EXPECT_EQ(scale_bar_length(9783.94, 120)->label, "1000 km");
    EXPECT_EQ(scale_bar_length(0.01, 120)->label, "1 m");
    // No bar where nothing sensible fits.
    for (const double bad : {0.001, 0.0, -5.0, std::nan(""), HUGE_VAL, 1e300})
        EXPECT_FALSE(scale_bar_length(bad, 120)) << bad;
    EXPECT_FALSE(scale_bar_length(10.0, 0));
}

TEST(ViewText, AnglesStartFileAndAboutLines) {
    const AngleParts p = angle_parts(60.175);
    EXPECT_EQ(p.degrees, 60);
    EXPECT_EQ(p.minutes, 10);
    EXPECT_EQ(p.seconds, 30);
    EXPECT_EQ(angle_parts(24.0 + 55.0 / 60).seconds, 0);  // a hair below a whole minute counts
    EXPECT_EQ(start_position_text(0, 0), "S   0 00 00\nW   0 00 00\n");
    EXPECT_EQ(about_version_line("Feb 13 2010"), "VorGlobal ver 1.4 - build 2010FEB13");
    EXPECT_EQ(about_version_line("Dec  7 2026"), "VorGlobal ver 1.4 - build 2026DEC07");
    EXPECT_EQ(about_system_line("6.1.0-13-amd64"), "Linux ver. 6.1");
    EXPECT_EQ(about_system_line(""), "Linux ver. 0.0");
    EXPECT_EQ(speed_kmh(std::nan("")), 0);
    EXPECT_EQ(speed_kmh(1e300), 2147483647);
}

}  // namespace
}  // namespace vg
