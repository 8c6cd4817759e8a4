// Small socket helpers shared by the HTTP client and the position server: an owning descriptor,
// bounded connect, send and receive, over the platform's sockets (platform/sockets.h). Sends never
// raise SIGPIPE.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vg {

class Socket {
public:
    Socket() = default;
    explicit Socket(int fd) : fd_(fd) {}
    ~Socket() { reset(); }
    Socket(Socket&& other) noexcept : fd_(other.release()) {}
    Socket& operator=(Socket&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = other.release();
        }
        return *this;
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset();

private:
    int fd_ = -1;
};

// A new non-blocking IPv4 stream socket (close-on-exec), or an invalid one.
Socket make_tcp_socket();

// Connects to `address` (network byte order) and `port` within `timeout`. Returns 0 on success,
// else the errno value (ETIMEDOUT when the time ran out). The socket stays non-blocking.
int connect_with_timeout(const Socket& socket, std::uint32_t address, int port, std::chrono::milliseconds timeout);

// Sends all of `data`; each wait for room is bounded by `idle`. Returns 0 or the errno value.
int send_all(const Socket& socket, std::string_view data, std::chrono::milliseconds idle);

// Waits up to `timeout` for bytes and receives at most `size`. Returns the count (0 at the
// peer's close), -1 with errno set on failure, or -2 when nothing came in time.
long receive_some(const Socket& socket, char* buffer, std::size_t size, std::chrono::milliseconds timeout);

}  // namespace vg
