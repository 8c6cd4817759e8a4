// Fuzzes the locale-free number texts against the C library's own conversions in the C locale (a fuzz
// process never sets another): scan_c_number must read what strtod reads, to the same value and end,
// and fixed_text must write what printf's "%.Nf" writes. Number lists never claim more than the text.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/c_number.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string_view text(bytes.c_str());  // strtod ends at a NUL
    char* end = nullptr;
    const double expected = std::strtod(text.data(), &end);
    const auto got = vg::scan_c_number(text);
    check(got.has_value() == (end != text.data()));
    if (got) {
        check(got->length == static_cast<std::size_t>(end - text.data()));
        check(std::signbit(got->value) == std::signbit(expected));
        check(std::isnan(expected) ? std::isnan(got->value) : got->value == expected);
        for (const int decimals : {0, 1, 6, 7, 17}) {
            char printed[400];
            std::snprintf(printed, sizeof printed, "%.*f", decimals, got->value);
            check(vg::fixed_text(got->value, decimals) == printed);
        }
    }
    double a = 0, b = 0, c = 0;
    const std::size_t used = vg::scan_c_numbers(text, ',', {&a, &b, &c});
    check(used <= text.size());
    return 0;
}
