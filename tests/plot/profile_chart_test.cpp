// Profile charts: ticks a reader takes in at a glance, a real track's heights filled where they lie in
// a PNG, an SVG that is XML carrying the axis labels, and a pointer's column naming its point.
#include "plot/profile_chart.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QXmlStreamReader>

#include <algorithm>
#include <cmath>

#include "support/test_paths.h"
#include "track/gpx.h"

namespace vg::plot {
namespace {

Profile real_track() {
    GpxData gpx;
    std::string error;
    EXPECT_TRUE(read_gpx(test::read_file(test::shared_testdata() / "gpx" / "nmea-rtk.gpx"), gpx, error)) << error;
    return profile_of(gpx);
}

TEST(Ticks, RoundAndReadableForManyRanges) {
    struct Case {
        double lo, hi;
        int most;
        bool clock;
        double step;
        const char* first;
        const char* last;
    };
    const Case cases[] = {
        {0, 1, 6, false, 0.2, "0.0", "1.0"},
        {0, 7.3, 8, false, 1, "0", "7"},
        {278.16, 279.88, 5, false, 0.5, "278.5", "279.5"},
        {-12, 1234, 6, false, 500, "0", "1000"},
        {3, 3, 4, false, 0.5, "2.5", "3.5"},      // one value: a unit around it
        {0, 0.0042, 5, false, 0.001, "0.000", "0.004"},
        {0, 12.3, 6, true, 5, "0:00", "0:10"},    // seconds as m:ss
        {0, 3725, 6, true, 900, "0:00", "1:00"},  // an hour: h:mm
        {0, 100000, 6, true, 21600, "0:00", "24:00"},
        {0, 30 * 86400.0, 5, true, 10 * 86400.0, "0:00", "720:00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.lo) + ".." + std::to_string(c.hi));
        const Ticks t = c.clock ? time_ticks(c.lo, c.hi, c.most) : round_ticks(c.lo, c.hi, c.most);
        EXPECT_NEAR(t.step, c.step, c.step * 1e-9);
        ASSERT_GE(t.values.size(), 2u);
        EXPECT_LE(t.values.size(), static_cast<std::size_t>(c.most));
        for (const double v : t.values) EXPECT_NEAR(std::remainder(v, t.step), 0.0, t.step * 1e-9);
        EXPECT_EQ(tick_text(t.values.front(), t), c.first);
        EXPECT_EQ(tick_text(t.values.back(), t), c.last);
    }
    EXPECT_TRUE(round_ticks(NAN, 1, 5).values.empty());
    double lo = 278.16, hi = 279.88;
    widen_to_ticks(lo, hi, round_ticks(lo, hi, 5));
    EXPECT_DOUBLE_EQ(lo, 278.0);
    EXPECT_DOUBLE_EQ(hi, 280.0);
}

bool greenish(QRgb c) { return qGreen(c) > qRed(c) + 20 && qGreen(c) > qBlue(c) + 20; }

TEST(ProfileChart, RealTrackFilledUnderItsHeightsInPng) {
    const Profile whole = real_track();
    ASSERT_EQ(whole.points.size(), 122u);
    // The capture's first ten seconds (after them the receiver was off for ten minutes).
    Profile profile = whole;
    profile.points.resize(104);
    const ProfileChart chart(profile, {Quantity::elevation, ProfileAxis::time, Units::metric, {}}, {800, 400});
    ASSERT_FALSE(chart.empty());
    test::TempDir dir;
    std::string error;
    const auto png = (dir.path() / "p.png").string();
    ASSERT_TRUE(write_chart_png(chart, png, error)) << error;
    const QImage image(QString::fromStdString(png));
    ASSERT_EQ(image.size(), QSize(800, 400));
    const QRectF frame = chart.frame();
    // At each point's column the area is filled below its height down to the axis and nothing is
    // drawn above it, give or take how steeply the line runs through that pixel column.
    const auto& pts = profile.points;
    const auto lowest = std::min_element(pts.begin(), pts.end(), [](const auto& a, const auto& b) {
        return *a.elevation_m < *b.elevation_m;
    });
    const double lowest_col = chart.column_of(*lowest->seconds);
    int checked = 0;
    for (std::size_t i = 1; i + 1 < pts.size(); ++i) {
        const double col = chart.column_of(*pts[i].seconds), row = chart.row_of(*pts[i].elevation_m);
        double slope = 0;
        for (const ProfilePoint* n : {&pts[i - 1], &pts[i + 1]})
            slope = std::max(slope, std::abs(chart.row_of(*n->elevation_m) - row) / std::abs(chart.column_of(*n->seconds) - col));
        const int spare = static_cast<int>(slope) + 3;
        if (spare > 20) continue;
        const int x = static_cast<int>(col);
        EXPECT_FALSE(greenish(image.pixel(x, static_cast<int>(row) - spare))) << "point " << i;
        if (std::abs(col - lowest_col) > 60) {  // the "min" label lies under the lowest point
            EXPECT_TRUE(greenish(image.pixel(x, static_cast<int>(row) + spare))) << "point " << i;
        }
        EXPECT_TRUE(greenish(image.pixel(x, static_cast<int>(frame.bottom()) - 2))) << "point " << i;
        ++checked;
    }
    EXPECT_GE(checked, 60);
    // Outside the plot nothing is filled.
    EXPECT_FALSE(greenish(image.pixel(static_cast<int>(frame.left()) - 10, static_cast<int>(frame.bottom()) - 2)));

    // Speeds from the same track: a line, nothing filled beneath it.
    const ProfileChart speeds(profile, {Quantity::speed, ProfileAxis::distance, Units::imperial, {}}, {640, 320});
    EXPECT_FALSE(speeds.empty());
    EXPECT_EQ(speeds.y_ticks().values.front(), 0.0);
}

TEST(ProfileChart, SvgIsXmlWithTheAxisLabels) {
    const Profile profile = real_track();
    const ProfileChart chart(profile, {Quantity::elevation, ProfileAxis::distance, Units::imperial, "Climb"},
                             {700, 350});
    test::TempDir dir;
    std::string error;
    const auto path = dir.path() / "p.svg";
    ASSERT_TRUE(write_chart_svg(chart, path.string(), error)) << error;
    QXmlStreamReader xml(QString::fromStdString(test::read_file(path)));
    QStringList texts;
    while (!xml.atEnd())
        if (xml.readNext() == QXmlStreamReader::Characters && !xml.isWhitespace()) texts << xml.text().trimmed().toString();
    ASSERT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_TRUE(texts.contains("Climb"));
    EXPECT_TRUE(texts.contains("ft"));
    for (const double v : chart.y_ticks().values) EXPECT_TRUE(texts.contains(QString::fromStdString(tick_text(v, chart.y_ticks()))));
    for (const double v : chart.x_ticks().values) EXPECT_TRUE(texts.contains(QString::fromStdString(tick_text(v, chart.x_ticks()))));
    EXPECT_TRUE(texts.filter("max ").size() == 1 && texts.filter("min ").size() == 1) << texts.join('|').toStdString();
}

TEST(ProfileChart, PointerColumnNamesItsPointAndEmptyChartsSaySo) {
    const Profile profile = real_track();
    const ProfileChart chart(profile, {Quantity::elevation, ProfileAxis::time, Units::metric, {}}, {800, 400});
    // Each point's column names that point, or one drawn within the same pixel; half a pixel beside
    // it too.
    for (std::size_t i = 0; i < profile.points.size(); ++i) {
        const double col = chart.column_of(*profile.points[i].seconds);
        for (const double px : {col, col + 0.4, col - 0.4}) {
            const auto named = chart.point_at(px);
            ASSERT_TRUE(named);
            EXPECT_LE(std::abs(chart.column_of(*profile.points[*named].seconds) - col), 0.81) << i;
        }
    }
    EXPECT_EQ(chart.point_at(chart.frame().right()), 121u);
    EXPECT_EQ(chart.point_at(chart.frame().left()), 0u);
    EXPECT_FALSE(chart.point_at(chart.frame().left() - 20));
    EXPECT_FALSE(chart.point_at(chart.frame().right() + 20));
    const std::string text = chart.point_text(profile.points[37]);
    EXPECT_NE(text.find(" m  0:00:0"), std::string::npos) << text;
    EXPECT_TRUE(text.ends_with(" km/h")) << text;

    // Drawn with the cursor: a red line at the point's column.
    QImage image(800, 400, QImage::Format_RGB32);
    {
        QPainter painter(&image);
        chart.draw(painter, 60);
    }
    const int col = static_cast<int>(chart.column_of(*profile.points[60].seconds));
    const QRgb c = image.pixel(col, static_cast<int>(chart.frame().bottom()) - 3);
    EXPECT_GT(qRed(c), 150);
    EXPECT_LT(qGreen(c), 120);

    // A track without heights: nothing to plot, the chart says so.
    Profile flat = profile;
    for (auto& p : flat.points) p.elevation_m.reset();
    const ProfileChart none(flat, {}, {300, 200});
    EXPECT_TRUE(none.empty());
    EXPECT_FALSE(none.point_at(150));
}

}  // namespace
}  // namespace vg::plot
