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

}  // namespace vg::test
