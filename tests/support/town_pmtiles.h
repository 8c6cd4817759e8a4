// The test town's tiles (support/vector_town.h) copied into a PMTiles archive as they are (gzip),
// with the pack's layer list: header-only, for the tests that link the tile library.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

#include "tiles/pmtiles_writer.h"

namespace vg::test {

inline void write_town_pmtiles(const std::string& mbtiles, const std::string& out) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(mbtiles.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* q = nullptr;
    pmtiles::WriterOptions options;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT value FROM metadata WHERE name = 'json'", -1, &q, nullptr), SQLITE_OK);
    if (sqlite3_step(q) == SQLITE_ROW)
        options.metadata_json = reinterpret_cast<const char*>(sqlite3_column_text(q, 0));
    sqlite3_finalize(q);
    std::string error;
    auto writer = pmtiles::Writer::create(out, options, error);
    ASSERT_TRUE(writer) << error;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT zoom_level, tile_column, tile_row, tile_data FROM tiles", -1, &q, nullptr),
              SQLITE_OK);
    while (sqlite3_step(q) == SQLITE_ROW) {
        const int z = sqlite3_column_int(q, 0);
        const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(q, 3));
        ASSERT_TRUE(writer->add_tile(z, sqlite3_column_int(q, 1), (1 << z) - 1 - sqlite3_column_int(q, 2),
                                     {data, static_cast<std::size_t>(sqlite3_column_bytes(q, 3))}));
    }
    sqlite3_finalize(q);
    sqlite3_close(db);
    ASSERT_TRUE(writer->finish(error)) << error;
}

}  // namespace vg::test
