// Start-up to the first painted map with a warm tile cache, the paint handler for a marker move
// that needs no reload, with small and Big Maps views, and a paint that plots a long track log.
#include <benchmark/benchmark.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "app/app.h"
#include "gps/ais.h"
#include "support/test_paths.h"
#include "tiles/geometry.h"
#include "tiles/tile_naming.h"

namespace {

using namespace vg;

class NullWindow : public Window {
public:
    void set_title(const std::string&) override {}
    void enable_menu_item(Command, bool) override {}
    void check_menu_item(Command, bool) override {}
    void warning_box(const std::string&, const std::string&) override {}
    void set_wait_cursor(bool) override {}
    void invalidate(bool) override {}
    void set_client_size(int, int) override {}
    void copy_image_to_clipboard(const std::uint8_t*, int, int, int) override {}
    void start_timer(int) override {}
    void close_window() override {}
    bool run_com_settings_dialog(ComSettings&) override { return false; }
    void open_gps_monitor(std::function<MonitorTexts()>) override {}
    void run_keys_dialog() override {}
    void run_about_dialog(const std::string&, const std::string&) override {}
};

constexpr double kLat = 60.175;
constexpr double kLon = 24.916667;

// A settings folder whose cache holds the 4 × 4 tiles around the start position at level 2.
struct Workspace {
    test::TempDir scratch;
    std::filesystem::path dir = scratch.path();
    explicit Workspace(bool big, std::string_view more_ini = {}) {
        const std::string root = (dir / "Maps").string();
        std::ofstream(dir / "vor_set.txt") << "site=VirtualEarth\r\nsize=" << (big ? "large" : "small")
                                           << "\r\nunit=NMEA\r\nport=COM0\r\n";
        std::ofstream(dir / "vor_ini.txt") << "maps=" << root << "\r\nzoom=2\r\nhair=1\r\ndash=k\r\n" << more_ini;
        std::ofstream(dir / "vor_pos.txt") << "N 60 10 30\r\nE 24 55 00\r\n";
        const MapSource ve = MapSource::VirtualEarth;
        const WorldPixel p = geo_to_pixel(kLat, kLon, ve, 2);
        const int cx = wrap_centre_x(p.x, 2, ve), cy = clamp_centre_y(p.y, 2, ve);
        // The cells around the start, enough for the view centred on it (off its tile corner).
        for (int r = 0; r < 8; ++r)
            for (int c = 0; c < 8; ++c) {
                const WorldPixel cell = view_cell_pixel(ve, cx, cy, 8, r, c);
                const TilePaths paths = tile_paths(tile_key(cell.x, cell.y, 2, ve, false), root);
                create_tile_directories(paths.directory);
                std::filesystem::copy_file(std::filesystem::path(VG_TESTDATA) / "images/bench/map256-rgb.png",
                                           paths.full_path, std::filesystem::copy_options::overwrite_existing);
            }
    }
};

AppOptions bench_options() {
    AppOptions o;
    o.start_probe = false;
    TileHosts closed;
    closed.etopo2 = closed.openstreetmap = closed.google_map = closed.google_aerial = closed.mapquest = "127.0.0.1:1";
    closed.virtual_earth_road.fill("127.0.0.1:1");
    closed.virtual_earth_aerial.fill("127.0.0.1:1");
    o.tile_hosts = closed;
    return o;
}

// A 3D fix at the start position.
void put_fix_at_start(App& app) {
    app.fix().update([](FixRecord& f) {
        f.latitude = kLat;
        f.longitude = kLon;
        f.fix_dimension = 3;
    });
}

void BM_StartupFirstPaint(benchmark::State& state) {
    const bool big = state.range(0) != 0;
    Workspace ws(big);
    NullWindow window;
    for (auto _ : state) {
        App app(ws.dir, bench_options());
        app.create(window);
        put_fix_at_start(app);
        PaintFrame frame = app.paint();
        benchmark::DoNotOptimize(frame.bitmap);
        if (!frame.bitmap) state.SkipWithError("no map painted");
    }
}
BENCHMARK(BM_StartupFirstPaint)->Arg(0)->Arg(1)->ArgNames({"big"})->Unit(benchmark::kMillisecond);

void BM_MarkerMove(benchmark::State& state) {
    const bool big = state.range(0) != 0;
    Workspace ws(big);
    NullWindow window;
    App app(ws.dir, bench_options());
    app.create(window);
    app.window_state()->auto_pan = false;  // the marker moves over a view that stays
    const MapSource ve = MapSource::VirtualEarth;
    const int cx = app.view().centre_x, cy = app.view().centre_y;
    const double lat = pixel_to_latitude(cy, ve, 2);
    int step = 0;
    for (auto _ : state) {
        // Back and forth east of the centre: the marker moves, the view stays.
        const double lon = pixel_to_longitude(cx + (step++ % 2 ? 20 : 60), ve, 2);
        app.fix().update([&](FixRecord& f) {
            f.latitude = lat;
            f.longitude = lon;
            f.fix_dimension = 3;
            f.speed_knots = 30;
        });
        PaintFrame frame = app.paint();
        benchmark::DoNotOptimize(frame.bitmap);
    }
    if (app.view().centre_x != cx) state.SkipWithError("the view moved");
}
BENCHMARK(BM_MarkerMove)->Arg(0)->Arg(1)->ArgNames({"big"})->Unit(benchmark::kMicrosecond);

// A paint with `plot=yes` and a track log of 100 000 points around the view (the marker stays, so
// nothing is appended): the cost of drawing the logged points back.
void BM_PlotTrackLog(benchmark::State& state) {
    Workspace ws(false, "file=track.txt\r\nplot=yes\r\n");
    {
        std::ofstream log(ws.dir / "track.txt", std::ios::binary);
        for (int i = 0; i < 100000; ++i)
            log << std::fixed << kLat + (i % 500) * 1e-4 << ' ' << kLon + (i / 500) * 1e-4
                << " - Mon Dec  7 05:09:35 2026\n";
    }
    NullWindow window;
    App app(ws.dir, bench_options());
    app.create(window);
    put_fix_at_start(app);
    app.paint();
    for (auto _ : state) {
        PaintFrame frame = app.paint();
        benchmark::DoNotOptimize(frame.bitmap);
    }
}
BENCHMARK(BM_PlotTrackLog)->Unit(benchmark::kMillisecond);

// A paint with 1,000 moving AIS targets around the position (within a few kilometres, so all in the
// view): the marks, their course vectors and the approach figures (bench/ui/ais_paint_bench draws them).
void BM_PaintAisTargets(benchmark::State& state) {
    Workspace ws(true);
    NullWindow window;
    App app(ws.dir, bench_options());
    app.create(window);
    put_fix_at_start(app);
    for (int i = 0; i < 1000; ++i) {
        ais::Message m;
        m.type = i % 3 == 0 ? 18 : 1;
        m.mmsi = 230000000 + static_cast<std::uint32_t>(i);
        m.lat = static_cast<std::int32_t>((kLat + ((i * 37) % 200 - 100) * 1e-4) * 600000);
        m.lon = static_cast<std::int32_t>((kLon + ((i * 91) % 200 - 100) * 2e-4) * 600000);
        m.speed = 50 + i % 150;
        m.course = (i * 131) % 3600;
        m.heading = m.course / 10;
        m.decoded = true;
        app.ais_feed().message(m);
    }
    std::size_t marks = 0;
    for (auto _ : state) {
        PaintFrame frame = app.paint();
        marks = frame.ais.size();
        benchmark::DoNotOptimize(frame.bitmap);
    }
    state.counters["marks"] = static_cast<double>(marks);
}
BENCHMARK(BM_PaintAisTargets)->Unit(benchmark::kMillisecond);

// A paint with 1 000 fleet devices in view, each with a 10-minute trail at 1 Hz (thinned to 120
// points): the paint logic's share of the fleet layer (MapView then draws the frame's marks).
void BM_PaintFleet(benchmark::State& state) {
    Workspace ws(false);
    NullWindow window;
    App app(ws.dir, bench_options());
    app.create(window);
    put_fix_at_start(app);
    app.paint();
    const std::int64_t now = std::time(nullptr);
    for (int s = 600; s >= 0; --s)
        for (int d = 0; d < 1000; ++d) {
            DeviceReport r;
            r.id = "device " + std::to_string(d);
            r.lat = kLat + (d / 40) * 0.002 + s * 1e-5;
            r.lon = kLon + (d % 40) * 0.004;
            r.time_ms = (now - s) * 1000;
            r.course_deg = 45;
            app.device_report(r);
        }
    for (auto _ : state) {
        PaintFrame frame = app.paint();
        benchmark::DoNotOptimize(frame.fleet.data());
        if (frame.fleet.size() < 100) state.SkipWithError("the fleet is not in view");
    }
}
BENCHMARK(BM_PaintFleet)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
