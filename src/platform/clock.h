// The seconds clock and the local calendar text, behind an interface so that the application logic
// can be driven by a settable clock in tests.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace vg {

class Clock {
public:
    virtual ~Clock() = default;
    // Seconds of the C-runtime clock (time()).
    virtual std::int64_t now_seconds() const = 0;
    // The current local time as the 24-character calendar text ("Mon Dec  7 05:09:35 2026"),
    // without the line feed.
    virtual std::string local_calendar_text() const = 0;
};

class SystemClock : public Clock {
public:
    std::int64_t now_seconds() const override;
    std::string local_calendar_text() const override;
};

// The calendar text of `seconds` in local time (24 characters, no line feed); a time the calendar
// cannot show gives "??? ??? ?? ??:??:?? ????".
std::string calendar_text(std::int64_t seconds);

// Thread-safe calendar parts of `t` in UTC or in local time; false when the system cannot show it.
bool utc_parts(std::time_t t, std::tm& parts);
bool local_parts(std::time_t t, std::tm& parts);
// The time of UTC calendar parts (timegm; -1 when out of range).
std::time_t utc_time(std::tm& parts);
// The short name of the local zone `parts` (from local_parts) are in ("EET"; the C runtime's zone
// name on Windows), or empty.
std::string local_zone_name(const std::tm& parts);

// The one system clock of the program.
const Clock& system_clock();

}  // namespace vg
