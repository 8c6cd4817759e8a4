// AIS on every receiver path short of the network: the NMEA parsers hand a live mixed capture's
// !AIVDM lines to the feed, gpsd's JSON AIS reports (gpsd's own output for that capture, unscaled, and
// gpsdecode's scaled form when it is installed) give the decoder's messages, and the simulator's encoder
// round-trips through the decoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "gps/ais.h"
#include "gps/ais_encode.h"
#include "gps/ais_feed.h"
#include "gps/gpsd_json.h"
#include "gps/receiver_parser.h"
#include "support/run_program.h"
#include "support/test_paths.h"

namespace vg {
namespace {

std::string read_data(const std::string& name) {
    std::ifstream in(std::string(VG_TESTDATA) + "/ais/" + name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line);
    return lines;
}

// The fields the target table and the map use.
std::string key_of(const ais::Message& m) {
    std::ostringstream k;
    k << m.type << '|' << m.mmsi << '|' << m.lat << '|' << m.lon << '|' << m.speed << '|' << m.course << '|'
      << m.heading << '|' << m.status << '|' << m.shipname << '|' << m.callsign << '|' << m.shiptype << '|'
      << m.to_bow << '|' << m.to_stern << '|' << m.to_port << '|' << m.to_starboard << '|' << m.destination;
    return k.str();
}

std::set<std::string> decoded_keys(const std::string& log) {
    ais::AisAssembler assembler;
    std::set<std::string> keys;
    for (const std::string& line : lines_of(log))
        if (const auto m = assembler.feed_line(line); m && m->decoded && m->type != 24) keys.insert(key_of(*m));
    return keys;
}

TEST(AisPaths, NmeaParsersHandTheMixedCapturesAisToTheFeedAndStillReadTheFix) {
    const std::string log = read_data("ais-nmea.log");
    ais::AisFeed direct([] { return 100.0; });
    for (const std::string& line : lines_of(log)) direct.sentence(line);
    const std::size_t expected = direct.targets(std::nullopt).size();
    ASSERT_GT(expected, 5u);
    for (const DeviceType type : {DeviceType::Nmea, DeviceType::Network, DeviceType::TripMate}) {
        ais::AisFeed feed([] { return 100.0; });
        ParserContext context;
        context.ais = &feed;
        const auto parser = make_receiver_parser(type, context);
        FixRecord fix;
        // Chunks of 7 bytes: sentences split anywhere, as a serial port delivers them.
        for (std::size_t at = 0; at < log.size(); at += 7)
            parser->feed(reinterpret_cast<const std::uint8_t*>(log.data() + at), std::min<std::size_t>(7, log.size() - at), fix);
        EXPECT_EQ(feed.targets(std::nullopt).size(), expected) << static_cast<int>(type);
        EXPECT_EQ(feed.sentences(), direct.sentences());
        EXPECT_GT(fix.positions, 0u);
    }
    // Without a feed the lines are dropped and nothing else changes.
    const auto parser = make_receiver_parser(DeviceType::Nmea, {});
    FixRecord fix;
    parser->feed(reinterpret_cast<const std::uint8_t*>(log.data()), log.size(), fix);
    EXPECT_GT(fix.positions, 0u);
}

TEST(AisPaths, GpsdReportsGiveTheDecodersMessagesScaledOrNot) {
    const std::set<std::string> decoded = decoded_keys(read_data("ais-nmea.log"));
    // gpsd's own JSON for the capture (its default, unscaled).
    std::set<std::string> reported;
    ais::AisFeed feed([] { return 100.0; });
    GpsdParser parser(&feed);
    FixRecord fix;
    for (const std::string& line : lines_of(read_data("ais-nmea.log.chk"))) {
        EXPECT_EQ(gpsd_report(line, fix), GpsdReport::Ais);
        const auto m = gpsd_ais_message(line);
        ASSERT_TRUE(m) << line;
        // gpsd reports class B static data (24) merged, once both parts came: compared in the table below.
        if (m->decoded && m->type != 24) reported.insert(key_of(*m));
        const std::string fed = line + "\n";
        parser.feed(reinterpret_cast<const std::uint8_t*>(fed.data()), fed.size(), fix);
    }
    std::vector<std::string> only_reported, only_decoded;
    std::set_difference(reported.begin(), reported.end(), decoded.begin(), decoded.end(), std::back_inserter(only_reported));
    std::set_difference(decoded.begin(), decoded.end(), reported.begin(), reported.end(), std::back_inserter(only_decoded));
    EXPECT_EQ(only_reported, std::vector<std::string>{});
    EXPECT_EQ(only_decoded, std::vector<std::string>{});
    ais::AisFeed direct([] { return 100.0; });
    for (const std::string& line : lines_of(read_data("ais-nmea.log"))) direct.sentence(line);
    // The same table, but for the vessel that only ever sent part A of its static data (gpsd keeps it back).
    std::vector<std::uint32_t> missing;
    for (const ais::Target& d : direct.targets(std::nullopt)) {
        const auto t = feed.targets(std::nullopt);
        const auto it = std::find_if(t.begin(), t.end(), [&](const ais::Target& g) { return g.mmsi == d.mmsi; });
        if (it == t.end()) {
            missing.push_back(d.mmsi);
            continue;
        }
        EXPECT_EQ(it->name, d.name);
        EXPECT_EQ(it->callsign, d.callsign);
        EXPECT_EQ(it->shiptype, d.shiptype);
        EXPECT_EQ(it->length_m, d.length_m);
        EXPECT_EQ(it->lat, d.lat);
        EXPECT_EQ(it->sog_kn, d.sog_kn);
        EXPECT_EQ(it->kind, d.kind);
    }
    EXPECT_EQ(missing, std::vector<std::uint32_t>{244820267});

    // The scaled form (degrees, knots, degrees of course) of the same messages, line for line.
#ifdef _WIN32
    GTEST_SKIP() << "gpsdecode (gpsd-clients) is not run in this build";
#else
    if (!test::have_tool("gpsdecode")) GTEST_SKIP() << "gpsdecode (gpsd-clients) is not installed";
    const std::string log = read_data("ais-nmea.log");
    const auto scaled = lines_of(test::run_program("gpsdecode", {}, {}, log).out);
    const auto unscaled = lines_of(test::run_program("gpsdecode", {"-u"}, {}, log).out);
    ASSERT_EQ(scaled.size(), unscaled.size());
    ASSERT_GT(scaled.size(), 100u);
    for (std::size_t i = 0; i < scaled.size(); ++i) {
        const auto s = gpsd_ais_message(scaled[i]), u = gpsd_ais_message(unscaled[i]);
        if (!u || !u->decoded) continue;  // gpsdecode's other lines; binary messages name fields their own way
        ASSERT_TRUE(s) << scaled[i];
        EXPECT_EQ(s->mmsi, u->mmsi);
        EXPECT_NEAR(s->lat, u->lat, 1) << scaled[i];  // six decimals of a degree
        EXPECT_NEAR(s->lon, u->lon, 1) << scaled[i];
        EXPECT_EQ(s->speed, u->speed) << scaled[i];
        EXPECT_EQ(s->course, u->course) << scaled[i];
        EXPECT_EQ(s->heading, u->heading);
        EXPECT_NEAR(s->turn, u->turn, 1) << scaled[i];
        EXPECT_EQ(s->draught, u->draught);
        EXPECT_EQ(s->shipname, u->shipname);
    }
#endif
}

TEST(AisPaths, HostileGpsdAisReportsGiveNoMessageOrBoundedValues) {
    FixRecord fix;
    EXPECT_FALSE(gpsd_ais_message(R"({"class":"AIS","type":1})"));
    EXPECT_FALSE(gpsd_ais_message(R"({"class":"AIS","type":1,"mmsi":0})"));
    EXPECT_FALSE(gpsd_ais_message(R"({"class":"AIS","type":99,"mmsi":1})"));
    EXPECT_FALSE(gpsd_ais_message(R"({"class":"TPV","type":1,"mmsi":1})"));
    EXPECT_EQ(gpsd_report(R"({"class":"AIS","type":1,"mmsi":"x"})", fix), GpsdReport::Ais);
    const auto m = gpsd_ais_message(
        R"({"class":"AIS","type":1,"mmsi":1,"scaled":true,"lat":1e300,"lon":-500,"speed":-3,"course":1e9,"turn":1e9,"heading":-1})");
    ASSERT_TRUE(m);
    EXPECT_FALSE(m->latitude_deg());
    EXPECT_EQ(m->speed, 1023);
    EXPECT_EQ(m->course, 3600);
    EXPECT_EQ(m->turn, -128);
    EXPECT_EQ(m->heading, 511);
    // A type the decoder keeps only by name does not become a target.
    const auto other = gpsd_ais_message(R"({"class":"AIS","type":8,"mmsi":2300061,"scaled":true,"lat":64.65,"lon":24.4})");
    ASSERT_TRUE(other);
    EXPECT_FALSE(other->decoded);
}

TEST(AisEncode, SentencesRoundTripThroughTheDecoder) {
    ais::Message a;
    a.type = 1, a.mmsi = 230990001, a.status = 5, a.turn = -7, a.speed = 123, a.accuracy = true;
    a.lon = static_cast<std::int32_t>(-123.395383 * 600000), a.lat = static_cast<std::int32_t>(48.381633 * 600000);
    a.course = 2240, a.heading = 215, a.second = 33, a.raim = true, a.radio = 34017;
    ais::Message b;
    b.type = 18, b.mmsi = 367430530, b.speed = 0, b.lon = -73951800, b.lat = 24252000, b.course = 0, b.heading = 511;
    b.second = 59, b.cs = true, b.band = true, b.msg22 = true, b.radio = 917510;
    ais::Message s;
    s.type = 5, s.mmsi = 351759000, s.imo = 9134270, s.callsign = "3FOF8", s.shipname = "EVER DIADEM";
    s.shiptype = 70, s.to_bow = 225, s.to_stern = 70, s.to_port = 1, s.to_starboard = 31, s.epfd = 1;
    s.eta_month = 5, s.eta_day = 15, s.eta_hour = 14, s.eta_minute = 0, s.draught = 122, s.destination = "NEW YORK";
    ais::Message p;
    p.type = 24, p.partno = 0, p.mmsi = 271041815, p.shipname = "PROGUY";
    ais::AisAssembler assembler;
    for (const ais::Message& m : {a, b, s, p}) {
        const auto sentences = ais::encode_sentences(m, 3, 'B');
        ASSERT_FALSE(sentences.empty());
        EXPECT_EQ(sentences.size(), m.type == 5 ? 2u : 1u);
        std::optional<ais::Message> back;
        for (const std::string& line : sentences) {
            EXPECT_LE(line.size(), 82u);
            back = assembler.feed_line(line);
            EXPECT_EQ(assembler.last_error(), "") << line;
        }
        ASSERT_TRUE(back) << sentences.back();
        EXPECT_EQ(key_of(*back), key_of(m));
        EXPECT_EQ(back->radio, m.radio);
        EXPECT_EQ(back->turn, m.turn);
        EXPECT_EQ(back->draught, m.draught);
        EXPECT_EQ(back->cs, m.cs);
    }
    // Texts outside the 6-bit set, lower case included, arrive as the set has them.
    ais::Message named = p;
    named.shipname = "sea \x01wolf";
    const auto line = ais::encode_sentences(named);
    ASSERT_EQ(line.size(), 1u);
    EXPECT_EQ(assembler.feed_line(line[0])->shipname, "SEA ?WOLF");
    EXPECT_TRUE(ais::encode_sentences(ais::Message{}).empty());  // type 0: nothing to write
}

}  // namespace
}  // namespace vg
