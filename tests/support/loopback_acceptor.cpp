#include "support/loopback_acceptor.h"

#include <stdexcept>

#include "platform/sockets.h"

namespace vg::test {

LoopbackAcceptor::LoopbackAcceptor(const std::string& who) {
    listen_fd_ = open_socket();
    if (listen_fd_ < 0 || !wake_.open()) throw std::runtime_error(who + ": socket");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listen_fd_, 64) != 0 ||
        ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error(who + ": bind");
    port_ = ntohs(addr.sin_port);
}

void LoopbackAcceptor::start(Serve serve) {
    serve_ = std::move(serve);
    acceptor_ = std::thread([this] { accept_loop(); });
}

void LoopbackAcceptor::stop() {
    if (stopping_.exchange(true)) return;
    wake_.raise();
    if (acceptor_.joinable()) acceptor_.join();
    for (auto& worker : workers_) worker.join();
    workers_.clear();
    close_socket(listen_fd_);
    listen_fd_ = -1;
    wake_.close();
}

void LoopbackAcceptor::close_connection(int fd) {
    close_socket(fd);
    --open_;
}

void LoopbackAcceptor::accept_loop() {
    while (!stopping_.load()) {
        pollfd p[2] = {poll_entry(listen_fd_, POLLIN), poll_entry(wake_.fd(), POLLIN)};
        if (poll_sockets(p, 2, 1000) <= 0 || (p[1].revents & POLLIN)) continue;
        const int fd = accept_socket(listen_fd_);
        if (fd < 0) continue;
        ++connections_;
        const int open = ++open_;
        for (int seen = max_open_.load(); open > seen && !max_open_.compare_exchange_weak(seen, open);) {
        }
        workers_.emplace_back([this, fd] { serve_(fd); });
    }
}

}  // namespace vg::test
