// nghttpd, the nghttp2 project's server, as an HTTP/2-over-TLS peer on a free 127.0.0.1 port serving
// the files of a folder (no validators: every GET of a file is a 200). A child process stopped by the
// destructor; available() is false where /usr/sbin/nghttpd is missing or did not start.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "support/peers.h"

namespace vg::test {

class Nghttpd {
public:
    Nghttpd(const std::filesystem::path& htdocs, const std::string& key_file, const std::string& cert_file,
            const std::filesystem::path& log);
    bool available() const { return port_ > 0; }
    int port() const { return port_; }
    // "https://127.0.0.1:PORT".
    std::string url() const { return "https://127.0.0.1:" + std::to_string(port_); }

private:
    std::unique_ptr<ChildProcess> child_;
    int port_ = 0;
};

}  // namespace vg::test
