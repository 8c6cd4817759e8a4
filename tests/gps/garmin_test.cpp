#include "gps/garmin.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

#include "binary_logs.h"
#include "support/test_paths.h"

namespace vg {
namespace {

std::vector<std::uint8_t> le_double(double v) {
    const auto bits = std::bit_cast<std::uint64_t>(v);
    std::vector<std::uint8_t> out;
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
    return out;
}

std::vector<std::uint8_t> position_packet(double lat_deg, double lon_deg) {
    auto data = le_double(lat_deg * std::numbers::pi / 180.0);
    const auto lon = le_double(lon_deg * std::numbers::pi / 180.0);
    data.insert(data.end(), lon.begin(), lon.end());
    return garmin_packet(17, data.data(), static_cast<std::uint8_t>(data.size()));
}

std::vector<std::uint8_t> date_time_packet(int year, int month, int day, int hour, int minute, int second) {
    const std::uint8_t data[8] = {static_cast<std::uint8_t>(month), static_cast<std::uint8_t>(day),
                                  static_cast<std::uint8_t>(year & 0xFF), static_cast<std::uint8_t>(year >> 8),
                                  static_cast<std::uint8_t>(hour), 0, static_cast<std::uint8_t>(minute),
                                  static_cast<std::uint8_t>(second)};
    return garmin_packet(14, data, 8);
}

void feed(GarminParser& p, const std::vector<std::uint8_t>& bytes, FixRecord& fix) { p.feed(bytes.data(), bytes.size(), fix); }

TEST(GarminSend, RequestsAreFramedExactly) {
    EXPECT_EQ(garmin_frame(kGarminPositionRequest), (std::vector<std::uint8_t>{0x10, 0x0A, 0x02, 0x02, 0x00, 0xF2, 0x10, 0x03}));
    EXPECT_EQ(garmin_frame(kGarminTimeRequest), (std::vector<std::uint8_t>{0x10, 0x0A, 0x02, 0x05, 0x00, 0xEF, 0x10, 0x03}));
    // A 0x10 in the record or as the checksum is doubled.
    EXPECT_EQ(garmin_frame({0x10, 2, 0xDE, 0}), (std::vector<std::uint8_t>{0x10, 0x10, 0x10, 0x02, 0xDE, 0x00, 0x10, 0x10, 0x10, 0x03}));
}

TEST(GarminFeed, PositionAndDateTimePackets) {
    GarminParser p;
    FixRecord fix;
    feed(p, date_time_packet(2010, 2, 14, 12, 34, 56), fix);
    EXPECT_STREQ(fix.utc_text, "2010/02/14 12:34:56");
    EXPECT_EQ(fix.positions, 0u);  // a time is no position
    feed(p, position_packet(60.175, -24.9166), fix);
    EXPECT_EQ(fix.positions, 1u);
    EXPECT_NEAR(fix.latitude, 60.175, 1e-12);
    EXPECT_NEAR(fix.longitude, -24.9166, 1e-12);
    EXPECT_EQ(fix.fix_dimension, 3);
    EXPECT_STREQ(fix.last_message, "");  // Garmin input does not write it

    // Byte by byte, with other packets in between, gives the same.
    FixRecord again;
    GarminParser q;
    std::vector<std::uint8_t> stream;
    for (const auto& part : {garmin_packet(51, reinterpret_cast<const std::uint8_t*>("abc"), 3), position_packet(1.5, 2.5),
                             garmin_packet(114, nullptr, 0)})
        stream.insert(stream.end(), part.begin(), part.end());
    for (auto b : stream) q.feed(&b, 1, again);
    EXPECT_NEAR(again.latitude, 1.5, 1e-12);
    EXPECT_NEAR(again.longitude, 2.5, 1e-12);
}

TEST(GarminFeed, DoubledDleInDataIsUnstuffedAndDoesNotEndThePacket) {
    // Find a latitude whose encoding holds 0x10 followed by 0x03: a doubled DLE then ETX-valued data.
    std::vector<std::uint8_t> data(16, 0x22);
    data[2] = 0x10;
    data[3] = 0x03;
    data[9] = 0x10;
    data[10] = 0x10;
    const auto packet = garmin_packet(17, data.data(), 16);
    ASSERT_GT(packet.size(), 16u + 6);  // stuffed
    GarminParser p;
    FixRecord fix;
    feed(p, packet, fix);
    double lat;
    std::memcpy(&lat, data.data(), 8);  // little-endian host
    EXPECT_EQ(fix.fix_dimension, 3);
    EXPECT_DOUBLE_EQ(fix.latitude, lat * 180.0 / std::numbers::pi);
    // The next packet is read from its start.
    feed(p, date_time_packet(2011, 3, 4, 5, 6, 7), fix);
    EXPECT_STREQ(fix.utc_text, "2011/03/04 05:06:07");
}

TEST(GarminFeed, HostileInputStaysInBounds) {
    GarminParser p;
    FixRecord fix;
    // Noise outside a packet is skipped.
    std::vector<std::uint8_t> junk(300, 0x55);
    feed(p, junk, fix);
    feed(p, position_packet(10, 20), fix);
    EXPECT_NEAR(fix.latitude, 10, 1e-12);
    // A DLE and 10000 bytes without DLE ETX: the full buffer is discarded; the packet after the
    // next DLE ETX is read.
    fix = FixRecord{};
    junk.assign(10000, 0x55);
    junk[0] = kDle;
    feed(p, junk, fix);
    feed(p, std::vector<std::uint8_t>{kDle, kEtx}, fix);
    feed(p, position_packet(11, 20), fix);
    EXPECT_NEAR(fix.latitude, 11, 1e-12);

    // Short packets 14 and 17 (size byte and data cut) change nothing.
    fix = FixRecord{};
    const std::uint8_t four[4] = {1, 2, 3, 4};
    feed(p, garmin_packet(17, four, 4), fix);
    feed(p, garmin_packet(14, four, 4), fix);
    feed(p, std::vector<std::uint8_t>{0x10, 0x03}, fix);
    EXPECT_EQ(fix.fix_dimension, 0);
    EXPECT_STREQ(fix.utc_text, "");

    // Non-finite positions are not stored.
    feed(p, position_packet(NAN, 1), fix);
    feed(p, position_packet(1, INFINITY), fix);
    // Radians so large that degrees overflow.
    auto huge = le_double(1.7e308);
    const auto one = le_double(0.5);
    huge.insert(huge.end(), one.begin(), one.end());
    feed(p, garmin_packet(17, huge.data(), 16), fix);
    EXPECT_EQ(fix.fix_dimension, 0);
    EXPECT_EQ(fix.latitude, 0);
}

TEST(GarminFeed, DamagedPacketsAndPositionsOffTheGlobeAreDropped) {
    GarminParser p;
    FixRecord fix;
    // A latitude off the globe, with a right checksum.
    auto off_globe = position_packet(1000, 20);
    // A wrong checksum: one data bit flipped on the line.
    auto flipped = position_packet(10, 20);
    flipped[5] ^= 0x01;
    // A size byte that does not match the data.
    auto bad_size = position_packet(10, 20);
    bad_size[2] = 15;
    bad_size[bad_size.size() - 3] = static_cast<std::uint8_t>(bad_size[bad_size.size() - 3] + 1);  // sum still 0
    auto bad_time = date_time_packet(2024, 5, 6, 7, 8, 9);
    bad_time[bad_time.size() - 3] ^= 0x40;
    for (const auto& packet : {off_globe, flipped, bad_size, bad_time, position_packet(90.5, 0), position_packet(0, -180.5)})
        feed(p, packet, fix);
    EXPECT_EQ(fix.fix_dimension, 0);
    EXPECT_EQ(fix.latitude, 0);
    EXPECT_STREQ(fix.utc_text, "");
    // The edges of the globe are positions like any other.
    feed(p, position_packet(-90, 180), fix);
    EXPECT_NEAR(fix.latitude, -90, 1e-9);
    EXPECT_EQ(fix.fix_dimension, 3);
}

TEST(GarminFeed, RealBinaryCaptureMatchesExpected) {
    const std::string body = test::binary_log_body(test::shared_testdata() / "receivers/garmin18x-bin.log");
    ASSERT_GT(body.size(), 1000u);
    GarminParser p;
    FixRecord fix;
    test::feed_in_chunks(body, 80, [&](const std::uint8_t* d, std::size_t n) { p.feed(d, n, fix); });
    EXPECT_FIX_MATCHES_JSON(fix, test::read_file(test::shared_testdata() / "receivers/expected/garmin18x-bin.json"));

    // The capture's framing stays in step: a position packet appended to it is read.
    const auto extra = position_packet(29.445570713, -98.606643073);
    p.feed(extra.data(), extra.size(), fix);
    EXPECT_NEAR(fix.latitude, 29.445570713, 1e-9);
}

TEST(GarminPoll, AlternatesRequestsAndCountsTheFixDown) {
    GarminPoller poller;
    FixRecord fix;
    fix.fix_dimension = 3;
    std::vector<std::vector<std::uint8_t>> sent;
    const ReplySink sink = [&](const std::uint8_t* d, std::size_t n) { sent.emplace_back(d, d + n); };
    const auto pos = garmin_frame(kGarminPositionRequest);
    const auto time = garmin_frame(kGarminTimeRequest);

    EXPECT_FALSE(poller.poll(fix, sink));  // position: 3 → 2
    EXPECT_EQ(fix.fix_dimension, 2);
    EXPECT_FALSE(poller.poll(fix, sink));  // time: unchanged
    EXPECT_EQ(fix.fix_dimension, 2);
    EXPECT_FALSE(poller.poll(fix, sink));  // 2 → 1
    EXPECT_FALSE(poller.poll(fix, sink));
    EXPECT_TRUE(poller.poll(fix, sink));   // 1 → 0: repaint
    EXPECT_EQ(fix.fix_dimension, 0);
    EXPECT_FALSE(poller.poll(fix, sink));
    EXPECT_FALSE(poller.poll(fix, sink));  // stays at 0
    EXPECT_EQ(fix.fix_dimension, 0);
    ASSERT_EQ(sent.size(), 7u);
    for (std::size_t i = 0; i < sent.size(); ++i) EXPECT_EQ(sent[i], i % 2 == 0 ? pos : time) << i;
}

}  // namespace
}  // namespace vg
