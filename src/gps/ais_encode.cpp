#include "gps/ais_encode.h"

#include <cstdint>
#include <cstdio>
#include <string_view>

namespace vg::ais {

namespace {

class BitWriter {
public:
    // The low `width` bits of `value` (two's complement for signed fields), most significant first.
    void put(std::int64_t value, int width) {
        for (int i = width - 1; i >= 0; --i) bits_.push_back(static_cast<std::uint8_t>((static_cast<std::uint64_t>(value) >> i) & 1));
    }
    void put_bool(bool b) { put(b ? 1 : 0, 1); }
    // `characters` 6-bit characters, padded with '@'.
    void put_text(std::string_view text, int characters) {
        for (int i = 0; i < characters; ++i) {
            const unsigned char c = i < static_cast<int>(text.size()) ? static_cast<unsigned char>(text[static_cast<std::size_t>(i)]) : '@';
            int v = '?';
            if (c >= 64 && c < 96) v = c - 64;
            else if (c >= 'a' && c <= 'z') v = c - 'a' + 1;  // lower case as upper case
            else if (c >= 32 && c < 64) v = c;
            put(v, 6);
        }
    }
    // The armoured payload and its fill bits.
    std::pair<std::string, int> armour() const {
        std::string out;
        const std::size_t chars = (bits_.size() + 5) / 6;
        for (std::size_t k = 0; k < chars; ++k) {
            int v = 0;
            for (std::size_t b = 0; b < 6; ++b) {
                const std::size_t at = 6 * k + b;
                v = (v << 1) | (at < bits_.size() ? bits_[at] : 0);
            }
            int ch = v + 48;
            if (ch > 87) ch += 8;
            out.push_back(static_cast<char>(ch));
        }
        return {out, static_cast<int>(6 * chars - bits_.size())};
    }

private:
    std::vector<std::uint8_t> bits_;
};

void put_header(BitWriter& w, const Message& m) {
    w.put(m.type, 6);
    w.put(m.repeat, 2);
    w.put(m.mmsi, 30);
}

std::string with_checksum(const std::string& body) {
    unsigned sum = 0;
    for (const unsigned char c : body) sum ^= c;
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", sum & 0xFF);
    return "!" + body + tail;
}

}  // namespace

std::vector<std::string> encode_sentences(const Message& m, int sequence_id, char channel) {
    BitWriter w;
    put_header(w, m);
    switch (m.type) {
    case 1: case 2: case 3:
        w.put(m.status, 4);
        w.put(m.turn, 8);
        w.put(m.speed, 10);
        w.put_bool(m.accuracy);
        w.put(m.lon, 28);
        w.put(m.lat, 27);
        w.put(m.course, 12);
        w.put(m.heading, 9);
        w.put(m.second, 6);
        w.put(m.maneuver, 2);
        w.put(0, 3);
        w.put_bool(m.raim);
        w.put(m.radio, 19);
        break;
    case 18:
        w.put(m.reserved, 8);
        w.put(m.speed, 10);
        w.put_bool(m.accuracy);
        w.put(m.lon, 28);
        w.put(m.lat, 27);
        w.put(m.course, 12);
        w.put(m.heading, 9);
        w.put(m.second, 6);
        w.put(m.regional, 2);
        for (const bool b : {m.cs, m.display, m.dsc, m.band, m.msg22, m.assigned, m.raim}) w.put_bool(b);
        w.put(m.radio, 20);
        break;
    case 5:
        w.put(m.ais_version, 2);
        w.put(m.imo, 30);
        w.put_text(m.callsign, 7);
        w.put_text(m.shipname, 20);
        w.put(m.shiptype, 8);
        w.put(m.to_bow, 9);
        w.put(m.to_stern, 9);
        w.put(m.to_port, 6);
        w.put(m.to_starboard, 6);
        w.put(m.epfd, 4);
        w.put(m.eta_month, 4);
        w.put(m.eta_day, 5);
        w.put(m.eta_hour, 5);
        w.put(m.eta_minute, 6);
        w.put(m.draught, 8);
        w.put_text(m.destination, 20);
        w.put_bool(m.dte);
        w.put(0, 1);
        break;
    case 24:
        if (m.partno != 0) return {};
        w.put(0, 2);
        w.put_text(m.shipname, 20);
        w.put(0, 8);
        break;
    default:
        return {};
    }
    const auto [payload, fill] = w.armour();
    const std::size_t count = (payload.size() + kMostPayloadCharacters - 1) / kMostPayloadCharacters;
    std::vector<std::string> out;
    for (std::size_t i = 0; i < count; ++i) {
        const bool last = i + 1 == count;
        std::string body = "AIVDM," + std::to_string(count) + "," + std::to_string(i + 1) + ",";
        if (count > 1) body += std::to_string(sequence_id % 10);
        body += ',';
        body += channel;
        body += ',';
        body += payload.substr(i * kMostPayloadCharacters, kMostPayloadCharacters);
        body += ',';
        body += std::to_string(last ? fill : 0);
        out.push_back(with_checksum(body));
    }
    return out;
}

}  // namespace vg::ais
