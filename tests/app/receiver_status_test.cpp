// Every receiver kind tells why it has no position, end to end: real peers on the loopback address
// (a real gpsd, a TCP sender that hangs up, a silent UDP port, a pseudo-terminal that is closed, the
// position server nobody posts to), read through the App's message line, status bar and GPS Monitor.
#include <optional>

#include "app/gps_monitor_texts.h"
#include "app_fixture.h"
#include "gps/pty_pair.h"
#include "net/http_client.h"
#include "support/peers.h"

namespace vg {
namespace {

using test::eventually;
using test::PtyPair;

class ReceiverStatusTest : public test::AppFixture {
protected:
    // The window with receivers that fall silent after one second.
    App& start_quick() {
        AppOptions o = options();
        o.receiver_silent_after = std::chrono::milliseconds(1000);
        app = std::make_unique<App>(dir.path(), o);
        app->create(window);
        return *app;
    }
    bool message_is(const std::string& text) {
        return eventually([&] { return app->map_message() == text; }, std::chrono::seconds(20));
    }
    std::string monitor_receiver_line() {
        app->on_command(Command::GpsMonitor);
        return window.monitors.empty() ? std::string() : window.monitors.back()().receiver;
    }
};

TEST_F(ReceiverStatusTest, GpsdStoppedIsRefusedWithItsCause) {
    if (!test::real_peers_available()) GTEST_SKIP() << "gpsd cannot run here";
    PtyPair pty;
    VG_REQUIRE_SERIAL_PEER(pty);
    std::optional<test::Gpsd> gpsd(std::in_place, dir.path(), pty.slave_path());
    ASSERT_TRUE(eventually([&] { return gpsd->ready(); }));
    const std::string where = "gpsd at 127.0.0.1:" + std::to_string(gpsd->port());
    write_settings("unit=gpsd\r\n", "gpsd=127.0.0.1:" + std::to_string(gpsd->port()) + "\r\n");
    App& a = start_quick();
    ASSERT_TRUE(a.receiver()->active());
    // gpsd answers (its VERSION and DEVICES) but the receiver behind it gives no position.
    ASSERT_TRUE(eventually([&] { return a.receiver()->status().state == ReceiverState::NoFix; }));

    gpsd.reset();
    EXPECT_TRUE(message_is(where + " refused the connection (is gpsd running?)")) << a.map_message();
    EXPECT_EQ(a.paint().status.receiver, "gpsd: receiver gone");
    EXPECT_EQ(monitor_receiver_line(), "Receiver: refused - " + where + " refused the connection (is gpsd running?)");
}

TEST_F(ReceiverStatusTest, TcpPeerGoneIsLostThenReconnectedAndAClosedPortRefused) {
    std::optional<test::NmeaServer> server(
        std::in_place, "$GPGGA,120000.00,6010.5000,N,02455.0000,E,1,08,1.0,10.0,M,17.0,M,,*62\r\n");
    const std::string where = "tcp://127.0.0.1:" + std::to_string(server->port());
    write_settings("unit=network\r\n", "nmea=" + where + "\r\n");
    App& a = start_quick();
    // The sender hangs up after its line: lost, then connected again after the back-off.
    EXPECT_TRUE(message_is(where + " closed the connection; trying again")) << a.map_message();
    EXPECT_TRUE(eventually([&] { return server->served() >= 2; }));

    const int port = server->port();
    server.reset();
    EXPECT_TRUE(message_is("tcp://127.0.0.1:" + std::to_string(port) +
                           " refused the connection (is the sender running?)"))
        << a.map_message();
}

TEST_F(ReceiverStatusTest, SilentUdpPortSaysNoData) {
    const int port = test::free_loopback_port(true);
    const std::string where = "udp://127.0.0.1:" + std::to_string(port);
    write_settings("unit=network\r\n", "nmea=" + where + "\r\n");
    App& a = start_quick();
    EXPECT_TRUE(eventually([&] { return a.map_message().starts_with("no data on " + where + " for "); },
                           std::chrono::seconds(20)))
        << a.map_message();
    EXPECT_TRUE(monitor_receiver_line().starts_with("Receiver: silent - no data on " + where));
}

TEST_F(ReceiverStatusTest, ClosedPseudoTerminalIsUnplugged) {
    PtyPair pty;
    VG_REQUIRE_SERIAL_PEER(pty);
    write_settings("port=COM1\r\nunit=NMEA\r\n", "com1=" + pty.slave_path() + "\r\n");
    App& a = start_quick();
    ASSERT_TRUE(a.receiver()->active());
    EXPECT_EQ(a.receiver()->status().state, ReceiverState::WaitingForData);
    pty.send("$GNGGA,133901.50,4134.50180366,N,09345.03586734,W,4,19,0.7,280.829,M,-31.442,M,7.5,0002*62\r\n");
    EXPECT_TRUE(eventually([&] { return a.receiver()->status().state != ReceiverState::WaitingForData; }));
    // Writes reach the port (the corrections' path); other kinds take none.
    const std::uint8_t rtcm[] = {0xD3, 0x00, 0x00, 0x47, 0xEA, 0x4B};
    EXPECT_TRUE(a.send_to_receiver(rtcm, sizeof rtcm));
    EXPECT_EQ(pty.receive(sizeof rtcm), std::string(reinterpret_cast<const char*>(rtcm), sizeof rtcm));

#ifndef _WIN32  // a COM port pair of the Windows stage cannot be unplugged
    const std::string path = pty.slave_path();
    pty.hang_up();
    EXPECT_TRUE(message_is("Receiver " + path + " has gone; it is opened again when it comes back"))
        << a.map_message();
    EXPECT_EQ(a.receiver()->status().state, ReceiverState::Unplugged);
#endif
}

TEST_F(ReceiverStatusTest, SilentPhoneFormSaysNoPositionUntilOneIsPosted) {
    write_settings("unit=remote\r\n");
    App& a = start_quick();
    a.on_command(Command::Connect);
    ASSERT_NE(a.position_server(), nullptr);
    const std::string where = "port " + std::to_string(a.position_server()->port());
    EXPECT_EQ(a.receiver()->status().state, ReceiverState::WaitingForData);
    EXPECT_TRUE(eventually([&] { return a.map_message().starts_with("no position posted to " + where + " for "); },
                           std::chrono::seconds(20)))
        << a.map_message();
    const std::uint8_t byte = 0;
    EXPECT_FALSE(a.send_to_receiver(&byte, 1));  // the server takes no bytes for a receiver

    // A phone tracker posts its form.
    const std::string url = "http://127.0.0.1:" + std::to_string(a.position_server()->port()) + "/";
    ASSERT_TRUE(http_post_form(url, "lat=60.2&lon=24.9"));
    EXPECT_TRUE(eventually([&] { return a.receiver()->status().state == ReceiverState::Fix; }));
    EXPECT_TRUE(a.map_message().empty() || !a.map_message().starts_with("no position")) << a.map_message();
}

}  // namespace
}  // namespace vg
