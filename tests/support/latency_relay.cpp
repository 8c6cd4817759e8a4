#include "latency_relay.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <stdexcept>

namespace vg::test {

namespace {

using Clock = std::chrono::steady_clock;

// Bytes read from one side, each chunk due on the other side at its arrival time plus the delay.
struct Direction {
    int from = -1;
    int to = -1;
    std::deque<std::pair<Clock::time_point, std::string>> queue;
    bool from_closed = false;  // the reading side ended: pass that on once the queue is empty
    bool shut = false;
};

}  // namespace

LatencyRelay::LatencyRelay(int target_port, std::chrono::milliseconds one_way)
    : target_port_(target_port), delay_(one_way) {
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_fd_ < 0 || ::pipe2(wake_pipe_, O_CLOEXEC) != 0) throw std::runtime_error("latency relay: socket");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listen_fd_, 64) != 0 ||
        ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error("latency relay: bind");
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { accept_loop(); });
}

LatencyRelay::~LatencyRelay() { stop(); }

void LatencyRelay::stop() {
    if (stopping_.exchange(true)) return;
    const char c = 'x';
    [[maybe_unused]] auto n = ::write(wake_pipe_[1], &c, 1);
    if (acceptor_.joinable()) acceptor_.join();
    for (auto& worker : workers_) worker.join();
    ::close(listen_fd_);
    ::close(wake_pipe_[0]);
    ::close(wake_pipe_[1]);
}

void LatencyRelay::accept_loop() {
    while (!stopping_.load()) {
        pollfd p[2] = {{listen_fd_, POLLIN, 0}, {wake_pipe_[0], POLLIN, 0}};
        if (::poll(p, 2, 1000) <= 0 || p[1].revents) continue;
        const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        ++connections_;
        workers_.emplace_back([this, fd] { relay(fd); });
    }
}

void LatencyRelay::relay(int client) {
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(target_port_));
    if (server < 0 || ::connect(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (server >= 0) ::close(server);
        ::close(client);
        return;
    }
    const int one = 1;
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    Direction up{client, server, {}, false, false};
    Direction down{server, client, {}, false, false};
    char buffer[16384];
    while (!stopping_.load()) {
        // Send what is due; note when the next chunk falls due.
        const auto now = Clock::now();
        auto next_due = now + std::chrono::seconds(1);
        bool broken = false;
        for (Direction* d : {&up, &down}) {
            while (!d->queue.empty() && d->queue.front().first <= now) {
                const std::string& bytes = d->queue.front().second;
                std::size_t at = 0;
                while (at < bytes.size()) {
                    const ssize_t n = ::send(d->to, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
                    if (n <= 0) {
                        broken = true;
                        break;
                    }
                    at += static_cast<std::size_t>(n);
                }
                d->queue.pop_front();
                if (broken) break;
            }
            if (!d->queue.empty()) next_due = std::min(next_due, d->queue.front().first);
            if (d->from_closed && d->queue.empty() && !d->shut) {
                ::shutdown(d->to, SHUT_WR);
                d->shut = true;
            }
        }
        if (broken || (up.shut && down.shut)) break;
        pollfd p[3] = {{client, static_cast<short>(up.from_closed ? 0 : POLLIN), 0},
                       {server, static_cast<short>(down.from_closed ? 0 : POLLIN), 0},
                       {wake_pipe_[0], POLLIN, 0}};
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next_due - Clock::now()).count();
        const int r = ::poll(p, 3, static_cast<int>(std::clamp<long long>(wait, 0, 1000)));
        if (r < 0 || p[2].revents) break;
        for (int i = 0; i < 2; ++i) {
            Direction& d = i == 0 ? up : down;
            if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            const ssize_t n = ::recv(d.from, buffer, sizeof buffer, 0);
            if (n <= 0) d.from_closed = true;
            else d.queue.emplace_back(Clock::now() + delay_, std::string(buffer, static_cast<std::size_t>(n)));
        }
    }
    ::close(server);
    ::close(client);
}

}  // namespace vg::test
