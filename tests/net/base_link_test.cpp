// Base upload and remote poll against loopback servers started here.
#include <gtest/gtest.h>

#include <cerrno>

#include "net/base_link.h"
#include "net/position_server.h"
#include "support/loopback_http_server.h"
#include "support/test_paths.h"

namespace vg {
namespace {

using namespace std::chrono_literals;
using test::LoopbackHttpServer;
using test::ScriptedReply;

class BaseLinkTest : public ::testing::Test {
protected:
    test::TempDir dir;
    LoopbackHttpServer base{ScriptedReply::make(200, "text/html", "")};
    BaseLinkConfig config;
    BaseLinkState state;
    FixRecord fix;

    void SetUp() override {
        config.base_enabled = true;
        config.base_host = "127.0.0.1";
        config.base_port = base.port();
        config.http.settings_dir = dir.path();
        config.http.idle_timeout = 5s;
        state.uploaded_lat = 60.175;  // the start position
        state.uploaded_lon = 24.95;
        fix.latitude = 60.175;
        fix.longitude = 24.95;
        fix.fix_dimension = 3;
    }
    // Runs both timer duties for ticks every 5 seconds from `from` to `to` seconds.
    void ticks(std::int64_t from, std::int64_t to, DeviceType device) {
        for (std::int64_t t = from; t <= to; t += 5) {
            base_position_upload(config, device, fix, state, t);
            remote_poll(config, device, state, t);
        }
    }
    std::size_t connections() {
        std::this_thread::sleep_for(50ms);  // a straggler would have been accepted by now
        return base.connection_count();
    }
};

TEST_F(BaseLinkTest, AStationaryBasePostsAtTheFirstTickAndThenAbout65SecondsApart) {
    ticks(100'000, 100'000 + 130, DeviceType::Garmin);
    ASSERT_TRUE(base.wait_for_requests(3));
    const auto r = base.requests();
    ASSERT_EQ(r.size(), 3u);  // at 0, 65 and 130 seconds
    const std::string expected_post =
        "POST /vor/sendbase.cgi HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
        "Content-type: application/x-www-form-urlencoded\r\nContent-length: 38\r\n\r\n"
        "latitude=60.175000&longitude=24.950000\r\n";
    for (const auto& request : r) EXPECT_EQ(request, expected_post);
    EXPECT_EQ(state.upload_clock, 100'130);
}

TEST_F(BaseLinkTest, AMoveOfMoreThanHalfAThousandthDegreePostsAtOnce) {
    fix.latitude = 10.0;
    fix.longitude = 20.0;
    EXPECT_TRUE(base_position_upload(config, DeviceType::Nmea, fix, state, 1000));
    fix.latitude = 10.0005;  // not more than 0.0005
    EXPECT_FALSE(base_position_upload(config, DeviceType::Nmea, fix, state, 1005));
    fix.latitude = 10.0006;
    EXPECT_TRUE(base_position_upload(config, DeviceType::Nmea, fix, state, 1010));
    fix.longitude = 19.9993;
    EXPECT_TRUE(base_position_upload(config, DeviceType::Nmea, fix, state, 1015));
    // A clock that went back skips the time test; the position tests still apply.
    EXPECT_FALSE(base_position_upload(config, DeviceType::Nmea, fix, state, 500));
    fix.longitude = 20.5;
    EXPECT_TRUE(base_position_upload(config, DeviceType::Nmea, fix, state, 500));
    ASSERT_TRUE(base.wait_for_requests(4));
    EXPECT_NE(base.requests()[3].find("\r\n\r\nlatitude=10.000600&longitude=20.500000\r\n"), std::string::npos);
}

TEST_F(BaseLinkTest, NoFixNoBaseOrTheWrongDeviceSendsNothing) {
    fix.fix_dimension = 0;
    ticks(1000, 1200, DeviceType::EarthMate);  // no fix: no upload, not Remote: no poll
    fix.fix_dimension = 3;
    config.base_enabled = false;
    ticks(2000, 2200, DeviceType::EarthMate);
    ticks(3000, 3200, DeviceType::Remote);
    config.base_enabled = true;
    fix.latitude = 1;  // moved, but a Remote copy never uploads
    EXPECT_FALSE(base_position_upload(config, DeviceType::Remote, fix, state, 4000));
    EXPECT_EQ(connections(), 0u);
}

TEST_F(BaseLinkTest, ARemoteCopyPollsItsServerAboutEveryMinute) {
    ticks(1000, 1130, DeviceType::Remote);
    ASSERT_TRUE(base.wait_for_requests(3));
    const auto r = base.requests();
    ASSERT_EQ(r.size(), 3u);
    for (const auto& request : r) EXPECT_EQ(request.substr(0, 16), "GET / HTTP/1.1\r\n");
}

TEST_F(BaseLinkTest, AnUnreachableBaseFailsSilentlyAndIsRetriedAMinuteLater) {
    config.base_port = test::free_loopback_port();
    testing::internal::CaptureStdout();
    ticks(1000, 1065, DeviceType::Garmin);
    const std::string refused = "Error: " + std::to_string(ECONNREFUSED) + " in connect()\n";
    EXPECT_EQ(testing::internal::GetCapturedStdout(), refused + refused);
    EXPECT_EQ(state.upload_clock, 1065);
}

TEST_F(BaseLinkTest, TheRemotePollLetsTheServerWithdrawAStaleFix) {
    // Base and remote copy in one: the remote copy's own server is its base address.
    SharedFix shared;
    std::atomic<std::int64_t> clock{5000};
    PositionServer server(shared, nullptr);
    PositionServerConfig sc;
    sc.port = 0;
    sc.bind_address = "127.0.0.1";
    sc.clock = [&] { return clock.load(); };
    ASSERT_TRUE(server.start(sc));
    config.base_port = server.port();

    // The base posts once, then falls silent.
    EXPECT_TRUE(base_position_upload(config, DeviceType::Nmea, fix, state, 5000));
    EXPECT_EQ(shared.snapshot().fix_dimension, 3);
    BaseLinkState remote_state;
    for (std::int64_t t = 5005; t <= 5400; t += 5) {
        clock = t;
        remote_poll(config, DeviceType::Remote, remote_state, t);
        if (t <= 5300) {
            EXPECT_EQ(shared.snapshot().fix_dimension, 3) << t;
        }
    }
    // The server tests staleness after it closed the poll's connection: allow it a moment.
    for (int i = 0; i < 500 && shared.snapshot().fix_dimension != 0; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(shared.snapshot().fix_dimension, 0);
}

}  // namespace
}  // namespace vg
