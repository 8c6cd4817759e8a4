// The AIS sentence assembler and decoder on the cases a live feed brings beside gpsd's captures
// (those are compared field by field in the vortool tests): interleaved multi-sentence messages, tag
// blocks, own-ship reports, degrees of a position, and damaged input with its reason.
#include "gps/ais.h"

#include <gtest/gtest.h>

#include <string>

namespace vg::ais {
namespace {

// A type 5 message in two fragments, and a type 1 report (from gpsd's live capture).
constexpr const char* kPart1 = "!AIVDM,2,1,9,B,55R3Vn82=ILTQ3KKS>1<D60Dq@E918U<F222221J1`?164vc03S1CCAD,0*2A";
constexpr const char* kPart2 = "!AIVDM,2,2,9,B,`88888888888880,2*76";
constexpr const char* kReport = "!AIVDM,1,1,,B,13aDp<PP000IwSlN?Wm@0?wN2<1T,0*29";

std::string with_checksum(std::string body) {
    unsigned sum = 0;
    for (char c : body.substr(1)) sum ^= static_cast<unsigned char>(c);
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X", sum);
    return body + "*" + hex;
}

TEST(Ais, FragmentsInterleavedWithOtherTrafficAssembleIntoOneMessage) {
    AisAssembler a;
    EXPECT_FALSE(a.feed_line(kPart1));
    const auto report = a.feed_line(std::string("\\s:base,c:1586295590*1A\\") + kReport + "\r\n");  // tag block
    ASSERT_TRUE(report);
    EXPECT_EQ(report->type, 1);
    EXPECT_EQ(report->mmsi, 244660274u);
    ASSERT_TRUE(report->latitude_deg());
    EXPECT_NEAR(*report->latitude_deg(), 52.8554, 1e-4);
    EXPECT_NEAR(*report->longitude_deg(), 5.67828, 1e-4);
    EXPECT_FALSE(a.feed_line("$GPGGA,213950.00,5250.53669,N,00542.34920,E,1,09,1.03,-6.0,M,45.8,M,,*7B"));
    EXPECT_EQ(a.last_error(), "");
    const auto voyage = a.feed_line(kPart2);
    ASSERT_TRUE(voyage);
    EXPECT_EQ(voyage->type, 5);
    EXPECT_EQ(voyage->shipname, "SEA ENTERPRISE");
    EXPECT_FALSE(voyage->latitude_deg());  // static data has no position

    // Own ship: !AIVDO.
    const auto own = a.feed_line(with_checksum("!AIVDO,1,1,,,13aDp<PP000IwSlN?Wm@0?wN2<1T,0"));
    ASSERT_TRUE(own);
    EXPECT_TRUE(own->own);
}

TEST(Ais, DamagedInputGivesNoMessageAndAReason) {
    AisAssembler a;
    const auto refused = [&](const std::string& line, const std::string& why) {
        EXPECT_FALSE(a.feed_line(line)) << line;
        EXPECT_EQ(a.last_error(), why) << line;
    };
    refused("!AIVDM,1,1,,B,13aDp<PP000IwSlN?Wm@0?wN2<1T,0*28", "bad checksum");
    refused("!AIVDM,1,1,,B,13aDp<PP000IwSlN?Wm@0?wN2<1T,0", "bad checksum");
    refused(with_checksum("!AIVDM,1,1,,B,13aDp<PP,0,extra"), "wrong number of fields");
    refused(with_checksum("!AIVDM,6,1,,B,13aDp<PP,0"), "bad fragment fields");
    refused(with_checksum("!AIVDM,1,1,,B,13aDp<PP000IwSlN?Wm@0?wN2<1T,6"), "bad fragment fields");
    refused(with_checksum("!AIVDM,1,1,,B,13aDp<PP000IwSlN?Wm@0?wN2<1T" + std::string(60, '0') + ",0"), "payload too long");
    refused(with_checksum("!AIVDM,1,1,,B,13aDp<PP000I~SlN?Wm@0?wN2<1T,0"), "bad payload character");
    refused(with_checksum("!AIVDM,1,1,,B,13aDp<PP000IwSlN,0"), "type 1 message too short (96 bits)");
    refused(with_checksum("!AIVDM,1,1,,B,13aD,0"), "message too short");
    refused(with_checksum("!AIVDM,1,1,,B,H42O55lti4hhhilD3nink000?050,0").replace(16, 1, "n"), "bad checksum");
    refused(kPart2, "fragment out of order");
    // A first fragment pushed out by more unfinished messages than are kept at once.
    EXPECT_FALSE(a.feed_line(kPart1));
    for (int id = 0; id < 8; ++id) a.feed_line(with_checksum("!AIVDM,2,1," + std::to_string(id) + ",A,55R3Vn82,0"));
    refused(kPart2, "fragment out of order");
    EXPECT_EQ(a.rejected(), a.sentences() - 9);  // every line but the nine first fragments
}

}  // namespace
}  // namespace vg::ais
