// World-pixel geometry: the per-level constants, conversions at the edges of the world, level
// changes, view-centre rules, quadtree keys and compass names, plus a round-trip property over many
// random positions.
#include "tiles/geometry.h"
#include "tiles/tile_catalogue.h"
#include "tiles/tile_naming.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <random>
#include <set>
#include <string>

namespace vg {
namespace {

constexpr MapSource kAllSources[] = {MapSource::Etopo2, MapSource::OpenStreetMap, MapSource::GoogleMaps,
                                     MapSource::VirtualEarth, MapSource::MapQuest};

TEST(Geometry, PerLevelTable) {
    const int widths[] = {4096, 32768, 262144, 2097152, 16777216};
    const int mq_w[] = {3072, 59909, 581676, 5006920, 36049815};
    const int mq_h[] = {1938, 37751, 366565, 3155529, 22719784};
    const int mq_tiles[] = {12, 234, 2272, 19559, 140826};
    for (int level = 0; level < kLevelCount; ++level) {
        SCOPED_TRACE(level);
        EXPECT_EQ(world_width(level), widths[level]);
        EXPECT_DOUBLE_EQ(pixels_per_degree(level), widths[level] / 360.0);
        EXPECT_EQ(tiles_per_row(MapSource::OpenStreetMap, level), widths[level] / 256);
        EXPECT_EQ(tiles_per_row(MapSource::Etopo2, level), widths[level] / 256);
        EXPECT_EQ(mapquest_width(level), mq_w[level]);
        EXPECT_EQ(mapquest_height(level), mq_h[level]);
        EXPECT_EQ(tiles_per_row(MapSource::MapQuest, level), mq_tiles[level]);
        // 2 to the power of the web zoom is W / 256.
        EXPECT_EQ(1 << web_zoom(level), widths[level] / 256);
    }
    EXPECT_DOUBLE_EQ(pixels_per_degree(0), 11.377777777777778);
    EXPECT_DOUBLE_EQ(pixels_per_degree(4), 46603.37777777778);
}

TEST(Geometry, MetresPerPixelAlongTheParallel) {
    // Web zoom 10 (level 2) at the equator: 152.87 m; half of it at 60°; none at a pole.
    EXPECT_NEAR(metres_per_pixel(MapSource::OpenStreetMap, 2, 0.0), 152.874, 0.001);
    EXPECT_NEAR(metres_per_pixel(MapSource::VirtualEarth, 2, 60.0), 76.437, 0.001);
    EXPECT_NEAR(metres_per_pixel(MapSource::GoogleMaps, 4, -45.0), 1.68904, 0.00001);
    // Etopo2 and MapQuest by their own widths.
    EXPECT_NEAR(metres_per_pixel(MapSource::Etopo2, 0, 0.0), 9783.94, 0.01);
    EXPECT_NEAR(metres_per_pixel(MapSource::MapQuest, 0, 0.0), 13045.25, 0.01);
    EXPECT_NEAR(metres_per_pixel(MapSource::OpenStreetMap, 2, 90.0), 0.0, 1e-9);
    EXPECT_NEAR(metres_per_pixel(MapSource::OpenStreetMap, 2, 1000.0), 0.0, 1e-9);
    EXPECT_EQ(metres_per_pixel(MapSource::OpenStreetMap, 2, std::nan("")), 0.0);
}

TEST(Geometry, OriginAndDateLine) {
    for (int level = 0; level < kLevelCount; ++level) {
        const int w = world_width(level);
        EXPECT_EQ(geo_to_pixel(0, 0, MapSource::OpenStreetMap, level), (WorldPixel{w / 2, w / 2}));
        EXPECT_EQ(geo_to_pixel(0, 0, MapSource::VirtualEarth, level), (WorldPixel{w / 2, w / 2}));
        EXPECT_EQ(geo_to_pixel(0, 0, MapSource::Etopo2, level), (WorldPixel{w / 2, w / 4}));
        // Longitude 180 is one column past the last; its tile column wraps to 0.
        const WorldPixel east = geo_to_pixel(0, 180, MapSource::GoogleMaps, level);
        EXPECT_EQ(east.x, w);
        EXPECT_EQ(tile_column(east.x, MapSource::GoogleMaps, level), 0);
        EXPECT_EQ(geo_to_pixel(0, -180, MapSource::GoogleMaps, level).x, 0);
    }
    EXPECT_EQ(geo_to_pixel(0, 0, MapSource::Etopo2, 0), (WorldPixel{2048, 1024}));
    // MapQuest uses its own sizes and grows northwards.
    EXPECT_EQ(geo_to_pixel(0, 0, MapSource::MapQuest, 0), (WorldPixel{1536, 969}));
    EXPECT_EQ(geo_to_pixel(-90, -180, MapSource::MapQuest, 2), (WorldPixel{0, 0}));
    EXPECT_EQ(geo_to_pixel(45, 90, MapSource::MapQuest, 1), (WorldPixel{44931, 28313}));
}

TEST(Geometry, MercatorRowsNearThePoles) {
    // The Mercator limit is row 0 and the last row's far edge.
    EXPECT_EQ(geo_to_pixel(85.0511, 0, MapSource::OpenStreetMap, 0).y, 0);
    EXPECT_NEAR(geo_to_pixel(-85.0511, 0, MapSource::OpenStreetMap, 0).y, 4096, 1);
    // Nearer the poles the rows leave the world; clamp_centre_y brings a centre back.
    const int north = geo_to_pixel(88, 0, MapSource::VirtualEarth, 2).y;
    EXPECT_LT(north, 0);
    EXPECT_EQ(clamp_centre_y(north, 2, MapSource::VirtualEarth), 262144 / 16 + 256);
    const int south = geo_to_pixel(-88, 0, MapSource::VirtualEarth, 2).y;
    EXPECT_GT(south, 262144);
    // At and beyond a pole the latitude is held at the limit: finite rows at the world's edges.
    for (int level = 0; level < kLevelCount; ++level) {
        const int w = world_width(level);
        EXPECT_NEAR(geo_to_pixel(90, 10, MapSource::GoogleMaps, level).y, 0, 1);
        EXPECT_NEAR(geo_to_pixel(123, 10, MapSource::GoogleMaps, level).y, 0, 1);
        EXPECT_NEAR(geo_to_pixel(-90, 10, MapSource::GoogleMaps, level).y, w, 1);
        EXPECT_NEAR(geo_to_pixel(-1e9, 10, MapSource::GoogleMaps, level).y, w, 1);
    }
}

TEST(Geometry, HostileCoordinatesGiveDefinedPixels) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (MapSource s : kAllSources) {
        EXPECT_EQ(geo_to_pixel(nan, nan, s, 4), (WorldPixel{0, 0}));
        const WorldPixel far = geo_to_pixel(1e300, inf, s, 4);
        EXPECT_EQ(far.x, std::numeric_limits<int>::max());
        EXPECT_EQ(geo_to_pixel(0, -inf, s, 4).x, std::numeric_limits<int>::min());
        // Such pixels still map to a tile column inside the world.
        const int col = tile_column(far.x, s, 4);
        EXPECT_GE(col, 0);
        EXPECT_LT(col, tiles_per_row(s, 4));
    }
}

TEST(Geometry, PixelsToDegrees) {
    EXPECT_DOUBLE_EQ(pixel_to_longitude(2048, MapSource::OpenStreetMap, 0), 0.0);
    EXPECT_DOUBLE_EQ(pixel_to_longitude(0, MapSource::Etopo2, 3), -180.0);
    EXPECT_DOUBLE_EQ(pixel_to_longitude(1536, MapSource::MapQuest, 0), 0.0);
    EXPECT_DOUBLE_EQ(pixel_to_latitude(1024, MapSource::Etopo2, 0), 0.0);
    EXPECT_DOUBLE_EQ(pixel_to_latitude(969, MapSource::MapQuest, 0), 0.0);
    EXPECT_NEAR(pixel_to_latitude(2048, MapSource::GoogleMaps, 0), 0.0, 1e-9);
    EXPECT_NEAR(pixel_to_latitude(0, MapSource::GoogleMaps, 0), 85.0511, 1e-4);
    EXPECT_NEAR(pixel_to_latitude(4096, MapSource::GoogleMaps, 0), -85.0511, 1e-4);
}

TEST(Geometry, Rescale) {
    EXPECT_EQ(rescale_x(100, 1, 0, MapSource::OpenStreetMap), 12);
    EXPECT_EQ(rescale_x(100, 0, 2, MapSource::OpenStreetMap), 6400);
    EXPECT_EQ(rescale_y(100, 0, 2, MapSource::Etopo2), 6400);
    EXPECT_EQ(rescale_y(777, 3, 3, MapSource::VirtualEarth), 777);
    // Division truncates towards zero, also for negative values.
    EXPECT_EQ(rescale_x(-100, 1, 0, MapSource::GoogleMaps), -12);
    EXPECT_EQ(rescale_y(16777215, 4, 0, MapSource::GoogleMaps), 4095);
    // Out-of-range results saturate instead of overflowing.
    EXPECT_EQ(rescale_x(std::numeric_limits<int>::max(), 0, 4, MapSource::GoogleMaps),
              std::numeric_limits<int>::max());
    // MapQuest goes through degrees.
    EXPECT_EQ(rescale_x(1536, 0, 1, MapSource::MapQuest), 59909 / 2);
    EXPECT_EQ(rescale_y(969, 0, 4, MapSource::MapQuest), 22719784 / 2);
    EXPECT_EQ(rescale_x(0, 4, 0, MapSource::MapQuest), 0);
}

TEST(Geometry, WebZoomsBetweenTheLevels) {
    const MapSource osm = MapSource::OpenStreetMap;
    // A level's zoom is always the level; the zooms between have codes with worlds of their own.
    for (int level = 0; level < kLevelCount; ++level) {
        EXPECT_EQ(zoom_code(web_zoom(level)), level);
        EXPECT_EQ(level_of_zoom(web_zoom(level)), level);
        EXPECT_EQ(level_at_or_below(web_zoom(level) + 2), level);
    }
    const int z11 = zoom_code(11), z12 = zoom_code(12);
    EXPECT_EQ(web_zoom(z11), 11);
    EXPECT_EQ(level_of_zoom(11), -1);
    EXPECT_EQ(world_width(z11), 256 << 11);
    EXPECT_EQ(zoom_code(25), zoom_code(kMaxWebZoom));
    EXPECT_EQ(zoom_code(-3), zoom_code(0));
    // One zoom doubles the pixels, across levels and codes alike.
    EXPECT_EQ(rescale_x(1000, 2, z11, osm), 2000);
    EXPECT_EQ(rescale_y(1000, z12, 3, osm), 2000);
    EXPECT_EQ(rescale_x(-1001, z12, z11, osm), -500);
    // Helsinki's standard tiles at zoom 11, and back.
    const WorldPixel h = geo_to_pixel(60.17, 24.94, osm, z11);
    EXPECT_EQ(h.x / 256, 1165);
    EXPECT_EQ(h.y / 256, 592);
    EXPECT_NEAR(pixel_to_latitude(h.y, MapSource::VirtualEarth, z11), 60.17, 1e-3);
    EXPECT_EQ(make_quadkey(z11, h.x, h.y)->size(), 11u);
    // Only the Mercator sources have them.
    EXPECT_TRUE(has_scale(MapSource::VirtualEarth, z12));
    EXPECT_FALSE(has_scale(MapSource::MapQuest, z12));
    EXPECT_FALSE(has_scale(MapSource::Etopo2, z11));
    EXPECT_FALSE(has_scale(osm, 5));
    // Worlds smaller than the map area keep their middle row.
    EXPECT_EQ(clamp_view_y(0, zoom_code(0), osm), 128);
    EXPECT_EQ(clamp_view_y(5000, zoom_code(2), osm), 15 * 1024 / 16 - 257);
    // Their tiles have files of their own beside the levels' folders.
    const TileKey key = tile_key(h.x, h.y, z11, osm, false);
    EXPECT_TRUE(tile_in_world(key));
    EXPECT_EQ(std::filesystem::path(tile_paths(key, "m").full_path).generic_string(), "m/OS/z11/592/vor_z11_592_1165.png");
    // A catalogue entry with all five levels goes on to zoom 19, one with fewer to its last level's;
    // packs keep their levels.
    Catalogue cat;
    read_sources_text("Five|map|http://127.0.0.1:1/{z}/{x}/{y}.png||T|\n"
                      "Three|map|http://127.0.0.1:1/{z}/{x}/{y}.png|4,7,10|T|\n"
                      "Topo|map|http://127.0.0.1:1/{z}/{x}/{y}.png||T|maxzoom=17\n"
                      "Low|map|http://127.0.0.1:1/{z}/{x}/{y}.png||T|maxzoom=12\n", cat);
    ASSERT_EQ(cat.problems.size(), 1u);
    EXPECT_NE(cat.problems[0].find(":4: maxzoom must be"), std::string::npos) << cat.problems[0];
    EXPECT_EQ(cat.find("Topo", false)->max_zoom(), 17);
    EXPECT_EQ(builtin_catalogue().find("OpenTopoMap", false)->max_zoom(), 17);
    const CatalogueEntry* five = cat.find("Five", false);
    const CatalogueEntry* three = cat.find("Three", false);
    ASSERT_TRUE(five && three);
    EXPECT_TRUE(five->has_level(zoom_code(19)));
    EXPECT_EQ(five->zoom_of(z12), 12);
    EXPECT_TRUE(three->has_level(zoom_code(9)));
    EXPECT_FALSE(three->has_level(z11));
    CatalogueEntry pack = *five;
    pack.kind = SourceKind::pack;
    EXPECT_FALSE(pack.has_level(z11));
    EXPECT_TRUE(pack.has_level(2));
}

TEST(Geometry, ViewCentreRules) {
    // Etopo2 at level 0 keeps every centre between 512 and 1536.
    std::set<int> seen;
    for (int y = -5000; y <= 5000; y += 37) {
        const int cy = clamp_centre_y(y, 0, MapSource::Etopo2);
        EXPECT_GE(cy, 512);
        EXPECT_LE(cy, 1536);
        EXPECT_EQ(cy % 256, 0);
        seen.insert(cy);
    }
    EXPECT_EQ(seen, (std::set<int>{512, 768, 1024, 1280, 1536}));
    // Mercator level 0: 512 and 3583, rounded to 512 and 3584.
    EXPECT_EQ(clamp_centre_y(-99999, 0, MapSource::OpenStreetMap), 512);
    EXPECT_EQ(clamp_centre_y(99999, 0, MapSource::OpenStreetMap), 3584);
    EXPECT_EQ(clamp_centre_y(99999999, 1, MapSource::OpenStreetMap), 15 * 32768 / 16 - 256);
    // MapQuest upper bound MQH − 513.
    EXPECT_EQ(clamp_centre_y(1 << 30, 0, MapSource::MapQuest), 1536);
    EXPECT_EQ(clamp_centre_y(1 << 30, 1, MapSource::MapQuest), 37120);
    // Halves round up, negative values floor.
    EXPECT_EQ(round_to_tile_edge(128), 256);
    EXPECT_EQ(round_to_tile_edge(127), 0);
    EXPECT_EQ(round_to_tile_edge(-128), 0);
    EXPECT_EQ(round_to_tile_edge(-129), -256);

    EXPECT_EQ(wrap_centre_x(-100, 0, MapSource::GoogleMaps), 4096);
    EXPECT_EQ(wrap_centre_x(4096 + 300, 0, MapSource::GoogleMaps), 256);
    EXPECT_EQ(wrap_centre_x(1000, 0, MapSource::GoogleMaps), 1024);
    EXPECT_EQ(wrap_centre_x(3072 + 10, 0, MapSource::MapQuest), 0);
    EXPECT_EQ(wrap_centre_x(std::numeric_limits<int>::min(), 4, MapSource::MapQuest) % 256, 0);
    // A view's own centre: the same bounds and wrap, no rounding.
    EXPECT_EQ(clamp_view_y(99999, 0, MapSource::OpenStreetMap), 3583);
    EXPECT_EQ(clamp_view_y(1000, 0, MapSource::OpenStreetMap), 1000);
    EXPECT_EQ(clamp_view_y(-5, 0, MapSource::Etopo2), 512);
    EXPECT_EQ(wrap_view_x(-100, 0, MapSource::GoogleMaps), 3996);
    EXPECT_EQ(wrap_view_x(4096 + 300, 0, MapSource::GoogleMaps), 300);
    EXPECT_EQ(wrap_view_x(3072 + 10, 0, MapSource::MapQuest), 10);
    const int far_west = wrap_view_x(std::numeric_limits<int>::min(), 4, MapSource::MapQuest);
    EXPECT_TRUE(far_west >= 0 && far_west < mapquest_width(4)) << far_west;
}

TEST(Geometry, TileOfPixelAndViewGrid) {
    EXPECT_EQ(tile_row(-1), -1);
    EXPECT_EQ(tile_row(255), 0);
    EXPECT_EQ(tile_row(256), 1);
    EXPECT_EQ(tile_column(-1, MapSource::OpenStreetMap, 0), 15);
    EXPECT_EQ(tile_column(-1, MapSource::MapQuest, 0), 11);
    EXPECT_EQ(tile_column(12 * 256, MapSource::MapQuest, 0), 0);
    // 140826 tiles per row at MapQuest level 4 although the width would give 140819.
    EXPECT_EQ(tile_column(-1, MapSource::MapQuest, 4), 140825);

    // Mercator: north at the top, rows growing down from the centre.
    EXPECT_EQ(view_cell_pixel(MapSource::VirtualEarth, 1024, 2048, 2, 0, 0), (WorldPixel{768, 1792}));
    EXPECT_EQ(view_cell_pixel(MapSource::VirtualEarth, 1024, 2048, 2, 1, 1), (WorldPixel{1024, 2048}));
    // Rows growing north: the top cell row holds the highest tile row.
    EXPECT_EQ(view_cell_pixel(MapSource::Etopo2, 1024, 1024, 2, 0, 0), (WorldPixel{768, 1024}));
    EXPECT_EQ(view_cell_pixel(MapSource::MapQuest, 1024, 1024, 4, 3, 3), (WorldPixel{1280, 512}));
    EXPECT_EQ(view_cell_pixel(MapSource::MapQuest, 1024, 1024, 4, 0, 0), (WorldPixel{512, 1280}));
    // Clamped Big Maps views at Mercator level 0 reach the first and the last tile row exactly.
    const int top = clamp_centre_y(-5000, 0, MapSource::OpenStreetMap);
    EXPECT_EQ(tile_row(view_cell_pixel(MapSource::OpenStreetMap, 0, top, 4, 0, 0).y), 0);
    const int bottom = clamp_centre_y(5000, 0, MapSource::OpenStreetMap);
    EXPECT_EQ(tile_row(view_cell_pixel(MapSource::OpenStreetMap, 0, bottom, 4, 3, 0).y), 15);
}

TEST(Geometry, Quadkey) {
    EXPECT_EQ(make_quadkey(0, 0, 0), "0000");
    EXPECT_EQ(make_quadkey(0, 4095, 4095), "3333");
    EXPECT_EQ(make_quadkey(0, 4095, 0), "1111");
    EXPECT_EQ(make_quadkey(0, 0, 4095), "2222");
    EXPECT_EQ(make_quadkey(0, 0, 4096), std::nullopt);
    EXPECT_EQ(make_quadkey(0, 0, -1), std::nullopt);
    EXPECT_EQ(make_quadkey(1, 16384, 0), "1000000");
    // Columns wrap round the world.
    EXPECT_EQ(make_quadkey(0, -1, 0), make_quadkey(0, 4095, 0));
    EXPECT_EQ(make_quadkey(1, 32768 + 5, 7), make_quadkey(1, 5, 7));
    for (int level = 0; level < kLevelCount; ++level)
        EXPECT_EQ(make_quadkey(level, 1, 1)->size(), static_cast<std::size_t>(3 * level + 4));
    // Every key names the standard web tile: interleaved bits of its tile row and column.
    const auto key = *make_quadkey(2, 700 * 256 + 3, 333 * 256 + 200);
    int row = 0, col = 0;
    for (char d : key) {
        row = row * 2 + ((d - '0') >> 1);
        col = col * 2 + ((d - '0') & 1);
    }
    EXPECT_EQ(row, 333);
    EXPECT_EQ(col, 700);
}

TEST(Geometry, CompassPoint) {
    EXPECT_STREQ(compass_point(0), "N");
    EXPECT_STREQ(compass_point(22.4), "N");
    EXPECT_STREQ(compass_point(22.5), "NE");
    EXPECT_STREQ(compass_point(90), "E");
    EXPECT_STREQ(compass_point(168.75), "S");
    EXPECT_STREQ(compass_point(170), "S");
    EXPECT_STREQ(compass_point(225), "SW");
    EXPECT_STREQ(compass_point(315), "NW");
    EXPECT_STREQ(compass_point(337.5), "N");
    EXPECT_STREQ(compass_point(359.999), "N");
    EXPECT_STREQ(compass_point(-90), "W");
    EXPECT_STREQ(compass_point(450), "E");
    EXPECT_STREQ(compass_point(std::numeric_limits<double>::quiet_NaN()), "N");
    const std::set<std::string> names = {"N", "NE", "E", "SE", "S", "SW", "W", "NW"};
    for (double course = 0; course < 360; course += 0.01) ASSERT_TRUE(names.count(compass_point(course))) << course;
}

// Degrees → pixel → degrees stays within one pixel's size, for every source and level.
TEST(Geometry, RandomRoundTripWithinOnePixel) {
    std::mt19937_64 rng(20261207);
    std::uniform_real_distribution<double> lon(-180.0, 179.999);
    std::uniform_real_distribution<double> lat_equi(-89.999, 89.999);
    std::uniform_real_distribution<double> lat_merc(-85.05, 85.05);
    for (int i = 0; i < 4000; ++i) {
        for (MapSource s : kAllSources) {
            for (int level = 0; level < kLevelCount; ++level) {
                const double la = s == MapSource::Etopo2 || s == MapSource::MapQuest ? lat_equi(rng) : lat_merc(rng);
                const double lo = lon(rng);
                const WorldPixel p = geo_to_pixel(la, lo, s, level);
                const double back_lo = pixel_to_longitude(p.x, s, level);
                const double back_lo_next = pixel_to_longitude(p.x + 1, s, level);
                ASSERT_LE(back_lo, lo + 1e-9);
                ASSERT_GE(back_lo_next, lo - 1e-9);
                const double a = pixel_to_latitude(p.y, s, level);
                const double b = pixel_to_latitude(p.y + 1, s, level);
                // Rows run north or south depending on the source.
                ASSERT_LE(std::min(a, b), la + 1e-6) << static_cast<int>(s) << " " << level << " " << la;
                ASSERT_GE(std::max(a, b), la - 1e-6) << static_cast<int>(s) << " " << level << " " << la;
            }
        }
    }
}

}  // namespace
}  // namespace vg
