// Base upload, remote poll and the version probe against loopback
// servers started here.
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

class ProbeTest : public ::testing::Test {
protected:
    test::TempDir dir;
    TileVersions versions;
    ProbeConfig config;

    void SetUp() override {
        config.work_dir = dir.path();
        config.http.settings_dir = dir.path();
        config.http.idle_timeout = 5s;
        const std::string dead = "http://127.0.0.1:" + std::to_string(test::free_loopback_port()) + "/";
        config.first_site = config.second_site = dead;
    }
    bool probe_file_exists() const { return std::filesystem::exists(dir / kProbeFile); }
};

TEST_F(ProbeTest, BothSitesAnsweringSetTheVersionTexts) {
    LoopbackHttpServer google(ScriptedReply::make(200, "text/html; charset=UTF-8", "<html>maps</html>"));
    LoopbackHttpServer bing(ScriptedReply::make(200, "text/html", "<html>bing</html>"));
    config.first_site = google.url("/");
    config.second_site = bing.url("/");
    ConnectivityProbe probe;
    probe.start(config, versions);
    probe.wait();
    EXPECT_TRUE(probe.finished());
    EXPECT_EQ(versions.google_aerial.get(), "55");
    EXPECT_EQ(versions.virtual_earth_road.get(), "77");
    EXPECT_EQ(versions.virtual_earth_aerial.get(), "77");
    EXPECT_FALSE(probe_file_exists());
    ASSERT_TRUE(google.wait_for_requests(1));
    EXPECT_EQ(google.requests()[0].substr(0, 16), "GET / HTTP/1.1\r\n");
}

TEST_F(ProbeTest, ASiteWithoutContentTypeOrNotAnsweringChangesNothing) {
    LoopbackHttpServer bare(ScriptedReply::make(200, "", "<html></html>"));
    config.first_site = bare.url("/");  // answers without a Content-Type: not counted
    EXPECT_FALSE(connectivity_probe(config, versions));
    EXPECT_EQ(versions.google_aerial.get(), "");
    EXPECT_EQ(versions.virtual_earth_road.get(), "");
    EXPECT_FALSE(probe_file_exists());

    // Only the second site answers: versions for it.
    LoopbackHttpServer bing(ScriptedReply::make(200, "text/html", "x"));
    config.second_site = bing.url("/");
    EXPECT_FALSE(connectivity_probe(config, versions));
    EXPECT_EQ(versions.google_aerial.get(), "");
    EXPECT_EQ(versions.virtual_earth_aerial.get(), "77");
}

TEST(TileVersionText, IsPublishedOnceAndReadSafelyFromAnotherThread) {
    TileVersionText text;
    EXPECT_EQ(text.get(), "");
    std::thread reader([&] {
        for (int i = 0; i < 100000; ++i) {
            const auto v = text.get();
            ASSERT_TRUE(v.empty() || v == "55");
        }
    });
    EXPECT_TRUE(text.publish("55"));
    reader.join();
    EXPECT_FALSE(text.publish("77"));
    EXPECT_EQ(text.get(), "55");
    TileVersionText long_text;
    long_text.publish("12345");
    EXPECT_EQ(long_text.get(), "12");
}

}  // namespace
}  // namespace vg
