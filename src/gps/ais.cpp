#include "gps/ais.h"

#include <algorithm>
#include <charconv>

namespace vg::ais {
namespace {

constexpr std::size_t kMaxFragments = 5;
constexpr std::size_t kMaxPayload = kMaxFragments * 82;
constexpr std::size_t kMaxPending = 8;

class Bits {
public:
    explicit Bits(const std::vector<std::uint8_t>& bits) : bits_(bits) {}
    std::size_t size() const { return bits_.size(); }
    std::uint32_t u(std::size_t start, int width) const {
        std::uint32_t v = 0;
        for (int i = 0; i < width; ++i) {
            const std::size_t at = start + std::size_t(i);
            v = (v << 1) | (at < bits_.size() ? bits_[at] : 0u);
        }
        return v;
    }
    std::int32_t s(std::size_t start, int width) const {
        const std::uint32_t v = u(start, width);
        const std::uint32_t sign = 1u << (width - 1);
        return static_cast<std::int32_t>((v ^ sign)) - static_cast<std::int32_t>(sign);
    }
    bool b(std::size_t start) const { return u(start, 1) != 0; }
    // Six-bit text of `chars` characters, ending at the first '@' (the padding character), trailing
    // spaces removed.
    std::string text(std::size_t start, std::size_t chars) const {
        static constexpr char kSix[] = "@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_ !\"#$%&'()*+,-./0123456789:;<=>?";
        std::string out;
        for (std::size_t i = 0; i < chars && start + 6 * i + 6 <= bits_.size(); ++i) {
            const char c = kSix[u(start + 6 * i, 6)];
            if (c == '@') break;
            out += c;
        }
        while (!out.empty() && out.back() == ' ') out.pop_back();
        return out;
    }

private:
    const std::vector<std::uint8_t>& bits_;
};

// The distances from the reference point to bow, stern, port and starboard (9, 9, 6 and 6 bits).
void dimensions(const Bits& b, std::size_t at, Message& m) {
    m.to_bow = int(b.u(at, 9));
    m.to_stern = int(b.u(at + 9, 9));
    m.to_port = int(b.u(at + 18, 6));
    m.to_starboard = int(b.u(at + 24, 6));
}

bool checksum_ok(std::string_view body, std::string_view hex) {
    unsigned sum = 0;
    for (char c : body) sum ^= static_cast<unsigned char>(c);
    unsigned want = 0;
    if (hex.size() < 2) return false;
    const auto r = std::from_chars(hex.data(), hex.data() + 2, want, 16);
    return r.ec == std::errc() && r.ptr == hex.data() + 2 && want == sum;
}

std::vector<std::string_view> split(std::string_view s, char sep) {
    std::vector<std::string_view> out;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= s.size(); ++i) {
        if (i == s.size() || s[i] == sep) {
            out.push_back(s.substr(start, i - start));
            start = i + 1;
        }
    }
    return out;
}

bool small_number(std::string_view s, int& v, int lo, int hi) {
    if (s.empty() || s.size() > 3) return false;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    return r.ec == std::errc() && r.ptr == s.data() + s.size() && v >= lo && v <= hi;
}

// The minimum length in bits of each decoded type's fields.
std::size_t needed_bits(int type, const Bits& b) {
    switch (type) {
    case 1: case 2: case 3: return 163;  // some transmitters cut the radio status short
    case 4: case 18: return 168;
    case 5: return 420;  // the last spare bits are often cut
    case 19: return 312;
    case 21: return 272;
    case 24: return b.u(38, 2) == 0 ? 160 : 162;
    case 27: return 96;
    default: return 38;
    }
}

}  // namespace

bool Message::has_position() const {
    if (type == 27) return lon != 181 * 600 && lat != 91 * 600;
    return lon != 181 * 600000 && lat != 91 * 600000;
}

std::optional<double> Message::longitude_deg() const {
    const bool positioned = type <= 4 || type == 18 || type == 19 || type == 21 || type == 27;
    if (!decoded || !positioned || !has_position()) return std::nullopt;
    return lon / (type == 27 ? 600.0 : 600000.0);
}

std::optional<double> Message::latitude_deg() const {
    if (!longitude_deg()) return std::nullopt;
    return lat / (type == 27 ? 600.0 : 600000.0);
}

std::optional<Message> decode_bits(const std::vector<std::uint8_t>& bits, std::string& error) {
    const Bits b(bits);
    if (b.size() < 38) {
        error = "message too short";
        return std::nullopt;
    }
    Message m;
    m.type = int(b.u(0, 6));
    m.repeat = int(b.u(6, 2));
    m.mmsi = b.u(8, 30);
    if (b.size() < needed_bits(m.type, b)) {
        error = "type " + std::to_string(m.type) + " message too short (" + std::to_string(b.size()) + " bits)";
        return std::nullopt;
    }
    switch (m.type) {
    case 1: case 2: case 3:
        m.status = int(b.u(38, 4));
        m.turn = b.s(42, 8);
        m.speed = int(b.u(50, 10));
        m.accuracy = b.b(60);
        m.lon = b.s(61, 28);
        m.lat = b.s(89, 27);
        m.course = int(b.u(116, 12));
        m.heading = int(b.u(128, 9));
        m.second = int(b.u(137, 6));
        m.maneuver = int(b.u(143, 2));
        m.raim = b.b(148);
        m.radio = b.u(149, int(std::min<std::size_t>(19, b.size() - 149)));
        break;
    case 4:
        m.year = int(b.u(38, 14));
        m.month = int(b.u(52, 4));
        m.day = int(b.u(56, 5));
        m.hour = int(b.u(61, 5));
        m.minute = int(b.u(66, 6));
        m.second = int(b.u(72, 6));
        m.accuracy = b.b(78);
        m.lon = b.s(79, 28);
        m.lat = b.s(107, 27);
        m.epfd = int(b.u(134, 4));
        m.raim = b.b(148);
        m.radio = b.u(149, 19);
        break;
    case 5:
        m.ais_version = int(b.u(38, 2));
        m.imo = b.u(40, 30);
        m.callsign = b.text(70, 7);
        m.shipname = b.text(112, 20);
        m.shiptype = int(b.u(232, 8));
        dimensions(b, 240, m);
        m.epfd = int(b.u(270, 4));
        m.eta_month = int(b.u(274, 4));
        m.eta_day = int(b.u(278, 5));
        m.eta_hour = int(b.u(283, 5));
        m.eta_minute = int(b.u(288, 6));
        m.draught = int(b.u(294, 8));
        m.destination = b.text(302, 20);
        m.dte = b.b(422);
        break;
    case 18: case 19:
        m.reserved = int(b.u(38, 8));
        m.speed = int(b.u(46, 10));
        m.accuracy = b.b(56);
        m.lon = b.s(57, 28);
        m.lat = b.s(85, 27);
        m.course = int(b.u(112, 12));
        m.heading = int(b.u(124, 9));
        m.second = int(b.u(133, 6));
        if (m.type == 18) {
            m.regional = int(b.u(139, 2));
            m.cs = b.b(141);
            m.display = b.b(142);
            m.dsc = b.b(143);
            m.band = b.b(144);
            m.msg22 = b.b(145);
            m.assigned = b.b(146);
            m.raim = b.b(147);
            m.radio = b.u(148, 20);
        } else {
            m.regional = int(b.u(139, 4));
            m.shipname = b.text(143, 20);
            m.shiptype = int(b.u(263, 8));
            dimensions(b, 271, m);
            m.epfd = int(b.u(301, 4));
            m.raim = b.b(305);
            m.dte = b.b(306);
            m.assigned = b.b(307);
        }
        break;
    case 21:
        m.aid_type = int(b.u(38, 5));
        m.shipname = b.text(43, 20);
        m.accuracy = b.b(163);
        m.lon = b.s(164, 28);
        m.lat = b.s(192, 27);
        dimensions(b, 219, m);
        m.epfd = int(b.u(249, 4));
        m.second = int(b.u(253, 6));
        m.off_position = b.b(259);
        m.regional = int(b.u(260, 8));
        m.raim = b.b(268);
        m.virtual_aid = b.b(269);
        m.assigned = b.b(270);
        // The name's extension: whole characters after the fixed part.
        if (m.shipname.size() == 20 && b.size() > 272) m.shipname += b.text(272, (b.size() - 272) / 6);
        break;
    case 24:
        m.partno = int(b.u(38, 2));
        if (m.partno == 0) {
            m.shipname = b.text(40, 20);
        } else if (m.partno == 1) {
            m.shiptype = int(b.u(40, 8));
            m.vendorid = b.text(48, 7);
            m.model = int(b.u(66, 4));
            m.serial = b.u(70, 20);
            m.callsign = b.text(90, 7);
            if (m.mmsi / 10000000 == 98) {
                m.mothership_mmsi = b.u(132, 30);
            } else {
                dimensions(b, 132, m);
            }
        } else {
            error = "type 24 message with part number " + std::to_string(m.partno);
            return std::nullopt;
        }
        break;
    case 27:
        m.accuracy = b.b(38);
        m.raim = b.b(39);
        m.status = int(b.u(40, 4));
        m.lon = b.s(44, 18);
        m.lat = b.s(62, 17);
        m.speed = int(b.u(79, 6));
        m.course = int(b.u(85, 9));
        m.gnss = b.b(94);
        break;
    default:
        return m;  // recognised, not decoded
    }
    m.decoded = true;
    return m;
}

std::optional<Message> decode_payload(std::string_view payload, int fill, std::string& error) {
    if (payload.size() > kMaxPayload) {
        error = "payload too long";
        return std::nullopt;
    }
    std::vector<std::uint8_t> bits;
    bits.reserve(payload.size() * 6);
    for (char c : payload) {
        int v = static_cast<unsigned char>(c);
        if (v < 48 || v > 119 || (v > 87 && v < 96)) {
            error = "bad payload character";
            return std::nullopt;
        }
        v -= 48;
        if (v > 40) v -= 8;
        for (int i = 5; i >= 0; --i) bits.push_back(static_cast<std::uint8_t>((v >> i) & 1));
    }
    if (fill < 0 || fill > 5 || std::size_t(fill) > bits.size()) {
        error = "bad fill bits";
        return std::nullopt;
    }
    bits.resize(bits.size() - std::size_t(fill));
    return decode_bits(bits, error);
}

std::optional<Message> AisAssembler::feed_line(std::string_view line) {
    error_.clear();
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    // A tag block ("\s:station,c:time*hh\") before the sentence is skipped.
    if (!line.empty() && line.front() == '\\') {
        const auto end = line.find('\\', 1);
        if (end == std::string_view::npos) return std::nullopt;
        line.remove_prefix(end + 1);
    }
    if (line.size() < 7 || line[0] != '!' || (line.substr(3, 3) != "VDM" && line.substr(3, 3) != "VDO")) return std::nullopt;
    ++sentences_;
    const auto reject = [&](const char* why) -> std::optional<Message> {
        error_ = why;
        ++rejected_;
        return std::nullopt;
    };
    const auto star = line.rfind('*');
    if (star == std::string_view::npos || !checksum_ok(line.substr(1, star - 1), line.substr(star + 1)))
        return reject("bad checksum");
    const auto f = split(line.substr(1, star - 1), ',');
    if (f.size() != 7) return reject("wrong number of fields");
    int count = 0, number = 0, fill = 0;
    if (!small_number(f[1], count, 1, int(kMaxFragments)) || !small_number(f[2], number, 1, count) ||
        !small_number(f[6], fill, 0, 5))
        return reject("bad fragment fields");
    if (f[5].size() > 82) return reject("payload too long");
    const bool own = f[0].substr(2) == "VDO";
    auto finish = [&](std::string_view payload, int pad) -> std::optional<Message> {
        std::string error;
        auto m = decode_payload(payload, pad, error);
        if (!m) return reject(error.c_str());
        m->own = own;
        return m;
    };
    if (count == 1) return finish(f[5], fill);

    const std::string key = std::string(f[0].substr(0, 2)) + "," + std::string(f[3]) + "," + std::string(f[4]);
    auto it = std::find_if(pending_.begin(), pending_.end(), [&](const Pending& p) { return p.key == key; });
    if (number == 1) {
        if (it == pending_.end()) {
            if (pending_.size() >= kMaxPending)
                pending_.erase(std::min_element(pending_.begin(), pending_.end(),
                                                [](const Pending& a, const Pending& b) { return a.age < b.age; }));
            pending_.push_back(Pending{});
            it = pending_.end() - 1;
        }
        *it = Pending{key, count, 2, std::string(f[5]), 0, sentences_};
        return std::nullopt;
    }
    if (it == pending_.end() || it->count != count || it->next != number) {
        if (it != pending_.end()) pending_.erase(it);
        return reject("fragment out of order");
    }
    it->payload += f[5];
    it->age = sentences_;
    if (number < count) {
        ++it->next;
        return std::nullopt;
    }
    const std::string payload = std::move(it->payload);
    pending_.erase(it);
    return finish(payload, fill);
}

}  // namespace vg::ais
