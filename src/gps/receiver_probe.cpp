#include "gps/receiver_probe.h"

#include <cstring>

#include "gps/nmea.h"
#include "gps/zodiac.h"

namespace vg {

namespace {

constexpr std::uint8_t kDle = 0x10;
constexpr std::uint8_t kEtx = 0x03;
constexpr std::size_t kLongestSentence = 82;

bool has_text(const std::uint8_t* data, std::size_t size, std::string_view text) {
    return std::string_view(reinterpret_cast<const char*>(data), size).find(text) != std::string_view::npos;
}

// A "$…*HH" sentence between two line ends or the buffer's ends, printable, with a valid checksum.
bool has_nmea_sentence(const std::uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] != '$') continue;
        std::size_t end = i + 1;
        while (end < size && data[end] >= 0x20 && data[end] < 0x7F && end - i <= kLongestSentence) ++end;
        if (end >= size || (data[end] != '\r' && data[end] != '\n')) continue;
        const std::string_view body(reinterpret_cast<const char*>(data) + i + 1, end - i - 1);
        if (body.size() >= 8 && body[body.size() - 3] == '*' && nmea_checksum_valid(body)) return true;
    }
    return false;
}

// A Zodiac header: sync word, id, count, flags and the header checksum, little-endian.
bool has_zodiac_header(const std::uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i + 10 <= size; ++i) {
        std::uint16_t words[5];
        for (int w = 0; w < 5; ++w) words[w] = static_cast<std::uint16_t>(data[i + 2 * w] | data[i + 2 * w + 1] << 8);
        if (words[0] != kZodiacSync || words[2] > kZodiacMaxDataWords) continue;
        if (zodiac_checksum(words, 4) == words[4] && words[1] >= 1000 && words[1] < 1400) return true;
    }
    return false;
}

// A Garmin packet: DLE, id, size, data, checksum, DLE ETX; DLE inside doubled.
bool has_garmin_packet(const std::uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i + 6 <= size; ++i) {
        if (data[i] != kDle || data[i + 1] == kDle || data[i + 1] == kEtx) continue;
        if (i > 0 && data[i - 1] == kDle) continue;  // a doubled DLE, not a packet start
        std::uint8_t body[260];
        std::size_t n = 0;
        std::size_t j = i + 1;
        bool closed = false;
        while (j < size && n < sizeof body) {
            if (data[j] == kDle) {
                if (j + 1 >= size) break;
                if (data[j + 1] == kEtx) {
                    closed = true;
                    break;
                }
                if (data[j + 1] != kDle) break;
                ++j;
            }
            body[n++] = data[j++];
        }
        // id, size, size data bytes and the checksum.
        if (!closed || n < 3 || body[1] != n - 3) continue;
        unsigned sum = 0;
        for (std::size_t k = 0; k < n; ++k) sum += body[k];
        if ((sum & 0xFF) == 0) return true;
    }
    return false;
}

// The lines of `text` that are whole JSON objects of gpsd class `name`.
std::optional<std::string_view> gpsd_line(std::string_view text, std::string_view name) {
    const std::string key = "\"class\":\"" + std::string(name) + "\"";
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) return std::nullopt;  // the last line is not whole yet
        const std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.front() == '{' && line.find(key) != std::string_view::npos) return line;
        start = end + 1;
    }
    return std::nullopt;
}

}  // namespace

std::optional<ProbedReceiver> probe_receiver_bytes(const std::uint8_t* data, std::size_t size) {
    if (!data || size == 0) return std::nullopt;
    if (has_text(data, size, "EARTHA") || has_zodiac_header(data, size)) return ProbedReceiver{DeviceType::EarthMate, "Zodiac"};
    if (has_nmea_sentence(data, size)) {
        if (has_text(data, size, "ASTRAL")) return ProbedReceiver{DeviceType::TripMate, "NMEA"};
        return ProbedReceiver{DeviceType::Nmea, "NMEA"};
    }
    if (has_garmin_packet(data, size)) return ProbedReceiver{DeviceType::Garmin, "Garmin"};
    return std::nullopt;
}

bool gpsd_version_seen(std::string_view text) { return gpsd_line(text, "VERSION").has_value(); }

std::optional<int> gpsd_device_count(std::string_view text) {
    const auto line = gpsd_line(text, "DEVICES");
    if (!line) return std::nullopt;
    int count = 0;
    for (std::size_t at = line->find("\"path\":"); at != std::string_view::npos; at = line->find("\"path\":", at + 1))
        ++count;
    return count;
}

}  // namespace vg
