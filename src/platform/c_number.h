// Numbers in the text forms of the C locale, whatever locale the process runs in. Every file and
// network format the program reads or writes has a decimal point, while strtod, scanf and printf
// follow the C library's locale, which a toolkit sets from the user's environment (a decimal comma
// in much of Europe). Pure functions, no locale state read.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace vg {

// A number read from the start of a text, and how many characters it took.
struct ScannedNumber {
    double value = 0;
    std::size_t length = 0;
};

// strtod of the C locale: leading white space, one optional sign, then a decimal number (digits with
// an optional point and exponent), a hexadecimal one ("0x1.8p3"), an infinity or a NaN. A value too
// large for a double becomes +-HUGE_VAL and one too small 0, as strtod gives them. nullopt when no
// number starts the text (where strtod would leave its end pointer at the start).
std::optional<ScannedNumber> scan_c_number(std::string_view text);

// The whole of `text` read as scan_c_number reads it, or nullopt when anything is left over.
std::optional<double> whole_c_number(std::string_view text);

// sscanf(text, "%lf,%lf,...") == targets.size() with `separator` for the comma: numbers as
// scan_c_number reads them, each but the last followed directly by `separator`. Stores them all and
// gives the count of characters they took, or stores nothing and gives 0.
std::size_t scan_c_numbers(std::string_view text, char separator, std::initializer_list<double*> targets);

// printf("%.*f", decimals, value) of the C locale, for decimals from 0 to 17.
std::string fixed_text(double value, int decimals);

}  // namespace vg
