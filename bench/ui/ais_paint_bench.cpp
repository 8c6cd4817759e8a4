// Drawing 1,000 AIS targets in one paint of a Big Maps view (1024 × 768): symbols turned to their
// headings, course vectors and name labels, as the map view draws PaintFrame::ais (the marks' own
// making is measured by bench/app/paint_bench, BM_PaintAisTargets).
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include "ui/ais_painter.h"

namespace {

using vg::PaintFrame;

std::vector<PaintFrame::AisMark> thousand_marks() {
    std::vector<PaintFrame::AisMark> marks;
    for (int i = 0; i < 1000; ++i) {
        PaintFrame::AisMark m;
        m.kind = i % 10 == 0 ? PaintFrame::AisMark::Kind::AidToNavigation
                 : i % 3 == 0 ? PaintFrame::AisMark::Kind::ClassB
                              : PaintFrame::AisMark::Kind::ClassA;
        m.x = (i * 397) % 1024;
        m.y = (i * 211) % 768;
        m.oriented = true;
        m.angle_deg = (i * 37) % 360;
        m.vector = i % 10 != 0;
        m.vector_x = m.x + (i % 41) - 20;
        m.vector_y = m.y + (i % 37) - 18;
        m.stale = i % 17 == 0;
        m.dangerous = i % 97 == 0;
        m.label = "VESSEL " + std::to_string(i);
        marks.push_back(std::move(m));
    }
    return marks;
}

void BM_DrawThousandAisTargets(benchmark::State& state) {
    const std::vector<PaintFrame::AisMark> marks = thousand_marks();
    QImage image(1024, 768, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        QPainter painter(&image);
        vg::draw_ais_marks(painter, marks, QPointF(0, 0), false);
        painter.end();
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_DrawThousandAisTargets)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
