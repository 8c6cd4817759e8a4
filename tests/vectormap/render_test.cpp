// The vector map renderer with the built-in OpenMapTiles style, on tiles written by the test builder:
// where fills and lines land and in which colour, over-zoomed cells staying sharp, the 512-pixel
// picture keeping the layout, and the label rules across neighbouring cells.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <cmath>
#include <map>
#include <thread>

#include "support/mvt_builder.h"
#include "vectormap/render.h"

namespace vg::vmap {
namespace {

using test::int_value;
using test::text_value;
using test::TileBuilder;

const Style& omt() { return Style::builtin(Schema::OpenMapTiles, false); }

// The colour the style gives the feature with the last layer of `type` that draws it at `zoom`.
QColor style_colour(Style::LayerType type, const mvt::Tile& tile, const std::string& layer_name, double zoom) {
    const mvt::Layer* layer = tile.layer(layer_name);
    const FeatureContext ctx{zoom, layer, &layer->features.front()};
    QColor colour;
    for (const Style::Layer& l : omt().layers()) {
        if (l.type != type || !omt().shown_at(l, zoom) || !omt().matches(l, ctx)) continue;
        colour = type == Style::LayerType::Fill ? omt().fill(l, ctx).color : omt().line(l, ctx).color;
    }
    return colour;
}

bool near(QRgb a, QColor b, int tolerance = 6) {
    return std::abs(qRed(a) - b.red()) <= tolerance && std::abs(qGreen(a) - b.green()) <= tolerance &&
           std::abs(qBlue(a) - b.blue()) <= tolerance;
}

// Pixels of row `y` from x0 to x1 whose colour is neither `a` nor `b`: the width of the edge between.
int blended(const QImage& image, int y, int x0, int x1, QColor a, QColor b) {
    int n = 0;
    for (int x = x0; x < x1; ++x)
        if (!near(image.pixel(x, y), a, 2) && !near(image.pixel(x, y), b, 2)) ++n;
    return n;
}

constexpr TileId kCell{14, 9000, 5000};

TEST(VectorRender, FillsWaterWithItsHolesAndDrawsRoadsInTheirColour) {
    TileBuilder b;
    // A lake (tile units 1024..3072, 64..192 pixels) with an island (1792..2304, 112..144 pixels).
    b.polygon("water", {{{1024, 1024}, {3072, 1024}, {3072, 3072}, {1024, 3072}}, {{1792, 1792}, {1792, 2304}, {2304, 2304}, {2304, 1792}}},
              {{"class", text_value("lake")}});
    b.line("transportation", {{0, 400}, {4096, 400}}, {{"class", text_value("primary")}});
    const double zoom = style_zoom(kCell.zoom);
    const QColor water = style_colour(Style::LayerType::Fill, b.tile(), "water", zoom);
    const QColor road = style_colour(Style::LayerType::Line, b.tile(), "transportation", zoom);
    const QColor background = omt().background(zoom);
    for (double scale : {1.0, 2.0}) {
        const QImage image = render_cell(kCell, b.tile(), kCell, omt(), scale);
        const int s = static_cast<int>(scale);
        ASSERT_EQ(image.width(), 256 * s);
        ASSERT_EQ(image.height(), 256 * s);
        EXPECT_TRUE(near(image.pixel(80 * s, 80 * s), water)) << scale;
        EXPECT_TRUE(near(image.pixel(180 * s, 180 * s), water)) << scale;
        EXPECT_TRUE(near(image.pixel(128 * s, 128 * s), background)) << "the island stays open";
        EXPECT_TRUE(near(image.pixel(30 * s, 230 * s), background)) << scale;
        EXPECT_TRUE(near(image.pixel(128 * s, 25 * s), road)) << "on the road's middle";
        EXPECT_TRUE(near(image.pixel(128 * s, 45 * s), background)) << "beside the road";
    }
    // The ancestor cannot draw a cell outside it: background only.
    const QImage stray = render_cell({15, 0, 0}, b.tile(), kCell, omt(), 1);
    EXPECT_TRUE(near(stray.pixel(80, 80), background));
}

TEST(VectorRender, OverZoomDrawsTheAncestorsPartSharpAndInPlace) {
    TileBuilder b;
    // Water west of x = 2100 tile units across the whole tile.
    b.polygon("water", {{{-64, -64}, {2100, -64}, {2100, 4160}, {-64, 4160}}}, {{"class", text_value("lake")}});
    const QColor background = omt().background(style_zoom(16));
    const QColor water = style_colour(Style::LayerType::Fill, b.tile(), "water", style_zoom(16));
    // At zoom 16 the edge lies in the cell of column 2 (2100 · 4 / 4096 = 2.05 cells), 13 pixels in.
    const TileId cell{16, kCell.x * 4 + 2, kCell.y * 4 + 1};
    const QImage image = render_cell(cell, b.tile(), kCell, omt(), 1);
    const int edge = static_cast<int>(std::lround(2100.0 * 4 / 16 - 2 * 256));
    EXPECT_TRUE(near(image.pixel(edge - 3, 100), water));
    EXPECT_TRUE(near(image.pixel(edge + 3, 100), background));
    EXPECT_LE(blended(image, 100, 0, 256, water, background), 2) << "an edge one pixel wide, not four";
    const QImage coarse = render_cell(kCell, b.tile(), kCell, omt(), 1);
    EXPECT_LE(blended(coarse, 100, 0, 256, water, background), 2);
    EXPECT_EQ(source_tile_for(cell, 14), kCell);
    EXPECT_EQ(source_tile_for(kCell, 14), kCell);
    EXPECT_FALSE(source_tile_for({3, 8, 0}, 14));
}

// Labels of cells in world pixels (cell column and row times 256 added).
struct WorldLabel {
    QString text;
    std::vector<QRectF> parts;
    bool along_line = false;
};

std::vector<WorldLabel> view_labels(const mvt::Tile& tile, const TileId& source, int zoom, int x0, int y0, int side,
                                    double scale = 1) {
    std::vector<WorldLabel> out;
    for (int x = x0; x < x0 + side; ++x)
        for (int y = y0; y < y0 + side; ++y) {
            RenderInfo info;
            render_cell({zoom, x, y}, tile, source, omt(), scale, &info);
            for (const PlacedLabel& l : info.labels) {
                EXPECT_TRUE(QRectF(0, 0, 256, 256).contains(l.box)) << l.text.toStdString() << " crosses its cell's edge";
                WorldLabel w{l.text, {}, l.along_line};
                for (const QRectF& r : l.parts) w.parts.push_back(r.translated((x - x0) * 256.0, (y - y0) * 256.0));
                out.push_back(std::move(w));
            }
        }
    return out;
}

TEST(VectorRender, LabelsOfAViewNeverOverlapAndPointsAreNamedOnce) {
    // A place near the corner of four tiles: each tile carries it (three of them in their buffers).
    std::vector<mvt::Tile> tiles;
    const test::Properties place{{"name", text_value("Kaupunki")}, {"class", text_value("city")}, {"rank", int_value(3)}};
    int labelled = 0;
    for (int dx = 0; dx < 2; ++dx)
        for (int dy = 0; dy < 2; ++dy) {
            TileBuilder b;
            b.point("place", {4090 - 4096 * dx, 4093 - 4096 * dy}, place);
            const TileId t{14, kCell.x + dx, kCell.y + dy};
            RenderInfo info;
            render_cell(t, b.tile(), t, omt(), 1, &info);
            for (const PlacedLabel& l : info.labels) labelled += l.text == "Kaupunki";
        }
    EXPECT_EQ(labelled, 1);

    // A dense city over-zoomed into a 3 × 3 view of zoom-16 cells: no two labels meet, and no point's
    // name is drawn twice.
    const mvt::Tile city = test::city_tile();
    const std::vector<WorldLabel> labels = view_labels(city, kCell, 16, kCell.x * 4, kCell.y * 4, 3);
    EXPECT_GT(labels.size(), 10u);
    EXPECT_TRUE(std::any_of(labels.begin(), labels.end(), [](const WorldLabel& l) { return l.along_line; }))
        << "street names follow their streets";
    for (std::size_t i = 0; i < labels.size(); ++i)
        for (std::size_t j = i + 1; j < labels.size(); ++j)
            for (const QRectF& a : labels[i].parts)
                for (const QRectF& b : labels[j].parts)
                    ASSERT_FALSE(a.intersects(b)) << labels[i].text.toStdString() << " meets " << labels[j].text.toStdString();
    std::map<QString, int> places;
    for (const WorldLabel& l : labels)
        if (l.text == "Port Aurora" || l.text == "Silver Lake") ++places[l.text];
    for (const auto& [name, count] : places) EXPECT_EQ(count, 1) << name.toStdString();

    // The 512-pixel cells place the same labels in the same boxes.
    RenderInfo one, two;
    render_cell(kCell, city, kCell, omt(), 1, &one);
    render_cell(kCell, city, kCell, omt(), 2, &two);
    ASSERT_EQ(one.labels.size(), two.labels.size());
    for (std::size_t i = 0; i < one.labels.size(); ++i) EXPECT_EQ(one.labels[i].box, two.labels[i].box);
}

TEST(VectorRender, NamesInOtherScriptsAreDrawn) {
    const QColor background = omt().background(style_zoom(kCell.zoom));
    for (const char* name : {"Москва", "Αθήνα", "القاهرة", "ירושלים"}) {
        TileBuilder b;
        b.point("place", {2048, 2048}, {{"name", text_value(name)}, {"class", text_value("city")}, {"rank", int_value(1)}});
        RenderInfo info;
        const QImage image = render_cell(kCell, b.tile(), kCell, omt(), 1, &info);
        ASSERT_EQ(info.labels.size(), 1u) << name;
        const QRect box = info.labels[0].box.toRect();
        int ink = 0;
        for (int y = box.top(); y <= box.bottom(); ++y)
            for (int x = box.left(); x <= box.right(); ++x) ink += !near(image.pixel(x, y), background, 30);
        EXPECT_GT(ink, 20) << name;
    }
}

TEST(VectorRender, DegenerateGeometryAndFarCoordinatesAreDrawnWithoutHarm) {
    TileBuilder b;
    b.layer("water").features.push_back({});  // no geometry at all
    mvt::Feature empty_rings;
    empty_rings.type = mvt::GeomType::Polygon;
    empty_rings.parts = {{}, {{5, 5}}, {{1, 1}, {2, 2}}};
    b.layer("water").features.push_back(empty_rings);
    constexpr std::int32_t kFar = 2'000'000'000;
    b.polygon("water", {{{-kFar, -kFar}, {kFar, -kFar}, {kFar, kFar}, {-kFar, kFar}}}, {{"class", text_value("lake")}});
    b.line("transportation", {{-kFar, 2048}, {kFar, 2048}}, {{"class", text_value("primary")}});
    b.line("transportation", {{100, 100}}, {{"class", text_value("primary")}});
    b.point("place", {kFar, kFar}, {{"name", text_value("Far")}, {"class", text_value("city")}});
    const QColor water = style_colour(Style::LayerType::Fill, b.tile(), "water", style_zoom(20));
    for (const TileId& cell : {kCell, TileId{20, kCell.x * 64 + 63, kCell.y * 64}}) {
        RenderInfo info;
        const QImage image = render_cell(cell, b.tile(), kCell, omt(), 1, &info);
        EXPECT_TRUE(near(image.pixel(10, 10), water)) << cell.zoom;
        EXPECT_TRUE(info.labels.empty());
    }
}

TEST(VectorRender, CellsDrawnOnSeveralThreadsAtOnceAreTheSame) {
    const mvt::Tile city = test::city_tile();
    const QImage expected = render_cell(kCell, city, kCell, omt(), 1);
    QImage drawn[2];
    std::thread a([&] { drawn[0] = render_cell(kCell, city, kCell, omt(), 1); });
    std::thread b([&] { drawn[1] = render_cell(kCell, city, kCell, omt(), 1); });
    a.join();
    b.join();
    EXPECT_EQ(drawn[0], expected);
    EXPECT_EQ(drawn[1], expected);
}

}  // namespace
}  // namespace vg::vmap
