// vortool ntrip against rtklib's str2str as the caster: the source table, the valid frames of gpsd's
// capture recorded to a file, and a wrong password reported as such, with the password printed nowhere.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "net/socket_util.h"
#include "platform/sockets.h"
#include "support/peers.h"
#include "support/rtcm3_capture.h"
#include "support/run_program.h"
#include "support/test_paths.h"

namespace vg {
namespace {

TEST(NtripCli, SourcesAndFramesFromStr2strAndAWrongPasswordNamed) {
    if (!test::have_tool("str2str")) GTEST_SKIP() << "rtklib's str2str is not installed";
    sockets_startup();
    test::TempDir dir;
    const auto capture = test::rtcm3_capture();
    const int input = test::free_loopback_port();
    const int port = test::free_loopback_port();
    test::ChildProcess caster({"/usr/bin/str2str", "-in", "tcpsvr://:" + std::to_string(input), "-out",
                               "ntripc://alice:s3cret-pw@:" + std::to_string(port) + "/GPSD"},
                              dir / "str2str.log");
    ASSERT_TRUE(test::eventually([&] { return test::loopback_port_accepts(port); }));
    const std::string base = "http://alice@127.0.0.1:" + std::to_string(port) + "/";
    test::write_file(dir / "ntrip_password.txt", "s3cret-pw\n");
    std::filesystem::permissions(dir / "ntrip_password.txt",
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

    const auto sources = test::run_program(test::vortool_path().string(), {"ntrip", "sources", base, "--near", "60,25"},
                                           dir.path());
    EXPECT_EQ(sources.status, 0) << sources.err;
    EXPECT_TRUE(sources.out.starts_with("GPSD\t")) << sources.out;

    // The recording runs while the test feeds the caster (a copy of the first frame with a flipped bit first).
    const auto frames = dir / "frames.rtcm3";
    const auto log = dir / "get.log";
    {
        test::ChildProcess get({test::vortool_path().string(), "ntrip", "get", base + "GPSD", "--out", frames.string(),
                                "--password-file", (dir / "ntrip_password.txt").string()},
                               log);
        ASSERT_TRUE(test::eventually([&] { return test::read_file(log).find("streaming") != std::string::npos; }))
            << test::read_file(log);
        Socket feed = make_tcp_socket();
        ASSERT_EQ(connect_with_timeout(feed, htonl(INADDR_LOOPBACK), input, std::chrono::seconds(5)), 0);
        std::string bad = capture.valid.substr(0, capture.frames[0].bytes.size());
        bad[20] = static_cast<char>(bad[20] ^ 0x40);
        ASSERT_EQ(send_all(feed, bad + capture.bytes, std::chrono::seconds(5)), 0);
        EXPECT_TRUE(test::eventually([&] { return test::read_file(frames).size() >= capture.valid.size(); }));
    }
    EXPECT_TRUE(test::read_file(frames) == capture.valid);
    const test::RunResult got{0, {}, test::read_file(log)};
    EXPECT_NE(got.err.find("192 frames"), std::string::npos) << got.err;

    test::write_file(dir / "ntrip_password.txt", "wrong-pw\n");
    const auto refused = test::run_program(test::vortool_path().string(),
                                           {"ntrip", "get", base + "GPSD", "--out", "none", "--seconds", "2"}, dir.path());
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("unauthorized"), std::string::npos) << refused.err;
    for (const auto* text : {&sources.out, &sources.err, &got.out, &got.err, &refused.out, &refused.err}) {
        EXPECT_EQ(text->find("s3cret"), std::string::npos) << *text;
        EXPECT_EQ(text->find("wrong-pw"), std::string::npos) << *text;
    }
}

}  // namespace
}  // namespace vg
