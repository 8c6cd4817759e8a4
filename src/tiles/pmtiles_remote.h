// A PMTiles archive read over HTTP(S) byte ranges through the one Fetcher: RemoteSource is the
// ByteSource of the archive reader (pmtiles_file.h) for an address, and RemoteArchive keeps a reader
// on it that follows the archive when it changes on the server. A local file's path is taken too
// (the file reader's source), so that vortool and the region extract read either alike.
//
// Reading: opening takes the first 16 KiB with one request (header and root directory, which the
// reader then gets from memory); the reader keeps the root and caches leaf directories (bounded by
// bytes); a tile is read by its own range, a view's tiles together (tiles()). Every range carries
// the version the source was opened at (its ETag, else its Last-Modified) as If-Match and is
// compared with the answer's. When the archive changed on the server, RemoteArchive drops the reader
// with every cached directory, opens the archive again and reads the tiles once more on the new
// version: bytes of two versions are never mixed. A server that gives neither ETag nor Last-Modified
// cannot be checked (nothing is); a local file's version is its size and modification time when
// opened.
//
// The fetching policy is the catalogue entry's (remote_policy): its User-Agent, proxy, certificates
// and connections per host. `nobulk` forbids region extracts (pmtiles_extract.h), not a view's tiles.
//
// Threads: every member may be called from many threads at once. All reads wait for the network:
// call them from a worker thread (the window's loader runs them on its workers, a region download on
// its own thread) or from vortool and tests; never from the window thread, and never from inside a
// Fetcher callback (the engine would wait for itself). The Fetcher must outlive the objects.
//
// Failures: a bad archive or a transfer failure gives status failed with a short reason; a tile the
// archive does not hold gives status missing.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "net/fetcher.h"
#include "tiles/pmtiles_file.h"

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

// The bytes of an archive at an address, of the version seen when it was opened.
class RemoteSource : public ByteSource {
public:
    // Reads the first 16 KiB (kept, and answered from memory) and the archive's size and version.
    // Null with `error` when the server cannot be reached or does not say the size.
    static std::unique_ptr<RemoteSource> open(Fetcher& fetcher, const std::string& url, const RemotePolicy& policy,
                                              std::string& error);
    bool read(std::uint64_t offset, std::uint64_t length, std::vector<std::uint8_t>& out,
              std::string& error) const override;
    std::uint64_t size() const override { return size_; }
    std::string name() const override { return url_; }

    const std::string& version() const { return version_; }
    // A read met another version of the archive: this source is stale.
    bool changed() const { return changed_.load(); }
    std::uint64_t requests() const { return requests_.load(); }
    std::uint64_t bytes() const { return bytes_.load(); }

private:
    RemoteSource(Fetcher& fetcher, std::string url, RemotePolicy policy)
        : fetcher_(fetcher), url_(std::move(url)), policy_(std::move(policy)) {}
    FetchResult fetch(std::uint64_t offset, std::uint64_t length) const;

    Fetcher& fetcher_;
    std::string url_;
    RemotePolicy policy_;
    std::string version_;
    std::uint64_t size_ = 0;
    std::vector<std::uint8_t> head_;  // the first bytes
    mutable std::atomic<bool> changed_{false};
    mutable std::atomic<std::uint64_t> requests_{0};
    mutable std::atomic<std::uint64_t> bytes_{0};
};

struct TileRead {
    enum class Status { ok, missing, failed };
    Status status = Status::failed;
    std::vector<std::uint8_t> bytes;  // as stored: header().tile_compression applies
    std::string error;
};

// A range of the archive read directly.
struct RangeRead {
    FetchOutcome outcome = FetchOutcome::cancelled;  // ok, changed (another version), or the failure
    std::vector<std::uint8_t> bytes;
    std::string error;
    bool ok() const { return outcome == FetchOutcome::ok; }
};

class RemoteArchive {
public:
    // `source`: an http:// or https:// address, or a local file's path. Nothing is read until the
    // first call.
    RemoteArchive(Fetcher& fetcher, std::string source, RemotePolicy policy = {},
                  std::size_t leaf_cache_bytes = kDefaultLeafCacheBytes);

    // Opens now (or checks that it is open): false with `error` when the archive cannot be read.
    bool open(std::string& error);
    // Of the current opening (after open()).
    Header header() const;
    std::string version() const;

    // Tile (z, x, y), rows from the north; read again once on the new version when the archive changed.
    TileRead tile(int z, std::uint32_t x, std::uint32_t y);

    // Many tiles at once, as a view wants them: one TileRead per key, in the keys' order (outcomes as
    // tile()'s). The entries come from one pass over the directories (each leaf read once, then
    // cached); the tiles' byte ranges, in archive order, are read with one request while less than
    // `gap` bytes lie between them (a clustered archive keeps neighbouring tiles together), so a view
    // costs a few requests once the directories are cached. A content several keys share is read
    // once. When the archive changed on the server meanwhile, the whole batch is read again once from
    // the new version (no result mixes versions); a range's transfer failure fails its tiles only.
    struct TileKey {
        int z = 0;
        std::uint32_t x = 0, y = 0;
    };
    std::vector<TileRead> tiles(const std::vector<TileKey>& keys, std::uint64_t gap = 64 * 1024);

    // The tile entries (run_length > 0) whose runs hold any of `sorted_ids`, in id order, reading
    // only the leaf directories whose id span holds one of them. False with `error` on a failure;
    // `changed` is set when the archive changed meanwhile.
    bool tile_entries(const std::vector<std::uint64_t>& sorted_ids, std::vector<Entry>& out, std::string& error,
                      bool* changed = nullptr);
    // Bytes [offset, offset + length) of the archive, of the version opened (outcome changed when
    // the archive is another version now); read_data counts from the data section.
    RangeRead read_at(std::uint64_t offset, std::uint64_t length);
    RangeRead read_data(std::uint64_t offset, std::uint64_t length) { return read_at(header().data_offset + offset, length); }

    struct Stats {
        std::uint64_t requests = 0;  // ranges asked of the server (0 for a local file)
        std::uint64_t bytes = 0;     // body bytes received
        std::uint64_t openings = 0;  // times the archive was opened (more than 1: it changed)
    };
    Stats stats() const;

private:
    struct Opened {
        std::shared_ptr<const ByteSource> source;
        std::shared_ptr<Archive> archive;
        const RemoteSource* remote = nullptr;  // the source, when it is an address
        std::string version;
    };
    // The current opening, opened when there is none; null with `error`.
    std::shared_ptr<Opened> current(std::string& error);
    // Drops `stale` (when it is still the current opening) so that the next call opens again.
    void drop(const std::shared_ptr<Opened>& stale);
    // The entries of `sorted_ids` in `o`'s directories (tile_entries on one opening).
    bool entries_of(const Opened& o, const std::vector<std::uint64_t>& sorted_ids, std::vector<Entry>& out,
                    std::string& error) const;
    // tiles() on one opening: fills `out` for the keys with an id (`key_ids`, their sorted distinct
    // ids `ids`). False with `error` when the directories cannot be read or a range met another
    // version (nothing of `out` is then to be kept); a range's transfer failure fails its tiles only.
    bool read_batch(const Opened& o, const std::vector<std::optional<std::uint64_t>>& key_ids,
                    const std::vector<std::uint64_t>& ids, std::uint64_t gap, std::vector<TileRead>& out,
                    std::string& error) const;

    Fetcher& fetcher_;
    const std::string source_;
    const RemotePolicy policy_;
    const std::size_t leaf_cache_bytes_;
    mutable std::mutex mutex_;
    std::shared_ptr<Opened> opened_;  // under mutex_
    std::uint64_t openings_ = 0;      // under mutex_
    // Requests and bytes of openings dropped before.
    std::uint64_t past_requests_ = 0, past_bytes_ = 0;  // under mutex_
};

}  // namespace vg::pmtiles
