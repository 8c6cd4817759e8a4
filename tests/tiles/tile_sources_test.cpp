// Tile addresses of every source and layer, and fetching into a real cache folder from a loopback
// HTTP server that stands in for the proxy named in vor_ini.txt (so every request carries the real
// service address).
#include "tiles/tile_sources.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "support/loopback_http_server.h"
#include "support/test_paths.h"
#include "tiles/geometry.h"
#include "tiles/gif_codec.h"
#include "tiles/image_decode.h"

namespace vg {
namespace {

namespace fs = std::filesystem;

TileHosts test_hosts() {
    return {"relief.test",
            "osm.test",
            "gmap.test",
            "gsat.test",
            {"road0.test", "road1.test", "road2.test", "road3.test"},
            {"air0.test", "air1.test", "air2.test", "air3.test"},
            "mq.test"};
}

std::string address(MapSource s, bool aerial, int level, int row, int column, const TileVersionTexts& v = {}) {
    return tile_address(TileKey{s, aerial, level, row, column}, test_hosts(), v).value_or("<none>");
}

TEST(TileAddress, EverySourceAndLayer) {
    EXPECT_EQ(address(MapSource::OpenStreetMap, false, 0, 5, 3), "http://osm.test/4/3/5.png");
    EXPECT_EQ(address(MapSource::OpenStreetMap, false, 4, 65535, 0), "http://osm.test/16/0/65535.png");
    EXPECT_EQ(address(MapSource::GoogleMaps, false, 1, 40, 70), "http://gmap.test/vt/x=70&y=40&z=7");
    EXPECT_EQ(address(MapSource::GoogleMaps, true, 1, 40, 70), "http://gsat.test/kh/v=&x=70&y=40&z=7");
    EXPECT_EQ(address(MapSource::GoogleMaps, true, 2, 1, 2, {"55", "", ""}), "http://gsat.test/kh/v=55&x=2&y=1&z=10");
    // Virtual Earth: the server is the quadkey's last digit, for road and aerial tiles alike.
    EXPECT_EQ(address(MapSource::VirtualEarth, false, 0, 1, 0), "http://road2.test/tiles/r0002.png?g=");
    EXPECT_EQ(address(MapSource::VirtualEarth, true, 0, 1, 0, {"", "77", "77"}), "http://air2.test/tiles/a0002.jpg?g=77");
    EXPECT_EQ(address(MapSource::VirtualEarth, false, 0, 15, 15, {"", "77", ""}), "http://road3.test/tiles/r3333.png?g=77");
    EXPECT_EQ(address(MapSource::VirtualEarth, true, 1, 0, 64), "http://air0.test/tiles/a1000000.jpg?g=");
    // MapQuest: scale text by level, row and column split into thousands.
    EXPECT_EQ(address(MapSource::MapQuest, false, 3, 12345, 678), "http://mq.test/map/Scale18000/12/345/0/678.gif");
    EXPECT_EQ(address(MapSource::MapQuest, true, 3, 12345, 678), "http://mq.test/sat/Scale18000/12/345/0/678.jpg");
    EXPECT_EQ(address(MapSource::MapQuest, false, 0, 7, 11), "http://mq.test/map/Scale29337258/0/7/0/11.gif");
    EXPECT_EQ(address(MapSource::MapQuest, false, 1, 146, 233), "http://mq.test/map/Scale1504475/0/146/0/233.gif");
    EXPECT_EQ(address(MapSource::MapQuest, false, 2, 1431, 2000), "http://mq.test/map/Scale154950/1/431/2/0.gif");
    EXPECT_EQ(address(MapSource::MapQuest, true, 4, 88749, 140825), "http://mq.test/sat/Scale2500/88/749/140/825.jpg");
    // No quadkey outside the world, and no address for Etopo2 tiles (they come from images).
    EXPECT_EQ(address(MapSource::VirtualEarth, false, 0, 16, 0), "<none>");
    EXPECT_EQ(address(MapSource::VirtualEarth, true, 2, -1, 0), "<none>");
    EXPECT_EQ(address(MapSource::Etopo2, false, 0, 1, 1), "<none>");
    EXPECT_EQ(address(MapSource::OpenStreetMap, false, 5, 1, 1), "<none>");
    // The default hosts are real names, and every address starts with http://.
    const auto real = tile_address(TileKey{MapSource::VirtualEarth, false, 0, 1, 0}, default_tile_hosts(), {});
    ASSERT_TRUE(real);
    EXPECT_EQ(real->rfind("http://", 0), 0u);
    EXPECT_NE(real->find("/tiles/r0002.png?g="), std::string::npos);
}

TEST(TileAddress, Etopo2Images) {
    const TileHosts h = test_hosts();
    // Tile row 7, column 0 → image row 3, column 0: the north-west corner 90N 180W.
    EXPECT_EQ(etopo2_image_address(7 / 2, 0 / 2, h), "http://relief.test/mgg/image/2minsurface/512/90N180W.jpg");
    EXPECT_EQ(etopo2_image_name(3, 0), "etopo_030000_000000.jpg");
    EXPECT_EQ(etopo2_image_address(2 / 2, 9 / 2, h), "http://relief.test/mgg/image/2minsurface/512/00N000E.jpg");
    EXPECT_EQ(etopo2_image_address(0 / 2, 11 / 2, h), "http://relief.test/mgg/image/2minsurface/512/45S045E.jpg");
    const char* rows[] = {"45S", "00N", "45N", "90N"};
    const char* cols[] = {"180W", "135W", "090W", "045W", "000E", "045E", "090E", "135E"};
    for (int y2 = 0; y2 < 4; ++y2)
        for (int x2 = 0; x2 < 8; ++x2)
            EXPECT_EQ(etopo2_image_address(y2, x2, h),
                      std::string("http://relief.test/mgg/image/2minsurface/512/") + rows[y2] + cols[x2] + ".jpg");
    EXPECT_EQ(etopo2_image_name(2, 7), "etopo_020000_070000.jpg");
}

// A loopback server acting as the proxy: it answers every request through `reply` (by requested
// URL) and records the URLs asked for.
class TileFetch : public ::testing::Test {
protected:
    using Reply = std::function<test::ScriptedReply(const std::string& url)>;

    TileFetch()
        : server_([this](const std::string& request) {
              const std::size_t start = request.find(' ') + 1;
              const std::string url = request.substr(start, request.find(' ', start) - start);
              std::lock_guard<std::mutex> lock(mutex_);
              urls_.push_back(url);
              return reply_(url);
          }) {
        test::write_file(tmp_ / "vor_ini.txt", "maps=.\\Maps\r\nprxy=127.0.0.1:" + std::to_string(server_.port()) + "\r\n");
        hosts_ = test_hosts();
        context_.hosts = &hosts_;
        context_.versions = &versions_;
        context_.http.settings_dir = tmp_.path();
        context_.http.connect_timeout = std::chrono::seconds(10);
        context_.http.idle_timeout = std::chrono::seconds(10);
    }

    void answer(Reply reply) {
        std::lock_guard<std::mutex> lock(mutex_);
        reply_ = std::move(reply);
    }
    std::vector<std::string> urls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return urls_;
    }
    std::string root() const { return (tmp_.path() / "Maps").string(); }
    std::string path_of(MapSource s, bool aerial, int level, int row, int column) const {
        return tile_paths(TileKey{s, aerial, level, row, column}, root()).full_path;
    }

    // Answers with the content type a tile file of that URL's extension expects.
    static test::ScriptedReply image_reply(const std::string& url, const std::string& body) {
        const std::string ext = url.substr(url.rfind('.') + 1, 3);
        const std::string type = ext == "png" ? "image/png" : ext == "gif" ? "image/gif" : "image/jpeg";
        return test::ScriptedReply::make(200, type, body, true);
    }

    test::TempDir tmp_;
    std::mutex mutex_;
    Reply reply_ = [](const std::string& url) { return image_reply(url, "tile " + url); };
    std::vector<std::string> urls_;
    test::LoopbackHttpServer server_;
    TileHosts hosts_;
    TileVersions versions_;
    FetchContext context_;
};

TEST_F(TileFetch, ViewIsFetchedOnceThenServedFromTheCache) {
    TilePathTable t;
    // OpenStreetMap level 2 around (256·100, 256·200): rows 199..200, columns 99..100, top-down.
    ASSERT_TRUE(fetch_view_tiles(t, 25600, 51200, 2, MapSource::OpenStreetMap, root(), false, false, context_));
    EXPECT_EQ(urls(), (std::vector<std::string>{"http://osm.test/10/99/199.png", "http://osm.test/10/100/199.png",
                                                "http://osm.test/10/99/200.png", "http://osm.test/10/100/200.png"}));
    EXPECT_EQ(t.slots[0], path_of(MapSource::OpenStreetMap, false, 2, 199, 99));
    EXPECT_EQ(t.slots[3], path_of(MapSource::OpenStreetMap, false, 2, 200, 100));
    EXPECT_EQ(test::read_file(t.slots[3]), "tile http://osm.test/10/100/200.png");

    // Cached tiles of 1 byte or more are used unchanged; a 0-byte tile is fetched again.
    test::write_file(t.slots[0], "");
    test::write_file(t.slots[1], "x");
    test::write_file(t.slots[2], "old");
    test::write_file(t.slots[3], "old");
    const std::size_t before = urls().size();
    TilePathTable again;
    ASSERT_TRUE(fetch_view_tiles(again, 25600, 51200, 2, MapSource::OpenStreetMap, root(), false, false, context_));
    EXPECT_EQ(urls().size(), before + 1);
    EXPECT_EQ(urls().back(), "http://osm.test/10/99/199.png");
    EXPECT_EQ(test::read_file(again.slots[0]), "tile http://osm.test/10/99/199.png");
    EXPECT_EQ(test::read_file(again.slots[1]), "x");
}

TEST_F(TileFetch, FailedDownloadsLeaveNoFileAndAnEmptySlot) {
    // Wrong content type for a PNG tile, a reply without any, and a body cut short.
    answer([](const std::string& url) {
        if (url.find("/vt/x=1&") != std::string::npos) return test::ScriptedReply::make(200, "text/html", "<html>");
        if (url.find("/vt/x=2&") != std::string::npos) return test::ScriptedReply::make(200, "", "data");
        if (url.find("/vt/x=3&") != std::string::npos) {
            test::ScriptedReply r;
            r.pieces.push_back({std::chrono::milliseconds(0),
                                "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: 100\r\n\r\nshort"});
            return r;
        }
        return image_reply(url, "png");
    });
    for (int column : {1, 2, 3}) {
        std::string slot;
        EXPECT_FALSE(fetch_tile(slot, column * 256, 0, 0, MapSource::GoogleMaps, root(), false, context_)) << column;
        EXPECT_EQ(slot, path_of(MapSource::GoogleMaps, false, 0, 0, column));
        EXPECT_FALSE(fs::exists(slot));
        // Nothing but the directories is left behind (no partial files either).
        for (const auto& entry : fs::recursive_directory_iterator(root())) EXPECT_TRUE(entry.is_directory()) << entry.path();
    }
    TilePathTable t;
    for (auto& s : t.slots) s = "stale";
    ASSERT_TRUE(fetch_view_tiles(t, 512, 1024, 0, MapSource::GoogleMaps, root(), false, false, context_));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(t.slots[i], "") << i;  // columns 1 and 2 both fail
    EXPECT_EQ(t.slots[4], "stale");

    // An empty body is no tile either.
    answer([](const std::string& url) { return image_reply(url, ""); });
    std::string slot;
    EXPECT_FALSE(fetch_tile(slot, 0, 0, 1, MapSource::GoogleMaps, root(), false, context_));
    EXPECT_FALSE(fs::exists(slot));

    // No server at all behind the proxy address.
    test::write_file(tmp_ / "vor_ini.txt", "prxy=127.0.0.1:" + std::to_string(test::free_loopback_port()) + "\r\n");
    EXPECT_FALSE(fetch_tile(slot, 0, 256, 0, MapSource::GoogleMaps, root(), false, context_));
    EXPECT_FALSE(fs::exists(slot));
}

TEST_F(TileFetch, MapQuestPlaceholderIsDiscarded) {
    answer([](const std::string& url) {
        // Column c answers with 1409 + (c % 3) bytes: 1409, 1410, 1411.
        const std::size_t last = url.rfind('/');
        const int column = std::stoi(url.substr(last + 1));
        return image_reply(url, std::string(static_cast<std::size_t>(1409 + column % 3), 'g'));
    });
    for (bool aerial : {false, true}) {
        std::string slot;
        EXPECT_TRUE(fetch_tile(slot, 0 * 256, 0, 0, MapSource::MapQuest, root(), aerial, context_));
        EXPECT_EQ(fs::file_size(slot), 1409u);
        EXPECT_FALSE(fetch_tile(slot, 1 * 256, 0, 0, MapSource::MapQuest, root(), aerial, context_));
        EXPECT_FALSE(fs::exists(slot));
        EXPECT_TRUE(fetch_tile(slot, 2 * 256, 0, 0, MapSource::MapQuest, root(), aerial, context_));
        EXPECT_EQ(fs::file_size(slot), 1411u);
    }
    EXPECT_EQ(urls()[0], "http://mq.test/map/Scale29337258/0/0/0/0.gif");
    EXPECT_EQ(urls()[3], "http://mq.test/sat/Scale29337258/0/0/0/0.jpg");
}

TEST_F(TileFetch, ColumnsBeyondTheEdgesAndVersionTexts) {
    versions_.virtual_earth_road.publish("77");
    TilePathTable t;
    // Centre column 0 at level 0: the left cells are column 15, west of 180° W.
    ASSERT_TRUE(fetch_view_tiles(t, 0, 2048, 0, MapSource::VirtualEarth, root(), false, false, context_));
    const auto got = urls();
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0], "http://road3.test/tiles/r1333.png?g=77");  // row 7, column 15
    EXPECT_EQ(got[1], "http://road2.test/tiles/r0222.png?g=77");  // row 7, column 0
    EXPECT_EQ(t.slots[0], path_of(MapSource::VirtualEarth, false, 0, 7, 15));
    EXPECT_EQ(t.slots[3], path_of(MapSource::VirtualEarth, false, 0, 8, 0));
    // A Big Maps MapQuest view at its east edge wraps with the service's 12 tiles per row.
    ASSERT_TRUE(fetch_view_tiles(t, 3072, 1024, 0, MapSource::MapQuest, root(), true, true, context_));
    EXPECT_EQ(urls()[4], "http://mq.test/sat/Scale29337258/0/5/0/10.jpg");
    EXPECT_EQ(urls()[7], "http://mq.test/sat/Scale29337258/0/5/0/1.jpg");
    EXPECT_EQ(t.slots[15], path_of(MapSource::MapQuest, true, 0, 2, 1));
}

TEST_F(TileFetch, LevelsWithoutTilesFetchNothing) {
    TilePathTable t;
    for (auto& s : t.slots) s = "stale";
    EXPECT_FALSE(fetch_view_tiles(t, 2048, 1024, 1, MapSource::Etopo2, root(), false, false, context_));
    EXPECT_FALSE(fetch_view_tiles(t, 2048, 1024, 5, MapSource::OpenStreetMap, root(), false, false, context_));
    EXPECT_EQ(t.slots[0], "stale");
    EXPECT_TRUE(urls().empty());
    EXPECT_FALSE(fs::exists(root()));
    // Rows outside the world are not asked for.
    std::string slot = "stale";
    EXPECT_FALSE(fetch_tile(slot, 0, -1, 0, MapSource::OpenStreetMap, root(), false, context_));
    EXPECT_EQ(slot, "");
    EXPECT_TRUE(urls().empty());
}

// The four quarters of an Etopo2 image become four GIF tiles; compare them with the decoded image.
void expect_quarters(const RgbImage& image, const std::string& dir, int y2, int x2) {
    const int qw = image.width / 2, qh = image.height / 2;
    for (int half = 0; half < 2; ++half)
        for (int side = 0; side < 2; ++side) {
            const TileKey key{MapSource::Etopo2, false, 0, 2 * y2 + 1 - half, 2 * x2 + side};
            RgbImage tile;
            ASSERT_TRUE(gif_read_file(dir + "/" + tile_file_name(key), tile)) << key.row << " " << key.column;
            ASSERT_EQ(tile.width, qw);
            ASSERT_EQ(tile.height, qh);
            int mismatches = 0;
            for (int r = 0; r < qh; ++r)
                for (int c = 0; c < qw; ++c) {
                    const std::uint8_t* p = &image.pixels[(static_cast<std::size_t>(half * qh + r) * image.width + side * qw + c) * 3];
                    const PaletteColour want = fixed_palette_colour(fixed_palette_index(p[0], p[1], p[2]));
                    const std::uint8_t* q = &tile.pixels[(static_cast<std::size_t>(r) * qw + c) * 3];
                    if (q[0] != want.red || q[1] != want.green || q[2] != want.blue) ++mismatches;
                }
            EXPECT_EQ(mismatches, 0) << "tile row " << key.row << " column " << key.column;
        }
}

TEST_F(TileFetch, Etopo2ImageIsCutIntoFourGifTiles) {
    const fs::path jpeg = test::shared_testdata() / "images/jpeg/wuffs/hibiscus.regular.jpeg";  // 312 × 442
    const std::string body = test::read_file(jpeg);
    answer([body](const std::string& url) { return image_reply(url, body); });
    RgbImage image;
    ASSERT_TRUE(load_jpeg(jpeg, image));

    std::string slot;
    // Tile row 7, column 0: the image at 90N 180W, stored beside the tiles.
    ASSERT_TRUE(fetch_tile(slot, 0, 7 * 256, 0, MapSource::Etopo2, root(), false, context_));
    EXPECT_EQ(urls(), std::vector<std::string>{"http://relief.test/mgg/image/2minsurface/512/90N180W.jpg"});
    EXPECT_EQ(slot, test::native(root() + "/E2/vor_0_070000_000000.gif"));
    EXPECT_EQ(test::read_file(root() + "/E2/etopo_030000_000000.jpg"), body);
    expect_quarters(image, root() + "/E2", 3, 0);

    // The neighbours came with it: no further download for them.
    for (int row : {6, 7})
        for (int col : {0, 1}) {
            ASSERT_TRUE(fetch_tile(slot, col * 256, row * 256, 0, MapSource::Etopo2, root(), false, context_));
        }
    EXPECT_EQ(urls().size(), 1u);

    // A cached image alone is no tile: a missing tile downloads its image again.
    fs::remove(root() + "/E2/vor_0_060000_010000.gif");
    test::write_file(root() + "/E2/etopo_030000_000000.jpg", "stale");
    ASSERT_TRUE(fetch_tile(slot, 256, 6 * 256, 0, MapSource::Etopo2, root(), false, context_));
    EXPECT_EQ(urls().size(), 2u);
    EXPECT_EQ(test::read_file(root() + "/E2/etopo_030000_000000.jpg"), body);

    // A whole view: rows 3 (top) and 2, columns 8 and 9 → one image, 00N000E.
    TilePathTable t;
    ASSERT_TRUE(fetch_view_tiles(t, 9 * 256, 3 * 256, 0, MapSource::Etopo2, root(), false, false, context_));
    EXPECT_EQ(urls().size(), 3u);
    EXPECT_EQ(urls().back(), "http://relief.test/mgg/image/2minsurface/512/00N000E.jpg");
    EXPECT_EQ(t.slots[0], test::native(root() + "/E2/vor_0_030000_100000.gif"));
    EXPECT_EQ(t.slots[3], test::native(root() + "/E2/vor_0_020000_110000.gif"));
    expect_quarters(image, root() + "/E2", 1, 4);
}

TEST_F(TileFetch, UndecodableEtopo2ImageGivesNoTiles) {
    answer([](const std::string& url) { return image_reply(url, "not a jpeg at all"); });
    std::string slot;
    EXPECT_FALSE(fetch_tile(slot, 11 * 256, 0, 0, MapSource::Etopo2, root(), false, context_));
    EXPECT_EQ(urls(), std::vector<std::string>{"http://relief.test/mgg/image/2minsurface/512/45S045E.jpg"});
    for (const auto& entry : fs::recursive_directory_iterator(root())) EXPECT_TRUE(entry.is_directory()) << entry.path();
    TilePathTable t;
    EXPECT_TRUE(fetch_view_tiles(t, 11 * 256, 512, 0, MapSource::Etopo2, root(), false, false, context_));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(t.slots[i], "") << i;
}

}  // namespace
}  // namespace vg
