// AIS over the network paths, end to end: a live capture served by a loopback TCP server and sent as
// UDP datagrams (port 10110 style), and a real gpsd reading the simulator's AIS targets and passing
// them on as its JSON AIS reports.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

#include "gps/ais_feed.h"
#include "net/stream_source.h"
#include "platform/sockets.h"
#include "support/peers.h"
#include "support/test_paths.h"

namespace vg {
namespace {

std::string capture() {
    std::ifstream in(std::string(VG_TESTDATA) + "/ais/ais-nmea.log", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::size_t targets_of(const std::string& text) {
    ais::AisFeed feed;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) feed.sentence(line);
    return feed.targets(std::nullopt).size();
}

TEST(AisStream, CaptureOverTcpAndUdpFillsTheTargets) {
    const std::string log = capture();
    const std::size_t expected = targets_of(log);
    ASSERT_GT(expected, 5u);
    {
        test::NmeaServer server(log);
        SharedFix shared;
        ais::AisFeed feed;
        StreamSourceOptions options;
        options.ais = &feed;
        StreamSource source(shared, options);
        ASSERT_TRUE(source.start(DeviceType::Network, *parse_nmea_address("tcp://127.0.0.1:" + std::to_string(server.port()))));
        EXPECT_TRUE(test::eventually([&] { return feed.targets(std::nullopt).size() == expected; }));
        EXPECT_TRUE(test::eventually([&] { return shared.snapshot().positions > 0; }));
        source.stop();
    }
    {
        SharedFix shared;
        ais::AisFeed feed;
        StreamSourceOptions options;
        options.ais = &feed;
        StreamSource source(shared, options);
        const int port = test::free_loopback_port(true);
        ASSERT_TRUE(source.start(DeviceType::Network, *parse_nmea_address("udp://127.0.0.1:" + std::to_string(port))));
        const int fd = open_socket(true);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        // One datagram a sentence, as AIS receivers send them; sent again until the socket is bound.
        EXPECT_TRUE(test::eventually([&] {
            std::istringstream in(log);
            for (std::string line; std::getline(in, line);) {
                line += "\n";
                ::sendto(fd, line.data(), static_cast<int>(line.size()), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
            }
            return feed.targets(std::nullopt).size() == expected;
        }));
        close_socket(fd);
        source.stop();
    }
}

TEST(AisStream, RealGpsdPassesTheSimulatorsTargetsOn) {
    if (!test::real_peers_available()) GTEST_SKIP() << "gpsd and vortool sim are Linux programs";
    test::TempDir dir;
    test::Simulator sim(dir.path(), {"--ais", "4", "--rate", "2"});
    ASSERT_EQ(sim.first_line().rfind("/dev/pts/", 0), 0u) << sim.first_line();
    test::Gpsd gpsd(dir.path(), sim.first_line());
    ASSERT_TRUE(test::eventually([&] { return gpsd.ready(); }));
    SharedFix shared;
    ais::AisFeed feed;
    StreamSourceOptions options;
    options.ais = &feed;
    StreamSource source(shared, options);
    ASSERT_TRUE(source.start(DeviceType::Gpsd, *parse_gpsd_address("127.0.0.1:" + std::to_string(gpsd.port()))));
    // Every target with its position near the simulated track, its motion and (class A) its name.
    EXPECT_TRUE(test::eventually([&] {
        const auto targets = feed.targets(std::nullopt);
        if (targets.size() != 4) return false;
        for (const ais::Target& t : targets)
            if (!t.lat || std::fabs(*t.lat - 60.175) > 1 || !t.sog_kn || (t.kind == ais::TargetKind::ClassA && t.name.empty()))
                return false;
        return true;
    }));
    const auto targets = feed.targets(std::nullopt);
    const auto it = std::find_if(targets.begin(), targets.end(), [](const ais::Target& t) { return t.mmsi == 230990001; });
    ASSERT_NE(it, targets.end());
    EXPECT_EQ(it->name, "SIM TARGET 1");
    EXPECT_EQ(it->kind, ais::TargetKind::ClassA);
    EXPECT_NEAR(*it->sog_kn, 8, 0.05);
    source.stop();
}

}  // namespace
}  // namespace vg
