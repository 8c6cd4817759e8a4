#include "gps/fix_record.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/clock.h"

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

GnssSystem gnss_system_of_prn(int prn) {
    if (prn >= 1 && prn <= 32) return GnssSystem::Gps;
    if ((prn >= 33 && prn <= 64) || (prn >= 120 && prn <= 158)) return GnssSystem::Sbas;
    if (prn >= 65 && prn <= 96) return GnssSystem::Glonass;
    if (prn >= 193 && prn <= 200) return GnssSystem::Qzss;
    if ((prn >= 201 && prn <= 237) || (prn >= 401 && prn <= 437)) return GnssSystem::Beidou;
    if (prn >= 301 && prn <= 336) return GnssSystem::Galileo;
    return GnssSystem::Unknown;
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

    if (fix.local_zone_system) {
        std::tm utc{};
        utc.tm_year = year - 1900;
        utc.tm_mon = month - 1;
        utc.tm_mday = day;
        utc.tm_hour = hour;
        utc.tm_min = minute;
        utc.tm_sec = second;
        const std::time_t t = utc_time(utc);
        std::tm local{};
        if (t != static_cast<std::time_t>(-1) && local_parts(t, local)) {
            fix.year = local.tm_year + 1900;
            fix.month = local.tm_mon + 1;
            fix.day = local.tm_mday;
            fix.hour = local.tm_hour;
            fix.minute = local.tm_min;
            fix.second = local.tm_sec;
            std::snprintf(fix.local_zone_name, sizeof fix.local_zone_name, "%s", local_zone_name(local).c_str());
        } else {
            fix.local_zone_name[0] = '\0';
        }
    } else if (fix.local_offset_hours != 0) {
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

const char* fix_quality_name(const FixRecord& fix) {
    switch (fix.quality) {
    case 2: return "DGPS";
    case 3: return "PPS";
    case 4: return "RTK fixed";
    case 5: return "RTK float";
    case 6: return "Dead reckoning";
    case 7: return "Manual";
    case 8: return "Simulated";
    default: break;
    }
    if (fix.quality == 0) return "";
    if (fix.fix_dimension >= 3) return "3D";
    if (fix.fix_dimension == 2) return "2D";
    return fix.fix_dimension == 1 || fix.quality == 1 ? "Fix" : "";
}

}  // namespace vg
