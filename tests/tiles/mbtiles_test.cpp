// Map packs made by the sqlite3 command: row schemes, formats, missing tiles, and the packs that must
// be refused with a message naming the file.
#include "tiles/mbtiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/map_pack.h"
#include "support/test_paths.h"

namespace vg {
namespace {

using test::PackTile;

const std::filesystem::path kPng = test::shared_testdata() / "images/bench/map256-rgb.png";
const std::filesystem::path kJpg = test::shared_testdata() / "images/bench/photo256-q85.jpg";

std::vector<std::uint8_t> bytes_of(const std::filesystem::path& p) {
    const std::string s = test::read_file(p);
    return {s.begin(), s.end()};
}

TEST(MapPack, RowsFollowTheSchemeAndFormatsAreKept) {
    test::TempDir dir;
    // Web tile 7/70/40 is TMS row 127 - 40 = 87; the xyz pack stores it as row 40.
    ASSERT_TRUE(test::make_pack(dir / "tms.mbtiles",
                                {{"name", "Lakeland"}, {"format", "png"}, {"attribution", "© Survey"},
                                 {"minzoom", "4"}, {"maxzoom", "7"}, {"bounds", "20.5,59.8,25.25,61.0"}},
                                {{7, 70, 87, kPng}, {4, 9, 11, kJpg}}));
    ASSERT_TRUE(test::make_pack(dir / "xyz.mbtiles", {{"name", "Photos"}, {"format", "jpg"}, {"scheme", "xyz"}},
                                {{7, 70, 40, kJpg}}));
    std::string error;
    const auto tms = MbtilesPack::open((dir / "tms.mbtiles").string(), error);
    ASSERT_TRUE(tms) << error;
    EXPECT_EQ(tms->info().name, "Lakeland");
    EXPECT_EQ(tms->info().attribution, "© Survey");
    EXPECT_EQ(tms->info().scheme, "tms");
    EXPECT_EQ(tms->info().max_zoom, 7);
    EXPECT_TRUE(tms->info().has_bounds);
    EXPECT_DOUBLE_EQ(tms->info().east, 25.25);
    EXPECT_EQ(tms->read_tile(7, 70, 40), bytes_of(kPng));
    EXPECT_EQ(tms->read_tile(4, 9, 4), bytes_of(kJpg));
    EXPECT_FALSE(tms->read_tile(7, 70, 87));  // that row is empty in web order
    EXPECT_EQ(tms->tile_counts(), (std::vector<long long>{0, 0, 0, 0, 1, 0, 0, 1}));

    const auto xyz = MbtilesPack::open((dir / "xyz.mbtiles").string(), error);
    ASSERT_TRUE(xyz) << error;
    EXPECT_EQ(xyz->info().format, "jpg");
    EXPECT_EQ(pack_tile_extension(xyz->info()), std::string("jpg"));
    EXPECT_EQ(xyz->read_tile(7, 70, 40), bytes_of(kJpg));
    // Missing tiles and impossible addresses are simply absent.
    for (auto [z, x, y] : {std::tuple{7, 71, 40}, {7, -1, 0}, {7, 0, 128}, {-1, 0, 0}, {31, 0, 0}})
        EXPECT_FALSE(xyz->read_tile(z, x, y)) << z << "/" << x << "/" << y;
}

TEST(MapPack, OpeningNeverWritesBesideThePack) {
    test::TempDir dir;
    ASSERT_TRUE(test::make_pack(dir / "ro.mbtiles", {{"name", "RO"}, {"format", "png"}}, {{4, 1, 2, kPng}}));
    ASSERT_EQ(::chmod((dir / "ro.mbtiles").c_str(), 0444), 0);
    const auto before = std::filesystem::last_write_time(dir / "ro.mbtiles");
    std::string error;
    {
        const auto pack = MbtilesPack::open((dir / "ro.mbtiles").string(), error);
        ASSERT_TRUE(pack) << error;
        EXPECT_TRUE(pack->read_tile(4, 1, 13));
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);  // no journal, no -wal
    EXPECT_EQ(std::filesystem::last_write_time(dir / "ro.mbtiles"), before);
    // A name with characters that URIs reserve still opens the right file.
    std::filesystem::copy_file(dir / "ro.mbtiles", dir / "odd ?#%name.mbtiles");
    EXPECT_TRUE(MbtilesPack::open((dir / "odd ?#%name.mbtiles").string(), error)) << error;
    // Without a name the file's own name stands in.
    ASSERT_TRUE(test::make_pack(dir / "Nameless.mbtiles", {{"format", "png"}}, {}));
    const auto nameless = MbtilesPack::open((dir / "Nameless.mbtiles").string(), error);
    ASSERT_TRUE(nameless) << error;
    EXPECT_EQ(nameless->info().name, "Nameless");
}

TEST(MapPack, BadPacksAreRefusedNamingTheFile) {
    test::TempDir dir;
    const std::string damaged = (dir / "damaged.mbtiles").string();
    test::write_file(damaged, "SQLite format 3" + std::string(4000, '\x5a'));
    const std::string text = (dir / "notes.mbtiles").string();
    test::write_file(text, "just some text\n");
    ASSERT_TRUE(test::make_pack(dir / "vector.mbtiles", {{"name", "Vec"}, {"format", "pbf"}, {"json", "{}"}}, {}));
    ASSERT_TRUE(test::make_pack(dir / "webp.mbtiles", {{"name", "W"}, {"format", "webp"}}, {}));
    ASSERT_TRUE(test::make_pack(dir / "odd.mbtiles", {{"name", "O"}, {"format", "png"}, {"scheme", "quad"}}, {}));
    ASSERT_TRUE(test::make_pack(dir / "sniffed.mbtiles", {{"name", "S"}}, {{4, 0, 0, kJpg}}));
    ASSERT_TRUE(test::run_sqlite(dir / "other.mbtiles", "CREATE TABLE t (a);"));
    ASSERT_TRUE(test::run_sqlite(dir / "notiles.mbtiles", "CREATE TABLE metadata (name text, value text);"));
    struct Case {
        std::string file, why;
    } cases[] = {{damaged, "not a map pack"},  {text, "not a map pack"},
                 {(dir / "vector.mbtiles").string(), "vector tiles"},
                 {(dir / "webp.mbtiles").string(), "WebP"},
                 {(dir / "odd.mbtiles").string(), "unknown tile scheme"},
                 {(dir / "other.mbtiles").string(), "no metadata table"},
                 {(dir / "notiles.mbtiles").string(), "no tiles table"},
                 {(dir / "missing.mbtiles").string(), "no such map pack file"},
                 {dir.path().string(), "no such map pack file"}};
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(MbtilesPack::open(c.file, error)) << c.file;
        EXPECT_NE(error.find("\"" + c.file + "\""), std::string::npos) << error;
        EXPECT_NE(error.find(c.why), std::string::npos) << error;
    }
    std::string error;
    const auto sniffed = MbtilesPack::open((dir / "sniffed.mbtiles").string(), error);
    ASSERT_TRUE(sniffed) << error;
    EXPECT_EQ(sniffed->info().format, "jpg");
}

}  // namespace
}  // namespace vg
