// A serial peer for tests: the test plays the receiver on one end, the code under test opens
// slave_path() like a serial device. On Linux a pseudo-terminal (the test holds the master side);
// on Windows a pair of COM ports joined like a null-modem cable, named by VG_TEST_COM_PAIR
// ("COM1,COM2": the port under test, then the test's end). scripts/test --windows makes that pair
// under Wine from two Linux pseudo-terminals joined by socat (with VG_WINDOWS_SERIAL=1), and always
// one silent port, VG_TEST_COM_PORT, for the tests that need no data.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include "platform/serial_port.h"
#else
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace vg::test {

#ifdef _WIN32
class PtyPair {
public:
    PtyPair() {
        const char* pair = std::getenv("VG_TEST_COM_PAIR");
        const std::string names = pair ? pair : "";
        const auto comma = names.find(',');
        if (comma == std::string::npos) return;
        slave_path_ = names.substr(0, comma);
        if (!peer_.open(names.substr(comma + 1)) || !peer_.configure({1, 9600, 8, 0, 0, 0})) return;
        peer_.purge();
        ok_ = true;
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return ok_; }
    static const char* unavailable_reason() {
        return "no COM port pair: set VG_TEST_COM_PAIR (scripts/test --windows makes one under Wine)";
    }
    const std::string& slave_path() const { return slave_path_; }

    void send(const std::string& bytes) const {
        peer_.write(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), 10000);
    }
    void send(const std::vector<std::uint8_t>& bytes) const { send(std::string(bytes.begin(), bytes.end())); }

    // Reads what the program sent until `count` bytes have come or `timeout` passes.
    std::string receive(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
        std::string out;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (out.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0) break;
            std::uint8_t buf[256];
            const auto r = peer_.read_waiting(buf, std::min(sizeof buf, count - out.size()));
            if (r.status == SerialPort::ReadStatus::Failed) break;
            if (r.count > 0) {
                out.append(reinterpret_cast<const char*>(buf), r.count);
                continue;
            }
            peer_.wait(nullptr, static_cast<int>(std::min<long long>(left, 100)));
        }
        return out;
    }
    // True when the program has sent bytes the test has not read.
    bool readable() const { return peer_.wait(nullptr, 0) == SerialPort::WaitResult::Readable; }

private:
    mutable SerialPort peer_;
    std::string slave_path_;
    bool ok_ = false;
};
#define VG_REQUIRE_SERIAL_PEER(pair) \
    if (!(pair).ok()) GTEST_SKIP() << (pair).unavailable_reason()

// One COM port with a device behind it and nobody sending (tests of settings and waits that need no
// peer): VG_TEST_COM_PORT, else the port under test of VG_TEST_COM_PAIR; empty when neither is set.
inline std::string silent_com_port() {
    if (const char* port = std::getenv("VG_TEST_COM_PORT"); port && *port) return port;
    const char* pair = std::getenv("VG_TEST_COM_PAIR");
    const std::string names = pair ? pair : "";
    return names.substr(0, names.find(','));
}
#else
class PtyPair {
public:
    PtyPair() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
        const char* name = ptsname(master_);
        if (name) slave_path_ = name;
        // Keep one slave descriptor open in raw mode, so that nothing is echoed back and the master
        // does not see a hang-up between the program's connections.
        keeper_ = ::open(slave_path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (keeper_ >= 0) {
            termios tio{};
            tcgetattr(keeper_, &tio);
            cfmakeraw(&tio);
            tcsetattr(keeper_, TCSANOW, &tio);
        }
    }
    ~PtyPair() {
        close_master();
        if (keeper_ >= 0) ::close(keeper_);
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return master_ >= 0 && keeper_ >= 0 && !slave_path_.empty(); }
    const std::string& slave_path() const { return slave_path_; }
    int master() const { return master_; }
    static const char* unavailable_reason() { return "no pseudo-terminal"; }
    // True when the program has sent bytes the test has not read.
    bool readable() const {
        pollfd p{master_, POLLIN, 0};
        return poll(&p, 1, 0) == 1;
    }

    void send(const std::string& bytes) const {
        std::size_t at = 0;
        while (at < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.data() + at, bytes.size() - at);
            if (n <= 0) return;
            at += static_cast<std::size_t>(n);
        }
    }
    void send(const std::vector<std::uint8_t>& bytes) const { send(std::string(bytes.begin(), bytes.end())); }

    // Reads what the program sent until `count` bytes have come or `timeout` passes.
    std::string receive(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
        std::string out;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (out.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0) break;
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
            char buf[256];
            const ssize_t n = ::read(master_, buf, std::min(sizeof buf, count - out.size()));
            if (n <= 0) break;
            out.append(buf, static_cast<std::size_t>(n));
        }
        return out;
    }

    // Closes both sides the test holds: the program's slave sees a hang-up.
    void hang_up() {
        close_master();
        if (keeper_ >= 0) {
            ::close(keeper_);
            keeper_ = -1;
        }
    }

private:
    void close_master() {
        if (master_ >= 0) {
            ::close(master_);
            master_ = -1;
        }
    }
    int master_ = -1;
    int keeper_ = -1;
    std::string slave_path_;
};

#define VG_REQUIRE_SERIAL_PEER(pair) ASSERT_TRUE((pair).ok())
#endif

// Waits for `condition` to hold, checking every 10 ms; false after `limit` (a generous backstop).
template <typename Condition>
bool wait_until(Condition&& condition, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace vg::test
