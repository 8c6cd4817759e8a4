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
    acceptor_.start([this](int fd) { relay(fd); });
}

LatencyRelay::~LatencyRelay() { stop(); }

void LatencyRelay::relay(int client) {
    ::fcntl(client, F_SETFL, ::fcntl(client, F_GETFL) & ~O_NONBLOCK);  // relayed with blocking sends
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(target_port_));
    if (server < 0 || ::connect(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (server >= 0) ::close(server);
        acceptor_.close_connection(client);
        return;
    }
    const int one = 1;
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    Direction up{client, server, {}, false, false};
    Direction down{server, client, {}, false, false};
    char buffer[16384];
    while (!acceptor_.stopping()) {
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
                       {acceptor_.wake_fd(), POLLIN, 0}};
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
    acceptor_.close_connection(client);
}

}  // namespace vg::test
