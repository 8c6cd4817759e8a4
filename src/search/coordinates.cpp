#include "search/coordinates.h"

#include <cmath>
#include <vector>

#include "platform/c_number.h"

namespace vg::search {
namespace {

enum class Unit { none, deg, min, sec };

struct Token {
    enum Kind { number, mark, hemisphere, separator } kind;
    double value = 0;
    bool has_fraction = false;
    bool negative = false;
    Unit unit = Unit::none;
    char letter = 0;  // N S E W
};

// The length of a UTF-8 mark at `s` meaning degrees, minutes or seconds, with its unit; 0 when none.
std::size_t unit_mark(std::string_view s, Unit& unit) {
    struct Mark {
        std::string_view text;
        Unit unit;
    };
    static constexpr Mark marks[] = {
        {"\xC2\xB0", Unit::deg}, {"\xC2\xBA", Unit::deg}, {"\xE2\x80\xB2", Unit::min}, {"\xE2\x80\x99", Unit::min},
        {"\xE2\x80\xB3", Unit::sec}, {"\xE2\x80\x9D", Unit::sec}, {"''", Unit::sec}, {"'", Unit::min},
        {"\"", Unit::sec}, {"d", Unit::deg},
    };
    for (const Mark& m : marks)
        if (s.starts_with(m.text)) {
            unit = m.unit;
            return m.text.size();
        }
    return 0;
}

std::optional<std::vector<Token>> tokens_of(std::string_view s) {
    std::vector<Token> out;
    std::size_t i = 0;
    while (i < s.size()) {
        const char c = s[i];
        if (c == ' ' || c == '\t') {
            ++i;
            continue;
        }
        if (c == ',' || c == ';' || c == '/') {
            out.push_back({Token::separator});
            ++i;
            continue;
        }
        const char upper = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
        if ((upper == 'N' || upper == 'S' || upper == 'E' || upper == 'W') &&
            (i + 1 == s.size() || !((s[i + 1] | 32) >= 'a' && (s[i + 1] | 32) <= 'z'))) {
            out.push_back({Token::hemisphere, 0, false, false, Unit::none, upper});
            ++i;
            continue;
        }
        Unit unit = Unit::none;
        if (const std::size_t n = unit_mark(s.substr(i), unit)) {
            out.push_back({Token::mark, 0, false, false, unit});
            i += n;
            continue;
        }
        if (c == '-' || c == '+' || c == '.' || (c >= '0' && c <= '9')) {
            const bool negative = c == '-';
            std::size_t j = c == '-' || c == '+' ? i + 1 : i;
            const std::size_t start = j;
            bool fraction = false;
            while (j < s.size() && ((s[j] >= '0' && s[j] <= '9') || s[j] == '.')) {
                if (s[j] == '.') {
                    if (fraction) return std::nullopt;
                    fraction = true;
                }
                ++j;
            }
            if (j == start || j - start > 24) return std::nullopt;
            const auto v = whole_c_number(s.substr(start, j - start));
            if (!v || !std::isfinite(*v)) return std::nullopt;
            out.push_back({Token::number, *v, fraction, negative});
            i = j;
            continue;
        }
        return std::nullopt;  // a word or a character no coordinate has
    }
    return out;
}

struct Half {
    std::vector<Token> numbers;  // with their units
    char letter = 0;
};

// Degrees of one half; nullopt when its parts do not make an angle.
std::optional<double> angle_of(const Half& h) {
    if (h.numbers.empty() || h.numbers.size() > 3) return std::nullopt;
    double parts[3] = {0, 0, 0};
    int next = 0;
    for (std::size_t k = 0; k < h.numbers.size(); ++k) {
        const Token& t = h.numbers[k];
        int slot = next;
        if (t.unit == Unit::deg) slot = 0;
        if (t.unit == Unit::min) slot = 1;
        if (t.unit == Unit::sec) slot = 2;
        if (slot < next || slot > 2) return std::nullopt;
        if (k > 0 && (t.negative || h.numbers[k - 1].has_fraction)) return std::nullopt;
        parts[slot] = t.value;
        next = slot + 1;
    }
    if (parts[1] >= 60 || parts[2] >= 60) return std::nullopt;
    double v = parts[0] + parts[1] / 60 + parts[2] / 3600;
    if (h.numbers[0].negative) {
        if (h.letter) return std::nullopt;  // "-52 S": a sign and a letter
        v = -v;
    }
    if (h.letter == 'S' || h.letter == 'W') v = -v;
    return v;
}

// Splits the tokens into the two halves: at a separator, at the hemisphere letters, at the second
// degrees mark, or (plain numbers) in the middle.
std::optional<std::pair<Half, Half>> halves_of(const std::vector<Token>& tokens) {
    std::vector<Token> items;  // numbers (units attached) and letters
    int separators = 0;
    std::size_t separator_at = 0;
    for (const Token& t : tokens) {
        if (t.kind == Token::mark) {
            if (items.empty() || items.back().kind != Token::number || items.back().unit != Unit::none)
                return std::nullopt;
            items.back().unit = t.unit;
        } else if (t.kind == Token::separator) {
            ++separators;
            separator_at = items.size();
        } else {
            items.push_back(t);
        }
    }
    if (separators > 1) return std::nullopt;
    std::vector<std::size_t> letters;
    for (std::size_t k = 0; k < items.size(); ++k)
        if (items[k].kind == Token::hemisphere) letters.push_back(k);
    if (letters.size() != 0 && letters.size() != 2) return std::nullopt;

    std::size_t cut = 0;  // first item of the second half
    if (separators == 1) {
        cut = separator_at;
    } else if (letters.size() == 2) {
        cut = letters[0] == 0 ? letters[1] : letters[0] + 1;
    } else {
        std::size_t degrees = 0;
        for (std::size_t k = 0; k < items.size(); ++k)
            if (items[k].unit == Unit::deg && ++degrees == 2) cut = k;
        if (cut == 0) {
            if (items.size() % 2 != 0) return std::nullopt;
            cut = items.size() / 2;
        }
    }
    Half a, b;
    for (std::size_t k = 0; k < items.size(); ++k) {
        Half& h = k < cut ? a : b;
        if (items[k].kind == Token::hemisphere) {
            // A letter belongs at the start or the end of its half.
            const bool first = k == 0 || k == cut;
            const bool last = k + 1 == items.size() || k + 1 == cut;
            if (h.letter || !(first || last)) return std::nullopt;
            if (first && !h.numbers.empty()) return std::nullopt;
            h.letter = items[k].letter;
        } else {
            if (h.letter && !h.numbers.empty() && items[k - 1].kind == Token::hemisphere) return std::nullopt;
            h.numbers.push_back(items[k]);
        }
    }
    // Letters all before or all after the numbers, the same way in both halves.
    return std::make_pair(a, b);
}

bool is_lat_letter(char c) { return c == 'N' || c == 'S'; }

}  // namespace

std::optional<LatLon> parse_coordinates(std::string_view text) {
    if (text.size() > 200) return std::nullopt;
    const auto tokens = tokens_of(text);
    if (!tokens) return std::nullopt;
    const auto halves = halves_of(*tokens);
    if (!halves) return std::nullopt;
    auto [a, b] = *halves;
    if (a.letter && b.letter && is_lat_letter(a.letter) == is_lat_letter(b.letter)) return std::nullopt;
    if ((a.letter && !b.letter) || (b.letter && !a.letter)) return std::nullopt;
    if (a.letter && !is_lat_letter(a.letter)) std::swap(a, b);
    const auto lat = angle_of(a), lon = angle_of(b);
    if (!lat || !lon || std::fabs(*lat) > 90 || std::fabs(*lon) > 180) return std::nullopt;
    return LatLon{*lat, *lon};
}

}  // namespace vg::search
