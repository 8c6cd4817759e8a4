#include "app/gps_monitor_texts.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace vg {
namespace {

// printf-style formatting into a string of whatever length the values need (a huge altitude gives a
// long line, never a cut-off or overrun buffer).
[[gnu::format(printf, 1, 2)]] std::string format(const char* pattern, ...) {
    char small[128];
    std::va_list args;
    va_start(args, pattern);
    std::va_list again;
    va_copy(again, args);
    const int needed = std::vsnprintf(small, sizeof small, pattern, args);
    va_end(args);
    std::string text;
    if (needed < 0) {
        va_end(again);
        return text;
    }
    if (static_cast<std::size_t>(needed) < sizeof small) {
        text.assign(small, static_cast<std::size_t>(needed));
    } else {
        text.resize(static_cast<std::size_t>(needed) + 1);
        std::vsnprintf(text.data(), text.size(), pattern, again);
        text.resize(static_cast<std::size_t>(needed));
    }
    va_end(again);
    return text;
}

// A text field of the record, up to its terminator or the end of the field.
template <std::size_t N>
std::string_view field_text(const char (&field)[N]) {
    return {field, strnlen(field, N)};
}

}  // namespace

std::string fix_quality_text(const FixRecord& fix) {
    std::string text;
    if (fix.quality >= 2) text = fix_quality_name(fix);
    const auto add = [&](const std::string& part) { text += (text.empty() ? "" : ", ") + part; };
    if (fix.quality >= 2 && std::isfinite(fix.correction_age)) add(format("corrections %.1f s old", fix.correction_age));
    if (fix.quality >= 2 && fix.station_id >= 0) add(format("station %d", fix.station_id));
    if (fix.quality != 0 && std::isfinite(fix.h_error_m))
        add(fix.h_error_m < 1 ? format("\u00b1%.2f m", fix.h_error_m) : format("\u00b1%.1f m", fix.h_error_m));
    return text;
}

MonitorTexts gps_monitor_texts(const FixRecord& fix) {
    MonitorTexts texts;
    texts.quality = fix_quality_text(fix);
    texts.time = format("%.*s (UTC)", static_cast<int>(field_text(fix.utc_text).size()), fix.utc_text);
    if (fix.fix_dimension > 0) {
        texts.position = format("%.4f : %.4f : %.2f  (%dD)", fix.latitude, fix.longitude, fix.altitude,
                                fix.fix_dimension);
    } else {
        texts.position = "No Fix";
    }
    texts.message = " ";
    texts.message += field_text(fix.last_message).substr(0, kMonitorMessageMax - 1);
    texts.header = kMonitorHeader;

    const int rows = fix.sats_in_view < kSatelliteSlots ? fix.sats_in_view : kSatelliteSlots;
    for (int i = 0; i < rows; ++i) {
        const SatelliteEntry& sat = fix.satellites[static_cast<std::size_t>(i)];
        if (sat.elevation > 90) break;
        texts.rows[static_cast<std::size_t>(i)] =
            format("[%02d]\t  %03d\t  %02d\t   %02d\t   %s", sat.prn, sat.azimuth, sat.elevation, sat.snr,
                   sat.used == 1 ? "Yes" : "No");
    }

    const int in_sky = fix.sky_count < 0 ? 0 : (fix.sky_count > kSkyEntries ? kSkyEntries : fix.sky_count);
    texts.sky.reserve(static_cast<std::size_t>(in_sky));
    for (int i = 0; i < in_sky; ++i) {
        const SkyEntry& e = fix.sky[static_cast<std::size_t>(i)];
        texts.sky.push_back({gnss_system_name(e.system), std::to_string(e.prn), std::to_string(e.elevation),
                             std::to_string(e.azimuth), e.snr > 0 ? std::to_string(e.snr) : std::string(),
                             e.used ? "Yes" : "No"});
    }
    return texts;
}

MonitorTexts gps_monitor_texts(const FixRecord& fix, std::optional<double> ground_metres, SpeedUnit unit) {
    MonitorTexts texts = gps_monitor_texts(fix);
    if (fix.fix_dimension > 0 && ground_metres) texts.position += "  " + ground_text(*ground_metres, unit);
    return texts;
}

std::string receiver_monitor_text(const ReceiverStatus& status) {
    std::string text = std::string("Receiver: ") + receiver_state_name(status.state);
    if (!status.cause.empty()) text += " - " + status.cause;
    return text;
}

}  // namespace vg
