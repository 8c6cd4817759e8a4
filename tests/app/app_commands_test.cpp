// Menu commands, toolbar and map clicks, and device selection, against the recording window.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>

#include "app/toolbar_layout.h"
#include "app/view_text.h"
#include "app_fixture.h"
#include "support/peers.h"
#include "net/http_client.h"
#include "support/loopback_http_server.h"
#include "platform/system.h"

namespace vg {
namespace {

using test::AppFixture;
using test::kStartLat;
using test::kStartLon;
using test::read_file;

// Views centred on a tile corner show the classic cells (2 × 2, 4 × 4 with Big Maps).
class AppCommands : public AppFixture {
protected:
    void SetUp() override { start_on_tile_corner(); }
};

TEST_F(AppCommands, LevelButtonsReturnToTheAnchorWhenZoomingIn) {
    write_settings("", "zoom=3\r\n");
    App& a = start();
    const MapSource ve = MapSource::VirtualEarth;
    const WorldPixel c3 = centre_of(start_lat, start_lon, ve, 3);
    ASSERT_EQ(a.view().level, 3);

    a.on_left_button(184, 20);  // pan east: the anchor is the new centre
    EXPECT_EQ(a.view().centre_x, c3.x + 256);
    EXPECT_EQ(a.view().anchor.x, c3.x + 256);
    EXPECT_FALSE(a.window_state()->auto_pan);

    a.on_left_button(282, 20);  // level 1: the current centre, rescaled
    EXPECT_EQ(a.view().level, 1);
    EXPECT_EQ(a.view().centre_x, wrap_view_x(rescale_x(c3.x + 256, 3, 1, ve), 1, ve));
    EXPECT_EQ(a.view().pointer.x, a.view().centre_x);

    a.on_left_button(368, 20);  // back to 3: the anchor, not the zoomed-out centre
    EXPECT_EQ(a.view().level, 3);
    EXPECT_EQ(a.view().centre_x, c3.x + 256);
    EXPECT_EQ(a.view().centre_y, c3.y);
    EXPECT_EQ(a.paint().button_bitmaps[toolbar::kLevel3], 743);

    // A left click on the map zooms in on the clicked point and makes it the anchor.
    a.on_left_button(1 + 256 + 40, 49 + 192);
    EXPECT_EQ(a.view().level, 4);
    EXPECT_EQ(a.view().anchor.level, 4);
    EXPECT_EQ(a.view().anchor.x, rescale_x(c3.x + 256 + 40, 3, 4, ve));
    // At level 4 a click only re-centres; a right click zooms out.
    a.on_left_button(1 + 256, 49 + 192);
    EXPECT_EQ(a.view().level, 4);
    a.on_right_button(1 + 256, 49 + 192);
    EXPECT_EQ(a.view().level, 3);

    // With Auto Pan and a fix, a level button centres the new level on the position.
    a.on_left_button(15, 6);
    EXPECT_TRUE(a.window_state()->auto_pan);
    EXPECT_TRUE(window.checked(Command::AutoPan));
    set_fix(kStartLat, kStartLon);
    a.on_left_button(239, 37);
    const WorldPixel c0 = centre_of(kStartLat, kStartLon, ve, 0);
    EXPECT_EQ(a.view().level, 0);
    EXPECT_EQ(a.view().centre_x, c0.x);
    EXPECT_EQ(a.view().centre_y, c0.y);
}

TEST_F(AppCommands, ClicksCountOnlyInsideTheExactHitBoxes) {
    write_settings();
    App& a = start();
    // Toolbar: every button's four edges, and the pixels just outside them.
    for (int b = 0; b < toolbar::kButtonCount; ++b) {
        for (int x : {toolbar::kHitLeft[b], toolbar::kHitRight[b]})
            for (int y : {6, 37}) EXPECT_EQ(toolbar::hit_button(x, y), b) << x << "," << y;
        EXPECT_EQ(toolbar::hit_button(toolbar::kHitLeft[b] - 1, 20), toolbar::kButtonCount);
        EXPECT_EQ(toolbar::hit_button(toolbar::kHitRight[b] + 1, 20), toolbar::kButtonCount);
        EXPECT_EQ(toolbar::hit_button(toolbar::kHitLeft[b], 5), toolbar::kButtonCount);
        EXPECT_EQ(toolbar::hit_button(toolbar::kHitLeft[b], 38), toolbar::kButtonCount);
    }
    // The Auto Pan button through the handler.
    a.window_state()->auto_pan = false;
    a.on_left_button(14, 20);
    a.on_left_button(45, 38);
    EXPECT_FALSE(a.window_state()->auto_pan);
    a.on_left_button(45, 37);
    EXPECT_TRUE(a.window_state()->auto_pan);

    // The map area: 1 <= x <= 512, 49 <= y < 433. Right clicks outside change nothing.
    ASSERT_EQ(a.view().level, 2);
    for (auto [x, y] : {std::pair{0, 100}, {513, 100}, {100, 48}, {100, 433}}) {
        a.on_right_button(x, y);
        EXPECT_EQ(a.view().level, 2) << x << "," << y;
    }
    a.on_right_button(512, 432);
    EXPECT_EQ(a.view().level, 1);
    a.on_right_button(1, 49);
    EXPECT_EQ(a.view().level, 0);
    a.on_right_button(1, 49);  // level 0: re-centres only
    EXPECT_EQ(a.view().level, 0);
    // Each handler puts the cursor back.
    EXPECT_EQ(count_calls("wait on"), count_calls("wait off"));
}

TEST_F(AppCommands, SourceSwitchKeepsTheCentreAndAerialFollowsTheSource) {
    write_settings();
    App& a = start();
    a.on_command(Command::Etopo2);  // Etopo2: level 0, same place
    EXPECT_EQ(a.window_state()->map_source, MapSource::Etopo2);
    EXPECT_EQ(a.view().level, 0);
    const WorldPixel e = centre_of(start_lat, start_lon, MapSource::Etopo2, 0);
    EXPECT_EQ(a.view().centre_x, e.x);
    EXPECT_EQ(a.view().centre_y, e.y);
    EXPECT_NE(read_file(dir / "vor_set.txt").find("site=Etopo2\r\n"), std::string::npos);
    EXPECT_TRUE(window.checked(Command::Etopo2));
    EXPECT_FALSE(window.checked(Command::VirtualEarth));
    EXPECT_TRUE(window.boxes().empty());

    // Etopo2 has only level 0: level buttons stay there, map clicks only re-centre.
    a.on_left_button(411, 20);
    EXPECT_EQ(a.view().level, 0);
    a.on_left_button(300, 200);
    EXPECT_EQ(a.view().level, 0);

    a.on_command(Command::VirtualEarth);  // back: level 0 kept
    EXPECT_EQ(a.view().level, 0);
    EXPECT_EQ(a.window_state()->map_source, MapSource::VirtualEarth);

    a.on_command(Command::AerialPhoto);  // VirtualEarth has photos
    EXPECT_TRUE(a.window_state()->aerial);
    EXPECT_TRUE(window.checked(Command::AerialPhoto));
    EXPECT_EQ(a.paint().button_bitmaps[toolbar::kAerial], 752);
    a.on_command(Command::OpenStreetMap);  // OpenStreetMap drops the photos
    EXPECT_FALSE(a.window_state()->aerial);
    EXPECT_FALSE(window.checked(Command::AerialPhoto));
    a.on_left_button(468, 6);  // and the Aerial button only clears the option
    EXPECT_FALSE(a.window_state()->aerial);
    EXPECT_FALSE(window.checked(Command::AerialPhoto));
    EXPECT_TRUE(window.boxes().empty());
}

TEST_F(AppCommands, DeviceSelectionWritesTheUnitAndOnlyRemoteOpensTheServer) {
    write_settings();
    App& a = start();
    a.on_command(Command::Garmin);
    EXPECT_EQ(a.window_state()->device_type, DeviceType::Garmin);
    EXPECT_EQ(a.window_state()->line.baud_rate, 9600u);
    EXPECT_NE(read_file(dir / "vor_set.txt").find("unit=Garmin\r\n"), std::string::npos);
    EXPECT_TRUE(window.checked(Command::Garmin));
    EXPECT_FALSE(window.checked(Command::Nmea));
    EXPECT_EQ(a.position_server(), nullptr);  // a serial receiver
    EXPECT_FALSE(a.receiver()->active());

    a.on_command(Command::Remote);
    EXPECT_NE(read_file(dir / "vor_set.txt").find("unit=remote\r\n"), std::string::npos);
    EXPECT_EQ(a.window_state()->line.baud_rate, 19200u);
    ASSERT_TRUE(a.position_server()->running());
    EXPECT_TRUE(a.window_state()->link_active.load());
    EXPECT_FALSE(window.enabled(Command::Connect));
    EXPECT_TRUE(window.boxes().empty());

    // A base copy posts its position: it reaches the fix record.
    const std::string url = "http://127.0.0.1:" + std::to_string(a.position_server()->port()) + "/vor/sendbase.cgi";
    ASSERT_TRUE(http_post_form(url, "latitude=61.500000&longitude=23.750000"));
    for (int i = 0; i < 500 && a.fix().snapshot().fix_dimension == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const FixRecord f = a.fix().snapshot();
    EXPECT_GT(f.fix_dimension, 0);
    EXPECT_DOUBLE_EQ(f.latitude, 61.5);

    a.on_command(Command::Disconnect);  // Disconnect stops the server and drops the fix
    EXPECT_FALSE(a.position_server()->running());
    EXPECT_EQ(a.fix().snapshot().fix_dimension, 0);
    EXPECT_FALSE(a.window_state()->link_active.load());
    EXPECT_TRUE(window.enabled(Command::Connect));
    EXPECT_FALSE(window.enabled(Command::Disconnect));
}

// The network devices: chosen in the menu or named by `unit`, their address from vor_ini.txt; the
// reader runs beside the window and Disconnect ends it.
TEST_F(AppCommands, NetworkDevicesConnectFromTheirSettingsAndDisconnect) {
    test::NmeaServer server("$GNGGA,133901.50,4134.50180366,N,09345.03586734,W,4,19,0.7,280.829,M,-31.442,M,7.5,0002*62\r\n");
    write_settings("unit=network\r\n", "nmea=tcp://127.0.0.1:" + std::to_string(server.port()) + "\r\n");
    App& a = start();
    EXPECT_EQ(a.window_state()->device_type, DeviceType::Network);
    EXPECT_TRUE(window.checked(Command::NmeaNetwork));
    EXPECT_FALSE(window.checked(Command::Gpsd));
    ASSERT_TRUE(a.receiver()->active());
    EXPECT_TRUE(window.boxes().empty());
    EXPECT_TRUE(test::eventually([&] { return std::fabs(a.fix().snapshot().latitude - 41.5750300) < 1e-6; }));
    a.on_command(Command::Disconnect);
    EXPECT_FALSE(a.receiver()->active());

    // gpsd from the menu: no gpsd= line means 127.0.0.1:2947; nobody answers there, and the reader
    // keeps trying in the background without holding up the window.
    a.on_command(Command::Gpsd);
    EXPECT_NE(read_file(dir / "vor_set.txt").find("unit=gpsd\r\n"), std::string::npos);
    EXPECT_TRUE(a.receiver()->active());
    EXPECT_TRUE(window.boxes().empty());
    a.on_command(Command::Disconnect);
    EXPECT_FALSE(a.receiver()->active());
}

TEST_F(AppCommands, NetworkDeviceWithAMalformedAddressIsNotConnected) {
    // At start nothing is asked of the user: no box, the receiver's state is in the status fields.
    write_settings("unit=NETWORK \r\n", "nmea=10110\r\n");
    App& a = start();
    EXPECT_FALSE(a.receiver()->active());
    EXPECT_TRUE(window.boxes().empty());
    // The cause is told in the status bar and the message line.
    const std::string cause = "the nmea line of vor_ini.txt (10110) is not tcp://host:port or udp://:port";
    EXPECT_EQ(a.paint().status.receiver, "NMEA network: not opened (" + cause + ")");
    EXPECT_EQ(a.map_message(), "No GPS connected: " + cause);
    // Asked for by Connect, the failure is told.
    a.on_command(Command::Connect);
    ASSERT_EQ(window.boxes().size(), 1u);
    EXPECT_NE(window.boxes()[0].find("No GPS connected"), std::string::npos);
}

TEST_F(AppCommands, AFirstStartChoosesNoReceiverAndOffersDetect) {
    // No settings files at all: the defaults name no port, nothing is opened and nothing is asked.
    App& a = start();
    EXPECT_TRUE(window.boxes().empty());
    EXPECT_FALSE(a.receiver_chosen());
    EXPECT_FALSE(a.receiver()->active());
    PaintFrame frame = a.paint();
    EXPECT_EQ(frame.message, kNoReceiverChosenText);
    EXPECT_TRUE(frame.offer_detect);
    EXPECT_EQ(frame.status.receiver, kNoReceiverChosenText);
    EXPECT_EQ(frame.status.fix, "No fix");
    EXPECT_EQ(frame.status.age, "No fix yet");
    EXPECT_EQ(frame.status.line, "On line");
    // A receiver chosen from the Device menu is a choice: the line goes and the next start keeps it.
    a.on_command(Command::Gpsd);
    EXPECT_TRUE(a.receiver_chosen());
    EXPECT_NE(a.paint().message, kNoReceiverChosenText);
    a.on_command(Command::Disconnect);
}

TEST_F(AppCommands, BigMapsComSettingsCopyAndDialogs) {
    write_settings();
    App& a = start();
    a.paint();
    window.clear();
    a.on_command(Command::BigMaps);
    EXPECT_NE(read_file(dir / "vor_set.txt").find("size=large\r\n"), std::string::npos);
    EXPECT_EQ(a.view().map_width, 1024);
    EXPECT_EQ(a.view().map_height, 768);
    EXPECT_EQ(a.mosaic().width, 1024);
    EXPECT_TRUE(window.checked(Command::BigMaps));
    PaintFrame f = a.paint();
    EXPECT_EQ(count_calls("size 1026x819"), 1);
    EXPECT_EQ(f.visible_first_row, 128);
    a.on_command(Command::Copy);
    EXPECT_EQ(window.calls().back(), "clipboard 1024x1024");
    a.on_command(Command::BigMaps);
    EXPECT_NE(read_file(dir / "vor_set.txt").find("size=small\r\n"), std::string::npos);
    a.paint();
    EXPECT_EQ(count_calls("size 514x435"), 1);

    // COM settings: OK stores the edited values and writes the port; Cancel changes nothing.
    window.com_dialog = [](ComSettings& s) {
        EXPECT_FALSE(s.port_locked);
        s.line.port_number = 3;
        s.line.baud_rate = 38400;
        s.line.flow_control = 2;
        return true;
    };
    a.on_command(Command::SettingsCom);
    EXPECT_EQ(a.window_state()->line.port_number, 3);
    EXPECT_EQ(a.window_state()->line.baud_rate, 38400u);
    EXPECT_EQ(a.window_state()->line.flow_control, 2);
    EXPECT_NE(read_file(dir / "vor_set.txt").find("port=COM3\r\n"), std::string::npos);
    window.com_dialog = [](ComSettings& s) {
        s.line.port_number = 9;
        return false;
    };
    a.on_command(Command::SettingsCom);
    EXPECT_EQ(a.window_state()->line.port_number, 3);

    a.on_command(Command::GpsMonitor);
    ASSERT_EQ(window.monitors.size(), 1u);
    EXPECT_EQ(window.monitors[0]().position, "No Fix");

    a.on_command(Command::About);
    // "VorGlobal ver 1.4 - build YYYYMMMDD | Linux ver. M.m"
    const std::string about = window.calls().back();
    const std::string head = "dialog about VorGlobal ver 1.4 - build ";
    ASSERT_EQ(about.rfind(head, 0), 0u) << about;
    const std::string date = about.substr(head.size(), 9);
    for (int i : {0, 1, 2, 3, 7, 8}) EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(date[i]))) << date;
    for (int i : {4, 5, 6}) EXPECT_TRUE(std::isupper(static_cast<unsigned char>(date[i]))) << date;
    int major = -1, minor = -1;
    const std::string system = std::string(" | ") + system_name() + " ver. %d.%d";
    EXPECT_EQ(std::sscanf(about.c_str() + head.size() + 9, system.c_str(), &major, &minor), 2) << about;
}

TEST_F(AppCommands, ReloadMapDeletesAndDownloadsTheViewsTiles) {
    const std::string png = read_file(test::shared_testdata() / "images" / "bench" / "map256-rgb.png");
    test::LoopbackHttpServer tiles(test::ScriptedReply::make(200, "image/png", png, true));
    write_settings();
    AppOptions o = options();
    o.tile_hosts->virtual_earth_road.fill("127.0.0.1:" + std::to_string(tiles.port()));
    const WorldPixel c = centre_of(start_lat, start_lon, MapSource::VirtualEarth, 2);
    cache_view(MapSource::VirtualEarth, 2, c.x, c.y);
    app = std::make_unique<App>(dir.path(), o);
    app->create(window);
    App& a = *app;
    EXPECT_EQ(tiles.requests().size(), 0u);  // the start view came from the cache

    // A tile file damaged on disk is replaced by the download.
    test::write_file(a.tile_paths().slots[0], "not a picture");
    a.on_command(Command::ReloadMap);
    ASSERT_TRUE(tiles.wait_for_requests(4));
    for (const std::string& request : tiles.requests()) EXPECT_EQ(request.rfind("GET ", 0), 0u) << request;
    EXPECT_EQ(read_file(a.tile_paths().slots[0]), png);
    for (int y : {0, 511})
        for (int x : {0, 511}) EXPECT_TRUE(mosaic_has_picture(x, y)) << x << "," << y;

    // Off line, navigation reads the cache only; on line it downloads what is missing.
    a.on_command(Command::Offline);
    a.on_key_up(Key::Down);
    EXPECT_EQ(a.view().centre_y, c.y + 256);
    EXPECT_FALSE(mosaic_has_picture(0, 511));
    EXPECT_TRUE(mosaic_has_picture(0, 0));
    a.window_state()->online = true;
    a.on_key_up(Key::Right);
    EXPECT_TRUE(tiles.wait_for_requests(7));
    EXPECT_TRUE(mosaic_has_picture(511, 511));
}

// The COM settings dialog offers the serial devices that exist, the one the port names now chosen,
// and a device chosen there becomes the comN line of the chosen port.
TEST_F(AppCommands, ComSettingsOffersTheDevicesAndWritesTheChosenOneForThePort) {
    const std::filesystem::path dev = dir / "dev";
    std::filesystem::create_directories(dev);
    test::write_file(dev / "ttyUSB0", "");
    test::write_file(dev / "ttyACM1", "");
    write_settings("port=COM2\r\n", "com2=" + (dev / "ttyUSB0").string() + "\r\n");
    AppOptions o = options();
    o.serial_ports = {dev, dir / "sys"};
    app = std::make_unique<App>(dir.path(), o);
    app->create(window);
    std::vector<std::pair<std::string, std::string>> offered;
    std::string preselected;
    window.com_dialog = [&](ComSettings& s) {
        offered = s.devices;
        preselected = s.device;
        s.line.port_number = 4;
        s.device = (dev / "ttyACM1").string();
        return true;
    };
    app->on_command(Command::SettingsCom);
#ifdef _WIN32
    std::printf("Not checked on Windows: the devices offered come from the registry's COM ports, not a /dev tree\n");
    (void)offered;
    (void)preselected;
#else
    EXPECT_EQ(offered, (std::vector<std::pair<std::string, std::string>>{{(dev / "ttyUSB0").string(), "usb"},
                                                                         {(dev / "ttyACM1").string(), "acm"}}));
    EXPECT_EQ(preselected, (dev / "ttyUSB0").string());
#endif
    EXPECT_EQ(serial_device_path(4, dir / "vor_ini.txt"), (dev / "ttyACM1").string());
    EXPECT_EQ(serial_device_path(2, dir / "vor_ini.txt"), (dev / "ttyUSB0").string());
    EXPECT_NE(read_file(dir / "vor_set.txt").find("port=COM4\r\n"), std::string::npos);
}

TEST_F(AppCommands, OnlineOfflineAndAFailedConnect) {
    write_settings("port=COM7\r\n", "com7=" + (dir / "no-such-device").string() + "\r\n");
    app = std::make_unique<App>(dir.path(), options());
    app->create(window);
    App& a = *app;
    // The configured port cannot be opened: no box at start (nothing is asked), Detect is offered,
    // and the program runs on.
    EXPECT_TRUE(window.boxes().empty());
    EXPECT_FALSE(a.receiver()->active());
    EXPECT_TRUE(a.paint().offer_detect);
    // The map's message line says why.
    EXPECT_EQ(a.paint().message.rfind("No GPS connected: Cannot open " + (dir / "no-such-device").string() +
                                          ": No such file or directory - is the receiver plugged in?",
                                      0),
              0u)
        << a.paint().message;
    // Downloads are allowed from the start; Offline stops them and Online allows them again, with no
    // other host asked first (nothing answers here) and no box.
    EXPECT_TRUE(a.window_state()->online.load());
    EXPECT_TRUE(window.enabled(Command::Online));
    EXPECT_TRUE(window.enabled(Command::Offline));
    window.clear();
    a.on_command(Command::Offline);
    EXPECT_FALSE(a.window_state()->online.load());
    EXPECT_EQ(window.calls(), (std::vector<std::string>{"enable 1002 on", "enable 1003 off"}));
    window.clear();
    a.on_command(Command::Online);
    EXPECT_TRUE(a.window_state()->online.load());
    const std::vector<std::string> calls = window.calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 2),
              (std::vector<std::string>{"enable 1002 on", "enable 1003 on"}));
    for (const std::string& call : calls) EXPECT_EQ(call.rfind("box", 0), std::string::npos) << call;
    EXPECT_FALSE(std::filesystem::exists(dir / "tcpip.tmp"));

    window.clear();
    a.on_command(Command::Connect);
    EXPECT_EQ(window.calls(), (std::vector<std::string>{"wait on", "wait off", "box VorGlobal: No GPS connected", "invalidate"}))
        << ::testing::PrintToString(window.calls());
}

}  // namespace
}  // namespace vg
