// The link to a base copy over the HTTP client: the upload of this copy's position to a base
// server, and the remote poll of a copy in Remote mode. The window
// timer calls the upload and the poll every 5 seconds with the current time.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "gps/device_type.h"
#include "gps/fix_record.h"
#include "net/http_client.h"

namespace vg {

// The base server (the `base` setting) and whether uploads or polls are on.
struct BaseLinkConfig {
    bool base_enabled = false;
    std::string base_host;
    int base_port = 0;
    HttpOptions http;      // proxy folder and waits of the requests
};

// What the upload and the poll remember between ticks.
struct BaseLinkState {
    std::int64_t upload_clock = 0;  // seconds of the last upload or poll
    double uploaded_lat = 0;        // position last uploaded (the start position at first)
    double uploaded_lon = 0;
};

// "http://%s:%d/vor/sendbase.cgi" and "latitude=%lf&longitude=%lf", followed by "&key=" and the
// percent-encoded key when one is given.
std::string base_upload_url(const BaseLinkConfig& base);
// With a `name`, "&name=" and the percent-encoded name come before the key.
std::string base_upload_body(double latitude, double longitude, std::string_view relay_key = {},
                             std::string_view name = {});
// `value` percent-encoded for a form body (letters, digits and "-._~" as they are).
std::string form_encoded(std::string_view value);

// `body` with "&key=KEY" appended when vor_ini.txt in `settings_dir` has a relaykey line.
std::string with_relay_key(std::string body, const std::filesystem::path& settings_dir);

// Timer duty: with the base on, a device other than Remote and a fix, posts the position when more
// than 60 seconds have passed since the last upload or it moved more than 0.0005 degrees; the body
// carries the `name` and relay key of vor_ini.txt (in base.http.settings_dir) when there are. Returns
// true when a post was made (its result is not examined).
bool base_position_upload(const BaseLinkConfig& base, DeviceType device, const FixRecord& fix, BaseLinkState& state,
                          std::int64_t now);

// Timer duty: with the base on and the Remote device, requests the root page of the base address
// when more than 60 seconds have passed. Returns true when a request was made.
bool remote_poll(const BaseLinkConfig& base, DeviceType device, BaseLinkState& state, std::int64_t now);

}  // namespace vg
