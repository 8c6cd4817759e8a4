#include "tiles/pmtiles_file.h"

#include <cerrno>
#include <cstring>

#include "net/transfer_limits.h"
#include "platform/files.h"

namespace vg::pmtiles {

std::unique_ptr<LocalFileSource> LocalFileSource::open(const std::string& path, std::string& error) {
    const long long size = regular_size(path);
    if (size < 0) {
        error = "\"" + path + "\": no such file";
        return nullptr;
    }
    std::unique_ptr<LocalFileSource> s(new LocalFileSource);
    s->fd_ = open_file(path, O_RDONLY);
    if (s->fd_ < 0) {
        error = "\"" + path + "\": cannot be opened (" + std::strerror(errno) + ")";
        return nullptr;
    }
    s->size_ = static_cast<std::uint64_t>(size);
    s->path_ = path;
    return s;
}

LocalFileSource::~LocalFileSource() {
    if (fd_ >= 0) close_file(fd_);
}

bool LocalFileSource::read(std::uint64_t offset, std::uint64_t length, std::vector<std::uint8_t>& out,
                           std::string& error) const {
    if (offset > size_ || length > size_ - offset) {
        error = "read past the end of the file";
        return false;
    }
    out.resize(static_cast<std::size_t>(length));
#ifdef _WIN32
    std::lock_guard lock(mutex_);
#endif
    return read_file_at(fd_, offset, out, error);
}

bool read_file_at(int fd, std::uint64_t offset, std::span<std::uint8_t> out, std::string& error) {
    std::size_t done = 0;
#ifdef _WIN32
    if (_lseeki64(fd, static_cast<__int64>(offset), SEEK_SET) < 0) {
        error = std::string("cannot read (") + std::strerror(errno) + ")";
        return false;
    }
#endif
    while (done < out.size()) {
#ifdef _WIN32
        const long n = read_file_some(fd, out.data() + done, out.size() - done);
#else
        const ssize_t n = ::pread(fd, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
#endif
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = n == 0 ? std::string("the file ended early") : std::string("cannot read (") + std::strerror(errno) + ")";
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::unique_ptr<Archive> Archive::open_file(const std::string& path, std::string& error) {
    std::shared_ptr<const ByteSource> source = LocalFileSource::open(path, error);
    if (!source) return nullptr;
    return open(std::move(source), error);
}

std::unique_ptr<Archive> Archive::open(std::shared_ptr<const ByteSource> source, std::string& error,
                                       std::size_t leaf_cache_bytes) {
    std::unique_ptr<Archive> a(new Archive);
    a->source_ = std::move(source);
    a->cache_limit_ = leaf_cache_bytes;
    auto refuse = [&](const std::string& why) {
        error = a->refusal(why);
        return nullptr;
    };
    const std::uint64_t size = a->source_->size();
    std::vector<std::uint8_t> first;
    std::string why;
    if (!a->source_->read(0, std::min<std::uint64_t>(size, kRootBytes), first, why)) return refuse(why);
    const auto header = decode_header(first, size, why);
    if (!header) return refuse(why);
    a->header_ = *header;
    const Header& h = a->header_;
    if (!compression_available(h.internal_compression))
        return refuse(std::string(compression_name(h.internal_compression)) + " is not available in this build");
    if (h.tile_type == TileType::webp || h.tile_type == TileType::avif)
        return refuse(std::string(tile_type_name(h.tile_type)) + " tiles are not supported");
    if (h.tile_type == TileType::unknown) return refuse("unknown tile type " + std::to_string(first[99]));
    if (!compression_available(h.tile_compression) && h.tile_compression != Compression::unknown)
        return refuse(std::string(compression_name(h.tile_compression)) + " is not available in this build");
    if (h.root_length > kDirectoryBytesLimit) return refuse("the root directory is too large");
    std::vector<std::uint8_t> stored;
    if (h.root_offset + h.root_length <= first.size()) {
        stored.assign(first.begin() + static_cast<std::ptrdiff_t>(h.root_offset),
                      first.begin() + static_cast<std::ptrdiff_t>(h.root_offset + h.root_length));
    } else if (!a->source_->read(h.root_offset, h.root_length, stored, why)) {
        return refuse("root directory: " + why);
    }
    const auto bytes = decompress(h.internal_compression, stored, kDirectoryBytesLimit, why);
    if (!bytes) return refuse("root directory: " + why);
    auto root = decode_directory(*bytes, why);
    if (!root) return refuse("root directory: " + why);
    a->root_ = std::move(*root);
    return a;
}

std::optional<std::string> Archive::metadata(std::string& error) const {
    const Header& h = header_;
    if (h.metadata_length == 0) return std::string();
    if (h.metadata_length > kDirectoryBytesLimit) {
        error = refusal("metadata is too large");
        return std::nullopt;
    }
    std::vector<std::uint8_t> stored;
    std::string why;
    if (!source_->read(h.metadata_offset, h.metadata_length, stored, why)) {
        error = refusal("metadata: " + why);
        return std::nullopt;
    }
    const auto bytes = decompress(h.internal_compression, stored, kDirectoryBytesLimit, why);
    if (!bytes) {
        error = refusal("metadata: " + why);
        return std::nullopt;
    }
    return std::string(bytes->begin(), bytes->end());
}

std::shared_ptr<const Directory> Archive::leaf(std::uint64_t offset, std::uint64_t length, std::string& error) const {
    {
        std::lock_guard lock(cache_mutex_);
        const auto it = leaves_.find(offset);
        if (it != leaves_.end()) {
            use_order_.splice(use_order_.begin(), use_order_, it->second.use);
            return it->second.directory;
        }
    }
    const Header& h = header_;
    if (offset > h.leaf_length || length > h.leaf_length - offset) {
        error = "a leaf directory lies outside the leaf section";
        return nullptr;
    }
    if (length > kDirectoryBytesLimit) {
        error = "a leaf directory is too large";
        return nullptr;
    }
    std::vector<std::uint8_t> stored;
    if (!source_->read(h.leaf_offset + offset, length, stored, error)) return nullptr;
    const auto bytes = decompress(h.internal_compression, stored, kDirectoryBytesLimit, error);
    if (!bytes) return nullptr;
    auto decoded = decode_directory(*bytes, error);
    if (!decoded) return nullptr;
    auto directory = std::make_shared<const Directory>(std::move(*decoded));
    const std::size_t cost = directory->size() * sizeof(Entry) + 64;
    std::lock_guard lock(cache_mutex_);
    if (cost > cache_limit_ || leaves_.count(offset)) return directory;
    while (cached_bytes_ + cost > cache_limit_ && !use_order_.empty()) {
        const auto old = leaves_.find(use_order_.back());
        cached_bytes_ -= old->second.bytes;
        leaves_.erase(old);
        use_order_.pop_back();
    }
    use_order_.push_front(offset);
    leaves_.emplace(offset, CachedLeaf{directory, cost, use_order_.begin()});
    cached_bytes_ += cost;
    return directory;
}

std::optional<TileLocation> Archive::locate(std::uint64_t id, PackTileStatus* status, std::string* error) const {
    PackTileStatus ignored;
    PackTileStatus& outcome = status ? *status : ignored;
    outcome = PackTileStatus::absent;
    std::string why;
    auto unreadable = [&](const std::string& text) {
        outcome = PackTileStatus::unreadable;
        if (error) *error = refusal(text);
        return std::nullopt;
    };
    const Directory* directory = &root_;
    std::shared_ptr<const Directory> held;
    for (int depth = 0; depth <= kMaxLeafDepth; ++depth) {
        const Entry* e = find_entry(*directory, id);
        if (!e) return std::nullopt;
        if (e->run_length > 0) {
            if (e->offset > header_.data_length || e->length > header_.data_length - e->offset)
                return unreadable("a tile lies outside the tile data");
            outcome = PackTileStatus::found;
            return TileLocation{header_.data_offset + e->offset, e->length};
        }
        if (depth == kMaxLeafDepth) break;
        held = leaf(e->offset, e->length, why);
        if (!held) return unreadable("leaf directory: " + why);
        directory = held.get();
    }
    return unreadable("leaf directories nest deeper than " + std::to_string(kMaxLeafDepth) + " levels");
}

std::optional<std::vector<std::uint8_t>> Archive::stored_tile(std::uint64_t id, PackTileStatus* status,
                                                              std::string* error) const {
    PackTileStatus ignored;
    PackTileStatus& outcome = status ? *status : ignored;
    const auto where = locate(id, &outcome, error);
    if (!where) return std::nullopt;
    if (where->length > kTileBodyLimit) {
        outcome = PackTileStatus::too_large;
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes;
    std::string why;
    if (!source_->read(where->offset, where->length, bytes, why)) {
        outcome = PackTileStatus::unreadable;
        if (error) *error = refusal(why);
        return std::nullopt;
    }
    return bytes;
}

std::optional<std::vector<std::uint8_t>> Archive::tile(int z, int x, int y, PackTileStatus* status,
                                                       std::string* error) const {
    PackTileStatus ignored;
    PackTileStatus& outcome = status ? *status : ignored;
    outcome = PackTileStatus::absent;
    if (x < 0 || y < 0) return std::nullopt;
    const auto id = tile_id(z, static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y));
    if (!id) return std::nullopt;
    auto stored = stored_tile(*id, &outcome, error);
    if (!stored || header_.tile_compression == Compression::none || header_.tile_compression == Compression::unknown)
        return stored;
    std::string why;
    auto plain = decompress(header_.tile_compression, *stored, kTileBodyLimit, why);
    if (!plain) {
        outcome = why.starts_with("decompresses to more") ? PackTileStatus::too_large : PackTileStatus::unreadable;
        if (error) *error = refusal("tile " + std::to_string(z) + "/" + std::to_string(x) + "/" + std::to_string(y) + ": " + why);
    }
    return plain;
}

}  // namespace vg::pmtiles
