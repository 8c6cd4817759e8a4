// Real peers for receiver tests: a child process with its output in a file, a free loopback port, a
// receiver simulator on a pseudo-terminal (vortool sim) and a real gpsd reading it.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace vg::test {

// A child process; killed (SIGTERM, then SIGKILL) and reaped when destroyed.
class ChildProcess {
public:
    // Runs `argv` (argv[0] a path) with standard output and error to `output`. pid() is 0 on failure.
    ChildProcess(const std::vector<std::string>& argv, const std::filesystem::path& output);
    ~ChildProcess() { stop(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    pid_t pid() const { return pid_; }
    void stop();

private:
    pid_t pid_ = 0;
};

// False where gpsd and vortool sim cannot run (Windows): the tests that need them skip.
bool real_peers_available();

// A TCP (or UDP) port on 127.0.0.1 that nothing listened on a moment ago.
int free_loopback_port(bool udp = false);

// True when a TCP connection to 127.0.0.1:`port` is accepted now (a started peer is ready).
bool loopback_port_accepts(int port);

// Polls `done` every 20 ms until it holds or `limit` passes (generous: slow machines only wait longer).
bool eventually(const std::function<bool()>& done, std::chrono::seconds limit = std::chrono::seconds(60));

// `vortool sim --device N` (plus extra arguments) with its first output line (the terminal path,
// or for --tcp/--udp whatever it prints first) read back.
class Simulator {
public:
    Simulator(const std::filesystem::path& dir, const std::vector<std::string>& extra = {});
    const std::string& first_line() const { return first_line_; }

private:
    std::filesystem::path out_;
    ChildProcess process_;
    std::string first_line_;
};

// gpsd in the foreground on a free port, its control socket in `dir`, reading `device`.
class Gpsd {
public:
    Gpsd(const std::filesystem::path& dir, const std::string& device, int port = 0);
    int port() const { return port_; }
    pid_t pid() const { return process_.pid(); }
    // True once gpsd accepts connections.
    bool ready() const;

private:
    int port_;
    ChildProcess process_;
};

// A loopback TCP server that sends `payload` to each client and then closes the connection, as an
// NMEA network source that goes away would.
class NmeaServer {
public:
    explicit NmeaServer(std::string payload);
    ~NmeaServer();
    NmeaServer(const NmeaServer&) = delete;
    NmeaServer& operator=(const NmeaServer&) = delete;
    int port() const { return port_; }
    int served() const { return served_.load(); }

private:
    std::string payload_;
    int fd_ = -1;
    int port_ = 0;
    std::atomic<int> served_{0};
    std::thread thread_;
};

}  // namespace vg::test
