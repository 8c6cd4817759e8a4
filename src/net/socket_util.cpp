#include "net/socket_util.h"

#include <cerrno>

#include "platform/sockets.h"

namespace vg {

namespace {

using Clock = std::chrono::steady_clock;

int remaining_ms(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// Waits for `events` on `fd` until `deadline`. Returns >0 when ready, 0 on time-out, -1 on error.
int wait_for(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd p = poll_entry(fd, events);
        int r = poll_sockets(&p, 1, remaining_ms(deadline));
        if (r < 0 && socket_errno() == EINTR) continue;
        return r;
    }
}

}  // namespace

void Socket::reset() {
    if (fd_ >= 0) {
        close_socket(fd_);
        fd_ = -1;
    }
}

Socket make_tcp_socket() { return Socket(open_socket()); }

int connect_with_timeout(const Socket& socket, std::uint32_t address, int port, std::chrono::milliseconds timeout) {
    const int fd = socket.get();
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<std::uint16_t>(port));
    peer.sin_addr.s_addr = address;
    int result = 0;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) < 0) {
        const int error = socket_errno();
        if (error != EINPROGRESS && error != EINTR && error != EAGAIN) {
            result = error;
        } else {
            const int r = wait_for(fd, POLLOUT, Clock::now() + timeout);
            if (r == 0) {
                result = ETIMEDOUT;
            } else if (r < 0) {
                result = socket_errno();
            } else {
                result = pending_socket_error(fd);
            }
        }
    }
    return result;
}

int send_all(const Socket& socket, std::string_view data, std::chrono::milliseconds idle) {
    while (!data.empty()) {
        const int r = wait_for(socket.get(), POLLOUT, Clock::now() + idle);
        if (r == 0) return ETIMEDOUT;
        if (r < 0) return socket_errno();
        const long sent = ::send(socket.get(), data.data(), static_cast<int>(data.size()), kSendFlags);
        if (sent < 0) {
            const int error = socket_errno();
            if (error == EINTR || error == EAGAIN || error == EWOULDBLOCK) continue;
            return error;
        }
        data.remove_prefix(static_cast<std::size_t>(sent));
    }
    return 0;
}

long receive_some(const Socket& socket, char* buffer, std::size_t size, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const int r = wait_for(socket.get(), POLLIN, deadline);
        if (r == 0) return -2;
        if (r < 0) return -1;
        const long got = ::recv(socket.get(), buffer, static_cast<int>(size), kReceiveFlags);
        if (got < 0) {
            const int error = socket_errno();
            if (error == EINTR || error == EAGAIN || error == EWOULDBLOCK) {
                if (remaining_ms(deadline) == 0) return -2;
                continue;
            }
            errno = error;
        }
        return static_cast<long>(got);
    }
}

}  // namespace vg
