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

#include "gps/ais_feed.h"
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

// An integer field of an AIS report within [low, high], else `otherwise`.
int ais_int(const Value& r, std::string_view key, int low, int high, int otherwise) {
    const auto v = r.number_at(key);
    if (!v || *v < low || *v > high) return otherwise;
    return static_cast<int>(std::lround(*v));
}

bool ais_bool(const Value& r, std::string_view key) {
    const Value* v = r.get(key);
    return v && ((v->kind == Value::Kind::Bool && v->boolean) || (v->kind == Value::Kind::Number && v->number != 0));
}

std::string ais_text(const Value& r, std::string_view key) {
    const Value* v = r.get(key);
    if (!v || v->kind != Value::Kind::String) return {};
    return v->string.substr(0, 120);
}

// A scaled value times `factor` as the message's integer, within [low, high], else `otherwise`; 0 when
// the report has no such field (as the decoder leaves the fields a type does not carry).
int ais_scaled(const Value& r, std::string_view key, bool scaled, double factor, int low, int high, int otherwise) {
    if (!r.get(key)) return 0;
    const auto v = r.number_at(key);
    if (!v) return otherwise;
    const double raw = scaled ? std::round(*v * factor) : std::round(*v);
    if (!(raw >= low && raw <= high)) return otherwise;
    return static_cast<int>(raw);
}

// Rate of turn: unscaled, the indicator itself; scaled, degrees a minute (indicator = 4.733·√|rate|)
// or the words gpsd uses for the ends of the scale.
int ais_turn(const Value& r, bool scaled) {
    const Value* v = r.get("turn");
    if (!v) return -128;
    if (v->kind == Value::Kind::String) {
        if (v->string == "fastright") return 127;
        if (v->string == "fastleft") return -127;
        return -128;
    }
    if (v->kind != Value::Kind::Number || !std::isfinite(v->number)) return -128;
    const double indicator = scaled ? std::copysign(std::round(4.733 * std::sqrt(std::fabs(v->number))), v->number)
                                    : std::round(v->number);
    return indicator >= -128 && indicator <= 127 ? static_cast<int>(indicator) : -128;
}

std::optional<ais::Message> take_ais(const Value& r) {
    const auto type = r.number_at("type");
    const auto mmsi = r.number_at("mmsi");
    if (!type || !mmsi || *type < 1 || *type > 27 || *mmsi < 1 || *mmsi > 999999999) return std::nullopt;
    ais::Message m;
    m.type = static_cast<int>(*type);
    m.mmsi = static_cast<std::uint32_t>(*mmsi);
    m.repeat = ais_int(r, "repeat", 0, 3, 0);
    const bool scaled = ais_bool(r, "scaled");
    const bool long_range = m.type == 27;
    // Positions: 1/10000 minute (type 27: 1/10 minute) unscaled, degrees scaled.
    const double per_degree = long_range ? 600.0 : 600000.0;
    const int lon_na = static_cast<int>(181 * per_degree), lat_na = static_cast<int>(91 * per_degree);
    m.lon = ais_scaled(r, "lon", scaled, per_degree, -lon_na, lon_na, lon_na);
    m.lat = ais_scaled(r, "lat", scaled, per_degree, -lat_na, lat_na, lat_na);
    m.speed = long_range ? ais_scaled(r, "speed", scaled, 1, 0, 63, 63) : ais_scaled(r, "speed", scaled, 10, 0, 1023, 1023);
    m.course = long_range ? ais_scaled(r, "course", scaled, 1, 0, 511, 511)
                          : ais_scaled(r, "course", scaled, 10, 0, 3600, 3600);
    if (!r.get("speed")) m.speed = long_range ? 63 : 1023;
    if (!r.get("course")) m.course = long_range ? 511 : 3600;
    m.heading = ais_int(r, "heading", 0, 511, 511);
    m.status = ais_int(r, "status", 0, 15, 15);
    m.turn = ais_turn(r, scaled);
    m.second = ais_int(r, "second", 0, 63, 60);
    m.accuracy = ais_bool(r, "accuracy");
    m.shipname = ais_text(r, "shipname");
    if (m.shipname.empty()) m.shipname = ais_text(r, "name");  // aids to navigation (21)
    m.callsign = ais_text(r, "callsign");
    m.destination = ais_text(r, "destination");
    m.shiptype = ais_int(r, "shiptype", 0, 255, 0);
    m.to_bow = ais_int(r, "to_bow", 0, 511, 0);
    m.to_stern = ais_int(r, "to_stern", 0, 511, 0);
    m.to_port = ais_int(r, "to_port", 0, 63, 0);
    m.to_starboard = ais_int(r, "to_starboard", 0, 63, 0);
    m.aid_type = ais_int(r, "aid_type", 0, 31, 0);
    // gpsd reports class B static data (24) once it has both parts, merged, without a part number: -1.
    m.partno = ais_int(r, "partno", 0, 1, -1);
    m.draught = ais_scaled(r, "draught", scaled, 10, 0, 255, 0);
    // The types the decoder reads field by field; others keep type and MMSI only, as the decoder's do.
    switch (m.type) {
    case 1: case 2: case 3: case 4: case 5: case 18: case 19: case 21: case 24: case 27: m.decoded = true; break;
    default: break;
    }
    return m;
}

}  // namespace

std::optional<ais::Message> gpsd_ais_message(std::string_view line) {
    std::optional<Value> report = Reader(line).read();
    if (!report || report->kind != Value::Kind::Object) return std::nullopt;
    const Value* cls = report->get("class");
    if (!cls || cls->kind != Value::Kind::String || cls->string != "AIS") return std::nullopt;
    return take_ais(*report);
}

GpsdReport gpsd_report(std::string_view line, FixRecord& fix, std::optional<ais::Message>* ais) {
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
    if (cls->string == "AIS") {
        if (ais) *ais = take_ais(*report);
        return GpsdReport::Ais;
    }
    return GpsdReport::Other;
}

void GpsdParser::feed(const std::uint8_t* data, std::size_t size, FixRecord& fix) {
    if (data == nullptr) return;
    lines_.feed(reinterpret_cast<const char*>(data), size, [&](std::string_view line) {
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) return;
        std::optional<ais::Message> message;
        gpsd_report(line, fix, ais_ ? &message : nullptr);
        if (message) ais_->message(*message);
    });
}

}  // namespace vg
