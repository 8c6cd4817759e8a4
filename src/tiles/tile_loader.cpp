#include "tiles/tile_loader.h"

#include <algorithm>
#include <condition_variable>
#include <ctime>
#include <filesystem>
#include <iterator>

#include "platform/files.h"

namespace vg {

std::int64_t TileLoader::Policy::now_or_clock() const {
    return now != 0 ? now : static_cast<std::int64_t>(std::time(nullptr));
}

TileLoader::Landed land_tile(const std::string& path, const std::string& url, const FetchResult& result,
                             const TileLoader::Policy& policy, const CacheRecord* previous) {
    TileLoader::Landed landed;
    landed.path = path;
    landed.ok = result.ok() && result.bytes > 0;
    if (!landed.ok) landed.reason = result.ok() ? "empty" : fetch_situation(result);
    // Only a body replaces what the cache holds: an empty reply leaves the cached tile as it was.
    if (!result.temporary.empty()) {
        if (!landed.ok) {
            remove_file(result.temporary);
        } else if (!replace_file(result.temporary, path)) {
            remove_file(result.temporary);
            landed.ok = false;
            landed.reason = "cannot write the cache";
        }
    }
    if (!policy.cache_records && !policy.health) return landed;
    const std::int64_t now = policy.now_or_clock();
    if (policy.cache_records) {
        if (landed.ok) {
            write_cache_record(path, cache_record(result.headers, now, policy.fresh_seconds));
        } else if (result.outcome == FetchOutcome::not_modified && previous) {
            CacheRecord renewed = cache_record(result.headers, now, policy.fresh_seconds);
            if (renewed.etag.empty()) renewed.etag = previous->etag;
            if (renewed.last_modified.empty()) renewed.last_modified = previous->last_modified;
            write_cache_record(path, renewed);
        }
    }
    if (policy.health && result.outcome != FetchOutcome::cancelled) policy.health->record(policy.source, result, url, now);
    return landed;
}

FetchRequest TileLoader::request_of(const Want& want, const Policy& policy) {
    FetchRequest request;
    request.url = want.url;
    request.file = want.path;
    request.expected_type = policy.expected_type;
    request.proxy = policy.proxy;
    request.cafile = policy.cafile;
    request.user_agent = policy.user_agent;
    request.host_connections = std::max(1, policy.host_connections);
    request.priority = -want.distance;  // the middle of the view first
    request.limits = policy.limits;
    request.quiet = policy.health != nullptr;  // SourceHealth reports each situation once
    request.keep_temporary = true;             // land_tile renames the body into place
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(want.path).parent_path(), ec);
    return request;
}

std::vector<TileLoader::Landed> fetch_tiles_and_wait(Fetcher& fetcher, const std::vector<TileLoader::Want>& wants,
                                                     const TileLoader::Policy& policy) {
    struct Wait {
        std::mutex mutex;
        std::condition_variable done;
        std::size_t left = 0;
        std::vector<FetchResult> results;
    };
    auto wait = std::make_shared<Wait>();
    wait->left = wants.size();
    wait->results.resize(wants.size());
    std::vector<std::size_t> order(wants.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return wants[a].distance < wants[b].distance; });
    std::vector<Fetcher::RequestId> ids;
    for (const std::size_t i : order) {
        ids.push_back(fetcher.submit(TileLoader::request_of(wants[i], policy),
                                     [wait, i](Fetcher::RequestId, FetchResult&& result) {
                                         std::lock_guard lock(wait->mutex);
                                         wait->results[i] = std::move(result);
                                         if (--wait->left == 0) wait->done.notify_all();
                                     }));
    }
    if (!wants.empty()) {
        // Each transfer ends within its own deadline once started; at most `host_connections` run at a time.
        const auto rounds = static_cast<long>(wants.size() / static_cast<std::size_t>(std::max(1, policy.host_connections)) + 1);
        const auto bound = (policy.limits.total + policy.limits.connect) * rounds + std::chrono::seconds(5);
        std::unique_lock lock(wait->mutex);
        if (!wait->done.wait_for(lock, bound, [&] { return wait->left == 0; })) {
            lock.unlock();
            fetcher.cancel(ids);
            lock.lock();
            wait->done.wait(lock, [&] { return wait->left == 0; });  // cancelling always completes
        }
    }
    std::vector<TileLoader::Landed> landed;
    landed.reserve(wants.size());
    for (std::size_t i = 0; i < wants.size(); ++i)
        landed.push_back(land_tile(wants[i].path, wants[i].url, wait->results[i], policy));
    return landed;
}

// What the fetcher's callbacks share with the window thread. The callbacks hold it alive, so a
// callback that comes after the loader is gone only finds `notify` cleared.
struct TileLoader::Shared {
    std::mutex mutex;
    Notify notify;
    std::vector<std::pair<Fetcher::RequestId, Landed>> landed;
    // Cancelled requests: their callback is dropped, or their result if it came first.
    std::vector<Fetcher::RequestId> cancelled;
};

TileLoader::TileLoader(Fetcher& fetcher, Notify notify) : fetcher_(fetcher), shared_(std::make_shared<Shared>()) {
    shared_->notify = std::move(notify);
}

TileLoader::~TileLoader() {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->notify = nullptr;
    }
    cancel_all();
}

void TileLoader::want(std::vector<Want> wants, const Policy& policy) {
    std::map<std::string, const Want*> by_path;
    for (const Want& w : wants) by_path.emplace(w.path, &w);
    // Requests whose tile has left the view are cancelled; the others take their new distance.
    std::vector<Fetcher::RequestId> gone;
    std::vector<std::pair<Fetcher::RequestId, int>> moved;
    for (auto it = requested_.begin(); it != requested_.end();) {
        const auto wanted = by_path.find(it->first);
        if (wanted == by_path.end()) {
            gone.push_back(it->second.id);
            it = requested_.erase(it);
        } else {
            if (-wanted->second->distance != it->second.priority) {
                it->second.priority = -wanted->second->distance;
                moved.emplace_back(it->second.id, it->second.priority);
            }
            ++it;
        }
    }
    cancel(std::move(gone));
    fetcher_.reprioritise(moved);
    std::stable_sort(wants.begin(), wants.end(), [](const Want& a, const Want& b) { return a.distance < b.distance; });
    for (const Want& w : wants) {
        if (requested_.count(w.path) != 0) continue;
        const std::weak_ptr<Shared> weak = shared_;
        const std::string path = w.path;
        const std::string url = w.url;
        const Policy landing = policy;
        const Fetcher::RequestId id = fetcher_.submit(request_of(w, policy), [weak, path, url, landing](Fetcher::RequestId done, FetchResult&& result) {
            // Landed whether or not the view still wants the tile: it is in the cache now.
            Landed landed = land_tile(path, url, result, landing);
            const std::shared_ptr<Shared> shared = weak.lock();
            if (!shared) return;
            std::lock_guard lock(shared->mutex);
            auto c = std::find(shared->cancelled.begin(), shared->cancelled.end(), done);
            if (c != shared->cancelled.end()) {
                shared->cancelled.erase(c);
                return;
            }
            shared->landed.emplace_back(done, std::move(landed));
            // Notified under the lock, so that whatever it reaches cannot go away meanwhile: the
            // destructor clears it under the same lock first.
            if (shared->notify) shared->notify();
        });
        requested_.emplace(w.path, Requested{id, -w.distance});
    }
}

void TileLoader::cancel(std::vector<Fetcher::RequestId> ids) {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->cancelled.insert(shared_->cancelled.end(), ids.begin(), ids.end());
    }
    // All at once: a running request cancelled alone would free its connection for a queued one that
    // would then start only to be cancelled in turn.
    fetcher_.cancel(ids);
}

void TileLoader::cancel_all() {
    std::vector<Fetcher::RequestId> ids;
    for (const auto& [path, r] : requested_) ids.push_back(r.id);
    cancel(std::move(ids));
    requested_.clear();
    std::lock_guard lock(shared_->mutex);
    for (auto& [id, l] : shared_->landed) {
        auto c = std::find(shared_->cancelled.begin(), shared_->cancelled.end(), id);
        if (c != shared_->cancelled.end()) shared_->cancelled.erase(c);
    }
    shared_->landed.clear();
}

std::vector<TileLoader::Landed> TileLoader::take_landed(std::size_t most) {
    std::vector<std::pair<Fetcher::RequestId, Landed>> finished;
    std::vector<Landed> landed;
    {
        std::lock_guard lock(shared_->mutex);
        std::size_t taken = 0;
        for (; taken < shared_->landed.size() && landed.size() < most; ++taken) {
            auto& [id, l] = shared_->landed[taken];
            auto c = std::find(shared_->cancelled.begin(), shared_->cancelled.end(), id);
            if (c != shared_->cancelled.end()) {
                shared_->cancelled.erase(c);  // finished before its cancel reached the fetcher
                continue;
            }
            landed.push_back(l);
        }
        finished.assign(std::make_move_iterator(shared_->landed.begin()),
                        std::make_move_iterator(shared_->landed.begin() + static_cast<std::ptrdiff_t>(taken)));
        shared_->landed.erase(shared_->landed.begin(), shared_->landed.begin() + static_cast<std::ptrdiff_t>(taken));
    }
    for (auto& [id, l] : finished) {
        auto it = requested_.find(l.path);
        if (it != requested_.end() && it->second.id == id) requested_.erase(it);
    }
    return landed;
}

bool TileLoader::has_landed() const {
    std::lock_guard lock(shared_->mutex);
    return !shared_->landed.empty();
}

std::size_t TileLoader::outstanding() const { return requested_.size(); }

}  // namespace vg
