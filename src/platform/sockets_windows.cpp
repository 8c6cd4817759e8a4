#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/sockets.h"

namespace vg {

namespace {

struct WinsockSession {
    bool ok = false;
    WinsockSession() {
        WSADATA data{};
        ok = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~WinsockSession() {
        if (ok) WSACleanup();
    }
};

int to_int(SOCKET s) { return s == INVALID_SOCKET ? -1 : static_cast<int>(s); }

void make_nonblocking_uninherited(SOCKET s) {
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
}

int errno_name(int e) {
    switch (e) {
        case WSAEWOULDBLOCK: return EAGAIN;
        case WSAEINPROGRESS: return EINPROGRESS;
        case WSAEINTR: return EINTR;
        case WSAETIMEDOUT: return ETIMEDOUT;
        case WSAECONNREFUSED: return ECONNREFUSED;
        case WSAECONNRESET: return ECONNRESET;
        case WSAECONNABORTED: return ECONNABORTED;
        case WSAEADDRINUSE: return EADDRINUSE;
        case WSAEADDRNOTAVAIL: return EADDRNOTAVAIL;
        case WSAENETUNREACH: return ENETUNREACH;
        case WSAEHOSTUNREACH: return EHOSTUNREACH;
        case WSAENOTCONN: return ENOTCONN;
        case WSAEINVAL: return EINVAL;
        case WSAEACCES: return EACCES;
        case WSAEMFILE: return EMFILE;
        case WSAENOTSOCK: return EBADF;
        default: return e;
    }
}

}  // namespace

bool sockets_startup() {
    static const WinsockSession session;
    return session.ok;
}

int open_socket(bool datagram) {
    if (!sockets_startup()) return -1;
    const SOCKET s = ::socket(AF_INET, datagram ? SOCK_DGRAM : SOCK_STREAM, datagram ? IPPROTO_UDP : IPPROTO_TCP);
    if (s == INVALID_SOCKET) return -1;
    make_nonblocking_uninherited(s);
    return to_int(s);
}

int open_socket_for(int family, int socktype, int protocol) {
    if (!sockets_startup()) return -1;
    const SOCKET s = ::socket(family, socktype, protocol);
    if (s == INVALID_SOCKET) return -1;
    make_nonblocking_uninherited(s);
    return to_int(s);
}

int accept_socket(int listen_fd) {
    const SOCKET s = ::accept(static_cast<SOCKET>(listen_fd), nullptr, nullptr);
    if (s == INVALID_SOCKET) return -1;
    make_nonblocking_uninherited(s);
    return to_int(s);
}

void close_socket(int fd) {
    if (fd >= 0) ::closesocket(static_cast<SOCKET>(fd));
}

void shutdown_sending(int fd) { ::shutdown(static_cast<SOCKET>(fd), SD_SEND); }

int socket_errno() { return errno_name(WSAGetLastError()); }

std::string socket_error_text(int error) {
    // glibc's texts, so that both systems say the same.
    switch (error) {
        case ETIMEDOUT: return "Connection timed out";
        case ECONNREFUSED: return "Connection refused";
        case ECONNRESET: return "Connection reset by peer";
        case ECONNABORTED: return "Software caused connection abort";
        case EADDRINUSE: return "Address already in use";
        case EADDRNOTAVAIL: return "Cannot assign requested address";
        case ENETUNREACH: return "Network is unreachable";
        case EHOSTUNREACH: return "No route to host";
        case ENOTCONN: return "Transport endpoint is not connected";
        default: return std::strerror(error);
    }
}

int pending_socket_error(int fd) {
    int error = 0;
    int len = sizeof error;
    if (::getsockopt(static_cast<SOCKET>(fd), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) != 0)
        return socket_errno();
    return error == 0 ? 0 : errno_name(error);
}

int poll_sockets(pollfd* fds, unsigned count, int timeout_ms) { return WSAPoll(fds, count, timeout_ms); }

void set_server_address_options(int fd, bool /*datagram*/) {
    BOOL one = TRUE;
    ::setsockopt(static_cast<SOCKET>(fd), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one),
                 sizeof one);
}

bool SocketWake::open() {
    close();
    read_fd_ = open_socket(true);
    if (read_fd_ < 0) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof addr;
    const SOCKET s = static_cast<SOCKET>(read_fd_);
    if (::bind(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
        ::connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        close();
        return false;
    }
    write_fd_ = read_fd_;  // connected to itself
    return true;
}

void SocketWake::close() {
    close_socket(read_fd_);
    read_fd_ = write_fd_ = -1;
}

void SocketWake::raise() {
    if (write_fd_ >= 0) ::send(static_cast<SOCKET>(write_fd_), "x", 1, 0);
}

}  // namespace vg
