// An HTTPS server on 127.0.0.1 for tests, built on OpenSSL, with a throw-away certificate authority
// made in memory at run time: a good server certificate for 127.0.0.1/localhost, an expired one, one
// for another host name and a self-signed one. Requests on a connection are served one after the
// other (keep-alive) with the scripted replies of loopback_http_server.h; the server counts how many
// connections were open at the same moment.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/loopback_acceptor.h"
#include "support/loopback_http_server.h"
#include "support/test_paths.h"

namespace vg::test {

// The authority and its certificates, as PEM files in a scratch folder removed by the destructor.
class TestPki {
public:
    struct Leaf {
        std::string cert_file;
        std::string key_file;
    };
    TestPki();
    ~TestPki();
    TestPki(const TestPki&) = delete;
    TestPki& operator=(const TestPki&) = delete;

    std::string ca_file;   // the authority's certificate: give it to the client as cafile
    Leaf good;             // signed by the authority for IP 127.0.0.1 and DNS localhost, valid now
    Leaf expired;          // signed by the authority, valid until yesterday
    Leaf wrong_host;       // signed by the authority for other.invalid only
    Leaf self_signed;      // for 127.0.0.1, signed by itself
    std::string dir;

private:
    TempDir folder_;  // holds the files; removed with the object
};

class TlsTestServer {
public:
    using Handler = std::function<ScriptedReply(const std::string& request)>;
    TlsTestServer(const TestPki::Leaf& leaf, Handler handler);
    ~TlsTestServer();
    TlsTestServer(const TlsTestServer&) = delete;
    TlsTestServer& operator=(const TlsTestServer&) = delete;

    int port() const { return acceptor_.port(); }
    // "https://127.0.0.1:PORT" + path.
    std::string url(const std::string& path = "/") const;
    std::vector<std::string> requests() const;
    std::size_t connection_count() const { return acceptor_.connection_count(); }
    // Most connections that were open (accepted, not yet closed) at the same moment.
    int max_open_connections() const { return acceptor_.max_open_connections(); }
    void stop();

private:
    void serve(int fd);

    Handler handler_;
    void* ctx_ = nullptr;  // SSL_CTX
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    LoopbackAcceptor acceptor_{"tls server"};  // last: stopped before the rest goes
};

}  // namespace vg::test
