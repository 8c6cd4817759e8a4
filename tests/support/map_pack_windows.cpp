// Map packs on Windows, where the tests have no sqlite3 command and no POSIX shell: the same SQL goes
// through SQLite's own library (cross-built from Debian's source), the tiles bound as blobs.
#include "map_pack.h"

#include <sqlite3.h>

#include "test_paths.h"

namespace vg::test {

namespace {

// readfile(PATH), as the sqlite3 command has it: the file's bytes as a blob, NULL when unreadable.
void readfile(sqlite3_context* context, int, sqlite3_value** args) {
    const auto* name = reinterpret_cast<const char*>(sqlite3_value_text(args[0]));
    std::error_code ec;
    if (!name || !std::filesystem::is_regular_file(name, ec)) return sqlite3_result_null(context);
    const std::string bytes = read_file(name);
    sqlite3_result_blob64(context, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
}

struct Db {
    sqlite3* handle = nullptr;
    explicit Db(const std::filesystem::path& path) {
        if (sqlite3_open_v2(path.string().c_str(), &handle, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK ||
            sqlite3_create_function(handle, "readfile", 1, SQLITE_UTF8, nullptr, readfile, nullptr, nullptr) != SQLITE_OK) {
            sqlite3_close(handle);
            handle = nullptr;
        }
    }
    ~Db() { sqlite3_close(handle); }
    bool exec(const std::string& sql) { return handle && sqlite3_exec(handle, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK; }
};

// Runs one INSERT with text parameters, then integer ones, then a blob; true when it completed.
bool insert(Db& db, const char* sql, const std::vector<std::string>& texts, const std::vector<int>& numbers = {},
            const std::string* blob = nullptr) {
    sqlite3_stmt* s = nullptr;
    if (!db.handle || sqlite3_prepare_v2(db.handle, sql, -1, &s, nullptr) != SQLITE_OK) return false;
    int i = 1;
    for (const std::string& t : texts) sqlite3_bind_text(s, i++, t.data(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
    for (int n : numbers) sqlite3_bind_int(s, i++, n);
    if (blob) sqlite3_bind_blob(s, i, blob->data(), static_cast<int>(blob->size()), SQLITE_TRANSIENT);
    const bool ok = sqlite3_step(s) == SQLITE_DONE;
    sqlite3_finalize(s);
    return ok;
}

}  // namespace

bool run_sqlite(const std::filesystem::path& db, const std::string& sql) {
    Db d(db);
    return d.exec(sql);
}

bool make_pack(const std::filesystem::path& db, const std::vector<std::pair<std::string, std::string>>& metadata,
               const std::vector<PackTile>& tiles) {
    Db d(db);
    if (!d.exec("CREATE TABLE metadata (name text, value text);\n"
                "CREATE UNIQUE INDEX name ON metadata (name);\n"
                "CREATE TABLE tiles (zoom_level integer, tile_column integer, tile_row integer, tile_data blob);\n"
                "CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, tile_row);\n"))
        return false;
    for (const auto& [k, v] : metadata)
        if (!insert(d, "INSERT INTO metadata VALUES (?, ?)", {k, v})) return false;
    for (const PackTile& t : tiles) {
        const std::string bytes = read_file(t.file);
        if (!insert(d, "INSERT INTO tiles VALUES (?, ?, ?, ?)", {}, {t.zoom, t.column, t.row}, &bytes))
            return false;
    }
    return true;
}

}  // namespace vg::test
