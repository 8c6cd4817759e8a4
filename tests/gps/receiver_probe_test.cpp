// Recognising a receiver in its bytes, on real captures: NMEA receivers of several makers, the
// EarthMate's Zodiac stream and a Garmin's binary packets; noise, a wrong speed's garbage and cut
// units are not taken for a receiver. And gpsd's greeting and device list.
#include "gps/receiver_probe.h"

#include "gps/zodiac.h"

#include <gtest/gtest.h>

#include "support/nmea_capture.h"
#include "support/test_paths.h"

namespace vg {
namespace {

// A Zodiac header (message 1000, no data words) with its checksum.
std::vector<std::uint8_t> zodiac_like_header() { return zodiac_frame(1000, {}); }

std::optional<ProbedReceiver> probe(const std::string& bytes) {
    return probe_receiver_bytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

TEST(ReceiverProbe, RealCapturesAreRecognisedByTheirProtocol) {
    for (const char* name : {"bt451", "bu353-glonass", "firefly-II"}) {
        const auto found = probe(test::nmea_log_bytes(name).substr(0, 600));
        ASSERT_TRUE(found) << name;
        EXPECT_EQ(found->device, DeviceType::Nmea) << name;
        EXPECT_EQ(found->protocol, "NMEA");
    }
    const auto zodiac = probe(test::read_file(test::shared_testdata() / "receivers/earthmate").substr(0, 400));
    ASSERT_TRUE(zodiac);
    EXPECT_EQ(zodiac->device, DeviceType::EarthMate);
    const auto garmin = probe(test::binary_log_body(test::shared_testdata() / "receivers/garmin18x-bin.log").substr(0, 400));
    ASSERT_TRUE(garmin);
    EXPECT_EQ(garmin->device, DeviceType::Garmin);
    EXPECT_EQ(probe("$PRWIASTRAL*6E\r\n$GPGGA,,,,,,0,00,,,,,,,*66\r\n")->device, DeviceType::TripMate);
}

TEST(ReceiverProbe, NoiseCutUnitsAndWrongChecksumsAreNoReceiver) {
    EXPECT_FALSE(probe(""));
    EXPECT_FALSE(probe_receiver_bytes(nullptr, 5));
    const std::string sentence = "$GPGGA,,,,,,0,00,,,,,,,*66\r\n";
    ASSERT_TRUE(probe(sentence));
    EXPECT_FALSE(probe(sentence.substr(0, sentence.size() - 3)));   // cut before its line end
    EXPECT_FALSE(probe("$GPGGA,,,,,,0,00,,,,,,,*67\r\n"));          // checksum off by one
    // A receiver at 4800 read at 38400: each byte becomes a few stray ones, never a sentence.
    std::string garbage;
    for (int i = 0; i < 500; ++i) garbage += static_cast<char>((i * 37 + 11) & 0xFF);
    EXPECT_FALSE(probe(garbage));
    // A Zodiac header whose checksum does not add up, a Garmin packet without its end.
    auto frame = zodiac_like_header();
    ASSERT_TRUE(probe(std::string(frame.begin(), frame.end())));
    frame[8] ^= 1;
    EXPECT_FALSE(probe(std::string(frame.begin(), frame.end())));
    EXPECT_FALSE(probe(std::string("\x10\x0a\x02\x02\x00\xf2\x10", 7)));
}

TEST(ReceiverProbe, GpsdGreetingAndDeviceCount) {
    const std::string version = "{\"class\":\"VERSION\",\"release\":\"3.22\",\"rev\":\"3.22\",\"proto_major\":3}\r\n";
    EXPECT_FALSE(gpsd_version_seen(version.substr(0, 20)));  // not whole yet
    EXPECT_TRUE(gpsd_version_seen(version));
    EXPECT_FALSE(gpsd_device_count(version));
    const std::string devices = "{\"class\":\"DEVICES\",\"devices\":[{\"class\":\"DEVICE\",\"path\":\"/dev/pts/3\"},"
                                "{\"class\":\"DEVICE\",\"path\":\"/dev/ttyUSB0\"}]}\r\n";
    EXPECT_EQ(gpsd_device_count(version + devices), 2);
    EXPECT_EQ(gpsd_device_count("{\"class\":\"DEVICES\",\"devices\":[]}\n"), 0);
    EXPECT_FALSE(gpsd_device_count("HTTP/1.1 400 Bad Request\r\n"));
}

}  // namespace
}  // namespace vg
