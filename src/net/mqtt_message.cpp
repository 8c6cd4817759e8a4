// The pure parts of the MQTT link: the address, the settings, the password file and the message codec.
#include <cmath>
#include <fstream>
#include <system_error>

#include <nlohmann/json.hpp>

#include "net/mqtt_link.h"
#include "platform/c_number.h"
#include "settings/settings_file.h"

namespace vg {

namespace {

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

bool has_control(std::string_view s) {
    for (const char c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return true;
    return false;
}

std::optional<MqttAddress> refuse(std::string* why, const char* reason) {
    if (why) *why = reason;
    return std::nullopt;
}

}  // namespace

std::optional<MqttAddress> parse_mqtt_address(std::string_view text, std::string* why) {
    text = trimmed(text);
    MqttAddress a;
    if (text.starts_with("mqtts://")) {
        text.remove_prefix(8);
    } else if (text.starts_with("mqtt://")) {
        a.tls = false;
        a.port = 1883;
        text.remove_prefix(7);
    } else {
        return refuse(why, "the address does not start with mqtt:// or mqtts://");
    }
    if (has_control(text) || text.find(' ') != std::string_view::npos) return refuse(why, "the address holds blanks");
    const std::size_t slash = text.find('/');
    if (slash == std::string_view::npos || slash + 1 == text.size()) return refuse(why, "the address names no topic prefix");
    std::string_view authority = text.substr(0, slash);
    std::string_view prefix = text.substr(slash + 1);
    while (prefix.ends_with('/')) prefix.remove_suffix(1);
    if (prefix.empty() || prefix.find_first_of("+#") != std::string_view::npos || prefix.find("//") != std::string_view::npos)
        return refuse(why, "the topic prefix is empty or holds a wildcard");
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
        a.user = authority.substr(0, at);
        if (a.user.find(':') != std::string::npos)
            return refuse(why, "the password belongs in the password file, not in the address");
        authority.remove_prefix(at + 1);
    }
    if (const std::size_t colon = authority.rfind(':'); colon != std::string_view::npos) {
        const auto port = whole_c_number(authority.substr(colon + 1));
        if (!port || *port < 1 || *port > 65535 || *port != std::floor(*port))
            return refuse(why, "the port is not a number from 1 to 65535");
        a.port = static_cast<int>(*port);
        authority = authority.substr(0, colon);
    }
    if (authority.empty()) return refuse(why, "the address names no host");
    a.host = authority;
    a.prefix = prefix;
    return a;
}

MqttSettings parse_mqtt_settings(std::string_view ini, const std::filesystem::path& settings_dir) {
    MqttSettings s;
    if (const auto url = find_setting(ini, "mqtt=")) s.url = trimmed(*url);
    if (const auto pass = find_setting(ini, "mqttpass="); pass && !trimmed(*pass).empty()) {
        const std::filesystem::path p{std::string(trimmed(*pass))};
        s.password_file = p.is_absolute() ? p : settings_dir / p;
    } else {
        s.password_file = settings_dir / "mqtt_password";
    }
    if (const auto ca = find_setting(ini, "cafile=")) s.cafile = trimmed(*ca);
    if (const auto rate = find_setting(ini, "mqttrate="))
        if (const auto v = whole_c_number(trimmed(*rate)); v && *v >= 0 && *v <= 3600) s.interval_s = *v;
    // `name=` only at the start of a line (a `username=` line is not the device's name).
    std::size_t pos = 0;
    while (pos < ini.size()) {
        std::size_t end = ini.find('\n', pos);
        if (end == std::string_view::npos) end = ini.size();
        const std::string_view line = ini.substr(pos, end - pos);
        if (line.starts_with("name=")) {
            s.name = trimmed(line.substr(5));
            break;
        }
        pos = end + 1;
    }
    if (s.name.empty())
        if (const auto a = parse_mqtt_address(s.url)) s.name = a->user;
    return s;
}

MqttPassword read_mqtt_password(const std::filesystem::path& file) {
    MqttPassword out;
    std::error_code ec;
    const auto st = std::filesystem::status(file, ec);
    if (ec || !std::filesystem::is_regular_file(st)) {
        out.failure = "the password file " + file.string() + " is missing";
        return out;
    }
#ifndef _WIN32
    using std::filesystem::perms;
    if ((st.permissions() & (perms::group_all | perms::others_all)) != perms::none) {
        out.failure = "the password file " + file.string() +
                      " may be read by others (allow only its owner: chmod 600)";
        return out;
    }
#endif
    std::ifstream in(file, std::ios::binary);
    std::string line;
    if (!in || !std::getline(in, line)) {
        out.failure = "the password file " + file.string() + " cannot be read or is empty";
        return out;
    }
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    if (line.empty()) {
        out.failure = "the password file " + file.string() + " is empty";
        return out;
    }
    out.password = std::move(line);
    return out;
}

std::string mqtt_position_json(const DeviceReport& p) {
    nlohmann::json j = nlohmann::json::object();
    j["lat"] = p.lat;
    j["lon"] = p.lon;
    if (p.time_ms) j["time"] = p.time_ms;
    if (p.speed_kmh) j["speed"] = *p.speed_kmh;
    if (p.course_deg) j["course"] = *p.course_deg;
    if (p.altitude_m) j["alt"] = *p.altitude_m;
    if (p.accuracy_m) j["accuracy"] = *p.accuracy_m;
    if (p.battery_pct) j["batt"] = *p.battery_pct;
    return j.dump();
}

MqttMessageKind parse_mqtt_message(std::string_view prefix, std::string_view topic, std::string_view payload,
                                   DeviceReport& out) {
    if (payload.size() > kMqttMessageMax || topic.size() <= prefix.size() + 1 || !topic.starts_with(prefix) ||
        topic[prefix.size()] != '/')
        return MqttMessageKind::malformed;
    const std::string_view id = topic.substr(prefix.size() + 1);
    if (id.empty() || id.size() > kDeviceIdMax || id.find('/') != std::string_view::npos || has_control(id))
        return MqttMessageKind::malformed;
    if (trimmed(payload) == "offline") return MqttMessageKind::offline;
    const nlohmann::json j = nlohmann::json::parse(payload.begin(), payload.end(), nullptr, false);
    if (j.is_discarded() || !j.is_object()) return MqttMessageKind::malformed;
    // A field is a finite number, or absent (null counts as absent); anything else refuses the message.
    bool bad = false;
    const auto number = [&](const char* key) -> std::optional<double> {
        const auto it = j.find(key);
        if (it == j.end() || it->is_null()) return std::nullopt;
        if (!it->is_number()) {
            bad = true;
            return std::nullopt;
        }
        const double v = it->get<double>();
        if (!std::isfinite(v)) bad = true;
        return v;
    };
    const auto lat = number("lat"), lon = number("lon"), time = number("time");
    DeviceReport r;
    r.speed_kmh = number("speed");
    r.course_deg = number("course");
    r.altitude_m = number("alt");
    r.accuracy_m = number("accuracy");
    r.battery_pct = number("batt");
    if (bad || !lat || !lon || *lat < -90 || *lat > 90 || *lon < -180 || *lon > 180) return MqttMessageKind::malformed;
    if (time && (*time < 0 || *time > 253402300799999.0)) return MqttMessageKind::malformed;  // past 9999
    r.id = id;
    r.via = "mqtt";
    r.lat = *lat;
    r.lon = *lon;
    r.time_ms = time ? static_cast<std::int64_t>(*time) : 0;
    out = std::move(r);
    return MqttMessageKind::position;
}

std::string mqtt_status_text(const MqttStatus& s) {
    std::string state;
    switch (s.state) {
    case MqttState::off: state = "off"; break;
    case MqttState::connecting: state = "connecting"; break;
    case MqttState::connected: state = "connected"; break;
    case MqttState::refused_password: state = "refused \u2014 bad user name or password"; break;
    case MqttState::not_authorised: state = "refused \u2014 not authorised"; break;
    case MqttState::tls_failure: state = "TLS failure"; break;
    case MqttState::lost: state = "connection lost, reconnecting"; break;
    case MqttState::failed: state = "not started"; break;
    }
    std::string out = "MQTT: " + state;
    if (!s.cause.empty()) out += " (" + s.cause + ")";
    if (s.dropped_queue || s.dropped_malformed)
        out += "; dropped " + std::to_string(s.dropped_queue) + " queued, " + std::to_string(s.dropped_malformed) +
               " malformed";
    return out;
}

}  // namespace vg
