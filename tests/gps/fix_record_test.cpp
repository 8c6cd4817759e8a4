#include "gps/fix_record.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace vg {
namespace {

TEST(SetReceiverTime, ZoneShiftCrossesYearForward) {
    FixRecord fix;
    fix.local_offset_hours = 3;
    set_receiver_time(fix, 2009, 12, 31, 22, 30, 0);
    EXPECT_STREQ(fix.utc_text, "2009/12/31 22:30:00");
    EXPECT_STREQ(fix.local_text, "2010/01/01 01:30:00");
    EXPECT_EQ(fix.year, 2010);
    EXPECT_EQ(fix.month, 1);
    EXPECT_EQ(fix.day, 1);
    EXPECT_EQ(fix.hour, 1);
}

TEST(SetReceiverTime, NegativeZoneCrossesMonthAndYearBack) {
    FixRecord fix;
    fix.local_offset_hours = -5;
    set_receiver_time(fix, 2010, 3, 1, 2, 0, 0);
    EXPECT_STREQ(fix.local_text, "2010/02/28 21:00:00");
    set_receiver_time(fix, 2010, 1, 1, 2, 0, 0);
    EXPECT_STREQ(fix.local_text, "2009/12/31 21:00:00");
    EXPECT_STREQ(fix.utc_text, "2010/01/01 02:00:00");
    // February has 28 days in every year, leap years included.
    set_receiver_time(fix, 2012, 3, 1, 1, 0, 0);
    EXPECT_STREQ(fix.local_text, "2012/02/28 20:00:00");
}

TEST(SetReceiverTime, ZeroZoneKeepsUtc) {
    FixRecord fix;
    set_receiver_time(fix, 2024, 6, 30, 23, 59, 59);
    EXPECT_STREQ(fix.local_text, fix.utc_text);
    EXPECT_STREQ(fix.utc_text, "2024/06/30 23:59:59");
}

TEST(SetReceiverTime, ForwardShiftAtEndOfMonth) {
    FixRecord fix;
    fix.local_offset_hours = 2;
    set_receiver_time(fix, 2023, 4, 30, 23, 0, 0);
    EXPECT_STREQ(fix.local_text, "2023/05/01 01:00:00");
}

// zone=local: the system's zone rules, daylight saving and abbreviation included, at the fix's time.
TEST(SetReceiverTime, SystemLocalTimeFollowsDaylightSaving) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows' C runtime reads TZ without POSIX daylight-saving rules";
#else
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    ::setenv("TZ", "EET-2EEST,M3.5.0/3,M10.5.0/4", 1);
    ::tzset();
    FixRecord fix;
    fix.local_zone_system = true;
    set_receiver_time(fix, 2024, 1, 15, 23, 30, 5);  // winter: UTC+2, the next day
    EXPECT_STREQ(fix.local_text, "2024/01/16 01:30:05");
    EXPECT_STREQ(fix.local_zone_name, "EET");
    EXPECT_STREQ(fix.utc_text, "2024/01/15 23:30:05");
    set_receiver_time(fix, 2024, 7, 1, 12, 0, 0);  // summer: UTC+3
    EXPECT_STREQ(fix.local_text, "2024/07/01 15:00:00");
    EXPECT_STREQ(fix.local_zone_name, "EEST");
    set_receiver_time(fix, 2024, 3, 31, 0, 59, 59);  // the last second before the change
    EXPECT_STREQ(fix.local_text, "2024/03/31 02:59:59");
    set_receiver_time(fix, 2024, 3, 31, 1, 0, 0);
    EXPECT_STREQ(fix.local_text, "2024/03/31 04:00:00");
    if (old) ::setenv("TZ", saved.c_str(), 1); else ::unsetenv("TZ");
    ::tzset();
#endif
}

}  // namespace
}  // namespace vg
