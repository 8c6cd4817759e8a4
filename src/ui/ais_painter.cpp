#include "ui/ais_painter.h"

#include <cmath>
#include <numbers>

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

namespace vg {

namespace {

using Kind = PaintFrame::AisMark::Kind;

// Ship symbols point along +y (up on the screen is -y): nose, then the two corners of the stern.
QPolygonF turned(const QPointF (&points)[3], QPointF at, double angle_deg) {
    const double a = angle_deg * std::numbers::pi / 180;
    const double c = std::cos(a), s = std::sin(a);
    QPolygonF out;
    out.reserve(3);
    for (const QPointF& p : points) out << at + QPointF(p.x() * c - p.y() * s, p.x() * s + p.y() * c);
    return out;
}

QColor fill_of(const PaintFrame::AisMark& m, bool night) {
    if (m.dangerous) return QColor(0xe0, 0x10, 0x10);
    if (m.stale) return QColor(0x9a, 0x9a, 0x9a);
    const int dim = night ? 2 : 1;
    switch (m.kind) {
    case Kind::ClassA: return QColor(0x20 / dim, 0xb0 / dim, 0x40 / dim);
    case Kind::ClassB: return QColor(0xf0 / dim, 0xc0 / dim, 0x20 / dim);
    case Kind::AidToNavigation: return QColor(0xc0 / dim, 0x20 / dim, 0xc0 / dim);
    case Kind::BaseStation: return QColor(0x30 / dim, 0x60 / dim, 0xe0 / dim);
    case Kind::Other: break;
    }
    return QColor(0x80 / dim, 0x80 / dim, 0x80 / dim);
}

}  // namespace

void draw_ais_marks(QPainter& painter, const std::vector<PaintFrame::AisMark>& marks, QPointF origin, bool night) {
    if (marks.empty()) return;
    // Class A a long triangle, class B a smaller one; aids to navigation a diamond, base stations a square.
    static const QPointF kClassA[3] = {{0, -11}, {6, 7}, {-6, 7}};
    static const QPointF kClassB[3] = {{0, -8}, {5, 5}, {-5, 5}};
    painter.save();
    // A crowded view is drawn without anti-aliasing and names only its first kMostLabels marks (they
    // would cover each other): a paint of a thousand targets stays within a few milliseconds.
    constexpr std::size_t kMostLabels = 150;
    constexpr std::size_t kMostSmooth = 300;
    painter.setRenderHint(QPainter::Antialiasing, marks.size() <= kMostSmooth);
    std::size_t labels = 0;
    QFont font = painter.font();
    font.setPixelSize(10);
    painter.setFont(font);
    const QColor outline = night ? QColor(0xc0, 0xc0, 0xc0) : QColor(0x10, 0x10, 0x10);
    const QPen line(outline, 1);
    const QPen vector(outline, 1.5);
    const QPen danger_ring(QColor(0xe0, 0x10, 0x10), 2);
    const int text_up = QFontMetrics(font).ascent() / 2 - 1;
    for (const PaintFrame::AisMark& m : marks) {
        const QPointF at = origin + QPointF(m.x + 0.5, m.y + 0.5);
        if (m.vector) {
            painter.setPen(m.dangerous ? danger_ring : vector);
            painter.drawLine(at, origin + QPointF(m.vector_x + 0.5, m.vector_y + 0.5));
        }
        painter.setPen(line);
        painter.setBrush(fill_of(m, night));
        switch (m.kind) {
        case Kind::ClassA:
        case Kind::Other:
            painter.drawPolygon(turned(kClassA, at, m.angle_deg));
            break;
        case Kind::ClassB:
            painter.drawPolygon(turned(kClassB, at, m.angle_deg));
            break;
        case Kind::AidToNavigation: {
            const QPointF diamond[4] = {at + QPointF(0, -7), at + QPointF(7, 0), at + QPointF(0, 7), at + QPointF(-7, 0)};
            painter.drawPolygon(diamond, 4);
            break;
        }
        case Kind::BaseStation:
            painter.drawRect(QRectF(at - QPointF(5, 5), QSizeF(10, 10)));
            break;
        }
        if (!m.oriented && (m.kind == Kind::ClassA || m.kind == Kind::ClassB || m.kind == Kind::Other))
            painter.drawEllipse(at, 2.0, 2.0);  // a dot: the heading is not known, the triangle only points north
        if (m.dangerous) {
            painter.setPen(danger_ring);
            painter.setBrush(Qt::NoBrush);
            painter.drawEllipse(at, 15.0, 15.0);
        }
        if (!m.label.empty() && labels++ < kMostLabels) {
            painter.setPen(m.stale ? QColor(0x70, 0x70, 0x70) : outline);
            painter.drawText(at + QPointF(12, text_up), QString::fromStdString(m.label));
        }
    }
    painter.restore();
}

}  // namespace vg
