#include "vectormap/render.h"

#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_map>

#include "vectormap/labels.h"

namespace vg::vmap {
namespace {

constexpr int kMaxZoom = 30;
// Features whose bounds lie farther than this outside the cell are not drawn (CSS pixels, wider than
// any line or circle a style draws); geometry reaching farther out is clipped to it.
constexpr double kCullMargin = 64.0;

bool valid(const TileId& t) {
    if (t.zoom < 0 || t.zoom > kMaxZoom) return false;
    const std::int64_t n = std::int64_t{1} << t.zoom;
    return t.x >= 0 && t.x < n && t.y >= 0 && t.y < n;
}

bool is_ancestor(const TileId& source, const TileId& cell) {
    if (!valid(source) || source.zoom > cell.zoom) return false;
    const int depth = cell.zoom - source.zoom;
    return (cell.x >> depth) == source.x && (cell.y >> depth) == source.y;
}

// Bounds of a feature's geometry in tile units.
struct Bounds {
    std::int32_t left = std::numeric_limits<std::int32_t>::max(), top = left;
    std::int32_t right = std::numeric_limits<std::int32_t>::min(), bottom = right;
    bool empty() const { return left > right; }
};

Bounds bounds_of(const mvt::Feature& f) {
    Bounds b;
    for (const auto& part : f.parts)
        for (const mvt::Point& p : part) {
            b.left = std::min(b.left, p.x);
            b.right = std::max(b.right, p.x);
            b.top = std::min(b.top, p.y);
            b.bottom = std::max(b.bottom, p.y);
        }
    return b;
}

// The bounds of each feature of each tile layer, worked out once a drawing: many style layers read one
// tile layer.
class BoundsCache {
public:
    const std::vector<Bounds>& of(const mvt::Layer& layer) {
        auto [it, inserted] = cache_.try_emplace(&layer);
        if (inserted) {
            it->second.reserve(layer.features.size());
            for (const mvt::Feature& f : layer.features) it->second.push_back(bounds_of(f));
        }
        return it->second;
    }

private:
    std::unordered_map<const mvt::Layer*, std::vector<Bounds>> cache_;
};

// Sutherland–Hodgman against one rectangle. The edges it adds run along the rectangle, which lies
// outside the cell, so they never show.
void clip_ring(QPolygonF& ring, const QRectF& r, QPolygonF& scratch) {
    auto pass = [&](auto inside, auto cross) {
        scratch.clear();
        if (ring.isEmpty()) return;
        QPointF prev = ring.back();
        bool prev_in = inside(prev);
        for (const QPointF& p : ring) {
            const bool p_in = inside(p);
            if (p_in != prev_in) scratch.push_back(cross(prev, p));
            if (p_in) scratch.push_back(p);
            prev = p;
            prev_in = p_in;
        }
        ring.swap(scratch);
    };
    auto at_x = [](double v) {
        return [v](QPointF a, QPointF b) { return QPointF(v, a.y() + (b.y() - a.y()) * (v - a.x()) / (b.x() - a.x())); };
    };
    auto at_y = [](double v) {
        return [v](QPointF a, QPointF b) { return QPointF(a.x() + (b.x() - a.x()) * (v - a.y()) / (b.y() - a.y()), v); };
    };
    pass([&](QPointF p) { return p.x() >= r.left(); }, at_x(r.left()));
    pass([&](QPointF p) { return p.x() <= r.right(); }, at_x(r.right()));
    pass([&](QPointF p) { return p.y() >= r.top(); }, at_y(r.top()));
    pass([&](QPointF p) { return p.y() <= r.bottom(); }, at_y(r.bottom()));
}

bool same(const FillPaint& a, const FillPaint& b) { return a.color == b.color && a.outline == b.outline; }
bool same(const LinePaint& a, const LinePaint& b) {
    return a.color == b.color && a.width == b.width && a.gap_width == b.gap_width && a.dash == b.dash &&
           a.cap == b.cap && a.join == b.join;
}

class CellPainter {
public:
    CellPainter(QPainter& painter, const CellMapping& mapping, const Style& style, double zoom)
        : painter_(painter), mapping_(mapping), style_(style), zoom_(zoom),
          reach_(-kCullMargin, -kCullMargin, kCellSize + 2 * kCullMargin, kCellSize + 2 * kCullMargin) {}

    void draw_layer(const Style::Layer& layer, const mvt::Layer& source) {
        const std::vector<Bounds>& bounds = bounds_cache_.of(source);
        fill_ = std::nullopt;
        line_ = std::nullopt;
        for (std::size_t i = 0; i < source.features.size(); ++i) {
            const mvt::Feature& feature = source.features[i];
            bool clip = false;
            if (!near_cell(bounds[i], clip)) continue;
            const FeatureContext ctx{zoom_, &source, &feature};
            if (!style_.matches(layer, ctx)) continue;
            ++drawn_;
            switch (layer.type) {
            case Style::LayerType::Fill:
                if (feature.type == mvt::GeomType::Polygon) draw_fill(style_.fill(layer, ctx), feature, clip);
                break;
            case Style::LayerType::Line:
                if (feature.type != mvt::GeomType::Point) draw_lines(style_.line(layer, ctx), feature, clip);
                break;
            case Style::LayerType::Circle:
                draw_circles(style_.circle(layer, ctx), feature);
                break;
            case Style::LayerType::Symbol: {
                TextPaint text = style_.text(layer, ctx);
                if (!text.text.isEmpty()) labels_.add(layer, text, source, feature, mapping_);
                break;
            }
            case Style::LayerType::Background:
                break;
            }
        }
    }

    LabelPlacer& labels() { return labels_; }
    int drawn() const { return drawn_; }

private:
    // False when the feature lies wholly outside the cell and its margin; `clip` says whether it
    // reaches beyond the margin (its geometry is then clipped, so that a deep over-zoom keeps
    // coordinates small).
    bool near_cell(const Bounds& b, bool& clip) const {
        if (b.empty()) return false;
        const QPointF tl = mapping_.map({b.left, b.top}), br = mapping_.map({b.right, b.bottom});
        if (br.x() < reach_.left() || tl.x() > reach_.right() || br.y() < reach_.top() || tl.y() > reach_.bottom())
            return false;
        clip = tl.x() < reach_.left() || br.x() > reach_.right() || tl.y() < reach_.top() || br.y() > reach_.bottom();
        return true;
    }

    void map_part(const std::vector<mvt::Point>& part) {
        points_.resize(static_cast<qsizetype>(part.size()));
        for (std::size_t i = 0; i < part.size(); ++i) points_[static_cast<qsizetype>(i)] = mapping_.map(part[i]);
    }

    // One feature's polygons: drawPolygon when it is one ring (Qt's fast path), a path otherwise. Qt
    // fills many small polygons far faster one by one than merged into one path.
    void draw_fill(const FillPaint& paint, const mvt::Feature& feature, bool clip) {
        if (paint.color.alpha() == 0 && !paint.outline) return;
        if (!fill_ || !same(*fill_, paint)) {
            fill_ = paint;
            line_ = std::nullopt;
            painter_.setBrush(paint.color);
            painter_.setPen(paint.outline ? QPen(*paint.outline, 0) : QPen(Qt::NoPen));
        }
        path_.clear();
        path_.setFillRule(Qt::WindingFill);
        int rings = 0;
        for (const auto& ring : feature.parts) {
            if (ring.size() < 3) continue;
            map_part(ring);
            if (clip) clip_ring(points_, reach_, scratch_);
            if (points_.size() < 3) continue;
            if (++rings == 1) {
                first_ring_ = points_;
                continue;
            }
            if (rings == 2) {
                path_.addPolygon(first_ring_);
                path_.closeSubpath();
            }
            path_.addPolygon(points_);
            path_.closeSubpath();
        }
        if (rings == 1) painter_.drawPolygon(first_ring_, Qt::WindingFill);
        else if (rings > 1) painter_.drawPath(path_);
    }

    void draw_lines(const LinePaint& paint, const mvt::Feature& feature, bool clip) {
        if (paint.width <= 0 || paint.color.alpha() == 0) return;
        if (!line_ || !same(*line_, paint)) {
            line_ = paint;
            fill_ = std::nullopt;
            painter_.setBrush(Qt::NoBrush);
            painter_.setPen(pen_of(paint));
        }
        for (const auto& part : feature.parts) {
            if (part.size() < 2) continue;
            map_part(part);
            if (feature.type == mvt::GeomType::Polygon) points_ << points_.front();
            if (!clip) {
                painter_.drawPolyline(points_);
                continue;
            }
            pieces_.clear();
            clip_line(points_, reach_, pieces_);
            for (const QPolygonF& piece : pieces_) painter_.drawPolyline(piece);
        }
    }

    void draw_circles(const CirclePaint& c, const mvt::Feature& feature) {
        if (feature.type != mvt::GeomType::Point || c.radius <= 0) return;
        fill_ = std::nullopt;
        line_ = std::nullopt;
        painter_.setBrush(c.color);
        painter_.setPen(c.stroke_width > 0 ? QPen(c.stroke, c.stroke_width) : QPen(Qt::NoPen));
        for (const auto& part : feature.parts)
            for (const mvt::Point& p : part) painter_.drawEllipse(mapping_.map(p), c.radius, c.radius);
    }

    static QPen pen_of(const LinePaint& l) {
        QPen pen(l.color, std::max(l.width, 0.0), Qt::SolidLine, l.cap, l.join);
        if (!l.dash.empty() && l.width > 0) {
            QList<qreal> pattern(l.dash.begin(), l.dash.end());
            if (pattern.size() % 2) pattern.append(pattern);  // Qt wants dash and gap pairs
            // Qt measures dashes in pen widths from the pen's end; flat or square caps add nothing.
            if (l.cap != Qt::FlatCap)
                for (qsizetype i = 0; i < pattern.size(); ++i) pattern[i] = i % 2 ? pattern[i] + 1 : std::max(pattern[i] - 1, 0.01);
            if (std::all_of(pattern.begin(), pattern.end(), [](qreal v) { return v > 0; })) pen.setDashPattern(pattern);
        }
        return pen;
    }

    QPainter& painter_;
    const CellMapping& mapping_;
    const Style& style_;
    double zoom_;
    QRectF reach_;
    BoundsCache bounds_cache_;
    std::optional<FillPaint> fill_;  // the brush and pen set last, kept while features share them
    std::optional<LinePaint> line_;
    QPainterPath path_;
    QPolygonF points_, scratch_, first_ring_;
    std::vector<QPolygonF> pieces_;
    LabelPlacer labels_;
    int drawn_ = 0;
};

}  // namespace

CellMapping::CellMapping(const TileId& cell, const TileId& source, std::uint32_t tile_extent)
    : depth(cell.zoom - source.zoom), extent(tile_extent == 0 ? 4096 : tile_extent),
      column(cell.x - (std::int64_t{source.x} << depth)), row(cell.y - (std::int64_t{source.y} << depth)),
      factor(kCellSize * std::ldexp(1.0, depth) / extent) {}

bool CellMapping::owns(mvt::Point p) const {
    const std::int64_t scale = std::int64_t{1} << depth;
    const std::int64_t x = p.x * scale - column * extent, y = p.y * scale - row * extent;
    return x >= 0 && x < extent && y >= 0 && y < extent;
}

std::optional<TileId> source_tile_for(const TileId& cell, int max_zoom) {
    if (!valid(cell) || max_zoom < 0) return std::nullopt;
    if (cell.zoom <= max_zoom) return cell;
    const int depth = cell.zoom - max_zoom;
    return TileId{max_zoom, cell.x >> depth, cell.y >> depth};
}

double style_zoom(int zoom) { return std::max(0, zoom - 1); }

QImage render_cell(const TileId& cell, const mvt::Tile& tile, const TileId& source, const Style& style,
                   double device_scale, RenderInfo* info) {
    const int scale = device_scale >= 1.5 ? 2 : 1;
    const int size = static_cast<int>(kCellSize) * scale;
    if (info) *info = RenderInfo();
    QImage image(size, size, QImage::Format_RGB32);
    const bool drawable = valid(cell) && is_ancestor(source, cell);
    const double zoom = style_zoom(cell.zoom);
    image.fill(style.background(zoom).rgb());
    if (!drawable) return image;

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(scale, scale);
    CellMapping base(cell, source, 4096);
    CellPainter cell_painter(painter, base, style, zoom);
    for (const Style::Layer& layer : style.layers()) {
        if (layer.type == Style::LayerType::Background || !style.shown_at(layer, zoom)) continue;
        const mvt::Layer* source_layer = tile.layer(layer.source_layer);
        if (!source_layer || source_layer->features.empty()) continue;
        if (source_layer->extent != base.extent) base = CellMapping(cell, source, source_layer->extent);
        cell_painter.draw_layer(layer, *source_layer);
    }
    std::vector<PlacedLabel>* placed = info ? &info->labels : nullptr;
    cell_painter.labels().place_and_draw(painter, placed);
    if (info) info->features_drawn = cell_painter.drawn();
    return image;
}

}  // namespace vg::vmap
