#include "gps/gpsd_json.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/c_number.h"
#include "settings/text_scan.h"

namespace vg {

namespace {

struct Member;

// A JSON value as far as the reports need one: objects, arrays, strings, numbers, true/false/null.
struct Value {
    enum class Kind { Null, Bool, Number, String, Array, Object } kind = Kind::Null;
    bool boolean = false;
    double number = 0;
    std::string string;
    std::vector<Value> array;
    std::vector<Member> object;  // in the report's order

    const Value* get(std::string_view key) const;
    std::optional<double> number_at(std::string_view key) const;
};

// One "key": value of an object. A struct of its own rather than a std::pair, which would need
// Value complete inside Value's own declaration (clang refuses that).
struct Member {
    std::string key;
    Value value;
};

const Value* Value::get(std::string_view key) const {
    for (const Member& m : object)
        if (m.key == key) return &m.value;
    return nullptr;
}

std::optional<double> Value::number_at(std::string_view key) const {
    const Value* v = get(key);
    if (!v || v->kind != Kind::Number || !std::isfinite(v->number)) return std::nullopt;
    return v->number;
}

// Reads one JSON text. Nesting deeper than kMaxDepth is refused, so hostile input cannot exhaust the
// stack; the text is at most one report line long, which bounds everything else.
class Reader {
public:
    explicit Reader(std::string_view text) : s_(text) {}

    std::optional<Value> read() {
        Value v;
        if (!value(v, 0)) return std::nullopt;
        space();
        if (i_ != s_.size()) return std::nullopt;
        return v;
    }

private:
    static constexpr int kMaxDepth = 8;

    void space() {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\r' || s_[i_] == '\n')) ++i_;
    }
    bool eat(char c) {
        space();
        if (i_ < s_.size() && s_[i_] == c) {
            ++i_;
            return true;
        }
        return false;
    }
    static int hex(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }
    bool string(std::string& out) {
        if (!eat('"')) return false;
        while (i_ < s_.size()) {
            const char c = s_[i_++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (i_ >= s_.size()) return false;
            const char e = s_[i_++];
            switch (e) {
            case '"': case '\\': case '/': out += e; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                if (s_.size() - i_ < 4) return false;
                unsigned code = 0;
                for (int k = 0; k < 4; ++k) {
                    const int h = hex(s_[i_++]);
                    if (h < 0) return false;
                    code = code * 16 + static_cast<unsigned>(h);
                }
                out += code < 0x80 ? static_cast<char>(code) : '?';  // reports name things in ASCII
                break;
            }
            default: return false;
            }
        }
        return false;
    }
    bool number(Value& v) {
        const std::size_t start = i_;
        while (i_ < s_.size() && std::strchr("+-0123456789.eE", s_[i_]) != nullptr && s_[i_] != '\0') ++i_;
        if (i_ == start || i_ - start > 64) return false;
        const auto number = whole_c_number(s_.substr(start, i_ - start));
        if (!number) return false;
        v.number = *number;
        v.kind = Value::Kind::Number;
        return true;
    }
    bool literal(std::string_view word) {
        if (s_.substr(i_, word.size()) != word) return false;
        i_ += word.size();
        return true;
    }
    bool value(Value& v, int depth) {
        if (depth > kMaxDepth) return false;
        space();
        if (i_ >= s_.size()) return false;
        const char c = s_[i_];
        if (c == '{') {
            ++i_;
            v.kind = Value::Kind::Object;
            if (eat('}')) return true;
            do {
                std::string key;
                Value item;
                if (!string(key) || !eat(':') || !value(item, depth + 1)) return false;
                v.object.push_back(Member{std::move(key), std::move(item)});
            } while (eat(','));
            return eat('}');
        }
        if (c == '[') {
            ++i_;
            v.kind = Value::Kind::Array;
            if (eat(']')) return true;
            do {
                Value item;
                if (!value(item, depth + 1)) return false;
                v.array.push_back(std::move(item));
            } while (eat(','));
            return eat(']');
        }
        if (c == '"') {
            v.kind = Value::Kind::String;
            return string(v.string);
        }
        if (literal("true")) {
            v.kind = Value::Kind::Bool;
            v.boolean = true;
            return true;
        }
        if (literal("false")) {
            v.kind = Value::Kind::Bool;
            return true;
        }
        if (literal("null")) return true;
        return number(v);
    }

    std::string_view s_;
    std::size_t i_ = 0;
};

// "2020-03-18T13:39:01.500Z": the whole seconds go to the record, as with NMEA.
void take_time(std::string_view t, FixRecord& fix) {
    if (t.size() < 19 || t[4] != '-' || t[7] != '-' || t[10] != 'T' || t[13] != ':' || t[16] != ':') return;
    const int year = fixed_digits(t, 0, 4), month = fixed_digits(t, 5, 2), day = fixed_digits(t, 8, 2);
    const int hour = fixed_digits(t, 11, 2), minute = fixed_digits(t, 14, 2), second = fixed_digits(t, 17, 2);
    if (year < 0 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 60)
        return;
    set_receiver_time(fix, year, month, day, hour, minute, second);
}

constexpr double kKnotsPerMetrePerSecond = 3600.0 / 1852.0;

void take_tpv(const Value& r, FixRecord& fix) {
    if (const Value* t = r.get("time"); t && t->kind == Value::Kind::String) take_time(t->string, fix);
    if (auto mode = r.number_at("mode")) {
        // A mode outside 0..3 (or NaN) is no mode: the field is ignored, never converted.
        if (*mode >= 2 && *mode < 4) fix.fix_dimension = static_cast<int>(*mode);
        else if (*mode >= 0 && *mode < 2) fix.fix_dimension = 0;
    }
    auto lat = r.number_at("lat");
    auto lon = r.number_at("lon");
    if (lat && lon && std::fabs(*lat) <= 90 && std::fabs(*lon) <= 180) {
        fix.latitude = *lat;
        fix.longitude = *lon;
        ++fix.positions;
    }
    auto alt = r.number_at("altMSL");
    if (!alt) alt = r.number_at("alt");
    if (alt && std::fabs(*alt) < 1e7) fix.altitude = *alt;
    if (auto speed = r.number_at("speed"); speed && *speed >= 0 && *speed < 1e6)
        fix.speed_knots = *speed * kKnotsPerMetrePerSecond;
    if (auto track = r.number_at("track"); track && *track >= 0 && *track <= 360) fix.course = *track;
    // gpsd's status (0 unknown, 1 GPS, 2 DGPS, 3 RTK fixed, 4 RTK float, 5 dead reckoning, 6 GNSS and
    // dead reckoning, 7 surveyed time, 8 simulated) as a GGA quality.
    if (auto status = r.number_at("status"); status && *status >= 0 && *status <= 9) {
        static constexpr int kQuality[] = {-1, 1, 2, 4, 5, 6, 6, 7, 8, 1};
        fix.quality = kQuality[static_cast<int>(*status)];
    }
    if (auto age = r.number_at("dgpsAge"); age && *age >= 0 && *age < 1e6) fix.correction_age = *age;
    if (auto station = r.number_at("dgpsSta"); station && *station >= 0 && *station <= 4095)
        fix.station_id = static_cast<int>(*station);
    // The receiver's own horizontal estimate when gpsd has one (epx, epy), else gpsd's eph.
    const auto epx = r.number_at("epx"), epy = r.number_at("epy"), eph = r.number_at("eph");
    if (epx && epy && *epx >= 0 && *epy >= 0 && *epx < 1e6 && *epy < 1e6) fix.h_error_m = std::hypot(*epx, *epy);
    else if (eph && *eph >= 0 && *eph < 1e6) fix.h_error_m = *eph;
}

// An id outside gpsd's small table (however large, or NaN) is an unknown system.
GnssSystem system_of_gnssid(double id) {
    if (!(id >= 0 && id < 8)) return GnssSystem::Unknown;
    switch (static_cast<int>(id)) {
    case 0: return GnssSystem::Gps;
    case 1: return GnssSystem::Sbas;
    case 2: return GnssSystem::Galileo;
    case 3: return GnssSystem::Beidou;
    case 5: return GnssSystem::Qzss;
    case 6: return GnssSystem::Glonass;
    case 7: return GnssSystem::Navic;
    default: return GnssSystem::Unknown;
    }
}

int clamp_int(double v, int low, int high) {
    if (!(v >= low)) return low;
    if (v > high) return high;
    return static_cast<int>(v);
}

// A SKY report with a satellite list replaces the sky table; its GPS satellites fill the 12 slots.
void take_sky(const Value& r, FixRecord& fix) {
    const Value* list = r.get("satellites");
    if (!list || list->kind != Value::Kind::Array) return;
    fix.sky = {};
    fix.sky_count = 0;
    ++fix.sky_clock;
    fix.satellites = {};
    int gps = 0;
    for (const Value& s : list->array) {
        if (s.kind != Value::Kind::Object) continue;
        auto prn = s.number_at("PRN");
        if (!prn || !(*prn >= 1 && *prn <= 1000)) continue;
        SkyEntry e;
        e.prn = static_cast<int>(*prn);
        auto gnssid = s.number_at("gnssid");
        e.system = gnssid ? system_of_gnssid(*gnssid) : gnss_system_of_prn(e.prn);
        if (auto v = s.number_at("el")) e.elevation = clamp_int(*v, -90, 90);
        if (auto v = s.number_at("az")) e.azimuth = clamp_int(*v, 0, 360);
        if (auto v = s.number_at("ss")) e.snr = clamp_int(*v, 0, 99);
        const Value* used = s.get("used");
        e.used = used && used->kind == Value::Kind::Bool && used->boolean ? 1 : 0;
        e.seen = fix.sky_clock;
        if (fix.sky_count < kSkyEntries) fix.sky[static_cast<std::size_t>(fix.sky_count++)] = e;
        if (e.system == GnssSystem::Gps) {
            if (gps < kSatelliteSlots)
                fix.satellites[static_cast<std::size_t>(gps)] = {e.prn, e.elevation, e.azimuth, e.snr, e.used};
            ++gps;
        }
    }
    fix.sats_in_view = gps;
}

}  // namespace

GpsdReport gpsd_report(std::string_view line, FixRecord& fix) {
    const std::size_t copied = std::min(line.size(), sizeof fix.last_message - 1);
    std::memcpy(fix.last_message, line.data(), copied);
    fix.last_message[copied] = '\0';

    std::optional<Value> report = Reader(line).read();
    if (!report || report->kind != Value::Kind::Object) return GpsdReport::None;
    const Value* cls = report->get("class");
    if (!cls || cls->kind != Value::Kind::String) return GpsdReport::None;
    if (cls->string == "TPV") {
        take_tpv(*report, fix);
        fix.talker[0] = '\0';
        return GpsdReport::Tpv;
    }
    if (cls->string == "SKY") {
        take_sky(*report, fix);
        return GpsdReport::Sky;
    }
    return GpsdReport::Other;
}

void GpsdParser::feed(const std::uint8_t* data, std::size_t size, FixRecord& fix) {
    if (data == nullptr) return;
    lines_.feed(reinterpret_cast<const char*>(data), size, [&](std::string_view line) {
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty()) gpsd_report(line, fix);
    });
}

}  // namespace vg
