// Atlas tiles drawn from the built-in data, one thread: a busy coast and city tile at each of the
// five levels (around Helsinki), an open-ocean tile, and an Etopo2 relief tile. The data is parsed
// once before the timing starts (as the program does on first use). Targets: well under 50 ms a tile.
// Then what making a cached tile costs beyond the drawing (the PNG written at each zlib level, which
// the window thread would otherwise skip by taking the picture at once), and the 512-pixel tiles of
// a screen of twice the pixel density: drawn on demand, against decoded from the cache. Last, a first
// Atlas view on the window thread, tiles written as before and as now, at device scales 1 and 2.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <time.h>

#include <filesystem>
#include <fstream>

#include "app/app.h"
#include "atlas/atlas_data.h"
#include "atlas/atlas_render.h"
#include "atlas/local_tiles.h"
#include "support/fake_window.h"
#include "support/test_paths.h"
#include "tiles/image_decode.h"
#include "tiles/local_source.h"

namespace {

using vg::atlas::builtin_atlas;

struct TileAt {
    int x, y;
};
// Web tile of Helsinki at `zoom`.
TileAt helsinki(int zoom) {
    const double n = 1 << zoom;
    return {static_cast<int>((24.94 + 180.0) / 360.0 * n),
            static_cast<int>((1.0 - std::log(std::tan(60.17 * M_PI / 180) + 1 / std::cos(60.17 * M_PI / 180)) / M_PI) / 2 * n)};
}

// Web tile of Helsinki at each web zoom of our levels.
void BM_AtlasTileHelsinki(benchmark::State& state) {
    const int zoom = static_cast<int>(state.range(0));
    const TileAt t = helsinki(zoom);
    const auto& data = builtin_atlas();
    for (auto _ : state) benchmark::DoNotOptimize(vg::atlas::render_tile(data, zoom, t.x, t.y));
}
BENCHMARK(BM_AtlasTileHelsinki)->Arg(4)->Arg(7)->Arg(10)->Arg(13)->Arg(16)->Unit(benchmark::kMillisecond);

// Making a cached tile (zoom 10 at Helsinki) at scale range(0), written as PNG at zlib level
// range(1); -1: not written, the picture only handed over as pixels (what the window thread would
// spend if the file were written elsewhere); -2: Qt's own PNG writer at its default (as before).
// The file size is the counter `bytes`.
void BM_AtlasTileWritten(benchmark::State& state) {
    const int scale = static_cast<int>(state.range(0)), level = static_cast<int>(state.range(1));
    const TileAt t = helsinki(10);
    const auto& data = builtin_atlas();
    vg::test::TempDir dir;
    const std::string path = (dir / "t.png").string();
    for (auto _ : state) {
        const QImage image = vg::atlas::render_tile(data, 10, t.x, t.y, false, scale);
        if (level == -1) {
            benchmark::DoNotOptimize(vg::atlas::rgb_pixels(image));
            continue;
        }
        const bool ok = level == -2 ? image.save(QString::fromStdString(path), "PNG")
                                    : vg::atlas::save_png_atomically(image, path, level);
        if (!ok) state.SkipWithError("not written");
    }
    if (level != -1) state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(path));
}
BENCHMARK(BM_AtlasTileWritten)
    ->Args({1, -2})->Args({1, -1})->Args({1, 0})->Args({1, 1})->Args({1, 6})
    ->Args({2, -2})->Args({2, -1})->Args({2, 1})
    ->Unit(benchmark::kMillisecond);

// The 512-pixel Atlas tile drawn (on demand) at zoom range(0).
void BM_AtlasFineTileDrawn(benchmark::State& state) {
    const int zoom = static_cast<int>(state.range(0));
    const TileAt t = helsinki(zoom);
    const auto& data = builtin_atlas();
    for (auto _ : state) benchmark::DoNotOptimize(vg::atlas::render_tile(data, zoom, t.x, t.y, false, 2));
}
BENCHMARK(BM_AtlasFineTileDrawn)->Arg(4)->Arg(10)->Arg(16)->Unit(benchmark::kMillisecond);

// The same tile taken from the cache into a sharp cell (decoded, copied in), once written at the
// fast level; range(0) the scale (1: the 1x tile decoded, for comparison).
void BM_AtlasTileFromCache(benchmark::State& state) {
    const int scale = static_cast<int>(state.range(0));
    const TileAt t = helsinki(10);
    vg::test::TempDir dir;
    const std::string path = (dir / "t.png").string();
    vg::atlas::save_png_atomically(vg::atlas::render_tile(builtin_atlas(), 10, t.x, t.y, false, scale), path);
    vg::RgbImage fine;
    fine.width = fine.height = vg::kFineCellSize;
    fine.pixels.assign(std::size_t(vg::kFineCellSize) * vg::kFineCellSize * 3, 0);
    for (auto _ : state) {
        if (scale == 2) {
            if (!vg::draw_fine_tile(path, -1, fine)) state.SkipWithError("not drawn");
        } else {
            vg::RgbImage image;
            if (!vg::load_png(path, image)) state.SkipWithError("not decoded");
        }
    }
}
BENCHMARK(BM_AtlasTileFromCache)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_AtlasTileOcean(benchmark::State& state) {
    const auto& data = builtin_atlas();
    for (auto _ : state) benchmark::DoNotOptimize(vg::atlas::render_tile(data, 7, 10, 60));
}
BENCHMARK(BM_AtlasTileOcean)->Unit(benchmark::kMillisecond);

void BM_ReliefTileEurope(benchmark::State& state) {
    const auto& data = builtin_atlas();
    for (auto _ : state) benchmark::DoNotOptimize(vg::atlas::render_relief_tile(data, 6, 8));
}
BENCHMARK(BM_ReliefTileEurope)->Unit(benchmark::kMillisecond);

void BM_ReliefFineTileEurope(benchmark::State& state) {
    const auto& data = builtin_atlas();
    for (auto _ : state) benchmark::DoNotOptimize(vg::atlas::render_relief_tile(data, 6, 8, 2));
}
BENCHMARK(BM_ReliefFineTileEurope)->Unit(benchmark::kMillisecond);

void BM_ParseBuiltinData(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(vg::atlas::parse_atlas(vg::atlas::builtin_atlas_bytes()));
}
BENCHMARK(BM_ParseBuiltinData)->Unit(benchmark::kMillisecond);

// The tile maker as it was: each tile written by Qt's PNG writer at its default level.
bool make_tile_as_before(const vg::LocalTileRequest& request, const std::string& path) {
    if (request.relief || request.scale != 1) return false;
    const QImage image = vg::atlas::render_tile(builtin_atlas(), request.zoom, request.x, request.y, request.faded);
    const QString temp = QString::fromStdString(path + ".part");
    return image.save(temp, "PNG") && std::rename(temp.toStdString().c_str(), path.c_str()) == 0;
}

double thread_cpu_ms() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// A first Atlas view with nothing cached, on the window thread: the start (which shows the view at
// once) and the paints that make and draw its tiles, a few a paint. range(0): 2 for a 2 × 2 view, 4 for Big Maps;
// range(1): the device scale (2 also draws and caches every cell's 512-pixel picture); range(2): 0
// the tiles written as before (Qt's PNG writer, default level), 1 as now. Then paints until every
// cell is drawn (and sharp). Counters, means of the runs: create_ms and create_cpu_ms (that step's wall and
// thread CPU time), paint_ms and paint_cpu_ms (the longest paint) and paints.
void BM_AtlasFirstView(benchmark::State& state) {
    const bool big = state.range(0) == 4;
    const int scale = static_cast<int>(state.range(1));
    vg::set_local_tile_maker(state.range(2) == 0 ? make_tile_as_before : nullptr);
    if (state.range(2) != 0) vg::atlas::install_local_tile_maker();
    double create = 0, create_cpu = 0, paint = 0, paint_cpu = 0, paints = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto scratch = std::make_unique<vg::test::TempDir>();
        const std::filesystem::path dir = scratch->path();
        std::ofstream(dir / "vor_set.txt") << "site=Atlas\r\nsize=" << (big ? "large" : "small")
                                           << "\r\nunit=NMEA\r\nport=COM0\r\n";
        std::ofstream(dir / "vor_ini.txt") << "maps=" << (dir / "Maps").string() << "\r\nzoom=2\r\n";
        std::ofstream(dir / "vor_pos.txt") << "N 60 10 30\r\nE 24 55 00\r\n";
        vg::AppOptions o;
        o.start_probe = false;
        o.background_tiles = false;
        o.device_scale = scale;
        vg::test::FakeWindow window;
        vg::App app(dir, o);
        state.ResumeTiming();
        const auto start = std::chrono::steady_clock::now();
        const double cpu = thread_cpu_ms();
        app.create(window);
        create += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        create_cpu += thread_cpu_ms() - cpu;
        // Paints until every cell is drawn and, at scale 2, sharp (the drawings are made a few a paint).
        double longest = 0, longest_cpu = 0;
        for (int n = 1;; ++n) {
            const auto painted = std::chrono::steady_clock::now();
            const double paint_cpu_start = thread_cpu_ms();
            const std::size_t sharp = app.paint().fine_cells.size();
            const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - painted;
            longest = std::max(longest, took.count());
            longest_cpu = std::max(longest_cpu, thread_cpu_ms() - paint_cpu_start);
            if ((app.layer().cells_to_compose() == 0 && (scale == 1 || sharp >= (big ? 16u : 4u))) || n == 64) {
                paints += n;
                break;
            }
        }
        paint += longest;
        paint_cpu += longest_cpu;
        state.PauseTiming();
        app.on_destroy();
        scratch.reset();
        state.ResumeTiming();
    }
    state.counters["create_ms"] = benchmark::Counter(create, benchmark::Counter::kAvgIterations);
    state.counters["create_cpu_ms"] = benchmark::Counter(create_cpu, benchmark::Counter::kAvgIterations);
    state.counters["paint_ms"] = benchmark::Counter(paint, benchmark::Counter::kAvgIterations);
    state.counters["paint_cpu_ms"] = benchmark::Counter(paint_cpu, benchmark::Counter::kAvgIterations);
    state.counters["paints"] = benchmark::Counter(paints, benchmark::Counter::kAvgIterations);
    vg::set_local_tile_maker(nullptr);
}
BENCHMARK(BM_AtlasFirstView)
    ->Args({2, 1, 0})->Args({2, 1, 1})->Args({4, 1, 0})->Args({4, 1, 1})->Args({2, 2, 1})->Args({4, 2, 1})
    ->Iterations(8)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    QGuiApplication app(argc, argv);
    (void)builtin_atlas();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
