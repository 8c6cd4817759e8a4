// The binary receiver captures (Zodiac, Garmin) for the gps tests: the bytes a receiver sent, and a
// field-by-field comparison of a fix record with the shared expected files.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "gps/fix_record.h"
#include "support/nmea_capture.h"
#include "support/test_paths.h"

namespace vg::test {

// The number after "key": in a flat JSON text, searching from `from`.
inline double json_number_at(const std::string& json, const std::string& key, std::size_t from = 0) {
    const auto at = json.find("\"" + key + "\":", from);
    if (at == std::string::npos) return -12345;
    return std::strtod(json.c_str() + at + key.size() + 3, nullptr);
}

inline std::string json_text_at(const std::string& json, const std::string& key) {
    const auto at = json.find("\"" + key + "\": \"");
    if (at == std::string::npos) return "<missing>";
    const auto start = at + key.size() + 5;
    return json.substr(start, json.find('"', start) - start);
}

// Feeds `bytes` to `feed(data, size)` in chunks of at most `chunk` bytes, as the reader thread does.
template <typename Feed>
void feed_in_chunks(const std::string& bytes, std::size_t chunk, Feed&& feed) {
    for (std::size_t at = 0; at < bytes.size(); at += chunk) {
        const std::size_t n = std::min(chunk, bytes.size() - at);
        feed(reinterpret_cast<const std::uint8_t*>(bytes.data() + at), n);
    }
}

// Compares a fix record with an expected/<name>.json text, field by field.
#define EXPECT_FIX_MATCHES_JSON(fix, json)                                                        \
    do {                                                                                          \
        EXPECT_EQ(std::string((fix).utc_text), vg::test::json_text_at(json, "utc"));              \
        EXPECT_EQ(std::string((fix).local_text), vg::test::json_text_at(json, "local"));          \
        EXPECT_NEAR((fix).latitude, vg::test::json_number_at(json, "lat"), 1e-9);                 \
        EXPECT_NEAR((fix).longitude, vg::test::json_number_at(json, "lon"), 1e-9);                \
        EXPECT_NEAR((fix).altitude, vg::test::json_number_at(json, "alt"), 1e-9);                 \
        EXPECT_NEAR((fix).speed_knots, vg::test::json_number_at(json, "speed_knots"), 1e-9);      \
        EXPECT_NEAR((fix).course, vg::test::json_number_at(json, "course"), 1e-9);                \
        EXPECT_EQ((fix).fix_dimension, vg::test::json_number_at(json, "fix"));                    \
        EXPECT_EQ((fix).sats_in_view, vg::test::json_number_at(json, "sats_in_view"));            \
        EXPECT_EQ(std::string((fix).last_message), vg::test::json_text_at(json, "last_message")); \
        std::size_t from_ = json.find("\"satellites\"");                                         \
        for (const auto& sat_ : (fix).satellites) {                                              \
            from_ = json.find("{", from_);                                                       \
            EXPECT_EQ(sat_.prn, vg::test::json_number_at(json, "prn", from_));                    \
            EXPECT_EQ(sat_.elevation, vg::test::json_number_at(json, "elevation", from_));        \
            EXPECT_EQ(sat_.azimuth, vg::test::json_number_at(json, "azimuth", from_));            \
            EXPECT_EQ(sat_.snr, vg::test::json_number_at(json, "snr", from_));                    \
            EXPECT_EQ(sat_.used, vg::test::json_number_at(json, "used", from_));                  \
            ++from_;                                                                              \
        }                                                                                         \
    } while (0)

}  // namespace vg::test
