#include "gps/nmea.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>

namespace vg {

namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

std::string_view skip_space(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && is_space(s[i])) ++i;
    return s.substr(i);
}

// A number at the start of a field, read like "%lf": leading blanks and a sign allowed, trailing text
// ignored. Infinities and NaN are refused so that no coordinate or speed becomes non-finite.
std::optional<double> read_double(std::string_view field) {
    std::string_view s = skip_space(field);
    if (!s.empty() && s.front() == '+') {
        s.remove_prefix(1);
        if (!s.empty() && (s.front() == '-' || s.front() == '+')) return std::nullopt;
    }
    double value = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, std::chars_format::general);
    (void)end;
    if (ec != std::errc() || !std::isfinite(value)) return std::nullopt;
    return value;
}

// A whole number at the start of a field, read like "%d"; out-of-range numbers are refused.
std::optional<int> read_int(std::string_view field) {
    std::string_view s = skip_space(field);
    if (!s.empty() && s.front() == '+') {
        s.remove_prefix(1);
        if (!s.empty() && (s.front() == '-' || s.front() == '+')) return std::nullopt;
    }
    int value = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    (void)end;
    if (ec != std::errc()) return std::nullopt;
    return value;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Three two-digit numbers from the first six characters (DDMMYY or hhmmss, fractions ignored).
std::optional<std::array<int, 3>> read_three_pairs(std::string_view field) {
    if (field.size() < 6) return std::nullopt;
    std::array<int, 3> out{};
    for (int i = 0; i < 3; ++i) {
        char hi = field[2 * i], lo = field[2 * i + 1];
        if (!is_digit(hi) || !is_digit(lo)) return std::nullopt;
        out[i] = (hi - '0') * 10 + (lo - '0');
    }
    return out;
}

std::size_t field_end(std::string_view text, std::size_t start) {
    std::size_t i = start;
    while (i < text.size() && text[i] != ',' && text[i] != '*' && text[i] != '\r') ++i;
    return i;
}

// The fields a handler reads, located in one pass. Fields past kMax or past the end read as empty,
// with the same boundaries as nmea_field.
class Fields {
public:
    static constexpr int kMax = 20;

    explicit Fields(std::string_view text) {
        std::size_t start = 0;
        while (count_ < kMax) {
            std::size_t end = field_end(text, start);
            fields_[count_++] = text.substr(start, end - start);
            // The next field starts after the next comma, which may lie beyond a "*" or CR.
            std::size_t comma = (end < text.size() && text[end] == ',') ? end : text.find(',', end);
            if (comma == std::string_view::npos) break;
            start = comma + 1;
        }
    }
    std::string_view operator[](int n) const { return (n >= 0 && n < count_) ? fields_[n] : std::string_view(); }

private:
    std::array<std::string_view, kMax> fields_{};
    int count_ = 0;
};

// ddmm.mmmm (or dddmm.mmmm) to degrees, negated for the southern or western hemisphere letter.
std::optional<double> read_angle(std::string_view value_field, std::string_view hemisphere, char negative) {
    if (value_field.empty()) return std::nullopt;
    std::optional<double> value = read_double(value_field);
    if (!value) return std::nullopt;
    double degrees = std::trunc(*value / 100.0);
    double minutes = *value - 100.0 * degrees;
    double angle = degrees + minutes / 60.0;
    if (!hemisphere.empty() && hemisphere.front() == negative) angle = -angle;
    return angle;
}

void position_from(const Fields& f, int n, FixRecord& fix) {
    if (auto lat = read_angle(f[n], f[n + 1], 'S'); lat && *lat != fix.latitude) fix.latitude = *lat;
    if (auto lon = read_angle(f[n + 2], f[n + 3], 'W'); lon && *lon != fix.longitude) fix.longitude = *lon;
}

void handle_rmc(const Fields& f, FixRecord& fix) {
    auto date = read_three_pairs(f[9]);
    auto time = read_three_pairs(f[1]);
    if (date && time) {
        int year = (*date)[2] < 70 ? 2000 + (*date)[2] : 1900 + (*date)[2];
        set_receiver_time(fix, year, (*date)[1], (*date)[0], (*time)[0], (*time)[1], (*time)[2]);
    }
    if (f[2] != "V" && fix.fix_dimension == 0) fix.fix_dimension = 1;
    if (auto speed = read_double(f[7])) fix.speed_knots = *speed;
    if (auto course = read_double(f[8])) fix.course = *course;
    position_from(f, 3, fix);
}

void handle_gga(const Fields& f, FixRecord& fix) {
    position_from(f, 2, fix);
    if (auto altitude = read_double(f[9])) fix.altitude = *altitude;
}

void handle_gsa(const Fields& f, FixRecord& fix) {
    if (auto mode = read_int(f[2])) fix.fix_dimension = (*mode == 1) ? 0 : *mode;
    for (auto& sat : fix.satellites) sat.used = 0;
    for (int n = 3; n <= 14; ++n) {
        auto prn = read_int(f[n]);
        if (!prn) continue;
        for (auto& sat : fix.satellites)
            if (sat.prn == *prn) sat.used = 1;
    }
}

void handle_gsv(const Fields& f, FixRecord& fix) {
    // A negative count is nonsense; keep the previous one.
    if (auto in_view = read_int(f[3]); in_view && *in_view >= 0) fix.sats_in_view = *in_view;
    auto message = read_int(f[2]);
    if (!message || *message < 1 || *message > kSatelliteSlots / 4) return;
    const int limit = std::min(fix.sats_in_view, kSatelliteSlots);
    for (int k = 0; k < 4; ++k) {
        const int slot = 4 * (*message - 1) + k;
        if (slot >= limit) break;
        SatelliteEntry& sat = fix.satellites[slot];
        const int base = 4 + 4 * k;
        if (auto v = read_int(f[base])) sat.prn = *v;
        if (auto v = read_int(f[base + 1])) sat.elevation = *v;
        if (auto v = read_int(f[base + 2])) sat.azimuth = *v;
        if (auto v = read_int(f[base + 3])) sat.snr = *v;
    }
}

constexpr char kHex[] = "0123456789ABCDEF";

}  // namespace

std::string_view nmea_field(std::string_view text, int n) {
    if (n < 0) return {};
    std::size_t start = 0;
    for (int i = 0; i < n; ++i) {
        std::size_t comma = text.find(',', start);
        if (comma == std::string_view::npos) return {};
        start = comma + 1;
    }
    return text.substr(start, field_end(text, start) - start);
}

void nmea_position(std::string_view text, int n, FixRecord& fix) {
    if (n < 0) return;
    if (auto lat = read_angle(nmea_field(text, n), nmea_field(text, n + 1), 'S'); lat && *lat != fix.latitude)
        fix.latitude = *lat;
    if (auto lon = read_angle(nmea_field(text, n + 2), nmea_field(text, n + 3), 'W'); lon && *lon != fix.longitude)
        fix.longitude = *lon;
}

bool nmea_checksum_valid(std::string_view text) {
    std::size_t star = text.find('*');
    if (star == std::string_view::npos || text.size() - star < 3) return false;
    unsigned sum = 0;
    for (std::size_t i = 0; i < star; ++i) sum ^= static_cast<unsigned char>(text[i]);
    return text[star + 1] == kHex[(sum >> 4) & 0xF] && text[star + 2] == kHex[sum & 0xF];
}

void NmeaParser::nmea_dispatch(std::string_view text, FixRecord& fix) {
    const std::size_t copied = std::min(text.size(), sizeof fix.last_message - 1);
    std::memcpy(fix.last_message, text.data(), copied);
    fix.last_message[copied] = '\0';

    if (!nmea_checksum_valid(text)) return;
    auto starts = [&](std::string_view name) { return text.substr(0, name.size()) == name; };
    if (starts("GPRMC")) {
        handle_rmc(Fields(text), fix);
    } else if (starts("GPGGA")) {
        handle_gga(Fields(text), fix);
    } else if (starts("GPGLL")) {
        position_from(Fields(text), 1, fix);
    } else if (starts("GPGSA")) {
        handle_gsa(Fields(text), fix);
    } else if (starts("GPGSV")) {
        handle_gsv(Fields(text), fix);
    }
    // PRWIZCH (the receiver's channel report) and every other sentence change nothing else.
}

void NmeaParser::complete_line(FixRecord& fix) {
    std::size_t length = length_;
    if (length > 0 && line_[length - 1] == '\r') --length;
    // The text ends at its first NUL byte, as a C string would.
    if (const void* nul = std::memchr(line_, '\0', length)) length = static_cast<const char*>(nul) - line_;
    std::string_view line(line_, length);
    if (!line.empty() && line.front() == '$') {
        nmea_dispatch(line.substr(1), fix);
    } else if (line.substr(0, 6) == "ASTRAL") {
        if (astral_) astral_(line);
    }
}

void NmeaParser::nmea_feed(const std::uint8_t* data, std::size_t size, FixRecord& fix) {
    if (data == nullptr) return;
    const char* p = reinterpret_cast<const char*>(data);
    const char* end = p + size;
    while (p < end) {
        const char* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
        const char* stop = lf ? lf : end;
        const std::size_t count = static_cast<std::size_t>(stop - p);
        if (!discarding_) {
            // The LF itself needs a place in the buffer, so a line holds at most size - 1 bytes.
            if (count <= kLineBufferSize - 1 - length_) {
                std::memcpy(line_ + length_, p, count);
                length_ += count;
            } else {
                discarding_ = true;
                length_ = 0;
            }
        }
        if (!lf) break;
        if (!discarding_) complete_line(fix);
        discarding_ = false;
        length_ = 0;
        p = lf + 1;
    }
}

}  // namespace vg
