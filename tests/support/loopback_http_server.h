// A small HTTP server on 127.0.0.1 (ephemeral port) for tests and benchmarks: each connection's
// request is read (header, plus a Content-Length body) and recorded byte for byte, and a scripted
// reply is sent: any status and content type, chunked bodies, truncated bodies, huge headers,
// replies in delayed pieces, or no reply at all (a silent peer held open until the server stops).
// The connection is then closed, or kept alive for its next request when the reply says so.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/loopback_acceptor.h"
#include "support/peers.h"  // free_loopback_port

namespace vg::test {

struct ScriptedReply {
    struct Piece {
        std::chrono::milliseconds delay{0};  // wait before sending this piece
        std::string bytes;
    };
    std::vector<Piece> pieces;  // sent in order, then the connection is closed
    bool silent = false;        // send nothing and keep the connection open until the server stops
    bool hold_open = false;     // after the pieces, keep the connection open until the server stops
    bool keep_alive = false;    // after the pieces, serve the connection's next request (the reply
                                // must say where it ends: Content-Length or chunked)

    // A complete reply in one piece: status line, Content-Type (when given), optional
    // Content-Length, extra header lines (each ending in CR LF), the blank line and the body.
    static ScriptedReply make(int status, const std::string& content_type, const std::string& body,
                              bool with_length = false, const std::string& extra_headers = "");
    // A reply whose body is sent with Transfer-Encoding: chunked in chunks of `chunk` bytes.
    static ScriptedReply chunked(const std::string& content_type, const std::string& body, std::size_t chunk);
    // Adds `delay` before the first piece.
    ScriptedReply& after(std::chrono::milliseconds delay);
};

class LoopbackHttpServer {
public:
    using Handler = std::function<ScriptedReply(const std::string& request)>;

    explicit LoopbackHttpServer(Handler handler);
    // Answers every request with the same reply.
    explicit LoopbackHttpServer(ScriptedReply reply);
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    int port() const { return acceptor_.port(); }
    // "http://127.0.0.1:PORT" + path.
    std::string url(const std::string& path = "/") const;

    // The bytes of each request received so far, in arrival order.
    std::vector<std::string> requests() const;
    // Waits (bounded) until the first `count` requests were received and their connections ended.
    bool wait_for_requests(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    std::size_t connection_count() const { return acceptor_.connection_count(); }
    // Most connections that were open (accepted, not yet closed) at the same moment.
    int max_open_connections() const { return acceptor_.max_open_connections(); }

    void stop();

private:
    void serve(int fd);

    Handler handler_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::string> requests_;  // in arrival order
    std::vector<bool> done_;             // the request's connection has ended
    LoopbackAcceptor acceptor_{"loopback server"};  // last: stopped before the rest goes
};

// A tinyproxy process on a free 127.0.0.1 port with a generated configuration, stopped and reaped
// by the destructor. available() is false when /usr/bin/tinyproxy is missing or did not start.
// CONNECT is allowed to port 443 and to `connect_port` (a test's own HTTPS server).
class TinyProxy {
public:
    explicit TinyProxy(int connect_port = 443);
    ~TinyProxy();
    TinyProxy(const TinyProxy&) = delete;
    TinyProxy& operator=(const TinyProxy&) = delete;
    bool available() const { return pid_ > 0 && port_ > 0; }
    int port() const { return port_; }
    std::string log() const;

private:
    int pid_ = -1;
    int port_ = 0;
    std::string dir_;
};

}  // namespace vg::test
