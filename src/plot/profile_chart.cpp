#include "plot/profile_chart.h"

#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#ifdef VG_WITH_QT_SVG
#include <QSvgGenerator>
#endif

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/c_number.h"

namespace vg::plot {
namespace {

constexpr double kFoot = 0.3048;
constexpr double kMile = 1609.344;
constexpr double kNauticalMile = 1852.0;

// Margins around the plotting area: room for the tick labels, the title and the units.
constexpr double kLeft = 64, kRight = 18, kTop = 36, kBottom = 42;
// About this many pixels between two ticks at most.
constexpr double kTickSpacingX = 90, kTickSpacingY = 45;

const QColor kFill(163, 196, 132);
const QColor kOutline(74, 112, 46);
const QColor kSpeedLine(32, 88, 200);
const QColor kGrid(222, 222, 222);
const QColor kAxis(90, 90, 90);
const QColor kCursor(200, 30, 30);

QString q(const std::string& s) { return QString::fromStdString(s); }

std::string clock_text(double seconds) {
    const long long s = std::llround(std::max(0.0, seconds));
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    return text;
}

}  // namespace

Units units_from_speed_setting(std::string_view value) {
    if (value.starts_with("mph")) return Units::imperial;
    if (value.starts_with("kn")) return Units::nautical;
    return Units::metric;
}

ProfileChart::ProfileChart(const Profile& profile, const ChartOptions& options, QSize size)
    : profile_(profile), options_(options), size_(size) {
    frame_ = QRectF(kLeft, kTop, std::max(1.0, size.width() - kLeft - kRight),
                    std::max(1.0, size.height() - kTop - kBottom));
    const double length = profile.length_m();
    const bool imperial = options_.units == Units::imperial;
    const double long_unit = imperial ? kMile : options_.units == Units::nautical ? kNauticalMile : 1000.0;
    const bool use_long = length >= long_unit;
    x_scale_ = use_long ? long_unit : imperial ? kFoot : 1.0;
    x_unit_ = use_long ? (imperial ? "mi" : options_.units == Units::nautical ? "NM" : "km") : imperial ? "ft" : "m";
    x_hi_ = std::max(options_.axis == ProfileAxis::distance ? length : profile.duration_s(), 1.0);
    speed_unit_ = imperial ? "mph" : options_.units == Units::nautical ? "kn" : "km/h";
    y_unit_ = options_.quantity == Quantity::speed ? speed_unit_ : imperial ? "ft" : "m";

    double lo = 0, hi = 0;
    for (std::size_t i = 0; i < profile.points.size(); ++i) {
        const auto& p = profile.points[i];
        const auto y = shown_value(p);
        if (!y || !profile_x(p, options_.axis)) continue;
        if (empty_ || *y < lo) lo = *y, lowest_ = i;
        if (empty_ || *y > hi) hi = *y, highest_ = i;
        empty_ = false;
    }
    if (options_.quantity == Quantity::speed) lo = 0;  // speeds are read from zero
    const int y_most = std::max(2, static_cast<int>(frame_.height() / kTickSpacingY) + 1);
    y_ticks_ = round_ticks(lo, hi, y_most);
    y_lo_ = lo, y_hi_ = hi;
    widen_to_ticks(y_lo_, y_hi_, y_ticks_);
    y_ticks_ = round_ticks(y_lo_, y_hi_, y_most);
    const int x_most = std::max(2, static_cast<int>(frame_.width() / kTickSpacingX) + 1);
    x_ticks_ = options_.axis == ProfileAxis::time ? time_ticks(x_lo_, x_hi_, x_most)
                                                   : round_ticks(x_lo_ / x_scale_, x_hi_ / x_scale_, x_most);
}

double ProfileChart::column_of(double x) const {
    return frame_.left() + (x - x_lo_) / (x_hi_ - x_lo_) * frame_.width();
}

double ProfileChart::row_of(double y) const {
    return frame_.bottom() - (y - y_lo_) / (y_hi_ - y_lo_) * frame_.height();
}

std::optional<std::size_t> ProfileChart::point_at(double px) const {
    if (empty_ || px < frame_.left() - 0.5 || px > frame_.right() + 0.5) return std::nullopt;
    const double x = x_lo_ + (px - frame_.left()) / frame_.width() * (x_hi_ - x_lo_);
    return nearest_point(profile_, options_.axis, x);
}

double ProfileChart::speed_shown(double mps) const {
    switch (options_.units) {
    case Units::imperial: return mps * 3600 / kMile;
    case Units::nautical: return mps * 3600 / kNauticalMile;
    case Units::metric: break;
    }
    return mps * 3.6;
}

std::optional<double> ProfileChart::shown_value(const ProfilePoint& p) const {
    if (options_.quantity == Quantity::speed) {
        if (!p.speed_mps) return std::nullopt;
        return speed_shown(*p.speed_mps);
    }
    if (!p.elevation_m) return std::nullopt;
    return options_.units == Units::imperial ? *p.elevation_m / kFoot : *p.elevation_m;
}

std::string ProfileChart::point_text(const ProfilePoint& p) const {
    const bool imperial = options_.units == Units::imperial;
    std::string text = fixed_text(p.distance_m / x_scale_, x_scale_ > 1.0 ? 2 : 0) + " " + x_unit_;
    if (p.seconds) text += "  " + clock_text(*p.seconds);
    if (p.elevation_m) text += "  " + fixed_text(imperial ? *p.elevation_m / kFoot : *p.elevation_m, 0) + (imperial ? " ft" : " m");
    if (p.speed_mps) text += "  " + fixed_text(speed_shown(*p.speed_mps), 1) + " " + speed_unit_;
    return text;
}

void ProfileChart::draw(QPainter& painter, std::optional<std::size_t> cursor) const {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.fillRect(QRectF(0, 0, size_.width(), size_.height()), Qt::white);
    QFont font = painter.font();
    font.setPixelSize(12);
    painter.setFont(font);
    const QFontMetricsF metrics(font);

    // Title.
    QFont bold = font;
    bold.setPixelSize(14);
    bold.setBold(true);
    painter.setFont(bold);
    painter.setPen(Qt::black);
    const std::string title = !options_.title.empty() ? options_.title
                              : options_.quantity == Quantity::elevation ? "Elevation"
                                                                         : "Speed";
    painter.drawText(QRectF(kLeft, 4, size_.width() - kLeft - kRight, kTop - 12), Qt::AlignLeft | Qt::AlignVCenter,
                     q(title));
    painter.setFont(font);

    if (empty_) {
        painter.setPen(kAxis);
        painter.drawRect(frame_);
        const char* none = options_.quantity == Quantity::elevation ? "No heights" : "No speeds";
        if (options_.axis == ProfileAxis::time && profile_.duration_s() <= 0) none = "No times";
        painter.drawText(frame_, Qt::AlignCenter, none);
        painter.restore();
        return;
    }

    // Grid and tick labels.
    painter.setPen(QPen(kGrid, 1));
    for (const double v : y_ticks_.values) painter.drawLine(QPointF(frame_.left(), row_of(v)), QPointF(frame_.right(), row_of(v)));
    const double x_factor = options_.axis == ProfileAxis::time ? 1.0 : x_scale_;
    for (const double v : x_ticks_.values)
        painter.drawLine(QPointF(column_of(v * x_factor), frame_.top()), QPointF(column_of(v * x_factor), frame_.bottom()));
    painter.setPen(Qt::black);
    for (const double v : y_ticks_.values)
        painter.drawText(QRectF(0, row_of(v) - 8, kLeft - 6, 16), Qt::AlignRight | Qt::AlignVCenter,
                         q(tick_text(v, y_ticks_)));
    for (const double v : x_ticks_.values)
        painter.drawText(QRectF(column_of(v * x_factor) - 40, frame_.bottom() + 4, 80, 16), Qt::AlignHCenter | Qt::AlignTop,
                         q(tick_text(v, x_ticks_)));
    // Units: the height's over its axis, the distance's (or the clock's form) under the x axis's end.
    painter.drawText(QRectF(0, kTop - 20, kLeft - 6, 16), Qt::AlignRight | Qt::AlignVCenter, q(y_unit_));
    const std::string x_unit = options_.axis == ProfileAxis::time ? (x_ticks_.hours ? "h:mm" : "m:ss") : x_unit_;
    painter.drawText(QRectF(frame_.left(), frame_.bottom() + 22, frame_.width(), 16), Qt::AlignRight | Qt::AlignTop,
                     q(x_unit));

    // The series, one piece per run of points that have both values and lie on one line.
    painter.setClipRect(frame_.adjusted(-1, -1, 1, 1));
    QPolygonF run;
    auto flush = [&] {
        if (run.size() >= 2) {
            if (options_.quantity == Quantity::elevation) {
                QPolygonF area = run;
                area << QPointF(run.back().x(), frame_.bottom()) << QPointF(run.front().x(), frame_.bottom());
                painter.setPen(Qt::NoPen);
                painter.setBrush(kFill);
                painter.drawPolygon(area);
                painter.setPen(QPen(kOutline, 1.5));
            } else {
                painter.setPen(QPen(kSpeedLine, 2));
            }
            painter.setBrush(Qt::NoBrush);
            painter.drawPolyline(run);
        } else if (run.size() == 1) {
            painter.setPen(QPen(options_.quantity == Quantity::elevation ? kOutline : kSpeedLine, 3));
            painter.drawPoint(run.front());
        }
        run.clear();
    };
    for (const auto& p : profile_.points) {
        const auto x = profile_x(p, options_.axis);
        const auto y = shown_value(p);
        if (p.starts_line || !x || !y) flush();
        if (x && y) run << QPointF(column_of(*x), row_of(*y));
    }
    flush();
    painter.setClipping(false);

    painter.setPen(QPen(kAxis, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(frame_);

    // The lowest and highest values, marked where they are.
    auto mark = [&](std::size_t i, const char* word, bool above) {
        const auto& p = profile_.points[i];
        const QPointF at(column_of(*profile_x(p, options_.axis)), row_of(*shown_value(p)));
        painter.setPen(QPen(Qt::black, 4));
        painter.drawPoint(at);
        // As precise as the axis labels (speeds to a tenth at least).
        const int decimals = options_.quantity == Quantity::speed ? std::max(1, y_ticks_.decimals) : y_ticks_.decimals;
        const QString text = q(std::string(word) + " " + fixed_text(*shown_value(p), decimals) + " " + y_unit_);
        const double w = metrics.horizontalAdvance(text) + 4;
        const double left = std::clamp(at.x() - w / 2, frame_.left() + 2, frame_.right() - w - 2);
        const double top = std::clamp(above ? at.y() - 20 : at.y() + 4, frame_.top() + 2, frame_.bottom() - 18);
        painter.setPen(Qt::black);
        painter.drawText(QRectF(left, top, w, 16), Qt::AlignCenter, text);
    };
    if (highest_) mark(*highest_, "max", true);
    if (lowest_ && lowest_ != highest_) mark(*lowest_, "min", false);

    // The cursor: a vertical line at the point and its values along the top.
    if (cursor && *cursor < profile_.points.size()) {
        const auto& p = profile_.points[*cursor];
        if (const auto x = profile_x(p, options_.axis)) {
            const double col = column_of(*x);
            painter.setPen(QPen(kCursor, 2));
            painter.drawLine(QPointF(col, frame_.top()), QPointF(col, frame_.bottom()));
            const QString text = q(point_text(p));
            const double w = metrics.horizontalAdvance(text) + 10;
            const double left = std::clamp(col + 6, frame_.left() + 2, std::max(frame_.left() + 2, frame_.right() - w - 2));
            const QRectF box(left, frame_.top() + 4, w, 18);
            painter.fillRect(box, QColor(255, 255, 255, 220));
            painter.setPen(kCursor);
            painter.drawText(box, Qt::AlignCenter, text);
        }
    }
    painter.restore();
}

bool write_chart_png(const ProfileChart& chart, const std::string& path, std::string& error) {
    QImage image(chart.size(), QImage::Format_RGB32);
    {
        QPainter painter(&image);
        chart.draw(painter);
    }
    QImageWriter writer(q(path), "png");
    if (!writer.write(image)) {
        error = "cannot write " + path + ": " + writer.errorString().toStdString();
        return false;
    }
    return true;
}

bool write_chart_svg(const ProfileChart& chart, const std::string& path, std::string& error) {
#ifdef VG_WITH_QT_SVG
    QSvgGenerator svg;
    svg.setFileName(q(path));
    svg.setSize(chart.size());
    svg.setViewBox(QRect(QPoint(0, 0), chart.size()));
    svg.setTitle(QStringLiteral("Profile"));
    QPainter painter;
    if (!painter.begin(&svg)) {
        error = "cannot write " + path;
        return false;
    }
    chart.draw(painter);
    if (!painter.end()) {
        error = "cannot write " + path;
        return false;
    }
    return true;
#else
    (void)chart;
    (void)path;
    error = "saving SVG is not available in this build (made without Qt SVG)";
    return false;
#endif
}

}  // namespace vg::plot
