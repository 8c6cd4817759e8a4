// `vortool gif` run as a real process: decodes of other encoders' files match the reference
// decodes byte for byte, encode and decode round-trip, and every bad input gets exit status 1 (2 for
// usage) without an output file.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "support/run_program.h"
#include "support/test_paths.h"

namespace {

namespace fs = std::filesystem;
using vg::test::read_file;
using vg::test::write_file;

using vg::test::images;

using ToolRun = vg::test::RunResult;

ToolRun gif_tool(const std::string& args) {
    const std::string command = vg::test::vortool_path().string() + " gif " + args + " 2>&1";
    // Both streams together, as the messages are what the cases look at.
    ToolRun run = vg::test::run_shell(command);
    run.err = std::move(run.out);
    run.out.clear();
    return run;
}

std::string quoted(const fs::path& p) { return "'" + p.string() + "'"; }

TEST(GifCli, DecodesOtherEncodersFilesToTheReferencePpm) {
    vg::test::TempDir dir;
    for (const char* name : {"giflib/treescap-interlaced", "giflib/porsche", "wuffs/bricks-dither", "libnsgif/waves",
                             "image-gif/beacon_xmp"}) {
        SCOPED_TRACE(name);
        const fs::path out = dir / "out.ppm";
        const ToolRun r = gif_tool("decode " + quoted(images() / "gif" / (std::string(name) + ".gif")) + " " + quoted(out));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(read_file(out) == read_file(images() / "refs/gif" / (std::string(name) + ".ppm")));
    }
}

TEST(GifCli, EncodeThenDecodeKeepsPaletteColours) {
    vg::test::TempDir dir;
    // giflib's map tile holds only fixed-palette colours, so it survives both directions unchanged.
    ASSERT_EQ(gif_tool("decode " + quoted(images() / "bench/map256.gif") + " " + quoted(dir / "a.ppm")).status, 0);
    ASSERT_EQ(gif_tool("encode " + quoted(dir / "a.ppm") + " " + quoted(dir / "b.gif")).status, 0);
    const std::string gif = read_file(dir / "b.gif");
    ASSERT_GT(gif.size(), 800u);
    EXPECT_EQ(gif.substr(0, 13), std::string("GIF87a\x00\x01\x00\x01\xF7\x00\x00", 13));
    EXPECT_EQ(gif.substr(gif.size() - 2), std::string("\x00\x3B", 2));
    ASSERT_EQ(gif_tool("decode " + quoted(dir / "b.gif") + " " + quoted(dir / "c.ppm")).status, 0);
    EXPECT_TRUE(read_file(dir / "a.ppm") == read_file(dir / "c.ppm"));

    // A PPM with a comment in its header; an off-palette grey comes back as its palette colour.
    write_file(dir / "grey.ppm", std::string("P6\n# grey\n2 1\n255\n") + std::string("\x80\x80\x80\xFF\xFF\xFF", 6));
    ASSERT_EQ(gif_tool("encode " + quoted(dir / "grey.ppm") + " " + quoted(dir / "grey.gif")).status, 0);
    ASSERT_EQ(gif_tool("decode " + quoted(dir / "grey.gif") + " " + quoted(dir / "grey2.ppm")).status, 0);
    EXPECT_EQ(read_file(dir / "grey2.ppm"), std::string("P6\n2 1\n255\n\x92\x92\xAA\xFF\xFF\xFF", 17));
}

TEST(GifCli, BadInputGetsAClearOutcomeAndNoOutput) {
    vg::test::TempDir dir;
    const fs::path out = dir / "out";
    struct Case {
        std::string args;
        int status;
    };
    write_file(dir / "cut.ppm", "P6\n4 4\n255\n\x01\x02\x03");
    write_file(dir / "p3.ppm", "P3\n1 1\n255\n0 0 0\n");
    write_file(dir / "deep.ppm", std::string("P6\n1 1\n65535\n") + std::string(6, '\0'));
    write_file(dir / "empty.ppm", "P6\n0 0\n255\n");
    write_file(dir / "noimage.gif", std::string("GIF89a\x01\x00\x01\x00\x00\x00\x00;", 14));
    const Case cases[] = {
        {"decode " + quoted(images() / "png/pngsuite/basn2c08.png") + " " + quoted(out), 1},
        {"decode " + quoted(images() / "gif/image-gif/issue-101-infinite-empty-loop.gif") + " " + quoted(out), 1},
        {"decode " + quoted(dir / "noimage.gif") + " " + quoted(out), 1},
        {"decode " + quoted(dir / "missing.gif") + " " + quoted(out), 1},
        {"encode " + quoted(dir / "cut.ppm") + " " + quoted(out), 1},
        {"encode " + quoted(dir / "p3.ppm") + " " + quoted(out), 1},
        {"encode " + quoted(dir / "deep.ppm") + " " + quoted(out), 1},
        {"encode " + quoted(dir / "empty.ppm") + " " + quoted(out), 1},
        {"encode " + quoted(images() / "refs/gif/giflib/porsche.ppm") + " " + quoted(dir / "no/such/dir.gif"), 1},
        {"", 2},
        {"decode onlyone", 2},
        {"convert a b", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const ToolRun r = gif_tool(c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_FALSE(r.err.empty());
        EXPECT_FALSE(fs::exists(out));
    }
}

}  // namespace
