#include "gps/zodiac.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "binary_logs.h"
#include "support/test_paths.h"

namespace vg {
namespace {

using test::TempDir;

constexpr long long k20100214_123456 = 1266150896;  // 2010-02-14 12:34:56 UTC

struct Harness {
    TempDir dir;
    std::string replies;
    std::vector<std::size_t> write_sizes;
    FixRecord fix;
    ZodiacParser parser;
    std::FILE* diag;

    explicit Harness(std::FILE* diagnostics = nullptr)
        : parser(make_context(), diagnostics), diag(diagnostics) {}

    ParserContext make_context() {
        ParserContext c;
        c.reply = [this](const std::uint8_t* d, std::size_t n) {
            replies.append(reinterpret_cast<const char*>(d), n);
            write_sizes.push_back(n);
        };
        c.utc_seconds = [] { return k20100214_123456; };
        c.pos_file = (dir / "vor_pos.txt").string();
        return c;
    }
    void feed(const std::string& bytes) {
        parser.feed(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), fix);
    }
    void feed(const std::vector<std::uint8_t>& bytes) { parser.feed(bytes.data(), bytes.size(), fix); }
};

std::string str(const std::vector<std::uint8_t>& v) { return std::string(v.begin(), v.end()); }

std::uint16_t word_at(const std::string& bytes, std::size_t word) {
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes[2 * word]) |
                                      (static_cast<std::uint8_t>(bytes[2 * word + 1]) << 8));
}

std::int32_t pair_at(const std::string& bytes, std::size_t word) {
    return static_cast<std::int32_t>(word_at(bytes, word) | (static_cast<std::uint32_t>(word_at(bytes, word + 1)) << 16));
}

// A message 1000 with the given solution status and a known position, time and motion.
std::vector<std::uint16_t> geodetic_words(std::uint16_t status) {
    std::vector<std::uint16_t> w(55, 0);
    w[4] = status;
    w[13] = 14; w[14] = 2; w[15] = 2010; w[16] = 12; w[17] = 34; w[18] = 56;
    auto pair = [&](std::size_t i, std::uint32_t v) { w[i] = v & 0xFFFF; w[i + 1] = static_cast<std::uint16_t>(v >> 16); };
    pair(21, static_cast<std::uint32_t>(std::int32_t{105025187}));
    pair(23, static_cast<std::uint32_t>(std::int32_t{-43487787}));
    pair(25, static_cast<std::uint32_t>(std::int32_t{-1234}));
    pair(28, 1000);
    w[30] = 1571;
    return w;
}

TEST(ZodiacRealLogs, ZodiacCaptureGivesExpectedRecord) {
    Harness h;
    const std::string body = test::binary_log_body(test::shared_testdata() / "receivers/zodiac.log");
    ASSERT_FALSE(body.empty());
    test::feed_in_chunks(body, 80, [&](const std::uint8_t* d, std::size_t n) { h.parser.feed(d, n, h.fix); });
    const std::string json = test::read_file(test::shared_testdata() / "receivers/expected/zodiac.json");
    EXPECT_FIX_MATCHES_JSON(h.fix, json);
    EXPECT_TRUE(h.replies.empty());  // no handshake in this capture
}

TEST(ZodiacRealLogs, EarthmateHandshakeIsAnsweredAndInitialised) {
    Harness h;
    test::write_file(h.dir / "vor_pos.txt", "N  60 10 30\nE  24 55 00\n");
    const std::string body = test::read_file(test::shared_testdata() / "receivers/earthmate");
    ASSERT_EQ(body.substr(0, 8), "EARTHA\r\n");
    test::feed_in_chunks(body, 80, [&](const std::uint8_t* d, std::size_t n) { h.parser.feed(d, n, h.fix); });
    const std::string json = test::read_file(test::shared_testdata() / "receivers/expected/earthmate.json");
    EXPECT_FIX_MATCHES_JSON(h.fix, json);

    // The 14 EARTHA lines span two chunks: one answer per chunk that holds the text; the first
    // complete frame (in the second chunk) is followed by one initialisation.
    const std::string init_header("\xFF\x81\xB0\x04\x15\x00\x00\x00\x3C\x79", 10);
    ASSERT_EQ(h.replies.size(), 8u + 8 + 10 + 44);
    EXPECT_EQ(h.replies.substr(0, 16), "EARTHA\r\nEARTHA\r\n");
    EXPECT_EQ(h.replies.substr(16, 10), init_header);
    EXPECT_EQ(word_at(h.replies.substr(26), 0), 1);
    EXPECT_EQ(h.parser.eartha_pending(), -1);
}

TEST(ZodiacInit, Message1200ByteForByte) {
    Harness h;
    test::write_file(h.dir / "vor_pos.txt", "N  60 10 30\nE  24 55 00\n");
    h.feed(std::string("EARTHA\r\n"));
    EXPECT_EQ(h.replies, "EARTHA\r\n");
    EXPECT_EQ(h.parser.eartha_pending(), 1);
    h.feed(zodiac_frame(1002, std::vector<std::uint16_t>(51, 0)));
    ASSERT_EQ(h.replies.size(), 8u + 10 + 44);
    EXPECT_EQ((std::vector<std::size_t>{8, 10, 44}), h.write_sizes);
    const std::string msg = h.replies.substr(8);
    EXPECT_EQ(msg.substr(0, 10), std::string("\xFF\x81\xB0\x04\x15\x00\x00\x00\x3C\x79", 10));
    const std::string data = msg.substr(10);
    EXPECT_EQ(word_at(data, 0), 1);  // first initialisation after start
    EXPECT_EQ(word_at(data, 1), 0x000C);
    EXPECT_EQ(word_at(data, 5), 14);
    EXPECT_EQ(word_at(data, 6), 2);
    EXPECT_EQ(word_at(data, 7), 2010);
    EXPECT_EQ(word_at(data, 8), 12);
    EXPECT_EQ(word_at(data, 9), 34);
    EXPECT_EQ(word_at(data, 10), 56);
    EXPECT_EQ(pair_at(data, 11), 105025187);
    EXPECT_EQ(pair_at(data, 13), 43487787);
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i < 22; ++i) sum = static_cast<std::uint16_t>(sum + word_at(data, i));
    EXPECT_EQ(sum, 0);
    for (std::size_t i : {2u, 3u, 4u, 15u, 16u, 17u, 18u, 19u, 20u}) EXPECT_EQ(word_at(data, i), 0) << i;
    EXPECT_EQ(h.parser.eartha_pending(), -1);

    // Later frames send nothing more until the next handshake, which gets sequence 2.
    h.feed(zodiac_frame(1002, std::vector<std::uint16_t>(51, 0)));
    EXPECT_EQ(h.replies.size(), 62u);
    h.feed(std::string("xxEARTHAyy"));
    h.feed(zodiac_frame(1108, {1, 2, 3}));
    ASSERT_EQ(h.replies.size(), 124u);
    EXPECT_EQ(word_at(h.replies.substr(62 + 18), 0), 2);
}

TEST(ZodiacInit, FixedColumnsOfSingleBlankLinesAndSouthWest) {
    Harness h;
    test::write_file(h.dir / "vor_pos.txt", "N 60 10 30\r\nE 24 55 00\r\n");
    h.parser.send_init();
    ASSERT_EQ(h.replies.size(), 54u);
    EXPECT_EQ(pair_at(h.replies.substr(10), 11), 104719755);
    EXPECT_EQ(pair_at(h.replies.substr(10), 13), 42033346);

    h.replies.clear();
    test::write_file(h.dir / "vor_pos.txt", "S  60 10 30\nW  24 55 00\n");
    h.parser.send_init();
    ASSERT_EQ(h.replies.size(), 54u);
    EXPECT_EQ(pair_at(h.replies.substr(10), 11), -105025187);
    EXPECT_EQ(pair_at(h.replies.substr(10), 13), -43487787);
    EXPECT_EQ(word_at(h.replies.substr(10), 0), 2);
}

TEST(ZodiacInit, UnusablePositionFileSendsNothing) {
    Harness h;
    h.feed(std::string("EARTHA"));
    h.feed(zodiac_frame(1002, {}));  // no vor_pos.txt
    EXPECT_EQ(h.replies, "EARTHA\r\n");
    EXPECT_EQ(h.parser.eartha_pending(), -1);
    for (const char* content : {"N 6\nE  24 55 00\n", "N  60 10 30\n", "N  60 10 30 and a lot more text here\nE  24 55 00\n"}) {
        test::write_file(h.dir / "vor_pos.txt", content);
        h.replies.clear();
        h.parser.send_init();
        EXPECT_TRUE(h.replies.empty()) << content;
    }
    EXPECT_EQ(h.parser.init_sequence(), 0);  // nothing sent, nothing counted
}

TEST(ZodiacFramer, Message1000DecodesPositionTimeAndFix) {
    Harness h;
    h.fix.local_offset_hours = 2;
    h.feed(zodiac_frame(1000, geodetic_words(0)));
    EXPECT_STREQ(h.fix.utc_text, "2010/02/14 12:34:56");
    EXPECT_STREQ(h.fix.local_text, "2010/02/14 14:34:56");
    EXPECT_NEAR(h.fix.latitude, 60.175, 1e-6);
    EXPECT_NEAR(h.fix.longitude, -24.916666, 1e-5);
    EXPECT_DOUBLE_EQ(h.fix.altitude, -12.34);
    EXPECT_NEAR(h.fix.speed_knots, 19.4387, 1e-9);
    EXPECT_NEAR(h.fix.course, 1571 * 180 / 3141.592653589793, 1e-9);
    EXPECT_EQ(h.fix.fix_dimension, 3);
    EXPECT_STREQ(h.fix.last_message, "Rockwell 1000 - Geodetic Position Status Output");

    h.feed(zodiac_frame(1000, geodetic_words(1)));
    EXPECT_EQ(h.fix.fix_dimension, 2);
    for (std::uint16_t bad : {4, 8, 16, 5}) {
        h.fix.fix_dimension = 3;
        h.feed(zodiac_frame(1000, geodetic_words(bad)));
        EXPECT_EQ(h.fix.fix_dimension, 0) << bad;
    }

    // A latitude of 1.6 rad (91.7 degrees) is off the globe: the navigation part is not stored.
    auto off_globe = geodetic_words(0);
    off_globe[21] = 160000000 & 0xFFFF;
    off_globe[22] = 160000000 >> 16;
    h.fix.fix_dimension = 0;
    const unsigned positions = h.fix.positions;
    EXPECT_EQ(positions, 6u);  // one for each position stored above
    h.feed(zodiac_frame(1000, off_globe));
    EXPECT_NEAR(h.fix.latitude, 60.175, 1e-6);
    EXPECT_EQ(h.fix.fix_dimension, 0);
    EXPECT_EQ(h.fix.positions, positions);
}

TEST(ZodiacFramer, SplitFramesResyncAndBadChecksums) {
    Harness h;
    const auto frame = zodiac_frame(1000, geodetic_words(0));
    // One byte per chunk gives the same result as one chunk.
    for (auto b : frame) h.parser.feed(&b, 1, h.fix);
    EXPECT_EQ(h.fix.fix_dimension, 3);

    // A header with a wrong checksum is dropped; the following frame is read.
    h.fix = FixRecord{};
    std::string bytes("\xFF\x81\xE8\x03\x37\x00\x00\x00\x00\x00", 10);
    bytes += str(frame);
    h.feed(bytes);
    EXPECT_EQ(h.fix.fix_dimension, 3);

    // Bytes between 0xFF and 0x81 do not break the sync.
    h.fix = FixRecord{};
    bytes = str(frame);
    bytes.insert(1, std::string("\x00\x12", 2));
    h.feed(bytes);
    EXPECT_EQ(h.fix.fix_dimension, 3);

    // A data checksum failure changes nothing, last_message included.
    h.fix = FixRecord{};
    std::strcpy(h.fix.last_message, "before");
    auto broken = frame;
    broken[broken.size() - 1] ^= 0x01;
    h.feed(broken);
    EXPECT_EQ(h.fix.fix_dimension, 0);
    EXPECT_STREQ(h.fix.last_message, "before");
    EXPECT_STREQ(h.fix.utc_text, "");

    // Other messages are named, not decoded.
    h.feed(zodiac_frame(1001, {1, 2}));
    EXPECT_STREQ(h.fix.last_message, "Rockwell 1001 - ECEF Position Status Output");
    h.feed(zodiac_frame(1108, {}));
    EXPECT_STREQ(h.fix.last_message, "Rockwell 1108 - other Zodiac message");
}

TEST(ZodiacFramer, HostileLengthsStayInsideTheMessage) {
    Harness h;
    // A header announcing 60000 words (valid header checksum) is dropped, and the next frame is read.
    std::uint16_t header[5] = {0x81FF, 1000, 60000, 0, 0};
    header[4] = zodiac_checksum(header, 4);
    std::string bytes;
    for (auto w : header) bytes += {static_cast<char>(w & 0xFF), static_cast<char>(w >> 8)};
    bytes += std::string(100, '\x00');
    bytes += str(zodiac_frame(1000, geodetic_words(0)));
    h.feed(bytes);
    EXPECT_EQ(h.fix.fix_dimension, 3);

    // Messages too short for the words they carry are named but decode nothing.
    h.fix = FixRecord{};
    h.feed(zodiac_frame(1000, {0, 0, 0, 0, 0}));
    EXPECT_STREQ(h.fix.last_message, "Rockwell 1000 - Geodetic Position Status Output");
    EXPECT_STREQ(h.fix.utc_text, "");
    h.feed(zodiac_frame(1003, {0, 0, 0, 0, 0, 0, 0, 0, 12}));
    EXPECT_EQ(h.fix.sats_in_view, 0);
    h.feed(zodiac_frame(1000, {}));  // no data words at all
    EXPECT_STREQ(h.fix.last_message, "Rockwell 1000 - Geodetic Position Status Output");
}

TEST(ZodiacSatellites, VisibleAndChannelSummary) {
    Harness h;
    std::vector<std::uint16_t> visible(9 + 36, 0);
    visible[8] = 7;
    for (std::uint16_t i = 0; i < 12; ++i) {
        visible[9 + 3 * i] = static_cast<std::uint16_t>(i + 1);
        visible[10 + 3 * i] = 15708;  // pi/2 × 10^4 → 90 degrees (whole part)
        visible[11 + 3 * i] = 7854;   // pi/4 × 10^4 → 45 degrees
    }
    for (auto& s : h.fix.satellites) s = SatelliteEntry{99, 99, 99, 7, 1};
    h.feed(zodiac_frame(1003, visible));
    EXPECT_EQ(h.fix.sats_in_view, 7);
    EXPECT_EQ(h.fix.satellites[0].prn, 1);
    EXPECT_EQ(h.fix.satellites[6].prn, 7);
    EXPECT_EQ(h.fix.satellites[6].azimuth, 90);
    EXPECT_EQ(h.fix.satellites[6].elevation, 45);
    for (int i = 7; i < 12; ++i) {
        EXPECT_EQ(h.fix.satellites[i].prn, 0);
        EXPECT_EQ(h.fix.satellites[i].azimuth, 0);
        EXPECT_EQ(h.fix.satellites[i].elevation, 0);
        EXPECT_EQ(h.fix.satellites[i].snr, 7);  // left alone
    }
    EXPECT_STREQ(h.fix.last_message, "Rockwell 1003 - Visible Satellites");

    // More than 12 in view: only the 12 entries are written.
    visible[8] = 40;
    h.feed(zodiac_frame(1003, visible));
    EXPECT_EQ(h.fix.sats_in_view, 40);
    EXPECT_EQ(h.fix.satellites[11].prn, 12);

    std::vector<std::uint16_t> channels(9 + 36, 0);
    // Channel 0: satellite 3 used, C/N0 44; channel 1: satellite 30 (not in the table); channel 2: satellite 5 unused.
    channels[9] = 1; channels[10] = 3; channels[11] = 44;
    channels[12] = 1; channels[13] = 30; channels[14] = 50;
    channels[15] = 0; channels[16] = 5; channels[17] = 38;
    h.feed(zodiac_frame(1002, channels));
    EXPECT_EQ(h.fix.satellites[2].used, 1);
    EXPECT_EQ(h.fix.satellites[2].snr, 44);
    EXPECT_EQ(h.fix.satellites[4].used, 0);
    EXPECT_EQ(h.fix.satellites[4].snr, 38);
    EXPECT_EQ(h.fix.satellites[0].used, 0);
    EXPECT_STREQ(h.fix.last_message, "Rockwell 1002 - Channel Summary");
}

TEST(ZodiacDgps, StatusLinesAndCorrectionWordsPresent) {
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    Harness h(out);
    // Station bad, user disabled, station 17, age 9 s, 2 corrections announced, 1 present.
    h.feed(zodiac_frame(1005, {0, 0, 0, 3, 17, 9, 2, static_cast<std::uint16_t>(5 | (1 << 6) | (1 << 12))}));
    std::fflush(out);
    std::rewind(out);
    char buf[1024] = {};
    const std::size_t n = std::fread(buf, 1, sizeof buf - 1, out);
    std::fclose(out);
    EXPECT_EQ(std::string(buf, n),
              "Station bad: 1\nUser disabled: 1\nStation ID: 17\nAge of last correction in seconds: 9\n"
              "Number of corrections: 2\n"
              "Sat05:ephemeris:1rtcm corrections:0rtcm udre:0sat health:0rtcm sat health:0corrections state:0"
              "iode mismatch:1");
    EXPECT_STREQ(h.fix.last_message, "Rockwell 1005 - other Zodiac message");
}

}  // namespace
}  // namespace vg
