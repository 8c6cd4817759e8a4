#include "support/tls_test_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

namespace vg::test {
namespace {

EVP_PKEY* make_key() {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    if (!key) throw std::runtime_error("test pki: key");
    return key;
}

void add_extension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext) throw std::runtime_error("test pki: extension");
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

// A certificate for `name` with subject alternative names `alt` (empty for the authority), valid
// from `from_days` to `to_days` around now, signed by `issuer_key` (and `issuer`, or itself).
X509* make_cert(EVP_PKEY* key, const char* name, const char* alt, long from_days, long to_days, X509* issuer,
                EVP_PKEY* issuer_key, long serial) {
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert), from_days * 86400);
    X509_gmtime_adj(X509_getm_notAfter(cert), to_days * 86400);
    X509_set_pubkey(cert, key);
    X509_NAME* subject = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(name), -1, -1, 0);
    X509_set_issuer_name(cert, issuer ? X509_get_subject_name(issuer) : subject);
    X509* signer = issuer ? issuer : cert;
    if (alt[0] == 0) {
        add_extension(cert, signer, NID_basic_constraints, "critical,CA:TRUE");
        add_extension(cert, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        add_extension(cert, signer, NID_basic_constraints, "CA:FALSE");
        add_extension(cert, signer, NID_subject_alt_name, alt);
    }
    add_extension(cert, signer, NID_subject_key_identifier, "hash");
    if (!X509_sign(cert, issuer_key, EVP_sha256())) throw std::runtime_error("test pki: sign");
    return cert;
}

void write_pem(const std::string& path, X509* cert, EVP_PKEY* key) {
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) throw std::runtime_error("test pki: write");
    if (cert) PEM_write_X509(f, cert);
    if (key) PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr);
    std::fclose(f);
}

}  // namespace

TestPki::TestPki() {
    dir = folder_.path().string();
    EVP_PKEY* ca_key = make_key();
    X509* ca = make_cert(ca_key, "VorGlobal Test CA", "", -2, 30, nullptr, ca_key, 1);
    ca_file = dir + "/ca.pem";
    write_pem(ca_file, ca, nullptr);

    auto leaf = [&](const char* stem, const char* alt, long from, long to, bool self, long serial) {
        EVP_PKEY* key = make_key();
        X509* cert = self ? make_cert(key, "127.0.0.1", alt, from, to, nullptr, key, serial)
                          : make_cert(key, "127.0.0.1", alt, from, to, ca, ca_key, serial);
        Leaf l{dir + "/" + stem + ".pem", dir + "/" + stem + ".key"};
        write_pem(l.cert_file, cert, nullptr);
        write_pem(l.key_file, nullptr, key);
        X509_free(cert);
        EVP_PKEY_free(key);
        return l;
    };
    good = leaf("good", "IP:127.0.0.1,DNS:localhost", -1, 30, false, 2);
    expired = leaf("expired", "IP:127.0.0.1,DNS:localhost", -30, -1, false, 3);
    wrong_host = leaf("wrong", "DNS:other.invalid", -1, 30, false, 4);
    self_signed = leaf("self", "IP:127.0.0.1,DNS:localhost", -1, 30, true, 5);
    X509_free(ca);
    EVP_PKEY_free(ca_key);
}

TestPki::~TestPki() = default;

TlsTestServer::TlsTestServer(const TestPki::Leaf& leaf, Handler handler) : handler_(std::move(handler)) {
    // OpenSSL writes with write(): a client that hangs up must not end the test process.
    std::signal(SIGPIPE, SIG_IGN);
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    if (!ctx || SSL_CTX_use_certificate_file(ctx, leaf.cert_file.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx, leaf.key_file.c_str(), SSL_FILETYPE_PEM) != 1)
        throw std::runtime_error("tls server: certificate");
    ctx_ = ctx;
    acceptor_.start([this](int fd) { serve(fd); });
}

TlsTestServer::~TlsTestServer() {
    stop();
    SSL_CTX_free(static_cast<SSL_CTX*>(ctx_));
}

void TlsTestServer::stop() { acceptor_.stop(); }

std::string TlsTestServer::url(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(port()) + path;
}

std::vector<std::string> TlsTestServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void TlsTestServer::serve(int fd) {
    // OpenSSL reads and writes this connection as a blocking socket, bounded by a receive timeout.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    timeval guard{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &guard, sizeof guard);
    SSL* ssl = SSL_new(static_cast<SSL_CTX*>(ctx_));
    SSL_set_fd(ssl, fd);
    // Waits until the peer sent something (or closed); false when the server stops.
    auto readable = [&] {
        while (!acceptor_.stopping()) {
            if (SSL_pending(ssl) > 0) return true;
            pollfd p[2] = {{fd, POLLIN, 0}, {acceptor_.wake_fd(), POLLIN, 0}};
            if (::poll(p, 2, 500) > 0) return !(p[1].revents & POLLIN);
        }
        return false;
    };
    if (SSL_accept(ssl) == 1) {
        std::string pending;
        char buffer[4096];
        bool open = true;
        while (open) {
            std::size_t end;
            while ((end = pending.find("\r\n\r\n")) == std::string::npos) {
                if (!readable()) {
                    open = false;
                    break;
                }
                const int n = SSL_read(ssl, buffer, sizeof buffer);
                if (n <= 0) {
                    open = false;
                    break;
                }
                pending.append(buffer, static_cast<std::size_t>(n));
            }
            if (!open) break;
            const std::string request = pending.substr(0, end + 4);
            pending.erase(0, end + 4);
            {
                std::lock_guard lock(mutex_);
                requests_.push_back(request);
            }
            const ScriptedReply reply = handler_(request);
            for (const auto& piece : reply.pieces) {
                if (piece.delay.count() > 0) {
                    pollfd p{acceptor_.wake_fd(), POLLIN, 0};
                    if (::poll(&p, 1, static_cast<int>(piece.delay.count())) > 0) open = false;
                }
                if (!open || SSL_write(ssl, piece.bytes.data(), static_cast<int>(piece.bytes.size())) <= 0) {
                    open = false;
                    break;
                }
                if (piece.bytes.find("Connection: close") != std::string::npos) open = false;
            }
        }
        SSL_shutdown(ssl);
    }
    SSL_free(ssl);
    acceptor_.close_connection(fd);
}

}  // namespace vg::test
