// Compiling style expressions (and the legacy filter and function forms) into trees, and evaluating
// them against a feature.
#include "vectormap/style_expression.h"

#include <QString>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

namespace vg::vmap::expr {

namespace {

constexpr const char* kTooDeep = "expressions nested deeper than 32";

Expr literal(Val v) {
    Expr e;
    e.value = std::move(v);
    return e;
}

Expr node(Op op, std::vector<Expr> args = {}) {
    Expr e;
    e.op = op;
    e.args = std::move(args);
    for (const auto& a : e.args) {
        e.depends_on_feature = e.depends_on_feature || a.depends_on_feature;
        e.depends_on_zoom = e.depends_on_zoom || a.depends_on_zoom;
    }
    return e;
}

Expr get(const std::string& key) {
    Expr e = node(Op::Get);
    e.value.v = key;
    e.depends_on_feature = true;
    return e;
}

// A node whose operands are all constant is replaced by its value.
Expr folded(Expr e) {
    if (e.op == Op::Literal || !e.constant()) return e;
    return literal(evaluate(e, FeatureContext{}));
}

// A JSON value as a literal: arrays become arrays, objects have no value here.
Val json_value(const QJsonValue& json, Hint hint, int depth) {
    switch (json.type()) {
    case QJsonValue::Bool: return Val{json.toBool()};
    case QJsonValue::Double: return Val{json.toDouble()};
    case QJsonValue::String: {
        std::string s = json.toString().toStdString();
        if (hint == Hint::Color) {
            if (auto c = parse_color(s)) return Val{*c};
        }
        return Val{std::move(s)};
    }
    case QJsonValue::Array: {
        if (depth > Compiler::kMaxDepth) return Val{};
        auto out = std::make_shared<std::vector<Val>>();
        const QJsonArray a = json.toArray();
        out->reserve(static_cast<std::size_t>(a.size()));
        for (const auto& x : a) out->push_back(json_value(x, Hint::Any, depth + 1));
        return Val{Array(std::move(out))};
    }
    default: return Val{};
    }
}

bool is_label(const QJsonValue& v) { return v.isString() || v.isDouble() || v.isBool(); }

// The operators of the full style language that this program does not evaluate: an array starting
// with one of them is an expression (reported), not a literal array.
bool is_other_operator(const std::string& op) {
    static const char* const kOthers[] = {
        "let", "var", "at", "index-of", "slice", "length", "image", "number-format", "feature-state",
        "properties", "accumulated", "line-progress", "heatmap-density", "within", "distance",
        "is-supported-script", "resolved-locale", "collator", "to-rgba", "rgb", "rgba", "typeof", "number",
        "string", "boolean", "object", "array", "^", "%", "sqrt", "log10", "ln", "log2", "sin", "cos", "tan",
        "asin", "acos", "atan", "abs", "ceil", "floor", "round", "e", "pi", "ln2", "interpolate-hcl",
        "interpolate-lab", "global-state", "config", "elevation", "pitch", "distance-from-center",
        "split", "join"};
    return std::any_of(std::begin(kOthers), std::end(kOthers), [&](const char* o) { return op == o; });
}

bool is_supported_operator(const std::string& op) {
    static const char* const kOps[] = {
        "literal", "get", "has", "zoom", "geometry-type", "id", "==", "!=", "<", "<=", ">", ">=", "!",
        "all", "any", "in", "match", "case", "coalesce", "interpolate", "step", "to-string", "to-number",
        "to-boolean", "to-color", "concat", "downcase", "upcase", "format", "+", "-", "*", "/", "min", "max"};
    return std::any_of(std::begin(kOps), std::end(kOps), [&](const char* o) { return op == o; });
}

// The legacy filter forms, told from expressions as the style language tells them.
bool is_expression_filter(const QJsonValue& json, int depth) {
    if (!json.isArray()) return true;
    const QJsonArray a = json.toArray();
    if (a.isEmpty() || !a[0].isString() || depth > Compiler::kMaxDepth) return true;
    const QString op = a[0].toString();
    const auto n = a.size();
    if (op == QLatin1String("has")) {
        return n >= 2 && a[1].toString() != QLatin1String("$id") && a[1].toString() != QLatin1String("$type");
    }
    if (op == QLatin1String("in")) return n >= 3 && (!a[1].isString() || a[2].isArray());
    if (op == QLatin1String("!in") || op == QLatin1String("!has") || op == QLatin1String("none")) return false;
    if (op == QLatin1String("==") || op == QLatin1String("!=") || op == QLatin1String(">") ||
        op == QLatin1String(">=") || op == QLatin1String("<") || op == QLatin1String("<=")) {
        return n != 3 || a[1].isArray() || a[2].isArray();
    }
    if (op == QLatin1String("any") || op == QLatin1String("all")) {
        for (qsizetype i = 1; i < n; ++i) {
            if (!is_expression_filter(a[i], depth + 1) && !a[i].isBool()) return false;
        }
        return true;
    }
    return true;
}

// What a legacy filter's key reads: a property, or the geometry type or id.
Expr legacy_getter(const QJsonValue& key) {
    const std::string k = key.toString().toStdString();
    if (k == "$type") {
        Expr e = node(Op::GeometryType);
        e.depends_on_feature = true;
        return e;
    }
    if (k == "$id") {
        Expr e = node(Op::Id);
        e.depends_on_feature = true;
        return e;
    }
    return get(k);
}

}  // namespace

bool operator==(const Val& a, const Val& b) {
    if (a.v.index() != b.v.index()) return false;
    if (const auto* x = a.array()) {
        const auto* y = b.array();
        return x->size() == y->size() && std::equal(x->begin(), x->end(), y->begin());
    }
    if (const auto* c = a.color()) return c->rgba64() == b.color()->rgba64();
    return a.v == b.v;
}

void Compiler::report(const std::string& name) {
    if (std::find(unsupported_.begin(), unsupported_.end(), name) == unsupported_.end()) {
        unsupported_.push_back(name);
    }
}

Expr Compiler::compile(const QJsonValue& json, Hint hint) { return value(json, hint, 0); }

Expr Compiler::value(const QJsonValue& json, Hint hint, int depth) {
    if (depth > kMaxDepth) {
        report(kTooDeep);
        return {};
    }
    if (json.isObject()) return function(json.toObject(), hint, depth);
    if (json.isArray()) {
        const QJsonArray a = json.toArray();
        if (!a.isEmpty() && a[0].isString()) {
            const std::string op = a[0].toString().toStdString();
            const bool literal_array = hint == Hint::StringArray || hint == Hint::NumberArray;
            if (!literal_array || is_supported_operator(op) || is_other_operator(op)) {
                return expression(a, hint, depth);
            }
        }
    }
    return literal(json_value(json, hint, depth));
}

Expr Compiler::expression(const QJsonArray& a, Hint hint, int depth) {
    const std::string op = a[0].toString().toStdString();
    const auto n = static_cast<std::size_t>(a.size());
    auto arg = [&](std::size_t i, Hint h) { return value(a[static_cast<qsizetype>(i)], h, depth + 1); };
    auto all_args = [&](Op o, Hint h) {
        std::vector<Expr> args;
        for (std::size_t i = 1; i < n; ++i) args.push_back(arg(i, h));
        return folded(node(o, std::move(args)));
    };
    auto bad = [&]() {
        report(op + " (malformed)");
        return Expr{};
    };

    if (op == "literal") return n == 2 ? literal(json_value(a[1], hint, depth + 1)) : bad();
    if (op == "get" || op == "has") {
        if (n != 2 || !a[1].isString()) return bad();
        Expr e = get(a[1].toString().toStdString());
        e.op = op == "get" ? Op::Get : Op::Has;
        return e;
    }
    if (op == "zoom" || op == "geometry-type" || op == "id") {
        Expr e = node(op == "zoom" ? Op::Zoom : op == "id" ? Op::Id : Op::GeometryType);
        (op == "zoom" ? e.depends_on_zoom : e.depends_on_feature) = true;
        return e;
    }
    static const std::pair<const char*, Op> kFixed[] = {
        {"==", Op::Eq}, {"!=", Op::Ne}, {"<", Op::Lt}, {"<=", Op::Le}, {">", Op::Gt}, {">=", Op::Ge},
        {"in", Op::InExpr}};
    for (const auto& [name, o] : kFixed) {
        if (op == name) {
            if (n != 3 && n != 4) return bad();  // a fourth operand (collator) is not read
            return folded(node(o, {arg(1, Hint::Any), arg(2, Hint::Any)}));
        }
    }
    if (op == "!") return n == 2 ? folded(node(Op::Not, {arg(1, Hint::Bool)})) : bad();
    if (op == "all") return all_args(Op::All, Hint::Bool);
    if (op == "any") return all_args(Op::Any, Hint::Bool);
    if (op == "coalesce") return all_args(Op::Coalesce, hint);
    if (op == "concat" || op == "format") {
        // format's option objects (font, scale per section) are not drawn: its texts are joined.
        std::vector<Expr> args;
        for (std::size_t i = 1; i < n; ++i) {
            if (!a[static_cast<qsizetype>(i)].isObject()) args.push_back(arg(i, Hint::String));
        }
        return folded(node(Op::Concat, std::move(args)));
    }
    static const std::pair<const char*, Op> kVariadic[] = {
        {"to-string", Op::ToString}, {"to-number", Op::ToNumber}, {"to-boolean", Op::ToBoolean},
        {"to-color", Op::ToColor}, {"downcase", Op::Downcase}, {"upcase", Op::Upcase}, {"+", Op::Add},
        {"-", Op::Sub}, {"*", Op::Mul}, {"/", Op::Div}, {"min", Op::Min}, {"max", Op::Max}};
    for (const auto& [name, o] : kVariadic) {
        if (op == name) return n >= 2 ? all_args(o, Hint::Any) : bad();
    }
    if (op == "match") {
        if (n < 5 || n % 2 == 0) return bad();
        std::vector<Expr> args{arg(1, Hint::Any)};
        std::vector<Val> labels;
        std::vector<std::uint32_t> arms;
        for (std::size_t i = 2; i + 1 < n; i += 2) {
            const QJsonValue label = a[static_cast<qsizetype>(i)];
            const auto arm = static_cast<std::uint32_t>(args.size());
            const QJsonArray group = label.isArray() ? label.toArray() : QJsonArray{label};
            for (const auto& l : group) {
                if (!is_label(l)) return bad();
                labels.push_back(json_value(l, Hint::Any, depth));
                arms.push_back(arm);
            }
            args.push_back(arg(i + 1, hint));
        }
        args.push_back(arg(n - 1, hint));
        Expr m = node(Op::Match, std::move(args));
        m.labels = std::move(labels);
        m.arms = std::move(arms);
        return folded(std::move(m));
    }
    if (op == "case") {
        if (n < 4 || n % 2 != 0) return bad();
        std::vector<Expr> args;
        for (std::size_t i = 1; i < n; ++i) args.push_back(arg(i, (i % 2 == 1 && i + 1 < n) ? Hint::Bool : hint));
        return folded(node(Op::Case, std::move(args)));
    }
    if (op == "interpolate" || op == "step") {
        const bool step = op == "step";
        const std::size_t first = 3;  // the first stop (step: input and first output before it)
        if (step ? (n < 3 || n % 2 == 0) : (n < 5 || n % 2 == 0)) return bad();
        double base = 1;
        if (!step) {
            const QJsonArray kind = a[1].toArray();
            const QString k = kind.isEmpty() ? QString() : kind[0].toString();
            if (k == QLatin1String("exponential") && kind.size() == 2 && kind[1].isDouble()) {
                base = kind[1].toDouble();
            } else if (k == QLatin1String("cubic-bezier")) {
                report("cubic-bezier");  // drawn linear
            } else if (k != QLatin1String("linear")) {
                return bad();
            }
        }
        std::vector<Expr> args{arg(step ? 1 : 2, Hint::Number)};
        if (step) args.push_back(arg(2, hint));
        std::vector<Val> stops;
        for (std::size_t i = first; i + 1 < n; i += 2) {
            const QJsonValue stop = a[static_cast<qsizetype>(i)];
            if (!stop.isDouble() || (!stops.empty() && stop.toDouble() <= *stops.back().number())) return bad();
            stops.push_back(Val{stop.toDouble()});
            args.push_back(arg(i + 1, hint));
        }
        Expr e = node(step ? Op::Step : Op::Interpolate, std::move(args));
        e.labels = std::move(stops);
        e.base = base;
        return folded(std::move(e));
    }
    report(op);
    return {};
}

Expr Compiler::function(const QJsonObject& object, Hint hint, int depth) {
    const QJsonArray stops = object.value(QLatin1String("stops")).toArray();
    const QString property = object.value(QLatin1String("property")).toString();
    const bool interpolatable = hint == Hint::Color || hint == Hint::Number;
    const QString type = object.value(QLatin1String("type"))
                             .toString(interpolatable ? QStringLiteral("exponential") : QStringLiteral("interval"));
    Expr input = property.isEmpty() ? [] {
        Expr z = node(Op::Zoom);
        z.depends_on_zoom = true;
        return z;
    }()
                                     : get(property.toStdString());
    Expr fallback;
    if (object.contains(QLatin1String("default"))) fallback = value(object.value(QLatin1String("default")), hint, depth + 1);
    auto with_default = [&](Expr e) {
        if (fallback.value.is_null() && fallback.op == Op::Literal) return e;
        return folded(node(Op::Coalesce, {std::move(e), std::move(fallback)}));
    };
    if (type == QLatin1String("identity")) return with_default(std::move(input));

    std::vector<Expr> outputs;
    std::vector<Val> inputs;
    for (const auto& s : stops) {
        const QJsonArray pair = s.toArray();
        if (pair.size() != 2) {
            report("function stop (malformed)");
            return {};
        }
        if (pair[0].isObject()) {
            report("zoom-and-property function");
            return {};
        }
        inputs.push_back(json_value(pair[0], Hint::Any, depth + 1));
        outputs.push_back(value(pair[1], hint, depth + 1));
    }
    if (outputs.empty()) {
        report("function without stops");
        return {};
    }
    if (type == QLatin1String("categorical")) {
        Expr e = node(Op::Match, {std::move(input)});
        for (std::size_t i = 0; i < outputs.size(); ++i) {
            e.labels.push_back(inputs[i]);
            e.arms.push_back(static_cast<std::uint32_t>(i + 1));
        }
        for (auto& o : outputs) e.args.push_back(std::move(o));
        e.args.push_back(std::move(fallback));
        Expr m = node(Op::Match, std::move(e.args));
        m.labels = std::move(e.labels);
        m.arms = std::move(e.arms);
        return folded(std::move(m));
    }
    const bool exponential = type == QLatin1String("exponential");
    if (!exponential && type != QLatin1String("interval")) {
        report("function type " + type.toStdString());
        return {};
    }
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        if (!inputs[i].number() || (i > 0 && *inputs[i].number() <= *inputs[i - 1].number())) {
            report("function stop (malformed)");
            return {};
        }
    }
    std::vector<Expr> args{std::move(input)};
    for (auto& o : outputs) args.push_back(std::move(o));
    Expr e = node(exponential ? Op::Interpolate : Op::Step, std::move(args));
    e.base = object.value(QLatin1String("base")).toDouble(1);
    if (exponential) {
        e.labels = std::move(inputs);
    } else {
        // Below the first stop a legacy interval function takes the first stop's value.
        e.labels.assign(inputs.begin() + 1, inputs.end());
    }
    return with_default(folded(std::move(e)));
}

Expr Compiler::compile_filter(const QJsonValue& json) { return filter(json, 0); }

Expr Compiler::filter(const QJsonValue& json, int depth) {
    if (depth > kMaxDepth) {
        report(kTooDeep);
        return {};
    }
    if (json.isArray() && !is_expression_filter(json, depth)) return legacy_filter(json.toArray(), depth);
    return value(json, Hint::Bool, depth);
}

Expr Compiler::legacy_filter(const QJsonArray& a, int depth) {
    const std::string op = a[0].toString().toStdString();
    const auto n = a.size();
    if (op == "all" || op == "any" || op == "none") {
        std::vector<Expr> args;
        for (qsizetype i = 1; i < n; ++i) args.push_back(filter(a[i], depth + 1));
        Expr e = folded(node(op == "all" ? Op::All : Op::Any, std::move(args)));
        return op == "none" ? folded(node(Op::Not, {std::move(e)})) : e;
    }
    if ((op == "has" || op == "!has") && n == 2 && a[1].isString()) {
        Expr e;
        if (a[1].toString() == QLatin1String("$type")) {
            e = literal(Val{true});
        } else if (a[1].toString() == QLatin1String("$id")) {
            e = node(Op::Ne, {legacy_getter(a[1]), Expr{}});
        } else {
            e = get(a[1].toString().toStdString());
            e.op = Op::Has;
        }
        return op == "has" ? e : folded(node(Op::Not, {std::move(e)}));
    }
    if ((op == "in" || op == "!in") && n >= 2 && a[1].isString()) {
        Expr e = node(Op::InList, {legacy_getter(a[1])});
        for (qsizetype i = 2; i < n; ++i) e.labels.push_back(json_value(a[i], Hint::Any, depth + 1));
        return op == "in" ? e : node(Op::Not, {std::move(e)});
    }
    static const std::pair<const char*, Op> kCompare[] = {{"==", Op::Eq}, {"!=", Op::Ne}, {"<", Op::Lt},
                                                          {"<=", Op::Le}, {">", Op::Gt},  {">=", Op::Ge}};
    for (const auto& [name, o] : kCompare) {
        if (op == name && n == 3 && a[1].isString()) {
            return node(o, {legacy_getter(a[1]), literal(json_value(a[2], Hint::Any, depth + 1))});
        }
    }
    report(op + " (malformed filter)");
    return {};
}

Expr Compiler::compile_text_field(const QJsonValue& json) {
    if (!json.isString()) return compile(json, Hint::String);
    // "{name} {ele}": literal text and property values.
    const std::string s = json.toString().toStdString();
    std::vector<Expr> parts;
    std::size_t i = 0;
    while (i < s.size()) {
        const std::size_t open = s.find('{', i);
        const std::size_t close = open == std::string::npos ? open : s.find('}', open);
        if (close == std::string::npos) {
            parts.push_back(literal(Val{s.substr(i)}));
            break;
        }
        if (open > i) parts.push_back(literal(Val{s.substr(i, open - i)}));
        parts.push_back(get(s.substr(open + 1, close - open - 1)));
        i = close + 1;
    }
    if (parts.size() == 1 && parts[0].op == Op::Literal) return std::move(parts[0]);
    return folded(node(Op::Concat, std::move(parts)));
}

// ---- Evaluation ----

namespace {

const mvt::Value* property(const FeatureContext& ctx, std::string_view key) {
    return ctx.layer && ctx.feature ? ctx.layer->property(*ctx.feature, key) : nullptr;
}

Val from_mvt(const mvt::Value& v) {
    switch (v.kind) {
    case mvt::Value::Kind::String: return Val{v.string};
    case mvt::Value::Kind::Bool: return Val{v.bool_value};
    default: return Val{v.as_number().value_or(0)};
    }
}

std::optional<double> parse_number(const std::string& s) {
    double d = 0;
    const char* b = s.data();
    const char* e = b + s.size();
    while (b < e && *b == ' ') ++b;
    if (b < e && *b == '+') ++b;
    const auto [end, ec] = std::from_chars(b, e, d);
    if (ec != std::errc() || end != e) return std::nullopt;
    return d;
}

bool truthy(const Val& v) {
    if (const auto* b = v.boolean()) return *b;
    if (const auto* d = v.number()) return *d != 0 && !std::isnan(*d);
    if (const auto* s = v.string()) return !s->empty();
    return !v.is_null();
}

std::optional<int> order(const Val& a, const Val& b) {
    if (a.number() && b.number()) return *a.number() < *b.number() ? -1 : *a.number() > *b.number() ? 1 : 0;
    if (a.string() && b.string()) return a.string()->compare(*b.string()) < 0 ? -1 : (*a.string() == *b.string() ? 0 : 1);
    return std::nullopt;
}

Val lerp(const Val& a, const Val& b, double t) {
    if (a.number() && b.number()) return Val{*a.number() + (*b.number() - *a.number()) * t};
    if (a.color() && b.color()) {
        float ar, ag, ab, aa, br, bg, bb, ba;
        a.color()->getRgbF(&ar, &ag, &ab, &aa);
        b.color()->getRgbF(&br, &bg, &bb, &ba);
        const auto f = static_cast<float>(t);
        return Val{QColor::fromRgbF(ar + (br - ar) * f, ag + (bg - ag) * f, ab + (bb - ab) * f, aa + (ba - aa) * f)};
    }
    const auto* x = a.array();
    const auto* y = b.array();
    if (x && y && x->size() == y->size()) {
        auto out = std::make_shared<std::vector<Val>>();
        for (std::size_t i = 0; i < x->size(); ++i) {
            if (!(*x)[i].number() || !(*y)[i].number()) return a;
            out->push_back(lerp((*x)[i], (*y)[i], t));
        }
        return Val{Array(std::move(out))};
    }
    return a;  // not interpolatable: the lower stop's value
}

double fraction(double x, double lo, double hi, double base) {
    const double span = hi - lo;
    if (span <= 0) return 0;
    if (base == 1 || !(base > 0)) return (x - lo) / span;
    const double t = (std::pow(base, x - lo) - 1) / (std::pow(base, span) - 1);
    return std::isfinite(t) ? t : (x - lo) / span;
}

Val arithmetic(const Expr& e, const FeatureContext& ctx) {
    std::optional<double> acc;
    for (std::size_t i = 0; i < e.args.size(); ++i) {
        const Val v = evaluate(e.args[i], ctx);
        if (!v.number()) return {};
        const double x = *v.number();
        if (!acc) {
            acc = (e.op == Op::Sub && e.args.size() == 1) ? -x : x;
            continue;
        }
        switch (e.op) {
        case Op::Add: *acc += x; break;
        case Op::Sub: *acc -= x; break;
        case Op::Mul: *acc *= x; break;
        case Op::Div: *acc /= x; break;
        case Op::Min: *acc = std::min(*acc, x); break;
        default: *acc = std::max(*acc, x); break;
        }
    }
    return Val{*acc};
}

}  // namespace

std::string to_text(const Val& v) {
    if (const auto* s = v.string()) return *s;
    if (const auto* b = v.boolean()) return *b ? "true" : "false";
    if (const auto* d = v.number()) {
        char buf[32];
        const auto r = std::to_chars(buf, buf + sizeof buf, *d);
        return std::string(buf, r.ptr);
    }
    if (const auto* c = v.color()) {
        return "rgba(" + std::to_string(c->red()) + "," + std::to_string(c->green()) + "," +
               std::to_string(c->blue()) + "," + to_text(Val{static_cast<double>(c->alphaF())}) + ")";
    }
    if (const auto* a = v.array()) {
        std::string out = "[";
        for (std::size_t i = 0; i < a->size(); ++i) out += (i ? "," : "") + to_text((*a)[i]);
        return out + "]";
    }
    return {};
}

std::optional<QColor> to_color(const Val& v) {
    if (const auto* c = v.color()) return *c;
    if (const auto* s = v.string()) return parse_color(*s);
    return std::nullopt;
}

Val evaluate(const Expr& e, const FeatureContext& ctx) {
    const auto& args = e.args;
    switch (e.op) {
    case Op::Literal: return e.value;
    case Op::Get: {
        const mvt::Value* p = property(ctx, *e.value.string());
        return p ? from_mvt(*p) : Val{};
    }
    case Op::Has: return Val{property(ctx, *e.value.string()) != nullptr};
    case Op::Zoom: return Val{ctx.zoom};
    case Op::GeometryType: {
        if (!ctx.feature) return {};
        switch (ctx.feature->type) {
        case mvt::GeomType::Point: return Val{std::string("Point")};
        case mvt::GeomType::LineString: return Val{std::string("LineString")};
        case mvt::GeomType::Polygon: return Val{std::string("Polygon")};
        default: return Val{std::string("Unknown")};
        }
    }
    case Op::Id:
        return ctx.feature && ctx.feature->id ? Val{static_cast<double>(*ctx.feature->id)} : Val{};
    case Op::Eq: return Val{evaluate(args[0], ctx) == evaluate(args[1], ctx)};
    case Op::Ne: return Val{!(evaluate(args[0], ctx) == evaluate(args[1], ctx))};
    case Op::Lt:
    case Op::Le:
    case Op::Gt:
    case Op::Ge: {
        const auto o = order(evaluate(args[0], ctx), evaluate(args[1], ctx));
        if (!o) return {};
        const bool r = e.op == Op::Lt ? *o < 0 : e.op == Op::Le ? *o <= 0 : e.op == Op::Gt ? *o > 0 : *o >= 0;
        return Val{r};
    }
    case Op::Not: {
        const Val v = evaluate(args[0], ctx);
        return v.boolean() ? Val{!*v.boolean()} : Val{};
    }
    case Op::All:
    case Op::Any: {
        const bool want = e.op == Op::Any;
        for (const auto& a : args) {
            const Val v = evaluate(a, ctx);
            if (!v.boolean()) return {};
            if (*v.boolean() == want) return Val{want};
        }
        return Val{!want};
    }
    case Op::InList: {
        const Val v = evaluate(args[0], ctx);
        return Val{std::find(e.labels.begin(), e.labels.end(), v) != e.labels.end()};
    }
    case Op::InExpr: {
        const Val needle = evaluate(args[0], ctx);
        const Val hay = evaluate(args[1], ctx);
        if (const auto* a = hay.array()) return Val{std::find(a->begin(), a->end(), needle) != a->end()};
        if (const auto* s = hay.string()) {
            if (!needle.string() && !needle.number() && !needle.boolean()) return {};
            return Val{s->find(to_text(needle)) != std::string::npos};
        }
        return {};
    }
    case Op::Match: {
        const Val v = evaluate(args[0], ctx);
        for (std::size_t i = 0; i < e.labels.size(); ++i) {
            if (e.labels[i] == v) return evaluate(args[e.arms[i]], ctx);
        }
        return evaluate(args.back(), ctx);
    }
    case Op::Case: {
        for (std::size_t i = 0; i + 1 < args.size(); i += 2) {
            const Val c = evaluate(args[i], ctx);
            if (c.boolean() && *c.boolean()) return evaluate(args[i + 1], ctx);
        }
        return evaluate(args.back(), ctx);
    }
    case Op::Coalesce: {
        for (const auto& a : args) {
            Val v = evaluate(a, ctx);
            if (!v.is_null()) return v;
        }
        return {};
    }
    case Op::Interpolate: {
        const Val in = evaluate(args[0], ctx);
        if (!in.number() || std::isnan(*in.number())) return {};
        const double x = *in.number();
        const auto& s = e.labels;
        if (x <= *s.front().number()) return evaluate(args[1], ctx);
        if (x >= *s.back().number()) return evaluate(args.back(), ctx);
        std::size_t i = 1;
        while (x >= *s[i].number()) ++i;  // s[i-1] <= x < s[i]
        const double t = fraction(x, *s[i - 1].number(), *s[i].number(), e.base);
        return lerp(evaluate(args[i], ctx), evaluate(args[i + 1], ctx), t);
    }
    case Op::Step: {
        const Val in = evaluate(args[0], ctx);
        if (!in.number()) return {};
        std::size_t i = 0;
        while (i < e.labels.size() && *in.number() >= *e.labels[i].number()) ++i;
        return evaluate(args[1 + i], ctx);
    }
    case Op::ToString: return Val{to_text(evaluate(args[0], ctx))};
    case Op::ToNumber:
        for (const auto& a : args) {
            const Val v = evaluate(a, ctx);
            if (v.number()) return v;
            if (v.boolean()) return Val{*v.boolean() ? 1.0 : 0.0};
            if (v.is_null()) return Val{0.0};
            if (v.string()) {
                if (const auto d = parse_number(*v.string())) return Val{*d};
            }
        }
        return {};
    case Op::ToBoolean: return Val{truthy(evaluate(args[0], ctx))};
    case Op::ToColor:
        for (const auto& a : args) {
            if (const auto c = to_color(evaluate(a, ctx))) return Val{*c};
        }
        return {};
    case Op::Concat: {
        std::string out;
        for (const auto& a : args) out += to_text(evaluate(a, ctx));
        return Val{std::move(out)};
    }
    case Op::Downcase:
    case Op::Upcase: {
        const QString s = QString::fromStdString(to_text(evaluate(args[0], ctx)));
        return Val{(e.op == Op::Upcase ? s.toUpper() : s.toLower()).toStdString()};
    }
    case Op::Add:
    case Op::Sub:
    case Op::Mul:
    case Op::Div:
    case Op::Min:
    case Op::Max: return arithmetic(e, ctx);
    }
    return {};
}

}  // namespace vg::vmap::expr
