#include "vectormap/labels.h"

#include <QFont>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QHash>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QRawFont>
#include <QTextLayout>
#include <QTransform>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <unordered_set>

namespace vg::vmap {
namespace {

// Largest turn between neighbouring glyphs of a label along a line.
constexpr double kMaxBend = 40.0 * std::numbers::pi / 180.0;
// Candidate positions along one part of a line: its middle and this many steps either side.
constexpr int kLineSteps = 3;

// A label's text laid out once: glyph outlines in layout coordinates (top left at 0,0; the lines
// centred on the widest one).
struct Glyph {
    QPainterPath path;
    QPainterPath halo;  // the outline of the halo around it (empty without a halo)
    double x = 0;  // left of the glyph's advance
    double advance = 0;
};
struct Shaped {
    std::vector<Glyph> glyphs;
    QPainterPath whole;
    QPainterPath whole_halo;
    bool halos_made = false;
    double width = 0;
    double height = 0;
};

QFont font_of(const TextPaint& paint) {
    QFont font(paint.font_family.isEmpty() ? QStringLiteral("DejaVu Sans") : paint.font_family);
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(paint.size))));
    font.setBold(paint.bold);
    font.setItalic(paint.italic);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

// The path made of straight lines only, flattened finely enough for twice the size (Qt then fills
// and strokes it without working out the curves again at every drawing).
QPainterPath flattened(const QPainterPath& path) {
    QPainterPath out;
    out.setFillRule(path.fillRule());
    const QTransform back = QTransform::fromScale(0.25, 0.25);
    for (const QPolygonF& polygon : path.toSubpathPolygons(QTransform::fromScale(4, 4))) out.addPolygon(back.map(polygon));
    return out;
}

Shaped shape(const TextPaint& paint, bool wrap) {
    const QFont font = font_of(paint);
    QTextLayout layout(paint.text, font);
    QTextOption option;
    option.setWrapMode(wrap ? QTextOption::WordWrap : QTextOption::NoWrap);
    layout.setTextOption(option);
    const double max_width = wrap ? std::max(1.0, paint.max_width_em * paint.size) : 1e7;
    Shaped out;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(max_width);
        line.setPosition(QPointF(0, out.height));
        out.height += line.height();
        out.width = std::max(out.width, line.naturalTextWidth());
    }
    layout.endLayout();
    for (int i = 0; i < layout.lineCount(); ++i) {
        const QTextLine line = layout.lineAt(i);
        const double shift = (out.width - line.naturalTextWidth()) / 2 - line.naturalTextRect().left();
        for (const QGlyphRun& run : line.glyphRuns()) {
            const QRawFont raw = run.rawFont();
            const QList<quint32> indexes = run.glyphIndexes();
            const QList<QPointF> positions = run.positions();
            const QList<QPointF> advances = raw.advancesForGlyphIndexes(indexes);
            for (qsizetype g = 0; g < indexes.size() && g < positions.size(); ++g) {
                Glyph glyph;
                glyph.path = raw.pathForGlyph(indexes[g]);
                glyph.path.translate(positions[g].x() + shift, positions[g].y());
                glyph.path = flattened(glyph.path);
                glyph.x = positions[g].x() + shift;
                glyph.advance = g < advances.size() ? advances[g].x() : 0;
                out.whole.addPath(glyph.path);
                out.glyphs.push_back(std::move(glyph));
            }
        }
    }
    std::sort(out.glyphs.begin(), out.glyphs.end(), [](const Glyph& a, const Glyph& b) { return a.x < b.x; });
    return out;
}

// Halos are the costliest part of a label: their outlines are made once, when the text is first
// drawn (the whole text's without its overlaps, which then fills in under half the time).
void make_halos(Shaped& s, double halo_width) {
    if (s.halos_made || halo_width <= 0) return;
    s.halos_made = true;
    QPainterPathStroker stroker;
    stroker.setWidth(2 * halo_width);
    stroker.setCapStyle(Qt::RoundCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    for (Glyph& glyph : s.glyphs) glyph.halo = flattened(stroker.createStroke(glyph.path));
    s.whole_halo = stroker.createStroke(s.whole).simplified();
}

// Shaping costs more than drawing: each thread keeps the layouts it made (names repeat from cell to
// cell), dropped all at once when there are many.
Shaped& shaped(const TextPaint& paint, bool wrap) {
    thread_local QHash<QString, Shaped> cache;
    const QString key = paint.text + QChar(0x1f) + paint.font_family + QChar(0x1f) +
                        QString::number(std::lround(paint.size)) + QChar(paint.bold ? 'b' : '-') +
                        QChar(paint.italic ? 'i' : '-') + QString::number(paint.halo_width) +
                        (wrap ? QChar('w') + QString::number(paint.max_width_em) : QString());
    auto it = cache.find(key);
    if (it != cache.end()) return *it;
    if (cache.size() > 4096) cache.clear();
    return *cache.insert(key, shape(paint, wrap));
}

double importance(const mvt::Layer& layer, const mvt::Feature& feature) {
    if (const mvt::Value* rank = layer.property(feature, "rank"))
        if (auto v = rank->as_number()) return -*v;
    if (const mvt::Value* population = layer.property(feature, "population"))
        if (auto v = population->as_number()) return *v;
    return 0;
}

// Where a point label of a line goes: the middle of its first part.
std::optional<QPointF> line_anchor(const mvt::Feature& feature, const CellMapping& mapping) {
    if (feature.parts.empty() || feature.parts[0].empty()) return std::nullopt;
    QPolygonF line;
    for (const mvt::Point& p : feature.parts[0]) line << mapping.map(p);
    double total = 0;
    for (qsizetype i = 1; i < line.size(); ++i) total += QLineF(line[i - 1], line[i]).length();
    double left = total / 2;
    for (qsizetype i = 1; i < line.size(); ++i) {
        const double len = QLineF(line[i - 1], line[i]).length();
        if (len >= left && len > 0) return line[i - 1] + (line[i] - line[i - 1]) * (left / len);
        left -= len;
    }
    return line[0];
}

// The area's centre of a ring; nullopt when it has no area.
std::optional<QPointF> centroid(const QPolygonF& ring) {
    double area = 0, cx = 0, cy = 0;
    for (qsizetype i = 0; i < ring.size(); ++i) {
        const QPointF a = ring[i], b = ring[(i + 1) % ring.size()];
        const double cross = a.x() * b.y() - b.x() * a.y();
        area += cross;
        cx += (a.x() + b.x()) * cross;
        cy += (a.y() + b.y()) * cross;
    }
    if (std::abs(area) < 1e-9) return std::nullopt;
    return QPointF(cx / (3 * area), cy / (3 * area));
}

// The ring cut to the square [0, side]² (Sutherland–Hodgman: the square is convex).
QPolygonF clip_to_square(QPolygonF ring, double side) {
    for (int edge = 0; edge < 4; ++edge) {
        const bool horizontal = edge >= 2, low = edge % 2 == 0;
        const double limit = low ? 0 : side;
        auto inside = [&](QPointF p) {
            const double v = horizontal ? p.y() : p.x();
            return low ? v >= limit : v <= limit;
        };
        QPolygonF out;
        for (qsizetype i = 0; i < ring.size(); ++i) {
            const QPointF a = ring[i], b = ring[(i + 1) % ring.size()];
            if (inside(a)) out << a;
            if (inside(a) != inside(b)) {
                const double t = horizontal ? (limit - a.y()) / (b.y() - a.y()) : (limit - a.x()) / (b.x() - a.x());
                out << a + (b - a) * t;
            }
        }
        ring = std::move(out);
    }
    return ring;
}

// Where the label of a polygon goes, in units of its tile; nullopt when this tile does not label it.
// A tile holds only its clip of a polygon (with a buffer around the tile), so the anchor is chosen
// by what neighbouring tiles agree on. A first ring wholly inside the tile's square: its centre, and
// no other tile labels it (each sees it go on into its buffer past its own edge). A ring that reaches
// the square's edges: the tile labels it only when the ring does not go on to the left or above
// (there the tile left of it or above labels it), at the centre of its part inside the square.
std::optional<QPointF> polygon_anchor(const mvt::Feature& feature, std::uint32_t extent) {
    if (feature.parts.empty() || feature.parts[0].size() < 3) return std::nullopt;
    const double side = extent;
    QPolygonF ring;
    bool whole = true;
    for (const mvt::Point& p : feature.parts[0]) {
        // On the left or top edge counts as going on: a producer without a buffer cuts there.
        if (p.x <= 0 || p.y <= 0) return std::nullopt;
        whole = whole && p.x < side && p.y < side;
        ring << QPointF(p.x, p.y);
    }
    if (ring.size() > 1 && ring.front() == ring.back()) ring.removeLast();
    if (whole) {
        if (const auto c = centroid(ring)) return c;
        return ring.front();
    }
    return centroid(clip_to_square(ring, side));
}

const QRectF kCell(0, 0, kCellSize, kCellSize);

bool free_of(const std::vector<QRectF>& taken, const QRectF& box) {
    return std::none_of(taken.begin(), taken.end(), [&](const QRectF& r) { return r.intersects(box); });
}

// A polyline with its lengths, to find the point and direction at a distance along it.
class Walk {
public:
    explicit Walk(const QPolygonF& line) : line_(line) {
        lengths_.reserve(static_cast<std::size_t>(line.size()));
        double total = 0;
        lengths_.push_back(0);
        for (qsizetype i = 1; i < line.size(); ++i) lengths_.push_back(total += QLineF(line[i - 1], line[i]).length());
    }
    double length() const { return lengths_.back(); }
    // Point and direction (radians) at distance d.
    std::pair<QPointF, double> at(double d) const {
        auto it = std::upper_bound(lengths_.begin(), lengths_.end(), d);
        std::size_t i = std::clamp<std::size_t>(static_cast<std::size_t>(it - lengths_.begin()), 1, lengths_.size() - 1);
        // Skip zero-length segments so that the direction is defined.
        while (i + 1 < lengths_.size() && lengths_[i] == lengths_[i - 1]) ++i;
        const QPointF a = line_[static_cast<qsizetype>(i - 1)], b = line_[static_cast<qsizetype>(i)];
        const double len = lengths_[i] - lengths_[i - 1];
        const double t = len > 0 ? std::clamp((d - lengths_[i - 1]) / len, 0.0, 1.0) : 0;
        return {a + (b - a) * t, std::atan2(b.y() - a.y(), b.x() - a.x())};
    }

private:
    const QPolygonF& line_;
    std::vector<double> lengths_;
};

double turn(double a, double b) {
    double d = std::fmod(b - a, 2 * std::numbers::pi);
    if (d > std::numbers::pi) d -= 2 * std::numbers::pi;
    if (d < -std::numbers::pi) d += 2 * std::numbers::pi;
    return std::abs(d);
}

class Placement {
public:
    Placement(QPainter& painter, std::vector<PlacedLabel>* placed) : painter_(painter), placed_(placed) {}

    void point(const TextPaint& paint, const std::string& layer_id, QPointF anchor) {
        Shaped& s = shaped(paint, true);
        if (s.glyphs.empty()) return;
        const double margin = paint.halo_width + paint.padding, gap = paint.size * 0.4;
        const double w = s.width, h = s.height, x = anchor.x(), y = anchor.y();
        // Centred, then beside, above and below, then at the four corners (for a place near a cell's corner).
        for (const QPointF& at : {QPointF(x - w / 2, y - h / 2), QPointF(x + gap, y - h / 2), QPointF(x - gap - w, y - h / 2),
                                  QPointF(x - w / 2, y - gap - h), QPointF(x - w / 2, y + gap), QPointF(x - gap - w, y - gap - h),
                                  QPointF(x + gap, y - gap - h), QPointF(x - gap - w, y + gap), QPointF(x + gap, y + gap)}) {
            const QRectF box = QRectF(at, QSizeF(w, h)).adjusted(-margin, -margin, margin, margin);
            if (!kCell.contains(box) || !free_of(taken_, box)) continue;
            taken_.push_back(box);
            make_halos(s, paint.halo_width);
            draw(paint, s.whole.translated(at), s.whole_halo.translated(at));
            if (placed_) placed_->push_back({paint.text, layer_id, box, {box}, false});
            return;
        }
    }

    void along(const TextPaint& paint, const std::string& layer_id, const std::vector<QPolygonF>& lines) {
        if (line_texts_.count(paint.text)) return;
        Shaped& s = shaped(paint, false);
        if (s.glyphs.empty()) return;
        const double margin = paint.halo_width + paint.padding, w = s.width, h = s.height;
        for (const QPolygonF& line : lines) {
            const Walk walk(line);
            const double total = walk.length();
            if (total < w + 2 * margin) continue;
            const double step = std::max(w * 0.75, 24.0);
            for (int i = 0; i <= 2 * kLineSteps; ++i) {
                const double c = total / 2 + (i % 2 ? 1 : -1) * ((i + 1) / 2) * step;
                if (c < w / 2 + margin || c > total - w / 2 - margin) continue;
                if (try_along(paint, layer_id, s, walk, c, margin, h)) {
                    line_texts_.insert(paint.text);
                    return;
                }
            }
        }
    }

private:
    bool try_along(const TextPaint& paint, const std::string& layer_id, Shaped& s, const Walk& walk, double c,
                   double margin, double h) {
        const double w = s.width;
        const bool reversed = walk.at(c + w / 2).first.x() < walk.at(c - w / 2).first.x();
        parts_.clear();
        glyph_at_.clear();
        double previous = 0;
        for (std::size_t g = 0; g < s.glyphs.size(); ++g) {
            const Glyph& glyph = s.glyphs[g];
            const double xc = glyph.x + glyph.advance / 2;
            auto [p, angle] = walk.at(reversed ? c + w / 2 - xc : c - w / 2 + xc);
            if (reversed) angle += std::numbers::pi;
            if (g > 0 && turn(previous, angle) > kMaxBend) return false;
            previous = angle;
            QTransform t;
            t.translate(p.x(), p.y());
            t.rotateRadians(angle);
            const double half = std::max(glyph.advance, 1.0) / 2;
            const QRectF box = t.mapRect(QRectF(-half, -h / 2, 2 * half, h)).adjusted(-margin, -margin, margin, margin);
            if (!kCell.contains(box) || !free_of(taken_, box)) return false;
            parts_.push_back(box);
            t.translate(-xc, -h / 2);
            glyph_at_.push_back(t);
        }
        make_halos(s, paint.halo_width);
        QPainterPath path, halo;
        halo.setFillRule(Qt::WindingFill);
        for (std::size_t g = 0; g < s.glyphs.size(); ++g) {
            path.addPath(glyph_at_[g].map(s.glyphs[g].path));
            halo.addPath(glyph_at_[g].map(s.glyphs[g].halo));
        }
        draw(paint, path, halo);
        taken_.insert(taken_.end(), parts_.begin(), parts_.end());
        if (placed_) {
            QRectF box;
            for (const QRectF& r : parts_) box = box.united(r);
            placed_->push_back({paint.text, layer_id, box, parts_, true});
        }
        return true;
    }

    void draw(const TextPaint& paint, const QPainterPath& path, const QPainterPath& halo) {
        if (paint.halo.alpha() > 0 && !halo.isEmpty()) painter_.fillPath(halo, paint.halo);
        painter_.fillPath(path, paint.color);
    }

    QPainter& painter_;
    std::vector<PlacedLabel>* placed_;
    std::vector<QRectF> taken_, parts_;
    std::vector<QTransform> glyph_at_;
    std::unordered_set<QString> line_texts_;
};

}  // namespace

void clip_line(const QPolygonF& line, const QRectF& r, std::vector<QPolygonF>& pieces) {
    bool open = false;
    for (qsizetype i = 1; i < line.size(); ++i) {
        const QPointF a = line[i - 1], b = line[i];
        const double dx = b.x() - a.x(), dy = b.y() - a.y();
        double t0 = 0, t1 = 1;
        bool visible = true;
        const double p[4] = {-dx, dx, -dy, dy};
        const double q[4] = {a.x() - r.left(), r.right() - a.x(), a.y() - r.top(), r.bottom() - a.y()};
        for (int k = 0; k < 4 && visible; ++k) {
            if (p[k] == 0) {
                visible = q[k] >= 0;
            } else {
                const double t = q[k] / p[k];
                if (p[k] < 0) t0 = std::max(t0, t);
                else t1 = std::min(t1, t);
                visible = t0 <= t1;
            }
        }
        if (!visible) {
            open = false;
            continue;
        }
        if (!open || t0 > 0) pieces.push_back(QPolygonF{a + QPointF(dx, dy) * t0});
        pieces.back().push_back(a + QPointF(dx, dy) * t1);
        open = t1 >= 1;
    }
}

void LabelPlacer::add(const Style::Layer& layer, const TextPaint& paint, const mvt::Layer& source,
                      const mvt::Feature& feature, const CellMapping& mapping) {
    Candidate c;
    c.order = layer.index;
    c.importance = importance(source, feature);
    c.paint = paint;
    c.layer_id = &layer.id;
    if (paint.along_line && feature.type != mvt::GeomType::Point) {
        c.along_line = true;
        QPolygonF line;
        for (const auto& part : feature.parts) {
            line.clear();
            for (const mvt::Point& p : part) line << mapping.map(p);
            if (feature.type == mvt::GeomType::Polygon && !line.isEmpty()) line << line.front();
            clip_line(line, kCell, c.lines);
        }
        if (c.lines.empty()) return;
        c.anchor = c.lines.front().front();
    } else if (feature.type == mvt::GeomType::Point) {
        // The first point only: one label a feature. Only the cell holding it places it.
        if (feature.parts.empty() || feature.parts[0].empty() || !mapping.owns(feature.parts[0][0])) return;
        c.anchor = mapping.map(feature.parts[0][0]);
    } else {
        std::optional<QPointF> anchor;
        if (feature.type == mvt::GeomType::Polygon) {
            if (const auto at = polygon_anchor(feature, mapping.extent))
                anchor = QPointF(at->x() * mapping.factor - static_cast<double>(mapping.column) * kCellSize,
                                 at->y() * mapping.factor - static_cast<double>(mapping.row) * kCellSize);
        } else {
            anchor = line_anchor(feature, mapping);
        }
        if (!anchor || anchor->x() < 0 || anchor->x() >= kCellSize || anchor->y() < 0 || anchor->y() >= kCellSize) return;
        c.anchor = *anchor;
    }
    candidates_.push_back(std::move(c));
}

void LabelPlacer::place_and_draw(QPainter& painter, std::vector<PlacedLabel>* placed) {
    std::stable_sort(candidates_.begin(), candidates_.end(), [](const Candidate& a, const Candidate& b) {
        if (a.order != b.order) return a.order > b.order;
        if (a.importance != b.importance) return a.importance > b.importance;
        if (a.anchor.y() != b.anchor.y()) return a.anchor.y() < b.anchor.y();
        return a.anchor.x() < b.anchor.x();
    });
    painter.setPen(Qt::NoPen);
    Placement placement(painter, placed);
    for (const Candidate& c : candidates_) {
        if (c.along_line) placement.along(c.paint, *c.layer_id, c.lines);
        else placement.point(c.paint, *c.layer_id, c.anchor);
    }
    candidates_.clear();
}

}  // namespace vg::vmap
