#include "gps/nmea.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>

#include "gps/ais_feed.h"

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
    static constexpr int kMax = 24;

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
    int size() const { return count_; }

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
    // An angle off the globe (latitude beyond 90, longitude beyond 180) is no position.
    const bool latitude = negative == 'S';
    if (!(latitude ? valid_coordinates(angle, 0) : valid_coordinates(0, angle))) return std::nullopt;
    return angle;
}

// A sentence's position is taken whole or not at all: a latitude without a usable longitude (or the
// other way round) would make a position no sentence reported.
void take_position(std::optional<double> lat, std::optional<double> lon, FixRecord& fix) {
    if (!lat || !lon) return;
    if (*lat != fix.latitude) fix.latitude = *lat;
    if (*lon != fix.longitude) fix.longitude = *lon;
    ++fix.positions;
}

void position_from(const Fields& f, int n, FixRecord& fix) {
    take_position(read_angle(f[n], f[n + 1], 'S'), read_angle(f[n + 2], f[n + 3], 'W'), fix);
}

using Take = NmeaParser::Take;

void handle_rmc(const Fields& f, FixRecord& fix, Take take) {
    if (take.fields) {
        auto date = read_three_pairs(f[9]);
        auto time = read_three_pairs(f[1]);
        if (date && time) {
            int year = (*date)[2] < 70 ? 2000 + (*date)[2] : 1900 + (*date)[2];
            set_receiver_time(fix, year, (*date)[1], (*date)[0], (*time)[0], (*time)[1], (*time)[2]);
        }
        if (f[2] != "V" && fix.fix_dimension == 0) fix.fix_dimension = 1;
        if (auto speed = read_double(f[7])) fix.speed_knots = *speed;
        if (auto course = read_double(f[8])) fix.course = *course;
    }
    if (take.position) position_from(f, 3, fix);
}

void handle_gga(const Fields& f, FixRecord& fix, Take take) {
    if (take.position) position_from(f, 2, fix);
    if (!take.fields) return;
    if (auto altitude = read_double(f[9])) fix.altitude = *altitude;
    // Quality, and the corrections' age and station (empty without corrections).
    if (auto quality = read_int(f[6]); quality && *quality >= 0 && *quality <= 8) fix.quality = *quality;
    const auto age = read_double(f[13]);
    fix.correction_age = age && *age >= 0 && *age < 1e6 ? *age : std::nan("");
    const auto station = read_int(f[14]);
    fix.station_id = station && *station >= 0 && *station <= 4095 ? *station : -1;
}

// GST: the receiver's error estimates; the horizontal one from the latitude and longitude sigmas.
void handle_gst(const Fields& f, FixRecord& fix) {
    const auto lat = read_double(f[6]), lon = read_double(f[7]);
    if (lat && lon && *lat >= 0 && *lon >= 0 && *lat < 1e6 && *lon < 1e6) fix.h_error_m = std::hypot(*lat, *lon);
}

// ---- Talkers and the sky of every system --------------------------------------------------------------

enum class Talker { Other, Gp, Gn, Gl, Ga, Gb, Gq, Gi };

Talker talker_of(std::string_view text) {
    const std::string_view t = text.substr(0, 2);
    if (t == "GP") return Talker::Gp;
    if (t == "GN") return Talker::Gn;
    if (t == "GL") return Talker::Gl;
    if (t == "GA") return Talker::Ga;
    if (t == "GB" || t == "BD") return Talker::Gb;
    if (t == "GQ") return Talker::Gq;
    if (t == "GI") return Talker::Gi;
    return Talker::Other;
}

// The combined solution (GN) outranks GPS alone (GP), which outranks a single other system.
int position_rank(Talker talker) { return talker == Talker::Gn ? 3 : talker == Talker::Gp ? 2 : 1; }

GnssSystem system_of(Talker talker, int prn) {
    switch (talker) {
    case Talker::Gl: return GnssSystem::Glonass;
    case Talker::Ga: return GnssSystem::Galileo;
    case Talker::Gb: return GnssSystem::Beidou;
    case Talker::Gq: return GnssSystem::Qzss;
    case Talker::Gi: return GnssSystem::Navic;
    default: return gnss_system_of_prn(prn);
    }
}

// The system ID field of a GSA (NMEA 4.10 and later).
std::optional<GnssSystem> system_from_id(std::string_view field) {
    auto id = read_int(field);
    if (!id) return std::nullopt;
    switch (*id) {
    case 1: return GnssSystem::Gps;
    case 2: return GnssSystem::Glonass;
    case 3: return GnssSystem::Galileo;
    case 4: return GnssSystem::Beidou;
    case 5: return GnssSystem::Qzss;
    case 6: return GnssSystem::Navic;
    default: return std::nullopt;
    }
}

using SystemSet = unsigned;
SystemSet bit(GnssSystem system) { return 1u << static_cast<unsigned>(system); }

// Satellites no report has named for this many report groups are gone (their system stopped reporting).
constexpr unsigned kSkyAgeLimit = 32;

void remove_sky_if(FixRecord& fix, auto&& gone) {
    int kept = 0;
    for (int i = 0; i < fix.sky_count; ++i)
        if (!gone(fix.sky[static_cast<std::size_t>(i)])) fix.sky[static_cast<std::size_t>(kept++)] = fix.sky[static_cast<std::size_t>(i)];
    for (int i = kept; i < fix.sky_count; ++i) fix.sky[static_cast<std::size_t>(i)] = SkyEntry{};
    fix.sky_count = kept;
}

SkyEntry* find_sky(FixRecord& fix, GnssSystem system, int prn) {
    for (int i = 0; i < fix.sky_count; ++i) {
        SkyEntry& e = fix.sky[static_cast<std::size_t>(i)];
        if (e.system == system && e.prn == prn) return &e;
    }
    return nullptr;
}

// A satellite report group: the 12 GPS slots from GP reports as before, and the sky table from every
// talker. NMEA 4.10 adds a signal ID after the last satellite; only the first signal's report (or
// one without a signal ID) sets the 12 slots and the signal strengths and decides which satellites
// have set.
void handle_gsv(const Fields& f, FixRecord& fix, Talker talker) {
    const bool has_signal = f.size() >= 5 && (f.size() - 4) % 4 == 1 && f[f.size() - 1].size() <= 1;
    const std::string_view signal = has_signal ? f[f.size() - 1] : std::string_view();
    const bool primary = signal.empty() || signal == "0" || signal == "1";
    auto message = read_int(f[2]);
    auto in_view = read_int(f[3]);
    auto total = read_int(f[1]);

    if (talker == Talker::Gp && primary) {
        // A negative count is nonsense; keep the previous one.
        if (in_view && *in_view >= 0) fix.sats_in_view = *in_view;
        if (message && *message >= 1 && *message <= kSatelliteSlots / 4) {
            const int limit = std::min(fix.sats_in_view, kSatelliteSlots);
            for (int k = 0; k < 4; ++k) {
                const int slot = 4 * (*message - 1) + k;
                if (slot >= limit) break;
                SatelliteEntry& sat = fix.satellites[static_cast<std::size_t>(slot)];
                const int base = 4 + 4 * k;
                if (auto v = read_int(f[base])) sat.prn = *v;
                if (auto v = read_int(f[base + 1])) sat.elevation = *v;
                if (auto v = read_int(f[base + 2])) sat.azimuth = *v;
                if (auto v = read_int(f[base + 3])) sat.snr = *v;
            }
        }
    }

    if (!message || *message < 1 || *message > 16) return;
    if (*message == 1) {
        ++fix.sky_clock;
        const unsigned now = fix.sky_clock;
        remove_sky_if(fix, [now](const SkyEntry& e) { return now - e.seen > kSkyAgeLimit; });
    }
    const int groups = has_signal ? (f.size() - 5) / 4 : (f.size() - 4) / 4;
    const int listed = (in_view && *in_view >= 0) ? std::min(*in_view - 4 * (*message - 1), 4) : 4;
    SystemSet reported = 0;
    for (int k = 0; k < std::min(groups, listed); ++k) {
        const int base = 4 + 4 * k;
        auto prn = read_int(f[base]);
        if (!prn || *prn <= 0) continue;
        const GnssSystem system = system_of(talker, *prn);
        reported |= bit(system);
        SkyEntry* entry = find_sky(fix, system, *prn);
        const bool fresh = entry == nullptr;
        if (fresh) {
            if (fix.sky_count >= kSkyEntries) continue;
            entry = &fix.sky[static_cast<std::size_t>(fix.sky_count++)];
            *entry = SkyEntry{};
            entry->system = system;
            entry->prn = *prn;
        }
        if (auto v = read_int(f[base + 1])) entry->elevation = *v;
        if (auto v = read_int(f[base + 2])) entry->azimuth = *v;
        if (primary || fresh)
            if (auto v = read_int(f[base + 3])) entry->snr = *v;
        entry->seen = fix.sky_clock;
    }
    // The last report of a group names every satellite of its systems still in view.
    if (primary && total && *message == *total && reported != 0) {
        const unsigned now = fix.sky_clock;
        remove_sky_if(fix, [&](const SkyEntry& e) { return (reported & bit(e.system)) && e.seen != now; });
    }
}

// Fix dimension from any talker. The used flags: a GSA speaks for the systems of its talker (GP: GPS
// and SBAS), of its system ID (NMEA 4.10), or else of the satellite numbers it lists, so one GSA per
// system in an epoch leaves the others' flags alone; a GN GSA with neither speaks for all. The 12 GPS
// slots change only for a GSA that speaks for GPS.
void handle_gsa(const Fields& f, FixRecord& fix, Talker talker) {
    if (auto mode = read_int(f[2])) fix.fix_dimension = (*mode == 1) ? 0 : *mode;
    std::array<int, 12> listed{};
    int count = 0;
    for (int n = 3; n <= 14; ++n)
        if (auto prn = read_int(f[n])) listed[static_cast<std::size_t>(count++)] = *prn;

    std::optional<GnssSystem> fixed_system;
    if (talker != Talker::Gp && talker != Talker::Gn) fixed_system = system_of(talker, 0);
    else if (talker == Talker::Gn) fixed_system = system_from_id(f[18]);
    auto system_for = [&](int prn) { return fixed_system ? *fixed_system : gnss_system_of_prn(prn); };

    SystemSet covered = 0;
    if (talker == Talker::Gp) covered = bit(GnssSystem::Gps) | bit(GnssSystem::Sbas);
    else if (fixed_system) covered = bit(*fixed_system);
    for (int i = 0; i < count; ++i) covered |= bit(system_for(listed[static_cast<std::size_t>(i)]));
    // A combined report that names no system and no satellite: none is used (the fix is lost).
    if (talker == Talker::Gn && !fixed_system && count == 0) covered = ~0u;

    if (talker == Talker::Gp || (covered & bit(GnssSystem::Gps))) {
        for (auto& sat : fix.satellites) sat.used = 0;
        for (int i = 0; i < count; ++i) {
            const int prn = listed[static_cast<std::size_t>(i)];
            if (talker != Talker::Gp && system_for(prn) != GnssSystem::Gps) continue;
            for (auto& sat : fix.satellites)
                if (sat.prn == prn) sat.used = 1;
        }
    }
    for (int i = 0; i < fix.sky_count; ++i) {
        SkyEntry& e = fix.sky[static_cast<std::size_t>(i)];
        if (covered & bit(e.system)) e.used = 0;
    }
    for (int i = 0; i < count; ++i) {
        const int prn = listed[static_cast<std::size_t>(i)];
        if (SkyEntry* e = find_sky(fix, system_for(prn), prn)) e->used = 1;
    }
}

// Hours, minutes and seconds (with any fraction) of a time field, in milliseconds; -1 when unreadable.
long long time_of_day_ms(std::string_view field) {
    auto hms = read_three_pairs(field);
    if (!hms) return -1;
    double fraction = 0;
    if (field.size() > 6 && field[6] == '.')
        if (auto v = read_double(field.substr(6))) {
            if (!(*v >= 0 && *v < 1)) return -1;  // ".5e300" is no fraction of a second
            fraction = *v;
        }
    return (((*hms)[0] * 60LL + (*hms)[1]) * 60LL + (*hms)[2]) * 1000LL + std::llround(fraction * 1000.0);
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
    take_position(read_angle(nmea_field(text, n), nmea_field(text, n + 1), 'S'),
                  read_angle(nmea_field(text, n + 2), nmea_field(text, n + 3), 'W'), fix);
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
    const Talker talker = talker_of(text);
    if (talker == Talker::Other) return;  // PRWIZCH (the receiver's channel report) and the rest
    const std::string_view type = text.substr(2, 3);
    const bool more = text.size() == 5 || (text.size() > 5 && (text[5] == ',' || text[5] == '*'));
    if (!more && talker != Talker::Gp) return;
    if (type == "RMC" || type == "GGA" || type == "GLL") {
        const Fields f(text);
        const int kind = type == "RMC" ? 0 : type == "GGA" ? 1 : 2;
        const int first = type == "RMC" ? 3 : type == "GGA" ? 2 : 1;
        const Take take = epoch_take(kind, position_rank(talker), f[type == "GLL" ? 5 : 1], !f[first].empty());
        if (kind == 0) handle_rmc(f, fix, take);
        else if (kind == 1) handle_gga(f, fix, take);
        else if (take.position) position_from(f, 1, fix);
        if (take.position && (!f[first].empty() || !f[first + 2].empty())) {
            fix.talker[0] = text[0];
            fix.talker[1] = text[1];
            fix.talker[2] = '\0';
        }
    } else if (type == "GST") {
        handle_gst(Fields(text), fix);
    } else if (type == "GSA") {
        handle_gsa(Fields(text), fix, talker);
    } else if (type == "GSV") {
        handle_gsv(Fields(text), fix, talker);
    }
}

NmeaParser::Take NmeaParser::epoch_take(int kind, int rank, std::string_view time_field, bool has_position) {
    const long long t = time_of_day_ms(time_field);
    if (t >= 0 && t != epoch_.time_ms) epoch_ = Epoch{t, 0, {0, 0, 0}};
    Take take{rank >= epoch_.kind_rank[kind], rank >= epoch_.position_rank};
    epoch_.kind_rank[kind] = std::max(epoch_.kind_rank[kind], rank);
    if (has_position) epoch_.position_rank = std::max(epoch_.position_rank, rank);
    return take;
}

void NmeaParser::complete_line(std::string_view line, FixRecord& fix) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    // The text ends at its first NUL byte, as a C string would.
    if (const std::size_t nul = line.find('\0'); nul != std::string_view::npos) line = line.substr(0, nul);
    if (!line.empty() && line.front() == '$') {
        nmea_dispatch(line.substr(1), fix);
    } else if (line.substr(0, 6) == "ASTRAL") {
        if (astral_) astral_(line);
    } else if (!line.empty() && line.front() == '!') {
        if (ais_) ais_->sentence(line);
    }
}

void NmeaParser::nmea_feed(const std::uint8_t* data, std::size_t size, FixRecord& fix) {
    if (data == nullptr) return;
    lines_.feed(reinterpret_cast<const char*>(data), size, [&](std::string_view line) { complete_line(line, fix); });
}

}  // namespace vg
