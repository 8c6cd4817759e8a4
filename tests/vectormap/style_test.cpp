// Map styles: expressions and legacy forms evaluated against hand-made features, colours, what is
// reported as unsupported, hostile documents, and the built-in styles.
#include "vectormap/style.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace vg::vmap {
namespace {

mvt::Value text(const std::string& s) {
    mvt::Value v;
    v.string = s;
    return v;
}

mvt::Value integer(std::int64_t i) {
    mvt::Value v;
    v.kind = mvt::Value::Kind::Int;
    v.int_value = i;
    return v;
}

// A tile layer whose features are given as property lists.
struct Features {
    mvt::Layer layer;

    explicit Features(std::string name) {
        layer.name = std::move(name);
        layer.features.reserve(8);  // add() hands out references
    }

    const mvt::Feature& add(mvt::GeomType type, const std::vector<std::pair<std::string, mvt::Value>>& props) {
        mvt::Feature f;
        f.type = type;
        for (const auto& [key, value] : props) {
            f.tags.push_back(static_cast<std::uint32_t>(layer.keys.size()));
            f.tags.push_back(static_cast<std::uint32_t>(layer.values.size()));
            layer.keys.push_back(key);
            layer.values.push_back(value);
        }
        EXPECT_LT(layer.features.size(), layer.features.capacity());
        layer.features.push_back(std::move(f));
        return layer.features.back();
    }
};

Style parse_ok(const std::string& json) {
    std::string error;
    auto style = Style::parse(json, error);
    EXPECT_TRUE(style) << error;
    return style ? std::move(*style) : *Style::parse(R"({"layers":[]})", error);
}

const Style::Layer& find(const Style& s, const std::string& id) {
    for (const auto& l : s.layers()) {
        if (l.id == id) return l;
    }
    ADD_FAILURE() << "no layer " << id;
    return s.layers().front();
}

TEST(StyleExpressions, EvaluateAgainstFeatures) {
    const Style s = parse_ok(R"js({"layers":[
      {"id":"roads","type":"line","source-layer":"transportation",
       "filter":["all",["==","$type","LineString"],["in","class","motorway","primary"],["!has","tunnel"]],
       "paint":{"line-color":["match",["get","class"],"motorway","#ff0000",["primary","trunk"],"#00ff00","#0000ff"],
                "line-width":["interpolate",["exponential",2],["zoom"],10,1,12,5],
                "line-gap-width":{"stops":[[10,1],[12,5]],"base":2},
                "line-dasharray":[2,1]}},
      {"id":"names","type":"symbol","source-layer":"transportation","minzoom":10,"maxzoom":16,
       "filter":["case",["has","name"],[">=",["to-number",["get","rank"]],3],false],
       "layout":{"text-field":["coalesce",["get","name:latin"],["get","name"]],
                 "text-size":["step",["zoom"],10,12,14],"text-transform":"uppercase",
                 "symbol-placement":"line"}},
      {"id":"refs","type":"symbol","source-layer":"transportation",
       "layout":{"text-field":"{name} ({ref})",
                 "text-size":{"property":"class","type":"categorical","stops":[["motorway",20]],"default":9}}}]})js");
    ASSERT_TRUE(s.unsupported().empty()) << s.unsupported().front();
    Features t("transportation");
    const auto& motorway = t.add(mvt::GeomType::LineString, {{"class", text("motorway")}, {"name", text("A1")},
                                                            {"rank", text("4")}, {"ref", integer(7)}});
    const auto& primary = t.add(mvt::GeomType::LineString, {{"class", text("primary")}, {"name", text("Rue")},
                                                           {"name:latin", text("Rue Latine")}, {"rank", integer(2)}});
    const auto& tunnel = t.add(mvt::GeomType::LineString, {{"class", text("motorway")}, {"tunnel", integer(1)}});
    const auto& area = t.add(mvt::GeomType::Polygon, {{"class", text("motorway")}});
    auto at = [&](const mvt::Feature& f, double zoom) { return FeatureContext{zoom, &t.layer, &f}; };

    const auto& roads = find(s, "roads");
    EXPECT_TRUE(s.matches(roads, at(motorway, 11)));
    EXPECT_TRUE(s.matches(roads, at(primary, 11)));
    EXPECT_FALSE(s.matches(roads, at(tunnel, 11)));  // !has
    EXPECT_FALSE(s.matches(roads, at(area, 11)));    // $type
    Features other("water");
    EXPECT_FALSE(s.matches(roads, FeatureContext{11, &other.layer, &motorway}));  // source-layer

    const LinePaint m = s.line(roads, at(motorway, 11));
    EXPECT_EQ(m.color, QColor(255, 0, 0));
    EXPECT_DOUBLE_EQ(m.width, 1 + 4.0 / 3);  // (2^1 - 1) / (2^2 - 1) of the way
    EXPECT_DOUBLE_EQ(m.gap_width, m.width);  // the legacy stops read the same
    EXPECT_EQ(m.dash, (std::vector<double>{2, 1}));
    EXPECT_EQ(s.line(roads, at(primary, 9)).color, QColor(0, 255, 0));
    EXPECT_DOUBLE_EQ(s.line(roads, at(primary, 9)).width, 1);
    EXPECT_DOUBLE_EQ(s.line(roads, at(primary, 13)).width, 5);

    const auto& names = find(s, "names");
    EXPECT_TRUE(s.shown_at(names, 10));
    EXPECT_FALSE(s.shown_at(names, 16));
    EXPECT_TRUE(s.matches(names, at(motorway, 12)));   // "4" read as a number
    EXPECT_FALSE(s.matches(names, at(primary, 12)));   // rank 2
    EXPECT_FALSE(s.matches(names, at(tunnel, 12)));    // no name: the fallback
    const TextPaint a1 = s.text(names, at(motorway, 11.9));
    EXPECT_EQ(a1.text, QStringLiteral("A1"));
    EXPECT_DOUBLE_EQ(a1.size, 10);
    EXPECT_TRUE(a1.along_line);
    EXPECT_EQ(s.text(names, at(primary, 12)).text, QStringLiteral("RUE LATINE"));
    EXPECT_DOUBLE_EQ(s.text(names, at(primary, 12)).size, 14);

    const auto& refs = find(s, "refs");
    EXPECT_EQ(s.text(refs, at(motorway, 12)).text, QStringLiteral("A1 (7)"));
    EXPECT_EQ(s.text(refs, at(area, 12)).text, QStringLiteral(" ()"));
    EXPECT_DOUBLE_EQ(s.text(refs, at(motorway, 12)).size, 20);
    EXPECT_DOUBLE_EQ(s.text(refs, at(primary, 12)).size, 9);
}

TEST(StyleExpressions, ColoursAndTheirInterpolation) {
    const std::pair<const char*, QColor> cases[] = {
        {"#f00", QColor(255, 0, 0)},
        {"#FF000080", QColor(255, 0, 0, 128)},
        {"#12345678", QColor(0x12, 0x34, 0x56, 0x78)},
        {"rgb(0, 128, 255)", QColor(0, 128, 255)},
        {"rgba(255,0,0,0.5)", QColor::fromRgbF(1, 0, 0, 0.5)},
        {"hsl(120, 100%, 50%)", QColor(0, 255, 0)},
        {"hsla(240,100%,50%,0.25)", QColor::fromRgbF(0, 0, 1, 0.25)},
        {"SteelBlue", QColor(70, 130, 180)},
        {"not-a-colour", QColor(Qt::black)},  // the default
        {"#12", QColor(Qt::black)},
        {"rgb(1,2)", QColor(Qt::black)},
    };
    for (const auto& [css, want] : cases) {
        const std::string json = std::string(R"({"layers":[{"id":"a","type":"fill","source-layer":"x","paint":{"fill-color":")") +
                                 css + R"("}}]})";
        const Style s = parse_ok(json);
        EXPECT_EQ(s.fill(s.layers()[0], FeatureContext{}).color.rgba64(), want.rgba64()) << css;
    }
    const Style s = parse_ok(R"({"layers":[{"id":"bg","type":"background","paint":{
        "background-color":["interpolate",["linear"],["zoom"],0,"#000000",10,"#ffffff"],
        "background-opacity":0.5}}]})");
    const QColor mid = s.background(5);
    EXPECT_NEAR(mid.redF(), 0.5, 0.01);
    EXPECT_NEAR(mid.alphaF(), 0.5, 0.01);
}

TEST(StyleParse, ReportsWhatItSkipsOnce) {
    const Style s = parse_ok(R"({"layers":[
      {"id":"r","type":"raster","source":"x"},
      {"id":"f","type":"fill","source-layer":"w","paint":{"fill-pattern":"p","fill-color":["let","a",1,["var","a"]]}},
      {"id":"g","type":"fill","source-layer":"w","filter":["let","a",1,true],"paint":{"fill-pattern":"q"}},
      {"id":"i","type":"symbol","source-layer":"p","layout":{"icon-image":"dot","text-field":"{name}"}},
      {"id":"e","type":"fill-extrusion"}]})");
    // Properties are met in name order (fill-color before fill-pattern).
    EXPECT_EQ(s.unsupported(), (std::vector<std::string>{"raster", "let", "fill-pattern", "icon-image", "fill-extrusion"}));
    ASSERT_EQ(s.layers().size(), 3u);
    Features w("w");
    const auto& f = w.add(mvt::GeomType::Polygon, {});
    EXPECT_TRUE(s.matches(s.layers()[0], FeatureContext{1, &w.layer, &f}));
    EXPECT_FALSE(s.matches(s.layers()[1], FeatureContext{1, &w.layer, &f}));  // its filter cannot be read
    EXPECT_EQ(s.fill(s.layers()[0], FeatureContext{}).color, QColor(Qt::black));  // the default
}

TEST(StyleParse, HostileDocumentsHaveDefinedOutcomes) {
    std::string error;
    EXPECT_FALSE(Style::parse("{\"layers\":[", error));
    EXPECT_NE(error.find("not JSON"), std::string::npos);
    EXPECT_FALSE(Style::parse(R"({"layers":{}})", error));
    EXPECT_FALSE(Style::parse("[1,2]", error));

    std::string deep = "true";
    for (int i = 0; i < 500; ++i) deep = "[\"!\"," + deep + "]";
    const Style nested = parse_ok(R"({"layers":[{"id":"d","type":"line","source-layer":"x","filter":)" + deep +
                                  R"(,"paint":{"line-width":"wide","line-color":7,"line-opacity":-3,
                                  "line-gap-width":1e300,"line-dasharray":[1,"a"],"line-cap":["get","cap"]}}]})");
    ASSERT_EQ(nested.unsupported().size(), 1u);
    EXPECT_NE(nested.unsupported()[0].find("nested"), std::string::npos);
    Features x("x");
    const auto& f = x.add(mvt::GeomType::LineString, {{"cap", integer(3)}});
    const FeatureContext ctx{3, &x.layer, &f};
    EXPECT_FALSE(nested.matches(nested.layers()[0], ctx));
    const LinePaint p = nested.line(nested.layers()[0], ctx);
    EXPECT_EQ(p.width, 1);
    EXPECT_EQ(p.color.alpha(), 0);  // black at opacity 0 (clamped)
    EXPECT_EQ(p.gap_width, 256);
    EXPECT_TRUE(p.dash.empty());
    EXPECT_EQ(p.cap, Qt::FlatCap);

    // A layer index that is not the style's own gives defaults, not a read past the end.
    Style::Layer stranger;
    stranger.index = 99;
    EXPECT_FALSE(nested.matches(stranger, ctx));
    EXPECT_EQ(nested.line(stranger, ctx).width, 1);
}

TEST(StyleBuiltin, FourStylesParseWhole) {
    for (const Schema schema : {Schema::OpenMapTiles, Schema::Protomaps}) {
        for (const bool night : {false, true}) {
            const Style& s = Style::builtin(schema, night);
            EXPECT_TRUE(s.unsupported().empty()) << s.name() << ": " << s.unsupported().front();
            EXPECT_GE(s.layers().size(), 40u) << s.name();
            EXPECT_LE(s.layers().size(), 80u) << s.name();
            EXPECT_EQ(s.background(12).lightness() < 100, night) << s.name();
        }
    }
    EXPECT_EQ(detect_schema({"water", "transportation", "place"}), Schema::OpenMapTiles);
    EXPECT_EQ(detect_schema({"earth", "water", "roads", "places"}), Schema::Protomaps);
    EXPECT_EQ(detect_schema({}), Schema::OpenMapTiles);
}

TEST(StyleBuiltin, DrawsRoadsAndLabelsByClass) {
    const Style& s = Style::builtin(Schema::OpenMapTiles, false);
    Features t("transportation");
    const auto& motorway = t.add(mvt::GeomType::LineString, {{"class", text("motorway")}});
    Features p("place");
    const auto& city = p.add(mvt::GeomType::Point, {{"class", text("city")}, {"name", text("Oulu")}});
    const auto& village = p.add(mvt::GeomType::Point, {{"class", text("village")}, {"name", text("Kempele")}});
    const auto& casing = find(s, "road-motorway-casing");
    const auto& road = find(s, "road-motorway");
    EXPECT_LT(casing.index, road.index);
    EXPECT_TRUE(s.matches(road, FeatureContext{14, &t.layer, &motorway}));
    EXPECT_GT(s.line(casing, FeatureContext{14, &t.layer, &motorway}).width,
              s.line(road, FeatureContext{14, &t.layer, &motorway}).width);
    EXPECT_GT(s.line(road, FeatureContext{16, &t.layer, &motorway}).width,
              s.line(road, FeatureContext{12, &t.layer, &motorway}).width);
    const TextPaint c = s.text(find(s, "place-city"), FeatureContext{12, &p.layer, &city});
    const TextPaint v = s.text(find(s, "place-village"), FeatureContext{12, &p.layer, &village});
    EXPECT_EQ(c.text, QStringLiteral("Oulu"));
    EXPECT_GT(c.size, v.size);
    EXPECT_TRUE(c.bold);
    EXPECT_FALSE(s.shown_at(find(s, "housenumber"), 16.5));
    EXPECT_TRUE(s.shown_at(find(s, "housenumber"), 17));
}

}  // namespace
}  // namespace vg::vmap
