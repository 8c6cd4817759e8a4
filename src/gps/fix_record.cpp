#include "gps/fix_record.h"

#include <cstdio>

namespace vg {

namespace {
constexpr int kDaysPerMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

int days_in_month(int month) {
    return (month >= 1 && month <= 12) ? kDaysPerMonth[month - 1] : 31;
}
}  // namespace

const char* gnss_system_name(GnssSystem system) {
    switch (system) {
    case GnssSystem::Gps: return "GPS";
    case GnssSystem::Glonass: return "GLONASS";
    case GnssSystem::Galileo: return "Galileo";
    case GnssSystem::Beidou: return "BeiDou";
    case GnssSystem::Qzss: return "QZSS";
    case GnssSystem::Navic: return "NavIC";
    case GnssSystem::Sbas: return "SBAS";
    case GnssSystem::Unknown: break;
    }
    return "unknown";
}

void set_receiver_time(FixRecord& fix, int year, int month, int day, int hour, int minute, int second) {
    fix.year = year;
    fix.month = month;
    fix.day = day;
    fix.hour = hour;
    fix.minute = minute;
    fix.second = second;
    std::snprintf(fix.utc_text, sizeof fix.utc_text, "%04d/%02d/%02d %02d:%02d:%02d", year, month, day, hour,
                  minute, second);

    if (fix.local_offset_hours != 0) {
        fix.hour += fix.local_offset_hours;
        if (fix.hour < 0) {
            fix.day -= 1;
            fix.hour += 24;
        } else if (fix.hour > 23) {
            fix.day += 1;
            fix.hour -= 24;
        }
        if (fix.day < 1) {
            fix.month -= 1;
            // Leaving January goes back to December's 31 days.
            fix.day = days_in_month(fix.month < 1 ? 12 : fix.month);
        } else if (fix.day > days_in_month(fix.month)) {
            fix.month += 1;
            fix.day = 1;
        }
        if (fix.month < 1) {
            fix.year -= 1;
            fix.month += 12;
        } else if (fix.month > 12) {
            fix.year += 1;
            fix.month -= 12;
        }
    }
    std::snprintf(fix.local_text, sizeof fix.local_text, "%4d/%02d/%02d %02d:%02d:%02d", fix.year, fix.month,
                  fix.day, fix.hour, fix.minute, fix.second);
}

}  // namespace vg
