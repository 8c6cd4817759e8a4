// A TCP relay on 127.0.0.1 that holds every byte for a fixed one-way delay in each direction before
// passing it on, so a peer on the same machine behaves like one a network away: a request and its
// reply cost 2 × delay, whatever the protocol (plain HTTP, TLS, HTTP/2). Each accepted connection gets
// its own connection to the target port and its own thread. The connect itself is not delayed.
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace vg::test {

class LatencyRelay {
public:
    LatencyRelay(int target_port, std::chrono::milliseconds one_way);
    ~LatencyRelay();
    LatencyRelay(const LatencyRelay&) = delete;
    LatencyRelay& operator=(const LatencyRelay&) = delete;

    int port() const { return port_; }
    std::size_t connection_count() const { return connections_.load(); }
    void stop();

private:
    void accept_loop();
    void relay(int client);

    int target_port_;
    std::chrono::milliseconds delay_;
    int listen_fd_ = -1;
    int wake_pipe_[2] = {-1, -1};
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<std::size_t> connections_{0};
    std::vector<std::thread> workers_;
    std::thread acceptor_;
};

}  // namespace vg::test
