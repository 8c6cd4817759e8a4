// A built-in https source fetched by the window's own engine, with no plain-http tile hosts given:
// a vor_src.txt line re-defines OpenStreetMap's map layer at a loopback TLS server the test starts
// (the name keeps its menu place and cache folder) and vor_ini.txt trusts the test authority
// (cafile=) and names a contact. The same steps run through the recording window (tests/app) and
// the Qt window (tests/ui).
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "app/app.h"
#include "net/fetcher.h"
#include "support/test_paths.h"
#include "support/tls_test_server.h"
#include "tiles/http_cache.h"
#include "tiles/tile_catalogue.h"

namespace vg::test {

// The TLS tile server: a real tile with a validator for every request, or 403 while `refuse` is set.
class HttpsTilePeer {
public:
    static constexpr const char* kContact = "maps-team@example.invalid";

    // The vor_src.txt line pointing the built-in OpenStreetMap at this server.
    std::string sources_line() const {
        return "OpenStreetMap|map|" + server.url("/{z}/{x}/{y}.png") + "||© OpenStreetMap contributors|nobulk\r\n";
    }
    // The vor_ini.txt lines: the test authority trusted, the contact of the User-Agent.
    std::string ini_lines() const { return "cafile=" + pki.ca_file + "\r\ncontact=" + kContact + "\r\n"; }
    // The request targets in arrival order.
    std::vector<std::string> targets() const {
        std::vector<std::string> out;
        for (const std::string& r : server.requests()) out.push_back(r.substr(4, r.find(" HTTP/") - 4));
        return out;
    }

    TestPki pki;
    std::atomic<bool> refuse{false};
    const std::string tile = read_file(shared_testdata() / "images/bench/map256-rgb.png");
    TlsTestServer server{pki.good, [this](const std::string&) {
                             ScriptedReply r = refuse ? ScriptedReply::make(403, "text/plain", "go away", true)
                                                      : ScriptedReply::make(200, "image/png", tile, true, "ETag: \"t1\"\r\n");
                             r.keep_alive = true;
                             return r;
                         }};
};

// How a window drives the App: its paints until no tile of the view is left, a pan east by its Right
// key, a menu command.
struct WindowSteps {
    std::function<bool()> settle;
    std::function<void()> pan_east;
    std::function<void(Command)> command;
};

// The first view fills from the TLS server, every request naming the program and its contact; a pan
// asks for the new cells only; a 403 pauses the source with the message line (nothing asked while
// paused) and Reload Map lifts it. Every tile lands in the built-in source's cache folder with its
// .meta record.
inline void expect_https_source_contract(App& app, HttpsTilePeer& peer, const WindowSteps& steps) {
    const CatalogueEntry* entry = app.current_entry();
    ASSERT_NE(entry, nullptr);
    ASSERT_EQ(entry->tmpl, peer.server.url("/{z}/{x}/{y}.png"));
    const Catalogue builtins = builtin_catalogue();
    const CatalogueEntry& builtin = *builtins.find("OpenStreetMap", false);
    std::size_t cells = 0;
    auto expect_view_cached = [&](const char* step) {
        SCOPED_TRACE(step);
        EXPECT_EQ(app.paint().failed_tiles, 0);
        cells = 0;
        app.layer().for_each_cell([&](int i, int r, int c, WorldPixel p) {
            ++cells;
            const std::string own =
                catalogue_tile_paths(builtin, catalogue_tile_key(builtin, p.x, p.y, app.view().level), app.maps_root()).full_path;
            EXPECT_EQ(app.tile_paths().slots[static_cast<std::size_t>(i)], own) << "cell " << r << "," << c;
            EXPECT_TRUE(std::filesystem::exists(own)) << own;
            EXPECT_TRUE(std::filesystem::exists(cache_record_path(own))) << own;
        });
    };

    ASSERT_TRUE(steps.settle());
    expect_view_cached("first view");
    const std::string agent = "User-Agent: " + vorglobal_user_agent(HttpsTilePeer::kContact) + "\r\n";
    EXPECT_NE(agent.find(HttpsTilePeer::kContact), std::string::npos);
    const std::vector<std::string> first = peer.server.requests();
    EXPECT_EQ(first.size(), cells);
    for (const std::string& r : first) EXPECT_NE(r.find(agent), std::string::npos) << r;

    // A pan asks for the cells it uncovers, never again for the cached ones.
    steps.pan_east();
    ASSERT_TRUE(steps.settle());
    expect_view_cached("pan");
    const std::vector<std::string> panned = peer.targets();
    EXPECT_GT(panned.size(), first.size());
    EXPECT_EQ(std::set<std::string>(panned.begin(), panned.end()).size(), panned.size());

    // Refused: the source pauses, the window's message line says until when, and a pan asks nothing.
    peer.refuse = true;
    steps.pan_east();
    ASSERT_TRUE(steps.settle());
    const std::string message = app.paint().message;
    EXPECT_NE(message.find("not asked again until Reload Map"), std::string::npos) << message;
    const std::size_t refused = peer.server.requests().size();
    steps.pan_east();
    ASSERT_TRUE(steps.settle());
    EXPECT_EQ(peer.server.requests().size(), refused);
    peer.refuse = false;
    steps.command(Command::ReloadMap);
    ASSERT_TRUE(steps.settle());
    expect_view_cached("reload");
    EXPECT_EQ(app.paint().message, "");
    EXPECT_EQ(peer.server.requests().size(), refused + cells);
}

}  // namespace vg::test
