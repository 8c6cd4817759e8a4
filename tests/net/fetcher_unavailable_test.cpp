// A build made without libcurl keeps the fetcher's contract: every request completes once, on the
// engine thread; https is unavailable with a clear cause and writes nothing, a plain http download
// goes through the program's own client.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <thread>

#include "net/fetcher.h"
#include "support/loopback_http_server.h"
#include "support/test_paths.h"

namespace vg {
namespace {

TEST(FetcherWithoutCurl, EveryRequestCompletesOnceAsUnavailableAndWritesNothing) {
#ifndef VG_NO_CURL
    GTEST_SKIP() << "this build has libcurl (the fetcher's own tests cover it)";
#endif
    const test::TempDir dir;
    const auto file = dir.path() / "tile.png";
    std::atomic<int> calls{0};
    std::promise<std::thread::id> engine_thread;
    {
        Fetcher fetcher({"test", true});
        FetchRequest request;
        request.url = "https://127.0.0.1:1/tile.png";
        request.file = file;
        fetcher.submit(request, [&](Fetcher::RequestId, FetchResult&& r) {
            EXPECT_EQ(r.outcome, FetchOutcome::unavailable);
            EXPECT_STREQ(fetch_situation(r), "not available in this build");
            if (calls.fetch_add(1) == 0) engine_thread.set_value(std::this_thread::get_id());
        });
        EXPECT_NE(engine_thread.get_future().get(), std::this_thread::get_id());

        const FetchResult r = fetcher.fetch(request);
        EXPECT_EQ(r.outcome, FetchOutcome::unavailable);
        EXPECT_NE(r.cause.find("not available in this build"), std::string::npos);
        EXPECT_FALSE(r.ok());
        EXPECT_EQ(fetcher.pending(), 0u);
    }
    EXPECT_EQ(calls.load(), 1);
    EXPECT_FALSE(std::filesystem::exists(file));

    // Plain http into a file: stored whole, and a refused reply leaves nothing.
    test::LoopbackHttpServer server(test::ScriptedReply::make(200, "image/png", "png bytes", true));
    Fetcher fetcher({"test", true});
    FetchRequest request;
    request.url = server.url("/tile.png");
    request.file = file;
    const FetchResult ok = fetcher.fetch(request);
    EXPECT_TRUE(ok.ok()) << ok.cause;
    EXPECT_EQ(test::read_file(file), "png bytes");
    test::LoopbackHttpServer refuses(test::ScriptedReply::make(404, "text/html", "gone"));
    request.url = refuses.url("/tile.png");
    request.file = dir.path() / "other.png";
    EXPECT_EQ(fetcher.fetch(request).outcome, FetchOutcome::transfer);
    EXPECT_FALSE(std::filesystem::exists(request.file));

    // Kept for the callback: the whole body beside the file, nothing under its name.
    request.url = server.url("/tile.png");
    request.file = dir.path() / "kept.png";
    request.keep_temporary = true;
    const FetchResult kept = fetcher.fetch(request);
    ASSERT_TRUE(kept.ok()) << kept.cause;
    EXPECT_FALSE(std::filesystem::exists(request.file));
    EXPECT_EQ(kept.temporary.parent_path(), dir.path());
    EXPECT_EQ(test::read_file(kept.temporary), "png bytes");
}

}  // namespace
}  // namespace vg
