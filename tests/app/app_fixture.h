// A running App over a scratch settings folder with its own tile cache, a settable clock and the
// recording window. Nothing leaves the machine: the probe is off, the tile hosts are a closed port
// on 127.0.0.1 and the position server listens on 127.0.0.1 only.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/app.h"
#include "platform/clock.h"
#include "support/fake_window.h"
#include "support/test_paths.h"
#include "support/view_places.h"
#include "tiles/geometry.h"
#include "tiles/tile_naming.h"

namespace vg::test {

class SettableClock : public Clock {
public:
    std::int64_t now_seconds() const override { return seconds; }
    std::string local_calendar_text() const override { return "Mon Dec  7 05:09:35 2026"; }
    std::int64_t seconds = 1'000'000;
};

// Helsinki, the default start position: N 60 10 30, E 24 55 00.
inline constexpr double kStartLat = 60.0 + 10.0 / 60 + 30.0 / 3600;
inline constexpr double kStartLon = 24.0 + 55.0 / 60;

class AppFixture : public ::testing::Test {
protected:
    // Settings files: `set_lines` and `ini_lines` come before (and so override) lines that keep the link closed and
    // put the cache into the scratch folder.
    // vor_pos.txt holds `pos_lines`, by default `start_pos`.
    void write_settings(const std::string& set_lines = "", const std::string& ini_lines = "",
                        const std::optional<std::string>& pos_lines = std::nullopt) {
        write_file(dir / "vor_set.txt", set_lines + "site=VirtualEarth\r\nsize=small\r\nunit=NMEA\r\nport=COM0\r\n");
        write_file(dir / "vor_ini.txt", ini_lines + "maps=" + root() + "\r\nzoom=2\r\nhair=1\r\n");
        const std::string& pos = pos_lines ? *pos_lines : start_pos;
        if (!pos.empty()) write_file(dir / "vor_pos.txt", pos);
    }

    // Makes the start position the whole-second position nearest Helsinki whose level-2 pixel is a
    // tile corner: the start view then has the classic 2 × 2 (4 × 4) cells.
    void start_on_tile_corner() { start_pos = tile_corner_position(kStartLat, kStartLon, 2, &start_lat, &start_lon); }

    std::string root() const { return (dir.path() / "Maps").string(); }

    AppOptions options() {
        AppOptions o;
        o.clock = &clock;
        o.start_probe = false;
        TileHosts closed;
        closed.etopo2 = closed.openstreetmap = closed.google_map = closed.google_aerial = closed.mapquest =
            "127.0.0.1:1";
        closed.virtual_earth_road.fill("127.0.0.1:1");
        closed.virtual_earth_aerial.fill("127.0.0.1:1");
        o.tile_hosts = closed;
        o.http.connect_timeout = std::chrono::milliseconds(3000);
        o.http.idle_timeout = std::chrono::milliseconds(3000);
        o.server.port = 0;
        o.server.bind_address = "127.0.0.1";
        // These tests see each view whole when its command returns; background filling has its own.
        o.background_tiles = false;
        return o;
    }

    App& start() {
        app = std::make_unique<App>(dir.path(), options());
        app->create(window);
        return *app;
    }

    // The cells of a classic view (512 × 384, or 1024 × 768 with Big Maps) centred on (cx, cy): the
    // map area around the nearest tile corner, widened by the centre's distance from it.
    static ViewGrid classic_grid(int cx, int cy, bool big = false) {
        const int w = big ? 1024 : 512, h = big ? 768 : 384;
        return view_grid_covering(w + 2 * std::abs(cx - round_to_tile_edge(cx)), h + 2 * std::abs(cy - round_to_tile_edge(cy)));
    }

    // Puts a real tile picture (PNG, GIF or JPEG by the source and layer) into the cache for every
    // cell of the classic view centred on (cx, cy).
    void cache_view(MapSource source, int level, int cx, int cy, bool big = false, bool aerial = false) {
        const ViewGrid g = classic_grid(cx, cy, big);
        const int gx = round_to_tile_edge(cx), gy = round_to_tile_edge(cy);
        for (int r = 0; r < g.rows; ++r)
            for (int c = 0; c < g.columns; ++c) {
                const WorldPixel p = view_cell_pixel(source, gx, gy, g, r, c);
                const TileKey key = tile_key(p.x, p.y, level, source, aerial);
                if (!tile_in_world(key)) continue;
                const TilePaths paths = tile_paths(key, root());
                create_tile_directories(paths.directory);
                const std::string ext = tile_extension(source, aerial);
                const char* picture = ext == "gif" ? "map256.gif" : ext == "jpg" ? "photo256-q85.jpg" : "map256-rgb.png";
                std::filesystem::copy_file(shared_testdata() / "images" / "bench" / picture, paths.full_path,
                                           std::filesystem::copy_options::overwrite_existing);
            }
    }

    // The view centre of a position: its own pixel, wrapped and clamped into the usable rows.
    static WorldPixel centre_of(double lat, double lon, MapSource source, int level) {
        const WorldPixel p = geo_to_pixel(lat, lon, source, level);
        return {wrap_view_x(p.x, level, source), clamp_view_y(p.y, level, source)};
    }

    void set_fix(double lat, double lon, int dimension = 3, double knots = 0) {
        app->fix().update([&](FixRecord& f) {
            f.latitude = lat;
            f.longitude = lon;
            f.fix_dimension = dimension;
            f.speed_knots = knots;
        });
    }

    // True when the mosaic pixel (x, y) holds picture, not the grey of a missing tile.
    // Paints until every cell of the view is composed (a view shows at once and its cells are drawn
    // over the paints that follow); the number of paints.
    int compose_view() {
        int paints = 0;
        for (; app->layer().cells_to_compose() > 0 && paints < 1000; ++paints) app->paint();
        return paints;
    }

    // True when mosaic pixel (x, y) of the composed view is not the grey of a cell without a tile.
    bool mosaic_has_picture(int x, int y) {
        compose_view();
        const Mosaic& m = app->mosaic();
        if (!m.exists()) return false;
        const std::uint8_t* p = &m.pixels[(static_cast<std::size_t>(y) * m.width + x) * 3];
        return !(p[0] == 192 && p[1] == 192 && p[2] == 192);
    }

    int count_calls(const std::string& call) const {
        int n = 0;
        for (const auto& c : window.calls()) n += c == call;
        return n;
    }

    std::string start_pos = "N 60 10 30\r\nE 24 55 00\r\n";
    double start_lat = kStartLat, start_lon = kStartLon;
    TempDir dir;
    SettableClock clock;
    FakeWindow window;
    std::unique_ptr<App> app;
};

}  // namespace vg::test
