// A TCP relay on 127.0.0.1 that holds every byte for a fixed one-way delay in each direction before
// passing it on, so a peer on the same machine behaves like one a network away: a request and its
// reply cost 2 × delay, whatever the protocol (plain HTTP, TLS, HTTP/2). Each accepted connection gets
// its own connection to the target port and its own thread. The connect itself is not delayed.
#pragma once

#include <chrono>

#include "support/loopback_acceptor.h"

namespace vg::test {

class LatencyRelay {
public:
    LatencyRelay(int target_port, std::chrono::milliseconds one_way);
    ~LatencyRelay();
    LatencyRelay(const LatencyRelay&) = delete;
    LatencyRelay& operator=(const LatencyRelay&) = delete;

    int port() const { return acceptor_.port(); }
    std::size_t connection_count() const { return acceptor_.connection_count(); }
    // Most client connections that were open at the same moment.
    int max_open_connections() const { return acceptor_.max_open_connections(); }
    void stop() { acceptor_.stop(); }

private:
    void relay(int client);

    int target_port_;
    std::chrono::milliseconds delay_;
    LoopbackAcceptor acceptor_{"latency relay"};  // last: stopped before the rest goes
};

}  // namespace vg::test
