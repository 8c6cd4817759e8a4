#include "net/position_server.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "net/http_client.h"
#include "platform/clock.h"
#include "platform/sockets.h"
#include "platform/window.h"
#include "settings/settings_file.h"

namespace vg {

namespace {

using SteadyClock = std::chrono::steady_clock;

// The end of the header (just past the first CR LF CR LF or LF LF), or npos.
std::size_t header_end(std::string_view text) {
    const std::size_t crlf = text.find("\r\n\r\n");
    const std::size_t lf = text.find("\n\n");
    if (crlf == std::string_view::npos && lf == std::string_view::npos) return std::string_view::npos;
    if (lf == std::string_view::npos || (crlf != std::string_view::npos && crlf < lf)) return crlf + 4;
    return lf + 2;
}

// The value of a Content-length field (name in any case) within `header`, when it is a number.
std::optional<std::size_t> content_length(std::string_view header) {
    static constexpr std::string_view kName = "content-length:";
    for (std::size_t at = 0; at + kName.size() <= header.size(); ++at) {
        if (at != 0 && header[at - 1] != '\n') continue;
        bool match = true;
        for (std::size_t i = 0; i < kName.size() && match; ++i)
            match = std::tolower(static_cast<unsigned char>(header[at + i])) == kName[i];
        if (!match) continue;
        std::string_view value = header.substr(at + kName.size());
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
        std::size_t n = 0;
        auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
        if (ec != std::errc() || end == value.data()) return std::nullopt;
        return n;
    }
    return std::nullopt;
}

bool has_version(std::string_view text) {
    return text.find("HTTP/1.0") != std::string_view::npos || text.find("HTTP/1.1") != std::string_view::npos;
}

}  // namespace

bool position_request_complete(std::string_view received) {
    const std::size_t end = header_end(received);
    if (end == std::string_view::npos) return false;
    const auto length = content_length(received.substr(0, end));
    return !length || received.size() - end >= *length;
}

PositionRequestOutcome handle_position_request(std::string_view received) {
    PositionRequestOutcome outcome;
    // The request is a text: it ends at the first NUL byte.
    if (auto nul = received.find('\0'); nul != std::string_view::npos) received = received.substr(0, nul);

    std::string_view text;
    std::string_view body;
    const std::size_t end = header_end(received);
    const auto length = end == std::string_view::npos ? std::nullopt : content_length(received.substr(0, end));
    if (length) {
        // At most the bytes that did arrive, whatever length the header claims.
        text = received.substr(0, end + std::min(received.size() - end, *length));
        body = text.substr(end);
    } else {
        text = received.size() >= 2 ? received.substr(0, received.size() - 2) : std::string_view();
        if (const std::size_t e = header_end(text); e != std::string_view::npos) body = text.substr(e);
    }

    if (text.substr(0, 3) == "GET") {
        outcome.reply = has_version(text);
    } else if (text.substr(0, 4) == "POST") {
        const std::string body_text(body);
        double latitude = 0, longitude = 0;
        if (std::sscanf(body_text.c_str(), "latitude=%lf&longitude=%lf", &latitude, &longitude) == 2 &&
            std::isfinite(latitude) && std::isfinite(longitude) && std::fabs(latitude) <= 90.0 &&
            std::fabs(longitude) <= 180.0) {
            outcome.latitude = latitude;
            outcome.longitude = longitude;
        }
        outcome.reply = has_version(text);
        outcome.repaint = true;
    }
    return outcome;
}

std::string position_reply(std::int64_t now) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t t = static_cast<std::time_t>(now);
    std::tm local{};
    char date[64] = "";
    if (local_parts(t, local) && local.tm_wday >= 0 && local.tm_wday < 7 && local.tm_mon >= 0 && local.tm_mon < 12)
        std::snprintf(date, sizeof date, "%s %s %02d %02d:%02d:%02d %d", kDays[local.tm_wday], kMonths[local.tm_mon],
                      local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, local.tm_year + 1900);
    char reply[256];
    std::snprintf(reply, sizeof reply, "HTTP/1.0 200 OK\r\nServer: Vor %d.%d\r\nDate: %s\r\nContent-length: 0\r\n\r\n",
                  1, 4, date);
    return reply;
}

std::int64_t PositionServer::now() const {
    return config_.clock ? config_.clock() : static_cast<std::int64_t>(std::time(nullptr));
}

void PositionServer::repaint() {
    if (window_) window_->repaint_now();
}

bool PositionServer::start(const PositionServerConfig& config) {
    if (thread_.joinable()) stop();
    config_ = config;
    server_running.store(1);

    std::uint32_t address = 0;
    std::string bind_text = config.bind_address;
    if (bind_text.empty()) {
        std::string value;
        if (read_setting(config.settings_dir / kIniFile, "bind", nullptr, value) == 1) {
            while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back()))) value.pop_back();
            while (!value.empty() && std::isspace(static_cast<unsigned char>(value.front()))) value.erase(0, 1);
            bind_text = value;
        }
    }
    address = bind_text.empty() ? local_address() : resolve_host(bind_text);
    if (address == 0) {
        std::printf("Error: %d in %s\n", -1, "GetLocalHost");
        std::fflush(stdout);
        server_running.store(0);
        return false;
    }

    listen_fd_ = open_socket();
    if (listen_fd_ < 0) {
        server_running.store(0);
        return false;
    }
    set_server_address_options(listen_fd_);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = address;
    addr.sin_port = htons(static_cast<std::uint16_t>(config.port));
    if (config.port < 0 || config.port > 65535 ||
        ::bind(listen_fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        std::printf("Error: %d in %s\n", config.port < 0 || config.port > 65535 ? EINVAL : socket_errno(), "bind()");
        std::fflush(stdout);
        close_socket(listen_fd_);
        listen_fd_ = -1;
        server_running.store(0);
        return false;
    }
    socklen_t len = sizeof addr;
    if (::listen(listen_fd_, 5) != 0 || ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
        !wake_.open()) {
        close_socket(listen_fd_);
        listen_fd_ = -1;
        server_running.store(0);
        return false;
    }
    port_.store(ntohs(addr.sin_port));
    thread_active_.store(true);
    thread_ = std::thread([this] { position_server(); });
    return true;
}

void PositionServer::stop(const std::function<void()>& between_steps) {
    server_running.store(0);
    if (!thread_.joinable()) return;
    wake_.raise();
    // The thread checks the flag at least every 100 ms and its only other wait is a bounded
    // repaint, so it ends well within the bound.
    for (int step = 0; step < 50 && thread_active_.load(); ++step) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (between_steps) between_steps();
    }
    thread_.join();
    wake_.close();
}

void PositionServer::position_server() {
    while (server_running.load()) {
        pollfd p[2] = {poll_entry(listen_fd_, POLLIN), poll_entry(wake_.fd(), POLLIN)};
        const int ready = poll_sockets(p, 2, 100);
        if (ready == 0 || (ready < 0 && socket_errno() == EINTR)) continue;
        if (ready > 0 && !(p[0].revents & POLLIN)) continue;  // woken: the loop test decides
        const int fd = ready > 0 ? accept_socket(listen_fd_) : -1;
        if (fd >= 0 && server_running.load()) {
            handle_connection(fd);
        } else if (fd >= 0) {
            close_socket(fd);
        } else {
            // A failing accept (no descriptors left, say) would otherwise repeat at once: pause,
            // staying wakeable.
            pollfd wake = poll_entry(wake_.fd(), POLLIN);
            poll_sockets(&wake, 1, 100);
        }

        const std::int64_t t = now();
        if (!server_running.load()) break;
        if (t - remote_fix_time.load() > kRemoteStaleSeconds) {
            const bool had_fix = fix_.update([](FixRecord& r) {
                const bool had = r.fix_dimension > 0;
                r.fix_dimension = 0;
                return had;
            });
            repaint();
            if (had_fix && config_.on_stale) config_.on_stale();
        }
    }
    close_socket(listen_fd_);
    listen_fd_ = -1;
    thread_active_.store(false);
}

void PositionServer::handle_connection(int fd) {
    std::string request;
    request.reserve(kPositionRequestBuffer);
    char buffer[4096];
    const auto deadline = SteadyClock::now() + config_.request_timeout;
    while (request.size() < kPositionRequestBuffer && server_running.load()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
        if (left <= 0) break;
        pollfd p = poll_entry(fd, POLLIN);
        const int ready = poll_sockets(&p, 1, static_cast<int>(std::min<long long>(left, 100)));
        if (ready < 0 && socket_errno() != EINTR) break;
        if (ready <= 0) continue;
        const std::size_t room = std::min(sizeof buffer, kPositionRequestBuffer - request.size());
        const long got = ::recv(fd, buffer, static_cast<int>(room), kReceiveFlags);
        if (got < 0 && (socket_errno() == EINTR || socket_errno() == EAGAIN)) continue;
        if (got <= 0) break;
        request.append(buffer, static_cast<std::size_t>(got));
        if (position_request_complete(request)) break;
    }
    // A client that sent nothing (or went silent before completing a request with nothing to take)
    // is dropped; whatever did arrive is handled as the request.
    if (request.empty() || !server_running.load()) {
        close_socket(fd);
        return;
    }

    const PositionRequestOutcome outcome = handle_position_request(request);
    if (outcome.has_position()) {
        const double lat = *outcome.latitude, lon = *outcome.longitude;
        fix_.update([&](FixRecord& r) {
            r.latitude = lat;
            r.longitude = lon;
            r.fix_dimension = 3;
        });
        remote_fix_time.store(now());
    }
    if (outcome.reply) {
        const std::string reply = position_reply(now());
        std::size_t at = 0;
        while (at < reply.size()) {
            pollfd p = poll_entry(fd, POLLOUT);
            if (poll_sockets(&p, 1, 1000) <= 0) break;
            const long sent = ::send(fd, reply.data() + at, static_cast<int>(reply.size() - at), kSendFlags);
            if (sent < 0 && (socket_errno() == EINTR || socket_errno() == EAGAIN)) continue;
            if (sent <= 0) break;
            at += static_cast<std::size_t>(sent);
        }
    }
    if (outcome.has_position() && config_.on_position) config_.on_position(*outcome.latitude, *outcome.longitude);
    if (outcome.repaint) repaint();
    if (outcome.reply) {
        // Let the client read the reply before the connection goes: end our side, then take what
        // the client still sends (a line end after its body) for a short, bounded time.
        shutdown_sending(fd);
        const auto linger_end = SteadyClock::now() + std::chrono::milliseconds(200);
        while (SteadyClock::now() < linger_end) {
            pollfd p = poll_entry(fd, POLLIN);
            if (poll_sockets(&p, 1, 50) <= 0) continue;
            if (::recv(fd, buffer, sizeof buffer, kReceiveFlags) <= 0) break;
        }
    }
    close_socket(fd);
}

}  // namespace vg
