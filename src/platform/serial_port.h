// A serial port: open by device path, line settings, read what is waiting, write with a time-out,
// purge, DTR, and a wait for data that another thread can end through a wake-up event. Linux uses
// termios (serial_port_posix.cpp), Windows the Win32 communications API with overlapped I/O
// (serial_port_windows.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/line_settings.h"
#include "platform/wake_event.h"

#ifndef _WIN32
struct termios;
#endif

namespace vg {

inline constexpr unsigned char kXonChar = 0x11;
inline constexpr unsigned char kXoffChar = 0x13;

// The write time-out per byte at a baud rate: 19200 / baud in whole milliseconds.
inline unsigned write_timeout_per_byte_ms(unsigned baud_rate) { return baud_rate ? 19200 / baud_rate : 0; }

// The device of COMn when the settings name none: /dev/ttyS(n-1) on Linux, \\.\COMn on Windows.
std::string default_serial_device(int port_number);

// Owns one open port (exclusive; on Linux non-blocking and not the controlling terminal, on Windows
// opened for overlapped I/O). `path` on Windows is COMn (any case), \\.\COMn or another device name.
class SerialPort {
public:
    SerialPort() = default;
    ~SerialPort() { close(); }
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens the device for reading and writing; false when it does not exist or is in use.
    bool open(const std::string& path);
    void close();
#ifdef _WIN32
    bool is_open() const { return handle_ != nullptr; }
    void* handle() const { return handle_; }
#else
    bool is_open() const { return fd_ >= 0; }
    int fd() const { return fd_; }
#endif

    // Raw line with the given settings; false when the port refuses them (a rate it cannot run, a
    // byte size outside 5..8, a parity outside 0..4, one and a half stop bits on Linux). On Windows
    // DTR/DSR flow control sets DSR output flow and DTR handshake.
    bool configure(const LineSettings& settings);

    enum class ReadStatus { Data, Nothing, Failed };
    struct ReadResult {
        std::size_t count = 0;
        ReadStatus status = ReadStatus::Nothing;
    };
    // Reads at most `max` of the bytes already waiting; never waits. Failed on a read error or
    // when the device has gone (hang-up).
    ReadResult read_waiting(std::uint8_t* buffer, std::size_t max);

    // Writes all bytes unless `timeout_ms` passes first. False only when the write could not be
    // issued at all (port closed, or an error before any byte went out).
    bool write(const std::uint8_t* data, std::size_t size, unsigned timeout_ms);

    // Discards what is queued in both directions.
    void purge();
    void set_dtr(bool raised);

    enum class WaitResult { Readable, Woken, TimedOut, HungUp };
    // Waits until the port has data, `wake` (when given) is raised, or `timeout_ms` passes. HungUp
    // when the device reports a hang-up or an error; bytes that arrived before it may still be
    // waiting. Called by one thread at a time.
    WaitResult wait(const WakeEvent* wake, int timeout_ms);

    // The errno of the last failed open (EBUSY when another holder keeps the port), else 0.
    int open_error() const { return open_error_; }

private:
    int open_error_ = 0;
#ifdef _WIN32
    void* handle_ = nullptr;
    // Manual-reset events of the overlapped reads, writes and comm-event waits.
    void* read_event_ = nullptr;
    void* write_event_ = nullptr;
    void* wait_event_ = nullptr;
    // The comm-event wait stays outstanding across calls when a wait ends by time-out or wake-up
    // (the next call takes it up again), so no wait has to be cancelled; close() ends it.
    struct PendingWait;
    PendingWait* pending_ = nullptr;
#else
    int fd_ = -1;
#endif
};

#ifndef _WIN32
// Fills `tio` (as read from the port) for the line settings, the rate left out; false when the
// settings have no termios form (byte size outside 5..8, one and a half stop bits, parity outside 0..4).
bool apply_line_settings(const LineSettings& settings, struct ::termios& tio);

// Sets an arbitrary rate through the kernel's termios2 interface; false when refused. The port's
// other settings are kept. Lives in its own file because the kernel's termios header cannot be
// combined with the C library's.
bool set_custom_baud_rate(int fd, unsigned baud_rate);
// The output rate the port reports through termios2, 0 when unknown.
unsigned read_custom_baud_rate(int fd);
#endif

}  // namespace vg
