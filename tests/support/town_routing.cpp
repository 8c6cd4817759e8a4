#include "support/town_routing.h"

#include <memory>
#include <mutex>

#include "support/test_paths.h"

#ifndef _WIN32
#include "support/run_program.h"
#endif

namespace vg::test {
namespace {

struct Made {
    std::unique_ptr<TempDir> dir;
    std::filesystem::path maps;
    std::string problem;
};

const Made& made() {
    static Made m;
    static std::once_flag once;
    std::call_once(once, [] {
#ifdef _WIN32
        m.problem = "Routino's planetsplitter is run on Linux only";
#else
        if (!have_tool("planetsplitter")) {
            m.problem = "planetsplitter is not installed (Debian package routino)";
            return;
        }
        m.dir = std::make_unique<TempDir>();
        const auto folder = m.dir->path() / "routing" / "town";
        std::filesystem::create_directories(folder);
        const auto run = run_program("planetsplitter", {"--loggable", "--dir=" + folder.string(),
                                                        (shared_testdata() / "vector" / "town.osm").string()});
        if (run.status != 0) {
            m.problem = "planetsplitter failed: " + run.out + run.err;
            return;
        }
        m.maps = m.dir->path();
#endif
    });
    return m;
}

}  // namespace

std::filesystem::path town_routing_maps() { return made().maps; }
std::string town_routing_problem() { return made().problem; }

}  // namespace vg::test
