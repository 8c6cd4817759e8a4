#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/wake_event.h"

namespace vg {

bool WakeEvent::open() {
    close();
    handle_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    return handle_ >= 0;
}

void WakeEvent::close() {
    if (handle_ >= 0) {
        ::close(handle_);
        handle_ = -1;
    }
}

bool WakeEvent::is_open() const { return handle_ >= 0; }

void WakeEvent::raise() {
    const std::uint64_t one = 1;
    if (handle_ >= 0) (void)!::write(handle_, &one, sizeof one);
}

void WakeEvent::reset() {
    std::uint64_t count = 0;
    if (handle_ >= 0) (void)!::read(handle_, &count, sizeof count);
}

bool WakeEvent::wait(int timeout_ms) const {
    if (handle_ < 0) return false;
    pollfd p{handle_, POLLIN, 0};
    return ::poll(&p, 1, timeout_ms) > 0 && (p.revents & POLLIN);
}

}  // namespace vg
