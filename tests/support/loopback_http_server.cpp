#include "loopback_http_server.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "platform/sockets.h"

namespace vg::test {

namespace {

bool wait_readable(int fd, int wake_fd, int timeout_ms) {
    pollfd p[2] = {poll_entry(fd, POLLIN), poll_entry(wake_fd, POLLIN)};
    const int r = poll_sockets(p, 2, timeout_ms);
    return r > 0 && (p[0].revents & (POLLIN | POLLHUP | POLLERR)) && !(p[1].revents & POLLIN);
}

// Sends all of `bytes` on a non-blocking socket unless the peer stops taking them for 10 s or
// the wake-up is raised.
bool send_all(int fd, int wake_fd, const std::string& bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        const long n = ::send(fd, bytes.data() + at, static_cast<int>(bytes.size() - at), kSendFlags);
        if (n > 0) {
            at += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && (socket_errno() == EAGAIN || socket_errno() == EWOULDBLOCK || socket_errno() == EINTR)) {
            pollfd p[2] = {poll_entry(fd, POLLOUT), poll_entry(wake_fd, POLLIN)};
            if (poll_sockets(p, 2, 10000) <= 0 || (p[1].revents & POLLIN)) return false;
            continue;
        }
        return false;
    }
    return true;
}

std::size_t header_content_length(const std::string& header) {
    std::string lower;
    for (char c : header) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const auto at = lower.find("content-length:");
    if (at == std::string::npos) return 0;
    return static_cast<std::size_t>(std::strtoul(lower.c_str() + at + 15, nullptr, 10));
}

}  // namespace

ScriptedReply ScriptedReply::make(int status, const std::string& content_type, const std::string& body,
                                  bool with_length, const std::string& extra_headers) {
    std::string text = "HTTP/1.1 " + std::to_string(status) + (status == 200 ? " OK" : " Other") + "\r\n";
    if (!content_type.empty()) text += "Content-Type: " + content_type + "\r\n";
    if (with_length) text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    text += extra_headers + "\r\n" + body;
    ScriptedReply reply;
    reply.pieces.push_back({std::chrono::milliseconds(0), text});
    return reply;
}

ScriptedReply ScriptedReply::chunked(const std::string& content_type, const std::string& body, std::size_t chunk) {
    std::string text = "HTTP/1.1 200 OK\r\nContent-Type: " + content_type + "\r\nTransfer-Encoding: chunked\r\n\r\n";
    ScriptedReply reply;
    reply.pieces.push_back({std::chrono::milliseconds(0), text});
    char size[32];
    for (std::size_t at = 0; at < body.size(); at += chunk) {
        const std::size_t n = std::min(chunk, body.size() - at);
        std::snprintf(size, sizeof size, "%zx\r\n", n);
        reply.pieces.push_back({std::chrono::milliseconds(0), size + body.substr(at, n) + "\r\n"});
    }
    reply.pieces.push_back({std::chrono::milliseconds(0), "0\r\n\r\n"});
    return reply;
}

ScriptedReply& ScriptedReply::after(std::chrono::milliseconds delay) {
    if (pieces.empty()) pieces.push_back({});
    pieces.front().delay += delay;
    return *this;
}

LoopbackHttpServer::LoopbackHttpServer(ScriptedReply reply)
    : LoopbackHttpServer([reply](const std::string&) { return reply; }) {}

LoopbackHttpServer::LoopbackHttpServer(Handler handler) : handler_(std::move(handler)) {
    acceptor_.start([this](int fd) { serve(fd); });
}

LoopbackHttpServer::~LoopbackHttpServer() { stop(); }

void LoopbackHttpServer::stop() { acceptor_.stop(); }

std::string LoopbackHttpServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port()) + path;
}

std::vector<std::string> LoopbackHttpServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool LoopbackHttpServer::wait_for_requests(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        if (requests_.size() < count) return false;
        for (std::size_t i = 0; i < count; ++i)
            if (!done_[i]) return false;
        return true;
    });
}

void LoopbackHttpServer::serve(int fd) {
    char buffer[4096];
    std::string next;  // bytes of the connection's next request already received (keep-alive)
    for (int served = 0;; ++served) {
        std::string request = std::move(next);
        next.clear();
        bool complete = false;
        // The header, then as many body bytes as it announces, then whatever has already arrived.
        for (;;) {
            const auto end = request.find("\r\n\r\n");
            const auto lf_end = request.find("\n\n");
            std::size_t header_end = std::string::npos;
            if (end != std::string::npos) header_end = end + 4;
            if (lf_end != std::string::npos && (header_end == std::string::npos || lf_end + 2 < header_end))
                header_end = lf_end + 2;
            if (header_end != std::string::npos) {
                const std::size_t whole = header_end + header_content_length(request.substr(0, header_end));
                if (request.size() >= whole) {
                    complete = true;
                    break;
                }
            }
            if (!wait_readable(fd, acceptor_.wake_fd(), 10000)) break;
            const long n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n < 0 && (socket_errno() == EAGAIN || socket_errno() == EINTR)) continue;
            if (n <= 0) break;
            request.append(buffer, static_cast<std::size_t>(n));
        }
        auto drain = [&] {
            for (;;) {
                // Only what has already arrived: a client sends its request in one go.
                const long n = ::recv(fd, buffer, sizeof buffer, kReceiveFlags);
                if (n <= 0) break;
                request.append(buffer, static_cast<std::size_t>(n));
            }
        };
        // A kept-alive connection that the client closes between requests ends here.
        if (served > 0 && request.empty() && !complete) {
            acceptor_.close_connection(fd);
            break;
        }
        drain();
        // The request takes its place in arrival order now, before the reply lets the client go on to
        // its next request; its text is completed with the bytes that arrive until the connection ends.
        std::size_t slot = 0;
        {
            std::lock_guard lock(mutex_);
            slot = requests_.size();
            requests_.push_back(request);
            done_.push_back(false);
        }
        const ScriptedReply reply = handler_(request);
        bool more = reply.keep_alive && complete && !reply.silent && !reply.hold_open;
        bool ok = true;
        for (const auto& piece : reply.silent ? std::vector<ScriptedReply::Piece>{} : reply.pieces) {
            if (piece.delay.count() > 0) {
                pollfd p = poll_entry(acceptor_.wake_fd(), POLLIN);
                if (poll_sockets(&p, 1, static_cast<int>(piece.delay.count())) > 0) {
                    ok = false;
                    break;
                }
            }
            ok = send_all(fd, acceptor_.wake_fd(), piece.bytes);
            if (!ok) break;
        }
        more = more && ok;
        if (reply.silent || reply.hold_open) {
            // Held until the peer goes or the server stops.
            while (!acceptor_.stopping()) {
                pollfd p[2] = {poll_entry(fd, POLLIN), poll_entry(acceptor_.wake_fd(), POLLIN)};
                if (poll_sockets(p, 2, 1000) > 0) {
                    if (p[1].revents) break;
                    if (::recv(fd, buffer, sizeof buffer, kReceiveFlags) <= 0) break;
                }
            }
        }
        if (!more) {
            drain();
            acceptor_.close_connection(fd);
        }
        {
            std::lock_guard lock(mutex_);
            requests_[slot] = request;
            done_[slot] = true;
        }
        changed_.notify_all();
        if (!more) break;
    }
}

}  // namespace vg::test
