// AIS sentences of any bytes, one line at a time through one assembler, so that fragments of
// earlier lines meet later ones; every decoded message is read back.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "gps/ais.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vg::ais::AisAssembler assembler;
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    while (!rest.empty()) {
        const auto end = rest.find('\n');
        const auto line = rest.substr(0, end);
        if (const auto m = assembler.feed_line(line)) {
            volatile auto lat = m->latitude_deg();
            volatile std::size_t n = m->shipname.size() + m->callsign.size() + m->vendorid.size();
            (void)lat;
            (void)n;
        }
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
    }
    return 0;
}
