// The serial port on the Win32 communications API: the port opened for overlapped I/O, its device
// control block for the line settings, and overlapped reads, writes and comm-event waits, each with
// its own manual-reset event, so one read and one write may be outstanding at once and a wait can
// be ended by the caller's wake-up event.
#include <windows.h>

#include <cerrno>

#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <string>

#include "platform/serial_port.h"

namespace vg {

namespace {

constexpr DWORD kQueueSize = 4096;
constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

// "COM3" or "com12" become the device-namespace form, which every port number needs above 9.
std::wstring device_name(const std::string& path) {
    std::string name = path;
    if (name.size() > 3 && (name[0] == 'c' || name[0] == 'C') && (name[1] == 'o' || name[1] == 'O') &&
        (name[2] == 'm' || name[2] == 'M')) {
        bool digits = true;
        for (std::size_t i = 3; i < name.size(); ++i) digits = digits && std::isdigit(static_cast<unsigned char>(name[i]));
        if (digits) name = "\\\\.\\COM" + name.substr(3);
    }
    const int size = MultiByteToWideChar(CP_UTF8, 0, name.c_str(), -1, nullptr, 0);
    if (size <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, name.c_str(), -1, wide.data(), size);
    wide.resize(static_cast<std::size_t>(size - 1));
    return wide;
}

// The bytes waiting in the input queue, or -1 when the port reports an error (a device gone).
long waiting_bytes(HANDLE h) {
    DWORD errors = 0;
    COMSTAT stat{};
    if (!ClearCommError(h, &errors, &stat)) return -1;
    return static_cast<long>(stat.cbInQue);
}

// Ends an outstanding overlapped operation and waits for the system to let go of its record.
void cancel_and_settle(HANDLE h, OVERLAPPED& ov) {
    CancelIoEx(h, &ov);
    DWORD ignored = 0;
    GetOverlappedResult(h, &ov, &ignored, TRUE);
}

}  // namespace

struct SerialPort::PendingWait {
    OVERLAPPED ov{};
    DWORD mask = 0;
    bool issued = false;
};

std::string default_serial_device(int port_number) { return "\\\\.\\COM" + std::to_string(port_number); }

bool SerialPort::open(const std::string& path) {
    close();
    open_error_ = 0;
    const std::wstring name = device_name(path);
    if (name.empty()) {
        open_error_ = ENOENT;
        return false;
    }
    // No sharing: a second open of the same port fails while this one holds it.
    HANDLE h = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        // Windows answers "access denied" for a port another program holds.
        switch (GetLastError()) {
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION: open_error_ = EBUSY; break;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND: open_error_ = ENOENT; break;
        default: open_error_ = EIO; break;
        }
        return false;
    }
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 1000;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;
    read_event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    write_event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    wait_event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    handle_ = h;
    if (!read_event_ || !write_event_ || !wait_event_ || !SetCommMask(h, EV_RXCHAR) ||
        !SetCommTimeouts(h, &timeouts)) {
        close();
        return false;
    }
    SetupComm(h, kQueueSize, kQueueSize);  // a hint some drivers ignore
    PurgeComm(h, kPurgeAll);
    return true;
}

void SerialPort::close() {
    if (handle_) {
        if (pending_ && pending_->issued) {
            // An emptied mask ends the outstanding wait; the record is given back before it goes.
            SetCommMask(handle_, 0);
            if (WaitForSingleObject(pending_->ov.hEvent, 2000) != WAIT_OBJECT_0) CancelIoEx(handle_, &pending_->ov);
            DWORD ignored = 0;
            GetOverlappedResult(handle_, &pending_->ov, &ignored, TRUE);
        }
        CloseHandle(handle_);
        handle_ = nullptr;
    }
    delete pending_;
    pending_ = nullptr;
    for (void** event : {&read_event_, &write_event_, &wait_event_}) {
        if (*event) {
            CloseHandle(*event);
            *event = nullptr;
        }
    }
}

bool SerialPort::configure(const LineSettings& s) {
    if (!handle_ || s.baud_rate == 0) return false;
    if (s.byte_size < 5 || s.byte_size > 8 || s.parity < 0 || s.parity > 4 || s.stop_bits < 0 || s.stop_bits > 2)
        return false;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle_, &dcb)) return false;
    dcb.BaudRate = s.baud_rate;
    dcb.ByteSize = static_cast<BYTE>(s.byte_size);
    dcb.Parity = static_cast<BYTE>(s.parity);       // NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY, SPACEPARITY
    dcb.StopBits = static_cast<BYTE>(s.stop_bits);  // ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS
    dcb.fBinary = 1;
    dcb.fParity = 1;
    const bool dtr_dsr = s.flow_control & kFlowDtrDsr;
    const bool rts_cts = s.flow_control & kFlowRtsCts;
    const bool xon_xoff = s.flow_control & kFlowXonXoff;
    dcb.fOutxDsrFlow = dtr_dsr;
    dcb.fDtrControl = dtr_dsr ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_ENABLE;
    dcb.fOutxCtsFlow = rts_cts;
    dcb.fRtsControl = rts_cts ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    dcb.fOutX = xon_xoff;
    dcb.fInX = xon_xoff;
    dcb.XonLim = 100;
    dcb.XoffLim = 100;
    dcb.XonChar = static_cast<char>(kXonChar);
    dcb.XoffChar = static_cast<char>(kXoffChar);
    if (!SetCommState(handle_, &dcb)) return false;

    COMMTIMEOUTS timeouts{};
    if (GetCommTimeouts(handle_, &timeouts)) {
        timeouts.WriteTotalTimeoutMultiplier = write_timeout_per_byte_ms(s.baud_rate);
        SetCommTimeouts(handle_, &timeouts);
    }
    return true;
}

SerialPort::ReadResult SerialPort::read_waiting(std::uint8_t* buffer, std::size_t max) {
    ReadResult result;
    if (!handle_) {
        result.status = ReadStatus::Failed;
        return result;
    }
    const long waiting = waiting_bytes(handle_);
    if (waiting < 0) {
        result.status = ReadStatus::Failed;
        return result;
    }
    if (waiting == 0 || max == 0) return result;
    const DWORD want = static_cast<DWORD>(static_cast<std::size_t>(waiting) < max ? static_cast<std::size_t>(waiting) : max);
    OVERLAPPED ov{};
    ov.hEvent = read_event_;
    ResetEvent(read_event_);
    DWORD got = 0;
    if (!ReadFile(handle_, buffer, want, nullptr, &ov)) {
        if (GetLastError() != ERROR_IO_PENDING) {
            result.status = waiting_bytes(handle_) < 0 ? ReadStatus::Failed : ReadStatus::Nothing;
            return result;
        }
    }
    // Bounded: the port's total read time-out ends a read the driver cannot fill.
    if (!GetOverlappedResult(handle_, &ov, &got, TRUE)) waiting_bytes(handle_);
    result.count = got;
    result.status = got > 0 ? ReadStatus::Data : ReadStatus::Nothing;
    return result;
}

bool SerialPort::write(const std::uint8_t* data, std::size_t size, unsigned timeout_ms) {
    if (!handle_) return false;
    if (size == 0) return true;
    OVERLAPPED ov{};
    ov.hEvent = write_event_;
    ResetEvent(write_event_);
    if (!WriteFile(handle_, data, static_cast<DWORD>(size), nullptr, &ov)) {
        if (GetLastError() != ERROR_IO_PENDING) {
            waiting_bytes(handle_);  // clears the port's error state
            return false;
        }
        // A write the peer does not take (flow control) ends at the time-out and counts as done.
        if (WaitForSingleObject(write_event_, timeout_ms) != WAIT_OBJECT_0) {
            cancel_and_settle(handle_, ov);
            return true;
        }
        DWORD sent = 0;
        if (!GetOverlappedResult(handle_, &ov, &sent, FALSE)) waiting_bytes(handle_);
    }
    return true;
}

void SerialPort::purge() {
    if (handle_) PurgeComm(handle_, kPurgeAll);
}

void SerialPort::set_dtr(bool raised) {
    if (handle_) EscapeCommFunction(handle_, raised ? SETDTR : CLRDTR);
}

SerialPort::WaitResult SerialPort::wait(const WakeEvent* wake, int timeout_ms) {
    if (!handle_) return WaitResult::HungUp;
    const ULONGLONG start = GetTickCount64();
    // Milliseconds left of the wait (INFINITE for none).
    auto left = [&]() -> DWORD {
        if (timeout_ms < 0) return INFINITE;
        const ULONGLONG spent = GetTickCount64() - start;
        return spent >= static_cast<ULONGLONG>(timeout_ms) ? 0 : static_cast<DWORD>(timeout_ms - spent);
    };
    if (!pending_) pending_ = new PendingWait;
    PendingWait& w = *pending_;
    // Where the driver cannot keep a comm-event wait (Wine on a silent terminal fails it at once),
    // the wait polls the queue in short steps instead, still ended at once by the wake-up event and
    // never before the time given.
    auto pause = [&]() -> bool {
        const DWORD step = std::min<DWORD>(20, left());
        if (wake) return wake->wait(static_cast<int>(step));
        Sleep(step);
        return false;
    };
    for (;;) {
        if (wake && wake->wait(0)) return WaitResult::Woken;
        const long waiting = waiting_bytes(handle_);
        if (waiting < 0) return WaitResult::HungUp;
        if (waiting > 0) return WaitResult::Readable;

        if (!w.issued) {
            w.ov = OVERLAPPED{};
            w.ov.hEvent = wait_event_;
            ResetEvent(wait_event_);
            w.mask = 0;
            if (WaitCommEvent(handle_, &w.mask, &w.ov)) {
                if (w.mask & EV_RXCHAR) return WaitResult::Readable;
                // Done at once without data (some drivers, and Wine, report other events so):
                // look again after a short pause, within the time given.
                if (left() == 0) return WaitResult::TimedOut;
                if (pause()) return WaitResult::Woken;
                continue;
            }
            if (GetLastError() != ERROR_IO_PENDING) {
                if (waiting_bytes(handle_) < 0) return WaitResult::HungUp;
                if (left() == 0) return WaitResult::TimedOut;
                if (pause()) return WaitResult::Woken;
                continue;
            }
            w.issued = true;
        }

        HANDLE events[2] = {wait_event_, wake ? static_cast<HANDLE>(wake->handle()) : nullptr};
        const DWORD count = events[1] ? 2 : 1;
        const DWORD r = WaitForMultipleObjects(count, events, FALSE, left());
        if (r == WAIT_OBJECT_0) {
            w.issued = false;
            DWORD ignored = 0;
            if (!GetOverlappedResult(handle_, &w.ov, &ignored, FALSE)) {
                if (waiting_bytes(handle_) < 0) return WaitResult::HungUp;
                if (left() == 0) return WaitResult::TimedOut;
                if (pause()) return WaitResult::Woken;
                continue;
            }
            if (w.mask & EV_RXCHAR) return WaitResult::Readable;
            continue;  // another event: look at the queue again
        }
        // The comm-event wait stays outstanding for the next call.
        if (r == WAIT_OBJECT_0 + 1) return WaitResult::Woken;
        if (r == WAIT_TIMEOUT) {
            const long remaining = waiting_bytes(handle_);
            return remaining < 0 ? WaitResult::HungUp : remaining > 0 ? WaitResult::Readable : WaitResult::TimedOut;
        }
        return WaitResult::HungUp;
    }
}

}  // namespace vg
