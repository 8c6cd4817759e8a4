#include "atlas/atlas_render.h"

#include <QFont>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <vector>

#include "tiles/image_decode.h"

namespace vg::atlas {
namespace {

constexpr int kSize = 256;
constexpr double kMercatorLimit = 85.05112877980659;
constexpr QRgb kCoastRgb = 0x8eb3cc;
constexpr QRgb kBorderRgb = 0xa283a8;
constexpr QRgb kTextRgb = 0x2b2b2b;

// Degrees to tile pixels and back, for one tile of one projection.
struct Projection {
    virtual ~Projection() = default;
    virtual QPointF to_pixel(double lon, double lat) const = 0;
    virtual double lat_at(double py) const = 0;
    virtual double lon_at(double px) const = 0;
};

struct MercatorTile final : Projection {
    double scale;  // tiles per world
    int x, y;
    MercatorTile(int zoom, int tx, int ty) : scale(std::ldexp(1.0, zoom)), x(tx), y(ty) {}
    QPointF to_pixel(double lon, double lat) const override {
        lat = std::clamp(lat, -kMercatorLimit, kMercatorLimit);
        const double phi = lat * std::numbers::pi / 180.0;
        const double yn = (1.0 - std::log(std::tan(phi) + 1.0 / std::cos(phi)) / std::numbers::pi) / 2.0;
        return {((lon + 180.0) / 360.0 * scale - x) * kSize, (yn * scale - y) * kSize};
    }
    double lat_at(double py) const override {
        const double yn = (y + py / kSize) / scale;
        return std::atan(std::sinh(std::numbers::pi * (1.0 - 2.0 * yn))) * 180.0 / std::numbers::pi;
    }
    double lon_at(double px) const override { return (x + px / kSize) / scale * 360.0 - 180.0; }
};

struct PlateTile final : Projection {
    double west, north;
    static constexpr double kSpan = 22.5;
    PlateTile(int row, int column) : west(-180.0 + kSpan * column), north(-90.0 + kSpan * (row + 1)) {}
    QPointF to_pixel(double lon, double lat) const override {
        return {(lon - west) / kSpan * kSize, (north - lat) / kSpan * kSize};
    }
    double lat_at(double py) const override { return north - py / kSize * kSpan; }
    double lon_at(double px) const override { return west + px / kSize * kSpan; }
};

struct Box {
    double west, south, east, north;
    bool meets(const Line& l) const { return l.east >= west && l.west <= east && l.north >= south && l.south <= north; }
};

// Clips a closed ring to the box (Sutherland–Hodgman, one edge at a time). Edges the clip adds run
// along the box, which lies a few pixels outside the tile, so they never show.
std::vector<LonLat> clip_ring(const std::vector<LonLat>& ring, const Box& b) {
    std::vector<LonLat> in = ring, out;
    auto pass = [&](auto inside, auto cross) {
        out.clear();
        if (in.empty()) return;
        LonLat prev = in.back();
        bool prev_in = inside(prev);
        for (const LonLat& p : in) {
            const bool p_in = inside(p);
            if (p_in != prev_in) out.push_back(cross(prev, p));
            if (p_in) out.push_back(p);
            prev = p;
            prev_in = p_in;
        }
        in.swap(out);
    };
    auto at_lon = [](double v) {
        return [v](LonLat a, LonLat c) { return LonLat{v, a.lat + (c.lat - a.lat) * (v - a.lon) / (c.lon - a.lon)}; };
    };
    auto at_lat = [](double v) {
        return [v](LonLat a, LonLat c) { return LonLat{a.lon + (c.lon - a.lon) * (v - a.lat) / (c.lat - a.lat), v}; };
    };
    pass([&](LonLat p) { return p.lon >= b.west; }, at_lon(b.west));
    pass([&](LonLat p) { return p.lon <= b.east; }, at_lon(b.east));
    pass([&](LonLat p) { return p.lat >= b.south; }, at_lat(b.south));
    pass([&](LonLat p) { return p.lat <= b.north; }, at_lat(b.north));
    return in;
}

Box tile_box(const Projection& proj, double margin) {
    return {proj.lon_at(-margin), proj.lat_at(kSize + margin), proj.lon_at(kSize + margin), proj.lat_at(-margin)};
}

// The ring with every run of 32 points that lies wholly beyond one side of the box cut down to the
// run's first and last point. Clipping gives the same result (such a run only slides along that side),
// and the few rings that span continents shrink to what the tile sees.
std::vector<LonLat> near_box(const std::vector<LonLat>& ring, const Box& b) {
    constexpr std::size_t kRun = 32;
    std::vector<LonLat> out;
    out.reserve(std::min<std::size_t>(ring.size(), 4096));
    for (std::size_t i = 0; i < ring.size(); i += kRun) {
        const std::size_t end = std::min(ring.size(), i + kRun);
        bool west = true, east = true, south = true, north = true;
        for (std::size_t k = i; k < end; ++k) {
            west &= ring[k].lon < b.west;
            east &= ring[k].lon > b.east;
            south &= ring[k].lat < b.south;
            north &= ring[k].lat > b.north;
        }
        if (west || east || south || north) {
            out.push_back(ring[i]);
            if (end - 1 > i) out.push_back(ring[end - 1]);
        } else {
            out.insert(out.end(), ring.begin() + static_cast<std::ptrdiff_t>(i), ring.begin() + static_cast<std::ptrdiff_t>(end));
        }
    }
    return out;
}

QPainterPath land_path(const Detail& detail, const Projection& proj, const Box& box) {
    QPainterPath path;
    path.setFillRule(Qt::OddEvenFill);
    for (const Line& ring : detail.land) {
        if (!box.meets(ring)) continue;
        const std::vector<LonLat> clipped = clip_ring(ring.points.size() > 256 ? near_box(ring.points, box) : ring.points, box);
        if (clipped.size() < 3) continue;
        QPolygonF poly;
        poly.reserve(static_cast<qsizetype>(clipped.size()));
        for (const LonLat& p : clipped) poly << proj.to_pixel(p.lon, p.lat);
        path.addPolygon(poly);
        path.closeSubpath();
    }
    return path;
}

void draw_borders(QPainter& painter, const Detail& detail, const Projection& proj, const Box& box, double width) {
    painter.setPen(QPen(QColor(kBorderRgb), width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    QPolygonF line;
    for (const Line& l : detail.borders) {
        if (!box.meets(l)) continue;
        line.clear();
        for (const LonLat& p : l.points) line << proj.to_pixel(p.lon, p.lat);
        painter.drawPolyline(line);
    }
}

// Which places a zoom labels: few and large when zoomed out, all the data has when zoomed in.
bool labelled_at(const Place& p, int zoom) {
    if (zoom <= 5) return p.population >= 2'000'000 || (p.capital && p.population >= 500'000);
    if (zoom <= 8) return p.population >= 250'000 || p.capital;
    return true;
}

double priority(const Place& p) { return static_cast<double>(p.population) * (p.capital ? 4.0 : 1.0); }

// Dots and names of the places inside the tile, most important first; a name is drawn only where it
// fits wholly inside the tile without touching one already drawn, so neighbouring tiles never cut one.
void draw_places(QPainter& painter, const AtlasData& data, const Projection& proj, const Box& inner, int zoom) {
    std::vector<const Place*> chosen;
    for (const Place& p : data.places)
        if (p.lon >= inner.west && p.lon < inner.east && p.lat > inner.south && p.lat <= inner.north &&
            labelled_at(p, zoom))
            chosen.push_back(&p);
    std::stable_sort(chosen.begin(), chosen.end(),
                     [](const Place* a, const Place* b) { return priority(*a) > priority(*b); });
    QFont normal(QStringLiteral("DejaVu Sans"));
    normal.setPixelSize(11);
    QFont bold = normal;
    bold.setBold(true);
    const QRectF tile(1, 1, kSize - 2, kSize - 2);
    std::vector<QRectF> taken;
    for (const Place* p : chosen) {
        const QPointF at = proj.to_pixel(p->lon, p->lat);
        const QRectF dot(at.x() - 3, at.y() - 3, 6, 6);
        if (std::any_of(taken.begin(), taken.end(), [&](const QRectF& r) { return r.intersects(dot); })) continue;
        const QFont& font = p->capital ? bold : normal;
        const QFontMetricsF metrics(font);
        const QString name = QString::fromUtf8(p->name.data(), static_cast<qsizetype>(p->name.size()));
        const double w = metrics.horizontalAdvance(name), h = metrics.height();
        QRectF label;
        bool placed = false;
        for (const QRectF& candidate : {QRectF(at.x() + 5, at.y() - h / 2, w, h), QRectF(at.x() - 5 - w, at.y() - h / 2, w, h),
                                        QRectF(at.x() - w / 2, at.y() - 4 - h, w, h), QRectF(at.x() - w / 2, at.y() + 4, w, h)}) {
            if (!tile.contains(candidate)) continue;
            if (std::any_of(taken.begin(), taken.end(), [&](const QRectF& r) { return r.intersects(candidate); }))
                continue;
            label = candidate;
            placed = true;
            break;
        }
        if (!placed) continue;  // a dot without its name would only puzzle
        taken.push_back(dot);
        taken.push_back(label.adjusted(-2, -1, 2, 1));
        painter.setPen(QPen(QColor(kTextRgb), 1.0));
        painter.setBrush(p->capital ? QColor(Qt::white) : QColor(kTextRgb));
        painter.drawEllipse(at, p->capital ? 3.0 : 2.0, p->capital ? 3.0 : 2.0);
        QPainterPath text;
        text.addText(label.left(), label.top() + metrics.ascent(), font, name);
        painter.strokePath(text, QPen(QColor(255, 255, 255, 220), 3.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.fillPath(text, QColor(kTextRgb));
    }
}

QImage blank(unsigned rgb, int scale) {
    QImage image(kSize * scale, kSize * scale, QImage::Format_RGB32);
    image.fill(QColor(QRgb(rgb)));
    return image;
}

}  // namespace

QImage render_tile(const AtlasData& data, int zoom, int x, int y, bool faded, int scale) {
    scale = scale >= 2 ? 2 : 1;
    QImage image = blank(kSeaRgb, scale);
    if (zoom < 0 || zoom > 22) return image;
    const int n = 1 << zoom;
    if (y < 0 || y >= n) return image;
    x = ((x % n) + n) % n;
    const MercatorTile proj(zoom, x, y);
    // Twice the pixels show the coasts of the next zoom; places and line widths stay this zoom's.
    const Detail& detail = data.details[zoom + scale - 1 <= 5 ? kCoarse : kFine];
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(scale, scale);
    const Box box = tile_box(proj, 4.0);
    painter.setPen(QPen(QColor(kCoastRgb), zoom >= 10 ? 1.2 : 0.8));
    painter.setBrush(QColor(QRgb(kLandRgb)));
    painter.drawPath(land_path(detail, proj, box));
    draw_borders(painter, detail, proj, box, zoom >= 10 ? 1.6 : 1.0);
    draw_places(painter, data, proj, tile_box(proj, 0.0), zoom);
    if (faded) painter.fillRect(QRectF(0, 0, kSize, kSize), QColor(255, 255, 255, 110));
    return image;
}

QImage render_relief_tile(const AtlasData& data, int row, int column, int scale) {
    scale = scale >= 2 ? 2 : 1;
    QImage image = blank(0x4f7fb8, scale);
    if (row < 0 || row >= 8 || column < 0 || column >= 16) return image;
    const PlateTile proj(row, column);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(scale, scale);
    // Sea darkens towards the open ocean's middle latitudes; land runs from green lowlands near the
    // equator through dry tan to ice near the poles.
    QLinearGradient sea(proj.to_pixel(0, 90), proj.to_pixel(0, -90));
    sea.setColorAt(0.0, QColor(0x9fc3e0));
    sea.setColorAt(0.15, QColor(0x5d8fc4));
    sea.setColorAt(0.5, QColor(0x3f73ad));
    sea.setColorAt(0.85, QColor(0x5d8fc4));
    sea.setColorAt(1.0, QColor(0x9fc3e0));
    painter.fillRect(QRectF(0, 0, kSize, kSize), sea);
    QLinearGradient land(proj.to_pixel(0, 90), proj.to_pixel(0, -90));
    land.setColorAt(0.0, QColor(0xf4f4f2));
    land.setColorAt(0.12, QColor(0xdcd8c8));
    land.setColorAt(0.25, QColor(0x9fae78));
    land.setColorAt(0.36, QColor(0xc9b27e));
    land.setColorAt(0.5, QColor(0x7fa35c));
    land.setColorAt(0.64, QColor(0xc9b27e));
    land.setColorAt(0.78, QColor(0x9fae78));
    land.setColorAt(0.9, QColor(0xdcd8c8));
    land.setColorAt(1.0, QColor(0xf4f4f2));
    painter.setPen(QPen(QColor(0x2f4f6f), 0.8));
    painter.setBrush(land);
    painter.drawPath(land_path(data.details[kCoarse], proj, tile_box(proj, 4.0)));
    return image;
}

RgbImage rgb_pixels(const QImage& image) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    RgbImage out;
    out.width = rgb.width();
    out.height = rgb.height();
    const std::size_t row = std::size_t(out.width) * 3;
    out.pixels.resize(row * std::size_t(out.height));
    for (int y = 0; y < out.height; ++y)
        std::copy_n(rgb.constScanLine(y), row, out.pixels.begin() + static_cast<std::ptrdiff_t>(row * y));
    return out;
}

bool save_png_atomically(const QImage& image, const std::string& path, int level) {
    const std::string temp = path + ".part";
    if (!write_png(temp, rgb_pixels(image), level) || std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace vg::atlas
