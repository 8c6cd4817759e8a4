// vortool render end to end: a tile cache on disk, the command run as a process, and the written
// picture read back.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <sstream>

#include "support/map_pack.h"
#include "support/pnm.h"
#include "support/run_program.h"
#include "support/test_paths.h"
#include "tiles/geometry.h"
#include "tiles/image_decode.h"
#include "tiles/local_source.h"
#include "tiles/tile_naming.h"

namespace vg {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

using Rgb = std::array<std::uint8_t, 3>;
constexpr Rgb kGrey{192, 192, 192};
constexpr Rgb kYellow{255, 255, 0};
constexpr Rgb kBlack{0, 0, 0};

using test::RunResult;

RunResult render(const TempDir& dir, const std::string& args) {
    const std::string command = vg::test::vortool_path().string() + " render " + args + " >" +
                                (dir / "stdout").string() + " 2>" + (dir / "stderr").string();
    RunResult run;
    const int raw = std::system(command.c_str());
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = test::read_file(dir / "stdout");
    run.err = test::read_file(dir / "stderr");
    return run;
}

// The picture of a written file, whatever its format, as red-green-blue rows.
RgbImage read_picture(const fs::path& path) {
    const std::string bytes = test::read_file(path);
    RgbImage image;
    if (path.extension() == ".png") {
        load_png(path, image);
    } else if (path.extension() == ".ppm") {
        image = test::read_ppm(path);
    } else if (path.extension() == ".bmp" && bytes.size() > 54) {
        auto le32 = [&](std::size_t at) {
            return std::int32_t(std::uint8_t(bytes[at]) | std::uint8_t(bytes[at + 1]) << 8 |
                                std::uint8_t(bytes[at + 2]) << 16 | std::uint32_t(std::uint8_t(bytes[at + 3])) << 24);
        };
        image.width = le32(18);
        image.height = -le32(22);  // top-down
        const std::size_t stride = (std::size_t(image.width) * 3 + 3) & ~std::size_t(3);
        for (int y = 0; y < image.height; ++y)
            for (int x = 0; x < image.width; ++x) {
                const char* p = bytes.data() + le32(10) + y * stride + x * 3;
                image.pixels.insert(image.pixels.end(), {std::uint8_t(p[2]), std::uint8_t(p[1]), std::uint8_t(p[0])});
            }
    }
    return image;
}

Rgb at(const RgbImage& image, int x, int y) {
    const std::uint8_t* p = image.pixels.data() + (std::size_t(y) * image.width + x) * 3;
    return {p[0], p[1], p[2]};
}

// Where the command says the marker went: "... marker C R".
std::pair<int, int> marker_of(const std::string& out) {
    std::istringstream in(out.substr(out.find("marker ") + 7));
    int c = -1, r = -1;
    in >> c >> r;
    return {c, r};
}

// Expected marker pixel for a position, from the tile geometry.
std::pair<int, int> expected_marker(double lat, double lon, MapSource source, int level, int side) {
    const WorldPixel p = geo_to_pixel(lat, lon, source, level);
    const int cx = wrap_centre_x(p.x, level, source), cy = clamp_centre_y(p.y, level, source);
    const int row = rows_run_north(source) ? cy - p.y + side / 2 : p.y - cy + side / 2;
    return {p.x - cx + side / 2, row};
}

TEST(RenderCli, EmptyCacheGivesTheGreyViewWithMarkerAndCrossHair) {
    TempDir dir;
    struct Case {
        const char* source;
        MapSource id;
        int level;
    };
    for (const Case& c : {Case{"OpenStreetMap", MapSource::OpenStreetMap, 2}, Case{"mapquest", MapSource::MapQuest, 3}}) {
        SCOPED_TRACE(c.source);
        const RunResult run = render(dir, "--root " + (dir / "Maps").string() + " --source " + c.source + " --level " +
                                        std::to_string(c.level) + " --lat 48.8566 --lon 2.3522 --out " +
                                        (dir / "view.ppm").string());
        ASSERT_EQ(run.status, 0) << run.err;
        const RgbImage view = read_picture(dir / "view.ppm");
        ASSERT_EQ(view.width, 512);
        ASSERT_EQ(view.height, 512);
        const auto [col, row] = marker_of(run.out);
        EXPECT_EQ(std::pair(col, row), expected_marker(48.8566, 2.3522, c.id, c.level, 512));
        ASSERT_TRUE(col >= 10 && col < 502 && row >= 10 && row < 502) << run.out;
        EXPECT_EQ(at(view, col, row), kBlack);          // marker centre
        EXPECT_EQ(at(view, col - 3, row - 3), kYellow);  // marker disc
        EXPECT_EQ(at(view, col, row < 256 ? 511 : 0), kBlack);  // one-pixel cross-hair
        EXPECT_EQ(at(view, col + 1, row < 256 ? 511 : 0), kGrey);
        EXPECT_EQ(at(view, col < 256 ? 511 : 0, row), kBlack);
        EXPECT_EQ(at(view, col < 256 ? 511 : 0, row + 7), kGrey);
    }
}

TEST(RenderCli, CachedTilesAreDrawnAndUndecodableOnesDeleted) {
    TempDir dir;
    const std::string root = (dir / "Maps").string();
    const double lat = 51.5, lon = -0.12;
    const int level = 2;
    const MapSource source = MapSource::OpenStreetMap;
    const WorldPixel p = geo_to_pixel(lat, lon, source, level);
    const int cx = wrap_centre_x(p.x, level, source), cy = clamp_centre_y(p.y, level, source);
    auto place = [&](int r, int c) {
        const WorldPixel cell = view_cell_pixel(source, cx, cy, 2, r, c);
        const TilePaths paths = tile_paths(tile_key(cell.x, cell.y, level, source, false), root);
        fs::create_directories(paths.directory);
        return fs::path(paths.full_path);
    };
    const fs::path good = place(0, 0);
    const fs::path broken = place(1, 1);
    const fs::path map = test::shared_testdata() / "images/bench/map256-rgb.png";
    fs::copy_file(map, good);
    test::write_file(broken, "<html>503</html>");

    const RunResult run = render(dir, "--root " + root + " --source O --level 2 --lat 51.5 --lon -0.12 --track --out " +
                                    (dir / "view.bmp").string());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("cached 2"), std::string::npos) << run.out;
    EXPECT_TRUE(fs::exists(good));
    EXPECT_FALSE(fs::exists(broken));

    const std::string bmp = test::read_file(dir / "view.bmp");
    ASSERT_EQ(bmp.size(), 14u + 40 + 512 * 1536);
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    EXPECT_EQ(bmp.substr(2, 4), std::string("\x36\x00\x0C\x00", 4));  // 786486 bytes
    EXPECT_EQ(bmp.substr(10, 4), std::string("\x36\x00\x00\x00", 4));

    const RgbImage view = read_picture(dir / "view.bmp");
    RgbImage tile;
    ASSERT_TRUE(load_png(map, tile));
    const auto [col, row] = marker_of(run.out);
    for (int y = 0; y < 256; y += 15)
        for (int x = 0; x < 256; x += 15) {
            if (std::abs(x - col) <= 5 && std::abs(y - row) <= 5) continue;  // under the marker
            ASSERT_EQ(at(view, x, y), at(tile, x, y)) << x << "," << y;
        }
    EXPECT_EQ(at(view, 300, 300), kGrey);  // the deleted tile's cell
    EXPECT_EQ(at(view, 300, 100), kGrey);  // never cached
    // With track on there is no cross-hair, only the marker.
    EXPECT_EQ(at(view, col, row), kBlack);
    EXPECT_NE(at(view, col, row < 256 ? 500 : 10), kBlack);
}

// Count of sampled pixels (every 16th, away from the marker) whose colour is within 8 of `rgb`.
int near_colour(const RgbImage& view, unsigned rgb, std::pair<int, int> marker) {
    int n = 0;
    for (int y = 8; y < view.height; y += 16)
        for (int x = 8; x < view.width; x += 16) {
            if (std::abs(x - marker.first) < 12 && std::abs(y - marker.second) < 12) continue;
            const Rgb p = at(view, x, y);
            const int want[3] = {int(rgb >> 16 & 0xff), int(rgb >> 8 & 0xff), int(rgb & 0xff)};
            bool close = true;
            for (int i = 0; i < 3; ++i) close = close && std::abs(int(p[std::size_t(i)]) - want[i]) <= 8;
            n += close ? 1 : 0;
        }
    return n;
}

TEST(RenderCli, AtlasEtopo2AndPacksAreDrawnWithoutAnyNetwork) {
    TempDir dir;
    const std::string root = (dir / "Maps").string();
    // The Atlas over the open Pacific is sea; over the middle of the Sahara, land (the built-in map's
    // colours); its tiles land in the cache like downloaded ones.
    RunResult run = render(dir, "--root " + root + " --source atlas --level 0 --lat -5 --lon -140 --out " +
                                    (dir / "sea.png").string());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("cached 4"), std::string::npos) << run.out;
    RgbImage view = read_picture(dir / "sea.png");
    EXPECT_GT(near_colour(view, 0xaacbe3, marker_of(run.out)), 900);  // of 1024 samples
    run = render(dir, "--root " + root + " --source Atlas --level 2 --lat 24 --lon 2 --track --out " +
                          (dir / "land.png").string());
    ASSERT_EQ(run.status, 0) << run.err;
    view = read_picture(dir / "land.png");
    EXPECT_GT(near_colour(view, 0xf2efe6, marker_of(run.out)), 800);
    const WorldPixel sea = geo_to_pixel(-5, -140, MapSource::OpenStreetMap, 0);
    const TilePaths atlas = catalogue_tile_paths(atlas_entry(), catalogue_tile_key(atlas_entry(), sea.x, sea.y, 0), root);
    EXPECT_EQ(test::read_file(atlas.full_path).substr(1, 3), "PNG");

    // Etopo2's relief cells are drawn here too: no grey left.
    run = render(dir, "--root " + root + " --source 1 --level 0 --lat 48.8566 --lon 2.3522 --out " +
                          (dir / "relief.ppm").string());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("cached 4"), std::string::npos) << run.out;
    EXPECT_EQ(near_colour(read_picture(dir / "relief.ppm"), 0xc0c0c0, marker_of(run.out)), 0);

    // A pack in the root's packs folder is a source by its (folder-safe) name; its tile is copied out.
    const double lat = 60.17, lon = 24.94;
    const WorldPixel p = geo_to_pixel(lat, lon, MapSource::OpenStreetMap, 1);
    const int column = p.x / 256, row = p.y / 256;
    const fs::path png = test::shared_testdata() / "images/bench/map256-rgb.png";
    fs::create_directories(dir / "Maps/packs");
    ASSERT_TRUE(test::make_pack(dir / "Maps/packs/lake.mbtiles", {{"name", "Lake Land"}, {"format", "png"}},
                                {{7, column, 127 - row, png}}));
    run = render(dir, "--root " + root + " --source lake_land --level 1 --lat 60.17 --lon 24.94 --out " +
                          (dir / "pack.png").string());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("cached 1"), std::string::npos) << run.out;
    const fs::path copied = dir / "Maps/Lake_Land" ;
    ASSERT_TRUE(fs::exists(copied));
    int files = 0;
    for (const auto& e : fs::recursive_directory_iterator(copied))
        if (e.is_regular_file()) {
            ++files;
            EXPECT_EQ(test::read_file(e.path()), test::read_file(png));
        }
    EXPECT_EQ(files, 1);
    // A pack there that never ends is skipped with its reason, and the other sources still render.
    ASSERT_TRUE(test::run_sqlite(dir / "Maps/packs/zz-endless.mbtiles", test::endless_pack_sql(true)));
    run = render(dir, "--root " + root + " --source Atlas --level 0 --lat -5 --lon -140 --out " +
                          (dir / "again.png").string());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("map pack skipped: \"" + root + "/packs/zz-endless.mbtiles\": not a map pack (metadata is a view"),
              std::string::npos) << run.err;
    // Another cache root has no such pack.
    EXPECT_EQ(render(dir, "--root " + (dir / "Other").string() + " --source Lake_Land --level 1 --lat 1 --lon 1 --out " +
                              (dir / "x.png").string()).status, 2);
}

TEST(RenderCli, BigMapsAndWideHairInPng) {
    TempDir dir;
    const RunResult run = render(dir, "--root " + (dir / "Maps").string() +
                                    " --source GoogleMaps --level 1 --lat -33.86 --lon 151.2 --aerial --big --hair 3"
                                    " --out " + (dir / "view.png").string());
    ASSERT_EQ(run.status, 0) << run.err;
    const RgbImage view = read_picture(dir / "view.png");
    ASSERT_EQ(view.width, 1024);
    ASSERT_EQ(view.height, 1024);
    const auto [col, row] = marker_of(run.out);
    EXPECT_EQ(std::pair(col, row), expected_marker(-33.86, 151.2, MapSource::GoogleMaps, 1, 1024));
    const int far_y = row < 512 ? 1000 : 20;
    EXPECT_EQ(at(view, col - 1, far_y), kYellow);
    EXPECT_EQ(at(view, col, far_y), kBlack);
    EXPECT_EQ(at(view, col + 1, far_y), kYellow);
    EXPECT_EQ(at(view, col + 2, far_y), kGrey);
}

TEST(RenderCli, BadRequestsWriteNothing) {
    TempDir dir;
    const std::string root = " --root " + (dir / "Maps").string();
    const std::string out = (dir / "view.bmp").string();
    struct Case {
        std::string args;
        int status;
    };
    const Case cases[] = {
        {root + " --source E --level 2 --lat 10 --lon 10 --out " + out, 1},  // Etopo2 has only level 0
        {root + " --source O --level 5 --lat 10 --lon 10 --out " + out, 2},
        {root + " --source X --level 1 --lat 10 --lon 10 --out " + out, 2},
        {root + " --source O --level 1 --lat ten --lon 10 --out " + out, 2},
        {root + " --source O --level 1 --lat nan --lon 10 --out " + out, 2},
        {root + " --source O --level 1 --lat 10 --lon 10 --out " + (dir / "view.gif").string(), 2},
        {root + " --source O --level 1 --lat 10 --out " + out, 2},
        {root + " --source O --level 1 --lat 10 --lon 10 --hair", 2},
        {root + " --source O --level 1 --lat 10 --lon 10 --out " + (dir / "no/such/dir/v.bmp").string(), 1},
    };
    for (const Case& c : cases) {
        const RunResult run = render(dir, c.args);
        EXPECT_EQ(run.status, c.status) << c.args;
        EXPECT_FALSE(run.err.empty());
        EXPECT_FALSE(fs::exists(out));
    }
}

}  // namespace
}  // namespace vg
