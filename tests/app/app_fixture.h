// A running App over a scratch settings folder with its own tile cache, a settable clock and the
// recording window. Nothing leaves the machine: the probe is off, the tile hosts are a closed port
// on 127.0.0.1 and the position server listens on 127.0.0.1 only.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <string>

#include "app/app.h"
#include "platform/clock.h"
#include "support/fake_window.h"
#include "support/test_paths.h"
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
    void write_settings(const std::string& set_lines = "", const std::string& ini_lines = "",
                        const std::string& pos_lines = "N 60 10 30\r\nE 24 55 00\r\n") {
        write_file(dir / "vor_set.txt", set_lines + "site=VirtualEarth\r\nsize=small\r\nunit=NMEA\r\nport=COM0\r\n");
        write_file(dir / "vor_ini.txt", ini_lines + "maps=" + root() + "\r\nzoom=2\r\nhair=1\r\n");
        if (!pos_lines.empty()) write_file(dir / "vor_pos.txt", pos_lines);
    }

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

    // Puts a real tile picture (PNG, GIF or JPEG by the source and layer) into the cache for every
    // cell of the view around (cx, cy).
    void cache_view(MapSource source, int level, int cx, int cy, bool big = false, bool aerial = false) {
        const int g = view_grid_size(big);
        for (int r = 0; r < g; ++r)
            for (int c = 0; c < g; ++c) {
                const WorldPixel p = view_cell_pixel(source, cx, cy, g, r, c);
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

    // The tile-aligned centre of a position.
    static WorldPixel centre_of(double lat, double lon, MapSource source, int level) {
        const WorldPixel p = geo_to_pixel(lat, lon, source, level);
        return {wrap_centre_x(p.x, level, source), clamp_centre_y(p.y, level, source)};
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
    bool mosaic_has_picture(int x, int y) const {
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

    TempDir dir;
    SettableClock clock;
    FakeWindow window;
    std::unique_ptr<App> app;
};

}  // namespace vg::test
