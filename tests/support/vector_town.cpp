#include "support/vector_town.h"

#include <filesystem>
#include <mutex>
#include <system_error>

#include "support/test_paths.h"

#ifndef _WIN32
#include <unistd.h>

#include "support/run_program.h"
#endif

namespace vg::test {

namespace {

namespace fs = std::filesystem;

struct Made {
    std::string path;
    std::string problem;
};

#ifdef _WIN32
Made make_town() { return {"", "tilemaker and osmium-tool are run on Linux only"}; }
#else
// Debian's tilemaker package ships the OpenMapTiles config and process script as examples.
const fs::path kTilemakerExamples = "/usr/share/doc/tilemaker/examples";

Made make_town() {
    const fs::path osm = shared_testdata() / "vector" / "town.osm";
    const fs::path folder = fs::path(VG_TEST_BUILD_DIR) / "vector-town";
    const fs::path pack = folder / "town.mbtiles";
    std::error_code ec;
    if (fs::exists(pack, ec) && fs::last_write_time(pack, ec) >= fs::last_write_time(osm, ec) && !ec) {
        return {pack.string(), ""};
    }
    for (const char* tool : {"osmium", "tilemaker"}) {
        if (!have_tool(tool)) return {"", std::string(tool) + " is not installed (osmium-tool, tilemaker)"};
    }
    const fs::path config = kTilemakerExamples / "config-openmaptiles.json";
    const fs::path process = kTilemakerExamples / "process-openmaptiles.lua";
    if (!fs::exists(config, ec) || !fs::exists(process, ec)) {
        return {"", "tilemaker's OpenMapTiles config is not in " + kTilemakerExamples.string()};
    }
    // A folder of this process's own: tilemaker looks for the config's shapefiles (none here, so the
    // sea and landcover layers stay empty) relative to it.
    const fs::path work = folder / ("make-" + std::to_string(::getpid()));
    fs::remove_all(work, ec);
    fs::create_directories(work, ec);
    const auto pbf = run_program("osmium", {"cat", osm.string(), "-o", "town.osm.pbf"}, work);
    if (pbf.status != 0) return {"", "osmium cat failed: " + pbf.err};
    const auto tiles = run_program("tilemaker", {"--input", "town.osm.pbf", "--output", "town.mbtiles", "--config",
                                                 config.string(), "--process", process.string(), "--threads", "1"},
                                   work);
    if (tiles.status != 0) return {"", "tilemaker failed: " + tiles.out + tiles.err};
    fs::rename(work / "town.mbtiles", pack, ec);
    fs::remove_all(work);
    if (ec) return {"", "cannot move the pack into " + folder.string() + ": " + ec.message()};
    return {pack.string(), ""};
}
#endif

const Made& made() {
    static Made result;
    static std::once_flag once;
    std::call_once(once, [] { result = make_town(); });
    return result;
}

}  // namespace

std::string town_mbtiles() { return made().path; }
std::string town_mbtiles_problem() { return made().problem; }

}  // namespace vg::test
