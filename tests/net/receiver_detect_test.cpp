// Detect against real peers: a gpsd started here on a free loopback port (reading vortool sim's
// terminal), the simulator's terminal itself as a serial receiver, and NMEA datagrams sent to a
// UDP port; a cancelled run ends at once and reports nothing more.
#include "net/receiver_detect.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "platform/sockets.h"
#include "support/peers.h"
#include "support/test_paths.h"

namespace vg {
namespace {

using namespace std::chrono_literals;

// Runs Detect to its end and gives what it found.
struct DetectRun {
    std::mutex mutex;
    std::vector<DetectedReceiver> found;
    std::atomic<bool> done{false};
    ReceiverDetect detect;

    bool start(DetectOptions options) {
        return detect.start(
            std::move(options),
            [this](const DetectedReceiver& r) {
                std::lock_guard lock(mutex);
                found.push_back(r);
            },
            [this](bool) { done.store(true); });
    }
    std::vector<DetectedReceiver> results() {
        std::lock_guard lock(mutex);
        return found;
    }
};

DetectOptions nothing_but(int gpsd_port, int udp_port, std::vector<std::string> serial) {
    DetectOptions o;
    o.gpsd_port = gpsd_port;
    o.udp_port = udp_port;
    o.serial_paths = std::move(serial);
    o.udp_ms = 1500;
    return o;
}

TEST(ReceiverDetect, FindsARealGpsdAndASerialNmeaReceiver) {
    if (!test::real_peers_available()) GTEST_SKIP() << "gpsd and vortool sim are Linux programs";
    test::TempDir dir;
    test::Simulator gpsd_feed(dir.path());
    test::Gpsd gpsd(dir.path(), gpsd_feed.first_line());
    ASSERT_TRUE(test::eventually([&] { return gpsd.ready(); }));
    test::TempDir other;
    test::Simulator receiver(other.path());
    ASSERT_EQ(receiver.first_line().rfind("/dev/pts/", 0), 0u) << receiver.first_line();

    DetectRun run;
    DetectOptions options = nothing_but(gpsd.port(), 0, {receiver.first_line(), (dir.path() / "no-such-tty").string()});
    options.gpsd_ms = 20000;  // a gpsd that has just opened its device answers once it is done probing it
    ASSERT_TRUE(run.start(options));
    EXPECT_FALSE(run.start(options));  // one run at a time
    ASSERT_TRUE(test::eventually([&] { return run.done.load(); }));
    const auto found = run.results();
    ASSERT_EQ(found.size(), 2u) << (found.empty() ? std::string() : found[0].text);
    EXPECT_EQ(found[0].kind, DetectedReceiver::Kind::Gpsd);
    // gpsd may not have opened the terminal yet when asked: it lists what it reads now.
    EXPECT_EQ(found[0].text.rfind("gpsd on localhost:" + std::to_string(gpsd.port()) + ": ", 0), 0u) << found[0].text;
    EXPECT_EQ(found[1].kind, DetectedReceiver::Kind::Serial);
    EXPECT_EQ(found[1].text, receiver.first_line() + ": NMEA at 4800 baud");
    EXPECT_EQ(found[1].device, DeviceType::Nmea);
    EXPECT_FALSE(run.detect.running());
}

TEST(ReceiverDetect, FindsNmeaDatagramsAndNothingOnSilentPorts) {
    ASSERT_TRUE(sockets_startup());
    const int udp = test::free_loopback_port(true);
    const int silent_tcp = test::free_loopback_port();
    std::atomic<bool> sending{true};
    std::thread sender([&] {
        // A phone app's datagrams: one sentence each, a few a second.
        const int fd = open_socket(true);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<std::uint16_t>(udp));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const std::string sentence = "$GPGGA,,,,,,0,00,,,,,,,*66\r\n";
        while (sending.load()) {
            ::sendto(fd, sentence.data(), sentence.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
            std::this_thread::sleep_for(100ms);
        }
        close_socket(fd);
    });
    DetectRun run;
    ASSERT_TRUE(run.start(nothing_but(silent_tcp, udp, {})));
    ASSERT_TRUE(test::eventually([&] { return run.done.load(); }));
    sending.store(false);
    sender.join();
    const auto found = run.results();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].text, "UDP " + std::to_string(udp) + ": NMEA");
    EXPECT_EQ(found[0].device, DeviceType::Network);
    EXPECT_EQ(found[0].address.port, udp);
}

TEST(ReceiverDetect, CancelEndsARunWithinASlice) {
    DetectRun run;
    DetectOptions options = nothing_but(0, test::free_loopback_port(true), {});
    options.udp_ms = 60000;
    ASSERT_TRUE(run.start(options));
    std::this_thread::sleep_for(200ms);
    const auto before = std::chrono::steady_clock::now();
    run.detect.cancel();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);  // a bound far above one slice
    EXPECT_TRUE(run.done.load());
    EXPECT_TRUE(run.results().empty());
}

TEST(ReceiverDetect, ResultTexts) {
    EXPECT_EQ(gpsd_found_text({StreamAddress::Kind::Tcp, "127.0.0.1", 2947}, 2), "gpsd on localhost: 2 devices");
    EXPECT_EQ(gpsd_found_text({StreamAddress::Kind::Tcp, "127.0.0.1", 3000}, 1), "gpsd on localhost:3000: 1 device");
    EXPECT_EQ(serial_found_text("/dev/ttyUSB0", "NMEA", 4800), "/dev/ttyUSB0: NMEA at 4800 baud");
    EXPECT_EQ(udp_found_text(10110, "NMEA"), "UDP 10110: NMEA");
}

}  // namespace
}  // namespace vg
