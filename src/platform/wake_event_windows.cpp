#include <windows.h>

#include "platform/wake_event.h"

namespace vg {

bool WakeEvent::open() {
    close();
    handle_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);  // manual reset, not signalled
    return handle_ != nullptr;
}

void WakeEvent::close() {
    if (handle_) {
        CloseHandle(handle_);
        handle_ = nullptr;
    }
}

bool WakeEvent::is_open() const { return handle_ != nullptr; }

void WakeEvent::raise() {
    if (handle_) SetEvent(handle_);
}

void WakeEvent::reset() {
    if (handle_) ResetEvent(handle_);
}

bool WakeEvent::wait(int timeout_ms) const {
    if (!handle_) return false;
    return WaitForSingleObject(handle_, timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms)) == WAIT_OBJECT_0;
}

}  // namespace vg
