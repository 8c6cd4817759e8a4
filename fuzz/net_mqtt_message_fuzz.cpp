// Fuzzes the fleet's MQTT messages: the input is a topic's last level, a line end, then the payload.
// Any bytes give a defined outcome; a position taken is finite, on the globe, with an id of at most
// 64 characters, and what the link would publish for it reads back as the same position.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "net/mqtt_link.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::size_t end = bytes.find('\n');
    const std::string topic = "fleet/" + std::string(bytes.substr(0, end));
    const std::string_view payload = end == std::string_view::npos ? std::string_view() : bytes.substr(end + 1);
    vg::DeviceReport r;
    if (vg::parse_mqtt_message("fleet", topic, payload, r) != vg::MqttMessageKind::position) return 0;
    if (!std::isfinite(r.lat) || !std::isfinite(r.lon) || std::fabs(r.lat) > 90 || std::fabs(r.lon) > 180) std::abort();
    if (r.id.empty() || r.id.size() > vg::kDeviceIdMax || r.via != "mqtt") std::abort();
    vg::DeviceReport again;
    if (vg::parse_mqtt_message("fleet", topic, vg::mqtt_position_json(r), again) != vg::MqttMessageKind::position)
        std::abort();
    if (again.lat != r.lat || again.lon != r.lon || again.time_ms != r.time_ms || again.speed_kmh != r.speed_kmh ||
        again.battery_pct != r.battery_pct)
        std::abort();
    return 0;
}
