// The GPS monitor's texts, from fix records filled by the NMEA parser from a real receiver capture
// and from records set up for the edge cases (no fix yet, a shrinking table, the end-of-list mark,
// damaged or oversized fields).
#include "app/gps_monitor_texts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "gps/receiver_parser.h"
#include "support/nmea_capture.h"

namespace vg {
namespace {

FixRecord fed_with_capture(const std::string& name) {
    FixRecord fix;
    auto parser = make_receiver_parser(DeviceType::Nmea, ParserContext{});
    const std::string bytes = test::nmea_log_bytes(name);
    // In chunks, as the reader thread hands them over.
    for (std::size_t at = 0; at < bytes.size(); at += 80) {
        const std::size_t n = std::min<std::size_t>(80, bytes.size() - at);
        parser->feed(reinterpret_cast<const std::uint8_t*>(bytes.data() + at), n, fix);
    }
    return fix;
}

void set_satellite(FixRecord& fix, int slot, int prn, int azimuth, int elevation, int snr, int used) {
    fix.satellites[static_cast<std::size_t>(slot)] = SatelliteEntry{prn, elevation, azimuth, snr, used};
}

TEST(GpsMonitorTexts, RealCaptureWithThirteenSatellitesFillsTwelveRows) {
    const FixRecord fix = fed_with_capture("ublox-lea-4h");
    const MonitorTexts texts = gps_monitor_texts(fix);

    EXPECT_EQ(texts.time, "2006/08/10 03:15:18 (UTC)");
    EXPECT_EQ(texts.position, "49.1261 : -122.7102 : 98.50  (3D)");
    // The last sentence was "GPGLL,4907.56818,N,12242.61064,W,031518.00,A,A*7F" (49 characters): a
    // blank and its first 47 characters.
    EXPECT_EQ(texts.message, " GPGLL,4907.56818,N,12242.61064,W,031518.00,A,A*");
    EXPECT_EQ(texts.message.size(), 48u);
    EXPECT_EQ(texts.header, "PRN\t AZM\tELV\t SS\t USE");

    // 13 in view: the table stops after its twelfth row.
    for (const auto& row : texts.rows) EXPECT_TRUE(row.has_value());
    EXPECT_EQ(texts.rows[0], "[28]\t  097\t  25\t   26\t   Yes");
    EXPECT_EQ(texts.rows[4], "[02]\t  178\t  09\t   33\t   Yes");
    EXPECT_EQ(texts.rows[6], "[51]\t  160\t  32\t   46\t   No");
    EXPECT_EQ(texts.rows[11], "[35]\t  205\t  31\t   41\t   Yes");
}

TEST(GpsMonitorTexts, BeforeAnyFixAndWithAThreeDimensionalFix) {
    FixRecord fix;  // all zero, as at program start
    MonitorTexts texts = gps_monitor_texts(fix);
    EXPECT_EQ(texts.time, " (UTC)");
    EXPECT_EQ(texts.position, "No Fix");
    EXPECT_EQ(texts.message, " ");
    for (const auto& row : texts.rows) EXPECT_FALSE(row.has_value());

    set_receiver_time(fix, 2010, 2, 13, 9, 5, 7);
    fix.latitude = 48.1173;
    fix.longitude = 11.5167;
    fix.altitude = 545.4;
    fix.fix_dimension = 3;
    texts = gps_monitor_texts(fix);
    EXPECT_EQ(texts.time, "2010/02/13 09:05:07 (UTC)");
    EXPECT_EQ(texts.position, "48.1173 : 11.5167 : 545.40  (3D)");

    // The ground's height after the position, in feet when speeds are in mph; none without a fix.
    EXPECT_EQ(gps_monitor_texts(fix, 519.6, SpeedUnit::kmh).position,
              "48.1173 : 11.5167 : 545.40  (3D)  Ground 520 m");
    EXPECT_EQ(gps_monitor_texts(fix, 519.6, SpeedUnit::mph).position,
              "48.1173 : 11.5167 : 545.40  (3D)  Ground 1705 ft");
    EXPECT_EQ(gps_monitor_texts(fix, std::nullopt, SpeedUnit::kmh).position, "48.1173 : 11.5167 : 545.40  (3D)");
    EXPECT_EQ(ground_text(-0.4, SpeedUnit::knots), "Ground 0 m");

    fix.fix_dimension = -1;
    EXPECT_EQ(gps_monitor_texts(fix).position, "No Fix");
    EXPECT_EQ(gps_monitor_texts(fix, 519.6, SpeedUnit::kmh).position, "No Fix");
}

TEST(GpsMonitorTexts, QualityLineOfAnRtkReceiverAndNoneForAPlainOne) {
    EXPECT_EQ(gps_monitor_texts(fed_with_capture("ublox-lea-4h")).quality, "");  // plain GPS, no estimate
    FixRecord rtk = fed_with_capture("nmea-rtk");
    EXPECT_EQ(gps_monitor_texts(rtk).quality, "RTK fixed, corrections 7.5 s old, station 2");
    rtk.h_error_m = 0.014;
    EXPECT_EQ(fix_quality_text(rtk), "RTK fixed, corrections 7.5 s old, station 2, \u00b10.01 m");
    FixRecord plain = fed_with_capture("ublox-lea-4h");
    plain.h_error_m = 3.25;
    EXPECT_EQ(fix_quality_text(plain), "\u00b13.2 m");
}

TEST(GpsMonitorTexts, TableFollowsCountAndEndsAtTheEndOfListMark) {
    FixRecord fix;
    for (int i = 0; i < kSatelliteSlots; ++i) set_satellite(fix, i, i + 1, 10 * i, 5 + i, 30 + i, i % 2);
    fix.sats_in_view = 8;
    MonitorTexts texts = gps_monitor_texts(fix);
    for (int i = 0; i < 8; ++i) EXPECT_TRUE(texts.rows[static_cast<std::size_t>(i)].has_value()) << i;
    for (int i = 8; i < 12; ++i) EXPECT_FALSE(texts.rows[static_cast<std::size_t>(i)].has_value()) << i;
    EXPECT_EQ(texts.rows[1], "[02]\t  010\t  06\t   31\t   Yes");
    EXPECT_EQ(texts.rows[7], "[08]\t  070\t  12\t   37\t   Yes");

    // The count drops to 5: rows 6..8 are not written, so the dialog keeps what they showed.
    fix.sats_in_view = 5;
    texts = gps_monitor_texts(fix);
    EXPECT_TRUE(texts.rows[4].has_value());
    EXPECT_FALSE(texts.rows[5].has_value());

    // An elevation of exactly 90 is a satellite overhead; above 90 ends the table at that row even
    // though later slots are valid.
    fix.sats_in_view = 12;
    set_satellite(fix, 2, 17, 0, 90, 40, 1);
    set_satellite(fix, 3, 18, 0, 91, 40, 1);
    texts = gps_monitor_texts(fix);
    EXPECT_EQ(texts.rows[2], "[17]\t  000\t  90\t   40\t   Yes");
    for (int i = 3; i < 12; ++i) EXPECT_FALSE(texts.rows[static_cast<std::size_t>(i)].has_value()) << i;
}

TEST(GpsMonitorTexts, DamagedRecordsGiveBoundedTexts) {
    FixRecord fix;
    // Texts without their terminator (a writer caught in the middle, or a corrupt record): read to the
    // end of the field and no further.
    std::memset(fix.last_message, 'M', sizeof fix.last_message);
    std::memset(fix.utc_text, '9', sizeof fix.utc_text);
    // Counts out of range.
    fix.sats_in_view = 1000;
    // Values far outside what a receiver reports.
    fix.fix_dimension = 3;
    fix.latitude = 1e300;
    fix.longitude = -1e300;
    fix.altitude = 1e308;
    for (int i = 0; i < kSatelliteSlots; ++i) set_satellite(fix, i, -5, -1, -90, 2147483647, 1);

    MonitorTexts texts = gps_monitor_texts(fix);
    EXPECT_EQ(texts.message, " " + std::string(47, 'M'));
    EXPECT_EQ(texts.time, std::string(20, '9') + " (UTC)");
    EXPECT_GT(texts.position.size(), 600u);  // the whole number, not a cut-off buffer
    EXPECT_EQ(texts.position.substr(texts.position.size() - 6), "  (3D)");
    for (const auto& row : texts.rows) ASSERT_TRUE(row.has_value());
    EXPECT_EQ(texts.rows[11], "[-5]\t  -01\t  -90\t   2147483647\t   Yes");

    fix.sats_in_view = -3;
    for (const auto& row : gps_monitor_texts(fix).rows) EXPECT_FALSE(row.has_value());
}

}  // namespace
}  // namespace vg
