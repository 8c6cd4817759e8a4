// The built-in world map: its data file, and tiles whose land and sea pixels agree with the data
// (point-in-polygon at sample points) at every level and at awkward places.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "atlas/atlas_data.h"
#include "atlas/atlas_render.h"
#include "tiles/geometry.h"

namespace vg::atlas {
namespace {

const AtlasData& data() { return builtin_atlas(); }

TEST(AtlasData, BuiltInFileHoldsBothDetailsAndPlaces) {
    for (const Detail& d : data().details) {
        EXPECT_GT(d.land.size(), 1000u);
        EXPECT_GT(d.borders.size(), 300u);
    }
    ASSERT_GT(data().places.size(), 1000u);
    EXPECT_TRUE(data().places.front().capital);  // capitals come first
    bool helsinki = false;
    for (const Place& p : data().places) helsinki |= p.name == "Helsinki" && p.capital;
    EXPECT_TRUE(helsinki);
}

TEST(AtlasData, KnownPlacesLieOnLandOrSea) {
    struct Case {
        double lon, lat;
        bool land;
    } cases[] = {{24.94, 60.17, true},   {2.35, 48.86, true},   {-30.0, 30.0, false}, {-150.0, 0.0, false},
                 {134.0, -25.0, true},   {0.0, -80.0, true},    {0.0, 89.0, false},   {51.0, 42.0, false},
                 {178.0, -17.8, true},   {-179.9, 66.5, true}, {20.0, 35.0, false},
                 {25.0, 67.0, true},    {175.0, 67.0, true},   {-173.0, 65.0, true},   {-172.0, 60.0, false}};
    for (const Case& c : cases)
        for (DetailLevel d : {kCoarse, kFine})
            EXPECT_EQ(is_land(data(), d, c.lon, c.lat), c.land) << c.lon << "," << c.lat << " detail " << d;
}

TEST(AtlasData, DamagedFilesAreRefusedWithAReason) {
    const auto bytes = builtin_atlas_bytes();
    std::string error;
    EXPECT_FALSE(parse_atlas({}, &error));
    EXPECT_EQ(error, "not an atlas data file");
    for (std::size_t cut : {std::size_t{9}, std::size_t{14}, std::size_t{200}, bytes.size() / 2, bytes.size() - 1}) {
        error.clear();
        EXPECT_FALSE(parse_atlas(bytes.first(cut), &error)) << cut;
        EXPECT_FALSE(error.empty());
    }
    // A section that claims more lines than it could hold.
    std::vector<std::uint8_t> huge(bytes.begin(), bytes.begin() + 8);
    const std::uint8_t tail[] = {1, 0, 0, 0, /*kind*/ 1, /*detail*/ 0, 36, 0, 0, 0};
    huge.insert(huge.end(), std::begin(tail), std::end(tail));
    huge.resize(huge.size() + 32, 0);
    huge.insert(huge.end(), {0xff, 0xff, 0xff, 0x7f});
    EXPECT_FALSE(parse_atlas(huge, &error));
    EXPECT_EQ(error, "damaged section");
}

// Land/sea agreement of a rendered picture with the data, at a 16 × 16 grid of sample points.
// Points near a coast (the answer changes within 3 pixels) are skipped; labels, dots and borders may
// cover a few of the rest, so 95 % must agree. Returns the numbers of land and sea samples checked.
template <typename ToLonLat>
std::pair<int, int> expect_land_sea_agree(const QImage& tile, DetailLevel detail, ToLonLat to_lonlat,
                                          auto is_land_colour, const std::string& what) {
    int land = 0, sea = 0, agree = 0;
    for (int j = 0; j < 16; ++j) {
        for (int i = 0; i < 16; ++i) {
            const double px = 8 + 16 * i, py = 8 + 16 * j;
            const auto [lon, lat] = to_lonlat(px, py);
            const bool expected = is_land(data(), detail, lon, lat);
            bool clear = true;
            for (auto [dx, dy] : {std::pair{-3, 0}, {3, 0}, {0, -3}, {0, 3}}) {
                const auto [lon2, lat2] = to_lonlat(px + dx, py + dy);
                clear &= is_land(data(), detail, lon2, lat2) == expected;
            }
            if (!clear) continue;
            (expected ? land : sea)++;
            agree += is_land_colour(tile.pixel(int(px), int(py))) == expected;
        }
    }
    EXPECT_GE(agree, (land + sea) * 95 / 100) << what << ": " << land << " land, " << sea << " sea samples";
    return {land, sea};
}

bool atlas_land_colour(QRgb c) {
    const int dl = std::abs(qRed(c) - qRed(kLandRgb)) + std::abs(qGreen(c) - qGreen(kLandRgb)) + std::abs(qBlue(c) - qBlue(kLandRgb));
    const int ds = std::abs(qRed(c) - qRed(kSeaRgb)) + std::abs(qGreen(c) - qGreen(kSeaRgb)) + std::abs(qBlue(c) - qBlue(kSeaRgb));
    return dl < ds;
}

TEST(AtlasTiles, EveryLevelAgreesWithTheDataAtAwkwardPlaces) {
    struct Where {
        const char* name;
        double lat, lon;
        bool expect_land, expect_sea;
    } places[] = {{"Helsinki", 60.17, 24.94, true, true},   {"open Pacific", 0.0, -150.0, false, true},
                  {"date line", -16.8, 179.9, false, true},  {"north pole clamp", 89.9, 10.0, false, true},
                  {"south pole clamp", -89.9, 10.0, true, false}, {"Sahara", 23.0, 10.0, true, false}};
    for (int level = 0; level < kLevelCount; ++level) {
        const int zoom = web_zoom(level);
        const DetailLevel detail = zoom <= 5 ? kCoarse : kFine;
        for (const Where& w : places) {
            // The program's own Mercator geometry says which tile holds the place, and where each pixel is.
            const WorldPixel at = geo_to_pixel(w.lat, w.lon, MapSource::OpenStreetMap, level);
            const int tx = tile_column(at.x, MapSource::OpenStreetMap, level);
            const int ty = std::clamp(tile_row(at.y), 0, tile_rows(MapSource::OpenStreetMap, level) - 1);
            const QImage tile = render_tile(data(), zoom, tx, ty);
            ASSERT_EQ(tile.size(), QSize(256, 256));
            auto to_lonlat = [&](double px, double py) {
                return std::pair{pixel_to_longitude(int(tx * 256 + px), MapSource::OpenStreetMap, level),
                                 pixel_to_latitude(int(ty * 256 + py), MapSource::OpenStreetMap, level)};
            };
            const auto [land, sea] = expect_land_sea_agree(tile, detail, to_lonlat, atlas_land_colour,
                                                           std::string(w.name) + " zoom " + std::to_string(zoom));
            if (w.expect_land) {
                EXPECT_GT(land, 0) << w.name << " zoom " << zoom;
            }
            if (w.expect_sea && level == 0) {
                EXPECT_GT(sea, 0) << w.name << " zoom " << zoom;
            }
        }
    }
}

TEST(AtlasTiles, FadedTileIsLighterAndColumnsWrap) {
    const QImage plain = render_tile(data(), 4, 9, 4);
    const QImage faded = render_tile(data(), 4, 9, 4, true);
    const QImage wrapped = render_tile(data(), 4, 9 + 16, 4);
    EXPECT_EQ(plain, wrapped);
    long long a = 0, b = 0;
    for (int y = 0; y < 256; y += 8)
        for (int x = 0; x < 256; x += 8) {
            a += qGray(plain.pixel(x, y));
            b += qGray(faded.pixel(x, y));
        }
    EXPECT_GT(b, a);
    // Rows outside the world and absurd zooms give plain sea, never a crash.
    for (const QImage& sea : {render_tile(data(), 4, 0, -1), render_tile(data(), 4, 0, 16), render_tile(data(), 40, 0, 0)})
        EXPECT_EQ(sea.pixel(128, 128), QColor(QRgb(kSeaRgb)).rgb());
}

TEST(AtlasTiles, CapitalsAreLabelledAtTheWorldLevel) {
    // Northern Europe at zoom 4: Helsinki, Stockholm, Oslo and more have dark label pixels nearby.
    const QImage tile = render_tile(data(), 4, 9, 4);
    int dark = 0;
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) dark += qGray(tile.pixel(x, y)) < 80;
    EXPECT_GT(dark, 100);
}

TEST(ReliefTiles, EtopoCellsAgreeWithTheData) {
    auto sea_colour = [](QRgb c) { return qBlue(c) > qRed(c) + 30; };
    int land_total = 0, sea_total = 0;
    for (auto [row, column] : {std::pair{6, 9}, {3, 6}, {4, 0}, {0, 3}, {7, 15}, {5, 3}}) {
        const QImage tile = render_relief_tile(data(), row, column);
        auto to_lonlat = [&](double px, double py) {
            return std::pair{-180.0 + 22.5 * (column + px / 256.0), -90.0 + 22.5 * (row + 1 - py / 256.0)};
        };
        const auto [land, sea] = expect_land_sea_agree(
            tile, kCoarse, to_lonlat, [&](QRgb c) { return !sea_colour(c); },
            "relief " + std::to_string(row) + "," + std::to_string(column));
        land_total += land;
        sea_total += sea;
    }
    EXPECT_GT(land_total, 100);
    EXPECT_GT(sea_total, 100);
}

}  // namespace
}  // namespace vg::atlas
