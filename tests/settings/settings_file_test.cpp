// The settings files: the lookup rule, the rewrite of vor_set.txt, the proxy line, the default
// files and the start position, read and written through real files in scratch folders.
#include "settings/settings_file.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/test_paths.h"

namespace vg {
namespace {

using test::read_file;
using test::TempDir;
using test::write_file;

std::optional<std::string> lookup(const TempDir& dir, const std::string& contents, const std::string& key) {
    write_file(dir / "vor_ini.txt", contents);
    std::string value = "untouched";
    if (!read_setting(dir / "vor_ini.txt", key, value)) {
        EXPECT_EQ(value, "untouched");
        return std::nullopt;
    }
    return value;
}

TEST(ReadSetting, CaseOfTheFirstCharacterOnly) {
    TempDir dir;
    EXPECT_EQ(lookup(dir, "Site=Etopo2\r\n", "site"), "Etopo2");
    EXPECT_EQ(lookup(dir, "SITE=Etopo2\r\n", "site"), std::nullopt);
    EXPECT_EQ(lookup(dir, "sItE=Etopo2\r\n", "site"), std::nullopt);
    // The key itself is not lower-cased: an upper-case key never matches a lowered first letter.
    EXPECT_EQ(lookup(dir, "Site=Etopo2\r\n", "Site"), std::nullopt);
}

TEST(ReadSetting, SubstringAnywhereAndFirstMatchWins) {
    TempDir dir;
    const std::string ini = "maps=/home/me/file_cache\r\nzoom=3\r\nfile=/tmp/track.log\r\n";
    EXPECT_EQ(lookup(dir, ini, "file"), "/home/me/file_cache");
    EXPECT_EQ(lookup(dir, ini, "zoom"), "3");
    EXPECT_EQ(lookup(dir, "zone=2\r\nzone=3\r\n", "zone"), "2");
    EXPECT_EQ(lookup(dir, "prxy=\r\nbase=x\r\n", "base"), "x");
    EXPECT_EQ(lookup(dir, "=x zoom\r\n", "zoom"), "x zoom");
    EXPECT_EQ(lookup(dir, "hair=1\r\n", "plot"), std::nullopt);
    EXPECT_EQ(lookup(dir, "", "plot"), std::nullopt);
}

TEST(ReadSetting, ValueIsEverythingAfterTheFirstEquals) {
    TempDir dir;
    EXPECT_EQ(lookup(dir, "file=a=b \r\n", "file"), "a=b ");
    EXPECT_EQ(lookup(dir, "file=  trailing  \r\n", "file"), "  trailing  ");
    EXPECT_EQ(lookup(dir, "file=lf only\n", "file"), "lf only");
    EXPECT_EQ(lookup(dir, "file=no line end", "file"), "no line end");
    EXPECT_EQ(lookup(dir, "zone=\r\n", "zone"), "");
    // A lone CR is not a line end; only a CR right before a LF goes.
    EXPECT_EQ(lookup(dir, "file=a\rb\r\r\n", "file"), "a\rb\r");
    // Bytes after a NUL are not part of the line.
    EXPECT_EQ(lookup(dir, std::string("file=abc\0def\r\n", 14), "file"), "abc");
}

TEST(ReadSetting, LineWithKeyButNoEqualsHasNoValue) {
    TempDir dir;
    EXPECT_EQ(lookup(dir, "the zoom level\r\nzoom=4\r\n", "zoom"), "4");
    EXPECT_EQ(lookup(dir, "zoom\r\n", "zoom"), std::nullopt);
}

TEST(ReadSetting, LongLinesAreReadIn127CharacterPieces) {
    TempDir dir;
    // The text after 127 characters is a line of its own, so a key standing there is found.
    const std::string filler(127, 'x');
    EXPECT_EQ(lookup(dir, filler + "zoom=3\r\n", "zoom"), "3");
    // A long value is cut at the end of the first piece.
    const std::string long_value(200, 'v');
    auto value = lookup(dir, "maps=" + long_value + "\r\n", "maps");
    ASSERT_TRUE(value);
    EXPECT_EQ(*value, std::string(122, 'v'));
    // A piece of exactly 127 characters leaves the line end as a piece of its own.
    value = lookup(dir, "maps=" + std::string(122, 'w') + "\r\nzoom=1\r\n", "zoom");
    EXPECT_EQ(value, "1");
    // The piece count is taken after CR LF became LF.
    value = lookup(dir, "maps=" + std::string(121, 'w') + "\r\nzoom=1\r\n", "maps");
    EXPECT_EQ(value, std::string(121, 'w'));
}

TEST(ReadSetting, AFileThatCannotBeOpenedIsToldApartFromAMissingKey) {
    TempDir dir;
    SettingLookup found = look_up_setting(dir / "vor_set.txt", "site");
    EXPECT_EQ(found.status, SettingLookup::Status::NoFile);
    EXPECT_EQ(config_file_missing_text(dir / "vor_set.txt"), "Config file " + (dir / "vor_set.txt").string() + " not found!");
    // A folder of that name and an endless device are not settings files.
    std::filesystem::create_directory(dir / "vor_ini.txt");
    EXPECT_EQ(look_up_setting(dir / "vor_ini.txt", "site").status, SettingLookup::Status::NoFile);
    EXPECT_EQ(look_up_setting("/dev/zero", "site").status, SettingLookup::Status::NoFile);
    write_file(dir / "vor_set.txt", "site=Etopo2\r\n");
    found = look_up_setting(dir / "vor_set.txt", "site");
    EXPECT_EQ(found.status, SettingLookup::Status::Found);
    EXPECT_EQ(found.value, "Etopo2");
    EXPECT_EQ(look_up_setting(dir / "vor_set.txt", "unit").status, SettingLookup::Status::NotFound);
}

class WriteSetting : public ::testing::Test {
protected:
    std::filesystem::path set_file() const { return dir_ / "vor_set.txt"; }
    TempDir dir_;
};

TEST_F(WriteSetting, ReplacesTheKeyAndKeepsTheRestWithCrLf) {
    write_file(set_file(), "site=VirtualEarth\r\nsize=small\r\nunit=NMEA\r\nport=COM1\r\n");
    EXPECT_TRUE(write_setting("size", "large", dir_.path()));
    EXPECT_EQ(read_file(set_file()), "site=VirtualEarth\r\nsize=large\r\nunit=NMEA\r\nport=COM1\r\n");
    EXPECT_TRUE(write_setting("port", "COM7", dir_.path()));
    EXPECT_EQ(read_file(set_file()), "site=VirtualEarth\r\nsize=large\r\nunit=NMEA\r\nport=COM7\r\n");
    std::string value;
    ASSERT_TRUE(read_setting(set_file(), "port", value));
    EXPECT_EQ(value, "COM7");
    // A hand-edited file with LF line ends comes back with CR LF.
    write_file(set_file(), "site=Etopo2\nunit=NMEA\n");
    EXPECT_TRUE(write_setting("unit", "Garmin", dir_.path()));
    EXPECT_EQ(read_file(set_file()), "site=Etopo2\r\nunit=Garmin\r\n");
}

// Where the lookup would find another line before the written one, the new line goes to the top,
// so that what was set is what is read; every other line stays.
TEST_F(WriteSetting, TheWrittenValueIsAlwaysTheOneRead) {
    struct Case {
        const char* before;
        const char* key;
        const char* value;
        const char* after;
    };
    const Case cases[] = {
        {"Site=Etopo2\r\nsize=small\r\n", "site", "OpenStreetMap",
         "site=OpenStreetMap\r\nSite=Etopo2\r\nsize=small\r\n"},
        {"#unit=old receiver\r\nunit=NMEA\r\n", "unit", "Garmin", "unit=Garmin\r\n#unit=old receiver\r\nunit=Garmin\r\n"},
        {"note=my unit is=here\nport=COM1\n", "unit", "TripMate", "unit=TripMate\r\nnote=my unit is=here\r\nport=COM1\r\n"},
        {"unit=NMEA\r\n#unit=x\r\n", "unit", "Garmin", "unit=Garmin\r\n#unit=x\r\n"},  // already first: the rule alone
    };
    for (const auto& c : cases) {
        write_file(set_file(), c.before);
        EXPECT_TRUE(write_setting(c.key, c.value, dir_.path())) << c.before;
        EXPECT_EQ(read_file(set_file()), c.after) << c.before;
        EXPECT_EQ(setting_value(set_file(), c.key), c.value) << c.before;
    }
    // What the lookup can never read back is refused and changes nothing: an upper-case key, a value
    // longer than a lookup sees.
    write_file(set_file(), "unit=NMEA\r\n");
    EXPECT_FALSE(write_setting("Unit", "Garmin", dir_.path()));
    EXPECT_FALSE(write_setting("unit", std::string(200, 'v'), dir_.path()));
    EXPECT_EQ(read_file(set_file()), "unit=NMEA\r\n");
}

TEST_F(WriteSetting, EveryLineStartingWithTheKeyIsReplaced) {
    write_file(set_file(), "unit=NMEA\r\nport=COM1\r\nunit=Garmin\r\nunits=x\r\n");
    EXPECT_TRUE(write_setting("unit", "TripMate", dir_.path()));
    EXPECT_EQ(read_file(set_file()), "unit=TripMate\r\nport=COM1\r\nunit=TripMate\r\nunit=TripMate\r\n");
}

TEST_F(WriteSetting, MissingFileIsCreatedWithTheOneLineAndReportsZero) {
    EXPECT_FALSE(write_setting("size", "large", dir_.path()));
    EXPECT_EQ(read_file(set_file()), "size=large\r\n");
    EXPECT_TRUE(write_setting("size", "small", dir_.path()));
    EXPECT_EQ(read_file(set_file()), "size=small\r\n");
    // Nothing is left behind beside the file.
    int entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir_.path())) ++entries;
    EXPECT_EQ(entries, 1);
}

TEST_F(WriteSetting, LongerHandEditedFileKeepsEveryLine) {
    std::string contents;
    for (int i = 0; i < 12; ++i) contents += "note" + std::to_string(i) + "=hand edited\r\n";
    contents += "port=COM1\r\n";
    write_file(set_file(), contents);
    EXPECT_TRUE(write_setting("port", "COM2", dir_.path()));
    std::string expected;
    for (int i = 0; i < 12; ++i) expected += "note" + std::to_string(i) + "=hand edited\r\n";
    expected += "port=COM2\r\n";
    EXPECT_EQ(read_file(set_file()), expected);
    EXPECT_TRUE(write_setting("size", "large", dir_.path()));
    EXPECT_EQ(read_file(set_file()), expected + "size=large\r\n");
}

TEST_F(WriteSetting, LongLineSurvivesWhole) {
    // 127 characters and then text that starts with the key: kept as it is, not taken for a line.
    const std::string long_line = "maps=" + std::string(122, 'm') + "site=GoogleMaps" + std::string(150, 'n');
    write_file(set_file(), long_line + "\r\nsite=Etopo2\r\n");
    // The lookup sees that text as a line of its own, so the new line goes first.
    EXPECT_TRUE(write_setting("site", "MapQuest", dir_.path()));
    EXPECT_EQ(read_file(set_file()), "site=MapQuest\r\n" + long_line + "\r\nsite=MapQuest\r\n");
}

TEST_F(WriteSetting, LastLineWithoutLineEndDoesNotSwallowTheNewLine) {
    write_file(set_file(), "site=Etopo2\r\nport=COM1");
    EXPECT_TRUE(write_setting("size", "large", dir_.path()));
    EXPECT_EQ(read_file(set_file()), "site=Etopo2\r\nport=COM1\r\nsize=large\r\n");
}

TEST_F(WriteSetting, BadKeysAndValuesAreRefusedAndNothingIsLost) {
    const std::string before = "site=Etopo2\r\nunit=NMEA\r\n";
    write_file(set_file(), before);
    EXPECT_FALSE(write_setting("", "x", dir_.path()));
    EXPECT_FALSE(write_setting("site", "Etopo2\r\nunit=Garmin", dir_.path()));
    EXPECT_FALSE(write_setting("si\nte", "x", dir_.path()));
    EXPECT_FALSE(write_setting("site", std::string("a\0b", 3), dir_.path()));
    EXPECT_EQ(read_file(set_file()), before);
}

TEST_F(WriteSetting, UnreadableOrUnwritablePlacesAreLeftAlone) {
    // A folder named vor_set.txt is not replaced by a file.
    std::filesystem::create_directory(set_file());
    EXPECT_FALSE(write_setting("size", "large", dir_.path()));
    EXPECT_TRUE(std::filesystem::is_directory(set_file()));
    // A folder that cannot hold files, and a "folder" that is a file.
    EXPECT_FALSE(write_setting("size", "large", "/proc/self"));
    EXPECT_FALSE(std::filesystem::exists("/proc/self/vor_set.txt"));
    write_file(dir_ / "plain", "x");
    EXPECT_FALSE(write_setting("size", "large", dir_ / "plain"));
    EXPECT_FALSE(write_setting("size", "large", dir_ / "no" / "such" / "folder"));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "no"));
}

TEST_F(WriteSetting, FullDiskLeavesTheOldFileIntact) {
#ifdef _WIN32
    GTEST_SKIP() << "Linux only: a file size limit (setrlimit) stands in for a full disk";
#else
    const std::string before = "site=VirtualEarth\r\nsize=small\r\nunit=NMEA\r\nport=COM1\r\n";
    write_file(set_file(), before);
    // A file size limit makes every write past 16 bytes fail, as a full disk would.
    struct rlimit old_limit {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    struct sigaction ignore {}, old_action {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(sigaction(SIGXFSZ, &ignore, &old_action), 0);
    struct rlimit small = old_limit;
    small.rlim_cur = 16;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool rewritten = write_setting("site", "OpenStreetMap", dir_.path());
    setrlimit(RLIMIT_FSIZE, &old_limit);
    sigaction(SIGXFSZ, &old_action, nullptr);

    EXPECT_FALSE(rewritten);
    EXPECT_EQ(read_file(set_file()), before);
    int entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir_.path())) ++entries;
    EXPECT_EQ(entries, 1) << "the unfinished new file must be removed";
    EXPECT_TRUE(write_setting("site", "OpenStreetMap", dir_.path()));
#endif
}

TEST_F(WriteSetting, KeepsTheFilePermissions) {
#ifdef _WIN32
    GTEST_SKIP() << "Linux only: Windows files have no permission bits to keep";
#endif
    write_file(set_file(), "size=small\r\n");
    std::filesystem::permissions(set_file(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_TRUE(write_setting("size", "large", dir_.path()));
    EXPECT_EQ(std::filesystem::status(set_file()).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST(ProxySetting, FirstProxyLineDecides) {
    EXPECT_EQ(parse_proxy_setting("maps=x\r\n"), std::nullopt);
    auto proxy = parse_proxy_setting("zoom=2\r\nprxy=cache.lan:3128\r\n");
    ASSERT_TRUE(proxy);
    EXPECT_EQ(proxy->host, "cache.lan");
    EXPECT_EQ(proxy->port, 3128);
    proxy = parse_proxy_setting("prox=old.lan 8080\n");
    ASSERT_TRUE(proxy);
    EXPECT_EQ(proxy->host, "old.lan");
    EXPECT_EQ(proxy->port, 8080);
    // The bare key of the default file switches the proxy off even with a later proxy line.
    EXPECT_EQ(parse_proxy_setting("prxy=\r\nprxy=cache.lan:3128\r\n"), std::nullopt);
    EXPECT_EQ(parse_proxy_setting("prxy=cache.lan\r\n"), std::nullopt);
    EXPECT_EQ(parse_proxy_setting("prxy=cache.lan:http\r\n"), std::nullopt);
    EXPECT_EQ(parse_proxy_setting("prxy=cache.lan:0\r\n"), std::nullopt);
    EXPECT_EQ(parse_proxy_setting("prxy=cache.lan:99999999999\r\n"), std::nullopt);
    // The key is found anywhere, but the line is always scanned from its sixth character.
    proxy = parse_proxy_setting("# prxy=a:1\r\n");
    ASSERT_TRUE(proxy);
    EXPECT_EQ(proxy->host, "y=a");
    EXPECT_EQ(proxy->port, 1);
    // Capitals are not lowered for the proxy.
    EXPECT_EQ(parse_proxy_setting("Prxy=cache.lan:3128\r\n"), std::nullopt);
}

TEST(ProxySetting, ReadFromTheIniFile) {
    TempDir dir;
    EXPECT_EQ(read_proxy_setting(dir / "vor_ini.txt"), std::nullopt);
    write_default_files(dir.path());
    EXPECT_EQ(read_proxy_setting(dir / "vor_ini.txt"), std::nullopt);
    write_file(dir / "vor_ini.txt", "maps=.\\Maps\r\nprxy=127.0.0.1:8888\r\n");
    const auto proxy = read_proxy_setting(dir / "vor_ini.txt");
    ASSERT_TRUE(proxy);
    EXPECT_EQ(proxy->host, "127.0.0.1");
    EXPECT_EQ(proxy->port, 8888);
}

TEST(DefaultFiles, WrittenOnlyWhereMissing) {
    TempDir dir;
    write_default_files(dir.path());
    EXPECT_EQ(read_file(dir / "vor_ini.txt"),
              "maps=.\\Maps\r\nzoom=2\r\nhair=1\r\nzone=local\r\ndash=\r\nfile=\r\nplot=no\r\nprxy=\r\n"
              "base=off:4477\r\n");
    EXPECT_EQ(read_file(dir / "vor_set.txt"), "site=OpenStreetMap\r\nsize=small\r\nunit=NMEA\r\n");
    EXPECT_EQ(read_file(dir / "vor_pos.txt"), "N 60 10 30\r\nE 24 55 00\r\n");

    TempDir other;
    write_file(other / "vor_set.txt", "site=Etopo2\r\n");
    std::filesystem::create_directory(other / "vor_pos.txt");
    write_default_files(other.path());
    EXPECT_EQ(read_file(other / "vor_set.txt"), "site=Etopo2\r\n");
    EXPECT_TRUE(std::filesystem::is_directory(other / "vor_pos.txt"));
    EXPECT_EQ(read_file(other / "vor_ini.txt"), default_file_contents(kIniFile));

    write_default_files("/proc/self");  // cannot be created: skipped without a trace
    EXPECT_FALSE(std::filesystem::exists("/proc/self/vor_ini.txt"));
}

TEST(StartPosition, LongShortAndPackedForms) {
    TempDir dir;
    EXPECT_EQ(read_start_position(dir / "vor_pos.txt"), std::nullopt);
    write_default_files(dir.path());
    auto pos = read_start_position(dir / "vor_pos.txt");
    ASSERT_TRUE(pos);
    EXPECT_DOUBLE_EQ(pos->latitude, 60 + 10 / 60.0 + 30 / 3600.0);
    EXPECT_DOUBLE_EQ(pos->longitude, 24 + 55 / 60.0);

    // The form the program writes at the first fix.
    pos = parse_start_position("N  60 10 30\nE  24 55 00\n");
    EXPECT_DOUBLE_EQ(pos->latitude, 60 + 10 / 60.0 + 30 / 3600.0);
    EXPECT_DOUBLE_EQ(pos->longitude, 24 + 55 / 60.0);
    pos = parse_start_position("S  33 52 00\r\nW  70 40 00\r\n");
    EXPECT_DOUBLE_EQ(pos->latitude, -(33 + 52 / 60.0));
    EXPECT_DOUBLE_EQ(pos->longitude, -(70 + 40 / 60.0));
    pos = parse_start_position("N 6010.30\r\nW 12345.00\r\n");
    EXPECT_NEAR(pos->latitude, 60 + 10 / 60.0 + 30 / 3600.0, 1e-9);
    EXPECT_NEAR(pos->longitude, -(123 + 45 / 60.0), 1e-9);
}

TEST(StartPosition, DamagedLinesReadAsZero) {
    EXPECT_EQ(parse_position_line(""), 0);
    EXPECT_EQ(parse_position_line("N"), 0);
    EXPECT_EQ(parse_position_line("N sixty"), 0);
    EXPECT_EQ(parse_position_line("N nan"), 0);
    EXPECT_EQ(parse_position_line("N 1e999"), 0);
    // Three numbers are not the long form; the first is then read as DDDMM.SS.
    EXPECT_DOUBLE_EQ(parse_position_line("N 60 10"), 1.0);
    // Only the hemisphere letters S and W (capital) turn the sign.
    auto pos = parse_start_position("s 10 0 0\nw 20 0 0\n");
    EXPECT_DOUBLE_EQ(pos.latitude, 10);
    EXPECT_DOUBLE_EQ(pos.longitude, 20);
    // A missing second line gives longitude 0.
    pos = parse_start_position("N 10 30 0\n");
    EXPECT_DOUBLE_EQ(pos.latitude, 10.5);
    EXPECT_DOUBLE_EQ(pos.longitude, 0);
    // Lines are read 31 characters at a time: the rest of a long first line becomes the second.
    pos = parse_start_position("N 10 0 0" + std::string(23, ' ') + "W 5 0 0\nE 99 0 0\n");
    EXPECT_DOUBLE_EQ(pos.latitude, 10);
    EXPECT_DOUBLE_EQ(pos.longitude, -5);
}

}  // namespace
}  // namespace vg
