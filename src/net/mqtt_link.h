// The fleet over an MQTT broker (libmosquitto): the own fix published as JSON to `<prefix>/<name>`
// (retained, at most once per interval, a last will "offline"), and every message of `<prefix>/+`
// turned into a DeviceReport for the caller.
//
// Pure parts (any thread, no state): the address of the `mqtt=` line, the password file's check,
// the message codec (parse_mqtt_message is fuzzed; malformed input gives `malformed`, never throws).
//
// MqttLink: one libmosquitto client on its own network thread (mosquitto_loop_start), which
// reconnects with back-off (1 s doubling to 30 s). `publish` and `status` may be called from any
// thread and never wait on the network: a publish goes to a bounded queue (oldest dropped, counted)
// that is sent while connected. `on_report` runs on the network thread; it must not wait for the
// window thread. `stop` (and the destructor) disconnects, letting the broker send the last will, and
// joins the thread within about one second. The password is never printed, logged or kept in the
// status. A build without libmosquitto (VG_NO_MOSQUITTO) keeps this interface: `start` fails with
// "not available in this build".
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "gps/device_report.h"

namespace vg {

// mqtt://user@host:port/prefix (plain) or mqtts://user@host:port/prefix (TLS). The user is optional,
// the port defaults to 1883 / 8883, the prefix is one or more topic levels without wildcards.
struct MqttAddress {
    bool tls = true;
    std::string user;
    std::string host;
    int port = 8883;
    std::string prefix;
};
// The address of `text`, or nothing with the reason in `why`.
std::optional<MqttAddress> parse_mqtt_address(std::string_view text, std::string* why = nullptr);

// The settings of vor_ini.txt: `mqtt=` (the address), `mqttpass=` (the password file, default
// `mqtt_password` in the settings folder), `cafile=` (a further CA file), `name=` (the device name
// published under; default the address's user) and `mqttrate=` (seconds between publications,
// default 1). No `mqtt=` line: nothing is set up.
struct MqttSettings {
    std::string url;  // as written; empty: off
    std::filesystem::path password_file;
    std::string cafile;
    std::string name;
    double interval_s = 1.0;
};
MqttSettings parse_mqtt_settings(std::string_view ini_contents, const std::filesystem::path& settings_dir);

// The password of a file of its own: its first line. Refused (empty `password`, reason in `failure`)
// when it is missing, empty, or may be read or written by anyone but its owner (POSIX systems).
struct MqttPassword {
    std::string password;
    std::string failure;
};
MqttPassword read_mqtt_password(const std::filesystem::path& file);

// Longest message taken; a longer one is dropped and counted.
inline constexpr std::size_t kMqttMessageMax = 4096;

// The JSON object published for a position: lat, lon, time (UTC milliseconds), and speed (km/h),
// course (degrees), alt (metres), accuracy (metres), batt (percent) when known.
std::string mqtt_position_json(const DeviceReport& position);

enum class MqttMessageKind { position, offline, malformed };
// One message of `<prefix>/+`: the device id is the topic's last level (1..kDeviceIdMax characters);
// the payload is the JSON object above (lat and lon required and in range; other fields optional,
// numbers only) or the text "offline". `out` is filled for a position only.
MqttMessageKind parse_mqtt_message(std::string_view prefix, std::string_view topic, std::string_view payload,
                                   DeviceReport& out);

enum class MqttState {
    off,
    connecting,
    connected,
    refused_password,     // the broker refused the user name or password
    not_authorised,       // the broker refused the user, or a topic outside its access list
    tls_failure,          // the certificate could not be verified, or the handshake failed
    lost,                 // the connection went away; reconnecting
    failed,               // could not start (address, password file, not available in this build)
};
struct MqttStatus {
    MqttState state = MqttState::off;
    std::string cause;  // details for the user; never the password
    std::uint64_t published = 0, received = 0;
    std::uint64_t dropped_queue = 0;      // publications dropped from the full queue (oldest first)
    std::uint64_t dropped_malformed = 0;  // messages that were not a position, or too long
};
// "MQTT: connected", "MQTT: refused — bad user name or password", ... for the message line.
std::string mqtt_status_text(const MqttStatus& status);

struct MqttOptions {
    MqttAddress address;
    std::string password;  // empty: none sent
    std::string name;      // the topic level published under; empty: publish nothing
    std::string cafile;    // a further CA file beside the system's store
    double interval_s = 1.0;
    std::size_t queue_limit = 32;
    bool subscribe = true;
    std::function<void(const DeviceReport&)> on_report;  // the network thread
};

class MqttLink {
public:
    explicit MqttLink(MqttOptions options);
    ~MqttLink();
    MqttLink(const MqttLink&) = delete;
    MqttLink& operator=(const MqttLink&) = delete;

    // Starts the client; false (status failed, cause set) when it cannot.
    bool start();
    // Queues the own position (its id is replaced by the name); dropped when the last one taken is
    // younger than the interval, unless `force`. Returns whether it was taken.
    bool publish(const DeviceReport& position, bool force = false);
    // Disconnects (the last will is sent) and ends the network thread.
    void stop();
    MqttStatus status() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace vg
