// The locale-free number texts agree with the C library's own conversions in the C locale (the locale
// a test process runs in), on the forms strtod and printf take and make, including their edges.
#include "platform/c_number.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace vg {
namespace {

TEST(CNumber, ReadsWhatStrtodReads) {
    const char* texts[] = {
        "0", "12.5", "-3", "+7.25", "  \t\n-0.5x", ".5", "5.", "1e3", "1E+3", "2.5e-3", "1e", "1e+", "1.5e3x",
        "-1,5", "1,5", "0x1p3", "-0x1.8p1", "0x", "0xg", "0x.8", "inf", "-Infinity", "nan", "nan(12)", "infinite",
        "1e400", "-1e400", "1e-400", "-1e-400", "0.000001e-320", "123456789e300", "4.9e-324", "0x1p99999",
        "0x1p-99999", "0x1p+-4", "0x1p", "0x1.8P+3x", "00000000000000000000001e308", "179769313486231570814527423731704356798070567525844996598917",
        "", " ", "-", "+", "+-1", "-+1", "--1", ".", "e5", "x", "60.5000000\"", "\v\f\r7",
    };
    for (const char* text : texts) {
        SCOPED_TRACE(std::string("text \"") + text + '"');
        char* end = nullptr;
        const double expected = std::strtod(text, &end);
        const auto got = scan_c_number(text);
        if (end == text) {
            EXPECT_FALSE(got.has_value());
            EXPECT_FALSE(whole_c_number(text).has_value());
            continue;
        }
        ASSERT_TRUE(got.has_value());
        EXPECT_EQ(got->length, static_cast<std::size_t>(end - text));
        if (std::isnan(expected)) {
            EXPECT_TRUE(std::isnan(got->value));
            EXPECT_EQ(std::signbit(got->value), std::signbit(expected));
        } else {
            EXPECT_EQ(got->value, expected);
            EXPECT_EQ(std::signbit(got->value), std::signbit(expected));
        }
        EXPECT_EQ(whole_c_number(text).has_value(), *end == '\0');
    }
}

TEST(CNumber, NumberListsReadAsScanfReadsThem) {
    const char* texts[] = {"20.5,59.8,25.25,61.0", " -1, 2,3e1,4x", "1,2,3", "1,2,,3,4", "1;2;3;4", "1,2,3,4,5", "", "a,1,2,3"};
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        double want[4] = {}, got[4] = {};
        int used = 0;
        const bool all = std::sscanf(text, "%lf,%lf,%lf,%lf%n", &want[0], &want[1], &want[2], &want[3], &used) == 4;
        const std::size_t n = scan_c_numbers(text, ',', {&got[0], &got[1], &got[2], &got[3]});
        EXPECT_EQ(n, all ? static_cast<std::size_t>(used) : 0u);
        if (all)
            for (int i = 0; i < 4; ++i) EXPECT_EQ(got[i], want[i]);
        else
            for (const double v : got) EXPECT_EQ(v, 0.0);  // nothing stored
    }
}

TEST(CNumber, FixedTextIsPrintfFixed) {
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> coordinate(-360.0, 360.0);
    std::vector<double> values = {0.0, -0.0, 0.5, 1.5, 2.5, -0.00000001, 0.05, 0.15, 59.99995, 1e21, -1.7976931348623157e308,
                                  4.9e-324, 1e-7, 123456789.123456789, HUGE_VAL, -HUGE_VAL, std::nan("")};
    for (int i = 0; i < 2000; ++i) values.push_back(coordinate(random));
    for (const double v : values) {
        for (const int decimals : {0, 1, 4, 6, 7, 17}) {
            char expected[400];
            std::snprintf(expected, sizeof expected, "%.*f", decimals, v);
            ASSERT_EQ(fixed_text(v, decimals), expected) << "decimals " << decimals;
        }
    }
}

}  // namespace
}  // namespace vg
