// Tiles of a real producer: tilemaker's OpenMapTiles-schema tiles of the test town all decode, and
// the town's water, roads, buildings, house numbers and names in three scripts are in them.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <map>
#include <set>

#include "support/vector_town.h"
#include "tiles/mvt.h"

namespace vg::mvt {
namespace {

TEST(VectorTown, EveryTileOfTheProducerDecodesWithTheTownInIt) {
    VG_TOWN_MBTILES(pack);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(pack.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* query = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT zoom_level, tile_data FROM tiles", -1, &query, nullptr), SQLITE_OK);
    std::set<int> zooms;
    std::map<std::string, std::set<std::string>> seen;  // layer -> its class and name values
    while (sqlite3_step(query) == SQLITE_ROW) {
        const int zoom = sqlite3_column_int(query, 0);
        const std::string_view data(static_cast<const char*>(sqlite3_column_blob(query, 1)),
                                    static_cast<std::size_t>(sqlite3_column_bytes(query, 1)));
        std::string error;
        const auto raw = unwrap_gzip(data, error);
        ASSERT_TRUE(raw) << "zoom " << zoom << ": " << error;
        ASSERT_NE(*raw, data) << "tiles are stored compressed";
        const auto tile = decode(*raw, error);
        ASSERT_TRUE(tile) << "zoom " << zoom << ": " << error;
        zooms.insert(zoom);
        for (const auto& layer : tile->layers) {
            EXPECT_EQ(layer.extent, 4096U);
            auto& values = seen[layer.name];
            for (const auto& feature : layer.features) {
                if (feature.type == GeomType::Polygon) {
                    EXPECT_FALSE(polygons(feature).empty());
                }
                for (const char* key : {"class", "name:latin", "name", "housenumber"}) {
                    if (const Value* v = layer.property(feature, key); v && v->kind == Value::Kind::String)
                        values.insert(v->string);
                }
            }
        }
    }
    sqlite3_finalize(query);
    sqlite3_close(db);
    EXPECT_EQ(zooms.size(), 15U);
    const std::map<std::string, std::set<std::string>> expected{
        {"water", {"lake"}},
        {"waterway", {"river", "Silver River"}},
        {"transportation", {"primary", "secondary", "tertiary", "minor", "path"}},
        {"transportation_name", {"High Street", "Church Road", "Mill Lane", "Улица Мира"}},
        {"building", {}},
        {"housenumber", {"1", "2", "3", "7"}},
        {"place", {"town", "village", "hamlet", "Lakeford", "Берёзовка", "Κάτω Μύλος"}},
    };
    for (const auto& [layer, values] : expected) {
        ASSERT_TRUE(seen.count(layer)) << layer;
        for (const auto& value : values) EXPECT_TRUE(seen[layer].count(value)) << layer << ": " << value;
    }
}

}  // namespace
}  // namespace vg::mvt
