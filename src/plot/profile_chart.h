// A track's profile drawn with QPainter into any paint device: a QImage for PNG, a QSvgGenerator for
// SVG, a widget. Height as a filled area or speed as a line, against distance or time, with round
// ticks on both axes in the chosen units, a title, the lowest and highest values marked, and an
// optional cursor (a vertical line with the point's values) for a pointer over the plot.
// Threads: a chart is immutable once made; drawing needs a QGuiApplication (fonts), on any one thread
// at a time per painter. Ownership: a chart keeps a reference to its profile, which must outlive it.
// Failure: a profile without a single value to draw gives a chart that says "No heights" or "No
// speeds" (or "No times" on a time axis) where the plot would be; the writers return false with a
// reason.
#pragma once

#include <QRectF>
#include <QSize>

#include <cstddef>
#include <optional>
#include <string>

#include "plot/ticks.h"
#include "track/profile.h"

class QPainter;

namespace vg::plot {

enum class Quantity { elevation, speed };
// Distance, height and speed units: km, m, km/h; mi, ft, mph; nautical miles, m, knots. Short
// distances (under one of the long unit) are shown in m or ft.
enum class Units { metric, imperial, nautical };

// The units of the window's speed setting (`speed` in vor_ini.txt): "mph" imperial, "kn" nautical,
// anything else metric.
Units units_from_speed_setting(std::string_view value);

struct ChartOptions {
    Quantity quantity = Quantity::elevation;
    ProfileAxis axis = ProfileAxis::distance;
    Units units = Units::metric;
    std::string title;  // drawn at the top; empty: "Elevation" or "Speed"
};

class ProfileChart {
public:
    ProfileChart(const Profile& profile, const ChartOptions& options, QSize size);

    // Draws the whole chart into a painter on a device of the chart's size.
    void draw(QPainter& painter, std::optional<std::size_t> cursor = std::nullopt) const;

    // Whether there is anything to plot.
    bool empty() const { return empty_; }
    QSize size() const { return size_; }
    // The plotting area (inside the axes).
    QRectF frame() const { return frame_; }
    // Pixel column of an x value (metres or seconds) and row of a y value (in the shown units).
    double column_of(double x) const;
    double row_of(double y_shown) const;
    // The point a pointer at pixel column `px` names: the nearest on the x axis; none outside the
    // frame or when the chart is empty.
    std::optional<std::size_t> point_at(double px) const;
    // The value of a point in the shown units, when it has one.
    std::optional<double> shown_value(const ProfilePoint& point) const;
    // "1.25 km  0:12:30  278 m  14 km/h": what the cursor says about a point.
    std::string point_text(const ProfilePoint& point) const;
    const Ticks& x_ticks() const { return x_ticks_; }
    const Ticks& y_ticks() const { return y_ticks_; }

private:
    double speed_shown(double mps) const;

    const Profile& profile_;
    ChartOptions options_;
    QSize size_;
    QRectF frame_;
    bool empty_ = true;
    double x_lo_ = 0, x_hi_ = 1, y_lo_ = 0, y_hi_ = 1;
    double x_scale_ = 1;  // metres per unit of the distances shown
    std::string x_unit_, y_unit_, speed_unit_;  // x_unit_: the distances' unit on either axis
    Ticks x_ticks_, y_ticks_;
    std::optional<std::size_t> lowest_, highest_;
};

// Writes the chart as a PNG picture of its size. False with a reason when it cannot be written.
bool write_chart_png(const ProfileChart& chart, const std::string& path, std::string& error);
// Writes the chart as an SVG document (Qt SVG). False with a reason when it cannot be written or the
// build has no Qt SVG ("saving SVG is not available in this build").
bool write_chart_svg(const ProfileChart& chart, const std::string& path, std::string& error);

}  // namespace vg::plot
