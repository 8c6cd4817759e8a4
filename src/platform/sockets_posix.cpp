#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <initializer_list>

#include "platform/sockets.h"

namespace vg {

bool sockets_startup() { return true; }

int open_socket(bool datagram) {
    return ::socket(AF_INET, (datagram ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
}

int open_socket_for(int family, int socktype, int protocol) {
    return ::socket(family, socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, protocol);
}

int accept_socket(int listen_fd) { return ::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK); }

void close_socket(int fd) {
    if (fd >= 0) ::close(fd);
}

void shutdown_sending(int fd) { ::shutdown(fd, SHUT_WR); }

int socket_errno() { return errno; }

std::string socket_error_text(int error) { return std::strerror(error); }

int pending_socket_error(int fd) {
    int error = 0;
    socklen_t len = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) < 0) return errno;
    return error;
}

int poll_sockets(pollfd* fds, unsigned count, int timeout_ms) { return ::poll(fds, count, timeout_ms); }

void set_server_address_options(int fd, bool datagram) {
    if (datagram) return;
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
}

bool SocketWake::open() {
    close();
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    read_fd_ = fds[0];
    write_fd_ = fds[1];
    return true;
}

void SocketWake::close() {
    for (int* fd : {&read_fd_, &write_fd_}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

void SocketWake::raise() {
    const char c = 'x';
    if (write_fd_ >= 0) (void)!::write(write_fd_, &c, 1);
}

}  // namespace vg
