// The Win32 serial port on real COM ports (under Wine Linux pseudo-terminals, see gps/pty_pair.h).
// On one silent port: line settings read back through the Win32 API, and a blocked overlapped wait
// ended by the wake-up event close_link raises. Through a null-modem pair: data both ways.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "gps/pty_pair.h"
#include "platform/serial_port.h"

namespace vg {
namespace {

using namespace std::chrono_literals;

// Wine runs the port on a Linux terminal: it does not enforce exclusive opens of devices, runs only
// the rates termios has constants for, and reports RTS handshake as RTS enabled.
bool under_wine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

DCB read_back(const SerialPort& port) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    EXPECT_TRUE(GetCommState(static_cast<HANDLE>(port.handle()), &dcb));
    return dcb;
}

#define VG_REQUIRE_COM_PORT(name)                                                                  \
    const std::string name = test::silent_com_port();                                             \
    if (name.empty()) GTEST_SKIP() << "no COM port: set VG_TEST_COM_PORT (scripts/test --windows makes one under Wine)"

TEST(SerialPortWindows, ComNamesOpenExclusivelyAndSettingsReadBack) {
    VG_REQUIRE_COM_PORT(name);
    SerialPort port;
    ASSERT_TRUE(port.open(name)) << name;  // "COM1": the device-namespace form is made here
    SerialPort second;
    if (!under_wine()) {
        EXPECT_FALSE(second.open(name));  // no sharing
    }

    ASSERT_TRUE(port.configure({1, 4800, 8, 0, 0, 0}));
    DCB dcb = read_back(port);
    EXPECT_EQ(dcb.BaudRate, 4800u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_FALSE(dcb.fOutX);
    EXPECT_FALSE(dcb.fInX);
    EXPECT_FALSE(dcb.fOutxCtsFlow);

    // Two stop bits, RTS/CTS and XON/XOFF with 0x11 / 0x13 at 14400 (no termios constant).
    const unsigned rate = under_wine() ? 19200 : 14400;
    ASSERT_TRUE(port.configure({1, rate, 8, 0, 2, kFlowRtsCts | kFlowXonXoff}));
    dcb = read_back(port);
    EXPECT_EQ(dcb.BaudRate, rate);
    EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
    EXPECT_TRUE(dcb.fOutxCtsFlow);
    if (!under_wine()) {
        EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_HANDSHAKE));
    }
    EXPECT_TRUE(dcb.fOutX);
    EXPECT_TRUE(dcb.fInX);
    EXPECT_EQ(static_cast<unsigned char>(dcb.XonChar), kXonChar);
    EXPECT_EQ(static_cast<unsigned char>(dcb.XoffChar), kXoffChar);

    // The per-byte write time-out follows the rate.
    COMMTIMEOUTS timeouts{};
    ASSERT_TRUE(GetCommTimeouts(static_cast<HANDLE>(port.handle()), &timeouts));
    EXPECT_EQ(timeouts.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier, 1u);  // 19200 / rate

    // Refused settings.
    EXPECT_FALSE(port.configure({1, 4800, 9, 0, 0, 0}));
    EXPECT_FALSE(port.configure({1, 4800, 4, 0, 0, 0}));
    EXPECT_FALSE(port.configure({1, 4800, 8, 5, 0, 0}));
    EXPECT_FALSE(port.configure({1, 0, 8, 0, 0, 0}));

    // Nothing open, or no such port: clear failures.
    port.close();
    std::uint8_t buf[4];
    EXPECT_FALSE(port.write(buf, 1, 10));
    EXPECT_EQ(port.read_waiting(buf, 4).status, SerialPort::ReadStatus::Failed);
    EXPECT_FALSE(port.configure({1, 4800, 8, 0, 0, 0}));
    EXPECT_FALSE(port.open("COM99"));
}

TEST(SerialPortWindows, OverlappedReadsWritesAndAWakeableWait) {
    test::PtyPair pair;
    VG_REQUIRE_SERIAL_PEER(pair);
    SerialPort port;
    ASSERT_TRUE(port.open(pair.slave_path()));
    ASSERT_TRUE(port.configure({1, 9600, 8, 0, 0, 0}));
    WakeEvent wake;
    ASSERT_TRUE(wake.open());

    std::uint8_t buf[100];
    EXPECT_EQ(port.read_waiting(buf, 80).status, SerialPort::ReadStatus::Nothing);
    EXPECT_EQ(port.wait(&wake, 50), SerialPort::WaitResult::TimedOut);

    // A 500-byte burst is read in pieces of at most 80.
    std::string burst(500, 'x');
    for (std::size_t i = 0; i < burst.size(); ++i) burst[i] = static_cast<char>('a' + i % 26);
    pair.send(burst);
    ASSERT_EQ(port.wait(&wake, 10000), SerialPort::WaitResult::Readable);
    std::string got;
    ASSERT_TRUE(test::wait_until([&] {
        const auto r = port.read_waiting(buf, 80);
        EXPECT_LE(r.count, 80u);
        got.append(reinterpret_cast<char*>(buf), r.count);
        if (r.count == 0) port.wait(&wake, 100);
        return got.size() >= burst.size();
    }));
    EXPECT_EQ(got, burst);

    // Writes reach the peer.
    const std::string hello = "EARTHA\r\n";
    EXPECT_TRUE(port.write(reinterpret_cast<const std::uint8_t*>(hello.data()), hello.size(), 1000));
    EXPECT_EQ(pair.receive(hello.size()), hello);

    // After a wait ended by the wake-up, data is still seen.
    const auto start = std::chrono::steady_clock::now();
    std::thread closer([&] {
        std::this_thread::sleep_for(200ms);
        wake.raise();
    });
    EXPECT_EQ(port.wait(&wake, 60000), SerialPort::WaitResult::Woken);
    closer.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    wake.reset();
    pair.send("$GPGGA\r\n");
    EXPECT_EQ(port.wait(&wake, 10000), SerialPort::WaitResult::Readable);
}

// A wait blocked in the overlapped comm-event wait on a port where nothing comes ends when another
// thread raises the wake-up event, as close_link does, well within close_link's 5-second bound (a
// wait-out would take a minute); a wake-up raised before the wait ends it at once; the wait left
// outstanding is taken up again by the next wait, and close() ends it.
TEST(SerialPortWindows, ABlockedWaitOnASilentPortEndsAtTheWakeUp) {
    VG_REQUIRE_COM_PORT(name);
    SerialPort port;
    ASSERT_TRUE(port.open(name)) << name;
    ASSERT_TRUE(port.configure({1, 4800, 8, 0, 0, 0}));
    WakeEvent wake;
    ASSERT_TRUE(wake.open());
    EXPECT_EQ(port.wait(&wake, 50), SerialPort::WaitResult::TimedOut);

    for (int round = 0; round < 2; ++round) {
        const auto start = std::chrono::steady_clock::now();
        std::thread closer([&] {
            std::this_thread::sleep_for(300ms);
            wake.raise();
        });
        EXPECT_EQ(port.wait(&wake, 60000), SerialPort::WaitResult::Woken) << round;
        closer.join();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << round;
        wake.reset();
    }
    wake.raise();
    EXPECT_EQ(port.wait(&wake, 60000), SerialPort::WaitResult::Woken);
    wake.reset();
    EXPECT_EQ(port.wait(&wake, 50), SerialPort::WaitResult::TimedOut);

    // close() ends the outstanding comm-event wait promptly, and the port opens again.
    const auto start = std::chrono::steady_clock::now();
    port.close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    ASSERT_TRUE(port.open(name));
    EXPECT_EQ(port.wait(&wake, 50), SerialPort::WaitResult::TimedOut);
}

}  // namespace
}  // namespace vg
