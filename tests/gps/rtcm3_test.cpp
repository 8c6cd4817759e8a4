// The RTCM 3 frame scanner against gpsd's captures and gpsd's own decodes of them, frame by frame.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "gps/rtcm3.h"
#include "support/test_paths.h"

namespace vg {
namespace {

std::vector<std::uint8_t> bytes_of(const std::string& name) {
    const std::string text = test::read_file(test::shared_testdata() / "rtcm3" / name);
    return {text.begin(), text.end()};
}

std::vector<int> gpsd_types(const std::string& name) {
    std::ifstream in(test::shared_testdata() / "rtcm3" / name);
    std::vector<int> types;
    const std::regex type(R"("type":(\d+))");
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        if (std::regex_search(line, m, type)) types.push_back(std::stoi(m[1]));
    }
    return types;
}

std::vector<int> types_of(const std::vector<rtcm3::Frame>& frames) {
    std::vector<int> types;
    for (const auto& f : frames) types.push_back(f.type);
    return types;
}

TEST(Rtcm3, GpsdCapturesGiveGpsdsFramesInAnyPieces) {
    for (const std::string stem : {"rtcm3", "rtcm3.2"}) {
        const auto data = bytes_of(stem + ".rtcm3");
        const auto expected = gpsd_types(stem + ".chk");
        ASSERT_FALSE(expected.empty());
        for (const std::size_t piece : {data.size(), std::size_t{1}, std::size_t{7}, std::size_t{1000}}) {
            rtcm3::FrameScanner scanner;
            std::vector<rtcm3::Frame> frames;
            for (std::size_t at = 0; at < data.size(); at += piece)
                scanner.feed(data.data() + at, std::min(piece, data.size() - at), frames);
            EXPECT_EQ(types_of(frames), expected) << stem << " in pieces of " << piece;
            // What is not a frame is the line ends of gpsd's log (rtcm3) or the tail of a frame cut
            // when the recording started (rtcm3.2).
            std::size_t framed = 0;
            for (const auto& f : frames) framed += f.bytes.size();
            EXPECT_EQ(framed + scanner.skipped_bytes(), data.size()) << stem;
            EXPECT_EQ(scanner.skipped_bytes(), stem == "rtcm3" ? 2u : 344u);
        }
    }
}

TEST(Rtcm3, NoiseAndACorruptedFrameAreSkippedAndCounted) {
    const auto data = bytes_of("rtcm3.2.rtcm3");
    rtcm3::FrameScanner reference;
    std::vector<rtcm3::Frame> good;
    reference.feed(data.data(), data.size(), good);
    ASSERT_GE(good.size(), 3u);

    // noise (with a false preamble), frame 0, frame 1 with one payload bit flipped, frame 1 cut short,
    // then the rest of the capture (a cut frame's stated length swallows what follows until its
    // checksum fails, so the scanner finds its way back only once enough has come).
    std::vector<std::uint8_t> input = {0x00, 0xD3, 0xFF, 0x41};
    input.insert(input.end(), good[0].bytes.begin(), good[0].bytes.end());
    auto damaged = good[1].bytes;
    damaged[10] ^= 0x08;
    input.insert(input.end(), damaged.begin(), damaged.end());
    input.insert(input.end(), good[1].bytes.begin(), good[1].bytes.begin() + 20);
    std::vector<std::vector<std::uint8_t>> expected = {good[0].bytes};
    for (std::size_t i = 2; i < good.size(); ++i) {
        input.insert(input.end(), good[i].bytes.begin(), good[i].bytes.end());
        expected.push_back(good[i].bytes);
    }

    rtcm3::FrameScanner scanner;
    std::vector<rtcm3::Frame> frames;
    scanner.feed(input.data(), input.size(), frames);
    std::vector<std::vector<std::uint8_t>> got;
    for (const auto& f : frames) got.push_back(f.bytes);
    EXPECT_EQ(got, expected);
    EXPECT_GE(scanner.bad_frames(), 2u);
    EXPECT_EQ(scanner.frames(), expected.size());
    EXPECT_GE(scanner.skipped_bytes(), 4u + damaged.size() + 20u);
}

}  // namespace
}  // namespace vg
