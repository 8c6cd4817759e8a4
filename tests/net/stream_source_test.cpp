// Receivers over the network against real peers: a gpsd started here on a free port reading the
// simulator on a pseudo-terminal, a loopback TCP server serving NMEA, and UDP datagrams.
#include "net/stream_source.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <thread>

#include "platform/sockets.h"
#include "support/peers.h"
#include "support/test_paths.h"

namespace vg {
namespace {

// The simulator circles about 1 km around the default start position (60.175 N, 24.917 E).
bool near_start(const FixRecord& fix) { return std::fabs(fix.latitude - 60.175) < 0.05 && std::fabs(fix.longitude - 24.917) < 0.05; }

std::string sentence(const std::string& body) {
    unsigned sum = 0;
    for (unsigned char c : body) sum ^= c;
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
    return "$" + body + tail;
}

TEST(StreamAddresses, GpsdAndNmeaForms) {
    auto gpsd = parse_gpsd_address("");
    ASSERT_TRUE(gpsd);
    EXPECT_EQ(describe(*gpsd), "tcp://127.0.0.1:2947");
    EXPECT_EQ(describe(*parse_gpsd_address(" pi.local:3000\r\n")), "tcp://pi.local:3000");
    EXPECT_EQ(describe(*parse_gpsd_address("[::1]:2948")), "tcp://[::1]:2948");
    EXPECT_EQ(parse_gpsd_address("pi.local")->port, 2947);
    EXPECT_EQ(describe(*parse_nmea_address("tcp://192.168.1.5:10110")), "tcp://192.168.1.5:10110");
    auto udp = parse_nmea_address("udp://:10110");
    ASSERT_TRUE(udp);
    EXPECT_EQ(udp->kind, StreamAddress::Kind::Udp);
    EXPECT_EQ(udp->host, "");
    for (const char* bad : {"host:0", "host:65536", "host:x", "a b:1", "::1:2"})
        EXPECT_FALSE(parse_gpsd_address(bad)) << bad;
    for (const char* bad : {"", "10110", "http://h:1", "tcp://:10110", "tcp://h", "udp://:99999", "tcp://[::1"})
        EXPECT_FALSE(parse_nmea_address(bad)) << bad;
}

TEST(StreamSource, RealGpsdFedBySimulatorMovesTheFixAndIsFollowedAfterARestart) {
    if (!test::real_peers_available()) GTEST_SKIP() << "gpsd and vortool sim are Linux programs";
    test::TempDir dir;
    test::Simulator sim(dir.path());
    ASSERT_EQ(sim.first_line().rfind("/dev/pts/", 0), 0u) << sim.first_line();
    auto gpsd = std::make_unique<test::Gpsd>(dir.path(), sim.first_line());
    ASSERT_TRUE(test::eventually([&] { return gpsd->ready(); }));
    const int port = gpsd->port();

    SharedFix shared;
    std::atomic<int> silence{50};
    StreamSource source(shared, {nullptr, nullptr, &silence});
    ASSERT_TRUE(source.start(DeviceType::Gpsd, *parse_gpsd_address("127.0.0.1:" + std::to_string(port))));
    ASSERT_TRUE(test::eventually([&] {
        const FixRecord f = shared.snapshot();
        return near_start(f) && f.fix_dimension == 3 && f.sky_count > 0;
    }));
    FixRecord fix = shared.snapshot();
    EXPECT_EQ(silence.load(), 0);
    EXPECT_STRNE(fix.utc_text, "");
    EXPECT_GT(fix.sats_in_view, 0);
    EXPECT_EQ(fix.sky[0].system, GnssSystem::Gps);
    EXPECT_GT(fix.positions, 0u);
    EXPECT_TRUE(source.connected());

    // gpsd goes away and comes back on the same port: the source says so and connects again by itself.
    gpsd.reset();
    EXPECT_TRUE(test::eventually([&] { return !source.connected(); }));
    shared.update([](FixRecord& f) { f = FixRecord{}; });
    gpsd = std::make_unique<test::Gpsd>(dir.path(), sim.first_line(), port);
    EXPECT_TRUE(test::eventually([&] { return source.connections() >= 2 && near_start(shared.snapshot()); }));
    EXPECT_TRUE(source.connected());
    source.stop();
    EXPECT_FALSE(source.running());
}

TEST(StreamSource, NmeaOverTcpAndUdp) {
    const std::string gn = sentence("GNRMC,133901.50,A,4134.50180366,N,09345.03586734,W,0.018,273.3,180320,,,D") +
                           sentence("GNGGA,133901.50,4134.50180366,N,09345.03586734,W,4,19,0.7,280.829,M,-31.442,M,7.5,0002");
    {
        test::NmeaServer server(gn);
        SharedFix shared;
        StreamSource source(shared, {});
        ASSERT_TRUE(source.start(DeviceType::Network, *parse_nmea_address("tcp://127.0.0.1:" + std::to_string(server.port()))));
        EXPECT_TRUE(test::eventually([&] { return std::fabs(shared.snapshot().latitude - 41.5750300) < 1e-6; }));
        // The server closes after each payload: the source reconnects with back-off.
        EXPECT_TRUE(test::eventually([&] { return source.connections() >= 2; }));
        source.stop();
    }
    {
        SharedFix shared;
        StreamSource source(shared, {});
        const int port = test::free_loopback_port(true);
        ASSERT_TRUE(source.start(DeviceType::Network, *parse_nmea_address("udp://127.0.0.1:" + std::to_string(port))));
        const int fd = open_socket(true);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        // One datagram per sentence, the last without its line end (some phone apps send them so).
        const std::string gga = sentence("GPGGA,225310,4527.458,S,16709.165,E,1,05,2.1,14.6,M,1.1,M,,");
        const std::string without_end = gga.substr(0, gga.size() - 2);
        EXPECT_TRUE(test::eventually([&] {
            ::sendto(fd, without_end.data(), static_cast<int>(without_end.size()), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
            return shared.snapshot().altitude == 14.6;
        }));
        // The port is ours alone: another socket cannot bind it beside us, even asking to share
        // it, on the same address or on every address.
        for (const std::uint32_t host : {static_cast<std::uint32_t>(INADDR_LOOPBACK), static_cast<std::uint32_t>(INADDR_ANY)}) {
            const int intruder = open_socket(true);
            const int yes = 1;
            ::setsockopt(intruder, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes), sizeof yes);
            sockaddr_in same = a;
            same.sin_addr.s_addr = htonl(host);
            EXPECT_NE(::bind(intruder, reinterpret_cast<sockaddr*>(&same), sizeof same), 0) << host;
            close_socket(intruder);
        }
        close_socket(fd);
        source.stop();
        EXPECT_FALSE(source.running());
    }
}

// vortool sim serves the simulation over TCP and UDP; the network device follows both.
TEST(StreamSource, SimulatorOverTcpAndUdp) {
    if (!test::real_peers_available()) GTEST_SKIP() << "vortool sim is not built for Windows";
    test::TempDir dir;
    const int tcp = test::free_loopback_port();
    test::Simulator served(dir.path(), {"--tcp", std::to_string(tcp), "--rate", "5"});
    EXPECT_EQ(served.first_line(), "tcp://127.0.0.1:" + std::to_string(tcp));
    SharedFix over_tcp;
    StreamSource tcp_source(over_tcp, {});
    ASSERT_TRUE(tcp_source.start(DeviceType::Network, *parse_nmea_address(served.first_line())));

    const int udp = test::free_loopback_port(true);
    SharedFix over_udp;
    StreamSource udp_source(over_udp, {});
    ASSERT_TRUE(udp_source.start(DeviceType::Network, *parse_nmea_address("udp://127.0.0.1:" + std::to_string(udp))));
    test::Simulator sent(dir.path(), {"--udp", "127.0.0.1:" + std::to_string(udp), "--rate", "5"});

    EXPECT_TRUE(test::eventually([&] { return near_start(over_tcp.snapshot()) && near_start(over_udp.snapshot()); }));
    EXPECT_EQ(over_tcp.snapshot().fix_dimension, 3);
    EXPECT_GT(over_udp.snapshot().sky_count, 0);
}

}  // namespace
}  // namespace vg
