#include "net/base_link.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <system_error>

#include "platform/c_number.h"
#include "settings/settings_file.h"

namespace vg {

namespace {

constexpr std::int64_t kUploadSeconds = 60;
// A move counts when it is more than 0.0005 degrees; the small margin keeps a move of exactly
// 0.0005 in decimal from counting through the rounding of its binary difference.
constexpr double kMoveDegrees = 0.0005 + 1e-9;

void remove_probe_file(const std::filesystem::path& file) {
    std::error_code ec;
    std::filesystem::remove(file, ec);
}

// Fetches `url` into the probe file, which is removed before and after. True when answered.
bool probe_site(const ProbeConfig& config, const std::string& url) {
    const std::filesystem::path file = config.work_dir / kProbeFile;
    remove_probe_file(file);
    const bool answered = http_get_file(url, file, config.http);
    remove_probe_file(file);
    return answered;
}

}  // namespace

std::string base_upload_url(const BaseLinkConfig& base) {
    return "http://" + base.base_host + ":" + std::to_string(base.base_port) + "/vor/sendbase.cgi";
}

std::string base_upload_body(double latitude, double longitude, std::string_view relay_key) {
    std::string text = "latitude=" + fixed_text(latitude, 6) + "&longitude=" + fixed_text(longitude, 6);
    if (relay_key.empty()) return text;
    text += "&key=";
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (const char c : relay_key) {
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
    return body + base_upload_body(0, 0, *key).substr(base_upload_body(0, 0).size());
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
    http_post_form(base_upload_url(base), with_relay_key(base_upload_body(latitude, longitude), base.http.settings_dir),
                   base.http);
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

bool connectivity_probe(const ProbeConfig& config, TileVersions& versions) {
    const bool answered = probe_site(config, config.first_site);
    if (answered) versions.google_aerial.publish("55");
    if (probe_site(config, config.second_site)) {
        versions.virtual_earth_road.publish("77");
        versions.virtual_earth_aerial.publish("77");
    }
    remove_probe_file(config.work_dir / kProbeFile);
    return answered;
}

void ConnectivityProbe::start(ProbeConfig config, TileVersions& versions) {
    wait();
    finished_.store(false);
    thread_ = std::thread([this, config = std::move(config), &versions] {
        connectivity_probe(config, versions);
        finished_.store(true);
    });
}

void ConnectivityProbe::wait() {
    if (thread_.joinable()) thread_.join();
}

}  // namespace vg
