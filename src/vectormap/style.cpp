// Reading a style document into layers with compiled filters and properties, and resolving a
// layer's paint for one feature.
#include "vectormap/style.h"

#include <QCoreApplication>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <algorithm>
#include <array>
#include <cmath>

#include "vectormap/style_expression.h"

namespace vg::vmap {

namespace {

using expr::Expr;
using expr::Hint;
using expr::Val;
using LT = Style::LayerType;

enum class Prop {
    BackgroundColor, BackgroundOpacity,
    FillColor, FillOpacity, FillOutlineColor,
    LineColor, LineOpacity, LineWidth, LineGapWidth, LineDasharray, LineCap, LineJoin,
    TextField, TextSize, TextColor, TextOpacity, TextHaloColor, TextHaloWidth, SymbolPlacement,
    TextMaxWidth, TextPadding, TextFont, TextTransform,
    CircleRadius, CircleColor, CircleOpacity, CircleStrokeColor, CircleStrokeWidth, CircleStrokeOpacity,
    Count
};
constexpr std::size_t kProps = static_cast<std::size_t>(Prop::Count);

struct PropInfo {
    const char* name;
    Prop prop;
    LT type;
    Hint hint;
    double min = 0;  // numbers are clamped into [min, max], so no style asks for a huge pen
    double max = 0;
};

constexpr PropInfo kPropTable[] = {
    {"background-color", Prop::BackgroundColor, LT::Background, Hint::Color},
    {"background-opacity", Prop::BackgroundOpacity, LT::Background, Hint::Number, 0, 1},
    {"fill-color", Prop::FillColor, LT::Fill, Hint::Color},
    {"fill-opacity", Prop::FillOpacity, LT::Fill, Hint::Number, 0, 1},
    {"fill-outline-color", Prop::FillOutlineColor, LT::Fill, Hint::Color},
    {"line-color", Prop::LineColor, LT::Line, Hint::Color},
    {"line-opacity", Prop::LineOpacity, LT::Line, Hint::Number, 0, 1},
    {"line-width", Prop::LineWidth, LT::Line, Hint::Number, 0, 256},
    {"line-gap-width", Prop::LineGapWidth, LT::Line, Hint::Number, 0, 256},
    {"line-dasharray", Prop::LineDasharray, LT::Line, Hint::NumberArray},
    {"line-cap", Prop::LineCap, LT::Line, Hint::String},
    {"line-join", Prop::LineJoin, LT::Line, Hint::String},
    {"text-field", Prop::TextField, LT::Symbol, Hint::String},
    {"text-size", Prop::TextSize, LT::Symbol, Hint::Number, 0, 128},
    {"text-color", Prop::TextColor, LT::Symbol, Hint::Color},
    {"text-opacity", Prop::TextOpacity, LT::Symbol, Hint::Number, 0, 1},
    {"text-halo-color", Prop::TextHaloColor, LT::Symbol, Hint::Color},
    {"text-halo-width", Prop::TextHaloWidth, LT::Symbol, Hint::Number, 0, 16},
    {"symbol-placement", Prop::SymbolPlacement, LT::Symbol, Hint::String},
    {"text-max-width", Prop::TextMaxWidth, LT::Symbol, Hint::Number, 0, 100},
    {"text-padding", Prop::TextPadding, LT::Symbol, Hint::Number, 0, 100},
    {"text-font", Prop::TextFont, LT::Symbol, Hint::StringArray},
    {"text-transform", Prop::TextTransform, LT::Symbol, Hint::String},
    {"circle-radius", Prop::CircleRadius, LT::Circle, Hint::Number, 0, 256},
    {"circle-color", Prop::CircleColor, LT::Circle, Hint::Color},
    {"circle-opacity", Prop::CircleOpacity, LT::Circle, Hint::Number, 0, 1},
    {"circle-stroke-color", Prop::CircleStrokeColor, LT::Circle, Hint::Color},
    {"circle-stroke-width", Prop::CircleStrokeWidth, LT::Circle, Hint::Number, 0, 64},
    {"circle-stroke-opacity", Prop::CircleStrokeOpacity, LT::Circle, Hint::Number, 0, 1},
};

static_assert(std::size(kPropTable) == kProps, "one row per property, in order");

const PropInfo& info(Prop p) { return kPropTable[static_cast<std::size_t>(p)]; }

std::optional<LT> layer_type(const QString& t) {
    if (t == QLatin1String("background")) return LT::Background;
    if (t == QLatin1String("fill")) return LT::Fill;
    if (t == QLatin1String("line")) return LT::Line;
    if (t == QLatin1String("symbol")) return LT::Symbol;
    if (t == QLatin1String("circle")) return LT::Circle;
    return std::nullopt;
}

struct Font {
    QString family;
    bool bold = false;
    bool italic = false;
};

// "Noto Sans Bold Italic" → family "Noto Sans", bold, italic.
Font split_font(const QString& name) {
    static const char* const kBold[] = {"Bold", "Semibold", "SemiBold", "ExtraBold", "Black", "Heavy"};
    static const char* const kOther[] = {"Regular", "Medium", "Light", "Book", "Thin", "Italic", "Oblique"};
    Font f;
    QStringList words = name.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    while (words.size() > 1) {
        const QString& w = words.back();
        const bool bold = std::any_of(std::begin(kBold), std::end(kBold), [&](const char* b) { return w == QLatin1String(b); });
        const bool other = std::any_of(std::begin(kOther), std::end(kOther), [&](const char* b) { return w == QLatin1String(b); });
        if (!bold && !other) break;
        f.bold = f.bold || bold;
        f.italic = f.italic || w == QLatin1String("Italic") || w == QLatin1String("Oblique");
        words.removeLast();
    }
    f.family = words.join(QLatin1Char(' '));
    return f;
}

// The first of the fonts that the system has; without a GUI application (no font database) the
// family stays empty and only the weight and slant of the first are kept.
Font resolve_font(const Val& fonts) {
    Font first;
    const auto* list = fonts.array();
    if (!list) return first;
    const bool have_db = qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
    const QStringList families = have_db ? QFontDatabase::families() : QStringList();
    bool have_first = false;
    for (const auto& v : *list) {
        if (!v.string()) continue;
        Font f = split_font(QString::fromStdString(*v.string()));
        if (families.contains(f.family, Qt::CaseInsensitive)) return f;
        if (!have_first) {
            first = f;
            have_first = true;
        }
    }
    first.family.clear();
    return first;
}

}  // namespace

struct Style::Data {
    struct Rules {
        std::optional<Expr> filter;
        std::array<std::optional<Expr>, kProps> props;
        Font font;
    };
    std::string name;
    std::vector<Layer> layers;
    std::vector<Rules> rules;  // one per layer, same order
    std::vector<std::string> unsupported;

    const Rules* rules_of(const Layer& layer) const {
        const auto i = static_cast<std::size_t>(layer.index);
        return layer.index >= 0 && i < rules.size() ? &rules[i] : nullptr;
    }
};

namespace {

using Rules = Style::Data::Rules;

Val eval(const Rules& r, Prop p, const FeatureContext& ctx) {
    const auto& e = r.props[static_cast<std::size_t>(p)];
    if (!e) return {};
    return e->op == expr::Op::Literal ? e->value : expr::evaluate(*e, ctx);
}

double number(const Rules& r, Prop p, const FeatureContext& ctx, double fallback) {
    const Val v = eval(r, p, ctx);
    const double* d = v.number();
    if (!d || !std::isfinite(*d)) return fallback;
    return std::clamp(*d, info(p).min, info(p).max);
}

QColor color(const Rules& r, Prop p, const FeatureContext& ctx, QColor fallback) {
    return expr::to_color(eval(r, p, ctx)).value_or(fallback);
}

std::string text_of(const Rules& r, Prop p, const FeatureContext& ctx, const char* fallback) {
    const Val v = eval(r, p, ctx);
    return v.string() ? *v.string() : fallback;
}

QColor faded(QColor c, double opacity) {
    c.setAlphaF(static_cast<float>(c.alphaF() * opacity));
    return c;
}

}  // namespace

std::optional<Style> Style::parse(std::string_view json, std::string& error) {
    QJsonParseError pe;
    const QJsonDocument doc =
        QJsonDocument::fromJson(QByteArray(json.data(), static_cast<qsizetype>(json.size())), &pe);
    if (pe.error != QJsonParseError::NoError) {
        error = "not JSON: " + pe.errorString().toStdString() + " at offset " + std::to_string(pe.offset);
        return std::nullopt;
    }
    const QJsonObject root = doc.object();
    if (!doc.isObject() || !root.value(QLatin1String("layers")).isArray()) {
        error = "not a style: no layers array";
        return std::nullopt;
    }
    auto d = std::make_unique<Data>();
    d->name = root.value(QLatin1String("name")).toString().toStdString();
    expr::Compiler compiler(d->unsupported);
    for (const auto& lv : root.value(QLatin1String("layers")).toArray()) {
        const QJsonObject lo = lv.toObject();
        const QString type_name = lo.value(QLatin1String("type")).toString();
        const auto type = layer_type(type_name);
        if (!type) {
            compiler.report(type_name.isEmpty() ? std::string("layer without a type") : type_name.toStdString());
            continue;
        }
        Layer layer;
        layer.id = lo.value(QLatin1String("id")).toString().toStdString();
        layer.type = *type;
        layer.source_layer = lo.value(QLatin1String("source-layer")).toString().toStdString();
        layer.minzoom = std::clamp(lo.value(QLatin1String("minzoom")).toDouble(0), 0.0, 24.0);
        layer.maxzoom = std::clamp(lo.value(QLatin1String("maxzoom")).toDouble(24), 0.0, 24.0);
        layer.index = static_cast<int>(d->layers.size());
        Rules rules;
        if (lo.contains(QLatin1String("filter"))) rules.filter = compiler.compile_filter(lo.value(QLatin1String("filter")));
        for (const char* group : {"layout", "paint"}) {
            const QJsonObject props = lo.value(QLatin1String(group)).toObject();
            for (auto it = props.begin(); it != props.end(); ++it) {
                const std::string key = it.key().toStdString();
                if (key == "visibility") {
                    layer.visible = it.value().toString() != QLatin1String("none");
                    continue;
                }
                const auto pi = std::find_if(std::begin(kPropTable), std::end(kPropTable),
                                             [&](const PropInfo& p) { return key == p.name; });
                if (pi == std::end(kPropTable)) {
                    compiler.report(key);
                } else if (pi->type == *type) {
                    rules.props[static_cast<std::size_t>(pi->prop)] =
                        pi->prop == Prop::TextField ? compiler.compile_text_field(it.value())
                                                    : compiler.compile(it.value(), pi->hint);
                }
            }
        }
        if (const auto& font = rules.props[static_cast<std::size_t>(Prop::TextFont)]) {
            if (font->constant()) rules.font = resolve_font(expr::evaluate(*font, FeatureContext{}));
        }
        d->layers.push_back(std::move(layer));
        d->rules.push_back(std::move(rules));
    }
    return Style(std::move(d));
}

Style::Style(std::unique_ptr<Data> data) : d_(std::move(data)) {}
Style::Style(Style&&) noexcept = default;
Style& Style::operator=(Style&&) noexcept = default;
Style::~Style() = default;

const std::string& Style::name() const { return d_->name; }
const std::vector<Style::Layer>& Style::layers() const { return d_->layers; }
const std::vector<std::string>& Style::unsupported() const { return d_->unsupported; }

bool Style::shown_at(const Layer& layer, double zoom) const {
    return layer.visible && layer.minzoom <= zoom && zoom < layer.maxzoom;
}

bool Style::matches(const Layer& layer, const FeatureContext& ctx) const {
    const Rules* r = d_->rules_of(layer);
    if (!r || layer.type == LayerType::Background || !ctx.layer || !ctx.feature) return false;
    if (ctx.layer->name != layer.source_layer) return false;
    if (!r->filter) return true;
    const Val v = expr::evaluate(*r->filter, ctx);
    return v.boolean() && *v.boolean();
}

QColor Style::background(double zoom) const {
    for (const auto& layer : d_->layers) {
        if (layer.type != LayerType::Background || !shown_at(layer, zoom)) continue;
        const Rules& r = d_->rules[static_cast<std::size_t>(layer.index)];
        const FeatureContext ctx{zoom, nullptr, nullptr};
        return faded(color(r, Prop::BackgroundColor, ctx, Qt::black), number(r, Prop::BackgroundOpacity, ctx, 1));
    }
    return QColor(Qt::transparent);
}

FillPaint Style::fill(const Layer& layer, const FeatureContext& ctx) const {
    FillPaint p;
    const Rules* r = d_->rules_of(layer);
    if (!r) return p;
    const double opacity = number(*r, Prop::FillOpacity, ctx, 1);
    p.color = faded(color(*r, Prop::FillColor, ctx, Qt::black), opacity);
    if (r->props[static_cast<std::size_t>(Prop::FillOutlineColor)]) {
        if (const auto c = expr::to_color(eval(*r, Prop::FillOutlineColor, ctx))) p.outline = faded(*c, opacity);
    }
    return p;
}

LinePaint Style::line(const Layer& layer, const FeatureContext& ctx) const {
    LinePaint p;
    const Rules* r = d_->rules_of(layer);
    if (!r) return p;
    p.color = faded(color(*r, Prop::LineColor, ctx, Qt::black), number(*r, Prop::LineOpacity, ctx, 1));
    p.width = number(*r, Prop::LineWidth, ctx, 1);
    p.gap_width = number(*r, Prop::LineGapWidth, ctx, 0);
    const Val dash = eval(*r, Prop::LineDasharray, ctx);
    if (const auto* a = dash.array()) {
        double sum = 0;
        for (const auto& x : *a) {
            if (!x.number() || !std::isfinite(*x.number()) || *x.number() < 0 || *x.number() > 1000) {
                p.dash.clear();
                sum = 0;
                break;
            }
            p.dash.push_back(*x.number());
            sum += *x.number();
        }
        if (sum <= 0 || p.dash.size() < 2) p.dash.clear();
        if (p.dash.size() % 2 == 1) p.dash.push_back(p.dash.back());  // an odd list repeats as a whole
    }
    const std::string cap = text_of(*r, Prop::LineCap, ctx, "butt");
    p.cap = cap == "round" ? Qt::RoundCap : cap == "square" ? Qt::SquareCap : Qt::FlatCap;
    const std::string join = text_of(*r, Prop::LineJoin, ctx, "miter");
    p.join = join == "round" ? Qt::RoundJoin : join == "bevel" ? Qt::BevelJoin : Qt::MiterJoin;
    return p;
}

TextPaint Style::text(const Layer& layer, const FeatureContext& ctx) const {
    TextPaint p;
    const Rules* r = d_->rules_of(layer);
    if (!r) return p;
    QString text = QString::fromStdString(expr::to_text(eval(*r, Prop::TextField, ctx)));
    const std::string transform = text_of(*r, Prop::TextTransform, ctx, "none");
    if (transform == "uppercase") text = text.toUpper();
    if (transform == "lowercase") text = text.toLower();
    p.text = std::move(text);
    p.size = number(*r, Prop::TextSize, ctx, 16);
    const double opacity = number(*r, Prop::TextOpacity, ctx, 1);
    p.color = faded(color(*r, Prop::TextColor, ctx, Qt::black), opacity);
    p.halo = faded(color(*r, Prop::TextHaloColor, ctx, QColor(0, 0, 0, 0)), opacity);
    p.halo_width = number(*r, Prop::TextHaloWidth, ctx, 0);
    const std::string placement = text_of(*r, Prop::SymbolPlacement, ctx, "point");
    p.along_line = placement == "line" || placement == "line-center";
    p.max_width_em = number(*r, Prop::TextMaxWidth, ctx, 10);
    p.padding = number(*r, Prop::TextPadding, ctx, 2);
    p.font_family = r->font.family;
    p.bold = r->font.bold;
    p.italic = r->font.italic;
    return p;
}

CirclePaint Style::circle(const Layer& layer, const FeatureContext& ctx) const {
    CirclePaint p;
    const Rules* r = d_->rules_of(layer);
    if (!r) return p;
    p.radius = number(*r, Prop::CircleRadius, ctx, 5);
    const double opacity = number(*r, Prop::CircleOpacity, ctx, 1);
    p.color = faded(color(*r, Prop::CircleColor, ctx, Qt::black), opacity);
    p.stroke = faded(color(*r, Prop::CircleStrokeColor, ctx, Qt::black),
                     number(*r, Prop::CircleStrokeOpacity, ctx, 1));
    p.stroke_width = number(*r, Prop::CircleStrokeWidth, ctx, 0);
    return p;
}

}  // namespace vg::vmap
