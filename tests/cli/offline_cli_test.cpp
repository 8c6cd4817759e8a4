// `vortool gpx` and `vortool pack` as real processes: a track log exported and checked by xmllint
// against the GPX 1.1 schema, a pack made by sqlite3 described, a region extracted from a PMTiles
// file, and bad input refused.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "support/map_pack.h"
#include "tiles/local_source.h"
#include "tiles/mbtiles.h"
#include "tiles/pmtiles_file.h"
#include "tiles/pmtiles_writer.h"
#include "tiles/tile_naming.h"
#include "track/gpx.h"
#include "track/trip_stats.h"
#include "support/run_program.h"
#include "support/test_paths.h"

namespace {

using ShellRun = vg::test::RunResult;
using vg::test::run_shell;

std::string vortool(const std::string& args) { return vg::test::vortool_path().string() + " " + args; }

// The files beside `file` whose names begin with its name and ".part": an export's temporary files.
int temporary_files_of(const std::string& file) {
    const std::filesystem::path path(file);
    const std::string prefix = path.filename().string() + ".part";
    int count = 0;
    for (const auto& e : std::filesystem::directory_iterator(path.parent_path()))
        count += e.path().filename().string().rfind(prefix, 0) == 0;
    return count;
}

TEST(OfflineCli, GpxExportValidatesAndKeepsTheLog) {
    vg::test::TempDir dir;
    const std::string log = "60.169800 24.938400 - Mon Jul  6 14:00:00 2026\n"
                            "60.170000 24.939000 - Mon Jul  6 14:00:05 2026\n";
    vg::test::write_file(dir / "track.txt", log);
    const std::string out = (dir / "out.gpx").string();
    ShellRun r = run_shell("TZ=UTC " + vortool("gpx '" + (dir / "track.txt").string() + "'") + " > '" + out + "'");
    ASSERT_EQ(r.status, 0);
    const std::string xsd = (vg::test::shared_testdata() / "gpx/gpx11.xsd").string();
    r = run_shell("xmllint --noout --nonet --schema '" + xsd + "' '" + out + "' 2>&1");
    EXPECT_EQ(r.status, 0) << r.out;
    const std::string gpx = vg::test::read_file(out);
    EXPECT_NE(gpx.find("<name>track</name>"), std::string::npos);
    EXPECT_NE(gpx.find("<time>2026-07-06T14:00:05Z</time>"), std::string::npos) << gpx;
    EXPECT_EQ(vg::test::read_file(dir / "track.txt"), log);  // the log itself is never touched

    EXPECT_EQ(run_shell(vortool("gpx '" + (dir / "missing.txt").string() + "' 2>/dev/null")).status, 1);
    EXPECT_EQ(run_shell(vortool("gpx 2>/dev/null")).status, 2);
}

TEST(OfflineCli, StatsOfAGpxFileATrackLogAndBadFiles) {
    vg::test::TempDir dir;
    // A real receiver's drive (gpsd's bt451 capture through GPSBabel): the same figures as the library.
    const std::string gpx = (vg::test::shared_testdata() / "gpx/receivers/bt451.gpx").string();
    ShellRun r = run_shell(vortool("stats '" + gpx + "'"));
    ASSERT_EQ(r.status, 0);
    vg::GpxData data;
    std::string error;
    ASSERT_TRUE(vg::read_gpx(vg::test::read_file(gpx), data, error));
    EXPECT_EQ(r.out, vg::trip_figures_json(vg::trip_figures(data)) + "\n");
    EXPECT_NE(r.out.find("\"points\":12}"), std::string::npos) << r.out;

    // A track log: times, no heights.
    vg::test::write_file(dir / "track.txt", "60.169800 24.938400 - Mon Jul  6 14:00:00 2026\n"
                                            "60.170000 24.939000 - Mon Jul  6 14:00:05 2026\n");
    r = run_shell("TZ=UTC " + vortool("stats '" + (dir / "track.txt").string() + "'"));
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.out.substr(0, 20), "{\"distance_m\":40.1,\"") << r.out;
    EXPECT_NE(r.out.find("\"total_s\":5.0,"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"ascent_m\":null,"), std::string::npos) << r.out;

    // An empty file is an empty track; a damaged GPX file, a missing one and a folder without elevation
    // data are refused.
    vg::test::write_file(dir / "empty.txt", "");
    r = run_shell(vortool("stats '" + (dir / "empty.txt").string() + "'"));
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("\"moving_s\":null,"), std::string::npos) << r.out;
    vg::test::write_file(dir / "bad.gpx", "<gpx><trk><trkseg><trkpt lat=\"1\"");
    r = run_shell(vortool("stats '" + (dir / "bad.gpx").string() + "' 2>&1"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("bad.gpx"), std::string::npos) << r.out;
    EXPECT_EQ(run_shell(vortool("stats '" + (dir / "missing.gpx").string() + "' 2>/dev/null")).status, 1);
    EXPECT_EQ(run_shell(vortool("stats --dem '" + dir.path().string() + "' '" + gpx + "' 2>/dev/null")).status, 1);
    EXPECT_EQ(run_shell(vortool("stats 2>/dev/null")).status, 2);
}

TEST(OfflineCli, PackInfoDescribesAPackAndRefusesADamagedOne) {
    vg::test::TempDir dir;
    const auto png = vg::test::shared_testdata() / "images/bench/map256-rgb.png";
    ASSERT_TRUE(vg::test::make_pack(dir / "lake.mbtiles",
                                    {{"name", "Lakeland"}, {"format", "png"}, {"attribution", "Survey"},
                                     {"minzoom", "4"}, {"maxzoom", "7"}, {"bounds", "20,59,26,61"}},
                                    {{4, 9, 11, png}, {7, 70, 87, png}, {7, 71, 87, png}}));
    ShellRun r = run_shell(vortool("pack info '" + (dir / "lake.mbtiles").string() + "'"));
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "name: Lakeland\nformat: png\nscheme: tms\nzooms: 4-7\n"
              "bounds: 20.000000,59.000000,26.000000,61.000000\nattribution: Survey\n"
              "tiles at zoom 4: 1\ntiles at zoom 7: 2\n");
    vg::test::write_file(dir / "bad.mbtiles", "SQLite format 3" + std::string(2000, 'x'));
    r = run_shell(vortool("pack info '" + (dir / "bad.mbtiles").string() + "' 2>&1"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("bad.mbtiles\": not a map pack"), std::string::npos) << r.out;
    // A pack whose tiles are an endless view is refused at once, with the reason.
    ASSERT_TRUE(vg::test::run_sqlite(dir / "endless.mbtiles", vg::test::endless_pack_sql(false)));
    r = run_shell(vortool("pack info '" + (dir / "endless.mbtiles").string() + "' 2>&1"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("endless.mbtiles\": not a map pack (tiles: a view that never ends"), std::string::npos) << r.out;
    // Metadata is printed with its control characters (an OSC title change, a bell, CSI as C1, bytes
    // that are not UTF-8) as \xNN; other UTF-8 text stays.
    ASSERT_TRUE(vg::test::make_pack(dir / "loud.mbtiles",
                                    {{"name", "Lake\x1b]0;pwned\x07"}, {"format", "png"},
                                     {"attribution", "\xc2\xa9 Survey\xc2\x9b" "2J\xff"},
                                     {"description", "one\rtwo\nlines\x7f"}},
                                    {{4, 9, 11, png}}));
    r = run_shell(vortool("pack info '" + (dir / "loud.mbtiles").string() + "'"));
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "name: Lake\\x1b]0;pwned\\x07\nformat: png\nscheme: tms\nattribution: \xc2\xa9 Survey\\xc2\\x9b2J\\xff\n"
              "description: one\\x0dtwo\\x0alines\\x7f\ntiles at zoom 4: 1\n");
}

TEST(OfflineCli, PackInfoDescribesAPmtilesArchive) {
    vg::test::TempDir dir;
    vg::pmtiles::WriterOptions options;
    options.metadata_json = R"({"vector_layers":[{"id":"roads","fields":{"kind":"String"}},{"id":"earth"},{"id":"places"}]})";
    std::string error;
    auto writer = vg::pmtiles::Writer::create((dir / "a.pmtiles").string(), options, error);
    const std::vector<std::uint8_t> tile = *vg::compress(vg::Compression::gzip, std::vector<std::uint8_t>{0x1a, 0}, error);
    ASSERT_TRUE(writer->add_tile(2, 1, 1, tile) && writer->add_tile(2, 2, 1, tile) && writer->finish(error)) << error;
    ShellRun r = run_shell(vortool("pack info '" + (dir / "a.pmtiles").string() + "'"));
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "type: pmtiles\ntile type: mvt\ntile compression: gzip\ninternal compression: gzip\nzooms: 2-2\n"
              "bounds: -90.000000,0.000000,90.000000,66.513260\ncenter: 0.000000,33.256630 zoom 2\n"
              "tiles: 2 (entries 2, distinct 1)\nclustered: yes\nlayer: roads: kind\nlayer: earth\nlayer: places\n"
              "schema: protomaps\n");
    auto bytes = vg::test::read_file(dir / "a.pmtiles");
    bytes[99] = 4;  // webp
    vg::test::write_file(dir / "w.pmtiles", bytes);
    r = run_shell(vortool("pack info '" + (dir / "w.pmtiles").string() + "' 2>&1"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("w.pmtiles\": webp tiles are not supported"), std::string::npos) << r.out;
}

TEST(OfflineCli, PackExportWritesTheCachedTilesOfAnAreaAndNothingElse) {
    vg::test::TempDir dir;
    const std::string root = (dir / "Maps").string();
    const std::string out = (dir / "helsinki.mbtiles").string();
    // The Atlas is drawn into the cache by fetch, with no network.
    for (const char* level : {"0", "1"}) {
        ShellRun r = run_shell(vortool("fetch --root '" + root + "' --source Atlas --level " + level +
                                   " --lat 60.17 --lon 24.94"));
        ASSERT_EQ(r.status, 0);
        EXPECT_EQ(r.out.find("\"ok\":false"), std::string::npos) << r.out;
    }
    ShellRun r = run_shell(vortool("pack export --source Atlas --bounds 20,58,30,62 --levels 0-2 --root '" + root + "' '" +
                               out + "'"));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "level 0: 2 tiles\nlevel 1: 4 tiles\nlevel 2: 0 tiles\n");
    std::string error;
    const auto pack = vg::MbtilesPack::open(out, error);
    ASSERT_TRUE(pack) << error;
    EXPECT_EQ(pack->info().name, "Atlas");
    EXPECT_EQ(pack->info().format, "png");
    EXPECT_EQ(pack->info().scheme, "tms");
    // Helsinki's tile at web zoom 4 is column 9, row 4 (from the north); the pack holds the cached bytes.
    const vg::CatalogueEntry atlas = vg::atlas_entry();
    const auto cached = vg::catalogue_tile_paths(atlas, vg::catalogue_tile_key(atlas, 9 * 256, 4 * 256, 0), root);
    const auto tile = pack->read_tile(4, 9, 4);
    ASSERT_TRUE(tile);
    EXPECT_EQ(std::string(tile->begin(), tile->end()), vg::test::read_file(cached.full_path));
    EXPECT_EQ(temporary_files_of(out), 0);

    // Refused: a source whose policy forbids archives, an area with nothing cached, bad arguments.
    const std::string other = (dir / "other.mbtiles").string();
    r = run_shell(vortool("pack export --source OpenStreetMap --bounds 20,58,30,62 --levels 0-4 --root '" + root + "' '" +
                      other + "' 2>&1"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("forbids offline archives"), std::string::npos) << r.out;
    r = run_shell(vortool("pack export --source Atlas --bounds -60,-40,-50,-30 --levels 0-3 --root '" + root + "' '" +
                      other + "' 2>&1"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("no cached tiles"), std::string::npos) << r.out;
    for (const std::string args : {"--bounds 20,58,30 --levels 0-1", "--bounds 30,58,30,62 --levels 0-1",
                                   "--bounds 20,62,30,58 --levels 0-1", "--bounds 20,58,30,62 --levels 3-1",
                                   "--bounds 20,58,30,62 --levels 0-5"})
        EXPECT_EQ(run_shell(vortool("pack export --source Atlas " + args + " --root '" + root + "' '" + other +
                                "' 2>/dev/null")).status, 2) << args;
    EXPECT_FALSE(std::filesystem::exists(other));
    EXPECT_EQ(temporary_files_of(other), 0);
}

TEST(OfflineCli, PackExtractCopiesARegionOfAnArchiveAndRefusesNobulkSources) {
    vg::test::TempDir temp;
    const auto dir = temp.path();
    const std::string world = (dir / "world.pmtiles").string(), out = (dir / "north.pmtiles").string();
    vg::pmtiles::WriterOptions options;
    options.tile_type = vg::pmtiles::TileType::png;
    options.tile_compression = vg::Compression::none;
    std::string error;
    auto writer = vg::pmtiles::Writer::create(world, options, error);
    ASSERT_TRUE(writer) << error;
    for (int z = 0; z <= 3; ++z)
        for (int y = 0; y < (1 << z); ++y)
            for (int x = 0; x < (1 << z); ++x) {
                const std::string t = "tile " + std::to_string(z) + "/" + std::to_string(x) + "/" + std::to_string(y);
                ASSERT_TRUE(writer->add_tile(z, x, y, {reinterpret_cast<const std::uint8_t*>(t.data()), t.size()}));
            }
    ASSERT_TRUE(writer->finish(error)) << error;
    ShellRun r = run_shell("cd '" + dir.string() + "' && " +
                           vortool("pack extract --from world.pmtiles --bounds 20,58,30,62 --zooms 2-3 north.pmtiles 2>&1"));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("2 tiles, 0.0 MB to fetch"), std::string::npos) << r.out;
    const auto archive = vg::pmtiles::Archive::open_file(out, error);
    ASSERT_TRUE(archive) << error;
    const auto tile = archive->tile(3, 4, 2);  // Helsinki at zoom 3
    ASSERT_TRUE(tile);
    EXPECT_EQ(std::string(tile->begin(), tile->end()), "tile 3/4/2");
    EXPECT_FALSE(archive->tile(3, 0, 0));
    EXPECT_EQ(temporary_files_of(out), 0);

    r = run_shell("cd '" + dir.string() + "' && " +
                  vortool("pack extract --from OpenStreetMap --bounds 20,58,30,62 --zooms 2-3 osm.pmtiles 2>&1"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("forbids downloading regions (nobulk)"), std::string::npos) << r.out;
    EXPECT_EQ(run_shell(vortool("pack extract --from '" + world + "' --bounds 20,58,30,62 --zooms 3-32 x.pmtiles")).status, 2);
}

}  // namespace
