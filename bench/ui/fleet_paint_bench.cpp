// Drawing 1,000 fleet devices in one paint of a Big Maps view (1024 × 768), each with a 10-minute
// trail (120 points, a point every 5 s) and its name, as the map view draws PaintFrame::fleet (the
// marks' own making is measured by bench/app/paint_bench, BM_PaintFleet).
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include "app/fleet.h"
#include "ui/fleet_painter.h"

namespace {

using vg::PaintFrame;

std::vector<PaintFrame::FleetMark> thousand_devices() {
    std::vector<PaintFrame::FleetMark> marks;
    for (int i = 0; i < 1000; ++i) {
        PaintFrame::FleetMark m;
        m.x = (i * 397) % 1024;
        m.y = (i * 211) % 768;
        m.label = "device " + std::to_string(i);
        m.course = (i * 37) % 360;
        m.has_course = i % 7 != 0;
        m.stale = i % 13 == 0;
        m.followed = i == 500;
        // The way it came, a point every 5 s about 4 pixels apart (50 km/h at zoom 14), bending a
        // little; drawn as it is (the worst case) and simplified to within a pixel as App gives it.
        double x = m.x, y = m.y, heading = m.course * 3.14159265 / 180;
        std::vector<std::array<int, 2>> back;
        for (int k = 0; k < 120; ++k) {
            back.push_back({static_cast<int>(x), static_cast<int>(y)});
            x -= 4 * std::sin(heading);
            y += 4 * std::cos(heading);
            heading += ((i + k) % 5 - 2) * 0.05;
        }
        m.trail.assign(back.rbegin(), back.rend());
        marks.push_back(std::move(m));
    }
    return marks;
}

void BM_DrawThousandFleetDevices(benchmark::State& state) {
    std::vector<PaintFrame::FleetMark> marks = thousand_devices();
    if (state.range(0))
        for (auto& m : marks) vg::simplify_trail(m.trail, 1.0);
    QImage image(1024, 768, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        QPainter painter(&image);
        vg::draw_fleet_marks(painter, marks, QPointF(0.5, 0.5));
        painter.end();
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_DrawThousandFleetDevices)->ArgName("simplified")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
