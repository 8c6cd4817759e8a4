#include "support/peers.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <thread>

#include "platform/sockets.h"
#include "support/test_paths.h"

#ifndef _WIN32
extern char** environ;
#endif

namespace vg::test {

#ifdef _WIN32
// gpsd and vortool sim are Linux programs: nothing is started.
bool real_peers_available() { return false; }
ChildProcess::ChildProcess(const std::vector<std::string>&, const std::filesystem::path&) {}
void ChildProcess::stop() {}
#else
bool real_peers_available() { return true; }

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::filesystem::path& output) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = 0;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) == 0) pid_ = pid;
    posix_spawn_file_actions_destroy(&actions);
}

void ChildProcess::stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 250; ++i) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = 0;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = 0;
}
#endif

int free_loopback_port(bool udp) {
    const int fd = open_socket(udp);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    close_socket(fd);
    return port;
}

bool eventually(const std::function<bool()>& done, std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
}

namespace {
#ifdef _WIN32
int process_id() { return static_cast<int>(GetCurrentProcessId()); }
#else
int process_id() { return static_cast<int>(::getpid()); }
#endif

std::vector<std::string> sim_args(const std::vector<std::string>& extra) {
    std::vector<std::string> args = {vortool_path().string(), "sim", "--device", "N"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}
}  // namespace

Simulator::Simulator(const std::filesystem::path& dir, const std::vector<std::string>& extra)
    : out_(dir / ("sim-" + std::to_string(process_id()) + "-" + std::to_string(free_loopback_port()) + ".out")),
      process_(sim_args(extra), out_) {
    if (!real_peers_available()) return;
    eventually([&] {
        const std::string text = read_file(out_);
        const auto lf = text.find('\n');
        if (lf == std::string::npos) return false;
        first_line_ = text.substr(0, lf);
        return true;
    });
}

Gpsd::Gpsd(const std::filesystem::path& dir, const std::string& device, int port)
    : port_(port ? port : free_loopback_port()),
      process_({"/usr/sbin/gpsd", "-N", "-n", "-S", std::to_string(port_), "-F",
                (dir / ("gpsd-" + std::to_string(port_) + ".sock")).string(), device},
               dir / ("gpsd-" + std::to_string(port_) + ".out")) {}

bool loopback_port_accepts(int port) {
    sockets_startup();
    const int fd = static_cast<int>(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close_socket(fd);
    return ok;
}

bool Gpsd::ready() const { return real_peers_available() && loopback_port_accepts(port_); }

NmeaServer::NmeaServer(std::string payload) : payload_(std::move(payload)) {
    sockets_startup();
    fd_ = static_cast<int>(::socket(AF_INET, SOCK_STREAM, 0));  // blocking: the thread waits in accept
    set_server_address_options(fd_);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    ::listen(fd_, 4);
    thread_ = std::thread([this] {
        for (;;) {
            const int c = static_cast<int>(::accept(fd_, nullptr, nullptr));
            if (c < 0) return;
            ++served_;
#ifdef _WIN32
            (void)!::send(c, payload_.data(), static_cast<int>(payload_.size()), 0);
#else
            (void)!::send(c, payload_.data(), payload_.size(), MSG_NOSIGNAL);
#endif
            close_socket(c);
        }
    });
}

NmeaServer::~NmeaServer() {
#ifdef _WIN32
    ::shutdown(fd_, SD_BOTH);
#else
    ::shutdown(fd_, SHUT_RDWR);
#endif
    close_socket(fd_);
    thread_.join();
}

}  // namespace vg::test
