// Reading a PMTiles v3 archive through a ByteSource: a local file here (LocalFileSource), any other
// place (an HTTP server answering range requests) by implementing ByteSource. open() reads the
// header and root directory (one read of the first 16 KiB), checks them and keeps the root
// directory; leaf directories are read when a tile needs them and kept in a cache bounded by bytes
// (least recently used dropped first). Metadata and tiles are read on demand.
//
// Threads: after open(), every const member may be called from many threads at once (the view
// loads tiles in parallel); the leaf cache is behind a mutex held only for the lookup, never
// during a read, so ByteSource::read must itself be safe to call from many threads.
// Failure: every read gives a defined outcome (PackTileStatus, error text) for a hostile archive:
// sections outside the archive, directories that do not decode, leaves deeper than kMaxLeafDepth
// (which also ends cycles), decompression over its bound (directories kDirectoryBytesLimit, tiles
// kTileBodyLimit).
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "tiles/mbtiles.h"
#include "tiles/pmtiles.h"

namespace vg::pmtiles {

// Bytes of an archive, wherever they are. Implementations are safe to call from many threads at once.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Exactly `length` bytes at `offset` into `out` (replacing its contents). False with `error` set
    // when they cannot be read (the reader asks only for ranges within size()).
    virtual bool read(std::uint64_t offset, std::uint64_t length, std::vector<std::uint8_t>& out,
                      std::string& error) const = 0;
    // The archive's size in bytes, known when the source is made.
    virtual std::uint64_t size() const = 0;
    // What to call the archive in messages (its path or address).
    virtual std::string name() const = 0;
};

// A file on this machine, read with positioned reads (no shared file position).
class LocalFileSource : public ByteSource {
public:
    // Null with `error` naming the file when it is not a regular file or cannot be opened.
    static std::unique_ptr<LocalFileSource> open(const std::string& path, std::string& error);
    ~LocalFileSource() override;
    bool read(std::uint64_t offset, std::uint64_t length, std::vector<std::uint8_t>& out,
              std::string& error) const override;
    std::uint64_t size() const override { return size_; }
    std::string name() const override { return path_; }

private:
    LocalFileSource() = default;
    int fd_ = -1;
    std::uint64_t size_ = 0;
    std::string path_;
#ifdef _WIN32
    mutable std::mutex mutex_;  // seek and read share the descriptor's position
#endif
};

// Exactly out.size() bytes at `offset` of the open file `fd` (positioned reads; on Windows a seek
// and read, so callers there share no descriptor between threads). False with `error` set.
bool read_file_at(int fd, std::uint64_t offset, std::span<std::uint8_t> out, std::string& error);

// Bytes of cached leaf directories kept at most, by default.
inline constexpr std::size_t kDefaultLeafCacheBytes = 16u << 20;

// Where a tile's bytes are in the archive.
struct TileLocation {
    std::uint64_t offset = 0;  // from the start of the archive
    std::uint32_t length = 0;
};

class Archive {
public:
    // Opens an archive: header and root directory read and checked. Refused (null, `error` saying
    // "\"<name>\": <why>"): not PMTiles v3, damaged, a compression not in this build, tile type
    // webp or avif ("webp tiles are not supported") or unknown.
    static std::unique_ptr<Archive> open(std::shared_ptr<const ByteSource> source, std::string& error,
                                         std::size_t leaf_cache_bytes = kDefaultLeafCacheBytes);
    static std::unique_ptr<Archive> open_file(const std::string& path, std::string& error);

    const Header& header() const { return header_; }
    TileType tile_type() const { return header_.tile_type; }
    const ByteSource& source() const { return *source_; }
    const Directory& root() const { return root_; }

    // The metadata JSON text, decompressed; nullopt with `error` when it cannot be read.
    std::optional<std::string> metadata(std::string& error) const;

    // Tile (z, x, y), rows from the north, decompressed from the archive's tile compression (so an
    // mvt tile is plain protocol buffers, whatever the archive stores). Nullopt when absent
    // (`status` absent), over kTileBodyLimit stored or decompressed (too_large) or unreadable
    // (`error`, when given, saying why).
    std::optional<std::vector<std::uint8_t>> tile(int z, int x, int y, PackTileStatus* status = nullptr,
                                                  std::string* error = nullptr) const;
    // The tile's bytes as stored (still tile-compressed), same outcomes.
    std::optional<std::vector<std::uint8_t>> stored_tile(std::uint64_t id, PackTileStatus* status = nullptr,
                                                         std::string* error = nullptr) const;
    // Where tile `id`'s stored bytes are: nullopt when absent or unreadable (`status` says which).
    std::optional<TileLocation> locate(std::uint64_t id, PackTileStatus* status = nullptr,
                                       std::string* error = nullptr) const;
    // A leaf directory at (offset, length) of the leaf section, read, decompressed and decoded
    // (through the cache); null with `error` when it cannot be.
    std::shared_ptr<const Directory> leaf(std::uint64_t offset, std::uint64_t length, std::string& error) const;

private:
    Archive() = default;
    std::string refusal(const std::string& why) const { return "\"" + source_->name() + "\": " + why; }
    std::shared_ptr<const ByteSource> source_;
    Header header_;
    Directory root_;

    struct CachedLeaf {
        std::shared_ptr<const Directory> directory;
        std::size_t bytes = 0;
        std::list<std::uint64_t>::iterator use;
    };
    mutable std::mutex cache_mutex_;
    mutable std::unordered_map<std::uint64_t, CachedLeaf> leaves_;  // by offset in the leaf section
    mutable std::list<std::uint64_t> use_order_;                    // most recent first
    mutable std::size_t cached_bytes_ = 0;
    std::size_t cache_limit_ = kDefaultLeafCacheBytes;
};

}  // namespace vg::pmtiles
