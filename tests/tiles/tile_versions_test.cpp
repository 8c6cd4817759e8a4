// The version probe against loopback servers started here, and the version texts it publishes.
#include <gtest/gtest.h>

#include <thread>

#include "support/loopback_http_server.h"
#include "support/test_paths.h"
#include "tiles/tile_versions.h"

namespace vg {
namespace {

using namespace std::chrono_literals;
using test::LoopbackHttpServer;
using test::ScriptedReply;

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
