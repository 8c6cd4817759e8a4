// A real producer's tiles drawn as a view: tilemaker's OpenMapTiles tiles of the test town, every
// zoom-14 tile of the pack a cell, with the built-in day style. Each place is named once in the view
// (the tiles' buffers repeat places near their edges), and no two labels meet. A lake's name on its
// polygon, which the tiles cut, is drawn once at every zoom.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <map>

#include "support/vector_town.h"
#include "vectormap/render.h"

namespace vg::vmap {
namespace {

// The tiles of `zoom` in an MBTiles pack, by (column, row from the north).
std::map<std::pair<int, int>, mvt::Tile> read_zoom(const std::string& pack, int zoom) {
    std::map<std::pair<int, int>, mvt::Tile> tiles;
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open_v2(pack.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* query = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, "SELECT tile_column, tile_row, tile_data FROM tiles WHERE zoom_level = ?", -1,
                                 &query, nullptr),
              SQLITE_OK);
    sqlite3_bind_int(query, 1, zoom);
    while (sqlite3_step(query) == SQLITE_ROW) {
        const std::string_view data(static_cast<const char*>(sqlite3_column_blob(query, 2)),
                                    static_cast<std::size_t>(sqlite3_column_bytes(query, 2)));
        std::string error;
        auto tile = mvt::unwrap_gzip(data, error);
        auto decoded = tile ? mvt::decode(*tile, error) : std::nullopt;
        EXPECT_TRUE(decoded) << error;
        // MBTiles count rows from the south.
        if (decoded) tiles[{sqlite3_column_int(query, 0), (1 << zoom) - 1 - sqlite3_column_int(query, 1)}] = std::move(*decoded);
    }
    sqlite3_finalize(query);
    sqlite3_close(db);
    return tiles;
}

TEST(VectorTownRender, EachPlaceIsNamedOnceInTheView) {
    VG_TOWN_MBTILES(pack);
    const auto tiles = read_zoom(pack, 14);
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

// A lake's name on its polygon: tiles of zooms 14 to 16 each hold a clip of the lake (with their
// buffer), and cells at zoom 17 are drawn from zoom 16; at every zoom exactly one cell draws the name.
TEST(VectorTownRender, ALakesNameIsDrawnOnceWhereverTilesCutTheLake) {
    const std::string pack = test::town_lakes_mbtiles();
    if (pack.empty()) GTEST_SKIP() << test::town_lakes_problem();
    std::string error;
    const auto style = Style::parse(R"({"version":8,"layers":[
      {"id":"water","type":"fill","source-layer":"water","paint":{"fill-color":"#a0c8f0"}},
      {"id":"lake-name","type":"symbol","source-layer":"water","layout":{"text-field":"{name}","text-size":12}}]})",
                                    error);
    ASSERT_TRUE(style) << error;
    for (int zoom = 14; zoom <= 17; ++zoom) {
        const int source_zoom = std::min(zoom, 16), depth = zoom - source_zoom;
        const auto tiles = read_zoom(pack, source_zoom);
        ASSERT_GE(tiles.size(), 4u);
        int drawn = 0;
        for (const auto& [at, tile] : tiles) {
            const TileId source{source_zoom, at.first, at.second};
            for (int dy = 0; dy < (1 << depth); ++dy)
                for (int dx = 0; dx < (1 << depth); ++dx) {
                    RenderInfo info;
                    render_cell({zoom, (at.first << depth) + dx, (at.second << depth) + dy}, tile, source, *style, 1, &info);
                    for (const PlacedLabel& l : info.labels) drawn += l.text == "Broadwater";
                }
        }
        EXPECT_EQ(drawn, 1) << "zoom " << zoom;
    }
}

}  // namespace
}  // namespace vg::vmap
