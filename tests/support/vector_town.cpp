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
Made make_lakes() { return make_town(); }
#else
// Debian's tilemaker package ships the OpenMapTiles config and process script as examples.
const fs::path kTilemakerExamples = "/usr/share/doc/tilemaker/examples";

// tests/data/vector/<source>.osm through tilemaker with `config` and `process` into
// <build>/vector-town/<name>.mbtiles.
Made make_pack(const std::string& source, const std::string& name, const fs::path& config, const fs::path& process) {
    const fs::path osm = shared_testdata() / "vector" / (source + ".osm");
    const fs::path folder = fs::path(VG_TEST_BUILD_DIR) / "vector-town";
    const fs::path pack = folder / (name + ".mbtiles");
    std::error_code ec;
    if (fs::exists(pack, ec) && fs::last_write_time(pack, ec) >= fs::last_write_time(osm, ec) && !ec) {
        return {pack.string(), ""};
    }
    for (const char* tool : {"osmium", "tilemaker"}) {
        if (!have_tool(tool)) return {"", std::string(tool) + " is not installed (osmium-tool, tilemaker)"};
    }
    if (!fs::exists(config, ec) || !fs::exists(process, ec)) {
        return {"", "tilemaker's OpenMapTiles config is not in " + kTilemakerExamples.string()};
    }
    const fs::path work = folder / ("make-" + name + "-" + std::to_string(::getpid()));
    fs::remove_all(work, ec);
    fs::create_directories(work, ec);
    const auto pbf = run_program("osmium", {"cat", osm.string(), "-o", "in.osm.pbf"}, work);
    if (pbf.status != 0) return {"", "osmium cat failed: " + pbf.err};
    const auto tiles = run_program("tilemaker", {"--input", "in.osm.pbf", "--output", "out.mbtiles", "--config",
                                                 config.string(), "--process", process.string(), "--threads", "1"},
                                   work);
    if (tiles.status != 0) return {"", "tilemaker failed: " + tiles.out + tiles.err};
    fs::rename(work / "out.mbtiles", pack, ec);
    fs::remove_all(work);
    if (ec) return {"", "cannot move the pack into " + folder.string() + ": " + ec.message()};
    return {pack.string(), ""};
}

Made make_town() {
    return make_pack("town", "town", kTilemakerExamples / "config-openmaptiles.json",
                     kTilemakerExamples / "process-openmaptiles.lua");
}

// The wide lake's polygon with its name, zooms 14 to 16 (the config and script are written beside the
// pack).
Made make_lakes() {
    const fs::path folder = fs::path(VG_TEST_BUILD_DIR) / "vector-town";
    std::error_code ec;
    fs::create_directories(folder, ec);
    const fs::path config = folder / "lakes-config.json", process = folder / "lakes-process.lua";
    write_file(config, R"({"layers": {"water": {"minzoom": 14, "maxzoom": 16}},
 "settings": {"minzoom": 14, "maxzoom": 16, "basezoom": 16, "include_ids": false, "name": "lakes",
              "version": "1.0", "description": "named water areas", "compress": "gzip"}}
)");
    write_file(process, R"(node_keys = {}
function node_function(node) end
function way_function(way)
  if way:Find("natural") == "water" and way:Holds("name") then
    way:Layer("water", true)
    way:Attribute("class", "lake")
    way:Attribute("name", way:Find("name"))
  end
end
)");
    return make_pack("broadwater", "broadwater", config, process);
}
#endif

const Made& made() {
    static Made result;
    static std::once_flag once;
    std::call_once(once, [] { result = make_town(); });
    return result;
}

const Made& lakes() {
    static Made result;
    static std::once_flag once;
    std::call_once(once, [] { result = make_lakes(); });
    return result;
}

}  // namespace

std::string town_mbtiles() { return made().path; }
std::string town_mbtiles_problem() { return made().problem; }
std::string town_lakes_mbtiles() { return lakes().path; }
std::string town_lakes_problem() { return lakes().problem; }

}  // namespace vg::test
