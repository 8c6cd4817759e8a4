// The Window state and the settings part of the View state, built from real settings files in a
// scratch folder, with the recording window for message boxes and menu states.
#include "app/window_state.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>
#include <string>

#include "platform/command.h"
#include "settings/settings_file.h"
#include "support/fake_window.h"
#include "support/test_paths.h"

namespace vg {
namespace {

using test::FakeWindow;
using test::TempDir;
using test::write_file;

// A Window state from a vor_set.txt holding `set_lines` and a vor_ini.txt holding `ini_lines`.
std::unique_ptr<WindowState> state_from(const TempDir& dir, const std::string& set_lines,
                                        const std::string& ini_lines = "") {
    write_file(dir / "vor_set.txt", set_lines);
    write_file(dir / "vor_ini.txt", ini_lines);
    auto ws = create_window_state(dir.path(), nullptr);
    EXPECT_TRUE(ws);
    return ws;
}

TEST(WindowState, DefaultFilesGiveNmeaOnCom1AndMenuStates) {
    TempDir dir;
    write_default_files(dir.path());
    FakeWindow window;
    const auto ws = create_window_state(dir.path(), &window);
    ASSERT_TRUE(ws);
    EXPECT_EQ(ws->device_type, DeviceType::Nmea);
    EXPECT_EQ(ws->line.baud_rate, 4800u);
    EXPECT_EQ(ws->line.port_number, 1);
    EXPECT_EQ(ws->map_source, MapSource::OpenStreetMap);  // a new vor_set.txt names OpenStreetMap
    EXPECT_FALSE(ws->big_maps);
    EXPECT_EQ(ws->hair, 1);
    EXPECT_EQ(ws->dash, 0);
    EXPECT_EQ(ws->maps_dir, ".\\Maps");
    EXPECT_EQ(ws->track_file, "");
    EXPECT_FALSE(ws->plot);
    EXPECT_FALSE(ws->base_enabled);  // nothing is sent until a real base host is written
    EXPECT_EQ(ws->base_host, "");
    EXPECT_EQ(ws->line.byte_size, 8);
    EXPECT_EQ(ws->line.parity, 0);
    EXPECT_EQ(ws->line.stop_bits, 0);
    EXPECT_TRUE(ws->online.load());  // downloads allowed until Offline is chosen
    EXPECT_FALSE(ws->link_active.load());
    EXPECT_TRUE(window.boxes().empty());

    EXPECT_TRUE(window.enabled(Command::Online));
    EXPECT_TRUE(window.enabled(Command::Offline));
    EXPECT_TRUE(window.enabled(Command::Connect));
    EXPECT_FALSE(window.enabled(Command::Disconnect));
    EXPECT_TRUE(window.checked(Command::AutoPan));
    for (Command id : {Command::AutoZoom, Command::Track, Command::BigMaps, Command::MapCoordinates})
        EXPECT_FALSE(window.checked(id)) << command_id(id);
    for (const auto& info : kMapSources)
        EXPECT_EQ(window.checked(info.command), info.source == MapSource::OpenStreetMap) << info.site_value;
    for (const auto& info : kDeviceTypes)
        EXPECT_EQ(window.checked(info.command), info.type == DeviceType::Nmea) << info.unit_value;
}

TEST(WindowState, NoSettingsFilesKeepTheCreationValues) {
    TempDir dir;
    FakeWindow window;
    const auto ws = create_window_state(dir.path(), &window);
    ASSERT_TRUE(ws);
    EXPECT_EQ(ws->device_type, DeviceType::EarthMate);
    EXPECT_EQ(ws->line.baud_rate, 9600u);
    EXPECT_EQ(ws->line.port_number, 1);
    EXPECT_EQ(ws->map_source, MapSource::VirtualEarth);
    EXPECT_TRUE(ws->auto_pan);
    EXPECT_EQ(ws->hair, 0);
    EXPECT_EQ(ws->maps_dir, ".\\Maps");
    EXPECT_FALSE(ws->base_enabled);
    EXPECT_EQ(ws->base_port, 0);
    // Each lookup in a file that cannot be opened is reported.
    const auto boxes = window.boxes();
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.front(), "Config file " + (dir / "vor_set.txt").string() + " not found!");
    EXPECT_NE(std::find(boxes.begin(), boxes.end(), "Config file " + (dir / "vor_ini.txt").string() + " not found!"),
              boxes.end());
    EXPECT_TRUE(window.checked(Command::EarthMate));
    EXPECT_TRUE(window.enabled(Command::EarthMate));
    EXPECT_TRUE(window.checked(Command::VirtualEarth));
    // Without a window nothing is shown and the files are not written.
    EXPECT_TRUE(create_window_state(dir.path(), nullptr));
    EXPECT_FALSE(std::filesystem::exists(dir / "vor_set.txt"));
}

TEST(WindowState, PortScanAppliesOnlyTheFieldsItReached) {
    TempDir dir;
    auto ws = state_from(dir, "unit=NMEA\r\nport=COM3,7200,x,7,3\r\n");
    EXPECT_EQ(ws->line.port_number, 3);
    EXPECT_EQ(ws->line.baud_rate, 4800u);
    EXPECT_EQ(ws->line.parity, 0);
    EXPECT_EQ(ws->line.byte_size, 7);
    EXPECT_EQ(ws->line.stop_bits, 0);

    ws = state_from(dir, "port=COM2,19200,e,7,2\r\n");
    const LineSettings& line = ws->line;
    EXPECT_EQ(line.port_number, 2);
    EXPECT_EQ(line.baud_rate, 19200u);
    EXPECT_EQ(line.parity, 2);
    EXPECT_EQ(line.byte_size, 7);
    EXPECT_EQ(line.stop_bits, 2);
    EXPECT_EQ(line.flow_control, 0);

    ws = state_from(dir, "port=COM4,115200,o\r\n");
    EXPECT_EQ(ws->line.port_number, 4);
    EXPECT_EQ(ws->line.baud_rate, 115200u);
    EXPECT_EQ(ws->line.parity, 1);
    EXPECT_EQ(ws->line.byte_size, 8);

    ws = state_from(dir, "port=COM5,9600,E,6,1\r\n");  // capital parity letter is not read
    EXPECT_EQ(ws->line.parity, 0);
    EXPECT_EQ(ws->line.byte_size, 6);
    EXPECT_EQ(ws->line.stop_bits, 0);

    ws = state_from(dir, "port=COM0\r\n");
    EXPECT_EQ(ws->line.port_number, 0);
    ws = state_from(dir, "port=com5\r\n");
    EXPECT_EQ(ws->line.port_number, 1);
    ws = state_from(dir, "port= COM5\r\n");
    EXPECT_EQ(ws->line.port_number, 1);
    // Numbers too large for the field leave it alone instead of wrapping to another port.
    ws = state_from(dir, "port=COM257,4800,n,264\r\n");
    EXPECT_EQ(ws->line.port_number, 1);
    EXPECT_EQ(ws->line.baud_rate, 4800u);
    EXPECT_EQ(ws->line.byte_size, 8);
    ws = state_from(dir, "port=COM99999999999\r\n");
    EXPECT_EQ(ws->line.port_number, 1);
}

TEST(WindowState, UnitSiteSizeDashAndPlotByFirstLetter) {
    TempDir dir;
    auto ws = state_from(dir, "unit=garmin\r\nsite=openstreetmap\r\nsize=Small\r\n");
    EXPECT_EQ(ws->device_type, DeviceType::Garmin);
    EXPECT_EQ(ws->line.baud_rate, 9600u);
    EXPECT_EQ(ws->map_source, MapSource::OpenStreetMap);
    EXPECT_FALSE(ws->big_maps);
    ws = state_from(dir, "unit=remote\r\nsite=MapQuest\r\nsize=\r\n");
    EXPECT_EQ(ws->device_type, DeviceType::Remote);
    EXPECT_EQ(ws->line.baud_rate, 19200u);
    EXPECT_EQ(ws->map_source, MapSource::MapQuest);
    EXPECT_TRUE(ws->big_maps);  // only a value starting with "s" is small
    // Unknown letters keep both device and baud, and the source.
    ws = state_from(dir, "unit=Zodiac\r\nsite=Bing\r\n");
    EXPECT_EQ(ws->device_type, DeviceType::EarthMate);
    EXPECT_EQ(ws->line.baud_rate, 9600u);
    EXPECT_EQ(ws->map_source, MapSource::VirtualEarth);
    // The port's baud, read after the unit, wins over the device's.
    EXPECT_EQ(state_from(dir, "unit=Remote\r\nport=COM1,4800\r\n")->line.baud_rate, 4800u);

    EXPECT_EQ(state_from(dir, "", "dash=1\r\n")->dash, 'k');
    EXPECT_EQ(state_from(dir, "", "dash=Yes\r\n")->dash, 'k');
    EXPECT_EQ(state_from(dir, "", "dash=Mph\r\n")->dash, 'm');
    EXPECT_EQ(state_from(dir, "", "dash=s\r\n")->dash, 's');
    EXPECT_EQ(state_from(dir, "", "dash=no\r\n")->dash, 0);
    EXPECT_TRUE(state_from(dir, "", "plot=Yes\r\nhair=5\r\n")->plot);
    EXPECT_EQ(state_from(dir, "", "plot=Yes\r\nhair=5\r\n")->hair, 5);
    EXPECT_EQ(state_from(dir, "", "hair=wide\r\n")->hair, 0);

    // Whole seconds 1 to 3600; anything else keeps the 3-second default.
    EXPECT_EQ(state_from(dir, "", "")->stale_seconds, 3);
    EXPECT_EQ(state_from(dir, "", "stale= 10 \r\n")->stale_seconds, 10);
    EXPECT_EQ(state_from(dir, "", "stale=3600\r\n")->stale_seconds, 3600);
    for (const char* bad : {"stale=0\r\n", "stale=3601\r\n", "stale=-5\r\n", "stale=5s\r\n", "stale=2.5\r\n",
                            "stale=\r\n", "stale=99999999999\r\n"})
        EXPECT_EQ(state_from(dir, "", bad)->stale_seconds, 3) << bad;

    // Hillshade off and 60 % without the lines; a strength outside 0..100 or not a number keeps 60.
    EXPECT_FALSE(state_from(dir, "")->hillshade);
    EXPECT_TRUE(state_from(dir, "hillshade=yes\r\nshading=0\r\n")->hillshade);
    EXPECT_EQ(state_from(dir, "shading=0\r\n")->shading, 0);
    for (const char* bad : {"", "shading=101\r\n", "shading=-1\r\n", "shading=60%\r\n", "shading=\r\n"})
        EXPECT_EQ(state_from(dir, bad)->shading, 60) << bad;
}

TEST(WindowState, BaseValues) {
    TempDir dir;
    auto ws = state_from(dir, "", "base=http://hostword:8080\r\n");
    EXPECT_TRUE(ws->base_enabled);
    EXPECT_EQ(ws->base_host, "hostword");
    EXPECT_EQ(ws->base_port, 8080);

    // The default files' value: eight characters, so the upload stays off until a real host is written.
    ws = state_from(dir, "", std::string("base=") + kDefaultBaseValue + "\r\n");
    EXPECT_FALSE(ws->base_enabled);

    ws = state_from(dir, "", "base=abcd:123\r\n");  // exactly 8 characters
    EXPECT_FALSE(ws->base_enabled);
    EXPECT_EQ(ws->base_host, "");
    EXPECT_EQ(ws->base_port, 0);

    ws = state_from(dir, "", "base=base.example.org\r\n");
    EXPECT_TRUE(ws->base_enabled);
    EXPECT_EQ(ws->base_host, "base.example.org");
    EXPECT_EQ(ws->base_port, 0);

    ws = state_from(dir, "", "base=HTTP://host.lan:81\r\n");  // only the lower-case scheme is dropped
    EXPECT_EQ(ws->base_host, "HTTP");
    EXPECT_EQ(ws->base_port, 0);

    // A host longer than its field is cut; the port after it is still read.
    const std::string host(90, 'h');
    ws = state_from(dir, "", "base=" + host + ":4477\r\n");
    EXPECT_EQ(ws->base_host, std::string(63, 'h'));
    EXPECT_EQ(ws->base_port, 4477);
}

TEST(WindowState, TextFieldsAreBounded) {
    TempDir dir;
    const std::string path = "/var/tracks/" + std::string(100, 't');
    auto ws = state_from(dir, "", "file=" + path + "\r\nmaps=/srv/maps\r\n");
    EXPECT_EQ(ws->track_file, path.substr(0, 63));
    EXPECT_EQ(ws->maps_dir, "/srv/maps");
    // The track-log lookup finds the maps line first when its value holds the key.
    ws = state_from(dir, "", "maps=/home/me/profile/maps\r\nfile=/tmp/log.txt\r\n");
    EXPECT_EQ(ws->track_file, "/home/me/profile/maps");
    ws = state_from(dir, "", "maps=\r\n");
    EXPECT_EQ(ws->maps_dir, "");
}

TEST(ViewState, ZoneHoursAndLabel) {
    const struct {
        const char* value;
        bool read;
        int hours;
        const char* label;
    } zones[] = {{"2", true, 2, "[GMT+2]"},
                 {"-5 EST", true, -5, "EST"},
                 {"0 UTC", true, 0, "UTC"},
                 {"0", true, 0, ""},
                 {"-3", true, -3, "[GMT-3]"},
                 {"+10", true, 10, "[GMT+10]"},
                 {"1 Central_European", true, 1, "Central"},
                 {"EST", false, 0, ""},
                 {"", false, 0, ""}};
    for (const auto& z : zones) {
        const ZoneSetting zone = parse_zone_setting(z.value);
        EXPECT_EQ(zone.hours_read, z.read) << z.value;
        EXPECT_EQ(zone.hours, z.hours) << z.value;
        EXPECT_EQ(zone.label, z.label) << z.value;
    }
    // "local" in any case asks for the system's time; anything else with it is an ordinary value.
    for (const char* value : {"local", "LOCAL", " Local "}) {
        const ZoneSetting zone = parse_zone_setting(value);
        EXPECT_TRUE(zone.local) << value;
        EXPECT_FALSE(zone.hours_read) << value;
        EXPECT_EQ(zone.label, "") << value;
    }
    EXPECT_FALSE(parse_zone_setting("locale").local);
    EXPECT_FALSE(parse_zone_setting("2 local").local);
    TempDir dir;
    EXPECT_EQ(read_zone_setting(dir / "vor_ini.txt").hours_read, false);
    write_file(dir / "vor_ini.txt", "zone=-5 EST\r\n");
    EXPECT_EQ(read_zone_setting(dir / "vor_ini.txt").label, "EST");
    // New default files ask for local time, and the fix record is told so.
    std::filesystem::remove(dir / "vor_ini.txt");
    write_default_files(dir.path());
    const auto ws = create_window_state(dir.path(), nullptr);
    ASSERT_TRUE(ws);
    ViewState view;
    SharedFix fix;
    init_view_state(view, *ws, dir.path(), &fix);
    EXPECT_TRUE(view.zone_local);
    EXPECT_TRUE(fix.snapshot().local_zone_system);
}

TEST(ViewState, StartLevel) {
    TempDir dir;
    const auto ini = dir / "vor_ini.txt";
    EXPECT_EQ(read_start_level(MapSource::VirtualEarth, ini), 2);
    write_file(ini, "zoom=3\r\n");
    EXPECT_EQ(read_start_level(MapSource::VirtualEarth, ini), 3);
    EXPECT_EQ(read_start_level(MapSource::Etopo2, ini), 0);  // Etopo2 has one level
    write_file(ini, "zoom=7\r\n");
    EXPECT_EQ(read_start_level(MapSource::OpenStreetMap, ini), 4);
    write_file(ini, "zoom=-1\r\n");
    EXPECT_EQ(read_start_level(MapSource::GoogleMaps, ini), 0);
    write_file(ini, "zoom=deep\r\n");
    EXPECT_EQ(read_start_level(MapSource::MapQuest, ini), 2);
}

TEST(ViewState, InitFromTheSettingsFiles) {
    TempDir dir;
    write_file(dir / "vor_set.txt", "site=Etopo2\r\nsize=large\r\n");
    write_file(dir / "vor_ini.txt", "zoom=3\r\nzone=2\r\n");
    write_file(dir / "vor_pos.txt", "S  33 52 00\r\nW  70 40 00\r\n");
    const auto ws = create_window_state(dir.path(), nullptr);
    ASSERT_TRUE(ws);
    ViewState view;
    SharedFix fix;
    const auto start = init_view_state(view, *ws, dir.path(), &fix);
    ASSERT_TRUE(start);
    EXPECT_DOUBLE_EQ(start->latitude, -(33 + 52 / 60.0));
    EXPECT_DOUBLE_EQ(start->longitude, -(70 + 40 / 60.0));
    EXPECT_DOUBLE_EQ(view.uploaded_lat, start->latitude);
    EXPECT_DOUBLE_EQ(view.uploaded_lon, start->longitude);
    EXPECT_EQ(view.level, 0);
    EXPECT_EQ(view.anchor.level, 0);
    EXPECT_EQ(view.map_width, 1024);
    EXPECT_EQ(view.map_height, 768);
    EXPECT_EQ(view.zone_hours, 2);
    EXPECT_EQ(view.zone_label, "[GMT+2]");
    EXPECT_EQ(fix.snapshot().local_offset_hours, 2);
    EXPECT_FALSE(view.display_bitmap.exists());

    // Defaults everywhere: small map, level 2, the default start position, the fix left alone.
    TempDir fresh;
    write_default_files(fresh.path());
    const auto ws2 = create_window_state(fresh.path(), nullptr);
    ViewState view2;
    SharedFix fix2;
    fix2.update([](FixRecord& r) { r.local_offset_hours = 7; });
    const auto start2 = init_view_state(view2, *ws2, fresh.path(), &fix2);
    ASSERT_TRUE(start2);
    EXPECT_DOUBLE_EQ(start2->latitude, 60 + 10 / 60.0 + 30 / 3600.0);
    EXPECT_DOUBLE_EQ(start2->longitude, 24 + 55 / 60.0);
    EXPECT_EQ(view2.level, 2);
    EXPECT_EQ(view2.map_width, 512);
    EXPECT_EQ(view2.map_height, 384);
    EXPECT_EQ(view2.zone_label, "");
    EXPECT_EQ(fix2.snapshot().local_offset_hours, 7);
    EXPECT_TRUE(fix2.snapshot().local_zone_system);  // new files ask for the system's local time

    // No vor_pos.txt: no start position.
    std::filesystem::remove(fresh / "vor_pos.txt");
    ViewState view3;
    EXPECT_FALSE(init_view_state(view3, *ws2, fresh.path()));
    EXPECT_EQ(view3.uploaded_lat, 0);
}

// The manual's paragraph that begins with `start` (up to the next blank line).
std::string manual_paragraph(const std::string& start) {
    const std::string manual = test::read_file(test::shared_testdata() / ".." / ".." / "README.md");
    const std::size_t at = manual.find(start);
    if (at == std::string::npos) return {};
    return manual.substr(at, manual.find("\n\n", at) - at);
}

// The manual states the default lines the program writes and every fixed menu command id.
TEST(Manual, StatesTheProgramsDefaultsAndCommandIds) {
    const std::regex key_value("`([a-z]+)=([^`]*)`");
    for (const char* file : {"vor_set.txt", "vor_ini.txt"}) {
        SCOPED_TRACE(file);
        const std::string paragraph = manual_paragraph(std::string("**`") + file + "`**");
        ASSERT_FALSE(paragraph.empty());
        std::string defaults = paragraph.substr(paragraph.find("Defaults:"));
        defaults = defaults.substr(0, defaults.find("Also read"));
        std::string stated;
        for (std::sregex_iterator it(defaults.begin(), defaults.end(), key_value), end; it != end; ++it)
            stated += (*it)[1].str() + "=" + (*it)[2].str() + "\r\n";
        std::string written = default_file_contents(file);
        EXPECT_EQ(stated, written);
    }
    // The demonstration of scripts/run writes the same default lines when the files are missing.
    const std::string run = test::read_file(test::shared_testdata() / ".." / ".." / "scripts" / "run");
    for (const char* file : {"vor_set.txt", "vor_ini.txt"}) {
        std::string line = default_file_contents(file);
        for (std::size_t at = 0; (at = line.find_first_of("\\\r\n", at)) != std::string::npos; at += 2)
            line.replace(at, 1, line[at] == '\\' ? "\\\\" : line[at] == '\r' ? "\\r" : "\\n");
        EXPECT_NE(run.find("printf '" + line + "' >" + file), std::string::npos) << line;
    }
    const std::string pos = manual_paragraph("**`vor_pos.txt`**");
    EXPECT_NE(pos.find("`N 60 10 30` and `E 24 55 00` (the default)"), std::string::npos);
    EXPECT_EQ(default_file_contents("vor_pos.txt"), "N 60 10 30\r\nE 24 55 00\r\n");

    // "NAME ID" and "NAME FIRST–LAST" entries of the list; the catalogue range is not a command.
    const std::string list = manual_paragraph("Menu command ids");
    ASSERT_FALSE(list.empty());
    std::set<int> stated;
    const std::regex id("\\b(1[0-9]{3})\\b(?:–(1[0-9]{3})\\b)?");
    for (std::sregex_iterator it(list.begin(), list.end(), id), end; it != end; ++it) {
        const int first = std::stoi((*it)[1].str());
        const int last = (*it)[2].matched ? std::stoi((*it)[2].str()) : first;
        for (int n = first; n <= last; ++n) stated.insert(n);
    }
    std::set<int> commands;
    for (int n = 1000; n < command_id(Command::CatalogueFirst); ++n)
        if (command_from_id(n)) commands.insert(n);
    EXPECT_EQ(stated, commands);
}

}  // namespace
}  // namespace vg
