// TinyProxy: the tinyproxy program started and stopped as a child process (Linux).
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "loopback_http_server.h"
#include "support/peers.h"

namespace vg::test {

TinyProxy::TinyProxy(int connect_port) {
    if (::access("/usr/bin/tinyproxy", X_OK) != 0) return;
    std::string pattern = (std::filesystem::temp_directory_path() / "vgproxy-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) return;
    dir_ = pattern;
    const int port = free_loopback_port();
    {
        std::ofstream conf(dir_ + "/tinyproxy.conf");
        conf << "Port " << port << "\n"
             << "Listen 127.0.0.1\n"
             << "Timeout 30\n"
             << "MaxClients 20\n"
             << "Allow 127.0.0.1\n"
             << "LogFile \"" << dir_ << "/tinyproxy.log\"\n"
             << "LogLevel Info\n"
             << "PidFile \"" << dir_ << "/tinyproxy.pid\"\n"
             << "ConnectPort 443\n";
        if (connect_port != 443) conf << "ConnectPort " << connect_port << "\n";
    }
    const std::string conf_path = dir_ + "/tinyproxy.conf";
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null_fd = ::open("/dev/null", O_RDWR);
        ::dup2(null_fd, 0);
        ::dup2(null_fd, 1);
        ::dup2(null_fd, 2);
        ::execl("/usr/bin/tinyproxy", "tinyproxy", "-d", "-c", conf_path.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    if (pid < 0) return;
    pid_ = pid;
    // Ready when it accepts a connection (bounded).
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (loopback_port_accepts(port)) {
            port_ = port;
            return;
        }
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        ::usleep(50 * 1000);
    }
}

TinyProxy::~TinyProxy() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        for (int i = 0; i < 50 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i) ::usleep(20 * 1000);
        if (::waitpid(pid_, &status, WNOHANG) == 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
    }
    if (!dir_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
}

std::string TinyProxy::log() const {
    std::ifstream in(dir_ + "/tinyproxy.log");
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace vg::test
