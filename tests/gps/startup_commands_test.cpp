#include "gps/startup_commands.h"

#include <gtest/gtest.h>

#include <string>

#include "support/test_paths.h"

namespace vg {
namespace {

using test::TempDir;

constexpr long long kClock20100214_123456 = 1266150896;  // 2010-02-14 12:34:56 UTC

struct Astral {
    TempDir dir;
    std::string replies;
    AstralResponder responder{make_context()};

    ParserContext make_context() {
        ParserContext c;
        c.reply = [this](const std::uint8_t* d, std::size_t n) { replies.append(reinterpret_cast<const char*>(d), n); };
        c.utc_seconds = [] { return kClock20100214_123456; };
        c.pos_file = (dir / "vor_pos.txt").string();
        return c;
    }
};

std::string with_checksum(const std::string& body) {
    unsigned sum = 0;
    for (char c : body.substr(1, body.size() - 2)) sum ^= static_cast<unsigned char>(c);
    char cs[3];
    std::snprintf(cs, sizeof cs, "%02X", sum);
    return body + cs + "\r\n";
}

TEST(Astral, QueryEveryLineInitialisationEverySecond) {
    Astral a;
    test::write_file(a.dir / "vor_pos.txt", "N 60 10 30\nE 24 55 00\n");
    const std::string init = with_checksum("$PRWIINIT,V,,,60 10 30,N,24 55 00,E,100.0,0.0,M,0.0,T,123456,140210*");
    a.responder.handle_line("ASTRAL");
    EXPECT_EQ(a.replies, "$IIGPQ,ASTRAL*73\r\n");
    EXPECT_EQ(a.responder.astral_count(), 1);
    a.responder.handle_line("ASTRAL 2");
    EXPECT_EQ(a.replies, "$IIGPQ,ASTRAL*73\r\n$IIGPQ,ASTRAL*73\r\n" + init);
    EXPECT_EQ(a.responder.astral_count(), 0);
    a.replies.clear();
    a.responder.handle_line("ASTRAL");
    a.responder.handle_line("ASTRAL");
    EXPECT_EQ(a.replies, "$IIGPQ,ASTRAL*73\r\n$IIGPQ,ASTRAL*73\r\n" + init);
    // The query's stored checksum is the real one.
    EXPECT_EQ(with_checksum("$IIGPQ,ASTRAL*"), std::string(kAstralQuery));
}

TEST(Astral, InitSentenceFromLongLayoutAndSouthWest) {
    std::tm utc{};
    utc.tm_year = 99; utc.tm_mon = 11; utc.tm_mday = 31; utc.tm_hour = 23; utc.tm_min = 59; utc.tm_sec = 58;
    const auto s = format_position_init({"S  33 52 04", "W 151 12 36"}, utc);
    ASSERT_TRUE(s);
    EXPECT_EQ(*s, with_checksum("$PRWIINIT,V,,, 33 52 04,S,151 12 36,W,100.0,0.0,M,0.0,T,235958,311299*"));
}

TEST(Astral, UnusablePositionFileSendsOnlyTheQueries) {
    Astral a;
    a.responder.handle_line("ASTRAL");
    a.responder.handle_line("ASTRAL");  // no vor_pos.txt
    EXPECT_EQ(a.replies, "$IIGPQ,ASTRAL*73\r\n$IIGPQ,ASTRAL*73\r\n");
    const std::string bad_files[] = {
        "N 6\nE 24 55 00\n",                       // first line of three characters
        "N 60 10 30\nE 2\n",                       // second line too short
        "N 60 10 30\n",                            // no second line
        "",                                        // empty
        "N 60 10 30 with a comment that is far too long\nE 24 55 00\n",  // over-long: refused, not cut
        "N 60 10 30\nE 24 55 00 0123456789012345678901234567890\n",
    };
    for (const auto& content : bad_files) {
        test::write_file(a.dir / "vor_pos.txt", content);
        a.replies.clear();
        a.responder.send_position_init();
        EXPECT_EQ(a.replies, "") << content;
    }
    // Lines that fit the line limit but would make a sentence longer than 84 bytes are refused too.
    test::write_file(a.dir / "vor_pos.txt", "N 60 10 30.1234567890123456\nE 24 55 00.1234567890123456\n");
    a.replies.clear();
    a.responder.send_position_init();
    EXPECT_EQ(a.replies, "");
}

TEST(Astral, LastLineWithoutLineEndKeepsItsLastCharacter) {
    Astral a;
    test::write_file(a.dir / "vor_pos.txt", "N 60 10 30\r\nE 24 55 00");
    a.responder.send_position_init();
    EXPECT_EQ(a.replies, with_checksum("$PRWIINIT,V,,,60 10 30,N,24 55 00,E,100.0,0.0,M,0.0,T,123456,140210*"));
    const auto lines = read_position_lines(a.dir / "vor_pos.txt");
    ASSERT_TRUE(lines);
    EXPECT_EQ(lines->latitude, "N 60 10 30");
    EXPECT_EQ(lines->longitude, "E 24 55 00");
}

}  // namespace
}  // namespace vg
