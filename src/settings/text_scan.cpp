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

std::optional<Utf8Character> utf8_character(std::string_view text) {
    if (text.empty()) return std::nullopt;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char c = byte(0);
    if (c < 0x80) return Utf8Character{c, 1};
    const std::size_t length = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (length == 0 || text.size() < length) return std::nullopt;
    char32_t code = c & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return std::nullopt;
        code = code << 6 | (byte(i) & 0x3F);
    }
    const bool shortest = length == 2 || (length == 3 && code >= 0x800) || (length == 4 && code >= 0x10000);
    if (!shortest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return std::nullopt;
    return Utf8Character{code, length};
}

std::string printable_text(std::string_view text) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        // Kept whole: a character that is not a control (C0, DEL, C1). Else one byte as "\xNN".
        const auto ch = utf8_character(text);
        if (ch && ch->code >= 0x20 && !(ch->code >= 0x7F && ch->code <= 0x9F)) {
            out.append(text.substr(0, ch->length));
            text.remove_prefix(ch->length);
            continue;
        }
        const auto c = static_cast<unsigned char>(text[0]);
        out += "\\x";
        out += kHex[c >> 4];
        out += kHex[c & 15];
        text.remove_prefix(1);
    }
    return out;
}

}  // namespace vg
