// Map styles for vector tiles: a documented subset of the MapLibre style format (README, "Vector map
// styles"), read with Qt's JSON. Layers of type background, fill, line, symbol (text) and circle;
// legacy filters and functions and the common expressions (get has zoom geometry-type id literal, ==
// != < <= > >= ! all any in, match case coalesce, interpolate linear/exponential, step, to-string
// to-number to-boolean to-color concat format downcase upcase + - * / min max), compiled once when
// the style is read, so that evaluating them per feature does no JSON work. A property, layer type or
// operator outside the subset is reported once by name (unsupported()) and skipped: the property keeps
// its default, and a filter that cannot be evaluated hides the feature. Expressions nest at most 32
// deep; numbers that size or widen something are clamped (a line is at most 256 pixels wide).
// Built in: a day and a night style for the OpenMapTiles schema and for the Protomaps basemap schema.
// A Style is immutable after parse/builtin: const methods may be called from any thread at once.
// text-font is resolved against QFontDatabase while parsing, when a QGuiApplication exists.
#pragma once

#include <QColor>
#include <QString>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tiles/mvt.h"

namespace vg::vmap {

// The schemas of the public vector tile sets the built-in styles are written for.
enum class Schema { OpenMapTiles, Protomaps };

// The schema whose layers a tile set has (from its layer names: "transportation", "water", "place"…
// for OpenMapTiles; "roads", "earth", "places"… for Protomaps); OpenMapTiles when neither matches.
Schema detect_schema(const std::vector<std::string>& layer_names);

// What a style sees of one feature while it is drawn at a zoom (fractional between web zooms).
struct FeatureContext {
    double zoom = 0;
    const mvt::Layer* layer = nullptr;
    const mvt::Feature* feature = nullptr;
};

struct FillPaint {
    QColor color;           // with fill-opacity applied to its alpha
    std::optional<QColor> outline;
};
struct LinePaint {
    QColor color;           // with line-opacity applied
    double width = 1;       // in CSS pixels (device pixels = width × device scale)
    double gap_width = 0;
    std::vector<double> dash;  // in line widths, empty for a solid line
    Qt::PenCapStyle cap = Qt::FlatCap;
    Qt::PenJoinStyle join = Qt::MiterJoin;
};
struct TextPaint {
    QString text;           // text-field resolved ({name} tokens and expressions), transform applied
    double size = 16;       // CSS pixels
    QColor color;
    QColor halo;
    double halo_width = 0;
    bool along_line = false;  // symbol-placement line / line-center
    double max_width_em = 10;
    double padding = 2;
    QString font_family;    // first family of text-font that the system has, else empty (default)
    bool bold = false;
    bool italic = false;
};
struct CirclePaint {
    double radius = 5;
    QColor color;
    QColor stroke;
    double stroke_width = 0;
};

class Style {
public:
    enum class LayerType { Background, Fill, Line, Symbol, Circle };
    struct Layer {
        std::string id;
        LayerType type = LayerType::Background;
        std::string source_layer;
        double minzoom = 0;
        double maxzoom = 24;
        bool visible = true;  // layout visibility
        int index = 0;        // position in the style, drawing order
    };

    // Reads a style document. Nullopt with `error` when it is not a style at all (not JSON, no
    // layers array); anything else outside the subset goes to unsupported().
    static std::optional<Style> parse(std::string_view json, std::string& error);
    static const Style& builtin(Schema schema, bool night);

    Style(Style&&) noexcept;
    Style& operator=(Style&&) noexcept;
    ~Style();

    const std::string& name() const;
    const std::vector<Layer>& layers() const;
    // Names of the properties, layer types and expression operators the style used and this program
    // does not support, each once, in the order first met (the first 100).
    const std::vector<std::string>& unsupported() const;

    // True when `layer` is drawn at `zoom` (visibility, minzoom ≤ zoom < maxzoom).
    bool shown_at(const Layer& layer, double zoom) const;
    // True when the feature passes the layer's filter (and the layer's source-layer is its layer).
    bool matches(const Layer& layer, const FeatureContext& ctx) const;

    // The first background layer shown at `zoom` (opacity applied); transparent when there is none.
    QColor background(double zoom) const;
    FillPaint fill(const Layer& layer, const FeatureContext& ctx) const;
    LinePaint line(const Layer& layer, const FeatureContext& ctx) const;
    TextPaint text(const Layer& layer, const FeatureContext& ctx) const;
    CirclePaint circle(const Layer& layer, const FeatureContext& ctx) const;

    struct Data;

private:
    explicit Style(std::unique_ptr<Data> data);
    std::unique_ptr<Data> d_;
};

}  // namespace vg::vmap
