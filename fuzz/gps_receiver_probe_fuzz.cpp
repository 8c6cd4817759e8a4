// Fuzzes the receiver recognition of Detect: any bytes give an answer (a known device type or
// none), the same for the same bytes, and a recognised stream stays recognised with bytes after it.
// gpsd's reply readers take the same bytes as text.
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "gps/receiver_probe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto once = vg::probe_receiver_bytes(data, size);
    const auto again = vg::probe_receiver_bytes(data, size);
    if (once.has_value() != again.has_value()) std::abort();
    if (once && (once->device != again->device || once->protocol.empty())) std::abort();
    if (once) {
        std::vector<std::uint8_t> longer(data, data + size);
        longer.push_back('x');
        if (!vg::probe_receiver_bytes(longer.data(), longer.size())) std::abort();
    }
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    vg::gpsd_version_seen(text);
    if (const auto count = vg::gpsd_device_count(text); count && *count < 0) std::abort();
    return 0;
}
