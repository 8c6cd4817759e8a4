#include "platform/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>

namespace vg {

namespace {

// The B-constant of a standard rate, 0 when the rate has none.
speed_t standard_speed(unsigned baud) {
    switch (baud) {
        case 300: return B300;
        case 600: return B600;
        case 1200: return B1200;
        case 2400: return B2400;
        case 4800: return B4800;
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 115200: return B115200;
        case 230400: return B230400;
        default: return 0;
    }
}

}  // namespace

std::string default_serial_device(int port_number) { return "/dev/ttyS" + std::to_string(port_number - 1); }

bool SerialPort::open(const std::string& path) {
    close();
    open_error_ = 0;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        open_error_ = errno;
        return false;
    }
    // No sharing: a second open of the same port fails while this one holds it. TIOCEXCL keeps
    // other programs out (except the superuser); the lock keeps out every copy of this program.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || (isatty(fd) && ioctl(fd, TIOCEXCL) != 0)) {
        open_error_ = (errno == EWOULDBLOCK || errno == EAGAIN) ? EBUSY : errno;
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

void SerialPort::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool apply_line_settings(const LineSettings& s, termios& tio) {
    tcflag_t size;
    switch (s.byte_size) {
        case 5: size = CS5; break;
        case 6: size = CS6; break;
        case 7: size = CS7; break;
        case 8: size = CS8; break;
        default: return false;
    }
    if (s.stop_bits != 0 && s.stop_bits != 2) return false;  // one and a half has no termios form
    if (s.parity < 0 || s.parity > 4) return false;

    cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= size | CREAD | CLOCAL;
    tio.c_iflag &= ~static_cast<tcflag_t>(INPCK | IXON | IXOFF | IXANY);
    switch (s.parity) {
        case 1: tio.c_cflag |= PARENB | PARODD; break;
        case 2: tio.c_cflag |= PARENB; break;
        case 3: tio.c_cflag |= PARENB | CMSPAR | PARODD; break;  // mark
        case 4: tio.c_cflag |= PARENB | CMSPAR; break;           // space
        default: break;
    }
    if (s.parity != 0) tio.c_iflag |= INPCK;
    if (s.stop_bits == 2) tio.c_cflag |= CSTOPB;
    if (s.flow_control & kFlowRtsCts) tio.c_cflag |= CRTSCTS;
    if (s.flow_control & kFlowXonXoff) tio.c_iflag |= IXON | IXOFF;
    // DTR/DSR flow control has no termios form: DTR simply stays raised while the link is open.
    tio.c_cc[VSTART] = kXonChar;
    tio.c_cc[VSTOP] = kXoffChar;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    return true;
}

bool SerialPort::configure(const LineSettings& s) {
    if (fd_ < 0 || s.baud_rate == 0) return false;
    termios tio{};
    if (tcgetattr(fd_, &tio) != 0) return false;
    if (!apply_line_settings(s, tio)) return false;

    const speed_t speed = standard_speed(s.baud_rate);
    if (speed != 0) {
        if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0) return false;
    }
    if (tcsetattr(fd_, TCSANOW, &tio) != 0) return false;
    if (speed == 0 && !set_custom_baud_rate(fd_, s.baud_rate)) return false;

    // The driver may round a rate it cannot run; more than 3 % away counts as refused.
    const unsigned actual = read_custom_baud_rate(fd_);
    if (actual != 0) {
        const long diff = std::labs(static_cast<long>(actual) - static_cast<long>(s.baud_rate));
        if (diff * 100 > static_cast<long>(s.baud_rate) * 3) return false;
    }
    return true;
}

SerialPort::ReadResult SerialPort::read_waiting(std::uint8_t* buffer, std::size_t max) {
    ReadResult result;
    if (fd_ < 0) {
        result.status = ReadStatus::Failed;
        return result;
    }
    int waiting = 0;
    if (ioctl(fd_, FIONREAD, &waiting) != 0) {
        result.status = ReadStatus::Failed;
        return result;
    }
    if (waiting <= 0 || max == 0) return result;
    const std::size_t want = static_cast<std::size_t>(waiting) < max ? static_cast<std::size_t>(waiting) : max;
    const ssize_t n = ::read(fd_, buffer, want);
    if (n > 0) {
        result.count = static_cast<std::size_t>(n);
        result.status = ReadStatus::Data;
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        result.status = ReadStatus::Nothing;
    } else {
        result.status = ReadStatus::Failed;  // end of file (hang-up) or an error
    }
    return result;
}

bool SerialPort::write(const std::uint8_t* data, std::size_t size, unsigned timeout_ms) {
    if (fd_ < 0) return false;
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::milliseconds(timeout_ms);
    std::size_t sent = 0;
    bool first = true;
    while (sent < size) {
        const ssize_t n = ::write(fd_, data + sent, size - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            first = false;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return !first;  // refused before anything went out
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
        if (left <= 0) break;  // time-out: counts as completed
        pollfd p{fd_, POLLOUT, 0};
        if (poll(&p, 1, static_cast<int>(left)) < 0 && errno != EINTR) break;
        if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) break;
    }
    return true;
}

void SerialPort::purge() {
    if (fd_ >= 0) tcflush(fd_, TCIOFLUSH);
}

void SerialPort::set_dtr(bool raised) {
    if (fd_ < 0) return;
    int bits = TIOCM_DTR;
    // A pseudo-terminal has no modem lines; the request then fails harmlessly.
    ioctl(fd_, raised ? TIOCMBIS : TIOCMBIC, &bits);
}

SerialPort::WaitResult SerialPort::wait(const WakeEvent* wake, int timeout_ms) {
    const int wake_fd = wake ? wake->handle() : -1;
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_fd, POLLIN, 0}};
    const nfds_t count = wake_fd >= 0 ? 2 : 1;
    const int r = poll(fds, count, timeout_ms);
    if (r < 0) return errno == EINTR ? WaitResult::TimedOut : WaitResult::HungUp;
    if (r == 0) return WaitResult::TimedOut;
    if (count == 2 && (fds[1].revents & POLLIN)) return WaitResult::Woken;
    if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return WaitResult::HungUp;
    if (fds[0].revents & POLLIN) return WaitResult::Readable;
    return WaitResult::TimedOut;
}

}  // namespace vg
