// The "fix changed" notice from the reader and server threads to the window.
//
// A thread that has put a new fix into the shared record calls post(): the first post after a paint
// queues one invalidation of the window (Window::invalidate, which never waits from another thread);
// further posts add nothing until the window thread paints and calls painted(). So a thread never
// waits for the window thread, a busy window gets one paint however many fixes arrive meanwhile, and
// that paint shows the newest fix, read after painted() cleared the flag.
#pragma once

#include <atomic>

#include "platform/window.h"

namespace vg {

class FixNotice {
public:
    explicit FixNotice(Window* window = nullptr) : window_(window) {}
    FixNotice(const FixNotice&) = delete;
    FixNotice& operator=(const FixNotice&) = delete;

    // Any thread. Never waits.
    void post() {
        if (pending_.exchange(true)) return;
        posts_.fetch_add(1);
        if (window_) window_->invalidate(false);
    }
    // Window thread, as it starts a paint (before it reads the fix): later posts ask for the next.
    void painted() { pending_.store(false); }

    bool pending() const { return pending_.load(); }
    // Invalidations queued so far.
    int posts() const { return posts_.load(); }

private:
    Window* window_;
    std::atomic<bool> pending_{false};
    std::atomic<int> posts_{0};
};

}  // namespace vg
