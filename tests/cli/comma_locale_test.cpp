// Files and network formats keep their decimal point while the C library runs in a locale with a decimal
// comma, as the window's toolkit sets it from the user's environment. The German locale is compiled
// into a private folder (LOCPATH) with localedef; without localedef or the locale sources the tests
// skip and say so. Each format goes through its real entry points, written and read back.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "app/view_text.h"
#include "cli/fix_json.h"
#include "gps/fix_record.h"
#include "gps/gpsd_json.h"
#include "gps/nmea.h"
#include "net/base_link.h"
#include "net/position_server.h"
#include "settings/settings_file.h"
#include "support/map_pack.h"
#include "support/test_paths.h"
#include "tiles/mbtiles.h"
#include "tiles/tile_catalogue.h"
#include "track/gpx.h"
#include "track/track_log.h"

namespace vg {
namespace comma_locale {

namespace fs = std::filesystem;

// Each test runs in de_DE.UTF-8 (LC_ALL) and ends in the C locale again, LOCPATH as it was.
class CommaLocale : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder_ = std::make_unique<test::TempDir>();
        const fs::path target = *folder_ / "de_DE.UTF-8";
        const std::string command = "localedef -i de_DE -f UTF-8 '" + target.string() + "' > /dev/null 2>&1";
        // localedef may warn and still write the locale: what counts is that it is there.
        (void)std::system(command.c_str());
        if (!fs::exists(target / "LC_NUMERIC"))
            why_not_ = "localedef could not compile de_DE.UTF-8 (it needs libc-bin and /usr/share/i18n/locales)";
    }
    static void TearDownTestSuite() { folder_.reset(); }

    void SetUp() override {
        if (!why_not_.empty()) GTEST_SKIP() << why_not_;
        if (const char* old = std::getenv("LOCPATH")) saved_locpath_ = old;
        ::setenv("LOCPATH", folder_->path().c_str(), 1);  // read again by each setlocale
        switched_ = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
        if (!switched_) GTEST_SKIP() << "setlocale refused the de_DE.UTF-8 compiled into " << folder_->path();
        char text[16];
        std::snprintf(text, sizeof text, "%.1f", 1.5);
        if (std::string(text) != "1,5") GTEST_SKIP() << "de_DE.UTF-8 still prints 1.5 as " << text;
    }
    void TearDown() override {
        std::setlocale(LC_ALL, "C");
        if (saved_locpath_) ::setenv("LOCPATH", saved_locpath_->c_str(), 1);
        else ::unsetenv("LOCPATH");
    }

    static inline std::unique_ptr<test::TempDir> folder_;
    static inline std::string why_not_;
    std::optional<std::string> saved_locpath_;
    bool switched_ = false;
};

TEST_F(CommaLocale, SettingsAndReceiversReadDecimalPoints) {
    const StartPosition pos = parse_start_position("N 6010.30\nW 12345.00\n");
    EXPECT_NEAR(pos.latitude, 60 + 10 / 60.0 + 30 / 3600.0, 1e-9);
    EXPECT_NEAR(pos.longitude, -(123 + 45 / 60.0), 1e-9);

    NmeaParser nmea;
    FixRecord fix;
    nmea.nmea_dispatch("GPRMC,225310,A,4527.458,S,16709.165,E,000.0,094.5,060601,024.1,E*64", fix);
    EXPECT_NEAR(fix.latitude, -(45 + 27.458 / 60), 1e-9);
    EXPECT_DOUBLE_EQ(fix.course, 94.5);

    FixRecord gpsd;
    EXPECT_EQ(gpsd_report(R"({"class":"TPV","mode":3,"time":"2026-12-07T10:38:08.250Z","lat":60.175843333,)"
                          R"("lon":24.925506667,"altMSL":25.5,"track":351.0,"speed":1.5})", gpsd),
              GpsdReport::Tpv);
    EXPECT_DOUBLE_EQ(gpsd.latitude, 60.175843333);
    EXPECT_DOUBLE_EQ(gpsd.altitude, 25.5);
}

// What one side writes is checked as text and the other side reads the expected text, so that a writer
// and a reader that both follow the locale cannot hide each other.
TEST_F(CommaLocale, BaseUploadIsTakenByThePositionServer) {
    EXPECT_EQ(base_upload_body(60.175, -24.95), "latitude=60.175000&longitude=-24.950000");
    const std::string body = "latitude=60.175000&longitude=-24.950000";
    const auto taken = handle_position_request("POST /vor/sendbase.cgi HTTP/1.1\r\nContent-Length: " +
                                               std::to_string(body.size()) + "\r\n\r\n" + body);
    EXPECT_EQ(taken.status, 200);
    ASSERT_TRUE(taken.has_position());
    EXPECT_DOUBLE_EQ(*taken.latitude, 60.175);
    EXPECT_DOUBLE_EQ(*taken.longitude, -24.95);

    const auto phone = handle_position_request("GET /?lat=-33.5&lon=151.25&speed=2.5 HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(phone.has_position());
    EXPECT_DOUBLE_EQ(*phone.longitude, 151.25);
}

TEST_F(CommaLocale, TrackLog) {
    const std::string line = track_log_line(60.1698, 24.9384, "Mon Jul  6 14:00:00 2026");
    EXPECT_EQ(line, "60.169800 24.938400 - Mon Jul  6 14:00:00 2026\n");
    const auto runs = read_track_log("60.169800 24.938400 - Mon Jul  6 14:00:00 2026\n"
                                     "60.170000 -24.939000 - Mon Jul  6 14:00:05 2026\n");
    ASSERT_EQ(runs.size(), 1u);
    ASSERT_EQ(runs[0].size(), 2u);
    EXPECT_DOUBLE_EQ(runs[0][1].longitude, -24.939);
}

TEST_F(CommaLocale, Gpx) {
    const std::string gpx = write_gpx({{{60.1698, 24.9384, std::nullopt, 12.25}}}, "t");
    EXPECT_NE(gpx.find("<trkpt lat=\"60.1698000\" lon=\"24.9384000\"><ele>12.2</ele>"), std::string::npos) << gpx;
#ifndef VG_NO_LIBXML2
    GpxData back;
    std::string error;
    ASSERT_TRUE(read_gpx("<gpx version=\"1.1\" xmlns=\"http://www.topografix.com/GPX/1/1\"><trk><trkseg>"
                         "<trkpt lat=\"60.1700000\" lon=\"-24.9390000\"><ele>12.5</ele></trkpt></trkseg></trk></gpx>",
                         back, error))
        << error;
    ASSERT_EQ(back.lines.size(), 1u);
    ASSERT_EQ(back.lines[0].size(), 1u);
    EXPECT_DOUBLE_EQ(back.lines[0][0].latitude, 60.17);
    EXPECT_DOUBLE_EQ(back.lines[0][0].longitude, -24.939);
#endif
}

TEST_F(CommaLocale, VortoolJsonMapPacksAndTheCatalogue) {
    FixRecord fix;
    fix.latitude = 60.5;
    fix.speed_knots = 0.25;
    const std::string json = cli::fix_to_json(fix);
    EXPECT_NE(json.find("60.5"), std::string::npos) << json;
    EXPECT_NE(json.find("0.25"), std::string::npos) << json;

    test::TempDir dir;
    ASSERT_TRUE(test::make_pack(dir / "p.mbtiles", {{"name", "P"}, {"format", "png"}, {"bounds", "20.5,-59.75,25.25,61.0"}}, {}));
    std::string error;
    const auto pack = MbtilesPack::open((dir / "p.mbtiles").string(), error);
    ASSERT_TRUE(pack) << error;
    EXPECT_TRUE(pack->info().has_bounds);
    EXPECT_DOUBLE_EQ(pack->info().south, -59.75);
    EXPECT_DOUBLE_EQ(pack->info().east, 25.25);

    Catalogue catalogue;
    read_sources_text("Mine|map|https://example.org/{z}/{x}/{y}.png|4,7,10|© Me|conn=3,fresh=2\n", catalogue);
    ASSERT_EQ(catalogue.entries.size(), 1u);
    EXPECT_EQ(catalogue.entries[0].zooms, (std::vector<int>{4, 7, 10}));
    EXPECT_EQ(catalogue.entries[0].conn, 3);
}

}  // namespace comma_locale
}  // namespace vg
