// Style expressions, compiled once from JSON into a small tree and evaluated per feature without any
// JSON work. Used by style.cpp only. Compiling never fails: an operator outside the supported set is
// reported through the Compiler's unsupported list (once per name) and becomes a node that yields no
// value (Null); nesting deeper than kMaxDepth is cut off the same way, so a hostile document cannot
// exhaust the stack. A compiled Expr is immutable: evaluating it from several threads at once is safe.
#pragma once

#include <QColor>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "vectormap/style.h"

namespace vg::vmap::expr {

struct Val;
using Array = std::shared_ptr<const std::vector<Val>>;

// A value while evaluating: nothing, boolean, number, string, colour or array (literal arrays only).
struct Val {
    std::variant<std::monostate, bool, double, std::string, QColor, Array> v;

    bool is_null() const { return v.index() == 0; }
    const bool* boolean() const { return std::get_if<bool>(&v); }
    const double* number() const { return std::get_if<double>(&v); }
    const std::string* string() const { return std::get_if<std::string>(&v); }
    const QColor* color() const { return std::get_if<QColor>(&v); }
    const std::vector<Val>* array() const {
        const Array* a = std::get_if<Array>(&v);
        return a ? a->get() : nullptr;
    }
};

bool operator==(const Val& a, const Val& b);

// CSS colours: #rgb, #rgba, #rrggbb, #rrggbbaa, rgb(), rgba(), hsl(), hsla() and the CSS colour names.
std::optional<QColor> parse_color(std::string_view text);

// What a property expects, so that literals are read as that type when compiled ("#fff" as a colour)
// and legacy functions pick their default interpolation.
enum class Hint { Any, Color, Number, String, Bool, NumberArray, StringArray };

enum class Op : std::uint8_t {
    Literal, Get, Has, Zoom, GeometryType, Id,
    Eq, Ne, Lt, Le, Gt, Ge, Not, All, Any, InList, InExpr,
    Match, Case, Coalesce, Interpolate, Step,
    ToString, ToNumber, ToBoolean, ToColor, Concat, Downcase, Upcase,
    Add, Sub, Mul, Div, Min, Max,
};

struct Expr {
    Op op = Op::Literal;
    bool depends_on_feature = false;
    bool depends_on_zoom = false;
    Val value;                   // Literal's value; Get/Has: the key
    double base = 1;             // Interpolate: exponential base (1 = linear)
    std::vector<Expr> args;      // operands; Match/Interpolate/Step: input first, then outputs
    std::vector<Val> labels;     // Match labels, InList's set; Interpolate/Step: stop inputs as numbers
    std::vector<std::uint32_t> arms;  // Match: the output (index into args) of each label

    bool constant() const { return !depends_on_feature && !depends_on_zoom; }
};

// Collects the names outside the supported set, each once, in the order first met.
class Compiler {
public:
    explicit Compiler(std::vector<std::string>& unsupported) : unsupported_(unsupported) {}

    static constexpr int kMaxDepth = 32;

    // An expression, a legacy function ({"stops": …}) or a plain value.
    Expr compile(const QJsonValue& json, Hint hint);
    // A layer filter: legacy form or expression form.
    Expr compile_filter(const QJsonValue& json);
    // text-field: a string with {key} tokens, or an expression.
    Expr compile_text_field(const QJsonValue& json);

    void report(const std::string& name);

private:
    Expr value(const QJsonValue& json, Hint hint, int depth);
    Expr expression(const QJsonArray& array, Hint hint, int depth);
    Expr function(const QJsonObject& object, Hint hint, int depth);
    Expr filter(const QJsonValue& json, int depth);
    Expr legacy_filter(const QJsonArray& array, int depth);

    std::vector<std::string>& unsupported_;
};

Val evaluate(const Expr& e, const FeatureContext& ctx);

// Conversions used when a property reads a value.
std::string to_text(const Val& v);
std::optional<QColor> to_color(const Val& v);

}  // namespace vg::vmap::expr
