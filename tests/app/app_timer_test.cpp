// The 5-second timer's duties in order: Garmin polling over a pseudo-terminal, the base upload and
// remote poll to a loopback server, and the no-data watchdog.
#include <gtest/gtest.h>


#include <array>
#include <atomic>
#include <cstdio>

#include "app/view_text.h"
#include "app_fixture.h"
#include "gps/garmin.h"
#include "gps/pty_pair.h"
#include "support/loopback_http_server.h"

namespace vg {
namespace {

using test::AppFixture;
using test::kStartLat;
using test::kStartLon;
using test::LoopbackHttpServer;
using test::PtyPair;
using test::ScriptedReply;

class AppTimer : public AppFixture {};

// The server records a request after its connection closed, so wait (bounded) for the count first.
bool has_requests(const LoopbackHttpServer& server, std::size_t count) {
    server.wait_for_requests(count, std::chrono::seconds(10));
    return server.requests().size() == count;
}

std::string frame_text(const GarminRecord& record) {
    const std::vector<std::uint8_t> bytes = garmin_frame(record);
    return std::string(bytes.begin(), bytes.end());
}

TEST_F(AppTimer, GarminRequestsGoOutBeforeTheUploadAndTheFixLapses) {
    PtyPair pty;
    VG_REQUIRE_SERIAL_PEER(pty);
    // The server notes, as each upload arrives, whether the Garmin request was already written.
    std::atomic<int> uploads_after_request{0};
    LoopbackHttpServer base([&](const std::string&) {
        if (pty.readable()) ++uploads_after_request;
        return ScriptedReply::make(200, "text/html", "ok");
    });
    write_settings("port=COM1\r\nunit=Garmin\r\n",
                   "com1=" + pty.slave_path() + "\r\nbase=127.0.0.1:" + std::to_string(base.port()) + "\r\n");
    App& a = start();
    ASSERT_TRUE(a.receiver()->active()) << (window.boxes().empty() ? "" : window.boxes()[0]);
    pty.receive(4096, std::chrono::milliseconds(300));  // whatever the link sends on opening

    set_fix(kStartLat, kStartLon, 3);
    a.on_timer();
    ASSERT_TRUE(has_requests(base, 1));
    EXPECT_EQ(uploads_after_request.load(), 1);
    EXPECT_EQ(base.requests()[0].rfind("POST /vor/sendbase.cgi ", 0), 0u);
    EXPECT_NE(base.requests()[0].find("latitude=60.175000&longitude=24.916667"), std::string::npos);
    const std::string position = frame_text(kGarminPositionRequest);
    const std::string time = frame_text(kGarminTimeRequest);
    EXPECT_EQ(pty.receive(position.size()), position);
    EXPECT_EQ(a.fix().snapshot().fix_dimension, 2);

    // The requests alternate; three unanswered position requests withdraw the fix.
    window.clear();
    for (int tick = 0; tick < 4; ++tick) a.on_timer();
    EXPECT_EQ(pty.receive(2 * (time.size() + position.size())), time + position + time + position);
    EXPECT_EQ(a.fix().snapshot().fix_dimension, 0);
    EXPECT_EQ(count_calls("invalidate"), 1);
    // A stationary receiver uploads only once a minute (no fix now, so nothing at all).
    EXPECT_TRUE(has_requests(base, 1));

    a.on_command(Command::Disconnect);
    EXPECT_FALSE(a.receiver()->active());
    EXPECT_EQ(a.link()->reader_thread_id(), 0);
}

TEST_F(AppTimer, UploadsOnceAMinuteOrAfterAMove) {
    LoopbackHttpServer base(ScriptedReply::make(200, "text/html", "ok"));
    write_settings("", "base=http://127.0.0.1:" + std::to_string(base.port()) + "\r\n");
    App& a = start();
    set_fix(kStartLat, kStartLon);
    a.on_timer();  // first tick: long past the last upload
    EXPECT_TRUE(has_requests(base, 1));
    clock.seconds += 5;
    a.on_timer();
    set_fix(kStartLat + 0.0004, kStartLon - 0.0004);
    clock.seconds += 5;
    a.on_timer();
    EXPECT_TRUE(has_requests(base, 1));
    set_fix(kStartLat + 0.0006, kStartLon);
    clock.seconds += 5;
    a.on_timer();
    EXPECT_TRUE(has_requests(base, 2));
    clock.seconds += 60;
    a.on_timer();
    EXPECT_TRUE(has_requests(base, 2));
    clock.seconds += 1;
    a.on_timer();
    EXPECT_TRUE(has_requests(base, 3));
}

TEST_F(AppTimer, RemoteModePollsTheBaseOnceAMinute) {
    LoopbackHttpServer base(ScriptedReply::make(200, "text/html", "ok"));
    write_settings("unit=remote\r\n", "base=127.0.0.1:" + std::to_string(base.port()) + "\r\n");
    App& a = start();
    set_fix(kStartLat, kStartLon);
    a.on_timer();
    ASSERT_TRUE(has_requests(base, 1));
    EXPECT_EQ(base.requests()[0].rfind("GET / ", 0), 0u);
    clock.seconds += 60;
    a.on_timer();
    EXPECT_TRUE(has_requests(base, 1));
    clock.seconds += 1;
    a.on_timer();
    EXPECT_TRUE(has_requests(base, 2));
}

TEST_F(AppTimer, SilentReceiverLosesItsFixAfter120Ticks) {
    PtyPair pty;
    VG_REQUIRE_SERIAL_PEER(pty);
    write_settings("port=COM1\r\n", "com1=" + pty.slave_path() + "\r\n");
    App& a = start();
    ASSERT_TRUE(a.receiver()->active());
    set_fix(kStartLat, kStartLon);
    for (int tick = 0; tick < 121; ++tick) a.on_timer();
    EXPECT_EQ(a.window_state()->silence_ticks.load(), 121);
    EXPECT_EQ(a.fix().snapshot().fix_dimension, 3);
    window.clear();
    a.on_timer();
    EXPECT_EQ(a.fix().snapshot().fix_dimension, 0);
    EXPECT_EQ(count_calls("invalidate"), 1);

    // Without a link the watchdog does not count.
    a.on_command(Command::Disconnect);
    a.window_state()->silence_ticks = 0;
    a.on_timer();
    EXPECT_EQ(a.window_state()->silence_ticks.load(), 0);
}

// An RMC sentence of a moving receiver (20 knots east) at 12:04:`second` on 8 Dec 2026, near the start.
std::string rmc_at(int second) {
    char body[96];
    std::snprintf(body, sizeof body, "GPRMC,1204%02d,A,6010.500,N,02455.000,E,20.0,90.0,081226,,", second);
    unsigned sum = 0;
    for (const char* c = body; *c; ++c) sum ^= static_cast<unsigned char>(*c);
    char line[128];
    std::snprintf(line, sizeof line, "$%s*%02X\r\n", body, sum);
    return line;
}

// The colour of a disc pixel of the position marker (blue, green, red).
std::array<int, 3> marker_disc(const App& a) {
    const DisplayBitmap& b = a.view().display_bitmap;
    const std::uint8_t* p = b.row(a.view().marker_y - 2) + 3 * (a.view().marker_x - 2);
    return {p[0], p[1], p[2]};
}

// A fix that stops coming turns old after the `stale` seconds: the title keeps its time with the age,
// the speed and the marker lose their live look and the map says since when and why; a new fix makes
// it live again, and Disconnect makes it old at once.
TEST_F(AppTimer, AFixThatStopsComingIsShownAsOld) {
    PtyPair pty;
    VG_REQUIRE_SERIAL_PEER(pty);
    write_settings("port=COM1\r\n", "com1=" + pty.slave_path() + "\r\ndash=yes\r\n");
    App& a = start();
    ASSERT_TRUE(a.receiver()->active());
    const auto send_fix = [&](int second) {
        const unsigned before = a.fix().snapshot().positions;
        pty.send(rmc_at(second));
        ASSERT_TRUE(test::wait_until([&] { return a.fix().snapshot().positions != before; }));
    };
    const std::array<int, 3> yellow{0, 0xFF, 0xFF};

    send_fix(31);
    window.clear();
    PaintFrame frame = a.paint();
    EXPECT_FALSE(a.fix_stale());
    EXPECT_NE(window.title().find("12:04:31"), std::string::npos);
    EXPECT_EQ(window.title().find("old"), std::string::npos);
    EXPECT_EQ(frame.speed.text, "37 km/h E");
    EXPECT_EQ(marker_disc(a), yellow);
    EXPECT_EQ(frame.message.find("No fix"), std::string::npos);
    // The window is woken when the fix turns old, not by a polling loop.
    EXPECT_EQ(count_calls("repaint after 3050"), 1);

    clock.seconds += 2;
    EXPECT_FALSE((a.paint(), a.fix_stale()));
    clock.seconds += 1;
    frame = a.paint();
    EXPECT_TRUE(a.fix_stale());
    EXPECT_TRUE(window.title().ends_with("12:04:31 (3 s old)")) << window.title();
    EXPECT_EQ(frame.speed.text, kStaleSpeedText);
    EXPECT_NE(marker_disc(a), yellow);
    EXPECT_EQ(frame.message.rfind("No fix since 12:04:31", 0), 0u) << frame.message;
    // The silent receiver is named once the timer has seen no data; the message stays put after it.
    a.on_timer();
    clock.seconds += 5;
    frame = a.paint();
    EXPECT_EQ(frame.message.rfind("No fix since 12:04:31: no data", 0), 0u) << frame.message;
    EXPECT_TRUE(window.title().ends_with("12:04:31 (8 s old)")) << window.title();

    send_fix(40);
    frame = a.paint();
    EXPECT_FALSE(a.fix_stale());
    EXPECT_EQ(window.title().find("old"), std::string::npos);
    EXPECT_EQ(frame.speed.text, "37 km/h E");
    EXPECT_EQ(marker_disc(a), yellow);

    a.on_command(Command::Disconnect);
    frame = a.paint();
    EXPECT_TRUE(a.fix_stale());
    EXPECT_TRUE(window.title().ends_with("12:04:40 (0 s old)")) << window.title();
    EXPECT_EQ(frame.message.rfind("No fix since 12:04:40: disconnected", 0), 0u) << frame.message;
    EXPECT_NE(marker_disc(a), yellow);
}

// The reader asks for a paint without waiting for it: nobody paints here, yet it goes on and
// Disconnect ends it at once. The paint takes the notice back.
TEST_F(AppTimer, ReaderPostsItsFixWithoutWaitingAndThePaintTakesTheNotice) {
    PtyPair pty;
    VG_REQUIRE_SERIAL_PEER(pty);
    write_settings("port=COM1\r\n", "com1=" + pty.slave_path() + "\r\n");
    App& a = start();
    ASSERT_TRUE(a.receiver()->active());
    pty.send(test::read_file(test::shared_testdata() / "receivers" / "bt451.log"));
    ASSERT_TRUE(test::wait_until([&] { return a.fix_notice()->posts() > 0; }));
    EXPECT_TRUE(a.fix_notice()->pending());
    EXPECT_GE(count_calls("invalidate"), 1);
    a.paint();
    EXPECT_FALSE(a.fix_notice()->pending());
    a.on_command(Command::Disconnect);
    EXPECT_FALSE(a.receiver()->active());
    EXPECT_EQ(a.link()->reader_thread_id(), 0);
}

}  // namespace
}  // namespace vg
