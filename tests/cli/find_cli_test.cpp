// `vortool find` as a real process over the test town's pack in a packs folder: the index made once
// beside the pack (again when the pack changes), names and typed positions as JSON lines, and clear
// exit statuses.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/run_program.h"
#include "support/test_paths.h"
#include "support/vector_town.h"

namespace {

vg::test::RunResult run_find(const std::string& args, const vg::test::TempDir& dir) {
    return vg::test::run_shell("cd '" + dir.path().string() + "' && " + vg::test::vortool_path().string() + " " + args);
}

TEST(FindCli, NamesFromThePacksIndexAndTypedPositions) {
    VG_TOWN_MBTILES(town);
    vg::test::TempDir dir;
    std::filesystem::create_directories(dir / "Maps" / "packs");
    std::filesystem::copy_file(town, dir / "Maps" / "packs" / "town.mbtiles");

    auto r = run_find("find 'улица мира' --near 47.5,10 --root Maps 2>err", dir);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.rfind("{\"name\":\"Улица Мира\",\"kind\":\"transportation_name/minor\",\"lat\":47.5", 0), 0U) << r.out;
    EXPECT_NE(r.out.find(",\"pack\":\"town.mbtiles\",\"also\":[]}\n"), std::string::npos) << r.out;
    EXPECT_EQ(vg::test::read_file(dir / "err"), "vortool find: indexing town.mbtiles (2 tiles)\n");
    EXPECT_TRUE(std::filesystem::exists(dir / "Maps" / "packs" / "town.mbtiles.search.sqlite"));

    // Made once: the next search reads the index only.
    r = run_find("find lakef --root Maps --limit 1 2>err", dir);
    EXPECT_EQ(r.out.rfind("{\"name\":\"Lakeford\",\"kind\":\"place/town\",", 0), 0U) << r.out;
    EXPECT_NE(r.out.find("\"distance_m\":null"), std::string::npos);
    EXPECT_EQ(vg::test::read_file(dir / "err"), "");
    // A changed pack is indexed again.
    std::filesystem::last_write_time(dir / "Maps" / "packs" / "town.mbtiles",
                                     std::filesystem::file_time_type::clock::now() + std::chrono::seconds(5));
    r = run_find("find 'κατω μυλος' --root Maps 2>err", dir);
    EXPECT_EQ(r.out.rfind("{\"name\":\"Κάτω Μύλος\"", 0), 0U) << r.out;
    EXPECT_EQ(vg::test::read_file(dir / "err"), "vortool find: indexing town.mbtiles (2 tiles)\n");

    r = run_find("find '47 30 10.8 N 10 0 23.4 E' --root Maps", dir);
    EXPECT_EQ(r.out, "{\"name\":\"47 30 10.8 N 10 0 23.4 E\",\"kind\":\"coordinates\",\"lat\":47.503000,"
                     "\"lon\":10.006500,\"distance_m\":null,\"pack\":null,\"also\":[]}\n");
    EXPECT_EQ(run_find("find 'Nowhere Street' --root Maps", dir).status, 1);
    EXPECT_EQ(run_find("find --root Maps 2>/dev/null", dir).status, 2);
    EXPECT_EQ(run_find("find x --near somewhere 2>/dev/null", dir).status, 2);
    EXPECT_EQ(run_find("find x --limit 0 2>/dev/null", dir).status, 2);
}

}  // namespace
