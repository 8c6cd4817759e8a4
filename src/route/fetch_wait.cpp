#include "route/fetch_wait.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

namespace vg::route {

FetchResult fetch_cancellable(Fetcher& fetcher, FetchRequest request, const std::atomic<bool>* cancel) {
    struct Shared {
        std::mutex mutex;
        std::condition_variable done;
        std::optional<FetchResult> result;
    };
    const auto shared = std::make_shared<Shared>();
    const auto id = fetcher.submit(std::move(request), [shared](Fetcher::RequestId, FetchResult&& r) {
        const std::lock_guard lock(shared->mutex);
        shared->result = std::move(r);
        shared->done.notify_all();
    });
    std::unique_lock lock(shared->mutex);
    bool cancelled = false;
    while (!shared->done.wait_for(lock, std::chrono::milliseconds(100), [&] { return shared->result.has_value(); })) {
        if (!cancelled && cancel && cancel->load()) {
            cancelled = true;
            lock.unlock();
            fetcher.cancel(id);
            lock.lock();
        }
    }
    return std::move(*shared->result);
}

}  // namespace vg::route
