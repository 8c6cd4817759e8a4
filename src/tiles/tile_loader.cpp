#include "tiles/tile_loader.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <iterator>

#include "tiles/http_cache.h"

#include "platform/window.h"

namespace vg {

// What the fetcher's callbacks share with the window thread. The callbacks hold it alive, so a
// callback that comes after the loader is gone only finds `window` cleared.
struct TileLoader::Shared {
    std::mutex mutex;
    Window* window = nullptr;
    std::vector<std::pair<Fetcher::RequestId, Landed>> landed;
    // Cancelled requests: their callback is dropped, or their result if it came first.
    std::vector<Fetcher::RequestId> cancelled;
};

TileLoader::TileLoader(Fetcher& fetcher, Window* window) : fetcher_(fetcher), shared_(std::make_shared<Shared>()) {
    shared_->window = window;
}

TileLoader::~TileLoader() {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->window = nullptr;
    }
    cancel_all();
}

void TileLoader::want(std::vector<Want> wants, const Policy& policy) {
    std::map<std::string, const Want*> by_path;
    for (const Want& w : wants) by_path.emplace(w.path, &w);
    // Requests whose tile has left the view.
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
        FetchRequest request;
        request.url = w.url;
        request.file = w.path;
        request.expected_type = policy.expected_type;
        request.proxy = policy.proxy;
        request.cafile = policy.cafile;
        request.host_connections = std::max(1, policy.host_connections);
        request.priority = -w.distance;  // the middle of the view first
        request.limits = policy.limits;
        request.quiet = policy.health != nullptr;  // SourceHealth reports each situation once
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(w.path).parent_path(), ec);
        const std::weak_ptr<Shared> weak = shared_;
        const std::string path = w.path;
        const std::string url = w.url;
        const Policy recording = policy;
        const Fetcher::RequestId id = fetcher_.submit(std::move(request), [weak, path, url, recording](Fetcher::RequestId done, FetchResult&& result) {
            if (recording.health) {
                // Recorded whether or not the view still wants the tile: it is in the cache now.
                const std::int64_t now =
                    recording.now != 0 ? recording.now : static_cast<std::int64_t>(std::time(nullptr));
                if (recording.cache_records && result.ok() && result.bytes > 0)
                    write_cache_record(path, cache_record(result.headers, now, recording.fresh_seconds));
                if (result.outcome != FetchOutcome::cancelled) recording.health->record(recording.source, result, url, now);
            }
            const std::shared_ptr<Shared> shared = weak.lock();
            if (!shared) return;
            Window* window = nullptr;
            {
                std::lock_guard lock(shared->mutex);
                auto c = std::find(shared->cancelled.begin(), shared->cancelled.end(), done);
                if (c != shared->cancelled.end()) {
                    shared->cancelled.erase(c);
                    return;
                }
                Landed landed;
                landed.path = path;
                landed.ok = result.ok() && result.bytes > 0;
                if (!landed.ok) landed.reason = result.ok() ? "empty" : fetch_situation(result);
                shared->landed.emplace_back(done, std::move(landed));
                window = shared->window;
                // Invalidating under the lock keeps the window from going away meanwhile: the
                // destructor clears it under the same lock first.
                if (window) window->invalidate(false);
            }
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
