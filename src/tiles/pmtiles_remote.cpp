#include "tiles/pmtiles_remote.h"

#include <algorithm>
#include <fstream>
#include <future>

#include "net/network_wait.h"
#include "platform/files.h"
#include "tiles/tile_catalogue.h"

namespace vg::pmtiles {

namespace {

bool is_address(const std::string& source) {
    return source.rfind("http://", 0) == 0 || source.rfind("https://", 0) == 0;
}

std::span<const std::uint8_t> span_of(const std::vector<std::uint8_t>& v) { return {v.data(), v.size()}; }

std::vector<std::uint8_t> bytes_of(const std::string& s) { return {s.begin(), s.end()}; }

// A leaf's cost in the cache.
std::size_t weight(const Directory& dir) { return sizeof(Directory) + dir.size() * sizeof(Entry); }

}  // namespace

RemotePolicy remote_policy(const CatalogueEntry* entry, const FetchSettings& settings) {
    RemotePolicy p;
    p.user_agent = vorglobal_user_agent(settings.contact);
    p.proxy = settings.proxy;
    p.cafile = settings.cafile;
    if (entry) {
        p.connections = std::max(1, entry->conn);
        p.nobulk = entry->nobulk;
    }
    return p;
}

struct RemoteArchive::Job {
    std::uint64_t id = 0;
    int retries = 0;  // re-openings after the archive changed under this tile
    bool open_only = false;  // ends once the archive is open
    TileDone done;
};

RemoteArchive::RemoteArchive(Fetcher& fetcher, std::string source, RemotePolicy policy, std::size_t leaf_cache_bytes)
    : fetcher_(fetcher),
      source_(std::move(source)),
      policy_(std::move(policy)),
      local_(!is_address(source_)),
      leaf_budget_(leaf_cache_bytes) {}

RemoteArchive::~RemoteArchive() {
    std::vector<Fetcher::RequestId> ids;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [id, unused] : in_flight_) ids.push_back(id);
    }
    fetcher_.cancel(ids);
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return pending_ == 0; });
}

RemoteArchive::Stats RemoteArchive::stats() const {
    std::lock_guard lock(mutex_);
    return {requests_.load(), bytes_.load(), openings_};
}

Header RemoteArchive::header() const {
    std::lock_guard lock(mutex_);
    return header_;
}

std::string RemoteArchive::version() const {
    std::lock_guard lock(mutex_);
    return version_;
}

std::uint64_t RemoteArchive::size() const {
    std::lock_guard lock(mutex_);
    return size_;
}

void RemoteArchive::read_range(std::uint64_t offset, std::uint64_t length, const std::string& if_match, RangeDone done) {
    requests_.fetch_add(1);
    if (local_) {
        // A local file: its version is its size and modification time.
        FetchResult r;
        const long long size = regular_size(std::filesystem::path(source_));
        if (size < 0) {
            r.outcome = FetchOutcome::no_route;
            r.cause = "cannot read " + source_;
        } else {
            r.etag = std::to_string(size) + ":" + std::to_string(regular_modified_seconds(source_));
            r.total_size = static_cast<std::uint64_t>(size);
            r.ranged_ok = true;
            if (!if_match.empty() && if_match != r.etag) {
                r.outcome = FetchOutcome::changed;
                r.cause = "the file changed";
            } else if (offset >= r.total_size) {
                r.outcome = FetchOutcome::http_error;
                r.status = 416;
                r.cause = "range beyond the end of " + source_;
            } else {
                std::ifstream in(std::filesystem::path(source_), std::ios::binary);
                r.body.resize(static_cast<std::size_t>(std::min(length, r.total_size - offset)));
                in.seekg(static_cast<std::streamoff>(offset));
                in.read(r.body.data(), static_cast<std::streamsize>(r.body.size()));
                r.outcome = in ? FetchOutcome::ok : FetchOutcome::transfer;
                if (!in) r.cause = "cannot read " + source_;
                r.bytes = r.body.size();
            }
        }
        bytes_.fetch_add(r.bytes);
        done(std::move(r));
        return;
    }
    FetchRequest request;
    request.url = source_;
    request.user_agent = policy_.user_agent;
    request.proxy = policy_.proxy;
    request.cafile = policy_.cafile;
    request.host_connections = policy_.connections;
    request.limits = policy_.limits;
    request.quiet = true;  // the reader reports through its results
    request.range = ByteRange{offset, length};
    request.if_match = if_match;
    {
        std::lock_guard lock(mutex_);
        ++pending_;
    }
    const auto id = fetcher_.submit(std::move(request), [this, done = std::move(done)](Fetcher::RequestId id, FetchResult&& r) {
        bytes_.fetch_add(r.bytes);
        done(std::move(r));
        std::lock_guard lock(mutex_);
        in_flight_.erase(id);
        if (--pending_ == 0) in_flight_.clear();  // ids recorded after their callback ran
        idle_.notify_all();
    });
    std::lock_guard lock(mutex_);
    if (pending_ > 0) in_flight_[id] = true;
}

FetchResult RemoteArchive::read_range_wait(std::uint64_t offset, std::uint64_t length, const std::string& if_match) {
    if (!local_) note_network_wait();
    std::promise<FetchResult> promise;
    auto future = promise.get_future();
    read_range(offset, length, if_match, [&promise](FetchResult&& r) { promise.set_value(std::move(r)); });
    return future.get();  // the request's own limits bound it
}

std::optional<Directory> RemoteArchive::decode_dir(const std::vector<std::uint8_t>& bytes, std::string& error) const {
    Compression c;
    {
        std::lock_guard lock(mutex_);
        c = header_.internal_compression;
    }
    auto plain = decompress(c, span_of(bytes), kDirectoryBytesLimit, error);
    if (!plain) return std::nullopt;
    return decode_directory(span_of(*plain), error);
}

void RemoteArchive::start_open() {
    read_range(0, kRootBytes, {}, [this](FetchResult&& r) { opened(std::move(r)); });
}

void RemoteArchive::opened(FetchResult&& r) {
    std::string error;
    std::optional<Header> header;
    std::optional<Directory> root;
    if (!r.ok()) {
        error = r.cause.empty() ? fetch_situation(r) : r.cause;
    } else if (r.total_size == 0) {
        error = "the server does not say the archive's size";
    } else {
        const auto bytes = bytes_of(r.body);
        header = decode_header(span_of(bytes), r.total_size, error);
        if (header && header->root_offset + header->root_length > bytes.size()) {
            error = "root directory beyond the first " + std::to_string(kRootBytes) + " bytes";
            header.reset();
        }
        if (header) {
            {
                std::lock_guard lock(mutex_);
                header_ = *header;
            }
            const std::vector<std::uint8_t> raw(bytes.begin() + static_cast<std::ptrdiff_t>(header->root_offset),
                                                bytes.begin() + static_cast<std::ptrdiff_t>(header->root_offset + header->root_length));
            root = decode_dir(raw, error);
        }
    }
    std::vector<std::shared_ptr<Job>> waiting;
    {
        std::lock_guard lock(mutex_);
        opening_ = false;
        waiting.swap(waiting_);
        if (root) {
            open_ = true;
            open_error_.clear();
            version_ = r.version();
            size_ = r.total_size;
            root_ = std::move(*root);
            ++openings_;
        } else {
            open_error_ = error;
        }
    }
    for (const auto& job : waiting) {
        if (root)
            step(job);
        else
            finish(job, TileRead{TileRead::Status::failed, {}, "cannot open the archive: " + error});
    }
}

// The archive changed since opening `generation`: everything cached goes, the next step opens again.
void RemoteArchive::changed_under(std::uint64_t generation) {
    std::lock_guard lock(mutex_);
    if (generation != generation_) return;  // already dropped
    ++generation_;
    open_ = false;
    root_.clear();
    leaves_.clear();
    use_order_.clear();
    leaf_bytes_ = 0;
}

const Directory* RemoteArchive::cached_leaf(std::uint64_t offset) {
    auto it = leaves_.find(offset);
    if (it == leaves_.end()) return nullptr;
    use_order_.splice(use_order_.begin(), use_order_, it->second.use);
    return &it->second.dir;
}

void RemoteArchive::keep_leaf(std::uint64_t offset, Directory dir) {
    if (leaves_.count(offset)) return;
    leaf_bytes_ += weight(dir);
    use_order_.push_front(offset);
    leaves_.emplace(offset, Leaf{std::move(dir), use_order_.begin()});
    // The least recently used go; the newest stays even when it alone is over the budget.
    while (leaf_bytes_ > leaf_budget_ && use_order_.size() > 1) {
        const auto oldest = use_order_.back();
        use_order_.pop_back();
        leaf_bytes_ -= weight(leaves_[oldest].dir);
        leaves_.erase(oldest);
    }
}

void RemoteArchive::finish(const std::shared_ptr<Job>& job, TileRead&& read) {
    auto done = std::move(job->done);
    if (done) done(std::move(read));
}

void RemoteArchive::tile_async(int z, std::uint32_t x, std::uint32_t y, TileDone done) {
    auto job = std::make_shared<Job>();
    job->done = std::move(done);
    const auto id = tile_id(z, x, y);
    if (!id) {
        finish(job, TileRead{TileRead::Status::missing, {}, "no such tile"});
        return;
    }
    job->id = *id;
    step(job);
}

void RemoteArchive::step(const std::shared_ptr<Job>& job) {
    std::unique_lock lock(mutex_);
    if (!open_) {
        waiting_.push_back(job);
        if (opening_) return;
        opening_ = true;
        lock.unlock();
        start_open();
        return;
    }
    if (job->open_only) {
        lock.unlock();
        return finish(job, TileRead{TileRead::Status::ok, {}, {}});
    }
    const std::uint64_t generation = generation_;
    const std::string version = version_;
    // A step that meets another version retries once on the new one.
    auto on_changed = [this, job, generation] {
        changed_under(generation);
        if (job->retries++ >= 1) {
            finish(job, TileRead{TileRead::Status::failed, {}, "the archive keeps changing on the server"});
            return;
        }
        step(job);
    };
    const Directory* dir = &root_;
    for (int depth = 0; depth <= kMaxLeafDepth; ++depth) {
        const Entry* e = find_entry(*dir, job->id);
        if (!e) {
            lock.unlock();
            finish(job, TileRead{TileRead::Status::missing, {}, {}});
            return;
        }
        if (e->run_length > 0) {
            const std::uint64_t offset = header_.data_offset + e->offset;
            const std::uint32_t length = e->length;
            lock.unlock();
            read_range(offset, length, version, [this, job, on_changed, generation, length](FetchResult&& r) {
                if (r.outcome == FetchOutcome::changed) return on_changed();
                if (!r.ok()) return finish(job, TileRead{TileRead::Status::failed, {}, r.cause});
                {
                    std::unique_lock check(mutex_);
                    if (generation != generation_) {  // opened again meanwhile: these bytes are of the old one
                        check.unlock();
                        return step(job);
                    }
                }
                if (r.body.size() != length)
                    return finish(job, TileRead{TileRead::Status::failed, {}, "tile shorter than its entry"});
                finish(job, TileRead{TileRead::Status::ok, bytes_of(r.body), {}});
            });
            return;
        }
        const std::uint64_t leaf_offset = header_.leaf_offset + e->offset;
        if (const Directory* leaf = cached_leaf(leaf_offset)) {
            dir = leaf;
            continue;
        }
        const std::uint32_t length = e->length;
        lock.unlock();
        read_range(leaf_offset, length, version, [this, job, on_changed, generation, leaf_offset](FetchResult&& r) {
            if (r.outcome == FetchOutcome::changed) return on_changed();
            if (!r.ok()) return finish(job, TileRead{TileRead::Status::failed, {}, r.cause});
            std::string error;
            auto leaf = decode_dir(bytes_of(r.body), error);
            if (!leaf) return finish(job, TileRead{TileRead::Status::failed, {}, "leaf directory: " + error});
            {
                std::lock_guard keep(mutex_);
                if (generation == generation_) keep_leaf(leaf_offset, std::move(*leaf));
            }
            step(job);
        });
        return;
    }
    lock.unlock();
    finish(job, TileRead{TileRead::Status::failed, {}, "leaf directories nested too deep"});
}

TileRead RemoteArchive::tile(int z, std::uint32_t x, std::uint32_t y) {
    if (!local_) note_network_wait();
    std::promise<TileRead> promise;
    auto future = promise.get_future();
    tile_async(z, x, y, [&promise](TileRead&& r) { promise.set_value(std::move(r)); });
    return future.get();
}

bool RemoteArchive::open(std::string& error) {
    {
        std::lock_guard lock(mutex_);
        if (open_) return true;
    }
    std::promise<TileRead> promise;
    auto future = promise.get_future();
    auto job = std::make_shared<Job>();
    job->open_only = true;
    job->done = [&promise](TileRead&& r) { promise.set_value(std::move(r)); };
    if (!local_) note_network_wait();
    {
        std::unique_lock lock(mutex_);
        if (!open_) {
            waiting_.push_back(job);
            if (!opening_) {
                opening_ = true;
                lock.unlock();
                start_open();
            }
        } else {
            return true;
        }
    }
    const TileRead r = future.get();
    std::lock_guard lock(mutex_);
    if (open_) return true;
    error = r.error.empty() ? open_error_ : r.error;
    return false;
}

bool RemoteArchive::tile_entries(const std::vector<std::uint64_t>& ids, std::vector<Entry>& out, std::string& error,
                                 bool* changed) {
    if (changed) *changed = false;
    if (!open(error)) return false;
    Directory root;
    std::string version;
    std::uint64_t leaf_offset = 0;
    {
        std::lock_guard lock(mutex_);
        root = root_;
        version = version_;
        leaf_offset = header_.leaf_offset;
    }
    // Depth-first over the directories, entering only the leaves whose id span meets first..last.
    std::function<bool(const Directory&, int)> walk = [&](const Directory& dir, int depth) -> bool {
        if (depth > kMaxLeafDepth) {
            error = "leaf directories nested too deep";
            return false;
        }
        for (std::size_t i = 0; i < dir.size(); ++i) {
            const Entry& e = dir[i];
            const std::uint64_t span_end =
                e.run_length > 0 ? e.tile_id + e.run_length - 1
                                 : (i + 1 < dir.size() ? dir[i + 1].tile_id - 1 : ~std::uint64_t{0});
            const auto wanted = std::lower_bound(ids.begin(), ids.end(), e.tile_id);
            if (wanted == ids.end() || *wanted > span_end) continue;
            if (e.run_length > 0) {
                out.push_back(e);
                continue;
            }
            const std::uint64_t at = leaf_offset + e.offset;
            std::optional<Directory> leaf;
            {
                std::lock_guard lock(mutex_);
                if (const Directory* d = cached_leaf(at)) leaf = *d;
            }
            if (!leaf) {
                FetchResult r = read_range_wait(at, e.length, version);
                if (r.outcome == FetchOutcome::changed && changed) *changed = true;
                if (!r.ok()) {
                    error = r.cause;
                    return false;
                }
                leaf = decode_dir(bytes_of(r.body), error);
                if (!leaf) {
                    error = "leaf directory: " + error;
                    return false;
                }
                std::lock_guard lock(mutex_);
                if (version == version_) keep_leaf(at, *leaf);
            }
            if (!walk(*leaf, depth + 1)) return false;
        }
        return true;
    };
    return walk(root, 0);
}

RangeRead RemoteArchive::read_at(std::uint64_t offset, std::uint64_t length) {
    const std::string version = this->version();
    FetchResult r = read_range_wait(offset, length, version);
    RangeRead out;
    out.outcome = r.outcome;
    out.error = r.cause;
    if (r.ok() && r.body.size() != length) {
        out.outcome = FetchOutcome::transfer;
        out.error = "short read of the archive's tiles";
    }
    if (out.ok()) out.bytes = bytes_of(r.body);
    return out;
}

}  // namespace vg::pmtiles
