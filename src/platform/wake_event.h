// A wake-up signal that one thread raises to end another thread's bounded wait early (close_link
// waking the reader): an eventfd on Linux, a manual-reset event on Windows. Once raised it stays
// raised until reset, so a wake-up given before the wait began is not lost.
#pragma once

namespace vg {

#ifdef _WIN32
using WaitHandle = void*;  // HANDLE
#else
using WaitHandle = int;  // descriptor that polls readable while raised
#endif

class WakeEvent {
public:
    WakeEvent() = default;
    ~WakeEvent() { close(); }
    WakeEvent(const WakeEvent&) = delete;
    WakeEvent& operator=(const WakeEvent&) = delete;

    // Creates the event, not raised; false when the system has none to give.
    bool open();
    void close();
    bool is_open() const;

    void raise();
    void reset();
    // Waits at most `timeout_ms` (0: only looks); true when raised.
    bool wait(int timeout_ms) const;

    WaitHandle handle() const { return handle_; }

private:
#ifdef _WIN32
    WaitHandle handle_ = nullptr;
#else
    WaitHandle handle_ = -1;
#endif
};

}  // namespace vg
