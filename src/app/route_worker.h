// Routes asked for by the window, made on one worker thread of their own: the window never waits
// for a router. Only the newest request counts: a new one cancels the one running (its result is
// dropped), and its result is taken once by the window.
// Threads: request, take, busy and the destructor on one thread (the window's); `route` runs on the
// worker, `done` is called there after each result is stored (it must not wait for the window).
// Failure: a request that cannot be routed gives a result with no route and the router's reason.
// The destructor cancels the request running and joins the worker.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "route/route.h"

namespace vg {

class RouteWorker {
public:
    struct Result {
        std::uint64_t id = 0;
        std::optional<route::Route> route;
        std::string error;  // why there is no route
        std::string router; // the router's name, when one answered
    };
    // Routes a request on the worker; `cancel` ends it early. Fills `router` with the name of the
    // router that answered.
    using RouteFunction = std::function<std::optional<route::Route>(
        const route::Request&, const std::atomic<bool>* cancel, std::string& error, std::string& router)>;

    RouteWorker(RouteFunction route, std::function<void()> done);
    ~RouteWorker();
    RouteWorker(const RouteWorker&) = delete;
    RouteWorker& operator=(const RouteWorker&) = delete;

    // Queues `request`, cancelling any older one; returns its id (increasing from 1).
    std::uint64_t request(route::Request request);
    // Drops the request queued or running (nothing will be taken for it).
    void cancel();
    // The newest request's result, once, when it has come.
    std::optional<Result> take();
    // True from request() until its result has been stored.
    bool busy() const;

private:
    void run();

    RouteFunction route_;
    std::function<void()> done_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<route::Request> queued_;
    std::uint64_t newest_ = 0;      // id of the newest request
    std::uint64_t queued_id_ = 0;
    std::uint64_t running_id_ = 0;  // 0: none
    std::optional<Result> result_;
    std::atomic<bool> cancel_{false};
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace vg
