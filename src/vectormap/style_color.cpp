// CSS colour strings as styles write them.
#include <QColor>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <string>

#include "vectormap/style_expression.h"

namespace vg::vmap::expr {

namespace {

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::optional<QColor> parse_hex(std::string_view h) {
    int d[8];
    if (h.size() != 3 && h.size() != 4 && h.size() != 6 && h.size() != 8) return std::nullopt;
    for (std::size_t i = 0; i < h.size(); ++i) {
        d[i] = hex_digit(h[i]);
        if (d[i] < 0) return std::nullopt;
    }
    if (h.size() <= 4) {
        const int a = h.size() == 4 ? d[3] * 17 : 255;
        return QColor(d[0] * 17, d[1] * 17, d[2] * 17, a);
    }
    const int a = h.size() == 8 ? d[6] * 16 + d[7] : 255;
    return QColor(d[0] * 16 + d[1], d[2] * 16 + d[3], d[4] * 16 + d[5], a);
}

// One number of a functional notation, with its unit: "50%", "120deg", "0.5".
struct Component {
    double value = 0;
    bool percent = false;
};

std::optional<std::vector<Component>> components(std::string_view body) {
    std::vector<Component> out;
    std::size_t i = 0;
    while (i < body.size()) {
        const char c = body[i];
        if (c == ' ' || c == ',' || c == '/' || c == '\t') {
            ++i;
            continue;
        }
        Component comp;
        const char* begin = body.data() + i;
        const auto [end, ec] = std::from_chars(begin, body.data() + body.size(), comp.value);
        if (ec != std::errc() || !std::isfinite(comp.value)) return std::nullopt;
        i += static_cast<std::size_t>(end - begin);
        if (i < body.size() && body[i] == '%') {
            comp.percent = true;
            ++i;
        } else if (body.substr(i, 3) == "deg") {
            i += 3;
        }
        out.push_back(comp);
        if (out.size() > 4) return std::nullopt;
    }
    return out;
}

double unit(double v) { return std::clamp(v, 0.0, 1.0); }

double alpha_of(const std::vector<Component>& c) {
    if (c.size() < 4) return 1;
    return unit(c[3].percent ? c[3].value / 100 : c[3].value);
}

}  // namespace

std::optional<QColor> parse_color(std::string_view text) {
    std::string s;
    s.reserve(text.size());
    for (const char c : text) {
        if (c != ' ' || !s.empty()) s.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    }
    while (!s.empty() && s.back() == ' ') s.pop_back();
    if (s.empty() || s.size() > 64) return std::nullopt;
    if (s[0] == '#') return parse_hex(std::string_view(s).substr(1));
    const std::size_t open = s.find('(');
    if (open != std::string::npos) {
        if (s.back() != ')') return std::nullopt;
        const std::string fn = s.substr(0, open);
        const auto c = components(std::string_view(s).substr(open + 1, s.size() - open - 2));
        if (!c || c->size() < 3) return std::nullopt;
        const auto& v = *c;
        if (fn == "rgb" || fn == "rgba") {
            auto channel = [](const Component& x) { return unit(x.percent ? x.value / 100 : x.value / 255); };
            return QColor::fromRgbF(static_cast<float>(channel(v[0])), static_cast<float>(channel(v[1])),
                                    static_cast<float>(channel(v[2])), static_cast<float>(alpha_of(v)));
        }
        if (fn == "hsl" || fn == "hsla") {
            const double h = std::fmod(std::fmod(v[0].value, 360) + 360, 360) / 360;
            return QColor::fromHslF(static_cast<float>(h), static_cast<float>(unit(v[1].value / 100)),
                                    static_cast<float>(unit(v[2].value / 100)), static_cast<float>(alpha_of(v)));
        }
        return std::nullopt;
    }
    // Names: letters only (Qt would also take its own other forms).
    if (!std::all_of(s.begin(), s.end(), [](char c) { return c >= 'a' && c <= 'z'; })) return std::nullopt;
    const QColor named = QColor::fromString(QLatin1StringView(s.data(), static_cast<qsizetype>(s.size())));
    if (!named.isValid()) return std::nullopt;
    return named;
}

}  // namespace vg::vmap::expr
