// How good a fix is: the GGA quality, the corrections' age and the error estimates, read from a real
// RTK receiver's capture as gpsd reads it, from GST sentences, and from gpsd's own reports.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "gps/gpsd_json.h"
#include "gps/nmea.h"
#include "receiver_logs.h"

namespace vg {
namespace {

// gpsd's capture of a Trimble receiver going from DGPS to RTK fixed: its output repeats each sentence
// before the report it made of it, so feeding the sentences in that order and comparing at each report
// checks every epoch.
TEST(FixQuality, RealRtkCaptureGivesGpsdsStatusAndCorrectionAgeAtEveryReport) {
    const std::string text = test::read_file(test::receivers_dir() / "nmea-rtk.log.chk");
    NmeaParser parser;
    FixRecord fix;
    int compared = 0, rtk = 0;
    std::size_t start = 0;
    bool fed = false;
    while (start < text.size()) {
        std::size_t lf = text.find('\n', start);
        if (lf == std::string::npos) lf = text.size();
        const std::string line = text.substr(start, lf - start) + "\n";
        start = lf + 1;
        if (line[0] == '$') {
            parser.nmea_feed(reinterpret_cast<const std::uint8_t*>(line.data()), line.size(), fix);
            fed = fed || line.find("GGA") != std::string::npos;
            continue;
        }
        const auto tpv = test::parse_json(line);
        if (!fed || !tpv || !tpv->has("status") || (*tpv)["class"].string != "TPV") continue;
        SCOPED_TRACE(line);
        const int status = static_cast<int>((*tpv)["status"].number);
        EXPECT_EQ(fix.quality, status == 3 ? 4 : status);  // gpsd's 3 is RTK fixed, GGA's 4
        EXPECT_EQ(fix.correction_age, (*tpv)["dgpsAge"].number);
        EXPECT_EQ(fix.station_id, static_cast<int>((*tpv)["dgpsSta"].number));
        rtk += fix.quality == 4;
        ++compared;
    }
    EXPECT_GT(compared, 100);
    EXPECT_GT(rtk, 10);
    EXPECT_STREQ(fix_quality_name(fix), "RTK fixed");
    EXPECT_TRUE(std::isnan(fix.h_error_m));  // no GST in this capture: unknown, not made up
}

TEST(FixQuality, GstAndGpsdReportsGiveTheHorizontalErrorAndNamesFollowTheQuality) {
    NmeaParser parser;
    FixRecord fix;
    const std::string gst = "$GNGST,133901.50,0.8,0.02,0.01,45.0,0.012,0.016,0.030*78\r\n";
    parser.nmea_feed(reinterpret_cast<const std::uint8_t*>(gst.data()), gst.size(), fix);
    EXPECT_NEAR(fix.h_error_m, 0.02, 1e-12);
    const std::string bad = "$GNGST,133901.60,0.8,0.02,0.01,45.0,-1,0.016,0.030*00\r\n";  // bad checksum
    parser.nmea_feed(reinterpret_cast<const std::uint8_t*>(bad.data()), bad.size(), fix);
    EXPECT_NEAR(fix.h_error_m, 0.02, 1e-12);

    FixRecord g;
    gpsd_report(R"({"class":"TPV","mode":3,"status":4,"lat":1,"lon":2,"epx":3.0,"epy":4.0,"eph":9})", g);
    EXPECT_EQ(g.quality, 5);
    EXPECT_STREQ(fix_quality_name(g), "RTK float");
    EXPECT_DOUBLE_EQ(g.h_error_m, 5.0);
    gpsd_report(R"({"class":"TPV","mode":2,"status":1,"eph":12.5,"dgpsAge":-3})", g);
    EXPECT_DOUBLE_EQ(g.h_error_m, 12.5);
    EXPECT_EQ(g.quality, 1);
    EXPECT_STREQ(fix_quality_name(g), "2D");
    gpsd_report(R"({"class":"TPV","mode":3,"status":77})", g);  // outside gpsd's table: left as it was
    EXPECT_EQ(g.quality, 1);
    EXPECT_STREQ(fix_quality_name(FixRecord{}), "");
}

}  // namespace
}  // namespace vg
