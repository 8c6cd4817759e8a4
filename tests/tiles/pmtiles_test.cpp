// PMTiles archives: our reader against archives written by a separate writer (tests/tiles/
// pmtiles_peer.py) in every compression, with and without leaves, clustered or not; our writer's
// archives read back by us and checked by that script; hostile archives refused.
#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "support/run_program.h"
#include "support/test_paths.h"
#include "tiles/pmtiles_file.h"
#include "tiles/pmtiles_writer.h"

namespace vg::pmtiles {
namespace {

const std::string kPeer = std::string(VG_SOURCE_DIR) + "/tests/tiles/pmtiles_peer.py";
const Compression kAll[] = {Compression::none, Compression::gzip, Compression::brotli, Compression::zstd};

// The peer's tile set (see pmtiles_peer.py): every tile of zooms 0-5.
std::map<TileAddress, std::string, bool (*)(const TileAddress&, const TileAddress&)> tile_set() {
    std::map<TileAddress, std::string, bool (*)(const TileAddress&, const TileAddress&)> tiles(
        [](const TileAddress& a, const TileAddress& b) { return std::tie(a.z, a.x, a.y) < std::tie(b.z, b.x, b.y); });
    for (int z = 0; z <= 5; ++z)
        for (std::uint32_t x = 0; x < (1u << z); ++x)
            for (std::uint32_t y = 0; y < (1u << z); ++y) {
                std::string body;
                if ((x + y) % 7 == 0) body = "sea";
                else
                    for (std::uint32_t i = 0; i < x % 5 + 1; ++i)
                        body += "tile " + std::to_string(z) + "/" + std::to_string(x) + "/" + std::to_string(y);
                tiles[{z, x, y}] = body;
            }
    return tiles;
}

void expect_tile_set(const Archive& archive) {
    for (const auto& [a, body] : tile_set()) {
        PackTileStatus status;
        std::string error;
        const auto bytes = archive.tile(a.z, static_cast<int>(a.x), static_cast<int>(a.y), &status, &error);
        ASSERT_TRUE(bytes) << a.z << "/" << a.x << "/" << a.y << " " << error;
        EXPECT_EQ(std::string(bytes->begin(), bytes->end()), body);
    }
    PackTileStatus status;
    EXPECT_FALSE(archive.tile(6, 0, 0, &status));
    EXPECT_EQ(status, PackTileStatus::absent);
}

std::vector<std::uint8_t> read_all(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
void write_all_bytes(const std::filesystem::path& p, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TEST(Pmtiles, TileIdsHeaderAndDirectoryRoundTrip) {
    EXPECT_EQ(tile_id(0, 0, 0), 0u);
    EXPECT_EQ(tile_id(1, 0, 0), 1u);
    EXPECT_EQ(tile_id(1, 0, 1), 2u);
    EXPECT_EQ(tile_id(1, 1, 1), 3u);
    EXPECT_EQ(tile_id(1, 1, 0), 4u);
    EXPECT_EQ(tile_id(2, 0, 0), 5u);
    EXPECT_FALSE(tile_id(32, 0, 0));
    EXPECT_FALSE(tile_id(3, 8, 0));
    for (const TileAddress a : {TileAddress{12, 3423, 1763}, TileAddress{31, 0x7fffffff, 0}, TileAddress{31, 12345, 0x7ffffffe}})
        EXPECT_EQ(tile_address(*tile_id(a.z, a.x, a.y)), a);
    EXPECT_FALSE(tile_address(~std::uint64_t(0)));

    Header h;
    h.root_offset = 127, h.root_length = 10, h.data_offset = 137, h.data_length = 5, h.tile_type = TileType::png;
    h.internal_compression = Compression::zstd, h.tile_compression = Compression::none, h.max_zoom = 14;
    h.min_lon_e7 = -1800000000, h.center_lat_e7 = 515000000, h.clustered = true, h.addressed_tiles = 77;
    std::string error;
    const auto bytes = encode_header(h);
    const auto back = decode_header(bytes, 142, error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(encode_header(*back), bytes);
    EXPECT_FALSE(decode_header(bytes, 141, error));  // the data would end past the archive
    EXPECT_NE(error.find("outside the archive"), std::string::npos);

    const Directory d = {{5, 0, 10, 1}, {6, 10, 4, 3}, {20, 0, 10, 1}, {100, 500, 30, 0}};
    EXPECT_EQ(decode_directory(encode_directory(d), error), d);
    EXPECT_EQ(find_entry(d, 8)->tile_id, 6u);
    EXPECT_EQ(find_entry(d, 9), nullptr);
    EXPECT_EQ(find_entry(d, 4), nullptr);
    EXPECT_EQ(find_entry(d, 1000)->run_length, 0u);  // the leaf that may hold it
}

TEST(Pmtiles, ReadsPeerArchivesInEveryCompression) {
    if (!test::have_tool("python3")) GTEST_SKIP() << "python3 is not installed";
    test::TempDir dir;
    for (const Compression c : kAll) {
        if (!compression_available(c)) continue;
        for (const char* leaves : {"0", "50"}) {
            // Unclustered once: the reader does not depend on the data's order.
            const std::vector<const char*> orders = c == Compression::gzip ? std::vector{"1", "0"} : std::vector{"1"};
            for (const char* clustered : orders) {
                const auto file = dir / (std::string(compression_name(c)) + leaves + clustered + ".pmtiles");
                ASSERT_EQ(test::run_program("python3", {kPeer, "write", file.string(), compression_name(c), leaves, clustered}).status, 0);
                std::string error;
                const auto archive = Archive::open_file(file.string(), error);
                ASSERT_TRUE(archive) << error;
                SCOPED_TRACE(file.filename().string());
                EXPECT_EQ(archive->header().tile_compression, c);
                EXPECT_EQ(archive->header().max_zoom, 5);
                EXPECT_EQ(archive->metadata(error)->substr(0, 15), "{\"name\":\"peer\",");
                expect_tile_set(*archive);
            }
        }
    }
}

TEST(Pmtiles, OurArchivesAreReadByUsAndByThePeer) {
    test::TempDir dir;
    const bool peer = test::have_tool("python3");
    for (const Compression c : kAll) {
        if (!compression_available(c)) continue;
        for (const bool leaves : {false, true}) {
            WriterOptions options;
            options.internal_compression = options.tile_compression = c;
            options.always_leaves = leaves;
            options.leaf_entries = 100;
            options.metadata_json = R"({"name":"ours"})";
            const auto file = dir / (std::string(compression_name(c)) + (leaves ? "-leaves" : "") + ".pmtiles");
            std::string error;
            auto writer = Writer::create(file.string(), options, error);
            ASSERT_TRUE(writer) << error;
            const auto tiles = tile_set();
            for (auto it = tiles.rbegin(); it != tiles.rend(); ++it) {  // any order
                const auto packed = compress(c, std::span(reinterpret_cast<const std::uint8_t*>(it->second.data()), it->second.size()), error);
                ASSERT_TRUE(writer->add_tile(it->first.z, static_cast<int>(it->first.x), static_cast<int>(it->first.y), *packed));
            }
            ASSERT_TRUE(writer->finish(error)) << error;
            EXPECT_EQ(writer->counts().contents, 1171u);  // every "sea" tile once
            EXPECT_EQ(writer->counts().leaves > 0, leaves);
            const auto archive = Archive::open_file(file.string(), error);
            ASSERT_TRUE(archive) << error;
            EXPECT_EQ(*archive->metadata(error), options.metadata_json);
            expect_tile_set(*archive);
            if (peer) {
                const auto checked = test::run_program("python3", {kPeer, "check", file.string()});
                EXPECT_EQ(checked.status, 0) << checked.err;
            }
        }
    }
    // Nothing but the archives is left beside them.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 8 - (compression_available(Compression::brotli) ? 0 : 2) -
                                                                                     (compression_available(Compression::zstd) ? 0 : 2));
}

TEST(Pmtiles, HostileArchivesAreRefused) {
    test::TempDir dir;
    std::string error;
    WriterOptions options;
    options.always_leaves = true;
    options.leaf_entries = 2;
    options.tile_compression = Compression::none;
    auto writer = Writer::create((dir / "good.pmtiles").string(), options, error);
    const std::uint8_t body[] = {1, 2, 3};
    for (int x = 0; x < 4; ++x) writer->add_tile(2, x, 0, std::span<const std::uint8_t>(body, 3 - x % 2));
    ASSERT_TRUE(writer->finish(error)) << error;
    const auto good = read_all(dir / "good.pmtiles");
    std::string why;
    const Header h = *decode_header(good, good.size(), why);

    auto refused = [&](const std::vector<std::uint8_t>& bytes, const std::string& expected) {
        write_all_bytes(dir / "bad.pmtiles", bytes);
        std::string e;
        EXPECT_FALSE(Archive::open_file((dir / "bad.pmtiles").string(), e));
        EXPECT_NE(e.find(expected), std::string::npos) << e;
    };
    refused(std::vector<std::uint8_t>(good.begin(), good.begin() + 100), "too short");
    auto past = good;
    past[8 + 8] = 0xff;  // root length far past the end
    refused(past, "outside the archive");
    auto zoom = good;
    zoom[101] = 32;
    refused(zoom, "not within 0-31");
    auto webp = good;
    webp[99] = 4;
    refused(webp, "webp tiles are not supported");

    // A root that gunzips to more than the directory bound.
    {
        std::vector<std::uint8_t> zeros(kDirectoryBytesLimit + 1);
        const auto bomb = *compress(Compression::gzip, zeros, error);
        Header b = h;
        b.root_length = bomb.size();
        b.metadata_offset = b.leaf_offset = b.data_offset = kHeaderSize + bomb.size();
        b.metadata_length = b.leaf_length = b.data_length = 0;
        const auto head = encode_header(b);
        std::vector<std::uint8_t> bytes(head.begin(), head.end());
        bytes.insert(bytes.end(), bomb.begin(), bomb.end());
        refused(bytes, "decompresses to more than");
    }
    // A leaf pointing at itself: the lookup stops at the depth bound with an error.
    {
        auto self_leaf = [&](std::size_t length) {
            return *compress(Compression::gzip, encode_directory({{0, 0, static_cast<std::uint32_t>(length), 0}}), error);
        };
        auto leaf_bytes = self_leaf(1);
        for (int i = 0; i < 10 && self_leaf(leaf_bytes.size()).size() != leaf_bytes.size(); ++i)
            leaf_bytes = self_leaf(leaf_bytes.size());
        leaf_bytes = self_leaf(leaf_bytes.size());  // its length names itself
        const auto root = *compress(Compression::gzip, encode_directory({{0, 0, static_cast<std::uint32_t>(leaf_bytes.size()), 0}}), error);
        Header c = h;
        c.root_length = root.size();
        c.metadata_offset = kHeaderSize + root.size(), c.metadata_length = 0;
        c.leaf_offset = c.metadata_offset, c.leaf_length = leaf_bytes.size();
        c.data_offset = c.leaf_offset + c.leaf_length, c.data_length = 0;
        const auto head = encode_header(c);
        std::vector<std::uint8_t> bytes(head.begin(), head.end());
        bytes.insert(bytes.end(), root.begin(), root.end());
        bytes.insert(bytes.end(), leaf_bytes.begin(), leaf_bytes.end());
        write_all_bytes(dir / "cycle.pmtiles", bytes);
        const auto archive = Archive::open_file((dir / "cycle.pmtiles").string(), error);
        ASSERT_TRUE(archive) << error;
        PackTileStatus status;
        EXPECT_FALSE(archive->tile(0, 0, 0, &status, &error));
        EXPECT_EQ(status, PackTileStatus::unreadable);
        EXPECT_TRUE(error.find("nest deeper") != std::string::npos || error.find("leaf directory") != std::string::npos) << error;
    }
    // A truncated archive: its tile data ends past the file.
    {
        auto cut = good;
        cut.resize(cut.size() - 1);
        write_all_bytes(dir / "cut.pmtiles", cut);
        refused(cut, "outside the archive");
    }
    // Directory bytes that do not decode.
    EXPECT_FALSE(decode_directory(std::vector<std::uint8_t>{0xff, 0xff, 0xff, 0x7f}, error));
    EXPECT_FALSE(decode_directory(std::vector<std::uint8_t>{2, 1, 0, 1, 1, 1, 1, 1, 0}, error));  // ids not increasing
    EXPECT_FALSE(decode_directory(std::vector<std::uint8_t>{1, 1, 1, 0, 1}, error));               // length 0
    EXPECT_FALSE(decode_directory(std::vector<std::uint8_t>{1, 1, 1, 1, 1, 9}, error));            // bytes left over
}

}  // namespace
}  // namespace vg::pmtiles
