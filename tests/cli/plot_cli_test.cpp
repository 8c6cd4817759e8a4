// `vortool plot` run as a real process on a real track: a PNG of the asked size and an SVG, and clear
// refusals (status 1 for a file that is no track or has nothing to plot, 2 for wrong arguments) that
// leave no picture behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/run_program.h"
#include "support/test_paths.h"

namespace {

namespace fs = std::filesystem;
using vg::test::RunResult;

const fs::path kTrack = vg::test::shared_testdata() / "gpx" / "nmea-rtk.gpx";

RunResult plot(const std::vector<std::string>& args, const fs::path& dir) {
    std::vector<std::string> all = {"plot"};
    all.insert(all.end(), args.begin(), args.end());
    return vg::test::run_program(vg::test::vortool_path().string(), all, dir);
}

TEST(PlotCli, RealTrackAsPngAndSvg) {
    vg::test::TempDir dir;
    RunResult r = plot({"--profile", "elevation", kTrack.string(), "--out", "e.png", "--size", "640x300"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("points 122 length_m ", 0), 0u) << r.out;
    const std::string png = vg::test::read_file(dir.path() / "e.png");
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
    // IHDR: width and height, big-endian, at bytes 16 and 20.
    auto be32 = [&](std::size_t at) {
        return (static_cast<unsigned char>(png[at]) << 24) | (static_cast<unsigned char>(png[at + 1]) << 16) |
               (static_cast<unsigned char>(png[at + 2]) << 8) | static_cast<unsigned char>(png[at + 3]);
    };
    EXPECT_EQ(be32(16), 640u);
    EXPECT_EQ(be32(20), 300u);

    r = plot({"--profile", "speed", "--x", "time", "--units", "nautical", kTrack.string(), "--out", "s.svg"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string svg = vg::test::read_file(dir.path() / "s.svg");
    EXPECT_NE(svg.find("<svg"), std::string::npos);
    EXPECT_NE(svg.find(">kn<"), std::string::npos);
    EXPECT_NE(svg.find(">Speed: nmea-rtk<"), std::string::npos);
}

TEST(PlotCli, BadFilesAndArgumentsAreRefusedClearly) {
    vg::test::TempDir dir;
    vg::test::write_file(dir.path() / "notes.gpx", "<html>not a track</html>");
    vg::test::write_file(dir.path() / "flat.gpx",
                         "<gpx version=\"1.1\" creator=\"t\" xmlns=\"http://www.topografix.com/GPX/1/1\"><trk><trkseg>"
                         "<trkpt lat=\"60\" lon=\"25\"/><trkpt lat=\"60.1\" lon=\"25\"/></trkseg></trk></gpx>");
    vg::test::write_file(dir.path() / "empty.log", "garbage\n");
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {{"--profile", "elevation", "missing.gpx", "--out", "p.png"}, 1, "cannot read missing.gpx"},
        {{"--profile", "elevation", "notes.gpx", "--out", "p.png"}, 1, "notes.gpx: "},
        {{"--profile", "elevation", "flat.gpx", "--out", "p.png"}, 1, "flat.gpx has no heights"},
        {{"--profile", "speed", "flat.gpx", "--out", "p.png"}, 1, "flat.gpx has no speeds"},
        {{"--profile", "elevation", "empty.log", "--out", "p.png"}, 1, "has no track points"},
        {{"--profile", "height", kTrack.string(), "--out", "p.png"}, 2, "--profile must be elevation or speed"},
        {{kTrack.string(), "--out", "p.png"}, 2, "--profile must be elevation or speed"},
        {{"--profile", "speed", kTrack.string(), "--out", "p.gif"}, 2, ".png or .svg"},
        {{"--profile", "speed", kTrack.string(), "--out", "p.png", "--size", "50x50"}, 2, "100 to 8000"},
        {{"--profile", "speed", kTrack.string(), "--out", "p.png", "--x", "km"}, 2, "--x must be"},
        {{"--profile", "speed", "--out", "p.png"}, 2, "a track file is required"},
        {{"--profile", "speed", kTrack.string(), "--out", "p.png", "--colour", "red"}, 2, "unknown option"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        const RunResult r = plot(c.args, dir.path());
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(dir.path() / "p.png"));
    }
}

}  // namespace
