#include "platform/clock.h"

#include <cstdio>
#include <ctime>

namespace vg {

std::int64_t SystemClock::now_seconds() const { return static_cast<std::int64_t>(std::time(nullptr)); }

std::string SystemClock::local_calendar_text() const { return calendar_text(now_seconds()); }

std::string calendar_text(std::int64_t seconds) {
    // ctime's form, built here so that no static buffer is shared between threads, the names stay
    // English whatever locale the toolkit selected, and no year can overrun the text.
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm parts{};
    if (!local_parts(t, parts) || parts.tm_year < -1900 || parts.tm_year > 9999 - 1900 || parts.tm_wday < 0 ||
        parts.tm_wday > 6 || parts.tm_mon < 0 || parts.tm_mon > 11)
        return "??? ??? ?? ??:??:?? ????";
    char text[32];
    std::snprintf(text, sizeof text, "%s %s %2d %02d:%02d:%02d %4d", kDays[parts.tm_wday], kMonths[parts.tm_mon],
                  parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec, parts.tm_year + 1900);
    return text;
}

bool utc_parts(std::time_t t, std::tm& parts) {
#ifdef _WIN32
    return gmtime_s(&parts, &t) == 0;
#else
    return gmtime_r(&t, &parts) != nullptr;
#endif
}

bool local_parts(std::time_t t, std::tm& parts) {
#ifdef _WIN32
    return localtime_s(&parts, &t) == 0;
#else
    return localtime_r(&t, &parts) != nullptr;
#endif
}

std::time_t utc_time(std::tm& parts) {
#ifdef _WIN32
    return _mkgmtime(&parts);
#else
    return ::timegm(&parts);
#endif
}

std::string local_zone_name(const std::tm& parts) {
#ifdef _WIN32
    _tzset();
    const char* name = _tzname[parts.tm_isdst > 0 ? 1 : 0];
    return name ? name : "";
#else
    return parts.tm_zone ? parts.tm_zone : "";
#endif
}

const Clock& system_clock() {
    static const SystemClock clock;
    return clock;
}

}  // namespace vg
