// Reading the real receiver captures in the shared test data: the bytes a receiver sent, the fix
// record our decoder is expected to end with, and the positions gpsd reported for the same capture.
#pragma once

#include <cctype>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "gps/fix_record.h"
#include "support/fix_compare.h"
#include "support/nmea_capture.h"
#include "support/test_paths.h"

namespace vg::test {

// The NMEA captures and what they exercise are listed in receivers/README.md.
inline const std::vector<std::string>& nmea_log_names() {
    static const std::vector<std::string> names = {
        "garmin48",       "foretrex-201",   "magellan-ec10",
        "eXplorist210",   "ublox-lea-4h",   "bt451",
        "gp-320fw-2019-04-07-coldboot",    "firefly-II",
        "bu353-glonass",  "nmea-rtk",
    };
    return names;
}

// A small JSON reader for the expected results and gpsd's reports (objects, arrays, strings with
// the common escapes and \u00XX, numbers, true, false, null). It stays apart from the reader in
// gps/gpsd_json.cpp on purpose: it is the expected side of that parser's tests over the same gpsd
// lines, so a fault shared by both would pass unseen; and it is lenient where the parser is strict
// (\u00XX gives the byte, as `vortool decode` writes receiver bytes; no depth limit).
struct Json {
    enum class Kind { Null, Bool, Number, String, Array, Object } kind = Kind::Null;
    bool boolean = false;
    double number = 0;
    std::string string;
    std::vector<Json> array;
    std::map<std::string, Json> object;

    const Json& operator[](const std::string& key) const {
        static const Json null;
        auto it = object.find(key);
        return it == object.end() ? null : it->second;
    }
    bool has(const std::string& key) const { return object.count(key) != 0; }
};

class JsonReader {
public:
    explicit JsonReader(std::string_view text) : s_(text) {}

    std::optional<Json> read() {
        auto value = value_();
        space();
        if (!value || i_ != s_.size()) return std::nullopt;
        return value;
    }

private:
    void space() {
        while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) ++i_;
    }
    bool eat(char c) {
        space();
        if (i_ < s_.size() && s_[i_] == c) {
            ++i_;
            return true;
        }
        return false;
    }
    std::optional<std::string> string_() {
        if (!eat('"')) return std::nullopt;
        std::string out;
        while (i_ < s_.size() && s_[i_] != '"') {
            char c = s_[i_++];
            if (c != '\\') {
                out += c;
                continue;
            }
            if (i_ >= s_.size()) return std::nullopt;
            char e = s_[i_++];
            switch (e) {
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'u': {
                if (i_ + 4 > s_.size()) return std::nullopt;
                long code = std::strtol(std::string(s_.substr(i_, 4)).c_str(), nullptr, 16);
                if (code > 0xFF) return std::nullopt;  // only bytes are expected here
                out += static_cast<char>(code);
                i_ += 4;
                break;
            }
            default: out += e;
            }
        }
        if (i_ >= s_.size()) return std::nullopt;
        ++i_;
        return out;
    }
    std::optional<Json> value_() {
        space();
        if (i_ >= s_.size()) return std::nullopt;
        Json v;
        char c = s_[i_];
        if (c == '{') {
            ++i_;
            v.kind = Json::Kind::Object;
            if (eat('}')) return v;
            do {
                auto key = string_();
                if (!key || !eat(':')) return std::nullopt;
                auto item = value_();
                if (!item) return std::nullopt;
                v.object[*key] = std::move(*item);
            } while (eat(','));
            if (!eat('}')) return std::nullopt;
        } else if (c == '[') {
            ++i_;
            v.kind = Json::Kind::Array;
            if (eat(']')) return v;
            do {
                auto item = value_();
                if (!item) return std::nullopt;
                v.array.push_back(std::move(*item));
            } while (eat(','));
            if (!eat(']')) return std::nullopt;
        } else if (c == '"') {
            auto str = string_();
            if (!str) return std::nullopt;
            v.kind = Json::Kind::String;
            v.string = std::move(*str);
        } else if (s_.substr(i_, 4) == "true" || s_.substr(i_, 5) == "false") {
            v.kind = Json::Kind::Bool;
            v.boolean = c == 't';
            i_ += v.boolean ? 4 : 5;
        } else if (s_.substr(i_, 4) == "null") {
            i_ += 4;
        } else {
            std::string rest(s_.substr(i_, 64));
            char* end = nullptr;
            v.number = std::strtod(rest.c_str(), &end);
            if (end == rest.c_str()) return std::nullopt;
            v.kind = Json::Kind::Number;
            i_ += static_cast<std::size_t>(end - rest.c_str());
        }
        return v;
    }

    std::string_view s_;
    std::size_t i_ = 0;
};

inline std::optional<Json> parse_json(std::string_view text) { return JsonReader(text).read(); }

// expected/<name>.json: the fix record after the whole capture, fed in chunks of 80 bytes.
inline Json expected_fix(const std::string& name) {
    auto json = parse_json(read_file(receivers_dir() / "expected" / (name + ".json")));
    return json ? *json : Json{};
}

// Calls `take(report)` with every TPV report in gpsd's <name>.log.chk that reads as JSON.
template <typename Take>
void for_each_gpsd_tpv(const std::string& name, Take&& take) {
    const std::string text = read_file(receivers_dir() / (name + ".log.chk"));
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t lf = text.find('\n', start);
        if (lf == std::string::npos) lf = text.size();
        std::string_view line(text.data() + start, lf - start);
        start = lf + 1;
        if (line.rfind("{\"class\":\"TPV\"", 0) != 0) continue;
        if (auto json = parse_json(line)) take(*json);
    }
}

// The latitude and longitude of every TPV report in gpsd's <name>.log.chk.
inline std::vector<std::pair<double, double>> gpsd_positions(const std::string& name) {
    std::vector<std::pair<double, double>> out;
    for_each_gpsd_tpv(name, [&](const Json& tpv) {
        if (tpv.has("lat") && tpv.has("lon")) out.emplace_back(tpv["lat"].number, tpv["lon"].number);
    });
    return out;
}

// A `vortool decode` line without the keys added after "last_message" ("talker", "sky"): the line
// as the decoder printed it before those keys existed.
inline std::string without_added_keys(const std::string& line) {
    const std::size_t at = line.rfind(", \"talker\": ");
    if (at == std::string::npos) return line;
    const std::size_t lf = line.find('\n', at);
    return line.substr(0, at) + "}" + (lf == std::string::npos ? "" : line.substr(lf));
}

// The "time" of the last TPV report in gpsd's <name>.log.chk (empty when there is none).
inline std::string gpsd_last_time(const std::string& name) {
    std::string last;
    for_each_gpsd_tpv(name, [&](const Json& tpv) {
        if (tpv.has("time")) last = tpv["time"].string;
    });
    return last;
}

}  // namespace vg::test
