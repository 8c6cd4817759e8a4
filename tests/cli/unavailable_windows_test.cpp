// vortool in the Windows build, whose other tests run the program through a POSIX shell: the
// commands are called through the command table, and what the build leaves out answers clearly.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/commands.h"
#include "support/loopback_http_server.h"
#include "support/test_paths.h"

namespace vg::cli {
namespace {

struct Outcome {
    int status;
    std::string out, err;
};

Outcome run(std::vector<std::string> args) {
    const Command* command = find_command(args.at(0));
    EXPECT_NE(command, nullptr) << args[0];
    if (!command) return {-1, "", ""};
    std::vector<char*> argv;
    for (std::size_t i = 1; i < args.size(); ++i) argv.push_back(args[i].data());
    argv.push_back(nullptr);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int status = command->run(static_cast<int>(args.size() - 1), argv.data());
    std::string out = testing::internal::GetCapturedStdout();
    return {status, std::move(out), testing::internal::GetCapturedStderr()};
}

TEST(VortoolWindows, WhatTheBuildLeavesOutSaysSoAndPlainHttpWorks) {
    // https needs libcurl.
    const Outcome tls = run({"get", "https://127.0.0.1:1/t.png"});
    EXPECT_EQ(tls.status, 1);
    EXPECT_EQ(tls.out, "Error: 0 in https://127.0.0.1:1/t.png: not available in this build (made without libcurl)\n");

    // The simulator needs a Linux pseudo-terminal.
    const Outcome sim = run({"sim"});
    EXPECT_EQ(sim.status, 1);
    EXPECT_EQ(sim.err, "vortool sim: not available in this build (it needs a Linux pseudo-terminal)\n");

    // Plain http goes through the program's own client.
    test::TempDir dir;
    test::LoopbackHttpServer server(test::ScriptedReply::make(200, "image/png", "png bytes", true));
    const Outcome get = run({"get", server.url("/t.png"), (dir / "t.png").string()});
    EXPECT_EQ(get.status, 0) << get.out;
    EXPECT_EQ(test::read_file(dir / "t.png"), "png bytes");
}

}  // namespace
}  // namespace vg::cli
