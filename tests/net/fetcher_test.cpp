// The libcurl fetcher against real peers on 127.0.0.1: an HTTPS server with a throw-away authority,
// tinyproxy for CONNECT, and the plain loopback server for waits and cancelling.
#include "net/fetcher.h"
#include "net/network_wait.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>

#include "support/loopback_http_server.h"
#include "support/range_file.h"
#include "support/test_paths.h"
#include "support/tls_test_server.h"

namespace vg {
namespace {

using namespace std::chrono_literals;
using test::ScriptedReply;
using test::TestPki;
using test::TlsTestServer;

const std::string kPng = std::string("\x89PNG\r\n\x1a\n", 8) + std::string(300, 'p');

ScriptedReply png_reply(const std::string& extra = "") {
    return ScriptedReply::make(200, "image/png", kPng, true, extra);
}

TestPki& pki() {
    static TestPki p;
    return p;
}

FetchRequest request_for(const std::string& url, const std::filesystem::path& file = {}) {
    FetchRequest r;
    r.url = url;
    r.file = file;
    r.cafile = pki().ca_file;
    r.limits.connect = 10s;
    r.limits.idle = 10s;
    r.limits.total = 30s;
    return r;
}

std::vector<std::string> leftovers(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
    return names;
}

TEST(Fetcher, HttpsWithTrustedCertificateStoresTheBodyAndSendsOurUserAgent) {
    TlsTestServer server(pki().good, [](const std::string&) { return png_reply("ETag: \"v1\"\r\n"); });
    test::TempDir dir;
    Fetcher fetcher;
    auto r = request_for(server.url("/4/8/5.png"), dir.path() / "t.png");
    r.expected_type = "image/png";
    r.user_agent = vorglobal_user_agent("mailto:me@example.org");
    const FetchResult result = fetcher.fetch(r);
    ASSERT_EQ(result.outcome, FetchOutcome::ok) << result.cause;
    EXPECT_EQ(result.status, 200);
    EXPECT_EQ(result.header("etag").value_or(""), "\"v1\"");
    EXPECT_EQ(test::read_file(dir.path() / "t.png"), kPng);
    EXPECT_EQ(leftovers(dir.path()), std::vector<std::string>{"t.png"});
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].rfind("GET /4/8/5.png HTTP/1.1\r\n", 0), 0u) << requests[0];
    EXPECT_NE(requests[0].find("\r\nUser-Agent: VorGlobal/" VG_VERSION " (+mailto:me@example.org)\r\n"),
              std::string::npos)
        << requests[0];
    EXPECT_EQ(vorglobal_user_agent(), std::string("VorGlobal/") + VG_VERSION + " (+" + kProjectContact + ")");

    // Kept for the callback: the whole body in its temporary file beside, the file itself untouched.
    r.keep_temporary = true;
    const FetchResult kept = fetcher.fetch(r);
    ASSERT_EQ(kept.outcome, FetchOutcome::ok) << kept.cause;
    EXPECT_EQ(kept.temporary.parent_path(), dir.path());
    EXPECT_EQ(test::read_file(kept.temporary), kPng);
    EXPECT_TRUE(std::filesystem::remove(kept.temporary));
    EXPECT_EQ(leftovers(dir.path()), std::vector<std::string>{"t.png"});
}

TEST(Fetcher, RangesKeepTheirSliceAndAnotherVersionIsDetected) {
    std::string bytes(100000, 0);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 % 251);
    test::RangeFile file(bytes);
    TlsTestServer server(pki().good, file.handler());
    test::TempDir dir;
    Fetcher fetcher;
    auto ranged = [&](std::uint64_t offset, std::uint64_t length, const std::filesystem::path& to = {}) {
        auto r = request_for(server.url("/a.pmtiles"), to);
        r.range = ByteRange{offset, length};
        return r;
    };
    FetchResult r = fetcher.fetch(ranged(1000, 500));
    ASSERT_EQ(r.outcome, FetchOutcome::ok) << r.cause;
    EXPECT_EQ(r.status, 206);
    EXPECT_TRUE(r.ranged_ok);
    EXPECT_EQ(r.body, bytes.substr(1000, 500));
    EXPECT_EQ(r.total_size, bytes.size());
    EXPECT_EQ(r.etag, file.etag());
    const std::string first_version = r.version();
    // Into a file; a range over the end gives the tail, one past the end is a 416.
    r = fetcher.fetch(ranged(99900, 500, dir.path() / "tail"));
    ASSERT_EQ(r.outcome, FetchOutcome::ok) << r.cause;
    EXPECT_EQ(test::read_file(dir.path() / "tail"), bytes.substr(99900));
    r = fetcher.fetch(ranged(100000, 10));
    EXPECT_EQ(r.outcome, FetchOutcome::http_error);
    EXPECT_EQ(r.status, 416);
    EXPECT_EQ(file.log(), (std::vector<std::string>{"1000-1499", "99900-100399", "100000-100009"}));

    // A server that ignores Range: the slice is cut from the whole body, whose reading stops there;
    // past the body limit it is refused.
    file.ignore_ranges(true);
    r = fetcher.fetch(ranged(2000, 300));
    ASSERT_EQ(r.outcome, FetchOutcome::ok) << r.cause;
    EXPECT_FALSE(r.ranged_ok);
    EXPECT_EQ(r.body, bytes.substr(2000, 300));
    EXPECT_EQ(r.total_size, bytes.size());
    auto limited = ranged(10, 10);
    limited.limits.max_body = 50000;
    EXPECT_EQ(fetcher.fetch(limited).outcome, FetchOutcome::too_large);
    file.ignore_ranges(false);

    // Another version of the file: If-Match answers 412, and a server that does not check If-Match
    // is caught by the ETag it sends.
    file.replace(bytes + "more");
    auto expecting_old = ranged(0, 100);
    expecting_old.if_match = first_version;
    r = fetcher.fetch(expecting_old);
    EXPECT_EQ(r.outcome, FetchOutcome::changed);
    EXPECT_TRUE(r.body.empty());
    EXPECT_NE(server.requests().back().find("\r\nIf-Match: " + first_version + "\r\n"), std::string::npos);
    TlsTestServer careless(pki().good, [&](const std::string&) {
        return ScriptedReply::make(206, "application/octet-stream", bytes.substr(0, 100), true,
                                   "ETag: " + file.etag() + "\r\nContent-Range: bytes 0-99/100004\r\n");
    });
    expecting_old.url = careless.url("/a.pmtiles");
    EXPECT_EQ(fetcher.fetch(expecting_old).outcome, FetchOutcome::changed);
    expecting_old.if_match = file.etag();
    EXPECT_EQ(fetcher.fetch(expecting_old).outcome, FetchOutcome::ok);
    // A 206 for other bytes than those asked is refused.
    expecting_old.range = ByteRange{50, 50};
    r = fetcher.fetch(expecting_old);
    EXPECT_EQ(r.outcome, FetchOutcome::transfer);
    EXPECT_NE(r.cause.find("Content-Range"), std::string::npos) << r.cause;
    EXPECT_EQ(leftovers(dir.path()), std::vector<std::string>{"tail"});
}

TEST(Fetcher, RefusesCertificatesThatDoNotVerifyWithTheirReason) {
    struct Case {
        const TestPki::Leaf* leaf;
        bool trust_authority;
        const char* reason;
    };
    const Case cases[] = {
        {&pki().self_signed, true, "self-signed"},
        {&pki().expired, true, "expired"},
        {&pki().wrong_host, true, "127.0.0.1"},
        {&pki().good, false, "certificate"},  // the system store does not know the test authority
    };
    test::TempDir dir;
    Fetcher fetcher;
    for (const auto& c : cases) {
        TlsTestServer server(*c.leaf, [](const std::string&) { return png_reply(); });
        auto r = request_for(server.url("/t.png"), dir.path() / "t.png");
        if (!c.trust_authority) r.cafile.clear();
        const FetchResult result = fetcher.fetch(r);
        EXPECT_EQ(result.outcome, FetchOutcome::tls) << c.reason << ": " << result.cause;
        EXPECT_NE(result.cause.find(c.reason), std::string::npos) << result.cause;
        EXPECT_TRUE(server.requests().empty()) << "no request may reach an unverified server";
        EXPECT_TRUE(leftovers(dir.path()).empty());
    }
}

TEST(Fetcher, HttpsThroughTinyproxyUsesConnect) {
    TlsTestServer server(pki().good, [](const std::string&) { return png_reply(); });
    test::TinyProxy proxy(server.port());
    if (!proxy.available()) GTEST_SKIP() << "tinyproxy not installed";
    Fetcher fetcher;
    auto r = request_for(server.url("/p.png"));
    r.proxy = "127.0.0.1:" + std::to_string(proxy.port());
    const FetchResult result = fetcher.fetch(r);
    ASSERT_EQ(result.outcome, FetchOutcome::ok) << result.cause;
    EXPECT_EQ(result.body, kPng);
    EXPECT_NE(proxy.log().find("CONNECT"), std::string::npos) << proxy.log();
}

TEST(Fetcher, StatusRepliesAreReportedAndNeverStored) {
    struct Case {
        int status;
        std::string extra;
        FetchOutcome outcome;
        const char* situation;
    };
    const Case cases[] = {
        {304, "ETag: \"v1\"\r\n", FetchOutcome::not_modified, "not modified"},
        {403, "", FetchOutcome::http_error, "blocked"},
        {418, "", FetchOutcome::http_error, "blocked"},
        {429, "Retry-After: 120\r\n", FetchOutcome::http_error, "rate limited"},
        {404, "", FetchOutcome::http_error, "no tile there"},
        {503, "", FetchOutcome::http_error, "server error"},
    };
    test::TempDir dir;
    Fetcher fetcher;
    for (const auto& c : cases) {
        TlsTestServer server(pki().good, [&](const std::string&) {
            return ScriptedReply::make(c.status, "image/png", c.status == 304 ? "" : "<html>no</html>", true, c.extra);
        });
        auto r = request_for(server.url("/x.png"), dir.path() / "x.png");
        r.headers = {"If-None-Match: \"v1\""};
        const FetchResult result = fetcher.fetch(r);
        EXPECT_EQ(result.outcome, c.outcome) << c.status;
        EXPECT_EQ(result.status, c.status);
        EXPECT_STREQ(fetch_situation(result), c.situation);
        EXPECT_TRUE(leftovers(dir.path()).empty()) << c.status;
        ASSERT_EQ(server.requests().size(), 1u);
        EXPECT_NE(server.requests()[0].find("\r\nIf-None-Match: \"v1\"\r\n"), std::string::npos);
        if (c.status == 429) {
            EXPECT_NE(result.cause.find("retry after 120"), std::string::npos) << result.cause;
        }
    }
}

TEST(Fetcher, NeverOpensMoreConnectionsToAHostThanItAllows) {
    TlsTestServer server(pki().good, [](const std::string&) { return png_reply().after(150ms); });
    Fetcher fetcher;
    std::mutex mutex;
    std::condition_variable done;
    int finished = 0, good = 0;
    for (int i = 0; i < 10; ++i) {
        auto r = request_for(server.url("/t" + std::to_string(i) + ".png"));
        r.host_connections = 2;
        fetcher.submit(r, [&](Fetcher::RequestId, FetchResult&& result) {
            std::lock_guard lock(mutex);
            ++finished;
            good += result.ok();
            done.notify_all();
        });
    }
    std::unique_lock lock(mutex);
    ASSERT_TRUE(done.wait_for(lock, 60s, [&] { return finished == 10; }));
    EXPECT_EQ(good, 10);
    EXPECT_LE(server.max_open_connections(), 2);
    EXPECT_LE(server.connection_count(), 2u) << "connections are kept alive and reused";
}

// Plain http never multiplexes: the first requests to a slow server go out on both allowed
// connections at once, without waiting for the first reply.
TEST(Fetcher, PlainHttpOpensItsAllowedConnectionsAtOnce) {
    std::mutex mutex;
    std::condition_variable arrived_cv;
    int arrived = 0;
    int arrived_at_first_reply = 0;
    test::LoopbackHttpServer server([&](const std::string&) {
        std::unique_lock lock(mutex);
        ++arrived;
        arrived_cv.notify_all();
        // Held until a second request is in flight (bounded: alone, it is answered after 3 s).
        arrived_cv.wait_for(lock, 3s, [&] { return arrived >= 2; });
        if (arrived_at_first_reply == 0) arrived_at_first_reply = arrived;
        ScriptedReply reply = png_reply();
        reply.keep_alive = true;  // the server's count of open connections is then the client's
        return reply;
    });
    Fetcher fetcher;
    std::condition_variable done;
    int finished = 0;
    for (int i = 0; i < 4; ++i) {
        auto r = request_for(server.url("/t" + std::to_string(i) + ".png"));
        r.host_connections = 2;
        fetcher.submit(r, [&](Fetcher::RequestId, FetchResult&& result) {
            EXPECT_TRUE(result.ok()) << result.cause;
            std::lock_guard lock(mutex);
            ++finished;
            done.notify_all();
        });
    }
    std::unique_lock lock(mutex);
    ASSERT_TRUE(done.wait_for(lock, 30s, [&] { return finished == 4; }));
    EXPECT_EQ(arrived_at_first_reply, 2);
    EXPECT_LE(server.max_open_connections(), 2);
}

TEST(Fetcher, BoundsSizeTypeAndWaitsAndLeavesNoFile) {
    test::TempDir dir;
    Fetcher fetcher;
    {
        TlsTestServer server(pki().good, [](const std::string&) {
            return ScriptedReply::make(200, "image/png", std::string(5000, 'x'), false, "Connection: close\r\n");
        });
        auto r = request_for(server.url("/big.png"), dir.path() / "big.png");
        r.limits.max_body = 1000;
        EXPECT_EQ(fetcher.fetch(r).outcome, FetchOutcome::too_large);
    }
    {
        TlsTestServer server(pki().good, [](const std::string&) {
            return ScriptedReply::make(200, "text/html", "<html>", true);
        });
        auto r = request_for(server.url("/page.png"), dir.path() / "page.png");
        r.expected_type = "image/*";
        EXPECT_EQ(fetcher.fetch(r).outcome, FetchOutcome::wrong_type);
    }
    {
        ScriptedReply silent;
        silent.silent = true;
        test::LoopbackHttpServer server(silent);
        auto r = request_for(server.url("/slow.png"), dir.path() / "slow.png");
        r.limits.idle = 1s;
        const FetchResult result = fetcher.fetch(r);
        EXPECT_EQ(result.outcome, FetchOutcome::timeout) << result.cause;
    }
    {
        auto r = request_for("http://127.0.0.1:" + std::to_string(test::free_loopback_port()) + "/x.png");
        EXPECT_EQ(fetcher.fetch(r).outcome, FetchOutcome::no_route);
        EXPECT_EQ(fetcher.fetch(request_for("ftp://127.0.0.1/x")).outcome, FetchOutcome::bad_request);
    }
    {
        // A URL longer than the own client takes is refused the same way, before any connection.
        test::LoopbackHttpServer server(png_reply());
        const std::string path = "/" + std::string(kMaxUrlLength, 'a');
        testing::internal::CaptureStdout();
        const FetchResult result = fetcher.fetch(request_for(server.url(path), dir.path() / "long.png"));
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "Error: " + std::to_string(ENAMETOOLONG) + " in URL (" + std::to_string(server.url(path).size()) +
                      " characters, at most 1023)\n");
        EXPECT_EQ(result.outcome, FetchOutcome::bad_request);
        EXPECT_EQ(server.connection_count(), 0u);
        // At the limit it is fetched.
        const std::string fits = path.substr(0, kMaxUrlLength - server.url("").size());
        EXPECT_EQ(fetcher.fetch(request_for(server.url(fits), dir.path() / "fits.png")).outcome, FetchOutcome::ok);
        std::filesystem::remove(dir.path() / "fits.png");
    }
    EXPECT_TRUE(leftovers(dir.path()).empty());
}

TEST(Fetcher, CancelEndsRequestsAndPriorityOrdersTheQueue) {
    ScriptedReply silent;
    silent.silent = true;
    test::LoopbackHttpServer server([&](const std::string& request) {
        return request.find("/hang") != std::string::npos ? silent : ScriptedReply::make(200, "text/plain", "ok", true);
    });
    Fetcher fetcher;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> order;
    auto note = [&](std::string name) {
        return [&, name](Fetcher::RequestId, FetchResult&& r) {
            std::lock_guard lock(mutex);
            order.push_back(name + ":" + fetch_situation(r));
            changed.notify_all();
        };
    };
    auto hang = request_for(server.url("/hang"));
    hang.host_connections = 1;
    hang.priority = 10;
    const auto hang_id = fetcher.submit(hang, note("hang"));
    std::map<int, Fetcher::RequestId> ids;
    for (int priority : {1, 5, 3, 7}) {
        auto r = request_for(server.url("/p" + std::to_string(priority)));
        r.host_connections = 1;
        r.priority = priority;
        ids[priority] = fetcher.submit(r, note("p" + std::to_string(priority)));
    }
    std::this_thread::sleep_for(200ms);  // let the queue form behind the hanging request
    // The view moved: p1 is now nearest the middle, p7 has left it. Cancelling the running request
    // together with p7 never lets p7 start on the connection it frees.
    fetcher.reprioritise({{ids[1], 9}});
    fetcher.cancel(std::vector<Fetcher::RequestId>{hang_id, ids[7]});
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, 30s, [&] { return order.size() == 5; }));
    EXPECT_EQ(order, (std::vector<std::string>{"hang:cancelled", "p7:cancelled", "p1:ok", "p5:ok", "p3:ok"}));
    EXPECT_EQ(server.requests().size(), 4u) << "p7 never reached the server";
}

TEST(Fetcher, KeepsConnectionsAliveAndCountsWaitsOnThreadsThatMustNotWait) {
    ScriptedReply reply = png_reply();
    reply.keep_alive = true;
    test::LoopbackHttpServer server(reply);
    Fetcher fetcher;
    std::mutex mutex;
    std::condition_variable changed;
    int ok = 0, done = 0;
    {
        NoNetworkWaits window_thread;
        const std::size_t before = NoNetworkWaits::breaches();
        for (int i = 0; i < 12; ++i) {
            auto r = request_for(server.url("/t" + std::to_string(i)));
            r.host_connections = 2;
            fetcher.submit(r, [&](Fetcher::RequestId, FetchResult&& result) {
                std::lock_guard lock(mutex);
                ok += result.ok();
                ++done;
                changed.notify_all();
            });
        }
        EXPECT_EQ(NoNetworkWaits::breaches(), before) << "submitting does not wait";
        EXPECT_TRUE(fetcher.fetch(request_for(server.url("/sync"))).ok());
        EXPECT_EQ(NoNetworkWaits::breaches(), before + 1) << "a synchronous fetch is a wait";
    }
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, 30s, [&] { return done == 12; }));
    EXPECT_EQ(ok, 12);
    EXPECT_LE(server.connection_count(), 3u) << "13 requests over at most 2 + 1 kept-alive connections";
    EXPECT_EQ(server.requests().size(), 13u);
}

}  // namespace
}  // namespace vg
