// The fleet over an MQTT broker: the link made from vor_ini.txt's `mqtt=` line at creation, the own
// fix handed to it as it comes (the link queues it; nothing here waits on the network), and its
// state for the message line.
#include <cmath>

#include "app/app.h"
#include "platform/diagnostics.h"
#include "settings/settings_file.h"

namespace vg {

void App::start_mqtt() {
    std::string ini;
    if (read_settings_bytes(settings_path(kIniFile), ini) != SettingsRead::ok) return;
    const MqttSettings settings = parse_mqtt_settings(ini, dir_);
    if (settings.url.empty()) return;  // off unless configured: nothing leaves the machine
    MqttOptions options;
    options.name = settings.name;
    options.cafile = settings.cafile;
    options.interval_s = settings.interval_s;
    options.on_report = [this](const DeviceReport& r) { device_report(r); };
    std::string why;
    const auto address = parse_mqtt_address(settings.url, &why);
    if (address) options.address = *address;
    MqttPassword password;
    if (address && !address->user.empty()) {
        password = read_mqtt_password(settings.password_file);
        if (!password.failure.empty()) why = password.failure;
    }
    if (why.empty()) {
        options.password = std::move(password.password);
        mqtt_ = std::make_unique<MqttLink>(std::move(options));
        if (mqtt_->start()) return;
        why = mqtt_->status().cause;
        mqtt_.reset();
    }
    report("MQTT not started: " + why);
    failed_mqtt_cause_ = why;
}

void App::mqtt_fix(const FixRecord& fix) {
    if (!mqtt_) return;
    DeviceReport p;
    p.lat = fix.latitude;
    p.lon = fix.longitude;
    p.time_ms = now() * 1000;
    if (std::isfinite(fix.speed_knots)) p.speed_kmh = fix.speed_knots * 1.852;
    if (std::isfinite(fix.course)) p.course_deg = fix.course;
    if (fix.fix_dimension >= 3 && std::isfinite(fix.altitude)) p.altitude_m = fix.altitude;
    if (std::isfinite(fix.h_error_m)) p.accuracy_m = fix.h_error_m;
    mqtt_->publish(p);
}

std::string App::mqtt_monitor_text() const {
    if (!failed_mqtt_cause_.empty()) return "MQTT: not started (" + failed_mqtt_cause_ + ")";
    if (!mqtt_) return {};
    const MqttStatus s = mqtt_->status();
    return mqtt_status_text(s) + "; " + std::to_string(s.published) + " sent, " + std::to_string(s.received) +
           " received; fleet of " + std::to_string(fleet_.size()) + (fleet_.size() == 1 ? " device" : " devices");
}

std::string App::mqtt_message() const {
    if (!failed_mqtt_cause_.empty()) return "MQTT: not started (" + failed_mqtt_cause_ + ")";
    if (!mqtt_) return {};
    const MqttStatus s = mqtt_->status();
    if (s.state == MqttState::connected || s.state == MqttState::connecting || s.state == MqttState::off) return {};
    return mqtt_status_text(s);
}

}  // namespace vg
