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
#include <random>
#include <set>

#include "support/range_file.h"
#include "support/test_paths.h"
#include "support/tls_test_server.h"

namespace vg::pmtiles {
namespace {

using test::RangeFile;
using test::TestPki;
using test::TlsTestServer;

TestPki& pki() {
    static TestPki p;
    return p;
}

std::string gzip(const std::vector<std::uint8_t>& raw) {
    std::string error;
    const auto c = compress(Compression::gzip, {raw.data(), raw.size()}, error);
    return {c->begin(), c->end()};
}

// An archive of `tiles` (tile id -> bytes): equal contents stored once, neighbours of one content
// as runs, directories gzipped, all in the root or in leaves of `per_leaf` entries.
std::string make_archive(const std::map<std::uint64_t, std::string>& tiles, std::size_t per_leaf) {
    Directory entries;
    std::string data;
    std::map<std::string, std::uint64_t> stored;
    for (const auto& [id, bytes] : tiles) {
        auto [it, added] = stored.emplace(bytes, data.size());
        if (added) data += bytes;
        if (!entries.empty() && entries.back().offset == it->second &&
            entries.back().tile_id + entries.back().run_length == id) {
            ++entries.back().run_length;
            continue;
        }
        entries.push_back({id, it->second, static_cast<std::uint32_t>(bytes.size()), 1});
    }
    std::string root, leaves;
    if (per_leaf == 0) {
        root = gzip(encode_directory(entries));
    } else {
        Directory pointers;
        for (std::size_t at = 0; at < entries.size(); at += per_leaf) {
            const Directory part(entries.begin() + static_cast<long>(at),
                                 entries.begin() + static_cast<long>(std::min(entries.size(), at + per_leaf)));
            const std::string bytes = gzip(encode_directory(part));
            pointers.push_back({part.front().tile_id, leaves.size(), static_cast<std::uint32_t>(bytes.size()), 0});
            leaves += bytes;
        }
        root = gzip(encode_directory(pointers));
    }
    const std::string metadata = gzip(std::vector<std::uint8_t>{'{', '}'});
    Header h;
    h.root_offset = kHeaderSize;
    h.root_length = root.size();
    h.metadata_offset = h.root_offset + root.size();
    h.metadata_length = metadata.size();
    h.leaf_offset = h.metadata_offset + metadata.size();
    h.leaf_length = leaves.size();
    h.data_offset = h.leaf_offset + leaves.size();
    h.data_length = data.size();
    h.clustered = true;
    h.internal_compression = Compression::gzip;
    h.tile_compression = Compression::none;
    h.tile_type = TileType::png;
    h.min_zoom = static_cast<std::uint8_t>(tile_address(tiles.begin()->first)->z);
    h.max_zoom = static_cast<std::uint8_t>(tile_address(tiles.rbegin()->first)->z);
    h.min_lon_e7 = -1800000000;
    h.max_lon_e7 = 1800000000;
    h.min_lat_e7 = -850000000;
    h.max_lat_e7 = 850000000;
    const auto head = encode_header(h);
    return std::string(head.begin(), head.end()) + root + metadata + leaves + data;
}

// Every tile of zooms 0..max: a few hundred to a few thousand bytes named after it (with `tag`), and
// the sea (the southern half at zoom 4 and finer) one shared content.
std::map<std::uint64_t, std::string> world(int max, const std::string& tag) {
    std::map<std::uint64_t, std::string> tiles;
    std::mt19937 random(7);
    const std::string sea(700, 's');
    for (int z = 0; z <= max; ++z)
        for (std::uint32_t y = 0; y < (1u << z); ++y)
            for (std::uint32_t x = 0; x < (1u << z); ++x) {
                std::string bytes = tag + std::to_string(z) + "/" + std::to_string(x) + "/" + std::to_string(y) + ":";
                bytes.resize(300 + random() % 2500, static_cast<char>('a' + random() % 26));
                tiles[*tile_id(z, x, y)] = z >= 4 && y >= (1u << z) / 2 ? sea : bytes;
            }
    return tiles;
}

std::string text(const std::vector<std::uint8_t>& v) { return {v.begin(), v.end()}; }

RemotePolicy test_policy() {
    RemotePolicy p;
    p.cafile = pki().ca_file;
    return p;
}

TEST(RemoteArchive, AViewCostsItsTilesOnceDirectoriesAreCachedAndAReplacedArchiveIsReadAnew) {
    auto tiles = world(7, "");
    RangeFile file(make_archive(tiles, 256));
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
    auto replaced = world(7, "new ");
    file.replace(make_archive(replaced, 100));
    const TileRead r = archive.tile(7, 62, 42);
    ASSERT_EQ(r.status, TileRead::Status::ok) << r.error;
    EXPECT_EQ(text(r.bytes), replaced[*tile_id(7, 62, 42)]);
    EXPECT_EQ(archive.stats().openings, 2u);
    EXPECT_EQ(archive.version(), file.etag());
}

TEST(RemoteArchive, BadArchivesFailWithAReason) {
    Fetcher fetcher;
    for (const std::string& bytes : {std::string("not an archive at all"), std::string(20000, '\0'),
                                     make_archive(world(2, ""), 0).substr(0, 200)}) {
        RangeFile file(bytes);
        TlsTestServer server(pki().good, file.handler());
        RemoteArchive archive(fetcher, server.url("/bad.pmtiles"), test_policy());
        const TileRead r = archive.tile(1, 0, 0);
        EXPECT_EQ(r.status, TileRead::Status::failed);
        EXPECT_NE(r.error.find("cannot open"), std::string::npos) << r.error;
    }
}

class Extract : public ::testing::Test {
protected:
    std::map<std::uint64_t, std::string> tiles = world(8, "");
    RangeFile file{make_archive(tiles, 300)};
    TlsTestServer server{pki().good, file.handler()};
    Fetcher fetcher;
    test::TempDir dir;

    ExtractRequest request(const std::string& name) {
        ExtractRequest rq;
        rq.source = server.url("/world.pmtiles");
        rq.policy = test_policy();
        rq.west = 5;
        rq.south = 35;
        rq.east = 40;
        rq.north = 60;
        rq.min_zoom = 2;
        rq.max_zoom = 8;
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
    tiles = world(8, "v2 ");
    file.replace(make_archive(tiles, 300));
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
