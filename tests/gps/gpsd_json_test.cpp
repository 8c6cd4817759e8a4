// gpsd's reports as a receiver dialect, fed with gpsd's own output for the real captures.
#include "gps/gpsd_json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "gps/receiver_logs.h"

namespace vg {
namespace {

void feed(GpsdParser& parser, FixRecord& fix, const std::string& bytes, std::size_t chunk) {
    for (std::size_t i = 0; i < bytes.size(); i += chunk)
        parser.feed(reinterpret_cast<const std::uint8_t*>(bytes.data() + i), std::min(chunk, bytes.size() - i), fix);
}

// gpsd's .chk files hold its reports (and the sentences it accepted, which are not JSON).
TEST(GpsdReports, RealReportsEndAtGpsdsLastPositionInAnyChunkSize) {
    for (const std::string& name : test::nmea_log_names()) {
        SCOPED_TRACE(name);
        const std::string reports = test::read_file(test::receivers_dir() / (name + ".log.chk"));
        const auto positions = test::gpsd_positions(name);
        FixRecord reference;
        GpsdParser whole;
        feed(whole, reference, reports, reports.size());
        if (!positions.empty()) {
            EXPECT_NEAR(reference.latitude, positions.back().first, 1e-9);
            EXPECT_NEAR(reference.longitude, positions.back().second, 1e-9);
        }
        const std::string time = test::gpsd_last_time(name);
        if (time.size() >= 19) {
            EXPECT_EQ(reference.utc_text,
                      time.substr(0, 4) + "/" + time.substr(5, 2) + "/" + time.substr(8, 2) + " " + time.substr(11, 8));
        }
        for (std::size_t chunk : {1u, 13u, 80u, 4096u}) {
            GpsdParser parser;
            FixRecord fix;
            feed(parser, fix, reports, chunk);
            EXPECT_TRUE(test::same_fix(fix, reference)) << "chunk " << chunk;
        }
    }
}

TEST(GpsdReports, TpvAndSkyFields) {
    FixRecord fix;
    EXPECT_EQ(gpsd_report(R"({"class":"TPV","device":"/dev/pts/0","mode":3,"time":"2026-12-07T10:38:08.250Z","lat":60.175843333,)"
                          R"("lon":24.925506667,"altHAE":42.0,"altMSL":25.0,"track":351.0,"speed":10.495})", fix),
              GpsdReport::Tpv);
    EXPECT_DOUBLE_EQ(fix.latitude, 60.175843333);
    EXPECT_DOUBLE_EQ(fix.altitude, 25.0);
    EXPECT_NEAR(fix.speed_knots, 10.495 * 3600 / 1852, 1e-12);
    EXPECT_DOUBLE_EQ(fix.course, 351.0);
    EXPECT_EQ(fix.fix_dimension, 3);
    EXPECT_STREQ(fix.utc_text, "2026/12/07 10:38:08");
    EXPECT_EQ(gpsd_report(R"({"class":"SKY","satellites":[{"PRN":3,"el":64.0,"az":120.0,"ss":45.0,"used":true,"gnssid":0},)"
                          R"({"PRN":70,"el":10,"az":20,"ss":30,"used":false,"gnssid":6},{"PRN":5,"used":true,"gnssid":2},)"
                          R"({"el":1},{"PRN":-4},"junk"]})", fix),
              GpsdReport::Sky);
    ASSERT_EQ(fix.sky_count, 3);
    EXPECT_EQ(fix.sky[1].system, GnssSystem::Glonass);
    EXPECT_EQ(fix.sky[2].system, GnssSystem::Galileo);
    EXPECT_EQ(fix.sky[2].used, 1);
    EXPECT_EQ(fix.sats_in_view, 1);
    EXPECT_EQ(fix.satellites[0].snr, 45);
    EXPECT_EQ(fix.satellites[0].used, 1);
    // A gnssid beyond any system's (or beyond int) is an unknown system, not a conversion; a
    // non-finite one is no gnssid (the system follows from the PRN).
    gpsd_report(R"({"class":"SKY","satellites":[{"PRN":3,"gnssid":1e10},{"PRN":4,"gnssid":-5},{"PRN":6,"gnssid":1e999}]})", fix);
    ASSERT_EQ(fix.sky_count, 3);
    EXPECT_EQ(fix.sky[0].system, GnssSystem::Unknown);
    EXPECT_EQ(fix.sky[1].system, GnssSystem::Unknown);
    EXPECT_EQ(fix.sky[2].system, GnssSystem::Gps);
    // No fix: mode 1 clears the dimension but keeps the last position.
    gpsd_report(R"({"class":"TPV","mode":1})", fix);
    EXPECT_EQ(fix.fix_dimension, 0);
    EXPECT_DOUBLE_EQ(fix.latitude, 60.175843333);
}

TEST(GpsdReports, BadReportsChangeOnlyLastMessage) {
    FixRecord fix;
    gpsd_report(R"({"class":"TPV","mode":3,"lat":10,"lon":20,"time":"2020-01-02T03:04:05Z"})", fix);
    const FixRecord before = fix;
    for (const char* line : {
             R"({"class":"TPV","lat":91,"lon":20})", R"({"class":"TPV","lat":10,"lon":-180.5})",
             R"({"class":"TPV","lat":1e999,"lon":20})", R"({"class":"TPV","lat":"10","lon":20})",
             R"({"class":"TPV","time":"2020-13-02T03:04:05Z"})", R"({"class":"TPV","time":"garbage"})",
             R"({"class":"TPV","speed":-1,"track":400,"alt":1e300})", R"({"class":"TPV","lat":10,"lon":20)",
             R"({"class":"TPV","lat":10,"lon":20}})", R"([[[[[[[[[[[[[[[[[[[[]]]]]]]]]]]]]]]]]]]])",
             R"({"class":"SKY","satellites":{"PRN":1}})", R"({"class":"VERSION","release":"3.22"})",
             "not json", "{\"class\":\"TPV\",\"lat\":\"\x01\"}", R"({"class":5})",
             R"({"class":"TPV","mode":4e10})", R"({"class":"TPV","mode":-1e300})", R"({"class":"TPV","mode":1e999})"}) {
        SCOPED_TRACE(line);
        gpsd_report(line, fix);
        EXPECT_EQ(fix.latitude, before.latitude);
        EXPECT_EQ(fix.longitude, before.longitude);
        EXPECT_STREQ(fix.utc_text, before.utc_text);
        EXPECT_EQ(fix.altitude, before.altitude);
        EXPECT_EQ(fix.speed_knots, before.speed_knots);
        EXPECT_EQ(fix.course, before.course);
        EXPECT_EQ(fix.sky_count, before.sky_count);
        EXPECT_EQ(fix.fix_dimension, before.fix_dimension);  // a mode out of range is no mode
        EXPECT_EQ(std::string(fix.last_message), std::string(line).substr(0, 255));
    }
    // A report longer than the line buffer is dropped up to its line end; the next one counts.
    GpsdParser parser;
    const std::string huge = "{\"class\":\"TPV\",\"x\":\"" + std::string(GpsdParser::kLineBufferSize, 'a') + "\"}\n" +
                             R"({"class":"TPV","lat":-33.5,"lon":151.25})" + "\r\n";
    feed(parser, fix, huge, 1000);
    EXPECT_DOUBLE_EQ(fix.latitude, -33.5);
    EXPECT_EQ(parser.pending(), 0u);
}

}  // namespace
}  // namespace vg
