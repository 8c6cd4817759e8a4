// Time to fill a 4 × 4 view of 16 tiles from a loopback tile server 20 ms away:
// - synchronous: one after the other with http_get_file, a connection each (the old window path),
//   and without the wait to show the client's own cost per tile;
// - fetcher_http1: all 16 handed to the fetcher at once, 2 kept-alive connections to the host, from a
//   server that waits 20 ms before each reply;
// - fetcher_http2_tls: the same from nghttpd (HTTP/2 over TLS, with the tests' throw-away authority)
//   behind a relay that holds every byte 10 ms each way, counted in round trips of 20 ms
//   (a fresh fetcher each time, TLS handshake included: the TCP connect is not delayed; and a view
//   after the first, over the open connection).
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>

#include "net/fetcher.h"
#include "net/http_client.h"

#include "support/latency_relay.h"
#include "support/loopback_http_server.h"
#include "support/nghttpd.h"
#include "support/test_paths.h"
#include "support/tls_test_server.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string tile_bytes() { return vg::test::read_file(fs::path(VG_TESTDATA) / "images/bench/map256-rgb.png"); }

std::string tile_path(int i) { return "/2/" + std::to_string(i % 4) + "/" + std::to_string(i / 4) + ".png"; }

void synchronous(benchmark::State& state) {
    const auto latency = std::chrono::milliseconds(state.range(0));
    vg::test::LoopbackHttpServer server(vg::test::ScriptedReply::make(200, "image/png", tile_bytes()).after(latency));
    vg::test::TempDir dir;
    vg::HttpOptions options;
    options.settings_dir = dir.path();  // no vor_ini.txt: direct connections
    for (auto _ : state) {
        int fetched = 0;
        for (int i = 0; i < 16; ++i)
            fetched += vg::http_get_file(server.url(tile_path(i)), dir / ("t" + std::to_string(i) + ".png"), options);
        if (fetched != 16) state.SkipWithError("a tile failed");
    }
}

// Submits the 16 tiles of `base` + tile_path(i) to a fresh fetcher and waits for all of them.
// Returns how many landed, and the HTTP version of the last.
std::pair<int, int> fetch_view(vg::Fetcher& fetcher, const std::string& base, const fs::path& dir,
                               const std::string& cafile) {
    std::mutex m;
    std::condition_variable cv;
    int done = 0, ok = 0, version = 0;
    for (int i = 0; i < 16; ++i) {
        vg::FetchRequest r;
        r.url = base + tile_path(i);
        r.file = dir / ("t" + std::to_string(i) + ".png");
        r.cafile = cafile;
        r.host_connections = 2;
        r.priority = -i;
        fetcher.submit(std::move(r), [&](vg::Fetcher::RequestId, vg::FetchResult&& result) {
            std::lock_guard lock(m);
            ++done;
            ok += result.ok();
            version = result.http_version;
            cv.notify_all();
        });
    }
    std::unique_lock lock(m);
    cv.wait_for(lock, 30s, [&] { return done == 16; });
    return {ok, version};
}

std::pair<int, int> fetch_view(const std::string& base, const fs::path& dir, const std::string& cafile) {
    vg::FetcherOptions fo;
    fo.quiet = true;
    vg::Fetcher fetcher(fo);
    return fetch_view(fetcher, base, dir, cafile);
}

void fetcher_http1(benchmark::State& state) {
    const auto latency = std::chrono::milliseconds(state.range(0));
    vg::test::ScriptedReply reply = vg::test::ScriptedReply::make(200, "image/png", tile_bytes(), true).after(latency);
    reply.keep_alive = true;
    vg::test::LoopbackHttpServer server(reply);
    vg::test::TempDir dir;
    for (auto _ : state) {
        const auto [ok, version] = fetch_view(server.url(""), dir.path(), "");
        if (ok != 16 || version != 1) state.SkipWithError("a tile failed");
    }
    state.counters["connections"] =
        benchmark::Counter(static_cast<double>(server.connection_count()) / static_cast<double>(state.iterations()));
}

// nghttpd serving 16 tiles over HTTP/2 with TLS (the tests' throw-away authority).
struct TileHttp2Server {
    vg::test::TestPki pki;
    vg::test::TempDir dir;
    std::unique_ptr<vg::test::Nghttpd> server;
    TileHttp2Server() {
        const std::string tile = tile_bytes();
        for (int i = 0; i < 16; ++i) {
            fs::create_directories(dir.path() / "htdocs" / fs::path(tile_path(i).substr(1)).parent_path());
            std::ofstream(dir.path() / "htdocs" / tile_path(i).substr(1), std::ios::binary) << tile;
        }
        server = std::make_unique<vg::test::Nghttpd>(dir.path() / "htdocs", pki.good.key_file, pki.good.cert_file,
                                                     dir.path() / "nghttpd.log");
    }
};

// Arg 0: the round-trip time in ms; arg 1: 1 when the connection is already open (a view after
// the first), 0 for a fresh fetcher each time (the first view: TLS handshake included).
void fetcher_http2_tls(benchmark::State& state) {
    const auto one_way = std::chrono::milliseconds(state.range(0) / 2);
    const bool warm = state.range(1) != 0;
    TileHttp2Server tiles;
    if (!tiles.server->available()) {
        state.SkipWithError("nghttpd (nghttp2-server) missing");
        return;
    }
    const std::string& cafile = tiles.pki.ca_file;
    vg::test::LatencyRelay relay(tiles.server->port(), one_way);
    vg::test::TempDir dir;
    const std::string base = "https://127.0.0.1:" + std::to_string(relay.port());
    vg::FetcherOptions fo;
    fo.quiet = true;
    vg::Fetcher shared(fo);
    if (warm) fetch_view(shared, base, dir.path(), cafile);
    std::chrono::nanoseconds total{0};
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const auto [ok, version] = warm ? fetch_view(shared, base, dir.path(), cafile)
                                        : fetch_view(base, dir.path(), cafile);
        total += std::chrono::steady_clock::now() - start;
        if (ok != 16 || version != 2) state.SkipWithError("a tile failed, or not over HTTP/2");
    }
    const double per_view_ms = std::chrono::duration<double, std::milli>(total).count() / static_cast<double>(state.iterations());
    state.counters["round_trips"] = per_view_ms / static_cast<double>(state.range(0));
    state.counters["connections"] =
        benchmark::Counter(static_cast<double>(relay.connection_count()) / static_cast<double>(state.iterations()));
}

}  // namespace

BENCHMARK(synchronous)->Arg(20)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(fetcher_http1)->Arg(20)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(fetcher_http2_tls)->Args({20, 0})->Args({20, 1})->ArgNames({"rtt", "warm"})->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

BENCHMARK_MAIN();
