// The position server against real clients on 127.0.0.1: raw sockets, the program's own HTTP client
// (directly and through tinyproxy) and curl.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "net/base_link.h"
#include "net/http_client.h"
#include "net/position_server.h"
#include "platform/clock.h"
#include "platform/sockets.h"
#include "support/fake_window.h"
#include "support/loopback_http_server.h"
#include "support/test_paths.h"

namespace vg {
namespace {

using namespace std::chrono_literals;

TEST(PositionRequest, BodyRulesWithAndWithoutContentLength) {
    struct Case {
        const char* what;
        std::string request;
        bool reply;
        bool position;
        double lat, lon;
    };
    const Case cases[] = {
        {"body ended by CR LF", "POST /vor/sendbase.cgi HTTP/1.1\r\nHost: b\r\n\r\nlatitude=60.175&longitude=24.95\r\n",
         true, true, 60.175, 24.95},
        {"body ended by a bare LF", "POST / HTTP/1.1\r\n\r\nlatitude=60.175&longitude=24.95\n", true, true, 60.175,
         24.95},
        {"no Content-length, no line end: every field whole", "POST / HTTP/1.1\r\n\r\nlatitude=33.5&longitude=44.25",
         true, true, 33.5, 44.25},
        {"a field with a tail", "POST / HTTP/1.1\r\n\r\nlatitude=33.5&longitude=44.25junk", true, false, 0, 0},
        {"a number with a tail", "POST / HTTP/1.1\r\n\r\nlatitude=33.5x&longitude=44.25", true, false, 0, 0},
        {"further fields after the position", "POST / HTTP/1.1\r\n\r\nlatitude=3.5&longitude=4.25&key=x\r\n", true,
         true, 3.5, 4.25},
        {"longitude first", "POST / HTTP/1.1\r\n\r\nlongitude=24.95&latitude=60.175\r\n", true, false, 0, 0},
        {"no version: taken, not answered", "POST /\r\n\r\nlatitude=-33.5&longitude=151.25\r\n", false, true, -33.5,
         151.25},
        {"Content-length, no line end (curl)",
         "POST / HTTP/1.1\r\nContent-Length: 31\r\n\r\nlatitude=60.175&longitude=24.95", true, true, 60.175, 24.95},
        {"Content-length and a line end (own client)",
         "POST / HTTP/1.1\r\nContent-length: 31\r\n\r\nlatitude=60.175&longitude=24.95\r\n", true, true, 60.175,
         24.95},
        {"Content-length counts: trailing bytes are not body",
         "POST / HTTP/1.1\r\nContent-length: 30\r\n\r\nlatitude=60.175&longitude=24.95", true, true, 60.175, 24.9},
        {"bare LF header (proxy form)",
         "POST http://b:4477/vor/sendbase.cgi HTTP/1.1\nHost: b:4477\nContent-length: 26\n\nlatitude=1.5&longitude=2.5\n",
         true, true, 1.5, 2.5},
        {"not a number", "POST / HTTP/1.1\r\n\r\nlatitude=nan&longitude=1\r\n", true, false, 0, 0},
        {"infinite", "POST / HTTP/1.1\r\n\r\nlatitude=1&longitude=inf\r\n", true, false, 0, 0},
        {"off the globe", "POST / HTTP/1.1\r\n\r\nlatitude=91&longitude=1\r\n", true, false, 0, 0},
        {"no body", "POST / HTTP/1.1\r\nHost: b\r\n", true, false, 0, 0},
        {"GET 1.0", "GET / HTTP/1.0\r\n\r\n", true, false, 0, 0},
        {"GET without version", "GET /\r\n\r\n", false, false, 0, 0},
        {"other method", "PUT / HTTP/1.1\r\n\r\nlatitude=1&longitude=2\r\n", false, false, 0, 0},
        {"garbage", std::string("\x00\xff POST HTTP/1.1", 16), false, false, 0, 0},
        {"one byte", "P", false, false, 0, 0},
        {"length beyond any buffer", "POST / HTTP/1.1\r\nContent-length: 18446744073709551615\r\n\r\nlatitude=1&longitude=2",
         true, true, 1, 2},
    };
    for (const auto& c : cases) {
        const auto outcome = handle_position_request(c.request);
        EXPECT_EQ(outcome.reply, c.reply) << c.what;
        ASSERT_EQ(outcome.has_position(), c.position) << c.what;
        if (c.position) {
            EXPECT_DOUBLE_EQ(*outcome.latitude, c.lat) << c.what;
            EXPECT_DOUBLE_EQ(*outcome.longitude, c.lon) << c.what;
        }
    }
    EXPECT_FALSE(position_request_complete("POST / HTTP/1.1\r\nContent-Length: 10\r\n\r\nlatit"));
    EXPECT_TRUE(position_request_complete("POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\nlatit"));
    EXPECT_FALSE(position_request_complete("GET / HTTP/1.1\r\n"));
    EXPECT_TRUE(position_request_complete("GET / HTTP/1.1\n\n"));
}

TEST(PositionRequest, PhoneTrackerFormByGetOrPost) {
    // The query form phone tracking apps send, every optional field given.
    auto o = handle_position_request(
        "GET /?id=phone1&lat=60.1699&lon=24.9384&timestamp=1700000000&speed=12.5&bearing=271.5&altitude=17.25"
        "&accuracy=4.5&batt=88 HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_TRUE(o.has_position());
    EXPECT_TRUE(o.reply && o.repaint && o.phone_form);
    EXPECT_EQ(o.status, 200);
    EXPECT_DOUBLE_EQ(*o.latitude, 60.1699);
    EXPECT_DOUBLE_EQ(*o.longitude, 24.9384);
    EXPECT_EQ(o.timestamp, 1700000000);
    EXPECT_EQ(o.speed_knots, 12.5);
    EXPECT_EQ(o.course, 271.5);
    EXPECT_EQ(o.altitude, 17.25);
    EXPECT_EQ(o.accuracy, 4.5);

    // A form body by POST (Content-Length, no line end), fields in any order; the body wins over the query.
    const std::string body = "lon=-0.1276&timestamp=2023-11-14%2022%3A13%3A20&lat=51.5072";
    o = handle_position_request("POST /?lat=1&lon=2 HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                                "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    ASSERT_TRUE(o.has_position());
    EXPECT_DOUBLE_EQ(*o.latitude, 51.5072);
    EXPECT_DOUBLE_EQ(*o.longitude, -0.1276);
    EXPECT_EQ(o.timestamp, 1700000000);
    EXPECT_FALSE(o.speed_knots || o.course || o.altitude || o.accuracy);

    // A POST with the fields in its query and an empty body.
    o = handle_position_request("POST /?lat=-33.5&lon=151.25 HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
    ASSERT_TRUE(o.has_position());
    EXPECT_DOUBLE_EQ(*o.longitude, 151.25);

    // Unusable positions are refused with 400, unusable optional fields are left out.
    for (const char* bad : {"GET /?lat=91&lon=1 HTTP/1.1\r\n\r\n", "GET /?lat=1 HTTP/1.1\r\n\r\n",
                            "GET /?lat=1&lon=2x HTTP/1.1\r\n\r\n", "GET /?lat=nan&lon=1 HTTP/1.1\r\n\r\n",
                            "GET /?lat=&lon=1 HTTP/1.0\r\n\r\n"}) {
        o = handle_position_request(bad);
        EXPECT_FALSE(o.has_position()) << bad;
        EXPECT_TRUE(o.reply && o.repaint) << bad;
        EXPECT_EQ(o.status, 400) << bad;
    }
    o = handle_position_request("GET /?lat=1&lon=2&speed=-3&bearing=400&altitude=inf&accuracy=x&timestamp=yesterday "
                                "HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(o.has_position());
    EXPECT_FALSE(o.speed_knots || o.course || o.altitude || o.accuracy || o.timestamp);

    // Other GETs are only answered, and a relay key guards the phone form as it guards the base's posts.
    o = handle_position_request("GET /status?x=1 HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(o.reply && !o.repaint && !o.has_position());
    EXPECT_EQ(handle_position_request("GET /?lat=1&lon=2 HTTP/1.1\r\n\r\n", "s3").status, 403);
    EXPECT_TRUE(handle_position_request("GET /?lat=1&lon=2&key=s3 HTTP/1.1\r\n\r\n", "s3").has_position());

    // What is stored: speed, course, altitude and the phone's time; without a time, the time it came.
    FixRecord r;
    store_position(handle_position_request("GET /?lat=1&lon=2&speed=3&bearing=90&altitude=5&timestamp=1700000000 "
                                           "HTTP/1.1\r\n\r\n"),
                   0, r);
    EXPECT_EQ(r.fix_dimension, 3);
    EXPECT_EQ(r.speed_knots, 3);
    EXPECT_EQ(r.course, 90);
    EXPECT_EQ(r.altitude, 5);
    EXPECT_STREQ(r.utc_text, "2023/11/14 22:13:20");
    store_position(handle_position_request("GET /?lat=1&lon=2 HTTP/1.1\r\n\r\n"), 86400, r);
    EXPECT_STREQ(r.utc_text, "1970/01/02 00:00:00");
    EXPECT_EQ(r.positions, 2u);  // the same place again is still a new fix
}

TEST(PositionRequest, PhoneTimestamps) {
    EXPECT_EQ(parse_phone_timestamp("1700000000"), 1700000000);
    EXPECT_EQ(parse_phone_timestamp("1700000000123"), 1700000000);  // milliseconds
    EXPECT_EQ(parse_phone_timestamp("1700000000.75"), 1700000000);
    EXPECT_EQ(parse_phone_timestamp("2023-11-14T22:13:20Z"), 1700000000);
    EXPECT_EQ(parse_phone_timestamp("2023-11-14T22:13:20.500Z"), 1700000000);
    EXPECT_EQ(parse_phone_timestamp("2023-11-15T00:13:20+02:00"), 1700000000);
    EXPECT_EQ(parse_phone_timestamp("2023-11-14 17:13:20-0500"), 1700000000);
    EXPECT_EQ(parse_phone_timestamp("2024-02-29 00:00:00"), 1709164800);
    for (const char* bad : {"", ".", "-5", "1e9", "2023-02-29 00:00:00", "2023-13-01 00:00:00", "1969-12-31 23:59:59",
                            "2023-11-14T22:13:20+2", "2023-11-14T22:13:20Q", "2023-11-14", "99999999999999999999"})
        EXPECT_FALSE(parse_phone_timestamp(bad)) << bad;
}

TEST(PositionRequest, DeviceIdsNameTheTarget) {
    auto o = handle_position_request("GET /?id=van%207&lat=1&lon=2&batt=55 HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(o.has_position());
    EXPECT_EQ(o.device_id, "van 7");
    EXPECT_EQ(o.battery, 55);
    EXPECT_EQ(handle_position_request("GET /?deviceid=p2&lat=1&lon=2 HTTP/1.1\r\n\r\n").device_id, "p2");
    // Another copy's upload names itself; without a name it is the Remote target, as always.
    o = handle_position_request("POST / HTTP/1.1\r\n\r\nlatitude=1.5&longitude=2.5&name=Boat%201&key=k\r\n");
    EXPECT_TRUE(o.has_position() && !o.phone_form);
    EXPECT_EQ(o.device_id, "Boat 1");
    EXPECT_EQ(handle_position_request("POST / HTTP/1.1\r\n\r\nlatitude=1.5&longitude=2.5").device_id, "");
    // 64 characters are an id; one more, or a control character, make the request a 400.
    const std::string longest(kDeviceIdMax, 'x');
    EXPECT_EQ(handle_position_request("GET /?lat=1&lon=2&id=" + longest + " HTTP/1.1\r\n\r\n").device_id, longest);
    for (const std::string& bad : {"GET /?lat=1&lon=2&id=" + longest + "y HTTP/1.1\r\n\r\n",
                                  std::string("GET /?lat=1&lon=2&id=a%0Ab HTTP/1.1\r\n\r\n"),
                                  "POST / HTTP/1.1\r\n\r\nlatitude=1&longitude=2&name=" + longest + "y"}) {
        o = handle_position_request(bad);
        EXPECT_FALSE(o.has_position()) << bad;
        EXPECT_EQ(o.status, 400) << bad;
    }
    // The relay key guards the named forms too.
    EXPECT_EQ(handle_position_request("GET /?id=a&lat=1&lon=2 HTTP/1.1\r\n\r\n", "secret99").status, 403);
    EXPECT_EQ(handle_position_request("POST / HTTP/1.1\r\n\r\nlatitude=1&longitude=2&name=b", "secret99").status,
              403);
    EXPECT_TRUE(handle_position_request("GET /?id=a&lat=1&lon=2&key=secret99 HTTP/1.1\r\n\r\n", "secret99")
                    .has_position());

    const auto d = device_report(handle_position_request("GET /?id=a&lat=1&lon=2&speed=10&bearing=90 HTTP/1.1\r\n\r\n"),
                                 1'700'000'000);
    EXPECT_EQ(d.id, "a");
    EXPECT_EQ(d.via, "http");
    EXPECT_EQ(d.time_ms, 1'700'000'000'000);
    EXPECT_DOUBLE_EQ(*d.speed_kmh, 18.52);
    EXPECT_EQ(d.course_deg, 90);
}

// Raw client helpers. `from`: the loopback address the client connects from (127.0.0.N, any N),
// so that one test can be several peers.
int connect_to(int port, const char* from = nullptr) {
    const int fd = open_socket();
    if (from) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, from, &local.sin_addr);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            close_socket(fd);
            return -1;
        }
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        pollfd p = poll_entry(fd, POLLOUT);
        const int error = socket_errno();
        if ((error != EINPROGRESS && error != EAGAIN) || poll_sockets(&p, 1, 10000) <= 0 ||
            pending_socket_error(fd) != 0) {
            close_socket(fd);
            return -1;
        }
    }
    return fd;
}

void send_text(int fd, std::string_view text) {
    while (!text.empty()) {
        const long n = ::send(fd, text.data(), static_cast<int>(text.size()), kSendFlags);
        if (n < 0 && socket_errno() == EAGAIN) {
            pollfd p = poll_entry(fd, POLLOUT);
            if (poll_sockets(&p, 1, 10000) <= 0) return;
            continue;
        }
        if (n <= 0) return;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

std::string read_until_close(int fd) {
    std::string text;
    char buffer[1024];
    for (;;) {
        pollfd p = poll_entry(fd, POLLIN);
        if (poll_sockets(&p, 1, 10000) <= 0) break;
        const long n = ::recv(fd, buffer, sizeof buffer, kReceiveFlags);
        if (n < 0 && socket_errno() == EAGAIN) continue;
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

// Sends `request` in the given pieces (with a pause between them), returns the reply.
std::string exchange(int port, std::vector<std::string> pieces, std::chrono::milliseconds pause = 0ms,
                     const char* from = nullptr) {
    const int fd = connect_to(port, from);
    if (fd < 0) return "<no connection>";
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0) std::this_thread::sleep_for(pause);
        send_text(fd, pieces[i]);
    }
    std::string reply = read_until_close(fd);
    close_socket(fd);
    return reply;
}

void abort_close(int fd) {
    linger l{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
    close_socket(fd);
}

std::string expected_date(std::int64_t now) {
    const std::time_t t = static_cast<std::time_t>(now);
    std::tm local{};
    local_parts(t, local);
    char text[64];
    std::strftime(text, sizeof text, "%a %b %d %H:%M:%S %Y", &local);
    return text;
}

class PositionServerTest : public ::testing::Test {
protected:
    SharedFix fix;
    test::FakeWindow window;
    FixNotice notice{&window};
    PositionServer server{fix, &notice};
    std::atomic<std::int64_t> clock{1'000'000};
    std::atomic<int> positions{0};
    std::atomic<int> stale_events{0};
    std::mutex devices_mutex;
    std::vector<DeviceReport> devices;

    PositionServerConfig config() {
        PositionServerConfig c;
        c.port = 0;
        c.bind_address = "127.0.0.1";
        c.request_timeout = 2s;
        c.clock = [this] { return clock.load(); };
        c.on_position = [this](const PositionRequestOutcome&) { ++positions; };
        c.on_stale = [this] { ++stale_events; };
        c.on_device = [this](const DeviceReport& d) {
            std::lock_guard lock(devices_mutex);
            devices.push_back(d);
        };
        return c;
    }
    void SetUp() override { ASSERT_TRUE(server.start(config())); }
};

TEST_F(PositionServerTest, AnswersGetWithTheFiveReplyLines) {
    const std::string reply = exchange(server.port(), {"GET / HTTP/1.1\r\nHost: x\r\n\r\n"});
    EXPECT_EQ(reply, "HTTP/1.0 200 OK\r\nServer: Vor 1.4\r\nDate: " + expected_date(clock.load()) +
                         "\r\nContent-length: 0\r\n\r\n");
    EXPECT_EQ(exchange(server.port(), {"GET / something\r\n\r\n"}), "");  // no version: no reply
    EXPECT_EQ(fix.snapshot().fix_dimension, 0);
}

TEST_F(PositionServerTest, TakesPostedPositionsAndRepaints) {
    const int repaints_before = notice.posts();
    // Header and body in separate segments, the body without a line end, as curl sends it.
    const std::string reply = exchange(server.port(),
                                       {"POST /vor/sendbase.cgi HTTP/1.1\r\nContent-Length: 31\r\n\r\n",
                                        "latitude=60.175&longitude=24.95"},
                                       100ms);
    EXPECT_EQ(reply.rfind("HTTP/1.0 200 OK\r\n", 0), 0u);
    auto r = fix.snapshot();
    EXPECT_DOUBLE_EQ(r.latitude, 60.175);
    EXPECT_DOUBLE_EQ(r.longitude, 24.95);
    EXPECT_EQ(r.fix_dimension, 3);
    EXPECT_EQ(server.remote_fix_time.load(), clock.load());
    EXPECT_GT(notice.posts(), repaints_before);

    // A post that does not scan changes nothing but is answered and still repaints.
    notice.painted();
    const int repaints = notice.posts();
    EXPECT_NE(exchange(server.port(), {"POST / HTTP/1.1\r\n\r\nlongitude=1&latitude=2\r\n"}), "");
    EXPECT_DOUBLE_EQ(fix.snapshot().latitude, 60.175);
    EXPECT_GT(notice.posts(), repaints);

    // The program's own client, posting as the base does.
    HttpOptions o;
    test::TempDir dir;
    o.settings_dir = dir.path();
    EXPECT_TRUE(http_post_form("http://127.0.0.1:" + std::to_string(server.port()) + "/vor/sendbase.cgi",
                             "latitude=-41.286460&longitude=174.776236", o));
    r = fix.snapshot();
    EXPECT_DOUBLE_EQ(r.latitude, -41.28646);
    EXPECT_DOUBLE_EQ(r.longitude, 174.776236);
    EXPECT_EQ(positions.load(), 2);
}

TEST_F(PositionServerTest, WithdrawsTheFixAfterMoreThan300SecondsWithoutAPosition) {
    exchange(server.port(), {"POST / HTTP/1.1\r\n\r\nlatitude=10&longitude=20\r\n"});
    ASSERT_EQ(fix.snapshot().fix_dimension, 3);
    const std::int64_t taken = clock.load();

    clock = taken + 300;
    exchange(server.port(), {"GET / HTTP/1.1\r\n\r\n"});
    exchange(server.port(), {"GET / HTTP/1.1\r\n\r\n"});  // the first one's test has run by now
    EXPECT_EQ(fix.snapshot().fix_dimension, 3);
    EXPECT_EQ(stale_events.load(), 0);

    clock = taken + 301;
    notice.painted();
    const int repaints = notice.posts();
    exchange(server.port(), {"GET / HTTP/1.1\r\n\r\n"});
    // The test runs after the connection was closed, so give the server thread a moment.
    for (int i = 0; i < 500 && stale_events.load() == 0; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(fix.snapshot().fix_dimension, 0);
    EXPECT_DOUBLE_EQ(fix.snapshot().latitude, 10);  // the position stays, only the fix goes
    EXPECT_EQ(stale_events.load(), 1);
    EXPECT_GT(notice.posts(), repaints);

    // A new position brings the fix back.
    exchange(server.port(), {"POST / HTTP/1.1\r\n\r\nlatitude=11&longitude=21\r\n"});
    EXPECT_EQ(fix.snapshot().fix_dimension, 3);
}

// A POST without Content-length and without a line end: its body is read to the end of the
// connection, or until the client has been quiet for the body wait, and its last field taken whole.
TEST_F(PositionServerTest, ABodyWithoutLengthOrLineEndIsReadWhole) {
    int fd = connect_to(server.port());
    ASSERT_GE(fd, 0);
    send_text(fd, "POST /vor/sendbase.cgi HTTP/1.1\r\nHost: b\r\n\r\nlatitude=33.5&longitude=44.25");
    shutdown_sending(fd);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(read_until_close(fd).rfind("HTTP/1.0 200 OK\r\n", 0), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, kPositionBodyWait);  // the end of the connection
    close_socket(fd);
    EXPECT_DOUBLE_EQ(fix.snapshot().latitude, 33.5);
    EXPECT_DOUBLE_EQ(fix.snapshot().longitude, 44.25);

    // The body in two pieces, the second after a pause shorter than the wait, the connection kept open.
    const std::string reply = exchange(server.port(),
                                       {"POST / HTTP/1.1\r\n\r\nlatitude=-12.5&longitude=1", "30.125"},
                                       kPositionBodyWait / 2);
    EXPECT_EQ(reply.rfind("HTTP/1.0 200 OK\r\n", 0), 0u);
    EXPECT_DOUBLE_EQ(fix.snapshot().latitude, -12.5);
    EXPECT_DOUBLE_EQ(fix.snapshot().longitude, 130.125);
}

// Several phones and a named copy are several devices, handed on; only the first moves the Remote
// fix, until a second name is heard; with a relay key only keyed requests count, and a malformed id
// is dropped and counted.
TEST_F(PositionServerTest, NamedDevicesGoToTheFleet) {
    server.stop();
    PositionServerConfig c = config();
    c.relay_key = "fleetkey1";
    ASSERT_TRUE(server.start(c));
    for (const char* id : {"phone1", "phone2", "phone3"})
        EXPECT_EQ(exchange(server.port(), {std::string("GET /?id=") + id + "&lat=60.1&lon=24.9&key=fleetkey1 HTTP/1.1\r\n\r\n"})
                      .rfind("HTTP/1.0 200", 0),
                  0u);
    EXPECT_EQ(exchange(server.port(), {"GET /?id=intruder&lat=1&lon=2 HTTP/1.1\r\n\r\n"}).rfind("HTTP/1.0 403", 0), 0u);
    // Another copy uploads as the base link does, with the name and key of its vor_ini.txt.
    test::TempDir dir;
    test::write_file(dir / "vor_ini.txt", "name=Boat 1\r\nrelaykey=fleetkey1\r\n");
    BaseLinkConfig base;
    base.base_enabled = true;
    base.base_host = "127.0.0.1";
    base.base_port = server.port();
    base.http.settings_dir = dir.path();
    BaseLinkState state;
    FixRecord own;
    own.fix_dimension = 3;
    own.latitude = 1.5;
    own.longitude = 2.5;
    EXPECT_TRUE(base_position_upload(base, DeviceType::Nmea, own, state, 1000));
    EXPECT_EQ(exchange(server.port(), {"GET /?id=" + std::string(kDeviceIdMax + 1, 'x') +
                                       "&lat=1&lon=2&key=fleetkey1 HTTP/1.1\r\n\r\n"})
                  .rfind("HTTP/1.0 400", 0),
              0u);
    EXPECT_EQ(server.dropped.load(), 1u);
    EXPECT_EQ(fix.snapshot().fix_dimension, 3);  // phone1's, the only name heard at the time
    EXPECT_EQ(positions.load(), 1);
    std::lock_guard lock(devices_mutex);
    ASSERT_EQ(devices.size(), 4u);
    EXPECT_EQ(devices[0].id, "phone1");
    EXPECT_EQ(devices[2].id, "phone3");
    EXPECT_EQ(devices[3].id, "Boat 1");
    EXPECT_DOUBLE_EQ(devices[3].lon, 2.5);
}

TEST_F(PositionServerTest, StopsWithinTheBoundAlsoWithASilentClientConnected) {
    const int silent = connect_to(server.port());  // sends nothing and stays
    ASSERT_GE(silent, 0);
    std::this_thread::sleep_for(50ms);
    const auto start = std::chrono::steady_clock::now();
    server.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_FALSE(server.running());
    close_socket(silent);
    EXPECT_LT(connect_to(server.port()), 0);  // no longer listening
}

// The server thread never waits for the window: with no paint at all, every position is still taken
// and answered, the window gets one invalidation for them all, and the next one after its paint.
TEST_F(PositionServerTest, PostsOneCoalescedNoticeAndNeverWaitsForThePaint) {
    notice.painted();
    const int before = notice.posts();
    for (int i = 1; i <= 3; ++i)
        EXPECT_EQ(exchange(server.port(), {"POST / HTTP/1.1\r\n\r\nlatitude=" + std::to_string(i) +
                                               "&longitude=2\r\n"})
                      .rfind("HTTP/1.0 200 OK\r\n", 0),
                  0u);
    EXPECT_DOUBLE_EQ(fix.snapshot().latitude, 3);
    EXPECT_EQ(notice.posts(), before + 1);
    EXPECT_TRUE(notice.pending());

    notice.painted();  // the window thread paints
    exchange(server.port(), {"POST / HTTP/1.1\r\n\r\nlatitude=4&longitude=2\r\n"});
    EXPECT_EQ(notice.posts(), before + 2);
    const auto calls = window.calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "invalidate"), before + 2);
}

TEST_F(PositionServerTest, OneGetWakesTheServerAfterTheFlagIsCleared) {
    // How the link-closing routine stops it: clear the flag, then one request to the base address.
    server.server_running = false;
    test::TempDir dir;
    HttpOptions o;
    o.settings_dir = dir.path();
    o.idle_timeout = 5s;
    http_get_file("http://127.0.0.1:" + std::to_string(server.port()) + "/", {}, o);
    for (int i = 0; i < 50 && server.running(); ++i) std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(server.running());
}

TEST_F(PositionServerTest, SilentClientsAreDroppedAndTheServerGoesOn) {
    const int silent = connect_to(server.port());
    ASSERT_GE(silent, 0);
    // The next client waits behind the silent one at most the request time-out.
    const std::string reply = exchange(server.port(), {"POST / HTTP/1.1\r\n\r\nlatitude=1&longitude=2\r\n"});
    EXPECT_EQ(reply.rfind("HTTP/1.0 200 OK", 0), 0u);
    EXPECT_EQ(fix.snapshot().fix_dimension, 3);
    EXPECT_EQ(read_until_close(silent), "");  // dropped without a reply
    close_socket(silent);
}

TEST_F(PositionServerTest, TenThousandGarbageAndHalfOpenConnectionsThenAValidPost) {
    const std::string garbage[] = {
        "",                                                     // connect and close
        std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11),  // a TLS hello
        "GET",                                                  // cut short
        "POST / HTTP/1.1\r\nContent-Length: 99999\r\n\r\nlatitude=5",  // promises more than it sends
        std::string(20000, 'A'),                                // more than the request buffer
        "POST / HTTP/1.1\r\n\r\nlatitude=1e999&longitude=1\r\n",
        "DELETE / HTTP/1.1\r\n\r\n",
    };
    const std::size_t kinds = std::size(garbage);
#ifdef _WIN32
    const int connections = 1000;  // each costs tens of milliseconds under Wine
#else
    const int connections = 10000;
#endif
    for (int i = 0; i < connections; ++i) {
        const int fd = connect_to(server.port());
        ASSERT_GE(fd, 0) << i;
        send_text(fd, garbage[i % kinds]);
        if (i % 2 == 0) {
            shutdown_sending(fd);  // half-open: our side is done, the server's is not
            pollfd p = poll_entry(fd, POLLIN);
            poll_sockets(&p, 1, 5000);
        }
        abort_close(fd);
    }
    EXPECT_EQ(fix.snapshot().fix_dimension, 0);
    const std::string reply = exchange(server.port(), {"POST / HTTP/1.1\r\n\r\nlatitude=47.5&longitude=-122.25\r\n"});
    EXPECT_EQ(reply.rfind("HTTP/1.0 200 OK", 0), 0u);
    const auto r = fix.snapshot();
    EXPECT_EQ(r.fix_dimension, 3);
    EXPECT_DOUBLE_EQ(r.latitude, 47.5);
    EXPECT_DOUBLE_EQ(r.longitude, -122.25);
}

// Raises the soft descriptor limit to `want` when the hard limit allows it (Windows has no such
// limit on sockets).
#ifdef _WIN32
bool allow_descriptors(unsigned) { return true; }
#else
bool allow_descriptors(rlim_t want) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
    if (limit.rlim_cur >= want) return true;
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < want) return false;
    limit.rlim_cur = want;
    return ::setrlimit(RLIMIT_NOFILE, &limit) == 0;
}
#endif

TEST_F(PositionServerTest, APostIsTakenWhileThousandsOfIdleAndSlowClientsAreConnected) {
    if (!allow_descriptors(5000)) GTEST_SKIP() << "cannot open 5000 descriptors";
    std::vector<int> idle;
    for (int i = 0; i < 2000; ++i) {
        const int fd = connect_to(server.port());
        ASSERT_GE(fd, 0) << i;
        idle.push_back(fd);
    }
    std::vector<int> slow;  // each has sent part of a request header
    for (int i = 0; i < 20; ++i) {
        slow.push_back(connect_to(server.port()));
        send_text(slow.back(), "POST / HTTP/1.1\r\nX-a: ");
    }
    const std::string reply =
        exchange(server.port(), {"POST / HTTP/1.1\r\nContent-length: 26\r\n\r\nlatitude=1.5&longitude=2.5\r\n"});
    EXPECT_EQ(reply.rfind("HTTP/1.0 200 OK", 0), 0u);
    EXPECT_DOUBLE_EQ(fix.snapshot().latitude, 1.5);
    EXPECT_EQ(positions.load(), 1);
    for (int fd : idle) close_socket(fd);
    for (int fd : slow) close_socket(fd);
}

// Whether the server has closed `fd` (within a second).
bool closed_by_server(int fd) {
    pollfd p = poll_entry(fd, POLLIN);
    char byte = 0;
    return poll_sockets(&p, 1, 1000) > 0 && ::recv(fd, &byte, 1, kReceiveFlags) == 0;
}

TEST(PositionServerCrowd, ANewConnectionIsNotDroppedForAFloodWithinItsGrace) {
    SharedFix fix;
    PositionServer server(fix, nullptr);
    PositionServerConfig c;
    c.port = 0;
    c.bind_address = "127.0.0.1";
    c.max_connections = 4;
    c.new_connection_grace = 1s;
    ASSERT_TRUE(server.start(c));
    // Four idle clients fill the table and outlive their grace.
    std::vector<int> idle;
    for (int i = 0; i < 4; ++i) idle.push_back(connect_to(server.port()));
    std::this_thread::sleep_for(1100ms);
    // A phone connects from its own address: the idle client that came first makes room.
    const int phone = connect_to(server.port(), "127.0.0.2");
    ASSERT_GE(phone, 0);
    EXPECT_TRUE(closed_by_server(idle[0]));
    // A flood from the first address: the idle ones go, then the flood's own connections, never
    // the phone (before, the phone went as soon as it was the one idle longest).
    std::vector<int> flood;
    for (int i = 0; i < 6; ++i) {
        flood.push_back(connect_to(server.port()));
        if (i < 3) EXPECT_TRUE(closed_by_server(idle[static_cast<std::size_t>(i) + 1])) << i;
        else EXPECT_TRUE(closed_by_server(flood[static_cast<std::size_t>(i) - 3])) << i;
    }
    send_text(phone, "POST / HTTP/1.1\r\nContent-length: 26\r\n\r\nlatitude=1.5&longitude=2.5");
    EXPECT_EQ(read_until_close(phone).rfind("HTTP/1.0 200 OK", 0), 0u);
    EXPECT_DOUBLE_EQ(fix.snapshot().latitude, 1.5);
    for (int fd : idle) close_socket(fd);
    for (int fd : flood) close_socket(fd);
    close_socket(phone);
}

TEST_F(PositionServerTest, APostWithoutLengthWaitsForItsBodyAndOnlyTakenPostsAreOk) {
    // The body comes in a second segment.
    std::string reply =
        exchange(server.port(), {"POST / HTTP/1.1\r\nHost: b\r\n\r\n", "latitude=3.25&longitude=4.5\r\n"}, 300ms);
    EXPECT_EQ(reply.rfind("HTTP/1.0 200 OK", 0), 0u);
    EXPECT_DOUBLE_EQ(fix.snapshot().latitude, 3.25);
    EXPECT_EQ(positions.load(), 1);

    // A post that takes no position is not answered OK.
    reply = exchange(server.port(), {"POST / HTTP/1.1\r\n\r\nlatitude=95&longitude=4.5\r\n"});
    EXPECT_EQ(reply.rfind("HTTP/1.0 400 Bad Request\r\nServer: Vor 1.4\r\n", 0), 0u) << reply;
    reply = exchange(server.port(), {"POST / HTTP/1.1\r\nHost: b\r\n\r\n"});  // its body never comes
    EXPECT_EQ(reply.rfind("HTTP/1.0 400 Bad Request", 0), 0u) << reply;
    EXPECT_DOUBLE_EQ(fix.snapshot().latitude, 3.25);
    EXPECT_EQ(positions.load(), 1);
}

TEST(PositionServerKey, OnlyPostsWithTheRelayKeyAreTaken) {
    SharedFix fix;
    test::TempDir dir;
    test::write_file(dir / "vor_ini.txt", "maps=.\\Maps\r\nrelaykey= s3cret &x \r\n");
    PositionServerConfig c;
    c.port = 0;
    c.bind_address = "127.0.0.1";
    c.settings_dir = dir.path();
    PositionServer server(fix, nullptr);
    ASSERT_TRUE(server.start(c));
    const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/vor/sendbase.cgi";
    HttpOptions o;
    o.settings_dir = dir.path();

    const char* refused[] = {"latitude=1&longitude=2", "latitude=1&longitude=2&key=s3cret", "latitude=1&longitude=2&key="};
    for (const char* body : refused) {
        const std::string reply = exchange(server.port(), {std::string("POST / HTTP/1.1\r\n\r\n") + body + "\r\n"});
        EXPECT_EQ(reply.rfind("HTTP/1.0 403 Forbidden\r\n", 0), 0u) << body;
    }
    testing::internal::CaptureStdout();
    EXPECT_FALSE(http_post_form(url, "latitude=1&longitude=2", o));  // the form itself carries no key
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error: 403 in reply (the form was refused)\n");
    EXPECT_EQ(fix.snapshot().fix_dimension, 0);
    // GETs need no key; the base's upload, which reads the same vor_ini.txt, carries it.
    EXPECT_EQ(exchange(server.port(), {"GET / HTTP/1.1\r\n\r\n"}).rfind("HTTP/1.0 200 OK", 0), 0u);
    EXPECT_EQ(base_upload_body(1, 2, "s3cret &x"), "latitude=1.000000&longitude=2.000000&key=s3cret%20%26x");
    EXPECT_TRUE(http_post_form(url, with_relay_key(base_upload_body(-12.5, 130.75), dir.path()), o));
    EXPECT_DOUBLE_EQ(fix.snapshot().latitude, -12.5);
    EXPECT_EQ(fix.snapshot().fix_dimension, 3);
}

TEST(PositionServerKey, WrongKeysBackOffTheirAddressForAGrowingTime) {
    SharedFix fix;
    PositionServerConfig c;
    c.port = 0;
    c.bind_address = "127.0.0.1";
    c.relay_key = "right-key";
    c.key_guess_peers = 2;
    std::mutex mutex;
    std::vector<std::string> notices;
    c.on_notice = [&](const std::string& line) {
        std::lock_guard lock(mutex);
        notices.push_back(line);
    };
    PositionServer server(fix, nullptr);
    ASSERT_TRUE(server.start(c));
    auto post = [&](const char* from, const std::string& key, double latitude = 1) {
        const std::string reply = exchange(server.port(), {"POST / HTTP/1.1\r\n\r\nlatitude=" + std::to_string(latitude) +
                                                           "&longitude=2&key=" + key + "\r\n"}, 0ms, from);
        return reply.substr(0, reply.find("\r\n"));
    };
    for (int i = 0; i < kWrongKeysBeforeBackoff; ++i) EXPECT_EQ(post("127.0.0.2", "guess" + std::to_string(i)), "HTTP/1.0 403 Forbidden");
    // In back-off even the right key is refused, and nothing is taken; other addresses are served.
    EXPECT_EQ(post("127.0.0.2", "right-key"), "HTTP/1.0 429 Too Many Requests");
    EXPECT_EQ(fix.snapshot().fix_dimension, 0);
    EXPECT_EQ(post("127.0.0.3", "right-key", 3), "HTTP/1.0 200 OK");
    std::this_thread::sleep_for(kFirstKeyBackoff + 100ms);
    // After it, one more wrong key doubles the back-off.
    EXPECT_EQ(post("127.0.0.2", "guess"), "HTTP/1.0 403 Forbidden");
    EXPECT_EQ(post("127.0.0.2", "right-key"), "HTTP/1.0 429 Too Many Requests");
    // A full table forgets an address not in back-off, never the one that guessed most.
    EXPECT_EQ(post("127.0.0.4", "guess"), "HTTP/1.0 403 Forbidden");
    EXPECT_EQ(post("127.0.0.5", "guess"), "HTTP/1.0 403 Forbidden");
    EXPECT_EQ(post("127.0.0.2", "right-key"), "HTTP/1.0 429 Too Many Requests");
    std::this_thread::sleep_for(2 * kFirstKeyBackoff + 100ms);
    EXPECT_EQ(post("127.0.0.2", "right-key", 5), "HTTP/1.0 200 OK");
    EXPECT_DOUBLE_EQ(fix.snapshot().latitude, 5);
    server.stop();
    // One line for each back-off, not one for each refused request.
    EXPECT_EQ(notices, (std::vector<std::string>{
                           "Position server: 5 wrong relay keys from 127.0.0.2, its requests refused for 1 s",
                           "Position server: 1 wrong relay key from 127.0.0.2, its requests refused for 2 s"}));
}

TEST_F(PositionServerTest, CurlIsUnderstood) {
#ifdef _WIN32
    GTEST_SKIP() << "Linux only: runs /usr/bin/curl through a POSIX shell";
#else
    if (::access("/usr/bin/curl", X_OK) != 0) GTEST_SKIP() << "curl not installed";
    const std::string base = "http://127.0.0.1:" + std::to_string(server.port());
    const std::string post = "/usr/bin/curl -s -S --max-time 10 -o /dev/null -w '%{http_code}' -d "
                             "'latitude=60.175000&longitude=24.950000' " + base + "/vor/sendbase.cgi";
    FILE* pipe = ::popen(post.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char out[64] = {};
    const std::size_t n = std::fread(out, 1, sizeof out - 1, pipe);
    EXPECT_EQ(::pclose(pipe), 0);
    EXPECT_EQ(std::string(out, n), "200");
    const auto r = fix.snapshot();
    EXPECT_DOUBLE_EQ(r.latitude, 60.175);
    EXPECT_DOUBLE_EQ(r.longitude, 24.95);
    EXPECT_EQ(r.fix_dimension, 3);

    pipe = ::popen(("/usr/bin/curl -s -S --max-time 10 -i " + base + "/").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string head;
    char buffer[256];
    while (std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe)) head.append(buffer, got);
    EXPECT_EQ(::pclose(pipe), 0);
    EXPECT_EQ(head, "HTTP/1.0 200 OK\r\nServer: Vor 1.4\r\nDate: " + expected_date(clock.load()) +
                        "\r\nContent-length: 0\r\n\r\n");
#endif
}

// A phone tracker's requests, as curl sends them by GET and by POST, move the fix.
TEST_F(PositionServerTest, CurlAsAPhoneTracker) {
#ifdef _WIN32
    GTEST_SKIP() << "Linux only: runs /usr/bin/curl through a POSIX shell";
#else
    if (::access("/usr/bin/curl", X_OK) != 0) GTEST_SKIP() << "curl not installed";
    const std::string base = "http://127.0.0.1:" + std::to_string(server.port());
    auto curl = [](const std::string& args) {
        FILE* pipe = ::popen(("/usr/bin/curl -s -S --max-time 10 -o /dev/null -w '%{http_code}' " + args).c_str(), "r");
        if (!pipe) return std::string("<no curl>");
        char out[64] = {};
        const std::size_t n = std::fread(out, 1, sizeof out - 1, pipe);
        ::pclose(pipe);
        return std::string(out, n);
    };
    EXPECT_EQ(curl("'" + base + "/?lat=60.1699&lon=24.9384&timestamp=1700000000&speed=10&bearing=45&altitude=12'"),
              "200");
    auto r = fix.snapshot();
    EXPECT_DOUBLE_EQ(r.latitude, 60.1699);
    EXPECT_DOUBLE_EQ(r.longitude, 24.9384);
    EXPECT_EQ(r.fix_dimension, 3);
    EXPECT_EQ(r.speed_knots, 10);
    EXPECT_EQ(r.course, 45);
    EXPECT_STREQ(r.utc_text, "2023/11/14 22:13:20");

    EXPECT_EQ(curl("--data-urlencode 'timestamp=2023-11-14 22:14:20' -d lat=60.17 -d lon=24.94 " + base + "/"),
              "200");
    r = fix.snapshot();
    EXPECT_DOUBLE_EQ(r.latitude, 60.17);
    EXPECT_DOUBLE_EQ(r.longitude, 24.94);
    EXPECT_STREQ(r.utc_text, "2023/11/14 22:14:20");
    EXPECT_EQ(curl("'" + base + "/?lat=95&lon=1'"), "400");
    EXPECT_DOUBLE_EQ(fix.snapshot().latitude, 60.17);
    EXPECT_EQ(positions.load(), 2);
    // With an id the phone is a device of the fleet, and the Remote position while it is the only one.
    EXPECT_EQ(curl("-d id=4711 -d lat=10.5 -d lon=20.25 " + base + "/"), "200");
    EXPECT_DOUBLE_EQ(fix.snapshot().latitude, 10.5);
    EXPECT_EQ(curl("-d id=4712 -d lat=11.5 -d lon=20.25 " + base + "/"), "200");
    EXPECT_DOUBLE_EQ(fix.snapshot().latitude, 10.5);
    std::lock_guard lock(devices_mutex);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].id, "4711");
    EXPECT_DOUBLE_EQ(devices[0].lon, 20.25);
#endif
}

TEST_F(PositionServerTest, BaseUploadThroughTinyproxyReachesTheServer) {
    test::TinyProxy proxy;
    if (!proxy.available()) GTEST_SKIP() << "tinyproxy not available";
    test::TempDir dir;
    test::write_file(dir / "vor_ini.txt", "prxy=127.0.0.1:" + std::to_string(proxy.port()) + "\r\n");
    HttpOptions o;
    o.settings_dir = dir.path();
    o.idle_timeout = 20s;
    EXPECT_TRUE(http_post_form("http://127.0.0.1:" + std::to_string(server.port()) + "/vor/sendbase.cgi",
                             "latitude=35.681236&longitude=139.767125", o));
    const auto r = fix.snapshot();
    EXPECT_EQ(r.fix_dimension, 3) << proxy.log();
    EXPECT_DOUBLE_EQ(r.latitude, 35.681236);
    EXPECT_DOUBLE_EQ(r.longitude, 139.767125);
}

TEST(PositionServerStart, ListensOnTheBindKeyOrReportsWhyNot) {
    SharedFix fix;
    test::TempDir dir;
    PositionServerConfig c;
    c.port = 0;
    c.settings_dir = dir.path();

    test::write_file(dir / "vor_ini.txt", "maps=.\\Maps\r\nbind=127.0.0.1\r\n");
    {
        PositionServer server(fix, nullptr);
        ASSERT_TRUE(server.start(c));
        EXPECT_TRUE(server.running());
        EXPECT_EQ(exchange(server.port(), {"GET / HTTP/1.1\r\n\r\n"}).rfind("HTTP/1.0 200 OK", 0), 0u);
    }

    // bind=0.0.0.0 listens on every address, the loopback one among them.
    test::write_file(dir / "vor_ini.txt", "bind=0.0.0.0\r\n");
    {
        PositionServer server(fix, nullptr);
        ASSERT_TRUE(server.start(c));
        EXPECT_EQ(exchange(server.port(), {"GET / HTTP/1.1\r\n\r\n"}).rfind("HTTP/1.0 200 OK", 0), 0u);
    }

    // A port already taken.
    test::LoopbackHttpServer other(test::ScriptedReply::make(200, "text/plain", ""));
    c.port = other.port();
    testing::internal::CaptureStdout();
    PositionServer second(fix, nullptr);
    EXPECT_FALSE(second.start(c));
    EXPECT_FALSE(second.running());
    EXPECT_FALSE(second.server_running.load());  // nothing to wake when the link closes
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error: " + std::to_string(EADDRINUSE) + " in bind()\n");

    // A relay key too short to stand guessing.
    c.port = 0;
    c.bind_address = "127.0.0.1";
    c.relay_key = "7-chars";
    testing::internal::CaptureStdout();
    PositionServer weak(fix, nullptr);
    EXPECT_FALSE(weak.start(c));
    EXPECT_FALSE(weak.running());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error: " + std::to_string(EINVAL) + " in relaykey (shorter than 8 characters)\n");
    c.relay_key = "8-chars!";
    EXPECT_TRUE(weak.start(c));
    weak.stop();
    c.relay_key.reset();

    // An address that is not one.
    test::write_file(dir / "vor_ini.txt", "bind=\r\n");
    c.bind_address = "";
    c.port = 0;
    testing::internal::CaptureStdout();
    PositionServer third(fix, nullptr);
    c.bind_address = "no such address";
    EXPECT_FALSE(third.start(c));
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed, "Error: -1 in GetLocalHost\n");  // one line
}

}  // namespace
}  // namespace vg
