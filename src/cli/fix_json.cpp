#include "cli/fix_json.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace vg::cli {

namespace {

// A fixed-size text field of the record, up to its terminator (or its full size if it has none).
template <std::size_t N>
std::string_view text_field(const char (&field)[N]) {
    const void* nul = std::memchr(field, '\0', N);
    return std::string_view(field, nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - field) : N);
}

void append_key(std::string& out, const char* key) {
    out += '"';
    out += key;
    out += "\": ";
}

}  // namespace

void append_json_number(std::string& out, double value) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    (void)ec;  // 64 characters always hold the shortest form of a double
    std::string_view text(buffer, static_cast<std::size_t>(end - buffer));
    out += text;
    // Keep a double recognisable as one: 0 becomes 0.0, as other JSON writers print it.
    if (text.find_first_of(".e") == std::string_view::npos) out += ".0";
}

namespace {

// Length of the valid UTF-8 sequence at the start of `s`, or 0.
std::size_t utf8_length(std::string_view s) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char c = b(0);
    std::size_t n = c < 0x80 ? 1 : (c >= 0xC2 && c <= 0xDF) ? 2 : (c >= 0xE0 && c <= 0xEF) ? 3 : (c >= 0xF0 && c <= 0xF4) ? 4 : 0;
    if (n == 0 || s.size() < n) return 0;
    for (std::size_t i = 1; i < n; ++i)
        if ((b(i) & 0xC0) != 0x80) return 0;
    return n;
}

}  // namespace

void append_json_string(std::string& out, std::string_view text, JsonText mode) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    while (!text.empty()) {
        const auto c = static_cast<unsigned char>(text.front());
        std::size_t n = 1;
        const char* short_form = nullptr;
        if (mode == JsonText::receiver_bytes) {
            switch (c) {
            case '\b': short_form = "\\b"; break;
            case '\f': short_form = "\\f"; break;
            case '\n': short_form = "\\n"; break;
            case '\r': short_form = "\\r"; break;
            case '\t': short_form = "\\t"; break;
            default: break;
            }
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (short_form) {
            out += short_form;
        } else if (c < 0x20 || (c == 0x7f && mode == JsonText::ascii) || (c >= 0x80 && mode != JsonText::utf8)) {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        } else if (c >= 0x80) {
            n = utf8_length(text);
            if (n == 0) {
                out += "\\ufffd";
                n = 1;
            } else {
                out.append(text.substr(0, n));
            }
        } else {
            out += static_cast<char>(c);
        }
        text.remove_prefix(n);
    }
    out += '"';
}

std::string fix_to_json(const FixRecord& fix) {
    std::string out;
    out.reserve(1200);
    out += '{';
    append_key(out, "utc");
    append_json_string(out, text_field(fix.utc_text), JsonText::receiver_bytes);
    out += ", ";
    append_key(out, "local");
    append_json_string(out, text_field(fix.local_text), JsonText::receiver_bytes);
    const std::pair<const char*, double> doubles[] = {{"lat", fix.latitude},
                                                      {"lon", fix.longitude},
                                                      {"alt", fix.altitude},
                                                      {"speed_knots", fix.speed_knots},
                                                      {"course", fix.course}};
    for (const auto& [key, value] : doubles) {
        out += ", ";
        append_key(out, key);
        append_json_number(out, value);
    }
    out += ", ";
    append_key(out, "fix");
    out += std::to_string(fix.fix_dimension);
    out += ", ";
    append_key(out, "sats_in_view");
    out += std::to_string(fix.sats_in_view);
    out += ", ";
    append_key(out, "satellites");
    out += '[';
    bool first = true;
    for (const SatelliteEntry& sat : fix.satellites) {
        if (!first) out += ", ";
        first = false;
        out += "{\"prn\": " + std::to_string(sat.prn) + ", \"elevation\": " + std::to_string(sat.elevation) +
               ", \"azimuth\": " + std::to_string(sat.azimuth) + ", \"snr\": " + std::to_string(sat.snr) +
               ", \"used\": " + std::to_string(sat.used) + '}';
    }
    out += "], ";
    append_key(out, "last_message");
    append_json_string(out, text_field(fix.last_message), JsonText::receiver_bytes);
    // Added keys come last, so the keys before them read exactly as they always did.
    out += ", ";
    append_key(out, "talker");
    append_json_string(out, text_field(fix.talker), JsonText::receiver_bytes);
    out += ", ";
    append_key(out, "sky");
    out += '[';
    for (int i = 0; i < fix.sky_count && i < kSkyEntries; ++i) {
        const SkyEntry& sat = fix.sky[static_cast<std::size_t>(i)];
        if (i > 0) out += ", ";
        out += "{\"system\": ";
        append_json_string(out, gnss_system_name(sat.system), JsonText::receiver_bytes);
        out += ", \"prn\": " + std::to_string(sat.prn) + ", \"elevation\": " + std::to_string(sat.elevation) +
               ", \"azimuth\": " + std::to_string(sat.azimuth) + ", \"snr\": " + std::to_string(sat.snr) +
               ", \"used\": " + std::to_string(sat.used) + '}';
    }
    out += ']';
    // How good the fix is, each key only when known.
    if (fix.quality >= 0) out += ", \"quality\": " + std::to_string(fix.quality);
    if (std::isfinite(fix.correction_age)) {
        out += ", \"correction_age\": ";
        append_json_number(out, fix.correction_age);
    }
    if (std::isfinite(fix.h_error_m)) {
        out += ", \"h_error_m\": ";
        append_json_number(out, fix.h_error_m);
    }
    out += '}';
    return out;
}

}  // namespace vg::cli
