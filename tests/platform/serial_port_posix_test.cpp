#include "platform/serial_port.h"

#include <gtest/gtest.h>
#include <termios.h>

#include <chrono>
#include <string>
#include <vector>

#include "gps/pty_pair.h"

namespace vg {
namespace {

using namespace std::chrono_literals;

termios attributes(const SerialPort& port) {
    termios tio{};
    tcgetattr(port.fd(), &tio);
    return tio;
}

TEST(SerialPortSettings, LineSettingsMapOntoTermios) {
    test::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slave_path()));
    SerialPort second;
    EXPECT_FALSE(second.open(pty.slave_path()));  // no sharing

    ASSERT_TRUE(port.configure({1, 4800, 8, 0, 0, 0}));
    termios t = attributes(port);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B4800));
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);

    // 14400 has no B-constant: set and read back through termios2.
    ASSERT_TRUE(port.configure({1, 14400, 8, 0, 0, 0}));
    EXPECT_EQ(read_custom_baud_rate(port.fd()), 14400u);

    // Refused settings.
    EXPECT_FALSE(port.configure({1, 4800, 8, 0, 1, 0}));  // one and a half stop bits
    EXPECT_FALSE(port.configure({1, 4800, 9, 0, 0, 0}));
    EXPECT_FALSE(port.configure({1, 4800, 4, 0, 0, 0}));
    EXPECT_FALSE(port.configure({1, 4800, 8, 5, 0, 0}));
    EXPECT_FALSE(port.configure({1, 0, 8, 0, 0, 0}));
}

// A pseudo-terminal forces eight bits without parity, so the mapping is checked on the record.
TEST(SerialPortSettings, TermiosRecordForEachSetting) {
    termios t{};
    ASSERT_TRUE(apply_line_settings({1, 4800, 8, 0, 0, 0}, t));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | INPCK), 0u);
    EXPECT_TRUE(t.c_cflag & CLOCAL);
    EXPECT_TRUE(t.c_cflag & CREAD);

    // Seven bits, mark parity, two stop bits, RTS/CTS and XON/XOFF with 0x11 / 0x13.
    ASSERT_TRUE(apply_line_settings({1, 9600, 7, 3, 2, kFlowRtsCts | kFlowXonXoff}, t));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), static_cast<tcflag_t>(PARENB | PARODD | CMSPAR));
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_TRUE(t.c_cflag & CRTSCTS);
    EXPECT_TRUE(t.c_iflag & INPCK);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_EQ(t.c_cc[VSTART], 0x11);
    EXPECT_EQ(t.c_cc[VSTOP], 0x13);

    ASSERT_TRUE(apply_line_settings({1, 4800, 8, 4, 0, 0}, t));  // space
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), static_cast<tcflag_t>(PARENB | CMSPAR));
    ASSERT_TRUE(apply_line_settings({1, 4800, 8, 1, 0, 0}, t));  // odd
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), static_cast<tcflag_t>(PARENB | PARODD));
    ASSERT_TRUE(apply_line_settings({1, 4800, 5, 2, 0, kFlowDtrDsr}, t));  // even; DTR/DSR changes nothing
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), static_cast<tcflag_t>(PARENB));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS5));
    EXPECT_FALSE(t.c_cflag & CRTSCTS);
}

TEST(SerialPortIo, ReadsAtMostWhatIsAskedAndWaitsAreWakeable) {
    test::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slave_path()));
    ASSERT_TRUE(port.configure({1, 9600, 8, 0, 0, 0}));
    WakeEvent wake;
    ASSERT_TRUE(wake.open());

    std::uint8_t buf[100];
    auto r = port.read_waiting(buf, 80);
    EXPECT_EQ(r.status, SerialPort::ReadStatus::Nothing);
    EXPECT_EQ(port.wait(&wake, 50), SerialPort::WaitResult::TimedOut);

    // A 500-byte burst is read in pieces of at most 80.
    std::string burst(500, 'x');
    for (std::size_t i = 0; i < burst.size(); ++i) burst[i] = static_cast<char>('a' + i % 26);
    pty.send(burst);
    ASSERT_EQ(port.wait(&wake, 5000), SerialPort::WaitResult::Readable);
    std::string got;
    ASSERT_TRUE(test::wait_until([&] {
        r = port.read_waiting(buf, 80);
        EXPECT_LE(r.count, 80u);
        got.append(reinterpret_cast<char*>(buf), r.count);
        return got.size() >= burst.size();
    }));
    EXPECT_EQ(got, burst);

    // Another thread's wake-up ends the wait.
    wake.raise();
    EXPECT_EQ(port.wait(&wake, 5000), SerialPort::WaitResult::Woken);

    // Writes reach the peer.
    const std::string hello = "EARTHA\r\n";
    EXPECT_TRUE(port.write(reinterpret_cast<const std::uint8_t*>(hello.data()), hello.size(), 100));
    EXPECT_EQ(pty.receive(hello.size()), hello);

    // A peer that never reads: the write ends at its time-out and still counts as issued.
    std::vector<std::uint8_t> big(4 << 20, 0x55);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(port.write(big.data(), big.size(), 100));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);

    // The peer goes away: a hang-up, and no data.
    pty.hang_up();
    SerialPort::WaitResult w = SerialPort::WaitResult::TimedOut;
    for (int i = 0; i < 50 && w == SerialPort::WaitResult::TimedOut; ++i) w = port.wait(nullptr, 100);
    EXPECT_EQ(w, SerialPort::WaitResult::HungUp);
    EXPECT_NE(port.read_waiting(buf, 80).status, SerialPort::ReadStatus::Data);

    // Nothing open: clear failures.
    SerialPort closed;
    EXPECT_FALSE(closed.write(buf, 1, 10));
    EXPECT_EQ(closed.read_waiting(buf, 80).status, SerialPort::ReadStatus::Failed);
    EXPECT_FALSE(closed.configure({1, 4800, 8, 0, 0, 0}));
    EXPECT_FALSE(closed.open("/nonexistent/tty"));
}

}  // namespace
}  // namespace vg
