#include "gps/serial_link.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <numbers>
#include <string>
#include <thread>

#include "binary_logs.h"
#include "gps/garmin.h"
#include "gps/zodiac.h"
#include "pty_pair.h"
#include "support/fake_window.h"
#include "support/test_paths.h"

namespace vg {
namespace {

using namespace std::chrono_literals;
using test::PtyPair;
using test::wait_until;

std::string nmea(const std::string& body) {
    unsigned sum = 0;
    for (char c : body) sum ^= static_cast<unsigned char>(c);
    char cs[4];
    std::snprintf(cs, sizeof cs, "%02X", sum);
    return "$" + body + "*" + cs + "\r\n";
}

struct LinkFixture : ::testing::Test {
    test::TempDir dir;
    PtyPair pty;
    test::FakeWindow window;
    FixNotice notice{&window};
    SharedFix fix;
    std::atomic<int> silence{50};
    std::atomic<long long> clock{1000};
    std::unique_ptr<SerialLink> link;

    void SetUp() override {
        VG_REQUIRE_SERIAL_PEER(pty);
        test::write_file(dir / "vor_ini.txt", "prxy=\r\ncom3=" + pty.slave_path() + "\r\n");
        test::write_file(dir / "vor_pos.txt", "N  60 10 30\r\nE  24 55 00\r\n");
        SerialLinkOptions options;
        options.ini_file = dir / "vor_ini.txt";
        options.pos_file = dir / "vor_pos.txt";
        options.clock_seconds = [this] { return clock.load(); };
        options.utc_seconds = [] { return 1266150896LL; };  // 2010-02-14 12:34:56 UTC
        options.fix_notice = &notice;
        link = std::make_unique<SerialLink>(fix, silence, options);
        LineSettings s;
        s.port_number = 3;
        s.baud_rate = 9600;
        link->set_settings(s);
    }
};

TEST(SerialDevicePath, ComKeyOrTtyS) {
    test::TempDir dir;
    test::write_file(dir / "vor_ini.txt", "com1=/dev/ttyUSB0\r\ncom2= /dev/ttyACM0 \n");
    EXPECT_EQ(serial_device_path(1, dir / "vor_ini.txt"), "/dev/ttyUSB0");
    EXPECT_EQ(serial_device_path(2, dir / "vor_ini.txt"), "/dev/ttyACM0");
#ifdef _WIN32
    EXPECT_EQ(serial_device_path(3, dir / "vor_ini.txt"), "\\\\.\\COM3");
    EXPECT_EQ(serial_device_path(12, dir / "missing.txt"), "\\\\.\\COM12");
#else
    EXPECT_EQ(serial_device_path(3, dir / "vor_ini.txt"), "/dev/ttyS2");
    EXPECT_EQ(serial_device_path(1, dir / "missing.txt"), "/dev/ttyS0");
#endif
}

TEST_F(LinkFixture, ZodiacCaptureThroughThePortWhileTheWindowReads) {
    link->set_device_type(DeviceType::EarthMate);
    ASSERT_EQ(link->open_link(), LinkOpen::Opened);
    EXPECT_TRUE(link->link_active());
    EXPECT_TRUE(wait_until([&] { return link->reader_thread_id() > 0; }));

    // The window thread paints (takes snapshots) while the reader writes the record.
    std::atomic<bool> stop{false};
    std::thread window_thread([&] {
        while (!stop.load()) {
            notice.painted();
            const FixRecord seen = fix.snapshot();
            (void)seen;
            std::this_thread::sleep_for(1ms);
        }
    });
    const std::string body = test::binary_log_body(test::shared_testdata() / "receivers/zodiac.log");
    const std::string json = test::read_file(test::shared_testdata() / "receivers/expected/zodiac.json");
    pty.send(body);
    const bool done = wait_until([&] {
        return std::string(fix.snapshot().utc_text) == test::json_text_at(json, "utc") &&
               std::string(fix.snapshot().last_message) == test::json_text_at(json, "last_message");
    });
    stop = true;
    window_thread.join();
    ASSERT_TRUE(done);
    EXPECT_FIX_MATCHES_JSON(fix.snapshot(), json);
    EXPECT_EQ(silence.load(), 0);
    EXPECT_EQ(notice.posts(), 1);  // one clock second: one notice, though the window kept painting

    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(link->close_link());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_EQ(link->reader_thread_id(), 0);
    EXPECT_FALSE(link->link_active());
}

TEST_F(LinkFixture, EarthaHandshakeAndInitialisationGoBackOverThePort) {
    link->set_device_type(DeviceType::EarthMate);
    ASSERT_EQ(link->open_link(), LinkOpen::Opened);
    pty.send("EARTHA\r\n");
    EXPECT_EQ(pty.receive(8), "EARTHA\r\n");
    pty.send(zodiac_frame(1002, std::vector<std::uint16_t>(51, 0)));
    const std::string init = pty.receive(54);
    ASSERT_EQ(init.size(), 54u);
    EXPECT_EQ(init.substr(0, 10), std::string("\xFF\x81\xB0\x04\x15\x00\x00\x00\x3C\x79", 10));
    EXPECT_EQ(init[10], 1);  // sequence 1
    EXPECT_TRUE(link->close_link());
}

TEST_F(LinkFixture, DeviceSwitchMidStreamAndRepaintPacing) {
    link->set_device_type(DeviceType::Nmea);
    ASSERT_EQ(link->open_link(), LinkOpen::Opened);
    pty.send(nmea("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"));
    ASSERT_TRUE(wait_until([&] { return fix.snapshot().altitude == 545.4; }));
    EXPECT_NEAR(fix.snapshot().latitude, 48.1173, 1e-9);
    // The reader posts just after it stores the fix: the paint comes after that post.
    ASSERT_TRUE(wait_until([&] { return notice.posts() == 1; }));
    notice.painted();  // the window painted it
    pty.send(nmea("GPGGA,123520,4807.038,N,01131.000,E,1,08,0.9,546.4,M,46.9,M,,"));
    ASSERT_TRUE(wait_until([&] { return fix.snapshot().altitude == 546.4; }));
    EXPECT_EQ(notice.posts(), 1);  // same clock second

    // The menu switches the device: the next chunk goes to the Zodiac framer.
    link->set_device_type(DeviceType::EarthMate);
    clock = 1001;
    std::vector<std::uint16_t> w(55, 0);
    w[13] = 14; w[14] = 2; w[15] = 2010; w[16] = 12; w[17] = 34; w[18] = 56;
    pty.send(zodiac_frame(1000, w));
    ASSERT_TRUE(wait_until([&] { return std::string(fix.snapshot().utc_text) == "2010/02/14 12:34:56"; }));
    EXPECT_STREQ(fix.snapshot().last_message, "Rockwell 1000 - Geodetic Position Status Output");
    EXPECT_TRUE(wait_until([&] { return notice.posts() == 2; }));  // the next second asks for a paint
    EXPECT_TRUE(link->close_link());
}

TEST_F(LinkFixture, TripMateAstralHandshakeOverThePort) {
    link->set_device_type(DeviceType::TripMate);
    ASSERT_EQ(link->open_link(), LinkOpen::Opened);
    pty.send("ASTRAL\r\nastral\r\n");
    EXPECT_EQ(pty.receive(18), "$IIGPQ,ASTRAL*73\r\n");
    pty.send("ASTRAL\r\n");
    const std::string init = "$PRWIINIT,V,,, 60 10 30,N, 24 55 00,E,100.0,0.0,M,0.0,T,123456,140210*";
    std::string expected = "$IIGPQ,ASTRAL*73\r\n" + nmea(init.substr(1, init.size() - 2));
    EXPECT_EQ(pty.receive(expected.size()), expected);
    EXPECT_EQ(pty.receive(1, 200ms), "");  // the lower-case line got no answer
    EXPECT_TRUE(link->close_link());
}

TEST_F(LinkFixture, GarminRequestsFromTheTimerAndAnswersFromTheReceiver) {
    link->set_device_type(DeviceType::Garmin);
    ASSERT_EQ(link->open_link(), LinkOpen::Opened);
    EXPECT_FALSE(link->garmin_timer_step());
    EXPECT_EQ(pty.receive(8), std::string("\x10\x0A\x02\x02\x00\xF2\x10\x03", 8));
    EXPECT_FALSE(link->garmin_timer_step());
    EXPECT_EQ(pty.receive(8), std::string("\x10\x0A\x02\x05\x00\xEF\x10\x03", 8));

    const double lat = 29.5 * std::numbers::pi / 180, lon = -98.25 * std::numbers::pi / 180;
    std::uint8_t data[16];
    std::memcpy(data, &lat, 8);
    std::memcpy(data + 8, &lon, 8);
    pty.send(garmin_packet(17, data, 16));
    ASSERT_TRUE(wait_until([&] { return fix.snapshot().fix_dimension == 3; }));
    EXPECT_NEAR(fix.snapshot().latitude, 29.5, 1e-12);
    EXPECT_NEAR(fix.snapshot().longitude, -98.25, 1e-12);
    // Three unanswered position requests end the fix.
    EXPECT_FALSE(link->garmin_timer_step());
    EXPECT_FALSE(link->garmin_timer_step());
    EXPECT_FALSE(link->garmin_timer_step());
    EXPECT_FALSE(link->garmin_timer_step());
    EXPECT_TRUE(link->garmin_timer_step());
    EXPECT_EQ(fix.snapshot().fix_dimension, 0);
    EXPECT_TRUE(link->close_link());
}

TEST_F(LinkFixture, PeerHangUpDoesNotSpinAndCloseStillWorks) {
#ifdef _WIN32
    GTEST_SKIP() << "Linux only: the test hangs up a pseudo-terminal and measures processor time";
#else
    link->set_device_type(DeviceType::Nmea);
    ASSERT_EQ(link->open_link(), LinkOpen::Opened);
    pty.send(nmea("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"));
    ASSERT_TRUE(wait_until([&] { return fix.snapshot().altitude == 545.4; }));
    pty.hang_up();
    ASSERT_TRUE(wait_until([&] { return link->port_hung_up(); }));
    // A spinning reader would use the whole half second of processor time.
    timespec before{}, after{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &before);
    std::this_thread::sleep_for(500ms);
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &after);
    const double used = (after.tv_sec - before.tv_sec) + (after.tv_nsec - before.tv_nsec) / 1e9;
    EXPECT_LT(used, 0.25);
    EXPECT_TRUE(link->link_active());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(link->close_link());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(link->reader_thread_id(), 0);
#endif
}

// A USB receiver pulled out and plugged in again: its stable name (as /dev/serial/by-id gives)
// vanishes with the device and comes back pointing at the new one, which the reader opens again.
TEST_F(LinkFixture, AGoneDeviceIsReopenedWhenItComesBack) {
#ifdef _WIN32
    GTEST_SKIP() << "Linux only: the receiver's stable name is a symbolic link to a pseudo-terminal the test hangs up";
#else
    const std::filesystem::path name = dir / "usb-receiver-if00";
    std::filesystem::create_symlink(pty.slave_path(), name);
    test::write_file(dir / "vor_ini.txt", "com3=" + name.string() + "\r\n");
    link->set_device_type(DeviceType::Nmea);
    ASSERT_EQ(link->open_link(), LinkOpen::Opened);
    pty.send(nmea("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"));
    ASSERT_TRUE(wait_until([&] { return fix.snapshot().altitude == 545.4; }));

    pty.hang_up();
    std::filesystem::remove(name);
    ASSERT_TRUE(wait_until([&] { return link->port_hung_up(); }));
    std::this_thread::sleep_for(1500ms);  // a reopen attempt or two find nothing
    EXPECT_TRUE(link->port_hung_up());
    EXPECT_TRUE(link->link_active());

    PtyPair back;
    ASSERT_TRUE(back.ok());
    std::filesystem::create_symlink(back.slave_path(), name);
    ASSERT_TRUE(wait_until([&] { return !link->port_hung_up(); }));
    back.send(nmea("GPGGA,123520,4807.038,N,01131.000,E,1,08,0.9,612.5,M,46.9,M,,"));
    ASSERT_TRUE(wait_until([&] { return fix.snapshot().altitude == 612.5; }));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(link->close_link());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_EQ(link->reader_thread_id(), 0);
#endif
}

TEST_F(LinkFixture, FailuresLeaveTheLinkClosed) {
    // Closing with nothing open changes nothing.
    EXPECT_FALSE(link->close_link());

    // A port without a device.
    LineSettings s = link->settings();
    s.port_number = 7;  // no com7 key: /dev/ttyS6, which does not exist here
    link->set_settings(s);
    if (!std::filesystem::exists("/dev/ttyS6")) {
        EXPECT_EQ(link->open_link(), LinkOpen::Failed);
        EXPECT_FALSE(link->link_active());
        EXPECT_EQ(link->open_failure(), "Cannot open /dev/ttyS6: No such file or directory - is the receiver plugged "
                                        "in? ls /dev/serial/by-id lists the receivers that are");
    }
    // A port another program holds: the cause names gpsd and the gpsd device.
    {
        SerialLinkOptions other_options;
        other_options.ini_file = dir / "vor_ini.txt";
        SerialLink other(fix, silence, other_options);
        other.set_settings(link->settings());
        LineSettings mine = link->settings();
        mine.port_number = 3;
        other.set_settings(mine);
        ASSERT_EQ(other.open_link(), LinkOpen::Opened);
        link->set_settings(mine);
        EXPECT_EQ(link->open_link(), LinkOpen::Failed);
        EXPECT_NE(link->open_failure().find(pty.slave_path() + ": Device or resource busy - another program (such as gpsd)"),
                  std::string::npos) << link->open_failure();
        EXPECT_EQ(port_open_cause("/dev/ttyACM0", EACCES),
                  "Cannot open /dev/ttyACM0: Permission denied - join the dialout group (sudo adduser $USER dialout) "
                  "and log in again");
    }
    // Settings the port refuses: one and a half stop bits, byte size 9, baud 0.
    for (auto bad : {LineSettings{3, 9600, 8, 0, 1, 0}, LineSettings{3, 9600, 9, 0, 0, 0},
                     LineSettings{3, 0, 8, 0, 0, 0}}) {
        link->set_settings(bad);
        EXPECT_EQ(link->open_link(), LinkOpen::Failed);
        EXPECT_FALSE(link->link_active());
    }

    // The port was closed each time: the same port opens now, and settings can be reapplied.
    LineSettings good{3, 14400, 7, 3, 2, 4};
    link->set_settings(good);
    ASSERT_EQ(link->open_link(), LinkOpen::Opened);
    EXPECT_EQ(link->open_link(), LinkOpen::AlreadyOpen);  // a second open while connected starts nothing new
    good.baud_rate = 4800;
    link->set_settings(good);
    EXPECT_TRUE(link->configure_port());
    good.stop_bits = 1;
    link->set_settings(good);
    EXPECT_FALSE(link->configure_port());
    EXPECT_TRUE(link->close_link());
}

#ifdef _WIN32
// close_link on a receiver that sends nothing: the reader is blocked in its overlapped wait for
// data, and the wake-up event ends it, so close_link returns well within its 5-second bound.
TEST(SilentPortLink, CloseLinkWakesTheBlockedReaderWithinTheBound) {
    const std::string name = test::silent_com_port();
    if (name.empty()) GTEST_SKIP() << "no COM port: set VG_TEST_COM_PORT (scripts/test --windows makes one under Wine)";
    test::TempDir dir;
    test::write_file(dir / "vor_ini.txt", "com3=" + name + "\r\n");
    SharedFix fix;
    std::atomic<int> silence{50};
    SerialLinkOptions options;
    options.ini_file = dir / "vor_ini.txt";
    SerialLink link(fix, silence, options);
    LineSettings s;
    s.port_number = 3;
    s.baud_rate = 4800;
    link.set_settings(s);
    link.set_device_type(DeviceType::Nmea);
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(link.open_link(), LinkOpen::Opened) << link.open_failure();
        ASSERT_TRUE(test::wait_until([&] { return link.reader_thread_id() > 0; }));
        std::this_thread::sleep_for(300ms);  // into the wait for data
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(link.close_link());
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << round;
        EXPECT_EQ(link.reader_thread_id(), 0);
        EXPECT_FALSE(link.link_active());
    }
}
#endif

}  // namespace
}  // namespace vg
