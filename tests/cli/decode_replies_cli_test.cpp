// vortool decode for the binary receivers, and the bytes each parser sends back (--replies).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "gps/receiver_logs.h"
#include "support/run_program.h"
#include "support/test_paths.h"

namespace vg {
namespace {

// Runs vortool in `dir` (where it finds vor_pos.txt) with `args`; the output without its last line feed.
test::RunResult vortool_in(const test::TempDir& dir, const std::string& args) {
    test::RunResult run = test::run_shell("cd '" + dir.path().string() + "' && '" + test::vortool_path().string() +
                                          "' " + args + " 2>/dev/null");
    if (!run.out.empty() && run.out.back() == '\n') run.out.pop_back();
    return run;
}

std::string expected(const std::string& name) {
    std::string json = test::read_file(test::shared_testdata() / "receivers/expected" / (name + ".json"));
    while (!json.empty() && json.back() == '\n') json.pop_back();
    return json;
}

std::string checksum_ok(const std::string& sentence) {
    // "$...*HH\r\n": the two hexadecimal digits are the XOR of everything between "$" and "*".
    const auto star = sentence.find('*');
    if (sentence.empty() || sentence[0] != '$' || star == std::string::npos) return "malformed";
    unsigned sum = 0;
    for (std::size_t i = 1; i < star; ++i) sum ^= static_cast<unsigned char>(sentence[i]);
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", sum);
    return sentence.substr(star + 1) == std::string(hex) + "\r\n" ? "ok" : "bad checksum";
}

TEST(DecodeRepliesCli, EarthmateCaptureAndItsAnswers) {
    test::TempDir dir;
    test::write_file(dir / "vor_pos.txt", "N  60 10 30\nE  24 55 00\n");
    const auto receivers = test::shared_testdata() / "receivers";

    // The EarthMate handshake: one answer per read holding "EARTHA", then message 1200 once.
    test::RunResult earthmate = vortool_in(dir, "decode --device e --replies replies.bin '" + (receivers / "earthmate").string() + "'");
    ASSERT_EQ(earthmate.status, 0);
    EXPECT_EQ(test::without_added_keys(earthmate.out), expected("earthmate"));
    const std::string replies = test::read_file(dir / "replies.bin");
    ASSERT_EQ(replies.size(), 8u + 8 + 54);
    EXPECT_EQ(replies.substr(0, 16), "EARTHA\r\nEARTHA\r\n");
    EXPECT_EQ(replies.substr(16, 10), std::string("\xFF\x81\xB0\x04\x15\x00\x00\x00\x3C\x79", 10));
    // Latitude 105025187 = 0x06428EA3 and longitude 43487787 = 0x0297922B, low word first.
    EXPECT_EQ(replies.substr(26 + 22, 8), std::string("\xA3\x8E\x42\x06\x2B\x92\x97\x02", 8));
}

TEST(DecodeRepliesCli, AstralAnswersForEveryNmeaType) {
    test::TempDir dir;
    test::write_file(dir / "vor_pos.txt", "N 60 10 30\nE 24 55 00\n");
    test::write_file(dir / "astral.txt", "ASTRAL\r\nASTRAL\r\nastral\r\nASTRAL\n");
    for (const char* device : {"N", "U", "T"}) {
        SCOPED_TRACE(device);
        test::RunResult run = vortool_in(dir, std::string("decode --device ") + device + " --replies replies.txt astral.txt");
        ASSERT_EQ(run.status, 0);
        const std::string replies = test::read_file(dir / "replies.txt");
        const std::string query = "$IIGPQ,ASTRAL*73\r\n";
        ASSERT_GT(replies.size(), 3 * query.size());
        EXPECT_EQ(replies.substr(0, 2 * query.size()), query + query);
        EXPECT_EQ(replies.substr(replies.size() - query.size()), query);
        const std::string init = replies.substr(2 * query.size(), replies.size() - 3 * query.size());
        EXPECT_EQ(init.rfind("$PRWIINIT,V,,,60 10 30,N,24 55 00,E,100.0,0.0,M,0.0,T,", 0), 0u) << init;
        EXPECT_EQ(checksum_ok(init), "ok") << init;
    }
    // Without vor_pos.txt only the queries are sent.
    std::filesystem::remove(dir / "vor_pos.txt");
    ASSERT_EQ(vortool_in(dir, "decode --device T --replies replies.txt astral.txt").status, 0);
    EXPECT_EQ(test::read_file(dir / "replies.txt"), "$IIGPQ,ASTRAL*73\r\n$IIGPQ,ASTRAL*73\r\n$IIGPQ,ASTRAL*73\r\n");
}

}  // namespace
}  // namespace vg
