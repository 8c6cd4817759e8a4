// IPv4 stream sockets on both systems: POSIX sockets on Linux, Winsock on Windows (started once per
// process). Socket descriptors are kept as int; Winsock handles are small numbers and INVALID_SOCKET
// becomes -1. Sockets made here are non-blocking: every wait goes through poll_sockets with a bound.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#endif

#include <string>

#include "platform/socket_wake.h"

namespace vg {

// Starts the socket library once (Winsock 2.2; released when the program ends). True when usable.
bool sockets_startup();

// A new non-blocking IPv4 TCP (or UDP) socket that child processes do not inherit; -1 on failure.
int open_socket(bool datagram = false);
// The same for an address of getaddrinfo (any family, type and protocol).
int open_socket_for(int family, int socktype, int protocol);
// A non-blocking connection taken from a listening socket; -1 when none was waiting or on failure.
int accept_socket(int listen_fd);
void close_socket(int fd);
// Ends sending on a connection (the peer reads the end of the stream).
void shutdown_sending(int fd);
// The error of the last socket call, with the names of errno (EAGAIN, EINPROGRESS, ETIMEDOUT,
// ECONNREFUSED, ...) on both systems.
int socket_errno();
// The outcome of a non-blocking connect (SO_ERROR), with the same names; 0 when it succeeded.
int pending_socket_error(int fd);
// The text of such an error, the same on both systems ("Connection refused"); the C library of
// Windows has no texts for the socket errors.
std::string socket_error_text(int error);
// One entry of a poll_sockets() set.
inline pollfd poll_entry(int fd, short events) {
    pollfd p{};
#ifdef _WIN32
    p.fd = fd < 0 ? INVALID_SOCKET : static_cast<SOCKET>(fd);
#else
    p.fd = fd;
#endif
    p.events = events;
    return p;
}

// poll() over sockets; -1 with socket_errno() set on failure.
int poll_sockets(pollfd* fds, unsigned count, int timeout_ms);
// Lets a server bind its port again at once after a restart, while no other program may bind the
// same address beside it: SO_REUSEADDR on Linux, SO_EXCLUSIVEADDRUSE on Windows (where
// SO_REUSEADDR would let another program take the port over). For a `datagram` listener nothing is
// set on Linux, where SO_REUSEADDR on UDP would let a second socket share the port and take
// datagrams meant for ours; Windows sets SO_EXCLUSIVEADDRUSE as for a stream.
void set_server_address_options(int fd, bool datagram = false);

// Flags for send and recv on the non-blocking sockets (no SIGPIPE on Linux).
#ifdef _WIN32
inline constexpr int kSendFlags = 0;
inline constexpr int kReceiveFlags = 0;
#else
inline constexpr int kSendFlags = MSG_NOSIGNAL | MSG_DONTWAIT;
inline constexpr int kReceiveFlags = MSG_DONTWAIT;
#endif

}  // namespace vg
