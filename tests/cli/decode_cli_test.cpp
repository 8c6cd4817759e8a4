// vortool decode, run as users run it: on the real receiver captures, on standard input, and on
// input that is not a receiver stream at all.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "gps/receiver_logs.h"
#include "support/run_program.h"
#include "support/test_paths.h"

namespace vg {
namespace {

using test::Json;

using ToolRun = test::RunResult;

// Runs vortool with `args` (already shell-quoted where needed) in a scratch folder.
ToolRun vortool(const test::TempDir& dir, const std::string& args) {
    const std::string command = "'" + test::vortool_path().string() + "' " + args + " >'" +
                                (dir / "stdout").string() + "' 2>'" + (dir / "stderr").string() + "'";
    ToolRun run;
    const int raw = std::system(command.c_str());
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = test::read_file(dir / "stdout");
    run.err = test::read_file(dir / "stderr");
    return run;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t lf = text.find('\n', start);
        if (lf == std::string::npos) lf = text.size();
        lines.push_back(text.substr(start, lf - start));
        start = lf + 1;
    }
    return lines;
}

// Structural equality; numbers must be equal exactly (they are written to read back exactly).
bool same_json(const Json& a, const Json& b) {
    if (a.kind != b.kind) return false;
    switch (a.kind) {
    case Json::Kind::Null: return true;
    case Json::Kind::Bool: return a.boolean == b.boolean;
    case Json::Kind::Number: return a.number == b.number;
    case Json::Kind::String: return a.string == b.string;
    case Json::Kind::Array:
        if (a.array.size() != b.array.size()) return false;
        for (std::size_t i = 0; i < a.array.size(); ++i)
            if (!same_json(a.array[i], b.array[i])) return false;
        return true;
    case Json::Kind::Object:
        if (a.object.size() != b.object.size()) return false;
        for (const auto& [key, value] : a.object)
            if (!b.has(key) || !same_json(value, b[key])) return false;
        return true;
    }
    return false;
}

Json parse_line(const std::string& line) {
    auto json = test::parse_json(line);
    EXPECT_TRUE(json.has_value()) << line;
    return json ? *json : Json{};
}

// The GP-only captures print exactly what they always did, with "talker" and "sky" appended; the
// GN receivers print their whole expected record.
TEST(DecodeCli, RealCapturesGiveTheExpectedRecord) {
    test::TempDir dir;
    for (const std::string& name : test::nmea_log_names()) {
        SCOPED_TRACE(name);
        const auto input = dir / (name + ".nmea");
        test::write_file(input, test::nmea_log_bytes(name));
        std::string want = test::read_file(test::receivers_dir() / "expected" / (name + ".json"));
        while (!want.empty() && want.back() == '\n') want.pop_back();
        const bool gn = name == "bu353-glonass" || name == "nmea-rtk";
        ToolRun run = vortool(dir, "decode --device NMEA '" + input.string() + "'");
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        const auto lines = lines_of(run.out);
        ASSERT_EQ(lines.size(), 1u);
        if (gn) {
            EXPECT_EQ(lines[0], want);
        } else {
            EXPECT_EQ(test::without_added_keys(lines[0]), want);
            EXPECT_NE(lines[0].find(", \"talker\": \"GP\", \"sky\": [", want.size() - 1), std::string::npos);
        }
        const Json full = parse_line(lines[0]);
        EXPECT_EQ(full["sky"].kind, Json::Kind::Array);
        // Standard input, one byte at a time, gives the same.
        ToolRun piped = vortool(dir, "decode --device N --chunk 1 < '" + input.string() + "'");
        ASSERT_EQ(piped.status, 0) << piped.err;
        EXPECT_EQ(lines_of(piped.out).at(0), lines[0]);
    }
}

TEST(DecodeCli, EveryZoneDeviceNamesAndReplies) {
    test::TempDir dir;
    const auto input = dir / "garmin48.nmea";
    test::write_file(input, test::nmea_log_bytes("garmin48"));
    const Json want = parse_line(lines_of(vortool(dir, "decode --device N '" + input.string() + "'").out).at(0));

    ToolRun run = vortool(dir, "decode --device N --every --chunk 200 '" + input.string() + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    const auto lines = lines_of(run.out);
    const std::size_t chunks = (test::nmea_log_bytes("garmin48").size() + 199) / 200;
    ASSERT_GT(lines.size(), 2u);
    EXPECT_LE(lines.size(), chunks);
    for (std::size_t i = 1; i < lines.size(); ++i) EXPECT_NE(lines[i], lines[i - 1]) << "line " << i;
    EXPECT_TRUE(same_json(parse_line(lines.back()), want));
    EXPECT_EQ(parse_line(lines.front())["satellites"].array.size(), 12u);

    // The device is named like the `unit` setting: by its first letter, in any case.
    for (const char* device : {"u", "TripMate"}) {
        ToolRun other = vortool(dir, std::string("decode --device ") + device + " '" + input.string() + "'");
        ASSERT_EQ(other.status, 0) << other.err;
        EXPECT_TRUE(same_json(parse_line(lines_of(other.out).at(0)), want));
    }

    ToolRun zoned = vortool(dir, "decode --device N --zone -23 '" + input.string() + "'");
    ASSERT_EQ(zoned.status, 0) << zoned.err;
    Json shifted = parse_line(lines_of(zoned.out).at(0));
    EXPECT_EQ(shifted["utc"].string, "2001/06/06 22:53:34");
    EXPECT_EQ(shifted["local"].string, "2001/06/05 23:53:34");

    ToolRun replies = vortool(dir, "decode --device N --replies '" + (dir / "replies").string() + "' '" +
                                   input.string() + "'");
    EXPECT_EQ(replies.status, 0) << replies.err;
    EXPECT_TRUE(std::filesystem::exists(dir / "replies"));
    EXPECT_EQ(test::read_file(dir / "replies"), "");  // plain NMEA needs no answers
}

TEST(DecodeCli, UsageAndFileErrors) {
    test::TempDir dir;
    const auto input = dir / "in.nmea";
    test::write_file(input, "$GPGGA,225310,4527.458,S,16709.165,E,1,05,2.1,14.6,M,1.1,M,,*5B\r\n");
    struct Case {
        std::string args;
        int status;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"decode '" + (dir / "missing.log").string() + "' --device N", 1, "cannot read"},
        {"decode --device N '" + dir.path().string() + "'", 1, "cannot read"},  // a folder
        {"decode --device N --replies '" + (dir / "no/such/replies").string() + "' '" + input.string() + "'", 1,
         "cannot write"},
        {"decode '" + input.string() + "'", 2, "--device"},
        {"decode --device X '" + input.string() + "'", 2, "unknown device"},
        {"decode --device Remote '" + input.string() + "'", 2, "unsupported device"},
        {"decode --device N --chunk 0 '" + input.string() + "'", 2, "--chunk"},
        {"decode --device N --chunk 12x '" + input.string() + "'", 2, "--chunk"},
        {"decode --device N --zone 24 '" + input.string() + "'", 2, "--zone"},
        {"decode --device N --bogus '" + input.string() + "'", 2, "unknown option"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        ToolRun run = vortool(dir, c.args);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_NE(run.err.find('\n'), std::string::npos);
        if (c.status == 1) {
            EXPECT_EQ(lines_of(run.err).size(), 1u) << run.err;
        }
    }
}

TEST(DecodeCli, GarbageInputStillGivesOneRecord) {
    test::TempDir dir;
    std::string noise;
    std::uint32_t state = 12345;
    for (int i = 0; i < 200000; ++i) {
        state = state * 1664525u + 1013904223u;
        noise += static_cast<char>(state >> 24);
    }
    // Noise, an over-long line, a truncated and a merged sentence, control bytes and quotes, then one
    // good sentence whose values must come through.
    const std::string input = noise + "\n" + std::string(9000, 'A') + "$GPGGA,2253\n" +
                              "$GPGSA,A,1,,$GPRMC,000425.00,V,0000.0000,N*4D\r\n" + "$\"\\\x01\x7f\xff\r\n" +
                              "$GPGGA,225310,4527.458,S,16709.165,E,1,05,2.1,14.6,M,1.1,M,,*5B\r\n" +
                              "$GP\"quote\\back\x01\xfe*00\r\n";
    test::write_file(dir / "noise.bin", input);
    for (const char* chunk : {"1", "80", "65536"}) {
        ToolRun run = vortool(dir, std::string("decode --device n --chunk ") + chunk + " '" + (dir / "noise.bin").string() + "'");
        ASSERT_EQ(run.status, 0) << run.err;
        const auto lines = lines_of(run.out);
        ASSERT_EQ(lines.size(), 1u);
        Json fix = parse_line(lines[0]);
        EXPECT_DOUBLE_EQ(fix["alt"].number, 14.6);
        EXPECT_EQ(fix["last_message"].string, "GP\"quote\\back\x01\xfe*00");
    }
}

}  // namespace
}  // namespace vg
