// `vortool ais` run as a real process on gpsd's AIS captures, compared message by message with gpsd's own
// decodes: its unscaled JSON (types 1, 3, 5, 18, 24 of a live feed), its `|` lines (every type of the
// sample), and what gpsdecode prints (scaled) for both, run beside it.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/test_paths.h"

namespace {

std::vector<nlohmann::json> json_lines(const std::string& text) {
    std::vector<nlohmann::json> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) out.push_back(nlohmann::json::parse(line));
    return out;
}

std::string read(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string capture(const std::string& file) { return "'" + (vg::test::shared_testdata() / "ais" / file).string() + "'"; }

vg::test::RunResult ais_tool(const std::string& options) {
    return vg::test::run_shell(vg::test::vortool_path().string() + " ais " + options);
}

// Each of our messages has gpsd's values for every key it prints, and every key gpsd prints but its
// descriptive texts (for the types decoded field by field).
void expect_as_gpsd(const std::vector<nlohmann::json>& ours, std::vector<nlohmann::json> gpsd) {
    ASSERT_EQ(ours.size(), gpsd.size());
    for (std::size_t i = 0; i < ours.size(); ++i) {
        SCOPED_TRACE(ours[i].dump());
        std::size_t keys = 0;
        for (const auto& [key, value] : ours[i].items()) {
            ASSERT_TRUE(gpsd[i].contains(key)) << key;
            EXPECT_EQ(value, gpsd[i][key]) << key;
            ++keys;
        }
        const int type = ours[i]["type"];
        if (!(type <= 5 || type == 18 || type == 19 || type == 21 || type == 24 || type == 27)) continue;
        std::size_t others = 0;
        for (const auto& [key, value] : gpsd[i].items()) others += key.ends_with("_text") || key == "device";
        EXPECT_EQ(keys + others, gpsd[i].size());
    }
}

TEST(AisCli, LiveFeedDecodesAsGpsdDoesMessageByMessage) {
    const auto run = ais_tool("--unscaled " + capture("ais-nmea.log"));
    ASSERT_EQ(run.status, 0) << run.err;
    // gpsd printed some messages twice in a row; each is one message.
    std::vector<nlohmann::json> gpsd;
    for (auto& j : json_lines(read(vg::test::shared_testdata() / "ais" / "ais-nmea.log.chk")))
        if (gpsd.empty() || gpsd.back() != j) gpsd.push_back(std::move(j));
    expect_as_gpsd(json_lines(run.out), gpsd);
}

TEST(AisCli, ScaledValuesAreGpsdecodesOwn) {
    if (vg::test::run_shell("command -v gpsdecode >/dev/null").status != 0) GTEST_SKIP() << "gpsdecode (gpsd-clients) is not installed";
    for (const char* file : {"ais-nmea.log", "sample.aivdm"}) {
        SCOPED_TRACE(file);
        const auto ours = ais_tool(capture(file) + " 2>/dev/null");
        const auto gpsd = vg::test::run_shell("gpsdecode < " + capture(file) + " 2>/dev/null | grep '\"class\":\"AIS\"'");
        ASSERT_EQ(ours.status, 0);
        expect_as_gpsd(json_lines(ours.out), json_lines(gpsd.out));
    }
}

// gpsd's `|` form: the fields after type, repeat and MMSI, per type.
const char* pipe_fields(int type) {
    switch (type) {
    case 1: case 2: case 3: return "status turn speed accuracy lon lat course heading second maneuver raim radio";
    case 4: return "timestamp accuracy lon lat epfd raim radio";
    case 5: return "imo ais_version callsign shipname shiptype to_bow to_stern to_port to_starboard epfd eta draught destination dte";
    case 18: return "reserved speed accuracy lon lat course heading second regional cs display dsc band msg22 raim radio";
    case 19: return "reserved speed accuracy lon lat course heading second regional shipname shiptype to_bow to_stern to_port to_starboard epfd raim dte assigned";
    case 21: return "aid_type name accuracy lon lat to_bow to_stern to_port to_starboard epfd second regional off_position raim virtual_aid";
    case 24: return "shipname shiptype vendorid model serial callsign to_bow to_stern to_port to_starboard";
    case 27: return "status accuracy lon lat speed course raim gnss";
    default: return "";
    }
}

TEST(AisCli, EveryTypeOfTheSampleDecodesAsGpsdDoes) {
    const auto run = ais_tool("-u " + capture("sample.aivdm"));
    ASSERT_EQ(run.status, 0) << run.err;
    const auto ours = json_lines(run.out);
    std::vector<std::vector<std::string>> gpsd;
    std::istringstream in(read(vg::test::shared_testdata() / "ais" / "sample.aivdm.chk"));
    for (std::string line; std::getline(in, line);) {
        if (line.ends_with('\r')) line.pop_back();
        std::vector<std::string> fields;
        std::istringstream f(line);
        for (std::string v; std::getline(f, v, '|');) fields.push_back(v);
        gpsd.push_back(fields);
    }
    ASSERT_EQ(ours.size(), gpsd.size());
    int compared = 0;
    for (std::size_t i = 0; i < ours.size(); ++i) {
        SCOPED_TRACE(ours[i].dump());
        const int type = ours[i]["type"];
        ASSERT_EQ(std::to_string(type), gpsd[i][0]);
        ASSERT_EQ(ours[i]["mmsi"].get<std::uint32_t>(), std::stoul(gpsd[i][2]));
        std::istringstream names(pipe_fields(type));
        std::size_t at = 3;
        for (std::string name; names >> name; ++at) {
            ASSERT_LT(at, gpsd[i].size());
            const auto& v = ours[i][name];
            const std::string& want = gpsd[i][at];
            std::string got = v.is_boolean() ? (v.get<bool>() ? "1" : "0") : v.is_string() ? v.get<std::string>() : v.dump();
            if (want.starts_with("0x")) EXPECT_EQ(std::stoul(got), std::stoul(want, nullptr, 16)) << name;
            else EXPECT_EQ(got, want) << name;
            ++compared;
        }
    }
    EXPECT_GT(compared, 250);  // every field of every decoded type
}

TEST(AisCli, DamagedSentencesAreNamedAndSkipped) {
    vg::test::TempDir dir;
    const auto log = dir / "bad.log";
    std::ofstream(log) << "!AIVDM,1,1,,B,13aDp<PP000IwSlN?Wm@0?wN2<1T,0*28\n"  // checksum off by one
                          "!AIVDM,2,2,9,B,`88888888888880,2*76\n"                // a second part alone
                          "!AIVDM,1,1,,A,1~~~,0*" "00\n"
                          "$GPGGA,not ais\n"
                          "!AIVDM,1,1,,B,13aDp<PP000IwSlN?Wm@0?wN2<1T,0*29\n";
    const auto run = vg::test::run_shell(vg::test::vortool_path().string() + " ais '" + log.string() + "' 2>&1");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.find("vortool ais: bad checksum: !AIVDM,1,1,,B,13aDp"), 0u) << run.out;
    EXPECT_NE(run.out.find("vortool ais: fragment out of order"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\n{\"class\":\"AIS\",\"type\":1,"), std::string::npos) << run.out;
    EXPECT_EQ(vg::test::run_shell(vg::test::vortool_path().string() + " ais /no/such/file").status, 1);
}

}  // namespace
