// Leftovers of killed writers are recognised by name and removed only once they are stale.
#include "platform/temp_files.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/test_paths.h"

namespace vg {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(TempFiles, StaleLeftoversGoAndEverythingElseStays) {
    test::TempDir dir;
    fs::create_directories(dir / "Maps/OSM/2/1");
    const auto old = fs::file_time_type::clock::now() - 2h;
    const char* stale[] = {"vor_set.txt.4242.0.tmp", "Maps/OSM/2/1/03.png.partAb12Xy", "tcpip.tmp.partQQQQQQ"};
    const char* kept[] = {
        "vor_set.txt",              // data
        "tcpip.tmp",                // the probe's own scratch name
        "Maps/OSM/2/1/03.png",      // a tile
        "Maps/OSM/2/1/04.png.part", // not the temporary pattern
        "notes.1.x.tmp",            // not PID.N
    };
    for (const char* name : stale) {
        test::write_file(dir / name, "partial");
        fs::last_write_time(dir / name, old);
    }
    for (const char* name : kept) {
        test::write_file(dir / name, "data");
        fs::last_write_time(dir / name, old);
    }
    // A fresh one may belong to a writer that is still running.
    test::write_file(dir / "vor_set.txt.4243.1.tmp", "writing");

    EXPECT_EQ(remove_stale_temporary_files(dir.path(), false, 1h), 2u);  // the top folder only
    EXPECT_FALSE(fs::exists(dir / stale[0]));
    EXPECT_TRUE(fs::exists(dir / stale[1]));
    EXPECT_EQ(remove_stale_temporary_files(dir.path(), true, 1h), 1u);
    for (const char* name : stale) EXPECT_FALSE(fs::exists(dir / name)) << name;
    for (const char* name : kept) EXPECT_TRUE(fs::exists(dir / name)) << name;
    EXPECT_TRUE(fs::exists(dir / "vor_set.txt.4243.1.tmp"));
    EXPECT_EQ(remove_stale_temporary_files(dir / "no such folder", true, 1h), 0u);
}

}  // namespace
}  // namespace vg
