// A PMTiles archive read in pieces: over HTTP(S) byte ranges through the one Fetcher, or from a local
// file by the same code (a path instead of an address), so that a view and a region extract read
// either alike.
//
// Reading: the first request takes the first 16 KiB (header and root directory); the root is kept
// while the archive is open, leaf directories in a cache bounded by bytes (least recently used go
// first), tiles are read by their own range. Every range after the first carries the version the
// archive was opened at (its ETag, else its Last-Modified; a local file's size and modification
// time) as If-Match and is compared with the answer's: when the archive changed on the server,
// every cached directory is dropped, the archive is opened again and the tile is read once more on
// the new version. Bytes of two versions are never mixed: a directory or tile of an older opening is
// thrown away. A server that gives neither ETag nor Last-Modified cannot be checked (nothing is).
//
// The fetching policy is the catalogue entry's (remote_policy): its User-Agent, proxy, certificates
// and connections per host. The `nobulk` flag forbids region extracts (pmtiles_extract.h) but not
// the tiles of a view.
//
// Threads: every member may be called from any thread. tile_async() never waits: its callback runs
// exactly once, on the Fetcher's engine thread (for a local file, or a tile answered from the cached
// directories without a request, on the calling thread), and must stay short; the window's loader
// calls it from its own thread or from a fetcher callback. The synchronous forms (open, tile,
// tile_entries, read_data) wait for the network: they are for vortool, workers and tests, never the
// window thread and never from inside a fetcher callback (the engine would wait for itself).
// Destroying the archive cancels its requests and waits for their callbacks; the Fetcher must outlive it.
//
// Failures: a bad archive (header, directories, sizes) or a transfer failure gives a TileRead with
// status failed and a short reason; a tile the archive does not hold gives status missing.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "net/fetcher.h"
#include "tiles/pmtiles.h"

namespace vg {
struct CatalogueEntry;
}

namespace vg::pmtiles {

// How an archive's server is asked.
struct RemotePolicy {
    std::string user_agent;  // empty: the Fetcher's default
    std::string proxy;       // host:port, empty direct
    std::string cafile;
    int connections = 2;     // most transfers at once to the host
    bool nobulk = false;     // no region extract from this source
    TransferLimits limits = TransferLimits::tiles();
};
// The policy of a catalogue entry (conn=N, nobulk; the settings' proxy, certificates and contact
// for the User-Agent). `entry` may be null: an address given by the user, with the defaults.
RemotePolicy remote_policy(const CatalogueEntry* entry, const FetchSettings& settings);

struct TileRead {
    enum class Status { ok, missing, failed };
    Status status = Status::failed;
    std::vector<std::uint8_t> bytes;  // as stored: header().tile_compression applies
    std::string error;
};

// A range of the archive read synchronously.
struct RangeRead {
    FetchOutcome outcome = FetchOutcome::cancelled;  // ok, changed (another version), or the failure
    std::vector<std::uint8_t> bytes;
    std::string error;
    bool ok() const { return outcome == FetchOutcome::ok; }
};

class RemoteArchive {
public:
    // `source`: an http:// or https:// address, or a local file's path. `leaf_cache_bytes` bounds the
    // decoded leaf directories kept.
    RemoteArchive(Fetcher& fetcher, std::string source, RemotePolicy policy = {},
                  std::size_t leaf_cache_bytes = 8u << 20);
    ~RemoteArchive();
    RemoteArchive(const RemoteArchive&) = delete;
    RemoteArchive& operator=(const RemoteArchive&) = delete;

    using TileDone = std::function<void(TileRead&&)>;
    void tile_async(int z, std::uint32_t x, std::uint32_t y, TileDone done);
    TileRead tile(int z, std::uint32_t x, std::uint32_t y);

    // Opens now (or checks that it is open): false with `error` when the archive cannot be read.
    bool open(std::string& error);
    // Of the current opening (after open()).
    Header header() const;
    std::string version() const;
    std::uint64_t size() const;

    // The tile entries (run_length > 0) whose runs hold any of `sorted_ids`, in id order, reading
    // only the leaf directories whose id span holds one of them. False with `error` on a failure or
    // when the archive changed meanwhile (then `changed` is set).
    bool tile_entries(const std::vector<std::uint64_t>& sorted_ids, std::vector<Entry>& out, std::string& error,
                      bool* changed = nullptr);
    // Bytes [offset, offset + length) of the archive, of the version opened (outcome changed when
    // the archive is another version now); read_data counts from the data section.
    RangeRead read_at(std::uint64_t offset, std::uint64_t length);
    RangeRead read_data(std::uint64_t offset, std::uint64_t length) { return read_at(header().data_offset + offset, length); }

    struct Stats {
        std::uint64_t requests = 0;  // ranges asked (local reads counted too)
        std::uint64_t bytes = 0;     // body bytes received
        std::uint64_t openings = 0;  // times the archive was opened (more than 1: it changed)
    };
    Stats stats() const;

private:
    struct Job;
    using RangeDone = std::function<void(FetchResult&&)>;
    void step(const std::shared_ptr<Job>& job);
    void finish(const std::shared_ptr<Job>& job, TileRead&& read);
    void start_open();
    void opened(FetchResult&& result);
    void changed_under(std::uint64_t generation);
    void read_range(std::uint64_t offset, std::uint64_t length, const std::string& if_match, RangeDone done);
    FetchResult read_range_wait(std::uint64_t offset, std::uint64_t length, const std::string& if_match);
    std::optional<Directory> decode_dir(const std::vector<std::uint8_t>& bytes, std::string& error) const;
    const Directory* cached_leaf(std::uint64_t offset);  // under mutex_
    void keep_leaf(std::uint64_t offset, Directory dir);  // under mutex_

    Fetcher& fetcher_;
    const std::string source_;
    const RemotePolicy policy_;
    const bool local_;
    const std::size_t leaf_budget_;

    mutable std::mutex mutex_;
    std::condition_variable idle_;
    // The current opening, under mutex_.
    std::uint64_t generation_ = 0;
    bool open_ = false;
    bool opening_ = false;
    std::string open_error_;
    std::vector<std::shared_ptr<Job>> waiting_;  // steps waiting for the opening
    Header header_;
    std::string version_;
    std::uint64_t size_ = 0;
    Directory root_;
    struct Leaf {
        Directory dir;
        std::list<std::uint64_t>::iterator use;
    };
    std::map<std::uint64_t, Leaf> leaves_;
    std::list<std::uint64_t> use_order_;  // most recent first
    std::size_t leaf_bytes_ = 0;
    // Requests in flight (their ids, to cancel), under mutex_.
    std::map<Fetcher::RequestId, bool> in_flight_;
    std::size_t pending_ = 0;
    std::uint64_t openings_ = 0;
    std::atomic<std::uint64_t> requests_{0};
    std::atomic<std::uint64_t> bytes_{0};
};

}  // namespace vg::pmtiles
