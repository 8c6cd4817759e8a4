// Remote PMTiles archives on the loopback https server (ranges, ETags, a request log): a view's
// tiles once the directories are cached, an archive replaced while being read, and region extracts
// read back, resumed and refused.
#include "tiles/pmtiles_extract.h"
#include "tiles/pmtiles_remote.h"
#include "tiles/geometry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>
#include <set>

#include "support/pmtiles_world.h"
#include "support/range_file.h"
#include "support/test_paths.h"
#include "support/tls_test_server.h"

namespace vg::pmtiles {
namespace {

using test::clustered_archive;
using test::RangeFile;
using test::TestPki;
using test::TlsTestServer;
using test::world_tiles;

TestPki& pki() {
    static TestPki p;
    return p;
}

std::string text(const std::vector<std::uint8_t>& v) { return {v.begin(), v.end()}; }

RemotePolicy test_policy() {
    RemotePolicy p;
    p.cafile = pki().ca_file;
    return p;
}

TEST(RemoteArchive, AViewCostsItsTilesOnceDirectoriesAreCachedAndAReplacedArchiveIsReadAnew) {
    auto tiles = world_tiles(7, "");
    RangeFile file(clustered_archive(tiles, 256));
    TlsTestServer server(pki().good, file.handler());
    Fetcher fetcher;
    RemoteArchive archive(fetcher, server.url("/world.pmtiles"), test_policy());

    // A 4 x 4 view at zoom 7, twice: the second costs one request a tile, no directory.
    auto view = [&](std::uint32_t x0, std::uint32_t y0) {
        for (std::uint32_t y = y0; y < y0 + 4; ++y)
            for (std::uint32_t x = x0; x < x0 + 4; ++x) {
                const TileRead r = archive.tile(7, x, y);
                ASSERT_EQ(r.status, TileRead::Status::ok) << r.error;
                EXPECT_EQ(text(r.bytes), tiles[*tile_id(7, x, y)]);
            }
    };
    view(60, 40);
    const auto first = file.request_count();
    EXPECT_LE(first, 1u + 3u + 16u) << "header and root, the view's leaves, its tiles";
    view(60, 40);
    EXPECT_EQ(file.request_count() - first, 16u);
    EXPECT_EQ(archive.tile(7, 200, 0).status, TileRead::Status::missing);  // outside the grid

    // From several workers at once, as the window's loader asks.
    std::vector<std::thread> workers;
    std::atomic<int> right{0};
    for (std::uint32_t x = 0; x < 8; ++x)
        workers.emplace_back([&, x] {
            if (text(archive.tile(3, x, 2).bytes) == tiles[*tile_id(3, x, 2)]) ++right;
        });
    for (auto& w : workers) w.join();
    EXPECT_EQ(right, 8);

    // The archive is replaced on the server (new tiles, another layout): the next tile meets the new
    // ETag, the cached directories go, and the tile comes from the new version.
    auto replaced = world_tiles(7, "new ");
    file.replace(clustered_archive(replaced, 100));
    const TileRead r = archive.tile(7, 62, 42);
    ASSERT_EQ(r.status, TileRead::Status::ok) << r.error;
    EXPECT_EQ(text(r.bytes), replaced[*tile_id(7, 62, 42)]);
    EXPECT_EQ(archive.stats().openings, 2u);
    EXPECT_EQ(archive.version(), file.etag());
}

// The tiles of a view at zoom 7, rows from y0, columns from x0.
std::vector<RemoteArchive::TileKey> view_keys(std::uint32_t x0, std::uint32_t y0, std::uint32_t w, std::uint32_t h) {
    std::vector<RemoteArchive::TileKey> keys;
    for (std::uint32_t y = y0; y < y0 + h; ++y)
        for (std::uint32_t x = x0; x < x0 + w; ++x) keys.push_back({7, x, y});
    return keys;
}

TEST(RemoteArchive, AViewsTilesComeInAFewRequestsAsTheLocalReaderReadsThem) {
    const auto tiles = world_tiles(7, "");
    const std::string bytes = clustered_archive(tiles, 256);
    test::TempDir dir;
    test::write_file(dir / "world.pmtiles", bytes);
    std::string error;
    const auto local = Archive::open_file((dir / "world.pmtiles").string(), error);
    ASSERT_TRUE(local) << error;
    RangeFile file(bytes);
    TlsTestServer server(pki().good, file.handler());
    Fetcher fetcher;
    RemoteArchive archive(fetcher, server.url("/world.pmtiles"), test_policy());

    auto expect_local = [&](const std::vector<RemoteArchive::TileKey>& keys, const std::vector<TileRead>& got) {
        ASSERT_EQ(got.size(), keys.size());
        for (std::size_t i = 0; i < keys.size(); ++i) {
            const auto id = tile_id(keys[i].z, keys[i].x, keys[i].y);
            const auto want = id ? local->stored_tile(*id) : std::nullopt;
            ASSERT_EQ(got[i].status, want ? TileRead::Status::ok : TileRead::Status::missing)
                << keys[i].z << "/" << keys[i].x << "/" << keys[i].y << " " << got[i].error;
            if (want) {
                EXPECT_EQ(got[i].bytes, *want);
            }
        }
    };
    // A 4 x 4 view, and a 6 x 5 one across the coast (the sea is one content) with a tile outside the
    // grid, a zoom the archive lacks and a tile asked twice; each read twice, the second time with
    // the directories cached.
    auto wide = view_keys(29, 61, 6, 5);
    wide.push_back({7, 200, 0});
    wide.push_back({8, 3, 3});
    wide.push_back({7, 30, 62});
    for (const auto& keys : {view_keys(60, 40, 4, 4), wide}) {
        const auto cold = archive.tiles(keys);
        expect_local(keys, cold);
        file.clear_log();
        const auto warm = archive.tiles(keys);
        expect_local(keys, warm);
        std::printf("view of %zu tiles: %zu requests with the directories cached\n", keys.size(), file.request_count());
        EXPECT_LE(file.request_count(), keys.size() == 16 ? 1u : 3u);
    }
    // With no gap allowed, exactly the view's contents are fetched, the sea's once for its 12 tiles.
    std::set<std::string> contents;
    for (const auto& k : wide)
        if (const auto id = tile_id(k.z, k.x, k.y); id && tiles.count(*id)) contents.insert(tiles.at(*id));
    std::uint64_t content_bytes = 0;
    for (const auto& c : contents) content_bytes += c.size();
    EXPECT_EQ(contents.size(), 30u - 12u + 1u);
    file.clear_log();
    expect_local(wide, archive.tiles(wide, 0));
    EXPECT_EQ(file.bytes_sent(), content_bytes);

    // The archive is replaced (new tiles, another layout) between reading the directories and the
    // tiles: the batch is read again, all of it from the new version.
    const auto replaced = world_tiles(7, "new ");
    file.replace_from(archive.header().data_offset, clustered_archive(replaced, 100));
    const auto keys = view_keys(10, 20, 6, 5);
    const auto got = archive.tiles(keys);
    for (std::size_t i = 0; i < keys.size(); ++i) {
        ASSERT_EQ(got[i].status, TileRead::Status::ok) << got[i].error;
        EXPECT_EQ(text(got[i].bytes), replaced.at(*tile_id(7, keys[i].x, keys[i].y)));
    }
    EXPECT_EQ(archive.stats().openings, 2u);
    EXPECT_EQ(archive.version(), file.etag());
}

TEST(RemoteArchive, BadArchivesFailWithAReason) {
    Fetcher fetcher;
    for (const std::string& bytes : {std::string("not an archive at all"), std::string(20000, '\0'),
                                     clustered_archive(world_tiles(2, ""), 0).substr(0, 200)}) {
        RangeFile file(bytes);
        TlsTestServer server(pki().good, file.handler());
        RemoteArchive archive(fetcher, server.url("/bad.pmtiles"), test_policy());
        for (const TileRead& r : {archive.tile(1, 0, 0), archive.tiles({{1, 0, 0}}).front()}) {
            EXPECT_EQ(r.status, TileRead::Status::failed);
            EXPECT_NE(r.error.find("cannot open"), std::string::npos) << r.error;
        }
    }
    // The server refuses the range of the last tile: that tile fails, one read by another range comes.
    const auto tiles = world_tiles(2, "");
    const std::string whole = clustered_archive(tiles, 0);
    RangeFile file(whole);
    const std::uint64_t refused_from = whole.size() - tiles.rbegin()->second.size();
    TlsTestServer server(pki().good, [&](const std::string& request) {
        const auto at = request.find("bytes=");
        if (at != std::string::npos && std::stoull(request.substr(at + 6)) >= refused_from)
            return test::ScriptedReply::make(404, "text/plain", "gone", true);
        return file.answer(request);
    });
    RemoteArchive archive(fetcher, server.url("/cut.pmtiles"), test_policy());
    const auto last = *tile_address(tiles.rbegin()->first);
    const auto got = archive.tiles({{0, 0, 0}, {last.z, last.x, last.y}}, 0);
    ASSERT_EQ(got[0].status, TileRead::Status::ok) << got[0].error;
    EXPECT_EQ(text(got[0].bytes), tiles.begin()->second);
    EXPECT_EQ(got[1].status, TileRead::Status::failed);
}

class Extract : public ::testing::Test {
protected:
    std::map<std::uint64_t, std::string> tiles = world_tiles(8, "");
    RangeFile file{clustered_archive(tiles, 300)};
    TlsTestServer server{pki().good, file.handler()};
    Fetcher fetcher;
    test::TempDir dir;

    ExtractRequest request(const std::string& name) {
        ExtractRequest rq;
        rq.source = server.url("/world.pmtiles");
        rq.policy = test_policy();
        test::set_extract_area(rq);
        rq.out = dir.path() / name;
        return rq;
    }

    // The output holds exactly the area's tiles of the source, and is a clustered archive.
    void expect_area(const ExtractRequest& rq) {
        RemoteArchive out(fetcher, rq.out.string());
        std::string error;
        ASSERT_TRUE(out.open(error)) << error;
        EXPECT_TRUE(out.header().clustered);
        // The area with a ring of one tile around it, at every zoom of the source.
        for (int z = 0; z <= 8; ++z)
            for (std::uint32_t y = std::max(web_tile_row(rq.north, z) - 1, 0); y <= web_tile_row(rq.south, z) + 1u; ++y)
                for (std::uint32_t x = std::max(web_tile_column(rq.west, z) - 1, 0); x <= web_tile_column(rq.east, z) + 1u; ++x) {
                    const bool inside = z >= rq.min_zoom && static_cast<int>(x) >= web_tile_column(rq.west, z) &&
                                        static_cast<int>(x) <= web_tile_column(rq.east, z) &&
                                        static_cast<int>(y) >= web_tile_row(rq.north, z) &&
                                        static_cast<int>(y) <= web_tile_row(rq.south, z);
                    const TileRead r = out.tile(z, x, y);
                    if (!inside) {
                        ASSERT_EQ(r.status, TileRead::Status::missing) << z << "/" << x << "/" << y;
                        continue;
                    }
                    ASSERT_EQ(r.status, TileRead::Status::ok) << z << "/" << x << "/" << y << " " << r.error;
                    ASSERT_EQ(text(r.bytes), tiles[*tile_id(z, x, y)]);
                }
    }
};

TEST_F(Extract, CopiesTheAreaAndFetchesLittleMoreThanItWrites) {
    const auto rq = request("area.pmtiles");
    ExtractProgress planned;
    const auto r = extract_region(fetcher, rq, [&](const ExtractProgress& p) {
        if (p.planned) planned = p;
    });
    ASSERT_EQ(r.status, ExtractResult::Status::ok) << r.error;
    EXPECT_EQ(planned.tiles_total, r.tiles);
    EXPECT_EQ(planned.bytes_total, r.tile_bytes);
    const double ratio = static_cast<double>(r.fetched) / static_cast<double>(r.tile_bytes);
    std::printf("extract: %llu tiles, %llu tile bytes, %llu bytes fetched (ratio %.3f) in %llu requests\n",
                static_cast<unsigned long long>(r.tiles), static_cast<unsigned long long>(r.tile_bytes),
                static_cast<unsigned long long>(r.fetched), ratio, static_cast<unsigned long long>(r.requests));
    EXPECT_LE(ratio, 1.2);
    EXPECT_LT(r.requests, r.tiles / 10) << "neighbouring tiles are read together";
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "area.pmtiles.part"));
    expect_area(rq);
}

TEST_F(Extract, ResumesWithoutFetchingAgainAndStartsOverWhenTheSourceChanged) {
    auto rq = request("resumed.pmtiles");
    rq.merge_gap = 0;  // more ranges, so that the cancel falls in the middle
    std::atomic<bool> cancel{false};
    auto first = extract_region(fetcher, rq, [&](const ExtractProgress& p) {
        if (!p.planned && p.bytes * 2 >= p.bytes_total) cancel = true;
    }, &cancel);
    ASSERT_EQ(first.status, ExtractResult::Status::cancelled) << first.error;
    EXPECT_FALSE(std::filesystem::exists(rq.out));
    const auto asked_before = file.log();
    file.clear_log();
    const auto second = extract_region(fetcher, rq);
    ASSERT_EQ(second.status, ExtractResult::Status::ok) << second.error;
    EXPECT_GT(second.ranges_kept, 0u);
    // No range of tiles the first run wrote is asked again (the directories are).
    RemoteArchive source(fetcher, rq.source, test_policy());
    std::string error;
    ASSERT_TRUE(source.open(error)) << error;
    const std::set<std::string> before(asked_before.begin(), asked_before.end());
    for (const auto& range : file.log()) {
        if (std::stoull(range) >= source.header().data_offset) {
            EXPECT_EQ(before.count(range), 0u) << range;
        }
    }
    expect_area(rq);

    // Cancelled again, then the archive changes: the next run starts over.
    auto other = request("changed.pmtiles");
    cancel = false;
    ASSERT_EQ(extract_region(fetcher, other, [&](const ExtractProgress& p) { if (!p.planned) cancel = true; }, &cancel).status,
              ExtractResult::Status::cancelled);
    tiles = world_tiles(8, "v2 ");
    file.replace(clustered_archive(tiles, 300));
    const auto over = extract_region(fetcher, other);
    ASSERT_EQ(over.status, ExtractResult::Status::ok) << over.error;
    EXPECT_EQ(over.ranges_kept, 0u);
    expect_area(other);
}

TEST_F(Extract, RefusesASourceThatForbidsBulkDownloads) {
    auto rq = request("refused.pmtiles");
    rq.policy.nobulk = true;
    const auto r = extract_region(fetcher, rq);
    EXPECT_EQ(r.status, ExtractResult::Status::refused);
    EXPECT_NE(r.error.find("nobulk"), std::string::npos);
    EXPECT_EQ(file.request_count(), 0u);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "refused.pmtiles.part"));
}

}  // namespace
}  // namespace vg::pmtiles
