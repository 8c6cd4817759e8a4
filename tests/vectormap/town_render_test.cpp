// A real producer's tiles drawn as a view: tilemaker's OpenMapTiles tiles of the test town, every
// zoom-14 tile of the pack a cell, with the built-in day style. Each place is named once in the view
// (the tiles' buffers repeat places near their edges), and no two labels meet.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <map>

#include "support/vector_town.h"
#include "vectormap/render.h"

namespace vg::vmap {
namespace {

TEST(VectorTownRender, EachPlaceIsNamedOnceInTheView) {
    VG_TOWN_MBTILES(pack);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(pack.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* query = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT tile_column, tile_row, tile_data FROM tiles WHERE zoom_level = 14", -1,
                                 &query, nullptr),
              SQLITE_OK);
    std::map<std::pair<int, int>, mvt::Tile> tiles;
    while (sqlite3_step(query) == SQLITE_ROW) {
        const std::string_view data(static_cast<const char*>(sqlite3_column_blob(query, 2)),
                                    static_cast<std::size_t>(sqlite3_column_bytes(query, 2)));
        std::string error;
        auto tile = mvt::unwrap_gzip(data, error);
        ASSERT_TRUE(tile) << error;
        auto decoded = mvt::decode(*tile, error);
        ASSERT_TRUE(decoded) << error;
        // MBTiles count rows from the south.
        tiles[{sqlite3_column_int(query, 0), (1 << 14) - 1 - sqlite3_column_int(query, 1)}] = std::move(*decoded);
    }
    sqlite3_finalize(query);
    sqlite3_close(db);
    ASSERT_FALSE(tiles.empty());

    std::map<QString, int> named;  // place names of the tiles, and how often each was drawn
    for (const auto& [at, tile] : tiles)
        if (const mvt::Layer* places = tile.layer("place"))
            for (const mvt::Feature& f : places->features)
                for (const char* key : {"name", "name:latin"})
                    if (const mvt::Value* name = places->property(f, key)) named[QString::fromStdString(name->string)];
    ASSERT_GE(named.size(), 2u);
    std::vector<QRectF> boxes;  // in pixels of the view
    const auto [x0, y0] = tiles.begin()->first;
    for (const auto& [at, tile] : tiles) {
        const TileId cell{14, at.first, at.second};
        RenderInfo info;
        render_cell(cell, tile, cell, Style::builtin(Schema::OpenMapTiles, false), 1, &info);
        for (const PlacedLabel& l : info.labels) {
            for (auto& [name, count] : named) count += l.text.contains(name);
            for (const QRectF& part : l.parts) {
                const QRectF box = part.translated((at.first - x0) * 256.0, (at.second - y0) * 256.0);
                for (const QRectF& other : boxes) ASSERT_FALSE(box.intersects(other)) << l.text.toStdString();
            }
            for (const QRectF& part : l.parts) boxes.push_back(part.translated((at.first - x0) * 256.0, (at.second - y0) * 256.0));
        }
    }
    for (const auto& [name, count] : named) EXPECT_EQ(count, 1) << name.toStdString();
}

}  // namespace
}  // namespace vg::vmap
