// The NTRIP client against a small caster of the test on loopback: NTRIP 2 chunked replies carrying
// gpsd's RTCM 3 capture, the GGA repeated, a 401 and a source table in place of a stream reported, and
// the source table read and sorted.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "net/ntrip.h"
#include "platform/sockets.h"
#include "support/loopback_acceptor.h"
#include "support/peers.h"
#include "support/rtcm3_capture.h"
#include "support/test_paths.h"

namespace vg {
namespace {

using namespace std::chrono_literals;

constexpr const char* kTable =
    "STR;NEAR;Helsinki;RTCM 3.2;1005(10),1077(1),1087(1);2;GPS+GLO;NLS;FIN;60.17;24.94;1;0;sNTRIP;none;B;N;4800;\r\n"
    "CAS;caster.example;2101;Example;x;0;FIN;60.0;24.0;0.0.0.0;0;http://example\r\n"
    "STR;FAR;Sydney;RTCM 3.3;1006(10),1127(1);2;GPS+BDS;GA;AUS;-33.87;151.21;0;0;sNTRIP;none;B;N;2400;\r\n"
    "STR;;no name\r\nSTR;SHORT;x\r\n"
    "STR;MID;Berlin;RTCM 3.2;1005(10),1077(1);2;GPS;SAPOS;DEU;52.52;13.40;1;0;sNTRIP;none;B;N;9600;\r\n"
    "ENDSOURCETABLE\r\n";

// One scripted caster: records each request and what the client sends after it (GGA lines), and
// answers with `reply` (then, for a stream, `body` in chunks of `chunk` bytes, chunked when asked).
struct Caster {
    std::string reply;
    std::string body;
    std::size_t chunk = 0;  // 0: body sent as it is
    bool chunked = false;
    std::mutex mutex;
    std::vector<std::string> requests;
    std::string after;  // bytes the client sent after its request
    test::LoopbackAcceptor acceptor{"NTRIP caster"};

    Caster() {
        acceptor.start([this](int fd) { serve(fd); });
    }
    ~Caster() { acceptor.stop(); }

    void send(int fd, const std::string& bytes) {
        std::size_t at = 0;
        while (at < bytes.size() && !acceptor.stopping()) {
            pollfd p = poll_entry(fd, POLLOUT);
            poll_sockets(&p, 1, 100);
            const long n = ::send(fd, bytes.data() + at, static_cast<int>(bytes.size() - at), kSendFlags);
            if (n > 0) at += static_cast<std::size_t>(n);
        }
    }
    void serve(int fd) {
        std::string request;
        for (;;) {
            pollfd p[2] = {poll_entry(fd, POLLIN), poll_entry(acceptor.wake_fd(), POLLIN)};
            poll_sockets(p, 2, 100);
            if (acceptor.stopping()) break;
            char buffer[1024];
            const long n = ::recv(fd, buffer, sizeof buffer, kReceiveFlags);
            if (n == 0) break;
            if (n < 0) continue;
            const std::size_t before = request.size();
            request.append(buffer, static_cast<std::size_t>(n));
            const auto end = request.find("\r\n\r\n");
            if (end == std::string::npos || before > end) {
                if (before > 0 && request.find("\r\n\r\n") < before) {
                    std::lock_guard lock(mutex);
                    after.append(buffer, static_cast<std::size_t>(n));
                }
                continue;
            }
            {
                std::lock_guard lock(mutex);
                requests.push_back(request.substr(0, end + 4));
                after += request.substr(end + 4);
            }
            send(fd, reply);
            std::string out;
            const std::size_t step = chunk ? chunk : body.size();
            for (std::size_t at = 0; at < body.size(); at += step) {
                const std::string piece = body.substr(at, step);
                if (chunked) {
                    char size[16];
                    std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
                    out += size + piece + "\r\n";
                } else {
                    out += piece;
                }
            }
            send(fd, out);
            if (reply.find(" 200 ") == std::string::npos && reply.find("ICY") == std::string::npos) break;
            if (reply.find("sourcetable") != std::string::npos || reply.starts_with("SOURCETABLE")) break;
        }
        acceptor.close_connection(fd);
    }
    std::string url(const std::string& mount) const {
        return "http://alice@127.0.0.1:" + std::to_string(acceptor.port()) + "/" + mount;
    }
};

ntrip::ClientOptions options_for(const Caster& caster, std::vector<std::uint8_t>& received, std::mutex& m) {
    ntrip::ClientOptions o;
    o.url = *ntrip::parse_url(caster.url("MOUNT"));
    o.password = "s3cret-pw";
    o.backoff_first_ms = 100;
    o.on_frame = [&received, &m](const std::uint8_t* data, std::size_t size) {
        std::lock_guard lock(m);
        received.insert(received.end(), data, data + size);
    };
    return o;
}

TEST(Ntrip, ChunkedStreamGivesTheCapturesFramesAndTheGgaIsRepeated) {
    sockets_startup();
    const auto capture = test::rtcm3_capture();
    Caster caster;
    caster.reply = "HTTP/1.1 200 OK\r\nNtrip-Version: Ntrip/2.0\r\nContent-Type: gnss/data\r\n"
                   "Transfer-Encoding: chunked\r\n\r\n";
    caster.body = "\x01\x02" + capture.bytes;  // noise first
    caster.chunk = 997;
    caster.chunked = true;
    std::vector<std::uint8_t> received;
    std::mutex m;
    auto o = options_for(caster, received, m);
    o.gga_seconds = 1;
    o.gga = [] { return std::optional<std::string>(ntrip::gga_sentence(60.5, 24.25, 12.0, 43200)); };
    ntrip::Client client;
    ASSERT_TRUE(client.start(o));
    EXPECT_TRUE(test::eventually([&] {
        std::lock_guard lock(m);
        return received.size() >= capture.valid.size();
    }));
    EXPECT_TRUE(test::eventually([&] {
        std::lock_guard lock(caster.mutex);
        return caster.after.find("$GPGGA", caster.after.find("$GPGGA") + 1) != std::string::npos;
    }));
    const auto s = client.status();
    client.stop();
    EXPECT_TRUE(std::string(received.begin(), received.end()) == capture.valid);
    EXPECT_EQ(s.state, ntrip::State::Streaming);
    EXPECT_EQ(s.frames, 192u);
    EXPECT_GT(s.types.at(1077), 0u);
    EXPECT_GE(s.frame_age_s, 0.0);
    EXPECT_GE(s.gga_sent, 2);
    std::lock_guard lock(caster.mutex);
    ASSERT_FALSE(caster.requests.empty());
    const std::string& request = caster.requests[0];
    EXPECT_TRUE(request.starts_with("GET /MOUNT HTTP/1.1\r\n"));
    EXPECT_NE(request.find("Ntrip-Version: Ntrip/2.0\r\n"), std::string::npos);
    EXPECT_NE(request.find("Authorization: Basic " + ntrip::basic_credentials("alice", "s3cret-pw")),
              std::string::npos);
    EXPECT_EQ(caster.after.substr(0, caster.after.find('\n') + 1), ntrip::gga_sentence(60.5, 24.25, 12.0, 43200));
    EXPECT_EQ(ntrip::gga_sentence(60.5, 24.25, 12.0, 43200),
              "$GPGGA,120000.00,6030.00000,N,02415.00000,E,1,12,1.0,12.0,M,0.0,M,,*69\r\n");
}

TEST(Ntrip, RefusalsAreReportedWithTheirCause) {
    sockets_startup();
    std::vector<std::uint8_t> received;
    std::mutex m;
    {
        Caster caster;
        caster.reply = "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"x\"\r\nContent-Length: 0\r\n\r\n";
        ntrip::Client client;
        ASSERT_TRUE(client.start(options_for(caster, received, m)));
        EXPECT_TRUE(test::eventually([&] { return client.status().state == ntrip::State::Unauthorized; }));
        const auto cause = client.status().cause;
        EXPECT_NE(cause.find("401"), std::string::npos);
        EXPECT_EQ(cause.find("s3cret-pw"), std::string::npos);
        client.stop();
    }
    {
        Caster caster;  // NTRIP 1: a source table for an unknown mountpoint
        caster.reply = "SOURCETABLE 200 OK\r\nContent-Type: text/plain\r\n\r\n";
        caster.body = kTable;
        ntrip::Client client;
        auto o = options_for(caster, received, m);
        o.version = 1;
        ASSERT_TRUE(client.start(o));
        EXPECT_TRUE(test::eventually([&] { return client.status().state == ntrip::State::NoMountpoint; }));
        client.stop();
        EXPECT_EQ(client.status().state, ntrip::State::Off);
        std::lock_guard lock(caster.mutex);
        EXPECT_TRUE(caster.requests.at(0).starts_with("GET /MOUNT HTTP/1.0\r\nUser-Agent: NTRIP "));
    }
    {
        const int port = test::free_loopback_port();
        ntrip::ClientOptions o;
        o.url = *ntrip::parse_url("http://127.0.0.1:" + std::to_string(port) + "/X");
        ntrip::Client client;
        ASSERT_TRUE(client.start(o));
        EXPECT_TRUE(test::eventually([&] { return client.status().state == ntrip::State::Refused; }));
        EXPECT_NE(client.status().cause.find("refused"), std::string::npos) << client.status().cause;
        const auto before = std::chrono::steady_clock::now();
        client.stop();
        EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
    }
    EXPECT_TRUE(received.empty());
}

TEST(Ntrip, SourceTableIsReadAndSortedByDistance) {
    sockets_startup();
    Caster caster;
    caster.reply = "HTTP/1.1 200 OK\r\nContent-Type: gnss/sourcetable\r\nTransfer-Encoding: chunked\r\n\r\n";
    caster.body = kTable;
    caster.chunk = 40;
    caster.chunked = true;
    std::string error;
    auto table = ntrip::fetch_source_table(*ntrip::parse_url(caster.url("")), "pw", 2, 10000, error);
    ASSERT_TRUE(table) << error;
    ASSERT_EQ(table->size(), 4u);
    ntrip::sort_by_distance(*table, 59.4, 24.7);  // Tallinn
    EXPECT_EQ((*table)[0].mountpoint, "NEAR");
    EXPECT_EQ((*table)[1].mountpoint, "MID");
    EXPECT_EQ((*table)[2].mountpoint, "FAR");
    EXPECT_EQ((*table)[3].mountpoint, "SHORT");  // no position: last
    EXPECT_FALSE((*table)[3].located);
    EXPECT_EQ((*table)[0].format, "RTCM 3.2");
    EXPECT_EQ((*table)[0].network, "NLS");
    EXPECT_TRUE((*table)[0].nmea);
    EXPECT_NEAR((*table)[0].distance_m, 85000, 5000);
}

TEST(Ntrip, UrlsAndChunkCoding) {
    const auto u = ntrip::parse_url("http://bob@caster.example:2102/RTCM3_MSM");
    ASSERT_TRUE(u);
    EXPECT_EQ(u->user, "bob");
    EXPECT_EQ(u->port, 2102);
    EXPECT_EQ(u->mountpoint, "RTCM3_MSM");
    EXPECT_EQ(ntrip::describe(*u), "http://bob@caster.example:2102/RTCM3_MSM");
    EXPECT_EQ(ntrip::parse_url("ntrip://caster.example")->port, 2101);
    EXPECT_FALSE(ntrip::parse_url("http://bob:pw@caster.example/M"));  // the password has a file of its own
    EXPECT_FALSE(ntrip::parse_url("https://caster.example/M"));
    EXPECT_FALSE(ntrip::parse_url("http://caster.example:70000/M"));
    EXPECT_FALSE(ntrip::parse_url("http://:2101/M"));
    EXPECT_EQ(ntrip::basic_credentials("Aladdin", "open sesame"), "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");

    ntrip::ChunkDecoder d;
    std::string out;
    EXPECT_TRUE(d.feed("3;ext=1\r\nabc\r\n0\r\n\r\n", 19, out));
    EXPECT_EQ(out, "abc");
    EXPECT_TRUE(d.finished());
    ntrip::ChunkDecoder broken;
    out.clear();
    EXPECT_FALSE(broken.feed("3\r\nabcX", 7, out));
    EXPECT_FALSE(broken.feed("\r\n", 2, out));
    ntrip::ChunkDecoder huge;
    EXPECT_FALSE(huge.feed("123456789\r\n", 11, out));
}

}  // namespace
}  // namespace vg
