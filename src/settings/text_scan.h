// Small scanners with the matching rules of the C scanf conversions the settings formats use
// ("%d", "%c", "%s", "%lf", literal text), over a text and a position that each call advances.
// Unlike scanf they never overflow: a number that does not fit, or a floating value that is not a
// plain finite decimal, counts as a failed conversion.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vg {

class TextScanner {
public:
    explicit TextScanner(std::string_view text) : text_(text) {}

    // Skips blanks, tabs and line ends (what a blank in a scanf format skips).
    void skip_space();
    // Matches `literal` exactly at the current position (no blanks skipped first).
    bool literal(std::string_view literal);
    // "%d": blanks, an optional sign, one or more digits.
    std::optional<int> integer();
    // "%c": the next character, whatever it is.
    std::optional<char> character();
    // "%s": blanks, then the run of non-blank characters (at least one).
    std::optional<std::string> word();
    // "%lf": blanks, then a finite decimal number with optional fraction and exponent.
    std::optional<double> decimal();

    bool at_end() const { return pos_ >= text_.size(); }
    std::size_t position() const { return pos_; }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

// `text` without leading and trailing blanks, tabs and CRs (the one trim of settings values and
// header fields).
std::string_view trim_blanks(std::string_view text);

// "%d" of a whole value: the number at its start, if any.
std::optional<int> scan_int(std::string_view text);

// The `count` decimal digits at `at` of `text` as a number (fixed-width date and time fields), or -1 when
// any of them is missing or not a digit.
int fixed_digits(std::string_view text, std::size_t at, std::size_t count);

// The character that starts `text` when it begins with a well-formed UTF-8 sequence (shortest form,
// no surrogate, at most U+10FFFF; ASCII included), and the sequence's length in bytes.
struct Utf8Character {
    char32_t code = 0;
    std::size_t length = 0;
};
std::optional<Utf8Character> utf8_character(std::string_view text);

// `text` made safe to print on a terminal, for text that came from a file: control characters (C0
// including tab and line ends, DEL, and the C1 range) and bytes that are not well-formed UTF-8 become
// "\xNN" escapes, one per byte, so no escape sequence reaches the terminal; other UTF-8 is kept.
std::string printable_text(std::string_view text);

}  // namespace vg
