#include "platform/c_number.h"

#include <charconv>
#include <cmath>
#include <iterator>

namespace vg {

namespace {

bool is_c_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_hex_digit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// For a number from_chars found out of range (`s`: its digits, point and exponent, without sign or
// "0x"): whether it is too large rather than too small. The leading nonzero digit's place relative to
// the point, plus the exponent, is far from zero either way.
bool too_large(std::string_view s, bool hex) {
    const char exponent_mark = hex ? 'p' : 'e';
    long long place = 0;  // in digits: 0 for the units digit, -1 for tenths
    bool found = false, after_point = false;
    std::size_t i = 0;
    for (; i < s.size() && (s[i] | 0x20) != exponent_mark; ++i) {
        if (s[i] == '.') {
            after_point = true;
        } else if (!found && s[i] != '0') {
            found = true;
            if (after_point) --place;
        } else if (found && !after_point) {
            ++place;
        } else if (!found && after_point) {
            --place;
        }
    }
    long long exponent = 0;
    bool negative = false;
    if (i < s.size()) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
        for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i)
            if (exponent < 1'000'000'000) exponent = exponent * 10 + (s[i] - '0');
    }
    if (negative) exponent = -exponent;
    return (hex ? 4 * place : place) + exponent >= 0;
}

}  // namespace

std::optional<ScannedNumber> scan_c_number(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && is_c_space(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    // from_chars takes a minus of its own; strtod takes one sign only.
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) return std::nullopt;
    const char* first = text.data() + i;
    double value = 0;
    std::from_chars_result r{first, std::errc::invalid_argument};
    bool hex = false;
    if (text.size() - i > 2 && text[i] == '0' && (text[i + 1] | 0x20) == 'x' &&
        (is_hex_digit(text[i + 2]) || (text[i + 2] == '.' && text.size() - i > 3 && is_hex_digit(text[i + 3])))) {
        hex = true;
        first += 2;
        // The extent is found here: from_chars of libstdc++ 12 takes "p+-4" as the exponent -4.
        std::size_t j = i + 2;
        while (j < text.size() && is_hex_digit(text[j])) ++j;
        if (j < text.size() && text[j] == '.') {
            ++j;
            while (j < text.size() && is_hex_digit(text[j])) ++j;
        }
        if (j < text.size() && (text[j] | 0x20) == 'p') {
            std::size_t k = j + 1;
            if (k < text.size() && (text[k] == '+' || text[k] == '-')) ++k;
            if (k < text.size() && is_digit(text[k])) {
                while (k < text.size() && is_digit(text[k])) ++k;
                j = k;
            }
        }
        r = std::from_chars(first, text.data() + j, value, std::chars_format::hex);
    } else {
        r = std::from_chars(first, text.data() + text.size(), value, std::chars_format::general);
    }
    if (r.ec == std::errc::invalid_argument) return std::nullopt;
    if (r.ec == std::errc::result_out_of_range)
        value = too_large(std::string_view(first, static_cast<std::size_t>(r.ptr - first)), hex) ? HUGE_VAL : 0.0;
    return ScannedNumber{negative ? -value : value, static_cast<std::size_t>(r.ptr - text.data())};
}

std::optional<double> whole_c_number(std::string_view text) {
    const auto n = scan_c_number(text);
    if (!n || n->length != text.size()) return std::nullopt;
    return n->value;
}

std::size_t scan_c_numbers(std::string_view text, char separator, std::initializer_list<double*> targets) {
    double values[8];
    if (targets.size() > std::size(values)) return 0;
    std::size_t used = 0, n = 0;
    for (std::size_t i = 0; i < targets.size(); ++i) {
        if (i > 0) {
            if (used >= text.size() || text[used] != separator) return 0;
            ++used;
        }
        const auto number = scan_c_number(text.substr(used));
        if (!number) return 0;
        values[n++] = number->value;
        used += number->length;
    }
    n = 0;
    for (double* target : targets) *target = values[n++];
    return used;
}

std::string fixed_text(double value, int decimals) {
    // The largest double has 309 integer digits.
    char buffer[340];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    return std::string(buffer, r.ptr);
}

}  // namespace vg
