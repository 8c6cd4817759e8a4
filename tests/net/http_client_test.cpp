// The HTTP client against real peers on 127.0.0.1: a scripted loopback server and tinyproxy.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>

#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "support/loopback_http_server.h"
#include "net/http_client.h"
#include "support/captured_diagnostics.h"
#include "support/test_paths.h"
#include "platform/sockets.h"

namespace vg {
namespace {

using namespace std::chrono_literals;
using test::LoopbackHttpServer;
using test::ScriptedReply;
using test::TempDir;

std::string real_file(const char* name) { return test::read_file(test::shared_testdata() / "images/bench" / name); }

// Files in `dir` other than vor_ini.txt, to show that no temporary file is left behind.
std::vector<std::string> stray_files(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        if (entry.path().filename() != "vor_ini.txt") names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(SplitUrl, HostPortPathAndTheirDefaults) {
    auto p = split_url("http://h:8080/a/b?x=1");
    EXPECT_EQ(p.host, "h");
    EXPECT_EQ(p.port, 8080);
    EXPECT_EQ(p.path, "/a/b?x=1");

    p = split_url("tile.example.org");
    EXPECT_EQ(p.host, "tile.example.org");
    EXPECT_EQ(p.port, 80);
    EXPECT_EQ(p.path, "/");

    // Only the lower-case scheme is dropped: otherwise the text before the first ":" is the host.
    p = split_url("HTTP://h/x");
    EXPECT_EQ(p.host, "HTTP");
    EXPECT_EQ(p.path, "//h/x");

    EXPECT_EQ(split_url("http://h:/x").port, 80);     // nothing to read keeps 80
    EXPECT_EQ(split_url("http://h:0/x").port, 0);     // connects to 80
    EXPECT_EQ(split_url("http://h:99999999999/").port, -1);  // refused at connect

}

class HttpClientTest : public ::testing::Test {
protected:
    TempDir dir;
    HttpOptions options() const {
        HttpOptions o;
        o.settings_dir = dir.path();
        o.idle_timeout = 5s;
        o.connect_timeout = 5s;
        return o;
    }
    std::filesystem::path out(const std::string& name) const { return dir / name; }
};

TEST_F(HttpClientTest, DirectRequestsAreSentByteForByte) {
    LoopbackHttpServer server(ScriptedReply::make(200, "text/html", "<html></html>"));
    EXPECT_TRUE(http_get_file(server.url("/kh/v=55&x=1&y=2&z=3"), out("page.tmp"), options()));
    EXPECT_TRUE(http_post_form(server.url("/vor/sendbase.cgi"), "latitude=60.175000&longitude=24.950000", options()));
    ASSERT_TRUE(server.wait_for_requests(2));
    const auto requests = server.requests();
    EXPECT_EQ(requests[0],
              "GET /kh/v=55&x=1&y=2&z=3 HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: Mozilla/4.0\r\n"
              "Accept: */*\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(requests[1],
              "POST /vor/sendbase.cgi HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
              "Content-type: application/x-www-form-urlencoded\r\nContent-length: 38\r\n\r\n"
              "latitude=60.175000&longitude=24.950000\r\n");
    EXPECT_EQ(test::read_file(out("page.tmp")), "<html></html>");
}

TEST_F(HttpClientTest, ProxyRequestsCarryTheAbsoluteUrlAndTheTargetPort) {
    // The loopback server stands in as the proxy, so the bytes the proxy receives are recorded.
    LoopbackHttpServer proxy(ScriptedReply::make(200, "image/png", "PNG"));
    test::write_file(dir / "vor_ini.txt", "maps=.\\Maps\r\nprxy=127.0.0.1:" + std::to_string(proxy.port()) + "\r\n");
    EXPECT_TRUE(http_get_file("http://tiles.example.org/1/2/3.png", out("t.png"), options()));
    EXPECT_TRUE(http_get_file("http://base.example.org:4477/", {}, options()));
    EXPECT_TRUE(http_post_form("http://base.example.org:4477/vor/sendbase.cgi", "latitude=1.5&longitude=2.5", options()));
    ASSERT_TRUE(proxy.wait_for_requests(3));
    const auto r = proxy.requests();
    EXPECT_EQ(r[0], "GET http://tiles.example.org/1/2/3.png HTTP/1.1\r\nHost: tiles.example.org\r\n"
                    "User-Agent: Mozilla/4.0\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(r[1], "GET http://base.example.org:4477/ HTTP/1.1\r\nHost: base.example.org:4477\r\n"
                    "User-Agent: Mozilla/4.0\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(r[2], "POST http://base.example.org:4477/vor/sendbase.cgi HTTP/1.1\nHost: base.example.org:4477\n"
                    "Connection: close\nContent-type: application/x-www-form-urlencoded\nContent-length: 26\n\n"
                    "latitude=1.5&longitude=2.5\n");
}

TEST_F(HttpClientTest, OnlyTheFirstProxyLineCounts) {
    LoopbackHttpServer server(ScriptedReply::make(200, "text/plain", "ok"));
    // The bare key comes first, so the later line naming a (dead) proxy is never looked at.
    test::write_file(dir / "vor_ini.txt", "prxy=\r\nprox=127.0.0.1:1\r\n");
    EXPECT_TRUE(http_get_file(server.url("/x"), out("x.tmp"), options()));
    ASSERT_TRUE(server.wait_for_requests(1));
    EXPECT_EQ(server.requests()[0].substr(0, 17), "GET /x HTTP/1.1\r\n");
}

TEST_F(HttpClientTest, GetAndPostThroughTinyproxyReachTheServer) {
    test::TinyProxy proxy;
    if (!proxy.available()) GTEST_SKIP() << "tinyproxy not available";
    const std::string png = real_file("map256-rgb.png");
    LoopbackHttpServer server([&](const std::string& request) {
        if (request.rfind("POST", 0) == 0) return ScriptedReply::make(200, "text/html", "", true);
        return ScriptedReply::make(200, "image/png", png, true);
    });
    test::write_file(dir / "vor_ini.txt", "prxy=127.0.0.1:" + std::to_string(proxy.port()) + "\r\n");
    auto o = options();
    o.idle_timeout = 20s;
    EXPECT_TRUE(http_get_file(server.url("/0/0/0.png"), out("0.png"), o)) << proxy.log();
    EXPECT_EQ(test::read_file(out("0.png")), png);
    EXPECT_TRUE(http_post_form(server.url("/vor/sendbase.cgi"), "latitude=60.175000&longitude=24.950000", o));
    ASSERT_TRUE(server.wait_for_requests(2)) << proxy.log();
    const auto r = server.requests();
    EXPECT_EQ(r[0].rfind("GET /0/0/0.png HTTP/1.", 0), 0u) << r[0];
    EXPECT_EQ(r[1].rfind("POST /vor/sendbase.cgi HTTP/1.", 0), 0u) << r[1];
    EXPECT_NE(r[1].find("\r\n\r\nlatitude=60.175000&longitude=24.950000"), std::string::npos) << r[1];
}

TEST_F(HttpClientTest, ContentTypeMustMatchTheFileExtension) {
    struct Case {
        const char* file;
        const char* type;  // empty: no Content-Type field
        int status;
        int result;
    };
    const Case cases[] = {
        {"a.png", "image/png", 200, 1},
        {"a.gif", "image/gif", 200, 1},
        {"a.jpg", "image/jpeg", 200, 1},
        {"b.jpg", "image/jpg", 200, 0},
        {"b.png", "image/png;charset=x", 200, 0},
        {"c.png", "text/html", 200, 0},
        {"c.gif", "image/png", 200, 0},
        {"d.png", "", 200, 0},
        {"tcpip.tmp", "", 200, 0},
        {"tcpip2.tmp", "text/html", 200, 1},
        {"e.png", "image/png", 404, 0},  // an error page of the right type is still no tile
        {"e.gif", "image/gif", 500, 0},
        {"e.jpg", "image/jpeg", 204, 1},  // any success status
    };
    for (const auto& c : cases) {
        LoopbackHttpServer server(ScriptedReply::make(c.status, c.type, "BODY"));
        EXPECT_EQ(http_get_file(server.url("/t"), out(c.file), options()), c.result) << c.file << " " << c.type;
        EXPECT_EQ(std::filesystem::exists(out(c.file)), c.result == 1) << c.file;
        if (c.result == 1) {
            EXPECT_EQ(test::read_file(out(c.file)), "BODY");
        }
    }
    // A real picture sent with 404 replaces nothing and leaves no temporary file.
    test::write_file(out("kept.png"), "old tile");
    LoopbackHttpServer missing(ScriptedReply::make(404, "image/png", real_file("map256-rgb.png"), true));
    testing::internal::CaptureStdout();
    EXPECT_FALSE(http_get_file(missing.url("/t"), out("kept.png"), options()));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error: 404 in reply 404 (not a success, not stored)\n");
    EXPECT_EQ(test::read_file(out("kept.png")), "old tile");
    std::filesystem::remove(out("kept.png"));
    // A type written after the colon without a blank is still one word.
    LoopbackHttpServer tight(ScriptedReply::make(200, "", "x", false, "Content-Type:image/gif\r\n"));
    EXPECT_TRUE(http_get_file(tight.url("/t"), out("f.gif"), options()));
}

TEST_F(HttpClientTest, BodyEndsAtCloseAtFullLengthOrAfterTheLastChunk) {
    const std::string gif = real_file("relief1024.gif");  // several transfer buffers long
    const std::string jpg = real_file("photo256-q85.jpg");

    {   // Until close, no length field.
        LoopbackHttpServer server(ScriptedReply::make(200, "image/gif", gif));
        EXPECT_TRUE(http_get_file(server.url("/"), out("close.gif"), options()));
        EXPECT_EQ(test::read_file(out("close.gif")), gif);
    }
    {   // A full Content-Length ends the body although the server keeps the connection open.
        auto reply = ScriptedReply::make(200, "image/jpeg", jpg, true);
        reply.hold_open = true;
        LoopbackHttpServer server(reply);
        auto o = options();
        o.idle_timeout = 60s;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(http_get_file(server.url("/"), out("length.jpg"), o));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 50s);
        EXPECT_EQ(test::read_file(out("length.jpg")), jpg);
    }
    {   // Chunked bodies are stored de-chunked, whatever the chunk size.
        for (std::size_t chunk : {1u, 7u, 4096u, 100000u}) {
            // At most 3000 chunks: tiny chunks of the whole file take minutes on a slow loopback.
            const std::string body = gif.substr(0, std::min(gif.size(), chunk * 3000));
            auto reply = ScriptedReply::chunked("image/gif", body, chunk);
            reply.hold_open = true;
            LoopbackHttpServer server(reply);
            EXPECT_TRUE(http_get_file(server.url("/"), out("chunked.gif"), options())) << chunk;
            EXPECT_EQ(test::read_file(out("chunked.gif")), body) << chunk;
        }
    }
    {   // Header only, then close: an empty file and success.
        LoopbackHttpServer server(ScriptedReply::make(200, "image/png", ""));
        EXPECT_TRUE(http_get_file(server.url("/"), out("empty.png"), options()));
        EXPECT_TRUE(std::filesystem::exists(out("empty.png")));
        EXPECT_EQ(std::filesystem::file_size(out("empty.png")), 0u);
    }
    {   // A reply delivered in small delayed pieces.
        ScriptedReply reply;
        const std::string all = ScriptedReply::make(200, "image/jpeg", jpg, true).pieces[0].bytes;
        for (std::size_t at = 0; at < all.size(); at += 5000) reply.pieces.push_back({20ms, all.substr(at, 5000)});
        LoopbackHttpServer server(reply);
        EXPECT_TRUE(http_get_file(server.url("/"), out("slow.jpg"), options()));
        EXPECT_EQ(test::read_file(out("slow.jpg")), jpg);
    }
    EXPECT_EQ(stray_files(dir.path()),
              (std::vector<std::string>{"chunked.gif", "close.gif", "empty.png", "length.jpg", "slow.jpg"}));
}

TEST_F(HttpClientTest, BrokenRepliesFailAndLeaveNoFile) {
    const std::string jpg = real_file("photo256-q85.jpg");
    // An earlier good copy of a file stays when a later download of it fails.
    test::write_file(out("keep.jpg"), "old tile");

    auto truncated = ScriptedReply::make(200, "image/jpeg", jpg.substr(0, 1000), false,
                                         "Content-Length: " + std::to_string(jpg.size()) + "\r\n");
    auto truncated_chunks = ScriptedReply::chunked("image/jpeg", jpg, 4096);
    truncated_chunks.pieces.resize(3);
    auto bad_chunk = ScriptedReply::make(200, "image/jpeg", "zz\r\nabc\r\n0\r\n\r\n", false,
                                         "Transfer-Encoding: chunked\r\n");
    auto bad_length = ScriptedReply::make(200, "image/jpeg", "abc", false, "Content-Length: 3x\r\n");
    auto huge_header = ScriptedReply::make(200, "image/jpeg", "abc", false,
                                           "X-Filler: " + std::string(17000, 'f') + "\r\n");
    ScriptedReply no_blank_line;
    no_blank_line.pieces.push_back({0ms, "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\n"});
    ScriptedReply silent;
    silent.silent = true;
    auto stalls = ScriptedReply::make(200, "image/jpeg", jpg.substr(0, 100));
    stalls.hold_open = true;

    const std::pair<const char*, ScriptedReply> cases[] = {
        {"truncated length", truncated},   {"truncated chunks", truncated_chunks},
        {"bad chunk size", bad_chunk},     {"bad length", bad_length},
        {"huge header", huge_header},      {"closed in header", no_blank_line},
        {"silent", silent},                {"stalls in body", stalls},
    };
    auto o = options();
    o.idle_timeout = 300ms;
    for (const auto& [what, reply] : cases) {
        LoopbackHttpServer server(reply);
        EXPECT_FALSE(http_get_file(server.url("/"), out("keep.jpg"), o)) << what;
        EXPECT_EQ(test::read_file(out("keep.jpg")), "old tile") << what;
        server.stop();
    }
    EXPECT_EQ(stray_files(dir.path()), std::vector<std::string>{"keep.jpg"});
}

TEST_F(HttpClientTest, UnreachablePeersFailWithTheirDiagnosticLine) {
    const int closed_port = test::free_loopback_port();
    auto diagnostics = std::make_unique<test::CapturedDiagnostics>();  // the lines, not the terminal
    EXPECT_FALSE(http_get_file("http://127.0.0.1:" + std::to_string(closed_port) + "/", out("x.png"), options()));
    EXPECT_FALSE(http_post_form("http://127.0.0.1:" + std::to_string(closed_port) + "/", "a=1", options()));
    EXPECT_FALSE(http_get_file("http:///x", out("y.png"), options()));  // no host name at all
    // Line ends inside an address would smuggle header fields in: nothing is sent.
    LoopbackHttpServer server(ScriptedReply::make(200, "text/plain", "ok"));
    EXPECT_FALSE(http_get_file(server.url("/a\r\nCookie: x"), out("z.tmp"), options()));
    EXPECT_FALSE(http_post_form(server.url("/a\nX: y"), "a=1", options()));
    EXPECT_EQ(server.connection_count(), 0u);
    // The error numbers are the system's (ECONNREFUSED 111 and EAI_NONAME -2 on Linux).
    // One failure, one line: a name that does not resolve too.
    const std::string refused = "Error: " + std::to_string(ECONNREFUSED) + " in connect()";
    EXPECT_EQ(diagnostics->lines(),
              (std::vector<std::string>{refused, refused, "Error: " + std::to_string(EAI_NONAME) + " in name lookup of \"\"",
                                        "Error: 22 in URL (control characters)", "Error: 22 in URL (control characters)"}));
    diagnostics.reset();
    EXPECT_TRUE(stray_files(dir.path()).empty());

    // A name under .invalid never resolves; without a network the lookup fails at once, unless
    // the resolver waits for a server that does not answer.
    const auto before = std::chrono::steady_clock::now();
    const bool resolves = resolve_host("probe.invalid") != 0;
    if (!resolves && std::chrono::steady_clock::now() - before < 1s) {
        testing::internal::CaptureStdout();
        EXPECT_FALSE(http_get_file("http://tile.invalid/1/2/3.png", out("n.png"), options()));
        const std::string line = testing::internal::GetCapturedStdout();
        EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << line;
        EXPECT_EQ(line.rfind("Error: ", 0), 0u) << line;
        EXPECT_NE(line.find(" in name lookup of \"tile.invalid\"\n"), std::string::npos) << line;
    }

    // A proxy that cannot be reached fails the same way, though the target is up.
    test::write_file(dir / "vor_ini.txt", "prxy=127.0.0.1:" + std::to_string(closed_port) + "\r\n");
    testing::internal::CaptureStdout();
    EXPECT_FALSE(http_get_file(server.url("/"), out("z.tmp"), options()));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error: " + std::to_string(ECONNREFUSED) + " in connect()\n");
}

TEST_F(HttpClientTest, WithoutAFileTheRequestIsSentAndTheReplyDiscarded) {
    LoopbackHttpServer server(ScriptedReply::make(200, "text/html", std::string(100000, 'x')));
    EXPECT_TRUE(http_get_file(server.url("/"), {}, options()));
    ASSERT_TRUE(server.wait_for_requests(1));
    EXPECT_TRUE(stray_files(dir.path()).empty());

    // A reply with a length from a server that keeps the connection open does not hold the caller
    // (the remote poll runs on the window thread).
    auto reply = ScriptedReply::make(200, "text/html", "", true);
    reply.hold_open = true;
    LoopbackHttpServer keeps_open(reply);
    auto o = options();
    o.idle_timeout = 60s;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(http_get_file(keeps_open.url("/"), {}, o));
    EXPECT_TRUE(http_post_form(keeps_open.url("/"), "a=1", o));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 50s);
}

TEST_F(HttpClientTest, ConcurrentDownloadsOfOneFileNeverMix) {
    // The probe thread and the Online command may fetch into the same scratch file at once.
    const std::string gif = real_file("relief1024.gif");
    ScriptedReply reply;
    const std::string all = ScriptedReply::make(200, "image/gif", gif).pieces[0].bytes;
    for (std::size_t at = 0; at < all.size(); at += 20000) reply.pieces.push_back({5ms, all.substr(at, 20000)});
    LoopbackHttpServer server(reply);
    std::vector<std::thread> threads;
    std::atomic<int> ok{0};
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&] { ok += http_get_file(server.url("/"), out("same.gif"), options()); });
    for (auto& t : threads) t.join();
    EXPECT_EQ(ok.load(), 4);
    EXPECT_EQ(test::read_file(out("same.gif")), gif);
    EXPECT_EQ(stray_files(dir.path()), std::vector<std::string>{"same.gif"});
}

// Each fault bounded by the transfer's deadline or size limit: the transfer fails, leaves no file and
// prints one line that says why.
TEST_F(HttpClientTest, TransfersEndAtTheirDeadlineAndSizeLimit) {
    struct Case {
        const char* what;
        ScriptedReply reply;
        std::string printed;
    };
    ScriptedReply drip = ScriptedReply::make(200, "image/png", "");
    for (int i = 0; i < 40; ++i) drip.pieces.push_back({100ms, "x"});  // a byte well within the idle wait
    ScriptedReply endless = ScriptedReply::make(200, "image/png", "");
    for (int i = 0; i < 40; ++i) endless.pieces.push_back({0ms, std::string(65536, 'b')});
    auto huge_length = ScriptedReply::make(200, "image/png", "abc", false, "Content-Length: 99999999999\r\n");
    huge_length.hold_open = true;
    auto huge_chunk = ScriptedReply::make(200, "image/png", "fffffffff\r\n" + std::string(70000, 'c'), false,
                                          "Transfer-Encoding: chunked\r\n");
    huge_chunk.hold_open = true;
    Case cases[] = {
        {"drips", drip, "Error: " + std::to_string(ETIMEDOUT) + " in transfer (not done within 1 s)\n"},
        {"never ends", endless, "Error: 27 in body over 65536 bytes\n"},
        {"announces too much", huge_length, "Error: 27 in body over 65536 bytes\n"},
        {"chunk too large", huge_chunk, "Error: 27 in body over 65536 bytes\n"},
    };
    auto o = options();
    o.total_timeout = 1s;
    o.max_body = 65536;
    for (auto& c : cases) {
        LoopbackHttpServer server(c.reply);
        testing::internal::CaptureStdout();
        EXPECT_FALSE(http_get_file(server.url("/"), out("t.png"), o)) << c.what;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed) << c.what;
        server.stop();
    }
    EXPECT_TRUE(stray_files(dir.path()).empty());

    // Within the limit the same body is stored; unset, the limit is 1 MiB.
    LoopbackHttpServer fits(ScriptedReply::make(200, "image/png", std::string(65536, 'd'), true));
    EXPECT_TRUE(http_get_file(fits.url("/"), out("fits.png"), o));
    LoopbackHttpServer big(ScriptedReply::make(200, "image/png", std::string(kOtherBodyLimit + 1, 'e')));
    testing::internal::CaptureStdout();
    EXPECT_FALSE(http_get_file(big.url("/"), out("big.png"), options()));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error: 27 in body over 1048576 bytes\n");
}

TEST_F(HttpClientTest, EveryRefusedReplyPrintsItsCause) {
    const std::string jpg = real_file("photo256-q85.jpg");
    struct Case {
        const char* file;
        ScriptedReply reply;
        std::string printed;
    };
    auto closes_early = ScriptedReply::make(200, "image/jpeg", jpg.substr(0, 10), false, "Content-Length: 20\r\n");
    ScriptedReply header_only;
    header_only.pieces.push_back({0ms, "HTTP/1.1 200 OK\r\n"});
    ScriptedReply silent;
    silent.silent = true;
    const Case cases[] = {
        {"a.png", ScriptedReply::make(404, "text/html", "<html>gone</html>"),
         "Error: 404 in reply of type text/html, not image/png\n"},
        {"b.png", ScriptedReply::make(503, "", "busy"), "Error: 503 in reply without Content-Type\n"},
        {"c.jpg", closes_early, "Error: " + std::to_string(ECONNRESET) + " in reply 200 (closed after 10 of 20 bytes)\n"},
        {"d.jpg", header_only, "Error: " + std::to_string(ECONNRESET) + " in reply header (closed before its end)\n"},
        {"e.jpg", silent, "Error: " + std::to_string(ETIMEDOUT) + " in recv\n"},
        {"f.jpg", ScriptedReply::make(200, "image/jpeg", "x", false, "Content-Length: 1x\r\n"),
         "Error: 200 in reply with a bad Content-Length\n"},
    };
    auto o = options();
    o.idle_timeout = 300ms;
    for (const auto& c : cases) {
        LoopbackHttpServer server(c.reply);
        testing::internal::CaptureStdout();
        EXPECT_FALSE(http_get_file(server.url("/"), out(c.file), o)) << c.file;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed) << c.file;
        server.stop();
    }

    // Over-long URLs are refused whole, never shortened and fetched; so are https ones.
    LoopbackHttpServer server(ScriptedReply::make(200, "text/plain", "ok"));
    testing::internal::CaptureStdout();
    EXPECT_FALSE(http_get_file(server.url("/" + std::string(1100, 'a')), out("long.tmp"), o));
    EXPECT_FALSE(http_post_form(server.url("/" + std::string(1100, 'a')), "a=1", o));
    EXPECT_FALSE(http_get_file("https://127.0.0.1/", out("tls.tmp"), o));
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("Error: " + std::to_string(ENAMETOOLONG) + " in URL (1123 characters, at most 1023)\n"), std::string::npos) << printed;
    EXPECT_NE(printed.find("Error: " + std::to_string(EPROTONOSUPPORT) + " in URL (https"), std::string::npos) << printed;
    EXPECT_EQ(server.connection_count(), 0u);

    // A form the peer refuses is not reported as sent.
    LoopbackHttpServer refuses(ScriptedReply::make(403, "text/plain", "no"));
    testing::internal::CaptureStdout();
    EXPECT_FALSE(http_post_form(refuses.url("/"), "a=1", o));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error: 403 in reply (the form was refused)\n");
    EXPECT_TRUE(stray_files(dir.path()).empty());
}

TEST(ResponseHeader, FieldsThatDecideTheBody) {
    auto h = parse_response_header("HTTP/1.1 200 OK\r\nContent-Type: image/png\r\ncontent-length: 12\r\n\r\nabc");
    EXPECT_TRUE(h.complete);
    EXPECT_EQ(h.header_length, 64u);
    EXPECT_EQ(h.content_type, "image/png");
    EXPECT_EQ(h.content_length, 12u);
    EXPECT_FALSE(h.chunked);

    h = parse_response_header("HTTP/1.1 200 OK\r\ncontent-type: image/png\r\nTransfer-Encoding: Chunked\r\n\r\n");
    EXPECT_FALSE(h.content_type.has_value());  // only the exact spelling counts
    EXPECT_TRUE(h.chunked);

    h = parse_response_header("HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n");
    EXPECT_TRUE(h.malformed_length);
    EXPECT_FALSE(h.content_length.has_value());

    EXPECT_FALSE(parse_response_header("HTTP/1.1 200 OK\r\nContent-Type: a\r\n\n").complete);
    EXPECT_EQ(parse_response_header("HTTP/1.0 404 Not Found\r\n\r\n").status, 404);
    EXPECT_EQ(parse_response_header("ICY 200 OK\r\n\r\n").status, 0);
}

}  // namespace
}  // namespace vg
