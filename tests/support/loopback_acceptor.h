// The accepting half of the tests' loopback peers (HTTP server, TLS server, latency relay): a
// listening socket on 127.0.0.1 with an ephemeral port, a thread that accepts each connection and
// serves it on a thread of its own, and a wake-up that tells every connection to end. Connections
// arrive non-blocking (as platform/sockets.h makes them); the serving function closes its socket
// through close_connection(), which keeps the count of open connections.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket_wake.h"

namespace vg::test {

class LoopbackAcceptor {
public:
    using Serve = std::function<void(int fd)>;

    // Listens at once (port() is known); `who` names the peer in the exception thrown on failure.
    explicit LoopbackAcceptor(const std::string& who);
    ~LoopbackAcceptor() { stop(); }
    LoopbackAcceptor(const LoopbackAcceptor&) = delete;
    LoopbackAcceptor& operator=(const LoopbackAcceptor&) = delete;

    // Starts accepting; call once, when everything `serve` uses is ready.
    void start(Serve serve);
    // Raises the wake-up, then joins the accepting thread and every serving one. Call it before
    // anything `serve` uses goes away.
    void stop();

    int port() const { return port_; }
    // Readable once stop() was called: add it to every wait of a serving thread.
    int wake_fd() const { return wake_.fd(); }
    bool stopping() const { return stopping_.load(); }
    // Closes a served connection.
    void close_connection(int fd);

    std::size_t connection_count() const { return connections_.load(); }
    // Most connections that were open (accepted, not yet closed) at the same moment.
    int max_open_connections() const { return max_open_.load(); }

private:
    void accept_loop();

    Serve serve_;
    int listen_fd_ = -1;
    SocketWake wake_;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<std::size_t> connections_{0};
    std::atomic<int> open_{0};
    std::atomic<int> max_open_{0};
    std::vector<std::thread> workers_;  // touched by the accepting thread, then by stop()
    std::thread acceptor_;
};

}  // namespace vg::test
