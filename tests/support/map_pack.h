// Map packs for the tests, written by the real sqlite3 command (Debian's sqlite3 package), so the
// reader is tested against files it did not write itself. On Windows (map_pack_windows.cpp) the same
// SQL goes through SQLite's library, as no sqlite3 command or POSIX shell is there.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace vg::test {

struct PackTile {
    int zoom, column, row;       // row as stored (TMS or xyz, as the test means)
    std::filesystem::path file;  // its bytes become tile_data
};

// Runs `sql` through `sqlite3 DB`; true when the command succeeded.
bool run_sqlite(const std::filesystem::path& db, const std::string& sql);

// A pack with the usual schema, the given metadata rows and tiles.
bool make_pack(const std::filesystem::path& db, const std::vector<std::pair<std::string, std::string>>& metadata,
               const std::vector<PackTile>& tiles);

// SQL of a pack whose `tiles` (or, with `metadata_too`, also `metadata`) is a view that never ends:
// a recursive query with no stop. Reading it whole, or looking a tile up in it, would run forever.
inline std::string endless_pack_sql(bool metadata_too) {
    const std::string endless = "WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM r) ";
    return (metadata_too ? "CREATE VIEW metadata AS " + endless + "SELECT 'k' || n AS name, 'v' AS value FROM r;\n"
                         : "CREATE TABLE metadata (name text, value text);\n"
                           "INSERT INTO metadata VALUES ('name', 'Endless'), ('format', 'png');\n") +
           "CREATE VIEW tiles AS " + endless +
           "SELECT n AS zoom_level, n AS tile_column, n AS tile_row, x'00' AS tile_data FROM r;\n";
}

}  // namespace vg::test
