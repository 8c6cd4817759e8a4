#include "net/socket_util.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vg::net {

namespace {

using Clock = std::chrono::steady_clock;

int remaining_ms(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// Waits for `events` on `fd` until `deadline`. Returns >0 when ready, 0 on time-out, -1 on error.
int wait_for(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        int r = ::poll(&p, 1, remaining_ms(deadline));
        if (r < 0 && errno == EINTR) continue;
        return r;
    }
}

}  // namespace

void Socket::reset() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

Socket make_tcp_socket() { return Socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)); }

int connect_with_timeout(const Socket& socket, std::uint32_t address, int port, std::chrono::milliseconds timeout) {
    const int fd = socket.get();
    const int flags = ::fcntl(fd, F_GETFL, 0);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return errno;

    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<std::uint16_t>(port));
    peer.sin_addr.s_addr = address;
    int result = 0;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) < 0) {
        if (errno != EINPROGRESS && errno != EINTR) {
            result = errno;
        } else {
            const int r = wait_for(fd, POLLOUT, Clock::now() + timeout);
            if (r == 0) {
                result = ETIMEDOUT;
            } else if (r < 0) {
                result = errno;
            } else {
                int error = 0;
                socklen_t len = sizeof error;
                if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) < 0) error = errno;
                result = error;
            }
        }
    }
    ::fcntl(fd, F_SETFL, flags);
    return result;
}

int send_all(const Socket& socket, std::string_view data, std::chrono::milliseconds idle) {
    while (!data.empty()) {
        const int r = wait_for(socket.get(), POLLOUT, Clock::now() + idle);
        if (r == 0) return ETIMEDOUT;
        if (r < 0) return errno;
        const ssize_t sent = ::send(socket.get(), data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
            return errno;
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
        const ssize_t got = ::recv(socket.get(), buffer, size, MSG_DONTWAIT);
        if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (remaining_ms(deadline) == 0) return -2;
            continue;
        }
        return static_cast<long>(got);
    }
}

}  // namespace vg::net
