// Track log to GPX 1.1 (checked by xmllint against the published schema) and GPX files from other
// programs read back: gpsd's gpxlogger, routes and waypoints, and files that must be refused.
#include "track/gpx.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "support/gpx_schema.h"
#include "support/test_paths.h"
#include "track/track_log.h"

namespace vg {
namespace {

const std::filesystem::path kGpxData = test::shared_testdata() / "gpx";

// Runs the document through `xmllint --schema`; true when it validates.
bool schema_valid(const std::string& gpx, std::string* report = nullptr) { return test::gpx_text_valid(gpx, report); }

// The tests read the program's local calendar texts in a fixed zone with summer time.
class GpxTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        saved_ = tz ? std::optional<std::string>(tz) : std::nullopt;
        ::setenv("TZ", "Europe/Helsinki", 1);
        ::tzset();
    }
    void TearDown() override {
        if (saved_) ::setenv("TZ", saved_->c_str(), 1);
        else ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::optional<std::string> saved_;
};

TEST_F(GpxTest, TrackLogLinesBecomeRunsWithUtcTimes) {
    const std::string log =
        "60.169800 24.938400 - Mon Jul  6 14:00:00 2026\n"  // summer time: UTC+3
        "60.170000 24.939000 - Mon Jul  6 14:00:05 2026\n"
        "garbage line\n"
        "61.5\n"                                              // one number: ignored, as when drawing
        "60.180000 24.950000 - Mon Jul  6 14:30:00 2026\n"  // 30 minutes later: a new run
        "60.181000 24.951000 - Mon Jul  6 14:29:00 2026\n"  // clock went back: a new run
        "91.0 10.0 - Mon Jul  6 14:29:01 2026\n"            // out of range: skipped
        "-33.9 180.000000 - Mon Dec  7 09:00:00 2026\r\n"   // winter time: UTC+2; CR LF line
        "-33.9 151.2 - not a time\n"
        "nan 1.0 - Mon Dec  7 09:00:00 2026\n";
    const auto runs = read_track_log(log);
    ASSERT_EQ(runs.size(), 5u);
    EXPECT_EQ(runs[0].size(), 2u);
    EXPECT_EQ(runs[0][0].utc_seconds, 1783335600);  // 2026-07-06T11:00:00Z
    EXPECT_EQ(runs[1].size(), 1u);
    EXPECT_EQ(runs[2].size(), 1u);
    ASSERT_EQ(runs[3].size(), 1u);
    EXPECT_EQ(runs[3][0].utc_seconds, 1796626800);  // 2026-12-07T07:00:00Z
    ASSERT_EQ(runs[4].size(), 1u);
    EXPECT_FALSE(runs[4][0].utc_seconds);

    const std::string gpx = write_gpx(runs, "Drive & <sail>");
    std::string report;
    EXPECT_TRUE(schema_valid(gpx, &report)) << report << gpx;
    EXPECT_NE(gpx.find("<time>2026-07-06T11:00:00Z</time>"), std::string::npos);
    EXPECT_NE(gpx.find("<time>2026-12-07T07:00:00Z</time>"), std::string::npos);
    EXPECT_NE(gpx.find("<name>Drive &amp; &lt;sail&gt;</name>"), std::string::npos);
    EXPECT_NE(gpx.find("lon=\"-180.0000000\""), std::string::npos);  // the schema's range ends before 180

    // Read back: the same points, one line per run.
    GpxData back;
    std::string error;
    ASSERT_TRUE(read_gpx(gpx, back, error)) << error;
    ASSERT_EQ(back.lines.size(), 5u);
    EXPECT_DOUBLE_EQ(back.lines[0][1].latitude, 60.17);
    EXPECT_DOUBLE_EQ(back.lines[0][1].longitude, 24.939);
}

TEST_F(GpxTest, EmptyLogAndElevationStillValidate) {
    EXPECT_TRUE(schema_valid(write_gpx({}, "empty")));
    TrackRun run{{1.5, 2.5, 1700000000, 12.25}, {-1.5, -2.5, std::nullopt, std::nullopt}};
    const std::string gpx = write_gpx({run}, "t");
    EXPECT_TRUE(schema_valid(gpx));
    EXPECT_NE(gpx.find("<ele>12.2</ele><time>2023-11-14T22:13:20Z</time>"), std::string::npos) << gpx;
}

// Another program's GPX: GPSBabel (Debian's gpsbabel) turns a real receiver capture into GPX 1.1 here,
// and reads our export back.
TEST_F(GpxTest, GpsbabelFilesOpenAndOurExportReadsInGpsbabel) {
    test::TempDir dir;
    const std::string capture = (test::shared_testdata() / "receivers/nmea-rtk.log").string();
    const std::string theirs = (dir / "theirs.gpx").string();
    ASSERT_EQ(std::system(("gpsbabel -i nmea -f '" + capture + "' -o gpx,gpxver=1.1 -F '" + theirs + "'").c_str()), 0);
    GpxData data;
    std::string error;
    ASSERT_TRUE(read_gpx(test::read_file(theirs), data, error)) << error;
    ASSERT_EQ(data.lines.size(), 1u);
    EXPECT_GT(data.lines[0].size(), 50u);
    EXPECT_NEAR(data.lines[0][0].latitude, 41.575, 0.001);
    EXPECT_NEAR(data.lines[0][0].longitude, -93.7506, 0.001);

    test::write_file(dir / "ours.gpx", write_gpx(read_track_log("60.1 24.9 - Mon Jul  6 14:00:00 2026\n"
                                                                 "60.2 25.0 - Mon Jul  6 14:00:10 2026\n"),
                                                  "t"));
    const std::string csv = (dir / "ours.csv").string();
    ASSERT_EQ(std::system(("gpsbabel -t -i gpx -f '" + (dir / "ours.gpx").string() + "' -o unicsv,utc=0 -F '" + csv + "'").c_str()), 0);
    const std::string text = test::read_file(csv);
    EXPECT_NE(text.find("60.200000,25.000000"), std::string::npos) << text;
    EXPECT_NE(text.find("2026/07/06,11:00:10"), std::string::npos) << text;
}

TEST(GpxRead, RoutesWaypointsVersionTenAndExtensions) {
    const std::string gpx10 = R"(<?xml version="1.0"?>
<gpx version="1.0" creator="hand" xmlns="http://www.topografix.com/GPX/1/0" xmlns:x="urn:other">
  <wpt lat="60.1" lon="24.9"><name>Harbour</name><x:depth>4</x:depth></wpt>
  <wpt lat="60.2" lon="25.0"/>
  <rte><name>r</name><rtept lat="60.1" lon="24.9"/><rtept lat="60.3" lon="25.1"/></rte>
  <x:trk><x:trkseg><x:trkpt lat="1" lon="1"/></x:trkseg></x:trk>
  <trk><trkseg/></trk>
</gpx>)";
    GpxData data;
    std::string error;
    ASSERT_TRUE(read_gpx(gpx10, data, error)) << error;
    ASSERT_EQ(data.waypoints.size(), 2u);
    EXPECT_EQ(data.waypoints[0].name, "Harbour");
    ASSERT_EQ(data.lines.size(), 1u);  // the route; the foreign track and the empty segment add nothing
    EXPECT_EQ(data.lines[0].size(), 2u);
}

TEST(GpxRead, TimesAndElevationsOfPointsAreKept) {
    const std::string gpx = R"(<?xml version="1.0"?>
<gpx version="1.1" creator="hand" xmlns="http://www.topografix.com/GPX/1/1"><trk><trkseg>
  <trkpt lat="60.1" lon="24.9"><ele>12.5</ele><time>2024-02-29T23:59:59Z</time></trkpt>
  <trkpt lat="60.2" lon="24.9"><ele> -3 </ele><time>2024-03-01T02:00:00.250+02:00</time></trkpt>
  <trkpt lat="60.3" lon="24.9"><ele>high</ele><time>2024-13-01T00:00:00Z</time></trkpt>
  <trkpt lat="60.4" lon="24.9"><time>1969-12-31T23:59:59</time></trkpt>
</trkseg></trk></gpx>)";
    GpxData data;
    std::string error;
    ASSERT_TRUE(read_gpx(gpx, data, error)) << error;
    ASSERT_EQ(data.lines.size(), 1u);
    const auto& p = data.lines[0];
    ASSERT_EQ(p.size(), 4u);
    EXPECT_EQ(p[0].elevation, 12.5);
    EXPECT_EQ(p[0].utc_seconds, 1709251199.0);
    EXPECT_EQ(p[1].elevation, -3.0);
    EXPECT_EQ(p[1].utc_seconds, 1709251200.25);  // the offset taken off
    EXPECT_FALSE(p[2].elevation);                 // unreadable values are left out, the point kept
    EXPECT_FALSE(p[2].utc_seconds);
    EXPECT_EQ(p[3].utc_seconds, -1.0);            // no zone: UTC
    for (const char* bad : {"", "2024-01-01", "2024-01-01T10:00:00+2", "2024-01-01T10:00:00Zjunk", "2024-01-01T10:00:00."})
        EXPECT_FALSE(parse_iso_time(bad)) << bad;
}

TEST(GpxRead, BadFilesAreRefusedWithAReason) {
    struct Case {
        const char* text;
        const char* why;
    } cases[] = {
        {"", "not well-formed"},
        {"<gpx version=\"1.1\"><trk>", "not well-formed"},
        {"<kml/>", "not a GPX file"},
        {"<gpx xmlns=\"http://www.topografix.com/GPX/1/1\"><wpt lon=\"1\"/></gpx>", "without lat"},
        {"<gpx><trk><trkseg><trkpt lat=\"95\" lon=\"1\"/></trkseg></trk></gpx>", "bad lat"},
        {"<gpx><rte><rtept lat=\"1\" lon=\"east\"/></rte></gpx>", "bad lon"},
        // Any document type declaration: entities are neither fetched nor expanded.
        {"<!DOCTYPE gpx [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><gpx><wpt lat=\"1\" lon=\"1\"><name>&e;</name></wpt></gpx>",
         "document type declaration"},
        {"<?xml version=\"1.0\"?>\n<!DOCTYPE gpx SYSTEM \"gpx.dtd\"><gpx/>", "document type declaration"},
        {"<!DOCTYPE gpx><gpx/>", "document type declaration"},
        // An entity that was never declared is an error, not an empty name.
        {"<gpx><wpt lat=\"1\" lon=\"1\"><name>&e;</name></wpt></gpx>", "not well-formed"},
    };
    for (const Case& c : cases) {
        GpxData data;
        std::string error;
        EXPECT_FALSE(read_gpx(c.text, data, error)) << c.text;
        EXPECT_NE(error.find(c.why), std::string::npos) << error;
    }
}

// One 50 KB entity referenced 6000 times in a 310 KB file: expanded, a 300 MB name. The
// declaration is refused before the entity is read.
TEST(GpxRead, EntityExpansionIsRefusedBeforeAnyIsRead) {
    std::string gpx = "<?xml version=\"1.0\"?>\n<!DOCTYPE gpx [<!ENTITY a \"" + std::string(50000, 'a') +
                      "\">]>\n<gpx version=\"1.1\" xmlns=\"http://www.topografix.com/GPX/1/1\"><wpt lat=\"1\" lon=\"2\"><name>";
    for (int i = 0; i < 6000; ++i) gpx += "&a;";
    gpx += "</name></wpt></gpx>";
    GpxData data;
    std::string error;
    EXPECT_FALSE(read_gpx(gpx, data, error));
    EXPECT_NE(error.find("document type declaration"), std::string::npos) << error;
    EXPECT_TRUE(data.waypoints.empty());
}

TEST(GpxRead, NamesAreCutAtTheLimitOnACharacterBoundary) {
    // 1023 bytes of 'x' then "ä" (2 bytes): the cut falls inside "ä", which is left out whole. The
    // text comes in three parts (text, CDATA, text) and an element in it adds nothing.
    const std::string name = std::string(1000, 'x') + "<![CDATA[" + std::string(23, 'x') + "]]><b>y</b>\xC3\xA4tail";
    const std::string gpx = "<gpx><wpt lat=\"1\" lon=\"2\"><name>" + name + "</name></wpt>"
                            "<wpt lat=\"1\" lon=\"2\"><name>&lt;caf\xC3\xA9&gt;</name></wpt></gpx>";
    GpxData data;
    std::string error;
    ASSERT_TRUE(read_gpx(gpx, data, error)) << error;
    ASSERT_EQ(data.waypoints.size(), 2u);
    EXPECT_EQ(data.waypoints[0].name, std::string(kGpxMaxText - 1, 'x'));
    EXPECT_EQ(data.waypoints[1].name, "<caf\xC3\xA9>");
}

// A track name of any bytes (the program takes it from a file name or the user) exports as a document
// that libxml2 reads: invalid UTF-8, controls and the two non-characters become U+FFFD.
TEST(GpxWrite, NamesOfAnyBytesStayWellFormed) {
    const std::string name = std::string("a\xFF\xC3(\x01\tb\xEF\xBF\xBE\xED\xA0\x80\xC0\xAF\xF0\x9F\x97\xBA\xC3\xA9", 21) +
                             std::string(1, '\0') + "&";
    const std::string gpx = write_gpx({{{60.0, 25.0, std::nullopt, std::nullopt}}}, name);
    const std::string r = "\xEF\xBF\xBD";
    EXPECT_NE(gpx.find("<name>a" + r + r + "(" + r + "\tb" + r + r + r + r + r + r + r + r +
                       "\xF0\x9F\x97\xBA\xC3\xA9" + r + "&amp;</name>"),
              std::string::npos)
        << gpx;
    GpxData back;
    std::string error;
    ASSERT_TRUE(read_gpx(gpx, back, error)) << error;
    EXPECT_EQ(back.lines.size(), 1u);
    EXPECT_TRUE(schema_valid(gpx));
}

}  // namespace
}  // namespace vg
