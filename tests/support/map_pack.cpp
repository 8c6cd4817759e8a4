#include "map_pack.h"

#include <cstdlib>

#include "test_paths.h"

namespace vg::test {

namespace {
std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
}
}  // namespace

bool run_sqlite(const std::filesystem::path& db, const std::string& sql) {
    const std::filesystem::path script = db.string() + ".sql";
    write_file(script, sql);
    const std::string command = "sqlite3 -batch '" + db.string() + "' < '" + script.string() + "' >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    std::filesystem::remove(script);
    return status == 0;
}

bool make_pack(const std::filesystem::path& db, const std::vector<std::pair<std::string, std::string>>& metadata,
               const std::vector<PackTile>& tiles) {
    std::string sql =
        "CREATE TABLE metadata (name text, value text);\n"
        "CREATE UNIQUE INDEX name ON metadata (name);\n"
        "CREATE TABLE tiles (zoom_level integer, tile_column integer, tile_row integer, tile_data blob);\n"
        "CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, tile_row);\n";
    for (const auto& [k, v] : metadata) sql += "INSERT INTO metadata VALUES (" + quoted(k) + ", " + quoted(v) + ");\n";
    for (const PackTile& t : tiles)
        sql += "INSERT INTO tiles VALUES (" + std::to_string(t.zoom) + ", " + std::to_string(t.column) + ", " +
               std::to_string(t.row) + ", readfile(" + quoted(t.file.string()) + "));\n";
    return run_sqlite(db, sql);
}

}  // namespace vg::test
