// vortool watch on real sources: the simulator served over TCP, and a port that is not there;
// vortool ports.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "cli/fix_json.h"
#include "gps/receiver_logs.h"
#include "support/peers.h"
#include "support/test_paths.h"

namespace vg {
namespace {

int run_in(const test::TempDir& dir, const std::string& args) {
    const std::string command = "cd '" + dir.path().string() + "' && '" + test::vortool_path().string() + "' " + args +
                                " >out.txt 2>err.txt";
    const int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

TEST(WatchCli, FollowsTheNetworkSourceOfTheSettingsAndNamesAMissingPort) {
    test::TempDir dir;
    const int port = test::free_loopback_port();
    test::Simulator sim(dir.path(), {"--tcp", std::to_string(port), "--rate", "4"});
    test::write_file(dir / "vor_set.txt", "unit=network\r\nport=COM7\r\n");
    test::write_file(dir / "vor_ini.txt", "nmea=tcp://127.0.0.1:" + std::to_string(port) + "\r\nbase=off:4477\r\n");
    ASSERT_EQ(run_in(dir, "watch --seconds 4"), 0) << test::read_file(dir / "err.txt");
    const std::string out = test::read_file(dir / "out.txt");
    ASSERT_FALSE(out.empty());
    // The first record already holds a reading, never only zeros.
    const auto first = test::parse_json(out.substr(0, out.find('\n')));
    ASSERT_TRUE(first);
    EXPECT_TRUE(!(*first)["utc"].string.empty() || (*first)["lat"].number != 0 || (*first)["sats_in_view"].number != 0)
        << out.substr(0, out.find('\n'));
    const auto start = out.rfind('\n', out.size() - 2);
    auto fix = test::parse_json(out.substr(start == std::string::npos ? 0 : start + 1));
    ASSERT_TRUE(fix);
    EXPECT_NEAR((*fix)["lat"].number, 60.175, 0.05);
    EXPECT_EQ((*fix)["fix"].number, 3);

    // The serial device of the same folder: COM7 is /dev/ttyS6, which is not there.
    EXPECT_EQ(run_in(dir, "watch --device NMEA --seconds 1"), 1);
    EXPECT_NE(test::read_file(dir / "err.txt").find("No GPS connected: Cannot open /dev/ttyS6: "), std::string::npos);
    EXPECT_EQ(run_in(dir, "watch --seconds 0"), 2);
    EXPECT_EQ(run_in(dir, "watch --device X"), 2);
}

// vortool ports prints the machine's listing as one JSON array of objects with the five keys.
TEST(PortsCli, PrintsTheListingAsAJsonArray) {
    test::TempDir dir;
    ASSERT_EQ(run_in(dir, "ports"), 0) << test::read_file(dir / "err.txt");
    const auto list = test::parse_json(test::read_file(dir / "out.txt"));
    ASSERT_TRUE(list);
    ASSERT_EQ(list->kind, test::Json::Kind::Array);
    for (auto& port : list->array) {
        EXPECT_EQ(port["path"].string.rfind("/dev/", 0), 0u) << port["path"].string;
        EXPECT_FALSE(port["device"].string.empty());
        EXPECT_FALSE(port["kind"].string.empty());
    }
    EXPECT_EQ(run_in(dir, "ports --all"), 2);

    // A USB maker's name is UTF-8 and stays readable; broken bytes and control characters do not break
    // the JSON.
    std::string out;
    cli::append_json_string(out, "Prolific \xc2\xa9 \"A\"\\\x01\xff\xe2\x82", cli::JsonText::utf8);
    EXPECT_EQ(out, "\"Prolific \xc2\xa9 \\\"A\\\"\\\\\\u0001\\ufffd\\ufffd\\ufffd\"");
    // The same bytes in the other two modes: receiver bytes one code point each (short escapes, DEL
    // as it is), paths and settings plain ASCII.
    const std::string_view bytes = "\xc2\xa9\n\x7f";
    out.clear();
    cli::append_json_string(out, bytes, cli::JsonText::receiver_bytes);
    EXPECT_EQ(out, "\"\\u00c2\\u00a9\\n\x7f\"");
    out.clear();
    cli::append_json_string(out, bytes, cli::JsonText::ascii);
    EXPECT_EQ(out, "\"\\u00c2\\u00a9\\u000a\\u007f\"");
    out.clear();
    cli::append_json_string(out, bytes, cli::JsonText::utf8);
    EXPECT_EQ(out, "\"\xc2\xa9\\u000a\x7f\"");
}

}  // namespace
}  // namespace vg
