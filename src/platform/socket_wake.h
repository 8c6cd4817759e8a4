// A wake-up for a thread waiting on sockets (kept apart from platform/sockets.h so that headers
// can hold one without the system's socket headers).
#pragma once

namespace vg {

// A descriptor that poll_sockets sees readable once raise() has been called (until it is closed):
// a pipe on Linux; on Windows, whose poll takes sockets only, a UDP socket on 127.0.0.1 that
// sends itself a datagram.
class SocketWake {
public:
    SocketWake() = default;
    ~SocketWake() { close(); }
    SocketWake(const SocketWake&) = delete;
    SocketWake& operator=(const SocketWake&) = delete;
    bool open();
    void close();
    void raise();
    int fd() const { return read_fd_; }

private:
    int read_fd_ = -1;
    int write_fd_ = -1;
};

}  // namespace vg
