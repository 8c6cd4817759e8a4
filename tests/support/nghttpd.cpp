#include "support/nghttpd.h"

#include <thread>

namespace vg::test {

Nghttpd::Nghttpd(const std::filesystem::path& htdocs, const std::string& key_file, const std::string& cert_file,
                 const std::filesystem::path& log) {
    const std::string program = "/usr/sbin/nghttpd";
    std::error_code ec;
    if (!std::filesystem::exists(program, ec)) return;
    const int port = free_loopback_port();
    child_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{program, "-a", "127.0.0.1", "-d", htdocs.string(), std::to_string(port), key_file,
                                 cert_file},
        log);
    if (child_->pid() <= 0) return;
    // Ready when it accepts a connection (bounded).
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (loopback_port_accepts(port)) {
            port_ = port;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

}  // namespace vg::test
