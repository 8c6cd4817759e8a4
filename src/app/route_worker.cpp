#include "app/route_worker.h"

namespace vg {

RouteWorker::RouteWorker(RouteFunction route, std::function<void()> done)
    : route_(std::move(route)), done_(std::move(done)), thread_([this] { run(); }) {}

RouteWorker::~RouteWorker() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        cancel_.store(true);
    }
    wake_.notify_one();
    thread_.join();
}

std::uint64_t RouteWorker::request(route::Request request) {
    std::uint64_t id = 0;
    {
        std::lock_guard lock(mutex_);
        id = ++newest_;
        queued_ = std::move(request);
        queued_id_ = id;
        result_.reset();
        if (running_id_ != 0) cancel_.store(true);  // the running one is stale now
    }
    wake_.notify_one();
    return id;
}

void RouteWorker::cancel() {
    std::lock_guard lock(mutex_);
    ++newest_;
    queued_.reset();
    result_.reset();
    if (running_id_ != 0) cancel_.store(true);
}

std::optional<RouteWorker::Result> RouteWorker::take() {
    std::lock_guard lock(mutex_);
    std::optional<Result> r = std::move(result_);
    result_.reset();
    return r;
}

bool RouteWorker::busy() const {
    std::lock_guard lock(mutex_);
    return queued_.has_value() || (running_id_ != 0 && running_id_ == newest_);
}

void RouteWorker::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stop_ || queued_.has_value(); });
        if (stop_) return;
        route::Request request = std::move(*queued_);
        queued_.reset();
        running_id_ = queued_id_;
        cancel_.store(false);
        lock.unlock();

        Result result;
        result.id = running_id_;
        result.route = route_(request, &cancel_, result.error, result.router);

        lock.lock();
        const bool current = result.id == newest_;
        running_id_ = 0;
        if (current) result_ = std::move(result);
        if (current && done_) {
            lock.unlock();
            done_();
            lock.lock();
        }
    }
}

}  // namespace vg
