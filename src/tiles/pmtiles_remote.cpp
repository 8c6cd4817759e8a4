#include "tiles/pmtiles_remote.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <unordered_map>

#include "platform/files.h"
#include "tiles/tile_catalogue.h"

namespace vg::pmtiles {

namespace {

bool is_address(const std::string& source) {
    return source.rfind("http://", 0) == 0 || source.rfind("https://", 0) == 0;
}

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

FetchResult RemoteSource::fetch(std::uint64_t offset, std::uint64_t length) const {
    FetchRequest request;
    request.url = url_;
    request.user_agent = policy_.user_agent;
    request.proxy = policy_.proxy;
    request.cafile = policy_.cafile;
    request.host_connections = policy_.connections;
    request.limits = policy_.limits;
    request.quiet = true;  // the reader reports through its results
    request.range = ByteRange{offset, length};
    request.if_match = version_;
    requests_.fetch_add(1);
    FetchResult r = fetcher_.fetch(std::move(request));
    bytes_.fetch_add(r.bytes);
    if (r.outcome == FetchOutcome::changed) changed_ = true;
    return r;
}

std::unique_ptr<RemoteSource> RemoteSource::open(Fetcher& fetcher, const std::string& url, const RemotePolicy& policy,
                                                 std::string& error) {
    std::unique_ptr<RemoteSource> s(new RemoteSource(fetcher, url, policy));
    const FetchResult r = s->fetch(0, kRootBytes);
    if (!r.ok()) {
        error = r.cause.empty() ? fetch_situation(r) : r.cause;
        return nullptr;
    }
    if (r.total_size == 0) {
        error = "the server does not say the archive's size";
        return nullptr;
    }
    s->version_ = r.version();
    s->size_ = r.total_size;
    s->head_.assign(r.body.begin(), r.body.end());
    return s;
}

bool RemoteSource::read(std::uint64_t offset, std::uint64_t length, std::vector<std::uint8_t>& out,
                        std::string& error) const {
    if (offset + length <= head_.size()) {
        out.assign(head_.begin() + static_cast<std::ptrdiff_t>(offset),
                   head_.begin() + static_cast<std::ptrdiff_t>(offset + length));
        return true;
    }
    const FetchResult r = fetch(offset, length);
    if (!r.ok()) {
        error = r.outcome == FetchOutcome::changed ? "the archive changed on the server" : r.cause;
        return false;
    }
    if (r.body.size() != length) {
        error = "short read of " + url_;
        return false;
    }
    out.assign(r.body.begin(), r.body.end());
    return true;
}

RemoteArchive::RemoteArchive(Fetcher& fetcher, std::string source, RemotePolicy policy, std::size_t leaf_cache_bytes)
    : fetcher_(fetcher), source_(std::move(source)), policy_(std::move(policy)), leaf_cache_bytes_(leaf_cache_bytes) {}

std::shared_ptr<RemoteArchive::Opened> RemoteArchive::current(std::string& error) {
    std::lock_guard lock(mutex_);
    if (opened_) return opened_;
    auto o = std::make_shared<Opened>();
    if (is_address(source_)) {
        auto remote = RemoteSource::open(fetcher_, source_, policy_, error);
        if (!remote) {
            error = "cannot open the archive: " + error;
            return nullptr;
        }
        o->remote = remote.get();
        o->version = remote->version();
        o->source = std::move(remote);
    } else {
        auto local = LocalFileSource::open(source_, error);
        if (!local) return nullptr;
        o->version = std::to_string(local->size()) + ":" + std::to_string(regular_modified_seconds(source_));
        o->source = std::move(local);
    }
    o->archive = Archive::open(o->source, error, leaf_cache_bytes_);
    if (!o->archive) {
        if (o->remote) {
            past_requests_ += o->remote->requests();
            past_bytes_ += o->remote->bytes();
        }
        error = "cannot open the archive: " + error;
        return nullptr;
    }
    ++openings_;
    opened_ = o;
    return o;
}

void RemoteArchive::drop(const std::shared_ptr<Opened>& stale) {
    std::lock_guard lock(mutex_);
    if (opened_ != stale) return;
    if (stale->remote) {
        past_requests_ += stale->remote->requests();
        past_bytes_ += stale->remote->bytes();
    }
    opened_.reset();
}

bool RemoteArchive::open(std::string& error) { return current(error) != nullptr; }

Header RemoteArchive::header() const {
    std::lock_guard lock(mutex_);
    return opened_ ? opened_->archive->header() : Header{};
}

std::string RemoteArchive::version() const {
    std::lock_guard lock(mutex_);
    return opened_ ? opened_->version : std::string();
}

RemoteArchive::Stats RemoteArchive::stats() const {
    std::lock_guard lock(mutex_);
    Stats s{past_requests_, past_bytes_, openings_};
    if (opened_ && opened_->remote) {
        s.requests += opened_->remote->requests();
        s.bytes += opened_->remote->bytes();
    }
    return s;
}

TileRead RemoteArchive::tile(int z, std::uint32_t x, std::uint32_t y) {
    const auto id = tile_id(z, x, y);
    if (!id) return {TileRead::Status::missing, {}, {}};
    for (int attempt = 0;; ++attempt) {
        std::string error;
        const auto o = current(error);
        if (!o) return {TileRead::Status::failed, {}, error};
        PackTileStatus status = PackTileStatus::found;
        auto bytes = o->archive->stored_tile(*id, &status, &error);
        if (bytes) return {TileRead::Status::ok, std::move(*bytes), {}};
        if (status == PackTileStatus::absent) return {TileRead::Status::missing, {}, {}};
        if (!o->remote || !o->remote->changed()) return {TileRead::Status::failed, {}, error};
        // Another version on the server: every cached directory goes with the old reader.
        drop(o);
        if (attempt == 1) return {TileRead::Status::failed, {}, "the archive keeps changing on the server"};
    }
}

std::vector<TileRead> RemoteArchive::tiles(const std::vector<TileKey>& keys, std::uint64_t gap) {
    std::vector<TileRead> out(keys.size());
    std::vector<std::optional<std::uint64_t>> key_ids(keys.size());
    std::vector<std::uint64_t> ids;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        key_ids[i] = tile_id(keys[i].z, keys[i].x, keys[i].y);
        if (key_ids[i]) ids.push_back(*key_ids[i]);
        else out[i].status = TileRead::Status::missing;
    }
    if (ids.empty()) return out;
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    auto fail_all = [&](const std::string& error) {
        for (std::size_t i = 0; i < keys.size(); ++i)
            if (key_ids[i]) out[i] = {TileRead::Status::failed, {}, error};
        return out;
    };
    for (int attempt = 0;; ++attempt) {
        std::string error;
        const auto o = current(error);
        if (!o) return fail_all(error);
        if (read_batch(*o, key_ids, ids, gap, out, error)) return out;
        if (!o->remote || !o->remote->changed()) return fail_all(error);
        // Another version on the server: what was read of the old one is dropped with its reader, and
        // the whole batch is read again from the new one.
        drop(o);
        if (attempt == 1) return fail_all("the archive keeps changing on the server");
    }
}

bool RemoteArchive::read_batch(const Opened& o, const std::vector<std::optional<std::uint64_t>>& key_ids,
                               const std::vector<std::uint64_t>& ids, std::uint64_t gap, std::vector<TileRead>& out,
                               std::string& error) const {
    std::vector<Entry> found;
    if (!entries_of(o, ids, found, error)) return false;
    const Header& h = o.archive->header();
    // One piece per stored content (tiles of one content share its offset), with the keys it serves.
    struct Piece {
        std::uint64_t offset = 0;
        std::uint32_t length = 0;
        std::vector<std::size_t> keys;
    };
    std::vector<Piece> pieces;
    std::unordered_map<std::uint64_t, std::size_t> piece_at;  // data offset -> index in pieces
    for (std::size_t i = 0; i < key_ids.size(); ++i) {
        if (!key_ids[i]) continue;
        const std::uint64_t id = *key_ids[i];
        const auto next = std::upper_bound(found.begin(), found.end(), id,
                                           [](std::uint64_t v, const Entry& e) { return v < e.tile_id; });
        if (next == found.begin() || id >= std::prev(next)->tile_id + std::prev(next)->run_length) {
            out[i] = {TileRead::Status::missing, {}, {}};
            continue;
        }
        const Entry& e = *std::prev(next);
        if (e.offset > h.data_length || e.length > h.data_length - e.offset) {
            out[i] = {TileRead::Status::failed, {}, "a tile lies outside the tile data"};
            continue;
        }
        if (e.length > kTileBodyLimit) {
            out[i] = {TileRead::Status::failed, {}, "a tile is too large"};
            continue;
        }
        const auto [at, added] = piece_at.emplace(e.offset, pieces.size());
        if (added) pieces.push_back({e.offset, e.length, {}});
        pieces[at->second].keys.push_back(i);
    }
    std::sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) { return a.offset < b.offset; });
    // Neighbouring pieces (less than `gap` bytes apart) are read with one range, within one
    // transfer's body limit.
    const std::uint64_t most = std::max<std::uint64_t>(policy_.limits.max_body, kTileBodyLimit);
    std::vector<std::uint8_t> bytes;
    for (std::size_t first = 0; first < pieces.size();) {
        std::uint64_t end = pieces[first].offset + pieces[first].length;
        std::size_t last = first + 1;
        while (last < pieces.size() && pieces[last].offset <= end + gap &&
               std::max(end, pieces[last].offset + pieces[last].length) - pieces[first].offset <= most) {
            end = std::max(end, pieces[last].offset + pieces[last].length);
            ++last;
        }
        const std::uint64_t start = pieces[first].offset;
        std::string why;
        if (!o.source->read(h.data_offset + start, end - start, bytes, why)) {
            if (o.remote && o.remote->changed()) {
                error = why;
                return false;
            }
            for (std::size_t p = first; p < last; ++p)
                for (const std::size_t k : pieces[p].keys) out[k] = {TileRead::Status::failed, {}, why};
        } else {
            for (std::size_t p = first; p < last; ++p) {
                const auto from = bytes.begin() + static_cast<std::ptrdiff_t>(pieces[p].offset - start);
                for (const std::size_t k : pieces[p].keys)
                    out[k] = {TileRead::Status::ok, std::vector<std::uint8_t>(from, from + pieces[p].length), {}};
            }
        }
        first = last;
    }
    return true;
}

bool RemoteArchive::tile_entries(const std::vector<std::uint64_t>& ids, std::vector<Entry>& out, std::string& error,
                                 bool* changed) {
    if (changed) *changed = false;
    const auto o = current(error);
    if (!o) return false;
    if (entries_of(*o, ids, out, error)) return true;
    if (o->remote && o->remote->changed()) {
        if (changed) *changed = true;
        drop(o);
    }
    return false;
}

bool RemoteArchive::entries_of(const Opened& o, const std::vector<std::uint64_t>& ids, std::vector<Entry>& out,
                               std::string& error) const {
    // Depth-first over the directories, entering only the leaves whose id span holds a wanted id.
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
            const auto leaf = o.archive->leaf(e.offset, e.length, error);
            if (!leaf) return false;
            if (!walk(*leaf, depth + 1)) return false;
        }
        return true;
    };
    return walk(o.archive->root(), 0);
}

RangeRead RemoteArchive::read_at(std::uint64_t offset, std::uint64_t length) {
    RangeRead r;
    std::shared_ptr<Opened> o;
    {
        std::lock_guard lock(mutex_);
        o = opened_;
        if (!o && openings_ > 0) {  // dropped: the version these ranges were planned on is gone
            r.outcome = FetchOutcome::changed;
            r.error = "the archive changed on the server";
            return r;
        }
    }
    if (!o) o = current(r.error);
    if (!o) {
        r.outcome = FetchOutcome::transfer;
        return r;
    }
    if (offset > o->source->size() || length > o->source->size() - offset) {
        r.outcome = FetchOutcome::http_error;
        r.error = "range beyond the end of the archive";
        return r;
    }
    if (o->source->read(offset, length, r.bytes, r.error)) {
        r.outcome = FetchOutcome::ok;
    } else {
        r.outcome = o->remote && o->remote->changed() ? FetchOutcome::changed : FetchOutcome::transfer;
        r.bytes.clear();
        if (r.outcome == FetchOutcome::changed) drop(o);
    }
    return r;
}

}  // namespace vg::pmtiles
