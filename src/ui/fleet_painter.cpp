#include "ui/fleet_painter.h"

#include <array>
#include <cmath>
#include <string>
#include <unordered_map>

#include <QFont>
#include <QFontMetricsF>
#include <QStaticText>
#include <QImage>
#include <QPainter>
#include <QPen>

namespace vg {
namespace {

// Each device's mark is drawn once into a small image per look (fresh or old, followed or not, a disc
// or an arrow turned in steps of kTurnStep degrees) and then copied: a thousand antialiased outlines
// drawn one by one would take most of a paint.
constexpr int kTurnStep = 5;
constexpr int kTurns = 360 / kTurnStep;
constexpr int kSprite = 24;  // pixels each side; the mark's centre in the middle

QImage make_sprite(bool stale, bool followed, int turn) {
    QImage image(kSprite, kSprite, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(kSprite / 2.0, kSprite / 2.0);
    p.setPen(QPen(Qt::white, followed ? 3 : 1.5));
    p.setBrush(stale ? QColor(0x90, 0x90, 0x90) : QColor(0xd0, 0x20, 0x20));
    if (turn < 0) {
        p.drawEllipse(QPointF(0, 0), 5, 5);
    } else {
        static const QPointF kArrow[] = {{0, -9}, {6, 7}, {0, 3}, {-6, 7}};
        p.rotate(turn * kTurnStep);
        p.drawPolygon(kArrow, 4);
    }
    return image;
}

// The sprite of a look, made when first asked for (window thread only, as every paint).
const QImage& sprite(bool stale, bool followed, bool has_course, double course) {
    static std::array<QImage, 4 * (kTurns + 1)> sprites;
    int turn = -1;
    if (has_course && std::isfinite(course)) {
        const double wrapped = std::fmod(std::fmod(course, 360.0) + 360.0, 360.0);
        turn = static_cast<int>(std::lround(wrapped / kTurnStep)) % kTurns;
    }
    QImage& image = sprites[static_cast<std::size_t>((stale ? 2 : 0) + (followed ? 1 : 0)) * (kTurns + 1) +
                            static_cast<std::size_t>(turn + 1)];
    if (image.isNull()) image = make_sprite(stale, followed, turn);
    return image;
}

}  // namespace

void draw_fleet_marks(QPainter& painter, const std::vector<PaintFrame::FleetMark>& marks, QPointF origin) {
    if (marks.empty()) return;
    painter.save();
    // Trails as opaque one-pixel cosmetic lines (the rasteriser's fast path; a translucent pen would
    // make it stroke every trail as a path), under the marks.
    std::vector<QPoint> line;
    const QPoint offset(static_cast<int>(std::floor(origin.x())), static_cast<int>(std::floor(origin.y())));
    for (const PaintFrame::FleetMark& m : marks) {
        if (m.trail.size() < 2) continue;
        painter.setPen(QPen(m.stale ? QColor(0xb0, 0xb0, 0xb0) : QColor(0xe0, 0x60, 0x60), 0));
        line.clear();
        for (const auto& p : m.trail) line.push_back(offset + QPoint(p[0], p[1]));
        painter.drawPolyline(line.data(), static_cast<int>(line.size()));
    }
    for (const PaintFrame::FleetMark& m : marks) {
        const QPointF at = origin + QPointF(m.x, m.y);
        painter.drawImage(QPointF(std::floor(at.x()) - kSprite / 2, std::floor(at.y()) - kSprite / 2),
                          sprite(m.stale, m.followed, m.has_course, m.course));
    }
    // Names beside the marks.
    QFont font = painter.font();
    font.setPixelSize(11);
    painter.setFont(font);
    // Names laid out once and kept (they change only when a device is renamed or new); the text's
    // top left goes where drawText's baseline at +4 would put it.
    static std::unordered_map<std::string, QStaticText> names;
    if (names.size() > 4 * marks.size() + 1024) names.clear();
    const qreal ascent = QFontMetricsF(font).ascent();
    for (const PaintFrame::FleetMark& m : marks) {
        if (m.label.empty()) continue;
        auto [it, made] = names.try_emplace(m.label);
        if (made) {
            it->second.setText(QString::fromStdString(m.label));
            it->second.setTextFormat(Qt::PlainText);
            it->second.prepare(QTransform(), font);
        }
        painter.setPen(m.stale ? QColor(0x60, 0x60, 0x60) : QColor(0x80, 0x10, 0x10));
        painter.drawStaticText(origin + QPointF(m.x + 10, m.y + 4 - ascent), it->second);
    }
    painter.restore();
}

}  // namespace vg
