// Leftovers of killed writers are recognised by their exact names and removed only once they are stale.
#include "platform/temp_files.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/test_paths.h"

namespace vg {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(TempFiles, TheWritersNamesAreKnownExactly) {
    EXPECT_EQ(temporary_file_target("vor_set.txt.partAb12Xy", false), "vor_set.txt");     // mkstemp
    EXPECT_EQ(temporary_file_target("vor_set.txt.part4242_17", false), "vor_set.txt");    // Windows
    EXPECT_EQ(temporary_file_target("vor_2_1_2.png.part", true), "vor_2_1_2.png");        // plain, where allowed
    EXPECT_EQ(temporary_file_target("vor_2_1_2.png.part", false), "");
    for (const char* other : {"x.partAb12X", "x.partAb12Xy7", "x.partAb-2Xy", "x.part_1", "x.part1_", "x.part1_2_3",
                              ".partAb12Xy", "x.parts", "x.png", "notes.1.2.tmp", "x.part\xC3\xA4\xC3\xA4\xC3\xA4"})
        EXPECT_EQ(temporary_file_target(other, true), "") << other;
}

TEST(TempFiles, OnlyStaleOnesOfTheFilesAPlaceOwnsGo) {
    test::TempDir dir;
    fs::create_directories(dir / "sub");
    const auto old = fs::file_time_type::clock::now() - 2h;
    auto make = [&](const char* name, bool stale) {
        test::write_file(dir / name, "partial");
        if (stale) fs::last_write_time(dir / name, old);
    };
    make("out.gpx.partAb12Xy", true);
    make("out.gpx.part77_1", true);
    make("out.gpx.partFresh1", false);  // may belong to a writer that is still running
    make("out.gpx.part", true);         // no name of this writer's
    make("other.gpx.partAb12Xy", true);
    make("sub/out.gpx.partAb12Xy", true);
    EXPECT_EQ(remove_stale_temporaries_of(dir / "out.gpx", 1h), 2u);
    for (const char* kept : {"out.gpx.partFresh1", "out.gpx.part", "other.gpx.partAb12Xy", "sub/out.gpx.partAb12Xy"})
        EXPECT_TRUE(fs::exists(dir / kept)) << kept;
    // A place's subfolders only when recursive; a stop request ends the walk.
    std::atomic<bool> stop{true};
    const SweepPlace everything{dir.path(), true, true, {}};
    EXPECT_EQ(remove_stale_temporary_files({everything}, 1h, &stop), 0u);
    EXPECT_EQ(remove_stale_temporary_files({everything}, 1h), 3u);
    EXPECT_TRUE(fs::exists(dir / "out.gpx.partFresh1"));
    EXPECT_EQ(remove_stale_temporary_files({{dir / "no such folder", true, true, {}}}, 1h), 0u);
}

}  // namespace
}  // namespace vg
