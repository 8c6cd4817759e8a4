// Fuzzes the position server's handling of one request: any bytes give a defined outcome, a
// position is only ever taken when it is finite and on the globe, a position request is answered
// OK only when it took one, the phone form's further fields are in range, and with a relay key
// only a request that carries it takes one; a device id taken is never longer than kDeviceIdMax.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "net/position_server.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > vg::kPositionRequestBuffer) return 0;  // the server never holds more
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    (void)vg::position_request_complete(bytes);
    for (const std::string_view key : {std::string_view(), std::string_view("k%&=y")}) {
        const vg::PositionRequestOutcome outcome = vg::handle_position_request(bytes, key);
        if (outcome.latitude.has_value() != outcome.longitude.has_value()) std::abort();
        if (outcome.repaint && (outcome.status == 200) != outcome.has_position()) std::abort();
        if (outcome.has_position()) {
            if (!std::isfinite(*outcome.latitude) || !std::isfinite(*outcome.longitude)) std::abort();
            if (std::fabs(*outcome.latitude) > 90 || std::fabs(*outcome.longitude) > 180) std::abort();
            if (!outcome.repaint) std::abort();  // only a position request takes a position
            if (outcome.device_id.size() > vg::kDeviceIdMax) std::abort();  // a device id is never too long
            if (outcome.phone_form) {
                if (outcome.speed_knots && !(*outcome.speed_knots >= 0)) std::abort();
                if (outcome.course && !(*outcome.course >= 0 && *outcome.course < 360)) std::abort();
                if (outcome.altitude && !std::isfinite(*outcome.altitude)) std::abort();
                if (outcome.timestamp && *outcome.timestamp < 0) std::abort();
                vg::FixRecord record;
                vg::store_position(outcome, 0, record);
                if (record.fix_dimension != 3) std::abort();
            }
            if (!key.empty() && bytes.find("key=") == std::string_view::npos) std::abort();
        }
    }
    return 0;
}
