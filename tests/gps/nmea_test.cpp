#include "gps/nmea.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "gps/receiver_logs.h"
#include "gps/receiver_parser.h"

namespace vg {
namespace {

using test::Json;

// Appends "*XX" and CR LF to a sentence body ("GPGGA,..."), with "$" in front.
std::string sentence(const std::string& body, const char* line_end = "\r\n") {
    unsigned sum = 0;
    for (unsigned char c : body) sum ^= c;
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X", sum);
    return "$" + body + tail + line_end;
}

void feed(NmeaParser& parser, FixRecord& fix, const std::string& bytes, std::size_t chunk = 80) {
    for (std::size_t i = 0; i < bytes.size(); i += chunk) {
        const std::size_t n = std::min(chunk, bytes.size() - i);
        parser.nmea_feed(reinterpret_cast<const std::uint8_t*>(bytes.data() + i), n, fix);
    }
}

// Real sentences (garmin48 capture) used by the edge cases below.
const std::string kGga = "GPGGA,225310,4527.458,S,16709.165,E,1,05,2.1,14.6,M,1.1,M,,*5B";
const std::string kRmc = "GPRMC,225310,A,4527.458,S,16709.165,E,000.0,094.5,060601,024.1,E*64";

// ---- Real receivers -------------------------------------------------------------------------------

TEST(NmeaRealLogs, FinalRecordMatchesExpected) {
    for (const std::string& name : test::nmea_log_names()) {
        SCOPED_TRACE(name);
        const Json want = test::expected_fix(name);
        ASSERT_EQ(want.kind, Json::Kind::Object);
        NmeaParser parser;
        FixRecord fix;
        feed(parser, fix, test::nmea_log_bytes(name));

        EXPECT_EQ(fix.utc_text, want["utc"].string);
        EXPECT_EQ(fix.local_text, want["local"].string);
        EXPECT_DOUBLE_EQ(fix.latitude, want["lat"].number);
        EXPECT_DOUBLE_EQ(fix.longitude, want["lon"].number);
        EXPECT_DOUBLE_EQ(fix.altitude, want["alt"].number);
        EXPECT_DOUBLE_EQ(fix.speed_knots, want["speed_knots"].number);
        EXPECT_DOUBLE_EQ(fix.course, want["course"].number);
        EXPECT_EQ(fix.fix_dimension, want["fix"].number);
        EXPECT_EQ(fix.sats_in_view, want["sats_in_view"].number);
        EXPECT_EQ(fix.last_message, want["last_message"].string);
        ASSERT_EQ(want["satellites"].array.size(), 12u);
        for (int i = 0; i < kSatelliteSlots; ++i) {
            SCOPED_TRACE("slot " + std::to_string(i));
            const Json& sat = want["satellites"].array[i];
            EXPECT_EQ(fix.satellites[i].prn, sat["prn"].number);
            EXPECT_EQ(fix.satellites[i].elevation, sat["elevation"].number);
            EXPECT_EQ(fix.satellites[i].azimuth, sat["azimuth"].number);
            EXPECT_EQ(fix.satellites[i].snr, sat["snr"].number);
            EXPECT_EQ(fix.satellites[i].used, sat["used"].number);
        }
    }
}

TEST(NmeaRealLogs, ChunkSizeDoesNotMatter) {
    for (const std::string& name : test::nmea_log_names()) {
        SCOPED_TRACE(name);
        const std::string bytes = test::nmea_log_bytes(name);
        NmeaParser reference_parser;
        FixRecord reference;
        feed(reference_parser, reference, bytes, bytes.size());
        for (std::size_t chunk : {1u, 2u, 7u, 80u, 4096u}) {
            NmeaParser parser;
            FixRecord fix;
            feed(parser, fix, bytes, chunk);
            EXPECT_TRUE(test::same_fix(fix, reference)) << "chunk " << chunk;
        }
    }
}

// Only position sentences move the position, and every position stored is one that gpsd also
// reported for the capture.
TEST(NmeaRealLogs, PositionsAgreeWithGpsd) {
    for (const std::string& name : test::nmea_log_names()) {
        SCOPED_TRACE(name);
        const auto reported = test::gpsd_positions(name);
        const std::string bytes = test::nmea_log_bytes(name);
        NmeaParser parser;
        FixRecord fix;
        std::vector<std::pair<double, double>> stored;
        std::size_t start = 0;
        while (start < bytes.size()) {
            std::size_t lf = bytes.find('\n', start);
            std::size_t end = lf == std::string::npos ? bytes.size() : lf + 1;
            const std::string line = bytes.substr(start, end - start);
            start = end;
            const double lat = fix.latitude, lon = fix.longitude;
            feed(parser, fix, line);
            const std::string type = line.size() > 6 ? line.substr(3, 3) : "";
            const bool position_sentence = type == "RMC" || type == "GGA" || type == "GLL";
            if (fix.latitude != lat || fix.longitude != lon) {
                EXPECT_TRUE(position_sentence) << line;
                stored.emplace_back(fix.latitude, fix.longitude);
            }
        }
        // gpsd leaves out the last epoch before the end of a capture or a gap, and positions that a
        // receiver without a fix reports as zero.
        std::string unmatched;
        std::size_t misses = 0;
        for (const auto& [lat, lon] : stored) {
            bool found = false;
            for (const auto& [rlat, rlon] : reported)
                if (std::fabs(rlat - lat) <= 1e-6 && std::fabs(rlon - lon) <= 1e-6) found = true;
            if (!found) {
                ++misses;
                unmatched += " (" + std::to_string(lat) + ", " + std::to_string(lon) + ")";
            }
        }
        EXPECT_LE(misses, 3u) << "of " << stored.size() << ":" << unmatched;
        if (!reported.empty()) {
            EXPECT_GT(stored.size(), misses);
        }
    }
}

// The GN receivers end where gpsd ends: the last position and the time of the last report.
TEST(NmeaRealLogs, GnReceiversEndWhereGpsdEnds) {
    for (const std::string name : {"bu353-glonass", "nmea-rtk"}) {
        SCOPED_TRACE(name);
        NmeaParser parser;
        FixRecord fix;
        feed(parser, fix, test::nmea_log_bytes(name));
        const auto reported = test::gpsd_positions(name);
        ASSERT_FALSE(reported.empty());
        EXPECT_NEAR(fix.latitude, reported.back().first, 1e-6);
        EXPECT_NEAR(fix.longitude, reported.back().second, 1e-6);
        std::string time = test::gpsd_last_time(name);  // 2020-03-18T13:39:01.500Z
        ASSERT_GE(time.size(), 19u);
        time = time.substr(0, 4) + "/" + time.substr(5, 2) + "/" + time.substr(8, 2) + " " + time.substr(11, 8);
        EXPECT_EQ(fix.utc_text, time);
        EXPECT_STREQ(fix.talker, "GN");
    }
}

// ---- Framing ----------------------------------------------------------------------------------------

TEST(NmeaFraming, SentenceSplitAcrossReadsIsAssembled) {
    NmeaParser parser;
    FixRecord fix;
    const std::string line = "$" + kRmc + "\r\n";
    const std::size_t cut = std::strlen("$GPRMC,2253");  // inside the time field
    feed(parser, fix, line.substr(0, cut));
    EXPECT_EQ(fix.last_message[0], '\0');
    EXPECT_EQ(parser.pending(), cut);
    feed(parser, fix, line.substr(cut));
    EXPECT_EQ(fix.last_message, kRmc);
    EXPECT_STREQ(fix.utc_text, "2001/06/06 22:53:10");
    EXPECT_EQ(parser.pending(), 0u);
}

TEST(NmeaFraming, LineEndsLfAloneCrLfAndStrayCr) {
    NmeaParser lf_parser, crlf_parser;
    FixRecord lf_fix, crlf_fix;
    feed(lf_parser, lf_fix, "$" + kRmc + "\n$" + kGga + "\n");
    feed(crlf_parser, crlf_fix, "$" + kRmc + "\r\n$" + kGga + "\r\n");
    EXPECT_TRUE(test::same_fix(lf_fix, crlf_fix));
    EXPECT_EQ(lf_fix.last_message, kGga);
    EXPECT_NEAR(lf_fix.latitude, -45.4576333, 1e-6);

    // Only the CR right before the LF is dropped; another one stays in the text (and so in the checksum).
    NmeaParser parser;
    FixRecord fix;
    feed(parser, fix, "$" + kGga + "\r\r\n");
    EXPECT_EQ(fix.last_message, kGga + "\r");
    EXPECT_DOUBLE_EQ(fix.altitude, 14.6);  // the two checksum characters are still right after "*"
    FixRecord fix2;
    feed(parser, fix2, "$GPGGA,225310,4527.458,S,1\r6709.165,E,1,05,2.1,14.6,M,1.1,M,,*5B\r\n");
    EXPECT_EQ(fix2.latitude, 0.0);  // CR changes the checksum
}

TEST(NmeaFraming, OtherLinesAndNulBytes) {
    NmeaParser parser;
    FixRecord fix;
    feed(parser, fix, "# comment\r\n\r\n\n" + kGga + "\r\n");  // no "$": ignored
    EXPECT_EQ(fix.last_message[0], '\0');
    EXPECT_EQ(fix.latitude, 0.0);

    // A sentence ends at its first NUL byte: after the checksum it does no harm ...
    feed(parser, fix, "$" + kGga + std::string("\0junk", 5) + "\r\n");
    EXPECT_EQ(fix.last_message, kGga);
    EXPECT_DOUBLE_EQ(fix.altitude, 14.6);
    // ... inside the sentence it cuts the checksum off.
    FixRecord fix2;
    std::string broken = "$" + kRmc + "\r\n";
    broken[10] = '\0';
    feed(parser, fix2, broken);
    EXPECT_STREQ(fix2.last_message, "GPRMC,225");
    EXPECT_EQ(fix2.utc_text[0], '\0');
}

// Builds a valid GLL sentence line of exactly `length` bytes before the LF.
std::string padded_gll(std::size_t length) {
    std::string body = "GPGLL,4807.038,N,01131.000,W,";
    const std::size_t fixed = 1 + body.size() + 3 + 1;  // "$", body, "*XX", CR
    body.append(length - fixed, 'x');
    return sentence(body);
}

TEST(NmeaFraming, OverlongLineIsDroppedUpToItsLf) {
    const std::size_t max = NmeaParser::kLineBufferSize - 1;  // the LF takes the last byte
    ASSERT_EQ(padded_gll(max).size(), max + 1);

    NmeaParser parser;
    FixRecord fix;
    feed(parser, fix, padded_gll(max), 1000);
    EXPECT_NEAR(fix.latitude, 48.1173, 1e-9);
    EXPECT_EQ(std::strlen(fix.last_message), 255u);  // truncated copy of the long sentence

    for (std::size_t chunk : {1u, 80u, 5000u, 100000u}) {
        SCOPED_TRACE(chunk);
        FixRecord fresh;
        NmeaParser p;
        // One byte too long, then a much longer one; the following sentence is read normally.
        feed(p, fresh, padded_gll(max + 1) + padded_gll(3 * max) + "$" + kGga + "\r\n", chunk);
        EXPECT_EQ(fresh.last_message, kGga);
        EXPECT_NEAR(fresh.latitude, -45.4576333, 1e-6);
        EXPECT_EQ(p.pending(), 0u);
    }

    // An over-long line with no LF yet keeps being skipped across reads.
    NmeaParser p;
    FixRecord f;
    feed(p, f, std::string(10000, '$'));
    EXPECT_EQ(p.pending(), 0u);
    feed(p, f, "$" + kGga + "\r\n");  // still part of the over-long line
    EXPECT_EQ(f.last_message[0], '\0');
    feed(p, f, "$" + kGga + "\r\n");
    EXPECT_EQ(f.last_message, kGga);
}

TEST(NmeaFraming, AstralLinesGoToTheHook) {
    std::vector<std::string> lines;
    NmeaParser parser([&](std::string_view line) { lines.emplace_back(line); });
    FixRecord fix;
    feed(parser, fix, "ASTRAL\r\nastral\r\nASTRA\r\nASTRAL 1.0\nxASTRAL\r\n", 3);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "ASTRAL");
    EXPECT_EQ(lines[1], "ASTRAL 1.0");
    EXPECT_EQ(fix.last_message[0], '\0');

    NmeaParser no_hook;  // no hook: ASTRAL lines are ignored
    feed(no_hook, fix, "ASTRAL\r\n$" + kGga + "\r\n");
    EXPECT_EQ(fix.last_message, kGga);
}

// ---- Checksums and fields -----------------------------------------------------------------------------

TEST(NmeaChecksum, OnlyExactUpperCaseChecksumIsValid) {
    const std::string rmc_lower = "GPRMC,225310,A,4527.458,S,16709.165,E,000.0,094.5,060601,024.1,E*64";
    EXPECT_TRUE(nmea_checksum_valid(kGga));
    EXPECT_FALSE(nmea_checksum_valid("GPGGA,225310,4527.458,S,16709.165,E,1,05,2.1,14.6,M,1.1,M,,*5b"));
    EXPECT_FALSE(nmea_checksum_valid("GPGGA,225310,4527.458,S,16709.165,E,1,05,2.1,14.6,M,1.1,M,,"));
    EXPECT_FALSE(nmea_checksum_valid("GPGGA,225310,4527.458,S,16709.165,E,1,05,2.1,14.6,M,1.1,M,,*5"));
    EXPECT_FALSE(nmea_checksum_valid(""));
    EXPECT_FALSE(nmea_checksum_valid("*"));
    EXPECT_TRUE(nmea_checksum_valid("*00"));
    EXPECT_TRUE(nmea_checksum_valid(kGga + "trailing"));

    NmeaParser parser;
    FixRecord fix;
    const std::string lower = "GPGGA,225310,4527.458,S,16709.165,E,1,05,2.1,14.6,M,1.1,M,,*5b";
    feed(parser, fix, "$" + lower + "\r\n");
    EXPECT_EQ(fix.last_message, lower);  // invalid sentences still become the last message
    EXPECT_EQ(fix.latitude, 0.0);
    EXPECT_EQ(fix.altitude, 0.0);
    feed(parser, fix, "$GPGGA,225310,4527.458,S,16709.165,E,1,05,2.1,14.6,M,1.1,M,,\r\n");  // no "*"
    EXPECT_EQ(fix.altitude, 0.0);
    feed(parser, fix, "$" + kGga + "\r\n");
    EXPECT_DOUBLE_EQ(fix.altitude, 14.6);
    EXPECT_NEAR(fix.longitude, 167.15275, 1e-9);
}

TEST(NmeaField, Boundaries) {
    EXPECT_EQ(nmea_field(kGga, 0), "GPGGA");
    EXPECT_EQ(nmea_field(kGga, 1), "225310");
    EXPECT_EQ(nmea_field(kGga, 13), "");
    EXPECT_EQ(nmea_field(kGga, 14), "");  // ends at "*"
    EXPECT_EQ(nmea_field(kGga, 15), "");  // missing
    EXPECT_EQ(nmea_field(kGga, -1), "");
    EXPECT_EQ(nmea_field("GPRTE,1,1,c,0*07", 4), "0");
    EXPECT_EQ(nmea_field("A,b\rc,d", 1), "b");
    EXPECT_EQ(nmea_field("A,b\rc,d", 2), "d");
    EXPECT_EQ(nmea_field("", 0), "");
}

// ---- Sentences ------------------------------------------------------------------------------------------

TEST(NmeaPosition, DegreesMinutesAndHemispheres) {
    FixRecord fix;
    nmea_position("GPGLL,4807.038,N,01131.000,W,225444,A", 1, fix);
    EXPECT_NEAR(fix.latitude, 48.1173, 1e-12);
    EXPECT_NEAR(fix.longitude, -11.516666666666667, 1e-12);
    nmea_position("GPGLL,4807.038,S,01131.000,E", 1, fix);
    EXPECT_NEAR(fix.latitude, -48.1173, 1e-12);
    EXPECT_NEAR(fix.longitude, 11.516666666666667, 1e-12);
    // A position is taken whole: an empty half leaves both as they were.
    nmea_position("GPGLL,,N,00030.000,W", 1, fix);
    nmea_position("GPGLL,0030.000,N,,W", 1, fix);
    EXPECT_NEAR(fix.latitude, -48.1173, 1e-12);
    EXPECT_NEAR(fix.longitude, 11.516666666666667, 1e-12);
    nmea_position("GPGLL,0030.000,N,00030.000,W", 1, fix);
    EXPECT_NEAR(fix.latitude, 0.5, 1e-12);
    EXPECT_NEAR(fix.longitude, -0.5, 1e-12);
    // Missing fields, unreadable and non-finite numbers change nothing.
    nmea_position("GPGLL", 1, fix);
    nmea_position("GPGLL,abc,N,nan,E", 1, fix);
    nmea_position("GPGLL,inf,N,-inf,E", 1, fix);
    // Angles off the globe are refused, whatever the checksum said.
    nmea_position("GPGLL,100000065.0,N,18030.000,W", 1, fix);
    nmea_position("GPGLL,9000.001,S,-18000.01,E", 1, fix);
    EXPECT_NEAR(fix.latitude, 0.5, 1e-12);
    EXPECT_NEAR(fix.longitude, -0.5, 1e-12);
    // Through the parser: a valid GGA, then an RMC whose latitude is good but whose longitude is off
    // the globe; the position stays the GGA's, no mix of the two.
    {
        NmeaParser parser;
        FixRecord mixed;
        feed(parser, mixed, sentence(kGga.substr(0, kGga.size() - 3)));
        ASSERT_NEAR(mixed.latitude, -(45 + 27.458 / 60), 1e-12);
        feed(parser, mixed, sentence("GPRMC,225311,A,4000.000,N,19000.000,E,000.0,094.5,060601,024.1,E"));
        EXPECT_NEAR(mixed.latitude, -(45 + 27.458 / 60), 1e-12);
        EXPECT_NEAR(mixed.longitude, 167 + 9.165 / 60, 1e-12);
    }
    nmea_position("GPGLL,9000.000,S,18000.000,W", 1, fix);  // the edges are on it
    EXPECT_NEAR(fix.latitude, -90, 1e-12);
    EXPECT_NEAR(fix.longitude, -180, 1e-12);
    // 8-decimal minutes keep their precision.
    nmea_position("GNGGA,133901.50,4134.50180366,N,09345.03586734,W", 2, fix);
    EXPECT_NEAR(fix.latitude, 41 + 34.50180366 / 60, 1e-12);
    EXPECT_NEAR(fix.longitude, -(93 + 45.03586734 / 60), 1e-12);
}

TEST(NmeaSentences, RmcWithoutFixStillSetsTimeAndMotion) {
    NmeaParser parser;
    FixRecord fix;
    fix.local_offset_hours = 2;
    feed(parser, fix, sentence("GPRMC,235959.50,V,4807.038,N,01131.000,E,3.5,084.4,311299,,,N"));
    EXPECT_EQ(fix.fix_dimension, 0);
    EXPECT_STREQ(fix.utc_text, "1999/12/31 23:59:59");
    EXPECT_STREQ(fix.local_text, "2000/01/01 01:59:59");
    EXPECT_DOUBLE_EQ(fix.speed_knots, 3.5);
    EXPECT_DOUBLE_EQ(fix.course, 84.4);
    EXPECT_NEAR(fix.latitude, 48.1173, 1e-12);

    // Years below 70 are 20xx; empty speed and course keep their values.
    feed(parser, fix, sentence("GPRMC,010203,A,,,,,,,140210,,"));
    EXPECT_STREQ(fix.utc_text, "2010/02/14 01:02:03");
    EXPECT_EQ(fix.fix_dimension, 1);
    EXPECT_DOUBLE_EQ(fix.speed_knots, 3.5);
    EXPECT_DOUBLE_EQ(fix.course, 84.4);

    // A date or time that is not three two-digit numbers leaves the time as it was.
    for (const char* body : {"GPRMC,,A,,,,,,,140210", "GPRMC,010203,A,,,,,,,1402", "GPRMC,01 203,A,,,,,,,140210",
                             "GPRMC,010203,A,,,,,,,-40210", "GPRMC,010203,A"}) {
        feed(parser, fix, sentence(body));
        EXPECT_STREQ(fix.utc_text, "2010/02/14 01:02:03") << body;
    }
}

TEST(NmeaSentences, FixDimensionFromGsaAndRmc) {
    NmeaParser parser;
    FixRecord fix;
    feed(parser, fix, sentence("GPGSA,A,3,01,,,,13,20,22,,,,28,,3.1,2.1,2.0"));
    EXPECT_EQ(fix.fix_dimension, 3);
    feed(parser, fix, sentence("GPRMC,225310,A,,,,,,,060601"));  // a fix is already known: unchanged
    EXPECT_EQ(fix.fix_dimension, 3);
    feed(parser, fix, sentence("GPGSA,A,1,,,,,,,,,,,,,,,"));
    EXPECT_EQ(fix.fix_dimension, 0);
    feed(parser, fix, sentence("GPRMC,225310,V,,,,,,,060601"));
    EXPECT_EQ(fix.fix_dimension, 0);
    feed(parser, fix, sentence("GPRMC,225310,A,,,,,,,060601"));
    EXPECT_EQ(fix.fix_dimension, 1);
    feed(parser, fix, sentence("GPGSA,A,,,"));  // empty mode: unchanged
    EXPECT_EQ(fix.fix_dimension, 1);
    feed(parser, fix, sentence("GPGSA,A,2"));
    EXPECT_EQ(fix.fix_dimension, 2);
}

TEST(NmeaSentences, GsvFillsSlotsAndGsaMarksUsed) {
    NmeaParser parser;
    FixRecord fix;
    feed(parser, fix,
         sentence("GPGSV,3,1,09,01,78,221,47,03,09,042,00,04,05,242,00,06,04,149,00") +
             sentence("GPGSV,3,2,09,13,37,235,48,20,41,333,46,22,65,081,46,24,02,205,") +
             sentence("GPGSV,3,3,09,25,20,108,30,27,08,281,00,28,17,339,39"));
    EXPECT_EQ(fix.sats_in_view, 9);
    EXPECT_EQ(fix.satellites[4].prn, 13);
    EXPECT_EQ(fix.satellites[7].prn, 24);
    EXPECT_EQ(fix.satellites[7].azimuth, 205);
    EXPECT_EQ(fix.satellites[8].prn, 25);
    EXPECT_EQ(fix.satellites[8].snr, 30);
    EXPECT_EQ(fix.satellites[9].prn, 0);  // beyond the 9 in view: untouched
    EXPECT_EQ(fix.satellites[10].prn, 0);

    // Empty SNR, PRN, elevation and azimuth fields keep the slot's values.
    fix.satellites[7].snr = 11;
    feed(parser, fix, sentence("GPGSV,3,2,09,,,,,20,42,334,,22,65,081,46,24,03,206,"));
    EXPECT_EQ(fix.satellites[4].prn, 13);
    EXPECT_EQ(fix.satellites[4].elevation, 37);
    EXPECT_EQ(fix.satellites[5].elevation, 42);
    EXPECT_EQ(fix.satellites[5].snr, 46);
    EXPECT_EQ(fix.satellites[7].elevation, 3);
    EXPECT_EQ(fix.satellites[7].snr, 11);

    feed(parser, fix, sentence("GPGSA,A,3,01,,,,13,20,22,,,,28,,3.1,2.1,2.0"));
    for (int i = 0; i < kSatelliteSlots; ++i) {
        const int prn = fix.satellites[i].prn;
        const bool used = prn == 1 || prn == 13 || prn == 20 || prn == 22 || prn == 28;
        EXPECT_EQ(fix.satellites[i].used, used ? 1 : 0) << "slot " << i;
    }
    feed(parser, fix, sentence("GPGSA,A,3,13"));  // all others are cleared
    EXPECT_EQ(fix.satellites[0].used, 0);
    EXPECT_EQ(fix.satellites[4].used, 1);
}

TEST(NmeaSentences, GsvNeverWritesPastTheTable) {
    NmeaParser parser;
    FixRecord fix;
    // 16 in view: message 3 fills slots 8-11, message 4 has no slot left.
    feed(parser, fix,
         sentence("GPGSV,4,3,16,09,10,100,30,10,10,100,30,11,10,100,30,12,10,100,30") +
             sentence("GPGSV,4,4,16,13,10,100,30,14,10,100,30,15,10,100,30,16,10,100,30"));
    EXPECT_EQ(fix.sats_in_view, 16);  // reported as is
    EXPECT_EQ(fix.satellites[11].prn, 12);
    for (const char* body : {"GPGSV,9,99999999999,16,77,1,1,1", "GPGSV,9,2147483647,16,77,1,1,1",
                             "GPGSV,9,-1,16,77,1,1,1", "GPGSV,9,0,16,77,1,1,1", "GPGSV,9,,16,77,1,1,1",
                             "GPGSV,9,5,16,77,1,1,1"}) {
        feed(parser, fix, sentence(body));
        for (const auto& sat : fix.satellites) EXPECT_NE(sat.prn, 77) << body;
    }
    // A negative or empty count keeps the previous count; slots stay bounded by it.
    feed(parser, fix, sentence("GPGSV,1,1,-3,77,1,1,1"));
    EXPECT_EQ(fix.sats_in_view, 16);
    feed(parser, fix, sentence("GPGSV,1,1,2,21,1,1,1"));
    EXPECT_EQ(fix.sats_in_view, 2);
    EXPECT_EQ(fix.satellites[0].prn, 21);
    feed(parser, fix, sentence("GPGSV,1,1,,22,1,1,1,23,1,1,1,24,1,1,1"));
    EXPECT_EQ(fix.sats_in_view, 2);
    EXPECT_EQ(fix.satellites[1].prn, 23);
    EXPECT_EQ(fix.satellites[2].prn, 0);  // third slot is beyond the two in view
    // Numbers that do not fit an int are ignored, not wrapped.
    feed(parser, fix, sentence("GPGSV,1,1,2,99999999999,1,1,1"));
    EXPECT_EQ(fix.satellites[0].prn, 22);
}

TEST(NmeaSentences, OtherSentencesOnlySetLastMessage) {
    NmeaParser parser;
    FixRecord fix;
    const std::string other = sentence("PRWIZCH,01,7,02,7,03,7") + sentence("GPVTG,221.54,T,,M,32.273,N,59.802,K,A") +
                              sentence("GPZDA,081411.000,26,05,2014,,") + sentence("XXRMC,133901.50,A,4134.5,N,09345.0,W,0.0,0.0,180320") +
                              sentence("GNRMCX,133901.50,A,4134.5,N,09345.0,W,0.0,0.0,180320");
    feed(parser, fix, other);
    FixRecord zero;
    std::strcpy(zero.last_message, fix.last_message);
    EXPECT_TRUE(test::same_fix(fix, zero));

    // Non-finite numbers with a valid checksum are not stored.
    feed(parser, fix, sentence("GPGGA,225310,4527.458,S,16709.165,E,1,05,2.1,nan,M"));
    feed(parser, fix, sentence("GPRMC,225310,A,,,,,inf,-inf,060601"));
    EXPECT_EQ(fix.altitude, 0.0);
    EXPECT_EQ(fix.speed_knots, 0.0);
    EXPECT_EQ(fix.course, 0.0);
    EXPECT_NEAR(fix.latitude, -45.4576333, 1e-6);
}

// ---- Talkers of every satellite system ---------------------------------------------------------------

const std::string kGnRmc = "GNRMC,133901.50,A,4134.50180366,N,09345.03586734,W,0.018,273.3,180320,11.5,E,D,V";
const std::string kGnGga = "GNGGA,133901.50,4134.50180366,N,09345.03586734,W,4,19,0.7,280.829,M,-31.442,M,7.5,0002";

TEST(NmeaTalkers, EveryTalkerGivesAPositionWithNmea411Fields) {
    for (const char* talker : {"GN", "GL", "GA", "GB", "BD", "GQ", "GI"}) {
        SCOPED_TRACE(talker);
        NmeaParser parser;
        FixRecord fix;
        // NMEA 4.11 adds the navigational status after the mode; more decimals; GLL with mode.
        feed(parser, fix, sentence(talker + kGnRmc.substr(2)) + sentence(talker + kGnGga.substr(2)));
        EXPECT_NEAR(fix.latitude, 41 + 34.50180366 / 60, 1e-12);
        EXPECT_NEAR(fix.longitude, -(93 + 45.03586734 / 60), 1e-12);
        EXPECT_STREQ(fix.utc_text, "2020/03/18 13:39:01");
        EXPECT_DOUBLE_EQ(fix.altitude, 280.829);
        EXPECT_DOUBLE_EQ(fix.course, 273.3);
        EXPECT_EQ(fix.fix_dimension, 1);
        EXPECT_EQ(std::string(fix.talker), std::string(talker));
        feed(parser, fix, sentence(std::string(talker) + "GLL,4807.038,N,01131.000,W,133902.00,A,D"));
        EXPECT_NEAR(fix.latitude, 48.1173, 1e-12);
    }
}

// Within one epoch the combined GN solution wins over GP, and GP over a single other system; a new
// epoch (or a receiver that switches talkers) is always taken.
TEST(NmeaTalkers, CombinedSolutionWinsWithinAnEpoch) {
    NmeaParser parser;
    FixRecord fix;
    feed(parser, fix, sentence(kGnRmc) + sentence(kGnGga));
    const double lat = fix.latitude, lon = fix.longitude;
    feed(parser, fix, sentence("GPGGA,133901.50,4000.0,N,09000.0,W,1,05,2.1,99.0,M,,M,,") +
                          sentence("GPRMC,133901.50,A,4000.0,N,09000.0,W,5.0,10.0,180320,,") +
                          sentence("GLGLL,4000.0,N,09000.0,W,133901.50,A"));
    // A time whose fraction is no fraction is unreadable: it starts no epoch of its own.
    feed(parser, fix, sentence("GPGGA,133901.5e300,4000.0,N,09000.0,W,1,05,2.1,99.0,M,,M,,"));
    EXPECT_EQ(fix.latitude, lat);
    EXPECT_EQ(fix.longitude, lon);
    EXPECT_DOUBLE_EQ(fix.altitude, 280.829);
    EXPECT_DOUBLE_EQ(fix.speed_knots, 0.018);
    EXPECT_STREQ(fix.talker, "GN");

    // GP first, then GN RMC in the same epoch: GP's altitude stays (GN sent no GGA), GN's position wins.
    feed(parser, fix, sentence("GPGGA,133902.00,4000.0,N,09000.0,W,1,05,2.1,99.0,M,,M,,") +
                          sentence("GNRMC,133902.00,A,4134.5,N,09345.0,W,1.0,20.0,180320,,,A"));
    EXPECT_DOUBLE_EQ(fix.altitude, 99.0);
    EXPECT_NEAR(fix.latitude, 41 + 34.5 / 60, 1e-12);
    // A GP sentence of a later epoch is taken again.
    feed(parser, fix, sentence("GPRMC,133903.00,A,4000.0,N,09000.0,W,5.0,10.0,180320,,"));
    EXPECT_DOUBLE_EQ(fix.latitude, 40.0);
    EXPECT_STREQ(fix.talker, "GP");
    EXPECT_STREQ(fix.utc_text, "2020/03/18 13:39:03");
}

TEST(NmeaTalkers, GsaOfEachSystemMarksItsOwnSatellites) {
    NmeaParser parser;
    FixRecord fix;
    const std::string sky = sentence("GPGSV,1,1,03,03,27,059,14,19,24,073,16,27,19,040,23") +
                            sentence("GLGSV,1,1,02,88,24,068,23,87,19,015,17") +
                            sentence("GAGSV,1,1,02,05,40,260,30,11,10,100,20,7") +
                            sentence("GBGSV,1,1,01,05,50,10,33");
    feed(parser, fix, sky);
    ASSERT_EQ(fix.sky_count, 8);
    EXPECT_EQ(fix.sats_in_view, 3);  // the 12 GPS slots: GP reports only
    EXPECT_EQ(fix.satellites[2].prn, 27);
    // Without system IDs the numbers tell the system; a second GSA leaves the first one's flags alone.
    feed(parser, fix, sentence("GNGSA,A,3,03,19,,,,,,,,,,,2.75,2.56,1.00") + sentence("GNGSA,A,3,88,,,,,,,,,,,,2.75,2.56,1.00"));
    auto used = [&](GnssSystem system, int prn) {
        for (int i = 0; i < fix.sky_count; ++i)
            if (fix.sky[i].system == system && fix.sky[i].prn == prn) return fix.sky[i].used;
        return -1;
    };
    EXPECT_EQ(fix.fix_dimension, 3);
    EXPECT_EQ(used(GnssSystem::Gps, 3), 1);
    EXPECT_EQ(used(GnssSystem::Gps, 27), 0);
    EXPECT_EQ(used(GnssSystem::Glonass, 88), 1);
    EXPECT_EQ(used(GnssSystem::Glonass, 87), 0);
    EXPECT_EQ(fix.satellites[0].used, 1);
    EXPECT_EQ(fix.satellites[2].used, 0);
    // NMEA 4.10 system IDs: Galileo 5 and BeiDou 5 are different satellites.
    feed(parser, fix, sentence("GNGSA,A,3,05,,,,,,,,,,,,1.0,1.0,1.0,3") + sentence("GNGSA,A,3,,,,,,,,,,,,,1.0,1.0,1.0,4"));
    EXPECT_EQ(used(GnssSystem::Galileo, 5), 1);
    EXPECT_EQ(used(GnssSystem::Beidou, 5), 0);
    EXPECT_EQ(used(GnssSystem::Gps, 3), 1);
    // A GN GSA naming nothing at all: no satellite is used.
    feed(parser, fix, sentence("GNGSA,A,1,,,,,,,,,,,,,,,"));
    EXPECT_EQ(fix.fix_dimension, 0);
    for (int i = 0; i < fix.sky_count; ++i) EXPECT_EQ(fix.sky[i].used, 0);
    EXPECT_EQ(fix.satellites[0].used, 0);
}

TEST(NmeaTalkers, SkyKeepsEverySystemAndAgesOutSilentOnes) {
    NmeaParser parser;
    FixRecord fix;
    // 80 BeiDou satellites reported: the table holds 64 and never more.
    std::string many;
    for (int m = 1; m <= 16; ++m) {
        std::string body = "GBGSV,16," + std::to_string(m) + ",64";
        for (int k = 0; k < 4; ++k) body += "," + std::to_string(4 * (m - 1) + k + 1) + ",10,100,30";
        many += sentence(body);
    }
    feed(parser, fix, many + sentence("GLGSV,1,1,01,70,5,5,5"));
    EXPECT_EQ(fix.sky_count, kSkyEntries);
    // A second signal's report (NMEA 4.10 signal ID 5) neither sets the GPS slots nor the strengths.
    feed(parser, fix, sentence("GPGSV,1,1,01,07,59,081,24,1") + sentence("GPGSV,1,1,01,07,59,081,40,5"));
    EXPECT_EQ(fix.sats_in_view, 1);
    EXPECT_EQ(fix.satellites[0].snr, 24);
    // When a group ends, its satellites not named any more have set.
    feed(parser, fix, sentence("GBGSV,1,1,01,02,10,100,31"));
    int beidou = 0;
    for (int i = 0; i < fix.sky_count; ++i) beidou += fix.sky[i].system == GnssSystem::Beidou;
    EXPECT_EQ(beidou, 1);
    // GLONASS and BeiDou stop reporting: after enough groups of GPS their satellites are gone.
    for (int i = 0; i < 40; ++i) feed(parser, fix, sentence("GPGSV,1,1,01,07,59,081,24"));
    ASSERT_EQ(fix.sky_count, 1);
    EXPECT_EQ(fix.sky[0].system, GnssSystem::Gps);
}

TEST(NmeaSentences, LongSentenceIsTruncatedInLastMessageOnly) {
    NmeaParser parser;
    FixRecord fix;
    const std::string line = padded_gll(600);
    feed(parser, fix, line);
    EXPECT_EQ(std::string(fix.last_message), line.substr(1, 255));
    EXPECT_EQ(fix.last_message[255], '\0');
    EXPECT_NEAR(fix.longitude, -11.516666666666667, 1e-12);
}

TEST(ReceiverParserFactory, NmeaDeviceTypesDecodeNmea) {
    for (DeviceType type : {DeviceType::Nmea, DeviceType::EarthMateUsb, DeviceType::TripMate}) {
        auto parser = make_receiver_parser(type, ParserContext{});
        ASSERT_NE(parser, nullptr);
        FixRecord fix;
        const std::string bytes = "$" + kGga + "\r\n";
        parser->feed(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), fix);
        EXPECT_DOUBLE_EQ(fix.altitude, 14.6);
    }
    EXPECT_EQ(make_receiver_parser(DeviceType::Remote, ParserContext{}), nullptr);
}

}  // namespace
}  // namespace vg
