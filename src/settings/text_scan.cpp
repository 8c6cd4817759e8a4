#include "settings/text_scan.h"

#include <charconv>
#include <cmath>
#include <system_error>
#include <limits>

namespace vg {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

void TextScanner::skip_space() {
    while (pos_ < text_.size() && is_blank(text_[pos_])) ++pos_;
}

bool TextScanner::literal(std::string_view literal) {
    if (text_.substr(pos_, literal.size()) != literal) return false;
    pos_ += literal.size();
    return true;
}

std::optional<int> TextScanner::integer() {
    skip_space();
    std::size_t p = pos_;
    bool negative = false;
    if (p < text_.size() && (text_[p] == '+' || text_[p] == '-')) negative = text_[p++] == '-';
    if (p >= text_.size() || !is_digit(text_[p])) return std::nullopt;
    long long value = 0;
    const long long limit = negative ? -static_cast<long long>(std::numeric_limits<int>::min())
                                     : std::numeric_limits<int>::max();
    bool overflow = false;
    while (p < text_.size() && is_digit(text_[p])) {
        if (!overflow) {
            value = value * 10 + (text_[p] - '0');
            if (value > limit) overflow = true;
        }
        ++p;
    }
    if (overflow) return std::nullopt;
    pos_ = p;
    return static_cast<int>(negative ? -value : value);
}

std::optional<char> TextScanner::character() {
    if (pos_ >= text_.size()) return std::nullopt;
    return text_[pos_++];
}

std::optional<std::string> TextScanner::word() {
    skip_space();
    std::size_t start = pos_;
    while (pos_ < text_.size() && !is_blank(text_[pos_])) ++pos_;
    if (pos_ == start) return std::nullopt;
    return std::string(text_.substr(start, pos_ - start));
}

std::optional<double> TextScanner::decimal() {
    skip_space();
    std::size_t p = pos_;
    if (p < text_.size() && (text_[p] == '+' || text_[p] == '-')) ++p;
    std::size_t digits = 0;
    while (p < text_.size() && is_digit(text_[p])) ++p, ++digits;
    if (p < text_.size() && text_[p] == '.') {
        ++p;
        while (p < text_.size() && is_digit(text_[p])) ++p, ++digits;
    }
    if (digits == 0) return std::nullopt;
    if (p < text_.size() && (text_[p] == 'e' || text_[p] == 'E')) {
        std::size_t q = p + 1;
        if (q < text_.size() && (text_[q] == '+' || text_[q] == '-')) ++q;
        if (q < text_.size() && is_digit(text_[q])) {
            while (q < text_.size() && is_digit(text_[q])) ++q;
            p = q;
        }
    }
    // from_chars does not depend on the process locale (a toolkit may set one with a decimal comma).
    std::size_t begin = pos_;
    if (text_[begin] == '+') ++begin;
    double value = 0;
    const auto [end, ec] = std::from_chars(text_.data() + begin, text_.data() + p, value);
    if (ec != std::errc() || end != text_.data() + p || !std::isfinite(value)) return std::nullopt;
    pos_ = p;
    return value;
}

std::optional<int> scan_int(std::string_view text) {
    TextScanner scanner(text);
    return scanner.integer();
}

int fixed_digits(std::string_view text, std::size_t at, std::size_t count) {
    if (at > text.size() || count > text.size() - at) return -1;
    int v = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const char c = text[at + k];
        if (c < '0' || c > '9') return -1;
        v = v * 10 + (c - '0');
    }
    return v;
}

std::string_view trim_blanks(std::string_view text) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

std::string printable_text(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    auto escape = [&out](unsigned char c) {
        static const char kHex[] = "0123456789abcdef";
        out += "\\x";
        out += kHex[c >> 4];
        out += kHex[c & 15];
    };
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        // A well-formed UTF-8 sequence (shortest form, no surrogates, at most U+10FFFF) other than
        // a C1 control (U+0080-U+009F) is kept whole.
        std::size_t length = c >= 0xc2 && c <= 0xdf ? 2 : c >= 0xe0 && c <= 0xef ? 3 : c >= 0xf0 && c <= 0xf4 ? 4 : 0;
        if (length && i + length <= text.size()) {
            const auto b1 = static_cast<unsigned char>(text[i + 1]);
            bool ok = (b1 & 0xc0) == 0x80;
            for (std::size_t k = 2; ok && k < length; ++k) ok = (static_cast<unsigned char>(text[i + k]) & 0xc0) == 0x80;
            if (c == 0xc2 && b1 < 0xa0) ok = false;                  // C1 control
            if ((c == 0xe0 && b1 < 0xa0) || (c == 0xf0 && b1 < 0x90)) ok = false;  // overlong
            if ((c == 0xed && b1 >= 0xa0) || (c == 0xf4 && b1 >= 0x90)) ok = false;  // surrogate, too large
            if (ok) {
                out.append(text.substr(i, length));
                i += length;
                continue;
            }
        }
        escape(c);
        ++i;
    }
    return out;
}

}  // namespace vg
