// Vector packs as map sources: the test town's tilemaker pack (and a PMTiles copy of it) in a packs
// folder, its cells drawn by the program's tile maker into the tile cache as the map layer asks for
// them, by day and by night, sharp past the pack's deepest zoom.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/app_fixture.h"
#include "app/map_layer.h"
#include "atlas/local_tiles.h"
#include "support/test_paths.h"
#include "support/town_pmtiles.h"
#include "support/vector_town.h"
#include "tiles/fine_tiles.h"
#include "tiles/geometry.h"
#include "tiles/image_decode.h"
#include "tiles/local_source.h"
#include "tiles/tile_naming.h"

namespace vg {
namespace {

namespace fs = std::filesystem;

struct Rgb {
    int r = 0, g = 0, b = 0;
    int sum() const { return r + g + b; }
};

class VectorSource : public ::testing::Test {
protected:
    void SetUp() override {
        atlas::install_local_tile_maker();
        set_vector_night_style(false);
    }
    void TearDown() override { set_vector_night_style(false); }

    // The pixel of (lat, lon) in the cell drawn for `entry` at `level` (its file's path in `file`).
    Rgb pixel(const CatalogueEntry& entry, int level, double lat, double lon, std::string* file = nullptr) {
        const WorldPixel p = geo_to_pixel(lat, lon, MapSource::OpenStreetMap, level);
        std::string slot;
        EXPECT_TRUE(make_offline_tile(slot, static_cast<int>(p.x), static_cast<int>(p.y), level, dir_.path().string(),
                                      entry));
        if (file) *file = slot;
        RgbImage image;
        if (!load_png(slot, image)) return {};
        const std::size_t at = 3 * (static_cast<std::size_t>(p.y % kTileSize) * kTileSize + p.x % kTileSize);
        return {image.pixels[at], image.pixels[at + 1], image.pixels[at + 2]};
    }

    test::TempDir dir_;
};

// Mirror Lake, High Street and open land of the town (tests/data/vector/town.osm).
constexpr double kLake[2] = {47.5062, 10.0037};
constexpr double kHighStreet[2] = {47.5020, 10.0030};
constexpr double kLand[2] = {47.5000, 10.0100};

TEST_F(VectorSource, PacksOfBothContainersAreDrawnDayAndNightAndSharpPastTheirZooms) {
    VG_TOWN_MBTILES(town);
    const fs::path packs = packs_folder(dir_.path().string());
    fs::create_directories(packs);
    fs::copy_file(town, packs / "a-town.mbtiles");
    test::write_town_pmtiles(town, (packs / "b-town.pmtiles").string());
    Catalogue catalogue = builtin_catalogue();
    ASSERT_EQ(add_packs(catalogue, packs), 2);
    std::vector<const CatalogueEntry*> vector;
    for (const auto& e : catalogue.entries)
        if (e.kind == SourceKind::vector) vector.push_back(&e);
    ASSERT_EQ(vector.size(), 2u);

    Rgb first_lake;
    for (const CatalogueEntry* entry : vector) {
        SCOPED_TRACE(entry->pack_path);
        set_vector_night_style(false);
        std::string file;
        const Rgb lake = pixel(*entry, 4, kLake[0], kLake[1], &file);  // level 4: zoom 16 from zoom-14 tiles
        EXPECT_NE(file.find("/day/"), std::string::npos) << file;
        const Rgb land = pixel(*entry, 4, kLand[0], kLand[1]);
        const Rgb road = pixel(*entry, 4, kHighStreet[0], kHighStreet[1]);
        EXPECT_GT(lake.b, lake.r + 30);  // water
        EXPECT_GT(std::abs(road.sum() - land.sum()) + std::abs(road.b - land.b), 30);  // a road on the land
        if (entry == vector.front()) first_lake = lake;
        else EXPECT_LE(std::abs(lake.sum() - first_lake.sum()), 6);  // the same tiles draw the same

        // Sharp cells: 512 pixels drawn, not the 256-pixel cell enlarged.
        const WorldPixel p = geo_to_pixel(kLake[0], kLake[1], MapSource::OpenStreetMap, 4);
        const auto fine = fine_tile_files(*entry, catalogue_tile_key(*entry, static_cast<int>(p.x), static_cast<int>(p.y), 4),
                                          dir_.path().string(), true);
        ASSERT_EQ(fine.size(), 1u);
        RgbImage sharp;
        ASSERT_TRUE(load_png(fine[0].second, sharp));
        EXPECT_EQ(sharp.width, 512);

        // Night: the night style, drawn into a folder of its own; the day's cells stay.
        set_vector_night_style(true);
        std::string night_file;
        const Rgb night_land = pixel(*entry, 4, kLand[0], kLand[1], &night_file);
        EXPECT_NE(night_file.find("/night/"), std::string::npos) << night_file;
        EXPECT_LT(night_land.sum() + 150, land.sum());
        EXPECT_TRUE(fs::exists(file));
    }
}

// A style file beside a pack draws it; one that is not a style leaves the built-in style.
TEST_F(VectorSource, AStyleFileBesideThePackDrawsIt) {
    VG_TOWN_MBTILES(town);
    const fs::path packs = packs_folder(dir_.path().string());
    fs::create_directories(packs);
    for (const char* stem : {"red", "broken"}) fs::copy_file(town, packs / (std::string(stem) + ".mbtiles"));
    std::ofstream(packs / "red.style.json")
        << R"({"version":8,"layers":[{"id":"bg","type":"background","paint":{"background-color":"#ff0000"}}]})";
    std::ofstream(packs / "broken.style.json") << "not a style";
    Catalogue catalogue = builtin_catalogue();
    ASSERT_EQ(add_packs(catalogue, packs), 2);
    const CatalogueEntry *red = nullptr, *broken = nullptr;
    for (const auto& e : catalogue.entries)
        if (e.kind == SourceKind::vector) (e.pack_path.ends_with("red.mbtiles") ? red : broken) = &e;
    ASSERT_TRUE(red && broken);
    const Rgb land = pixel(*red, 4, kLake[0], kLake[1]);
    EXPECT_EQ(land.r, 255);
    EXPECT_EQ(land.b, 0);
    const Rgb lake = pixel(*broken, 4, kLake[0], kLake[1]);
    EXPECT_GT(lake.b, lake.r + 30);
}

// Off line, a raster source's cell with nothing cached shows a vector pack that has it, before the
// lighter Atlas, which stands in only where no pack reaches.
TEST_F(VectorSource, OffLineAPackStandsInForARasterSourceBeforeTheAtlas) {
    VG_TOWN_MBTILES(town);
    const fs::path packs = packs_folder(dir_.path().string());
    fs::create_directories(packs);
    fs::copy_file(town, packs / "town.mbtiles");
    Catalogue catalogue = builtin_catalogue();
    ASSERT_EQ(add_packs(catalogue, packs), 1);
    const CatalogueEntry* topo = catalogue.find("OpenTopoMap", false);
    ASSERT_TRUE(topo);
    LayerSource src;
    src.source = MapSource::OpenStreetMap;
    src.root = dir_.path().string();
    src.shown = topo;
    src.off_line = true;
    src.stand_in_packs = {&catalogue.entries.back()};
    ASSERT_EQ(src.stand_in_packs[0]->kind, SourceKind::vector);

    for (const bool in_town : {true, false}) {
        SCOPED_TRACE(in_town ? "in the town" : "far from it");
        const double lat = in_town ? kLake[0] : 47.6, lon = kLake[1];
        MapLayer layer;
        layer.set_area(512, 512);
        const WorldPixel p = geo_to_pixel(lat, lon, MapSource::OpenStreetMap, 4);
        ASSERT_EQ(layer.show(src, 4, static_cast<int>(p.x), static_cast<int>(p.y), MapLayer::Fetch::CacheOnly),
                  MapLayer::Shown::Shown);
        DisplayBitmap bitmap;
        bool rebuild = false;
        while (layer.take_landed(src, bitmap, rebuild)) {
        }
        const Mosaic& m = layer.mosaic();
        const std::size_t at = 3 * (static_cast<std::size_t>(layer.mosaic_y(static_cast<int>(p.y))) * m.width +
                                    static_cast<std::size_t>(layer.mosaic_x(static_cast<int>(p.x))));
        ASSERT_LT(at + 2, m.pixels.size());
        if (in_town) EXPECT_GT(m.pixels[at + 2], m.pixels[at] + 30);  // the lake, from the pack
        else EXPECT_TRUE(layer.shows_stand_ins());                    // the Atlas
    }
}

// Off line, the attribution line credits a vector pack while it stands in for cells of the source
// (the pack's own attribution), and only then.
class PackCredit : public test::AppFixture {};

TEST_F(PackCredit, TheAttributionCreditsAPackWhileItStandsIn) {
    VG_TOWN_MBTILES(town);
    atlas::install_local_tile_maker();
    const fs::path packs = packs_folder(root());
    fs::create_directories(packs);
    fs::copy_file(town, packs / "town.mbtiles");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((packs / "town.mbtiles").string().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "INSERT INTO metadata VALUES ('attribution', 'Town survey')", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    for (const bool in_town : {true, false}) {
        SCOPED_TRACE(in_town ? "in the town" : "far from it");
        start_pos = in_town ? test::tile_corner_position(kLake[0], kLake[1], 4) : test::tile_corner_position(60.17, 24.92, 4);
        write_settings("site=OpenStreetMap\r\n", "zoom=4\r\n");
        App& a = start();
        a.on_command(Command::Offline);
        a.on_command(Command::ReloadMap);
        const std::string credit = a.paint().attribution;
        EXPECT_EQ(credit.find("Town survey") != std::string::npos, in_town) << credit;
    }
}

}  // namespace
}  // namespace vg
