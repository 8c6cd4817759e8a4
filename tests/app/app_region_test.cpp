// Gps → Download Region through the recording window: the dialog preset to the view, a region of
// an archive on the loopback https server planned, cancelled while its tiles come, resumed, and
// the result announced; a source whose policy forbids bulk downloads refused.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <random>
#include <regex>
#include <thread>

#include "app_fixture.h"
#include "support/range_file.h"
#include "support/tls_test_server.h"
#include "tiles/pmtiles.h"
#include "tiles/pmtiles_writer.h"

namespace vg::test {
namespace {

namespace fs = std::filesystem;

// A world of zooms 0-5 whose tiles are 2 KB of noise each (nothing shared, nothing compressed):
// the tiles of a small area lie in several ranges of the archive.
std::string noise_archive(const fs::path& dir) {
    const fs::path file = dir / "noise.pmtiles";
    pmtiles::WriterOptions o;
    o.tile_type = pmtiles::TileType::png;
    o.tile_compression = Compression::none;
    std::string error;
    auto writer = pmtiles::Writer::create(file.string(), o, error);
    EXPECT_TRUE(writer) << error;
    std::mt19937 random(7);
    std::vector<std::uint8_t> bytes(2048);
    for (int z = 0; z <= 5; ++z)
        for (int y = 0; y < (1 << z); ++y)
            for (int x = 0; x < (1 << z); ++x) {
                for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
                EXPECT_TRUE(writer->add_tile(z, x, y, bytes));
            }
    EXPECT_TRUE(writer->finish(error)) << error;
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The archive served by ranges; while `held`, a range of the tile data waits until released (so
// that a cancel falls between ranges).
class HeldArchive {
public:
    explicit HeldArchive(std::string bytes) : file_(bytes) {
        std::string error;
        const auto h = pmtiles::decode_header({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()},
                                              bytes.size(), error);
        data_offset_ = h ? h->data_offset : 0;
    }
    LoopbackHttpServer::Handler handler() {
        return [this](const std::string& request) {
            std::smatch m;
            if (std::regex_search(request, m, std::regex("bytes=([0-9]+)-")) && std::stoull(m[1]) >= data_offset_) {
                std::unique_lock lock(mutex_);
                ++waiting_;
                waited_.notify_all();
                opened_.wait_for(lock, std::chrono::seconds(20), [this] { return !held_; });
                --waiting_;
            }
            return file_.answer(request);
        };
    }
    void hold(bool on) {
        {
            std::lock_guard lock(mutex_);
            held_ = on;
        }
        opened_.notify_all();
    }
    // Until a range of the tile data waits (bounded): a cancel then falls after the first range.
    bool wait_until_held() {
        std::unique_lock lock(mutex_);
        return waited_.wait_for(lock, std::chrono::seconds(20), [this] { return waiting_ > 0; });
    }

private:
    RangeFile file_;
    std::uint64_t data_offset_ = 0;
    std::mutex mutex_;
    std::condition_variable opened_, waited_;
    bool held_ = false;
    int waiting_ = 0;
};

TestPki& pki() {
    static TestPki p;
    return p;
}

class Region : public AppFixture {
protected:
    // Polls the dialog's state until `done` holds (at most 20 s).
    RegionTexts wait_for(const std::function<bool(const RegionTexts&)>& done) {
        RegionTexts t;
        for (int i = 0; i < 2000; ++i) {
            t = window.regions.back().poll();
            if (done(t)) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return t;
    }
};

TEST_F(Region, PresetToTheViewPlannedCancelledResumedAndAnnounced) {
    HeldArchive archive(noise_archive(dir.path()));
    TlsTestServer server(pki().good, archive.handler());
    write_settings("", "cafile=" + pki().ca_file + "\r\n");
    start();
    app->on_command(Command::DownloadRegion);
    ASSERT_EQ(count_calls("dialog region"), 1);
    const RegionChoice preset = window.regions.back().preset;
    // The view's bounds around the start position, its zoom less two up to 14, a pack of the packs folder.
    EXPECT_LT(preset.west, kStartLon);
    EXPECT_GT(preset.east, kStartLon);
    EXPECT_LT(preset.south, kStartLat);
    EXPECT_GT(preset.north, kStartLat);
    EXPECT_EQ(preset.min_zoom, web_zoom(app->view().level) - 2);
    EXPECT_EQ(preset.max_zoom, 14);
    EXPECT_EQ(fs::path(preset.out), fs::path(root()) / "packs" / "region.pmtiles");
    EXPECT_TRUE(preset.source.empty()) << "nothing remembered yet";

    RegionChoice choice = preset;
    choice.source = server.url("/noise.pmtiles");
    choice.west = 10, choice.south = 50, choice.east = 40, choice.north = 65;
    choice.min_zoom = 3, choice.max_zoom = 5;
    archive.hold(true);
    ASSERT_EQ(window.regions.back().start(choice), "");
    EXPECT_NE(window.regions.back().start(choice), "") << "one download at a time";
    RegionTexts t = wait_for([](const RegionTexts& r) { return !r.size.empty(); });
    EXPECT_TRUE(std::regex_match(t.size, std::regex("[0-9]+ tiles, [0-9.]+ MB to fetch"))) << t.size;
    EXPECT_TRUE(t.running);
    ASSERT_TRUE(archive.wait_until_held());
    window.regions.back().cancel();
    archive.hold(false);
    t = wait_for([](const RegionTexts& r) { return !r.running; });
    EXPECT_NE(t.outcome.find("Cancelled"), std::string::npos) << t.outcome;
    EXPECT_GT(t.percent, 0);
    EXPECT_LT(t.percent, 100);
    app->paint();
    EXPECT_FALSE(fs::exists(choice.out));
    EXPECT_TRUE(fs::exists(choice.out + ".part"));

    // Start again: only the rest is fetched; the pack is announced on the message line.
    ASSERT_EQ(window.regions.back().start(choice), "");
    t = wait_for([](const RegionTexts& r) { return !r.running; });
    EXPECT_NE(t.size.find("resuming"), std::string::npos) << t.size;
    EXPECT_NE(t.outcome.find("Done"), std::string::npos) << t.outcome;
    EXPECT_EQ(t.percent, 100);
    EXPECT_NE(t.progress.find("MB/s"), std::string::npos) << t.progress;
    EXPECT_TRUE(fs::exists(choice.out));
    EXPECT_FALSE(fs::exists(choice.out + ".part"));
    EXPECT_NE(app->paint().message.find(choice.out), std::string::npos);

    // The archive is remembered for the next dialog.
    app->on_command(Command::DownloadRegion);
    EXPECT_EQ(window.regions.back().preset.source, choice.source);
}

TEST_F(Region, ASourceThatForbidsBulkDownloadsIsRefusedWithItsReason) {
    write_settings();
    start();
    app->on_command(Command::DownloadRegion);
    RegionChoice choice = window.regions.back().preset;
    choice.source = "OpenStreetMap";
    const std::string refused = window.regions.back().start(choice);
    EXPECT_NE(refused.find("nobulk"), std::string::npos) << refused;
    EXPECT_FALSE(app->region_running());
    EXPECT_FALSE(fs::exists(choice.out + ".part"));
}

}  // namespace
}  // namespace vg::test
