// Catalogue sources fetched over https from a test server on 127.0.0.1: the per-host connection cap,
// the synchronous entry's order and landings, the freshness records (max-age, ETag and 304), and the
// pauses after 429 and 403 with their messages.
#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>

#include "support/test_paths.h"
#include "support/tls_test_server.h"
#include "tiles/http_cache.h"
#include "tiles/tile_loader.h"
#include "tiles/tile_sources.h"

namespace vg {
namespace {

using namespace std::chrono_literals;
using test::ScriptedReply;

const std::string kPng = std::string("\x89PNG\r\n\x1a\n", 8) + std::string(200, 't');
constexpr std::int64_t kT0 = 1'800'000'000;

test::TestPki& pki() {
    static test::TestPki p;
    return p;
}

// A catalogue entry for the test server, with the flags of OpenStreetMap's line.
CatalogueEntry entry_for(const test::TlsTestServer& server) {
    Catalogue c = builtin_catalogue();
    read_sources_text("Test|map|https://127.0.0.1:" + std::to_string(server.port()) +
                          "/{z}/{x}/{y}.png||© Test contributors|conn=2,nobulk,fresh=7\n",
                      c);
    return *c.find("Test", false);
}

struct Harness {
    CatalogueEntry entry;
    Fetcher fetcher;
    FetchContext ctx;
    test::TempDir dir;
    explicit Harness(const test::TlsTestServer& server) : entry(entry_for(server)) {
        ctx.entry = &entry;
        ctx.fetcher = &fetcher;
        ctx.settings.cafile = pki().ca_file;
        ctx.health = std::make_shared<SourceHealth>();
        ctx.now = kT0;
    }
    std::string root() const { return dir.path().string(); }
    bool fetch(std::string& slot, std::int64_t now) {
        ctx.now = now;
        // Level 2 tile (row 668, column 375) as in the naming tests.
        return fetch_tile(slot, 96000, 171008, 2, MapSource::OpenStreetMap, root(), false, ctx);
    }
};

void wait_for_revalidations() {
    for (int i = 0; i < 1000 && revalidations_in_flight() > 0; ++i) std::this_thread::sleep_for(10ms);
    ASSERT_EQ(revalidations_in_flight(), 0u);
}

TEST(CatalogueFetch, AViewComesThroughAtMostTwoConnectionsWithOurUserAgent) {
    test::TlsTestServer server(pki().good, [](const std::string&) {
        return ScriptedReply::make(200, "image/png", kPng, true, "ETag: \"e\"\r\n").after(50ms);
    });
    Harness s(server);
    s.ctx.settings.contact = "mailto:test@example.org";
    TilePathTable table;
    ASSERT_TRUE(fetch_view_tiles(table, 96000, 171008, 2, MapSource::OpenStreetMap, s.root(), false, true, s.ctx));
    for (const auto& slot : table.slots) {
        ASSERT_FALSE(slot.empty());
        EXPECT_EQ(slot.find(s.root() + "/Test/"), 0u) << slot;
        EXPECT_EQ(test::read_file(slot), kPng);
        EXPECT_EQ(read_cache_record(slot, 0)->etag, "\"e\"");
    }
    EXPECT_EQ(server.requests().size(), 16u);
    EXPECT_LE(server.max_open_connections(), 2);
    for (const auto& request : server.requests())
        EXPECT_NE(request.find("\r\nUser-Agent: VorGlobal/" VG_VERSION " (+mailto:test@example.org)\r\n"),
                  std::string::npos);
    EXPECT_EQ(s.ctx.health->message("Test", kT0), "");
}

// The synchronous entry asks for the nearest tile first, one connection at a time here, and answers in
// the order it was asked; only a tile with a body lands and gets its record.
TEST(CatalogueFetch, TheSynchronousEntryTakesTheNearestFirstAndAnswersInTheOrderAsked) {
    test::TlsTestServer server(pki().good, [](const std::string& request) {
        if (request.rfind("GET /far ", 0) == 0) return ScriptedReply::make(404, "text/plain", "none", true);
        if (request.rfind("GET /empty ", 0) == 0) return ScriptedReply::make(200, "image/png", "", true);
        return ScriptedReply::make(200, "image/png", kPng, true);
    });
    test::TempDir dir;
    Fetcher fetcher;
    TileLoader::Policy policy;
    policy.host_connections = 1;
    policy.cafile = pki().ca_file;
    policy.health = std::make_shared<SourceHealth>();
    policy.source = "Test";
    policy.fresh_seconds = 3600;
    policy.now = kT0;
    auto want = [&](const std::string& name, int distance) {
        return TileLoader::Want{(dir / (name + ".png")).string(), server.url("/" + name), distance};
    };
    const auto landed =
        fetch_tiles_and_wait(fetcher, {want("far", 4), want("near", 1), want("empty", 3), want("mid", 2)}, policy);
    std::vector<std::string> order;
    for (const std::string& r : server.requests()) order.push_back(r.substr(0, r.find(" HTTP/")));
    EXPECT_EQ(order, (std::vector<std::string>{"GET /near", "GET /mid", "GET /empty", "GET /far"}));
    ASSERT_EQ(landed.size(), 4u);
    EXPECT_EQ(landed[0].path, want("far", 0).path);
    EXPECT_FALSE(landed[0].ok);
    EXPECT_EQ(landed[0].reason, "no tile there");
    EXPECT_FALSE(landed[2].ok);
    EXPECT_EQ(landed[2].reason, "empty");
    EXPECT_FALSE(std::filesystem::exists(cache_record_path(landed[2].path)));
    for (const std::size_t i : {1u, 3u}) {
        EXPECT_TRUE(landed[i].ok) << landed[i].reason;
        EXPECT_EQ(test::read_file(landed[i].path), kPng);
        EXPECT_EQ(read_cache_record(landed[i].path, 0)->stale_at, kT0 + 3600);
    }
}

TEST(CatalogueFetch, StaleTilesAreUsedAtOnceAndRevalidatedAndA304RenewsOnlyTheirFreshness) {
    std::mutex mutex;
    int served = 0;
    bool empty = false;
    test::TlsTestServer server(pki().good, [&](const std::string& request) {
        std::lock_guard lock(mutex);
        ++served;
        if (empty) return ScriptedReply::make(200, "image/png", "", true, "ETag: \"v2\"\r\n");
        if (request.find("If-None-Match: \"v1\"") != std::string::npos)
            return ScriptedReply::make(304, "", "", false, "ETag: \"v1\"\r\nCache-Control: max-age=1000\r\n");
        return ScriptedReply::make(200, "image/png", kPng, true, "ETag: \"v1\"\r\nCache-Control: public, max-age=100\r\n");
    });
    Harness s(server);
    std::string slot;
    ASSERT_TRUE(s.fetch(slot, kT0));
    EXPECT_EQ(read_cache_record(slot, 0)->stale_at, kT0 + 100);

    ASSERT_TRUE(s.fetch(slot, kT0 + 99));  // fresh: no request
    wait_for_revalidations();
    EXPECT_EQ(server.requests().size(), 1u);

    ASSERT_TRUE(s.fetch(slot, kT0 + 150));  // stale: used at once, revalidated
    wait_for_revalidations();
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_NE(server.requests()[1].find("\r\nIf-None-Match: \"v1\"\r\n"), std::string::npos);
    EXPECT_EQ(test::read_file(slot), kPng);
    const CacheRecord renewed = *read_cache_record(slot, 0);
    EXPECT_EQ(renewed.etag, "\"v1\"");
    EXPECT_EQ(renewed.stale_at, kT0 + 150 + 1000);

    ASSERT_TRUE(s.fetch(slot, kT0 + 1000));
    wait_for_revalidations();
    EXPECT_EQ(server.requests().size(), 2u);

    // A revalidation answered with an empty picture keeps the cached tile and its record.
    {
        std::lock_guard lock(mutex);
        empty = true;
    }
    ASSERT_TRUE(s.fetch(slot, kT0 + 2000));
    wait_for_revalidations();
    ASSERT_EQ(server.requests().size(), 3u);
    EXPECT_EQ(test::read_file(slot), kPng);
    EXPECT_EQ(*read_cache_record(slot, 0), renewed);
    // A reply without caching fields stays fresh for the source's fresh=7 days.
    EXPECT_EQ(stale_time({}, kT0, 7 * 86400), kT0 + 7 * 86400);
    EXPECT_EQ(stale_time({{"cache-control", "no-cache"}}, kT0, 7 * 86400), kT0);
    EXPECT_EQ(stale_time({{"cache-control", "max-age=600"}, {"age", "100"}}, kT0, 1), kT0 + 500);
    EXPECT_EQ(stale_time({{"expires", "Thu, 01 Jan 2026 00:10:00 GMT"}, {"date", "Thu, 01 Jan 2026 00:00:00 GMT"}}, kT0, 1),
              kT0 + 600);
}

// A record that is no regular file (a FIFO, a folder) or is too long is no record: the tile counts
// from its file time, and reading it never waits for a writer.
TEST(CatalogueFetch, ARecordThatIsNoRegularFileIsIgnoredAtOnce) {
    test::TempDir dir;
    const auto tile = dir.path() / "vor_2_0_0.png";
    test::write_file(tile, kPng);
    const long long modified = regular_modified_seconds(tile);
    const auto meta = cache_record_path(tile);
    test::write_file(meta, "etag=\"x\"\nmodified=\nstale=5\n" + std::string(5000, '#') + "\n");
    EXPECT_EQ(read_cache_record(tile, 60)->stale_at, modified + 60);
    std::filesystem::remove(meta);
    std::filesystem::create_directory(meta);
    EXPECT_EQ(read_cache_record(tile, 60)->stale_at, modified + 60);
    std::filesystem::remove(meta);
    std::optional<CacheRecord> record;
    EXPECT_TRUE(test::done_beside_fifo(meta, [&] { record = read_cache_record(tile, 60); }));
    ASSERT_TRUE(record);
    EXPECT_EQ(record->stale_at, modified + 60);
}

TEST(CatalogueFetch, RateLimitAndBlockPauseTheSourceWithAMessageInsteadOfRetrying) {
    std::mutex mutex;
    int status = 429;
    test::TlsTestServer server(pki().good, [&](const std::string&) {
        std::lock_guard lock(mutex);
        if (status == 200) return ScriptedReply::make(200, "image/png", kPng, true);
        return ScriptedReply::make(status, "text/html", "<html>no</html>", true,
                                   status == 429 ? "Retry-After: 120\r\n" : "");
    });
    Harness s(server);
    std::string slot;
    EXPECT_FALSE(s.fetch(slot, kT0));
    EXPECT_TRUE(slot.empty());
    EXPECT_EQ(s.ctx.health->message("Test", kT0), "Test: rate limited (HTTP 429), waiting 120 s");
    EXPECT_FALSE(s.fetch(slot, kT0 + 119));
    EXPECT_EQ(server.requests().size(), 1u) << "not asked again before Retry-After";
    {
        std::lock_guard lock(mutex);
        status = 403;
    }
    EXPECT_FALSE(s.fetch(slot, kT0 + 121));
    EXPECT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(s.ctx.health->message("Test", kT0 + 121), "Test: blocked (HTTP 403), not asked again until Reload Map");
    EXPECT_FALSE(s.fetch(slot, kT0 + 1000));
    EXPECT_EQ(server.requests().size(), 2u);
    {
        std::lock_guard lock(mutex);
        status = 200;
    }
    s.ctx.health->reset("Test");
    EXPECT_TRUE(s.fetch(slot, kT0 + 1001));
    EXPECT_EQ(test::read_file(slot), kPng);
    EXPECT_EQ(s.ctx.health->message("Test", kT0 + 1001), "");
}

}  // namespace
}  // namespace vg
