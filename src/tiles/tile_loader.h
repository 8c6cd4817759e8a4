// The one way a tile is fetched through the fetcher. The window fills its view in the background with
// a TileLoader: the window thread says which tiles the view wants (nearest the view centre first);
// the loader hands them to the fetcher, whose own thread downloads them within the source's
// connection limit and writes each through a temporary file renamed into place. Requests for tiles
// that have left the view are cancelled when the view moves, and those still queued take their new
// distance from the centre. Each finished tile is queued and the loader's notify callback runs (the
// window passes one that invalidates it); the window thread takes the queue in its paint and draws
// the tiles. The window thread never waits for the network here. Scripts and vortool fetch the same
// wants with the same policy through fetch_tiles_and_wait. Every finished transfer, of either and of
// the revalidations, goes through land_tile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "net/fetcher.h"
#include "tiles/http_cache.h"
#include "tiles/source_health.h"

namespace vg {

class TileLoader {
public:
    // One tile the view wants: its cache file, its address, and how far its cell lies from the view
    // centre (smaller is fetched first).
    struct Want {
        std::string path;
        std::string url;
        int distance = 0;
    };
    // A finished request.
    struct Landed {
        std::string path;
        bool ok = false;
        std::string reason;  // short cause of a failure ("not found", "timeout", ...)
    };
    // How the requests are made: connections per host, proxy, extra trusted certificates, waits.
    struct Policy {
        int host_connections = 2;
        std::string proxy;
        std::string cafile;
        std::string user_agent;  // empty: the fetcher's
        std::string expected_type = "image/*";
        // A catalogue source fetched with its policy: each transfer is recorded in `health` under
        // `source` (one message per situation; the fetcher stays quiet), and each tile that lands
        // gets its validators and freshness (`fresh_seconds` when the reply says nothing) beside it.
        std::shared_ptr<SourceHealth> health;
        std::string source;
        std::int64_t fresh_seconds = 0;
        std::int64_t now = 0;  // seconds since the epoch; 0 means the system clock
        TransferLimits limits = TransferLimits::tiles();
        // Off for the original sources: their tiles keep no validators, only their health counts.
        bool cache_records = true;
        // The seconds since the epoch a landing is recorded at.
        std::int64_t now_or_clock() const;
    };
    // Runs on the fetcher's thread whenever a tile has finished; must not wait for the window thread.
    using Notify = std::function<void()>;

    TileLoader(Fetcher& fetcher, Notify notify);
    // Cancels what is still outstanding; callbacks that come later find the loader gone (`notify` is
    // never called once the destructor has begun).
    ~TileLoader();
    TileLoader(const TileLoader&) = delete;
    TileLoader& operator=(const TileLoader&) = delete;

    // Window thread: the tiles the view wants now. Outstanding requests for other tiles are cancelled;
    // tiles not yet requested are submitted, nearest first; those already on their way continue, the
    // queued ones with the priority of their new distance.
    void want(std::vector<Want> wants, const Policy& policy);
    // Window thread: cancels everything outstanding.
    void cancel_all();
    // Window thread: the tiles that finished since the last call, in finishing order; at most `most`
    // of them, the rest staying queued (and counted by outstanding()) for the next call.
    std::vector<Landed> take_landed(std::size_t most = SIZE_MAX);
    // Window thread: whether finished tiles are queued.
    bool has_landed() const;
    // Requests submitted and not yet taken back with take_landed() (the count of tiles left).
    std::size_t outstanding() const;

    // The request of one want under `policy` (its directories made).
    static FetchRequest request_of(const Want& want, const Policy& policy);

private:
    struct Shared;
    void cancel(std::vector<Fetcher::RequestId> ids);
    Fetcher& fetcher_;
    std::shared_ptr<Shared> shared_;
    struct Requested {
        Fetcher::RequestId id = 0;
        int priority = 0;
    };
    std::map<std::string, Requested> requested_;  // by path; window thread only
};

// The landing step of every finished tile transfer: a 2xx body (the fetcher leaves it in its
// temporary file) is renamed into place at `path`, an empty one removed, leaving the cached tile as it
// was; with `cache_records` on, a tile that landed gets its cache record (validators, freshness),
// written after the tile, and a 304 of a revalidation renews the `previous` record (its validators
// kept where the reply names none); with a `health`, the transfer is recorded there under `source`
// (cancelled ones are not). Returns the tile's outcome: ok only for a 2xx with a body now in place.
TileLoader::Landed land_tile(const std::string& path, const std::string& url, const FetchResult& result,
                             const TileLoader::Policy& policy, const CacheRecord* previous = nullptr);

// The synchronous form, for scripts and vortool: fetches `wants` with `policy` (nearest first, within
// its connections) and waits for every one, each landed through land_tile. A transfer that has not
// ended within the bound of its turn ((connect + total) per round of `host_connections`, plus a
// margin) is cancelled. Returns one Landed per want, in the order given. Never from the window thread.
std::vector<TileLoader::Landed> fetch_tiles_and_wait(Fetcher& fetcher, const std::vector<TileLoader::Want>& wants,
                                                     const TileLoader::Policy& policy);

}  // namespace vg
