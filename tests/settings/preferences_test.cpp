#include "settings/preferences.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "settings/settings_file.h"
#include "support/test_paths.h"

namespace vg {
namespace {

// A hand-kept vor_ini.txt: LF and CR LF lines, a comment-like line, a key the dialog does not know
// and a line longer than a lookup sees.
const std::string kIni = "maps=.\\Maps\r\nzoom=2\r\nhair=1\r\nzone=local\nmy own note = keep me  \r\nplot=no\r\n"
                         "gpsd=10.0.0.2:2947\r\n" + std::string(140, 'x') + "\r\nbase=off:4477\r\n";

TEST(Preferences, ReadsWhatTheProgramReadsAndWritesOnlyChangedKeys) {
    test::TempDir dir;
    test::write_file(dir / kIniFile, kIni);
    test::write_file(dir / kSetFile, "site=OpenStreetMap\r\nunit=NMEA\r\nport=COM3,4800,n,8,1\r\n");
    test::write_file(dir / kIniFile, kIni + "com3=/dev/ttyACM0\r\n");
    const Preferences before = read_preferences(dir.path());
    EXPECT_EQ(before.at("unit"), "NMEA");
    EXPECT_EQ(before.at("port"), "COM3,4800,n,8,1");
    EXPECT_EQ(before.at("com3"), "/dev/ttyACM0");
    EXPECT_EQ(before.at("gpsd"), "10.0.0.2:2947");
    EXPECT_EQ(before.at("base"), "off:4477");
    EXPECT_EQ(before.at("stale"), "3");     // no line: what the program takes
    EXPECT_EQ(before.at("record"), "yes");  // likewise

    Preferences after = before;
    after["gpsd"] = "gps.local:2948";
    after["stale"] = "10";
    after["night"] = "yes";
    const PreferencesWritten w = write_preferences(dir.path(), before, after);
    ASSERT_TRUE(w.ok()) << w.failure;
    EXPECT_EQ(w.changed, (std::vector<std::string>{"night", "gpsd", "stale"}));
    // Changed lines in place, new ones appended, every other line kept (CR LF line ends, the files'
    // format); the long line and the unknown one survive whole.
    EXPECT_EQ(test::read_file(dir / kIniFile),
              "maps=.\\Maps\r\nzoom=2\r\nhair=1\r\nzone=local\r\nmy own note = keep me  \r\nplot=no\r\n"
              "gpsd=gps.local:2948\r\n" + std::string(140, 'x') + "\r\nbase=off:4477\r\ncom3=/dev/ttyACM0\r\nstale=10\r\n");
    EXPECT_EQ(test::read_file(dir / kSetFile), "site=OpenStreetMap\r\nunit=NMEA\r\nport=COM3,4800,n,8,1\r\nnight=yes\r\n");
    EXPECT_EQ(read_preferences(dir.path()), after);
    // Nothing changed: nothing written, no temporary files left.
    EXPECT_TRUE(write_preferences(dir.path(), after, after).changed.empty());
    int entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, 2);
}

TEST(Preferences, BadValuesAreRefusedWithAReasonAndWriteNothing) {
    const std::pair<const char*, const char*> bad[] = {
        {"gpsd", "localhost"},          {"gpsd", "host:70000"},       {"nmea", "http://x:1"},
        {"nmea", "tcp://:10110"},       {"port", "COM3,4801"},        {"port", "USB0"},
        {"port", "COM1,4800,m"},        {"stale", "0"},               {"stale", "5s"},
        {"hair", "-1"},                 {"zone", "25"},               {"zone", "2 TOOLONGLABEL"},
        {"night", "maybe"},             {"relaykey", "short"},        {"bind", "0.0.0"},
        {"speed", "knots"},             {"recsplit", "week"},         {"prxy", "proxy"},
        {"cafile", "a\nb"},             {"nosuchkey", "1"},           {"com0", "/dev/ttyS0"},
        {"cachemb", "-1"},              {"cachemb", "2 GB"},          {"cachemb", "100000001"},
        {"hillshade", "on"},            {"shading", "101"},           {"shading", "60%"},
    };
    for (const auto& [key, value] : bad) EXPECT_NE(preference_problem(key, value), "") << key << "=" << value;
    const std::pair<const char*, const char*> good[] = {
        {"gpsd", ""},          {"gpsd", "127.0.0.1:2947"}, {"nmea", "udp://:10110"}, {"nmea", "tcp://boat:10110"},
        {"port", "COM3"},      {"port", "COM3,4800,e,7,2"}, {"zone", "-5 EST"},       {"zone", "local"},
        {"base", "off:4477"},  {"base", "http://base.example:4477"}, {"bind", "0.0.0.0"},
        {"relaykey", "secret-123"}, {"speed", "mph"}, {"com12", "/dev/serial/by-id/usb-x"},
        {"cachemb", "0"},      {"cachemb", "2048"},  {"shading", "0"}, {"shading", "100"}, {"hillshade", "yes"},
    };
    for (const auto& [key, value] : good) EXPECT_EQ(preference_problem(key, value), "") << key << "=" << value;

    test::TempDir dir;
    test::write_file(dir / kIniFile, kIni);
    const Preferences before = read_preferences(dir.path());
    Preferences after = before;
    after["hair"] = "3";
    after["stale"] = "never";
    const PreferencesWritten w = write_preferences(dir.path(), before, after);
    EXPECT_FALSE(w.ok());
    EXPECT_NE(w.failure.find("stale"), std::string::npos) << w.failure;
    EXPECT_EQ(test::read_file(dir / kIniFile), kIni);
    // A value the lookup would not read back whole is refused too.
    after = before;
    after["cafile"] = std::string(200, 'c');
    EXPECT_FALSE(write_preferences(dir.path(), before, after).ok());
    EXPECT_EQ(test::read_file(dir / kIniFile), kIni);
}

TEST(Preferences, SourceLinesAreReplacedWithCommentsKeptByteForByte) {
    const std::string text = "# my sources\nHome|map|http://h/{z}/{x}/{y}.png||© me|\n\n"
                             "Bad line\r\n# end\nLast|map|http://l/{z}/{x}/{y}.png||x|";
    EXPECT_EQ(source_lines_of(text),
              (std::vector<std::string>{"Home|map|http://h/{z}/{x}/{y}.png||© me|", "Bad line",
                                        "Last|map|http://l/{z}/{x}/{y}.png||x|"}));
    // The same lines: the same bytes.
    EXPECT_EQ(rewrite_source_lines(text, source_lines_of(text)), text);
    // One edited, one removed, one added.
    EXPECT_EQ(rewrite_source_lines(text, {"Home|map|http://h/{z}/{x}/{y}.png||© me|", "Good|map|http://g/{z}/{x}/{y}.png||g|"}),
              "# my sources\nHome|map|http://h/{z}/{x}/{y}.png||© me|\n\nGood|map|http://g/{z}/{x}/{y}.png||g|\r\n# end\n");
    EXPECT_EQ(rewrite_source_lines("# only\n", {"A|map|http://a/{z}/{x}/{y}.png||a|"}),
              "# only\nA|map|http://a/{z}/{x}/{y}.png||a|\r\n");

    test::TempDir dir;
    test::write_file(dir / "vor_src.txt", text);
    EXPECT_FALSE(write_source_lines(dir.path(), {"two\nlines"}));
    EXPECT_EQ(test::read_file(dir / "vor_src.txt"), text);
    ASSERT_TRUE(write_source_lines(dir.path(), {}));
    EXPECT_EQ(test::read_file(dir / "vor_src.txt"), "# my sources\n\n# end\n");
    EXPECT_TRUE(read_source_lines(dir.path()).empty());
}

}  // namespace
}  // namespace vg
