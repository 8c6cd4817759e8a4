#include "net/base_link.h"

#include <cctype>
#include <cmath>
#include <cstdio>

#include "platform/c_number.h"
#include "settings/settings_file.h"
#include "settings/text_scan.h"

namespace vg {

namespace {

constexpr std::int64_t kUploadSeconds = 60;
// A move counts when it is more than 0.0005 degrees; the small margin keeps a move of exactly
// 0.0005 in decimal from counting through the rounding of its binary difference.
constexpr double kMoveDegrees = 0.0005 + 1e-9;

}  // namespace

std::string base_upload_url(const BaseLinkConfig& base) {
    return "http://" + base.base_host + ":" + std::to_string(base.base_port) + "/vor/sendbase.cgi";
}

std::string base_upload_body(double latitude, double longitude, std::string_view relay_key, std::string_view name) {
    std::string text = "latitude=" + fixed_text(latitude, 6) + "&longitude=" + fixed_text(longitude, 6);
    if (!name.empty()) text += "&name=" + form_encoded(name);
    if (relay_key.empty()) return text;
    return text + "&key=" + form_encoded(relay_key);
}

std::string form_encoded(std::string_view value) {
    std::string text;
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (const char c : value) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) || c == '-' || c == '.' || c == '_' || c == '~') {
            text += c;
        } else {
            text += '%';
            text += kHex[u >> 4];
            text += kHex[u & 15];
        }
    }
    return text;
}

std::string with_relay_key(std::string body, const std::filesystem::path& settings_dir) {
    const auto key = read_relay_key(settings_dir / kIniFile);
    if (!key) return body;
    // The key's own encoding, without the position part.
    return body + "&key=" + form_encoded(*key);
}

bool base_position_upload(const BaseLinkConfig& base, DeviceType device, const FixRecord& fix, BaseLinkState& state,
                          std::int64_t now) {
    if (!base.base_enabled || device == DeviceType::Remote || fix.fix_dimension <= 0) return false;
    const double latitude = fix.latitude;
    const double longitude = fix.longitude;
    const std::int64_t elapsed = now - state.upload_clock;
    const bool due = (elapsed >= 0 && elapsed > kUploadSeconds) ||
                     std::fabs(latitude - state.uploaded_lat) > kMoveDegrees ||
                     std::fabs(longitude - state.uploaded_lon) > kMoveDegrees;
    if (!due) return false;
    // The `name` of vor_ini.txt makes this copy a named device of the base's fleet.
    const auto name = setting_value(base.http.settings_dir / kIniFile, "name");
    const std::string body = base_upload_body(latitude, longitude, {}, name ? trim_blanks(*name) : std::string_view());
    http_post_form(base_upload_url(base), with_relay_key(body, base.http.settings_dir), base.http);
    state.uploaded_lat = latitude;
    state.uploaded_lon = longitude;
    state.upload_clock = now;
    return true;
}

bool remote_poll(const BaseLinkConfig& base, DeviceType device, BaseLinkState& state, std::int64_t now) {
    if (!base.base_enabled || device != DeviceType::Remote) return false;
    const std::int64_t elapsed = now - state.upload_clock;
    if (elapsed < 0 || elapsed <= kUploadSeconds) return false;
    http_get_file("http://" + base.base_host + ":" + std::to_string(base.base_port) + "/", {}, base.http);
    state.upload_clock = now;
    return true;
}

}  // namespace vg
