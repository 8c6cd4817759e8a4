// Map packs made by the sqlite3 command: row schemes, formats, missing tiles, and the packs that must
// be refused with a message naming the file.
#include "tiles/mbtiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "net/transfer_limits.h"
#include "support/map_pack.h"
#include "support/test_paths.h"
#include "tiles/cache_sweep.h"
#include "tiles/local_source.h"

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
    namespace fs = std::filesystem;
    fs::permissions(dir / "ro.mbtiles", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const auto before = std::filesystem::last_write_time(dir / "ro.mbtiles");
    std::string error;
    {
        const auto pack = MbtilesPack::open((dir / "ro.mbtiles").string(), error);
        ASSERT_TRUE(pack) << error;
        EXPECT_TRUE(pack->read_tile(4, 1, 13));
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);  // no journal, no -wal
    EXPECT_EQ(std::filesystem::last_write_time(dir / "ro.mbtiles"), before);
    // A name with characters that URIs reserve still opens the right file ('?' is not allowed in
    // Windows names).
#ifdef _WIN32
    const std::string odd = "odd #%name.mbtiles";
#else
    const std::string odd = "odd ?#%name.mbtiles";
#endif
    std::filesystem::copy_file(dir / "ro.mbtiles", dir / odd);
    EXPECT_TRUE(MbtilesPack::open((dir / odd).string(), error)) << error;
    // Without a name the file's own name stands in.
    ASSERT_TRUE(test::make_pack(dir / "Nameless.mbtiles", {{"format", "png"}}, {}));
    const auto nameless = MbtilesPack::open((dir / "Nameless.mbtiles").string(), error);
    ASSERT_TRUE(nameless) << error;
    EXPECT_EQ(nameless->info().name, "Nameless");
    // Windows deletes no read-only file: the folder's removal needs it writable again.
    fs::permissions(dir / "ro.mbtiles", fs::perms::owner_write, fs::perm_options::add);
    fs::permissions(dir / odd, fs::perms::owner_write, fs::perm_options::add);
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

// Packs made to hang or flood the reader: each is refused (or its tile refused) within a bound of
// work, naming the file and the reason, while a pack whose tiles are an ordinary view (mbutil's
// deduplicated layout) is read.
TEST(MapPack, HostilePacksAreRefusedWithinABound) {
    test::TempDir dir;
    const std::string meta = "CREATE TABLE metadata (name text, value text);\n"
                             "INSERT INTO metadata VALUES ('name', 'H'), ('format', 'png');\n";
    ASSERT_TRUE(test::run_sqlite(dir / "endless-metadata.mbtiles", test::endless_pack_sql(true)));
    ASSERT_TRUE(test::run_sqlite(dir / "endless-tiles.mbtiles", test::endless_pack_sql(false)));
    // Finite but enormous: 10^9 rows from a table of 1000, no index to find one by.
    ASSERT_TRUE(test::run_sqlite(dir / "enormous.mbtiles",
                                 meta + "CREATE TABLE d (n);\n"
                                        "WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM r WHERE n < 1000) "
                                        "INSERT INTO d SELECT n FROM r;\n"
                                        "CREATE VIEW tiles AS SELECT a.n % 20 AS zoom_level, b.n + c.n AS tile_column, "
                                        "a.n * c.n AS tile_row, x'00' AS tile_data FROM d a, d b, d c;\n"));
    struct Case {
        std::string file, why;
    } cases[] = {{"endless-metadata.mbtiles", "metadata is a view, not a table"},
                 {"endless-tiles.mbtiles", "recursive"},
                 {"enormous.mbtiles", "ran over its bound of work"}};
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(MbtilesPack::open((dir / c.file).string(), error)) << c.file;
        EXPECT_NE(error.find(c.file + "\": "), std::string::npos) << error;
        EXPECT_NE(error.find(c.why), std::string::npos) << error;
    }

    // Deduplicated tiles through a view are read; a tile over the tile limit is refused unread and
    // never reaches the cache.
    ASSERT_TRUE(test::run_sqlite(dir / "dedup.mbtiles",
                                 meta + "CREATE TABLE map (zoom_level, tile_column, tile_row, tile_id);\n"
                                        "CREATE UNIQUE INDEX map_index ON map (zoom_level, tile_column, tile_row);\n"
                                        "CREATE TABLE images (tile_id PRIMARY KEY, tile_data);\n"
                                        "INSERT INTO images VALUES (1, readfile(" + ("'" + kPng.string() + "'") + ")), "
                                        "(2, zeroblob(" + std::to_string(kTileBodyLimit + 1) + "));\n"
                                        "INSERT INTO map VALUES (4, 9, 11, 1), (4, 9, 10, 2);\n"
                                        "CREATE VIEW tiles AS SELECT map.zoom_level AS zoom_level, map.tile_column AS "
                                        "tile_column, map.tile_row AS tile_row, images.tile_data AS tile_data FROM map "
                                        "JOIN images ON images.tile_id = map.tile_id;\n"));
    std::string error;
    const auto dedup = MbtilesPack::open((dir / "dedup.mbtiles").string(), error);
    ASSERT_TRUE(dedup) << error;
    // Table names in another case are the same tables to SQLite.
    ASSERT_TRUE(test::run_sqlite(dir / "upper.mbtiles", "CREATE TABLE METADATA (name, value);\n"
                                                        "INSERT INTO METADATA VALUES ('format', 'png');\n"
                                                        "CREATE TABLE Tiles (zoom_level, tile_column, tile_row, tile_data);\n"));
    EXPECT_TRUE(MbtilesPack::open((dir / "upper.mbtiles").string(), error)) << error;
    PackTileStatus status;
    EXPECT_EQ(dedup->read_tile(4, 9, 4, &status), bytes_of(kPng));
    EXPECT_EQ(status, PackTileStatus::found);
    EXPECT_FALSE(dedup->read_tile(4, 9, 5, &status));
    EXPECT_EQ(status, PackTileStatus::too_large);
    EXPECT_FALSE(copy_pack_tile(*dedup, 4, 9, 5, (dir / "big.png").string()));
    EXPECT_FALSE(std::filesystem::exists(dir / "big.png"));
    EXPECT_FALSE(std::filesystem::exists(dir / "big.png.part"));
    EXPECT_EQ(dedup->tile_counts(), (std::vector<long long>{0, 0, 0, 0, 2}));
}

// The packs folder of a cache root: each usable pack becomes a catalogue source after the user lines,
// named so that it can be a folder, and its tiles are copied into the cache on demand.
TEST(MapPack, PacksInTheFolderBecomeSourcesAndFillTheCache) {
    test::TempDir dir;
    const std::filesystem::path packs = packs_folder((dir / "Maps").string());
    std::filesystem::create_directories(packs);
    ASSERT_TRUE(test::make_pack(packs / "a.mbtiles", {{"name", "Lake Land"}, {"format", "png"},
                                                      {"attribution", "<a href=\"x\">© Survey</a>"}},
                                {{7, 70, 87, kPng}}));
    ASSERT_TRUE(test::make_pack(packs / "b.mbtiles", {{"name", "Lake Land"}, {"format", "jpg"}}, {{4, 9, 11, kJpg}}));
    test::write_file(packs / "c.mbtiles", "SQLite format 3" + std::string(3000, '\0'));
    test::write_file(packs / "notes.txt", "not a pack");
    Catalogue catalogue = builtin_catalogue();
    read_sources_text("Mine|map|https://example.org/{z}/{x}/{y}.png||x|\n", catalogue);
    EXPECT_EQ(add_packs(catalogue, packs), 2);
    ASSERT_EQ(catalogue.problems.size(), 1u);
    EXPECT_NE(catalogue.problems[0].find("c.mbtiles\""), std::string::npos) << catalogue.problems[0];
    const CatalogueEntry* a = catalogue.find("Lake_Land", false);
    const CatalogueEntry* b = catalogue.find("b", false);  // the name taken: its file's
    ASSERT_TRUE(a && b);
    EXPECT_EQ(catalogue.find("Mine", false)->menu_id, catalogue_home_id("Mine"));
    EXPECT_EQ(a->menu_id, catalogue_home_id("Lake_Land"));
    EXPECT_EQ(b->menu_id, catalogue_home_id("b"));
    EXPECT_EQ(a->attribution, "© Survey");
    EXPECT_EQ(a->extension(), "png");
    EXPECT_EQ(b->extension(), "jpg");

    // Web tile 7/70/40 (level 1) is in pack a; its neighbour is not.
    std::string slot;
    EXPECT_TRUE(make_offline_tile(slot, 70 * 256 + 5, 40 * 256 + 5, 1, (dir / "Maps").string(), *a));
    EXPECT_EQ(test::read_file(slot), test::read_file(kPng));
    EXPECT_NE(slot.find(test::native("/Lake_Land/")), std::string::npos) << slot;
    EXPECT_FALSE(make_offline_tile(slot, 71 * 256, 40 * 256, 1, (dir / "Maps").string(), *a));
    EXPECT_TRUE(slot.empty());
    EXPECT_FALSE(make_offline_tile(slot, 70 * 256, 40 * 256, 1, (dir / "Maps").string(), *catalogue.find("Mine", false)));
}

// No vor_src.txt line or pack shares another source's cache folder, in any letter case, and none gets
// a folder Windows cannot hold; the built-in sources keep the folders their stored caches are in.
TEST(MapPack, NoSourceWritesIntoAnotherSourcesCacheFolder) {
    test::TempDir dir;
    const std::filesystem::path packs = packs_folder((dir / "Maps").string());
    std::filesystem::create_directories(packs);
    ASSERT_TRUE(test::make_pack(packs / "OS.mbtiles", {{"name", "OS"}, {"format", "png"}}, {{7, 70, 87, kPng}}));
    ASSERT_TRUE(test::make_pack(packs / "p.mbtiles", {{"name", "packs"}, {"format", "png"}}, {}));
    ASSERT_TRUE(test::make_pack(packs / "t.mbtiles", {{"name", "opentopomap"}, {"format", "png"}}, {}));
    ASSERT_TRUE(test::make_pack(packs / "Atlas.mbtiles", {{"name", "Atlas"}, {"format", "png"}}, {}));  // exported
    Catalogue c = builtin_catalogue();
    std::string lines;
    for (const char* name : {"OS", "os", "Gm", "VE", "MQ", "e2", "packs", "atlas", "CON", "nul.x", "Com1", "a.", "a",
                             "~OS", "Atlas"})
        lines += std::string(name) + "|map|https://example.org/{z}/{x}/{y}.png||x|\n";
    lines += "OS|aerial|https://example.org/a/{z}/{x}/{y}.jpg||x|\n";
    read_sources_text(lines, c);
    EXPECT_EQ(add_packs(c, packs), 4);
    EXPECT_EQ(c.find("OS", false)->cache_folder(), "~OS");
    EXPECT_EQ(c.find("OS", true)->cache_folder(), "~OS/aerial");
    EXPECT_EQ(c.find("os", false)->cache_folder(), "~os~2");
    EXPECT_EQ(c.find("CON", false)->cache_folder(), "~CON");
    EXPECT_EQ(c.find("a.", false)->cache_folder(), "~a.");
    EXPECT_EQ(c.find("a", false)->cache_folder(), "a");
    EXPECT_EQ(c.find("Atlas", false)->cache_folder(), "Atlas");  // a user line replacing the Atlas keeps its folder
    EXPECT_EQ(c.find("OS-pack", false)->cache_folder(), "OS-pack");        // the pack named OS, in OS.mbtiles
    EXPECT_EQ(c.find("Atlas-pack", false)->cache_folder(), "Atlas-pack");  // not "Atlas-2"
    EXPECT_EQ(c.find("packs", false)->cache_folder(), "~packs");
    EXPECT_EQ(c.find("p", false)->cache_folder(), "p");  // the pack named packs, in p.mbtiles
    EXPECT_EQ(c.find("opentopomap", false)->cache_folder(), "~opentopomap");
    const char* builtins[][2] = {{"Etopo2", "E2"},       {"OpenStreetMap", "OS"}, {"GoogleMaps", "GM"},
                                 {"VirtualEarth", "VE"}, {"MapQuest", "MQ"},      {"OpenTopoMap", "OpenTopoMap"}};
    for (const auto& [name, folder] : builtins) EXPECT_EQ(c.find(name, false)->cache_folder(), folder) << name;
    // Every map layer's folder differs from every other one's as a case-blind file system sees it.
    std::vector<std::string> seen;
    for (const auto& e : c.entries) {
        if (e.aerial) continue;
        std::string key = e.cache_folder();
        while (key.back() == '.') key.pop_back();
        for (char& ch : key) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        EXPECT_EQ(std::count(seen.begin(), seen.end(), key), 0) << e.name << " in " << e.cache_folder();
        seen.push_back(key);
    }
    // The pack's tiles land in its own folder, not in OpenStreetMap's.
    std::string slot;
    ASSERT_TRUE(make_offline_tile(slot, 70 * 256 + 5, 40 * 256 + 5, 1, (dir / "Maps").string(), *c.find("OS-pack", false)));
    EXPECT_NE(slot.find(test::native("/OS-pack/")), std::string::npos) << slot;
    EXPECT_FALSE(std::filesystem::exists(dir / "Maps" / "OS"));
}

// The start-up sweep with the cache root in a home folder ("maps=./home"): only the program's stale
// temporary files in the program's own folders go, including a killed export's and a killed pack
// copy's; a user's look-alikes anywhere, and fresh files, stay.
TEST(MapPack, TheSweepRemovesOnlyTheProgramsOwnStaleFiles) {
    namespace fs = std::filesystem;
    using namespace std::chrono_literals;
    test::TempDir dir;
    Catalogue c = builtin_catalogue();
    read_sources_text("Mine|map|https://example.org/{z}/{x}/{y}.png||x|\n", c);
    const char* stale[] = {
        "vor_set.txt.partAb12Xy",                                      // settings rewrite
        "tcpip.tmp.part4242_7",                                        // the connection check, on Windows
        "home/OS/120000_050000/vor_1_120000_050000.png.partQ1w2E3",   // download
        "home/OS/120000_050000/vor_1_120000_050000.png.meta.partZ9Z9Z9",
        "home/OS@2x/120000_050000/vor_1_120000_050000_q0.png.partAAAAAA",
        "home/E2/etopo_000000_000000.jpg.partabcdef",
        "home/Mine/120000_050000/vor_1_120000_050000.png.part",        // a killed pack copy
        "home/Atlas/faded/vor_0_100000_000000.png.part",               // a killed drawing
        "home/packs/gulf.mbtiles.part",                                 // a killed export (older form)
        "home/packs/lake.mbtiles.partA1b2C3",                           // a killed export
    };
    const char* kept[] = {
        "home/Documents/report.part2final", "home/Videos/holiday.partABC123", "home/notes/notes.1.2.tmp",
        "home/vor_1_120000_050000.png.partQ1w2E3",  // the cache root itself is the user's folder
        "home/OS/report.part2final",                // not a name the program writes there
        "home/packs/notes.txt.part", "report.partABCDEF", "vor_set.txt.part", "home/OS/120000_050000/vor_1_120000_050000.png",
    };
    const auto old = fs::file_time_type::clock::now() - 2h;
    std::vector<const char*> all(std::begin(stale), std::end(stale));
    all.insert(all.end(), std::begin(kept), std::end(kept));
    for (const char* name : all) {
        fs::create_directories((dir / name).parent_path());
        test::write_file(dir / name, "x");
        fs::last_write_time(dir / name, old);
    }
    test::write_file(dir / "home/OS/vor_0_100000_000000.png.partFresh1", "being written");
    const auto places = temporary_file_places(c, (dir / "home").string(), dir.path());
    EXPECT_EQ(remove_stale_temporary_files(places, kStaleTempAge), std::size(stale));
    for (const char* name : stale) EXPECT_FALSE(fs::exists(dir / name)) << name;
    for (const char* name : kept) EXPECT_TRUE(fs::exists(dir / name)) << name;
    EXPECT_TRUE(fs::exists(dir / "home/OS/vor_0_100000_000000.png.partFresh1"));

    // An export removes its own target's stale temporary files first, and nothing else.
    test::write_file(dir / "out.mbtiles.partOld123", "x");
    fs::last_write_time(dir / "out.mbtiles.partOld123", old);
    test::write_file(dir / "out.mbtiles.part", "the user's");
    fs::last_write_time(dir / "out.mbtiles.part", old);
    std::string error;
    auto writer = MbtilesWriter::create((dir / "out.mbtiles").string(), error);
    ASSERT_TRUE(writer) << error;
    EXPECT_FALSE(fs::exists(dir / "out.mbtiles.partOld123"));
    EXPECT_TRUE(fs::exists(dir / "out.mbtiles.part"));
}

TEST(MapPack, AnUnfinishedExportLeavesNothingBehind) {
    test::TempDir dir;
    std::string error;
    EXPECT_FALSE(MbtilesWriter::create((dir / "no/such/dir/x.mbtiles").string(), error));
    EXPECT_NE(error.find("x.mbtiles\": cannot be written"), std::string::npos) << error;
    {
        auto writer = MbtilesWriter::create((dir / "x.mbtiles").string(), error);
        ASSERT_TRUE(writer) << error;
        EXPECT_TRUE(writer->add_tile(7, 70, 40, bytes_of(kPng)));
        EXPECT_FALSE(writer->add_tile(7, 128, 40, bytes_of(kPng)));  // outside the world
    }  // dropped without finish()
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    auto writer = MbtilesWriter::create((dir / "x.mbtiles").string(), error);
    ASSERT_TRUE(writer);
    EXPECT_TRUE(writer->add_metadata("name", "Out") && writer->add_metadata("format", "png"));
    EXPECT_TRUE(writer->add_tile(7, 70, 40, bytes_of(kPng)));
    ASSERT_TRUE(writer->finish(error)) << error;
    // Flushed and renamed into place: the one file left is the finished pack.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    const auto pack = MbtilesPack::open((dir / "x.mbtiles").string(), error);
    ASSERT_TRUE(pack) << error;
    EXPECT_EQ(pack->read_tile(7, 70, 40), bytes_of(kPng));
    EXPECT_EQ(pack->tile_counts()->at(7), 1);
    // Read by the sqlite3 command too: stored as TMS row 87.
    EXPECT_TRUE(test::run_sqlite(dir / "x.mbtiles", "SELECT CASE WHEN count(*) = 1 THEN 1 ELSE abs(-9223372036854775808) END "
                                                        "FROM tiles WHERE tile_row = 87;"));
}

}  // namespace
}  // namespace vg
