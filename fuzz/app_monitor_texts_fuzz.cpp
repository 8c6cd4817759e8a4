// Fuzzes the GPS monitor's texts over arbitrary fix records (texts without terminators, any counts,
// NaN and huge numbers): every text stays within its bounds and the table is written from the top
// without gaps.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/gps_monitor_texts.h"

namespace {

bool ends_with(const std::string& text, const char* tail) {
    const std::size_t n = std::strlen(tail);
    return text.size() >= n && text.compare(text.size() - n, n, tail) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vg::FixRecord fix;
    std::memcpy(static_cast<void*>(&fix), data, size < sizeof fix ? size : sizeof fix);
    const vg::MonitorTexts texts = vg::gps_monitor_texts(fix);

    if (texts.message.empty() || texts.message.size() > vg::kMonitorMessageMax || texts.message[0] != ' ')
        std::abort();
    if (!ends_with(texts.time, " (UTC)") || texts.time.size() > sizeof fix.utc_text + 6) std::abort();
    if (fix.fix_dimension > 0 ? !ends_with(texts.position, "D)") : texts.position != "No Fix") std::abort();
    if (texts.header != vg::kMonitorHeader) std::abort();

    const int limit = fix.sats_in_view < 0 ? 0 : (fix.sats_in_view > 12 ? 12 : fix.sats_in_view);
    bool ended = false;
    for (int i = 0; i < 12; ++i) {
        const auto& row = texts.rows[static_cast<std::size_t>(i)];
        if (row && (ended || i >= limit || row->front() != '[' || row->size() > 128)) std::abort();
        if (!row) ended = true;
    }
    if (texts.sky.size() > static_cast<std::size_t>(vg::kSkyEntries)) std::abort();
    for (const auto& row : texts.sky)
        if (row[0].empty() || row[5].empty()) std::abort();
    return 0;
}
