#include "gps/zodiac.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <string_view>

namespace vg {

namespace {

constexpr std::uint16_t kInitId = 1200;
constexpr std::size_t kInitDataWords = 21;

// Words each decoded message must hold; a shorter message is not decoded.
constexpr std::size_t kWords1000 = 31;
constexpr std::size_t kWords1002 = 9 + 12 * 3;
constexpr std::size_t kWords1003 = 9 + 12 * 3;
constexpr std::size_t kWords1005 = 7;

const char* message_name(std::uint16_t id) {
    switch (id) {
        case 1000: return "Geodetic Position Status Output";
        case 1001: return "ECEF Position Status Output";
        case 1002: return "Channel Summary";
        case 1003: return "Visible Satellites";
        default: return nullptr;
    }
}

void put_word(std::vector<std::uint8_t>& out, std::uint16_t word) {
    out.push_back(static_cast<std::uint8_t>(word & 0xFF));
    out.push_back(static_cast<std::uint8_t>(word >> 8));
}

// A decimal number in `line` at characters [first, first + count), 0 when absent; its absolute value.
int fixed_column(const std::string& line, std::size_t first, std::size_t count) {
    if (first >= line.size()) return 0;
    const std::string field = line.substr(first, count);
    return std::abs(static_cast<int>(std::strtol(field.c_str(), nullptr, 10)));
}

std::int32_t line_angle(const std::string& line, char negative_letter) {
    const double degrees = fixed_column(line, 2, 3) + fixed_column(line, 6, 2) / 60.0 + fixed_column(line, 9, 2) / 3600.0;
    auto value = static_cast<std::int32_t>(std::trunc(degrees * 1e8 * std::numbers::pi / 180.0));
    if (!line.empty() && line[0] == negative_letter) value = -value;
    return value;
}

}  // namespace

std::uint16_t zodiac_checksum(const std::uint16_t* words, std::size_t count) {
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i < count; ++i) sum = static_cast<std::uint16_t>(sum + words[i]);
    return static_cast<std::uint16_t>(-sum);
}

std::vector<std::uint8_t> zodiac_frame(std::uint16_t id, const std::vector<std::uint16_t>& data) {
    std::uint16_t header[5] = {kZodiacSync, id, static_cast<std::uint16_t>(data.size()), 0, 0};
    header[4] = zodiac_checksum(header, 4);
    std::vector<std::uint8_t> out;
    out.reserve(10 + 2 * data.size() + 2);
    for (auto w : header) put_word(out, w);
    for (auto w : data) put_word(out, w);
    put_word(out, zodiac_checksum(data.data(), data.size()));
    return out;
}

std::vector<std::uint8_t> zodiac_init_message(std::uint16_t sequence, const PositionLines& lines, const std::tm& utc) {
    const auto latitude = static_cast<std::uint32_t>(line_angle(lines.latitude, 'S'));
    const auto longitude = static_cast<std::uint32_t>(line_angle(lines.longitude, 'W'));
    std::vector<std::uint16_t> data(kInitDataWords, 0);
    data[0] = sequence;
    data[1] = 0x000C;
    data[5] = static_cast<std::uint16_t>(utc.tm_mday);
    data[6] = static_cast<std::uint16_t>(utc.tm_mon + 1);
    data[7] = static_cast<std::uint16_t>(utc.tm_year + 1900);
    data[8] = static_cast<std::uint16_t>(utc.tm_hour);
    data[9] = static_cast<std::uint16_t>(utc.tm_min);
    data[10] = static_cast<std::uint16_t>(utc.tm_sec);
    data[11] = static_cast<std::uint16_t>(latitude & 0xFFFF);
    data[12] = static_cast<std::uint16_t>(latitude >> 16);
    data[13] = static_cast<std::uint16_t>(longitude & 0xFFFF);
    data[14] = static_cast<std::uint16_t>(longitude >> 16);
    return zodiac_frame(kInitId, data);
}

void ZodiacParser::send(const std::uint8_t* data, std::size_t size) {
    if (context_.reply) context_.reply(data, size);
}

void ZodiacParser::feed(const std::uint8_t* data, std::size_t size, FixRecord& fix) {
    static constexpr std::string_view kHandshake = "EARTHA";
    const std::string_view chunk(reinterpret_cast<const char*>(data), size);
    if (chunk.find(kHandshake) != std::string_view::npos) {
        static constexpr std::uint8_t kAnswer[] = {'E', 'A', 'R', 'T', 'H', 'A', '\r', '\n'};
        send(kAnswer, sizeof kAnswer);
        eartha_pending_ = 1;
    }
    for (std::size_t i = 0; i < size; ++i) frame_byte(data[i], fix);
}

void ZodiacParser::frame_byte(std::uint8_t byte, FixRecord& fix) {
    switch (state_) {
        case State::Hunt:
            if (byte == 0xFF) state_ = State::Sync;
            return;
        case State::Sync:
            // Keeps waiting for 0x81 after the 0xFF, whatever comes in between.
            header_[0] = kZodiacSync;
            high_byte_ = false;
            if (byte == 0x81) state_ = State::Id;
            return;
        case State::Id:
        case State::Count:
        case State::Flags:
        case State::Checksum: {
            const std::size_t index = static_cast<std::size_t>(state_) - static_cast<std::size_t>(State::Id) + 1;
            if (!high_byte_) {
                header_[index] = byte;
                high_byte_ = true;
                return;
            }
            header_[index] = static_cast<std::uint16_t>(header_[index] | (byte << 8));
            high_byte_ = false;
            if (state_ != State::Checksum) {
                state_ = static_cast<State>(static_cast<int>(state_) + 1);
                return;
            }
            std::uint16_t sum = 0;
            for (auto w : header_) sum = static_cast<std::uint16_t>(sum + w);
            if (sum != 0 || header_[2] > kZodiacMaxDataWords) {
                state_ = State::Hunt;
                return;
            }
            data_.assign(static_cast<std::size_t>(header_[2]) + 1, 0);
            words_received_ = 0;
            state_ = State::Data;
            return;
        }
        case State::Data:
            if (!high_byte_) {
                data_[words_received_] = byte;
                high_byte_ = true;
                return;
            }
            data_[words_received_] = static_cast<std::uint16_t>(data_[words_received_] | (byte << 8));
            high_byte_ = false;
            if (++words_received_ == data_.size()) {
                handle_message(fix);
                data_.clear();
                state_ = State::Hunt;
            }
            return;
    }
}

void ZodiacParser::handle_message(FixRecord& fix) {
    std::uint16_t sum = 0;
    for (auto w : data_) sum = static_cast<std::uint16_t>(sum + w);
    if (sum == 0) {
        const std::uint16_t id = header_[1];
        switch (id) {
            case 1000: decode_1000(fix); break;
            case 1002: decode_1002(fix); break;
            case 1003: decode_1003(fix); break;
            case 1005: report_1005(); break;
            default: break;
        }
        if (const char* name = message_name(id))
            std::snprintf(fix.last_message, sizeof fix.last_message, "Rockwell %d - %s", id, name);
        else
            std::snprintf(fix.last_message, sizeof fix.last_message, "Rockwell %d - other Zodiac message", id);
    }
    if (eartha_pending_ == 1) send_init();
}

namespace {

std::int32_t signed_pair(const std::vector<std::uint16_t>& w, std::size_t i) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(w[i]) | (static_cast<std::uint32_t>(w[i + 1]) << 16));
}

std::uint32_t unsigned_pair(const std::vector<std::uint16_t>& w, std::size_t i) {
    return static_cast<std::uint32_t>(w[i]) | (static_cast<std::uint32_t>(w[i + 1]) << 16);
}

}  // namespace

void ZodiacParser::decode_1000(FixRecord& fix) const {
    const std::size_t words = data_.size() - 1;
    if (words < kWords1000) return;
    const auto& w = data_;
    set_receiver_time(fix, w[15], w[14], w[13], w[16], w[17], w[18]);
    // A position off the globe is a damaged message: nothing of its navigation part is stored.
    const double latitude = signed_pair(w, 21) / 1e8 * 180.0 / std::numbers::pi;
    const double longitude = signed_pair(w, 23) / 1e8 * 180.0 / std::numbers::pi;
    if (!valid_coordinates(latitude, longitude)) return;
    fix.latitude = latitude;
    fix.longitude = longitude;
    ++fix.positions;
    fix.altitude = signed_pair(w, 25) / 100.0;
    fix.speed_knots = unsigned_pair(w, 28) / 100.0 * 1.94387;
    fix.course = w[30] * 180.0 / 3141.592653589793;
    const std::uint16_t status = w[4];
    if ((status & 0x1C) == 0)
        fix.fix_dimension = (status & 1) ? 2 : 3;
    else
        fix.fix_dimension = 0;
}

void ZodiacParser::decode_1002(FixRecord& fix) const {
    if (data_.size() - 1 < kWords1002) return;
    for (auto& sat : fix.satellites) sat.used = 0;
    for (std::size_t channel = 0; channel < 12; ++channel) {
        const std::size_t base = 9 + 3 * channel;
        const int prn = data_[base + 1];
        for (auto& sat : fix.satellites) {
            if (sat.prn == prn) {
                sat.used = data_[base] & 1;
                sat.snr = data_[base + 2];
                break;
            }
        }
    }
}

void ZodiacParser::decode_1003(FixRecord& fix) const {
    if (data_.size() - 1 < kWords1003) return;
    fix.sats_in_view = data_[8];
    for (int entry = 0; entry < kSatelliteSlots; ++entry) {
        auto& sat = fix.satellites[static_cast<std::size_t>(entry)];
        if (entry < fix.sats_in_view) {
            const std::size_t base = 9 + 3 * static_cast<std::size_t>(entry);
            sat.prn = data_[base];
            sat.azimuth = static_cast<int>(data_[base + 1] * 180 / 31415.926535897932);
            sat.elevation = static_cast<int>(data_[base + 2] * 180 / 31415.926535897932);
        } else {
            sat.prn = 0;
            sat.azimuth = 0;
            sat.elevation = 0;
        }
    }
}

void ZodiacParser::report_1005() const {
    if (!diagnostics_) return;
    const std::size_t words = data_.size() - 1;
    if (words < kWords1005) return;
    const auto& w = data_;
    std::fprintf(diagnostics_, "Station bad: %d\n", w[3] & 1);
    std::fprintf(diagnostics_, "User disabled: %d\n", (w[3] >> 1) & 1);
    std::fprintf(diagnostics_, "Station ID: %d\n", w[4]);
    std::fprintf(diagnostics_, "Age of last correction in seconds: %d\n", w[5]);
    std::fprintf(diagnostics_, "Number of corrections: %d\n", w[6]);
    // Only the correction words the message really holds are read.
    const std::size_t count = std::min<std::size_t>(w[6], words - kWords1005);
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned c = w[kWords1005 + i];
        std::fprintf(diagnostics_, "Sat%02d:ephemeris:%drtcm corrections:%drtcm udre:%dsat health:%d"
                                   "rtcm sat health:%dcorrections state:%diode mismatch:%d",
                     c & 0x3F, (c >> 6) & 1, (c >> 7) & 1, (c >> 8) & 1, (c >> 9) & 1, (c >> 10) & 1, (c >> 11) & 1,
                     (c >> 12) & 1);
    }
}

void ZodiacParser::send_init() {
    eartha_pending_ = -1;
    const auto lines = read_position_lines(context_.pos_file);
    if (!lines) return;
    const std::tm utc = context_utc_time(context_);
    const std::uint16_t before = init_sequence_;
    init_sequence_ = before > 32767 ? 0 : static_cast<std::uint16_t>(before + 1);
    const auto message = zodiac_init_message(init_sequence_, *lines, utc);
    // Header and data in two writes, as the receiver expects them.
    send(message.data(), 10);
    send(message.data() + 10, message.size() - 10);
}

}  // namespace vg
