#include "net/http_client.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "net/socket_util.h"
#include "platform/files.h"
#include "platform/sockets.h"
#include "settings/settings_file.h"

namespace vg {

namespace {

constexpr std::size_t kTransferBuffer = 16384;
constexpr std::size_t kUrlRoom = 1023;
constexpr std::string_view kFormType = "application/x-www-form-urlencoded";

void diagnostic_error(int code, const char* where) {
    std::printf("Error: %d in %s\n", code, where);
    std::fflush(stdout);
}

bool iequals_prefix(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return true;
}

bool icontains(std::string_view text, std::string_view word) {
    for (std::size_t i = 0; i + word.size() <= text.size(); ++i)
        if (iequals_prefix(text.substr(i), word)) return true;
    return false;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

// The target as it appears in a proxy request: the host, with the port when it is not 80 so that a
// proxy reaches the same server as a direct connection would.
std::string proxy_target(const UrlParts& target) {
    const int port = target.port == 0 ? 80 : target.port;
    if (port == 80) return target.host;
    return target.host + ":" + std::to_string(port);
}

// A text that can stand in a request line or header: no control characters, which would end the
// line early and let the rest of the text pass as header fields of its own.
bool sendable(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
    return true;
}

// An open connection to the peer of `target` (the proxy when one is set), or an invalid socket after
// the diagnostic line. `use_proxy` tells which route was taken.
net::Socket open_connection(const UrlParts& target, const HttpOptions& options, bool& use_proxy) {
    if (!sendable(target.host) || !sendable(target.path)) return {};
    net::Socket socket = net::make_tcp_socket();
    if (!socket.valid()) return {};

    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    any.sin_port = 0;
    if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&any), sizeof any) < 0) {
        diagnostic_error(socket_errno(), "bind()");
        return {};
    }

    const auto proxy = read_proxy_setting(options.settings_dir / kIniFile);
    use_proxy = proxy && proxy->port != 0;
    const std::string& peer_host = use_proxy ? proxy->host : target.host;
    int peer_port = use_proxy ? proxy->port : target.port;
    if (peer_port == 0) peer_port = 80;

    const std::uint32_t address = resolve_host(peer_host);
    if (address == 0) {
        diagnostic_error(-1, "GetLocalHost error");
        return {};
    }
    if (peer_port < 0 || peer_port > 65535) {
        diagnostic_error(EINVAL, "connect()");
        return {};
    }
    if (int error = net::connect_with_timeout(socket, address, peer_port, options.connect_timeout); error != 0) {
        diagnostic_error(error, "connect()");
        return {};
    }
    return socket;
}

// A file descriptor that is closed on every path.
struct FileDescriptor {
    int fd = -1;
    ~FileDescriptor() {
        if (fd >= 0) close_file(fd);
    }
    int close_now() {
        int r = close_file(fd);
        fd = -1;
        return r;
    }
};

bool write_all(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const long n = write_file_some(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Receives the header and the body into `fd` (discarded when -1) following the body rules.
// Returns true on success.
bool receive_into(const net::Socket& socket, int fd, std::string_view file_name, const HttpOptions& options) {
    std::string buffer(kTransferBuffer, '\0');
    std::size_t filled = 0;
    ResponseHeader header;
    while (filled < buffer.size()) {
        const long got = net::receive_some(socket, buffer.data() + filled, buffer.size() - filled, options.idle_timeout);
        if (got <= 0) return false;  // failure, time-out or close before the blank line
        filled += static_cast<std::size_t>(got);
        header = parse_response_header(std::string_view(buffer.data(), filled));
        if (header.complete) break;
    }
    if (!header.complete) return false;  // the header does not fit the transfer buffer

    if (!header.content_type) return false;
    const std::string_view expected = expected_content_type(file_name);
    if (!expected.empty() && *header.content_type != expected) return false;
    if (header.malformed_length && !header.chunked) return false;

    bool error = false;
    auto store = [&](const char* data, std::size_t size) {
        if (size == 0 || error || fd < 0) return;
        if (!write_all(fd, data, size)) {
            std::printf("Error: in write to file\n");
            std::fflush(stdout);
            error = true;
        }
    };

    ChunkedDecoder decoder;
    std::string decoded;
    std::uint64_t stored = 0;
    // Handles `data` as body bytes; returns true when the body is complete.
    auto take = [&](std::string_view data) -> bool {
        if (header.chunked) {
            decoded.clear();
            const auto status = decoder.feed(data, decoded);
            store(decoded.data(), decoded.size());
            if (status == ChunkedDecoder::Status::error) error = true;
            return status != ChunkedDecoder::Status::more;
        }
        if (header.content_length) {
            const std::uint64_t left = *header.content_length - stored;
            const std::size_t use = data.size() < left ? data.size() : static_cast<std::size_t>(left);
            store(data.data(), use);
            stored += use;
            return stored == *header.content_length;
        }
        store(data.data(), data.size());
        return false;
    };

    bool complete = take(std::string_view(buffer.data() + header.header_length, filled - header.header_length));
    while (!complete && !error) {
        const long got = net::receive_some(socket, buffer.data(), buffer.size(), options.idle_timeout);
        if (got == 0) break;
        if (got < 0) {
            if (fd >= 0) {
                std::printf("Error: %d in recv\n", got == -2 ? ETIMEDOUT : errno);
                std::fflush(stdout);
            }
            return false;
        }
        complete = take(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
    }
    if (error) return false;
    if (complete) return true;
    // The peer closed: complete only when no length was announced, or a chunked body was whole.
    if (header.chunked) return false;
    if (header.content_length) return stored == *header.content_length;
    return true;
}

// Reads and discards the reply: up to its end by the same rules as a stored body (so a server that
// keeps the connection open does not hold the caller), the peer's close, a failure or the idle wait.
void drain_reply(const net::Socket& socket, const HttpOptions& options) {
    receive_into(socket, -1, {}, options);
}

}  // namespace

UrlParts split_url(std::string_view url) {
    UrlParts parts;
    if (url.size() > kUrlRoom) url = url.substr(0, kUrlRoom);
    if (url.substr(0, 7) == "http://") url.remove_prefix(7);
    std::string_view host = url;
    if (auto slash = host.find('/'); slash != std::string_view::npos) {
        parts.path = std::string(host.substr(slash));
        host = host.substr(0, slash);
    }
    if (auto colon = host.find(':'); colon != std::string_view::npos) {
        // Read like "%d": blanks, an optional sign, digits; nothing read keeps 80.
        std::string_view rest = host.substr(colon + 1);
        while (!rest.empty() && std::isspace(static_cast<unsigned char>(rest.front()))) rest.remove_prefix(1);
        if (!rest.empty() && rest.front() == '+') rest.remove_prefix(1);
        int value = 0;
        auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
        if (ec == std::errc()) parts.port = value;
        else if (ec == std::errc::result_out_of_range) parts.port = -1;  // refused at connect
        (void)end;
        host = host.substr(0, colon);
    }
    parts.host = std::string(host);
    return parts;
}

std::uint32_t resolve_host(std::string_view name) {
    sockets_startup();
    const std::string text(name);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    const int error = text.empty() ? EAI_NONAME : ::getaddrinfo(text.c_str(), nullptr, &hints, &result);
    if (error != 0 || result == nullptr) {
        std::printf("gethostbyname error: %ld for %s\n", static_cast<long>(error), text.c_str());
        std::fflush(stdout);
        if (result) ::freeaddrinfo(result);
        return 0;
    }
    const std::uint32_t address = reinterpret_cast<const sockaddr_in*>(result->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(result);
    return address;
}

std::uint32_t local_address() {
    char name[261] = {};
    sockets_startup();
    if (::gethostname(name, sizeof name - 1) != 0) return 0;
    return resolve_host(name);
}

std::string format_get_request(const UrlParts& target, bool use_proxy) {
    if (use_proxy) {
        const std::string t = proxy_target(target);
        return "GET http://" + t + target.path + " HTTP/1.1\r\nHost: " + t +
               "\r\nUser-Agent: Mozilla/4.0\r\nConnection: close\r\n\r\n";
    }
    return "GET " + target.path + " HTTP/1.1\r\nHost: " + target.host +
           "\r\nUser-Agent: Mozilla/4.0\r\nAccept: */*\r\nConnection: close\r\n\r\n";
}

std::string format_post_request(const UrlParts& target, bool use_proxy, std::string_view body) {
    const std::string length = std::to_string(body.size());
    if (use_proxy) {
        const std::string t = proxy_target(target);
        return "POST http://" + t + target.path + " HTTP/1.1\nHost: " + t + "\nConnection: close\nContent-type: " +
               std::string(kFormType) + "\nContent-length: " + length + "\n\n" + std::string(body) + "\n";
    }
    return "POST " + target.path + " HTTP/1.1\r\nHost: " + target.host + "\r\nConnection: close\r\nContent-type: " +
           std::string(kFormType) + "\r\nContent-length: " + length + "\r\n\r\n" + std::string(body) + "\r\n";
}

std::string_view expected_content_type(std::string_view file_name) {
    if (file_name.find(".png") != std::string_view::npos) return "image/png";
    if (file_name.find(".gif") != std::string_view::npos) return "image/gif";
    if (file_name.find(".jpg") != std::string_view::npos) return "image/jpeg";
    return {};
}

ResponseHeader parse_response_header(std::string_view received) {
    ResponseHeader result;
    const auto end = received.find("\r\n\r\n");
    if (end == std::string_view::npos) return result;
    result.complete = true;
    result.header_length = end + 4;
    const std::string_view header = received.substr(0, end + 2);  // every line keeps its CR LF

    // "Content-Type: %s": blanks after the colon are skipped, then one word.
    if (auto at = header.find("Content-Type:"); at != std::string_view::npos) {
        std::string_view rest = header.substr(at + 13);
        while (!rest.empty() && std::isspace(static_cast<unsigned char>(rest.front()))) rest.remove_prefix(1);
        std::size_t n = 0;
        while (n < rest.size() && !std::isspace(static_cast<unsigned char>(rest[n]))) ++n;
        if (n > 0) result.content_type = std::string(rest.substr(0, n));
    }

    // The fields that decide where the body ends, by line, names in any case.
    std::size_t pos = header.find("\r\n");
    while (pos != std::string_view::npos && pos + 2 < header.size()) {
        const std::size_t start = pos + 2;
        const std::size_t next = header.find("\r\n", start);
        const std::string_view line = header.substr(start, next - start);
        pos = next;
        if (iequals_prefix(line, "content-length:")) {
            const std::string_view value = trim(line.substr(15));
            std::uint64_t n = 0;
            auto [p, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
            if (value.empty() || ec != std::errc() || p != value.data() + value.size() ||
                (result.content_length && *result.content_length != n)) {
                result.malformed_length = true;
            } else {
                result.content_length = n;
            }
        } else if (iequals_prefix(line, "transfer-encoding:")) {
            if (icontains(line.substr(18), "chunked")) result.chunked = true;
        }
    }
    if (result.malformed_length) result.content_length.reset();
    return result;
}

ChunkedDecoder::Status ChunkedDecoder::feed(std::string_view in, std::string& out) {
    std::size_t i = 0;
    while (i < in.size() && status_ == Status::more) {
        const char c = in[i];
        switch (state_) {
        case State::size: {
            int digit = -1;
            if (c >= '0' && c <= '9') digit = c - '0';
            else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
            if (digit >= 0) {
                if (++size_digits_ > 15) status_ = Status::error;
                remaining_ = remaining_ * 16 + static_cast<std::uint64_t>(digit);
            } else if (size_digits_ == 0) {
                status_ = Status::error;
            } else if (c == ';' || c == ' ' || c == '\t') {
                state_ = State::extension;
            } else if (c == '\r') {
                state_ = State::size_lf;
            } else if (c == '\n') {
                state_ = remaining_ == 0 ? State::trailer_line_start : State::data;
            } else {
                status_ = Status::error;
            }
            ++i;
            break;
        }
        case State::extension:
            if (c == '\r') state_ = State::size_lf;
            else if (c == '\n') state_ = remaining_ == 0 ? State::trailer_line_start : State::data;
            ++i;
            break;
        case State::size_lf:
            if (c != '\n') status_ = Status::error;
            else state_ = remaining_ == 0 ? State::trailer_line_start : State::data;
            ++i;
            break;
        case State::data: {
            const std::size_t take =
                static_cast<std::size_t>(std::min<std::uint64_t>(remaining_, in.size() - i));
            out.append(in.data() + i, take);
            i += take;
            remaining_ -= take;
            if (remaining_ == 0) state_ = State::data_cr;
            break;
        }
        case State::data_cr:
            if (c == '\r') state_ = State::data_lf;
            else if (c == '\n') state_ = State::size, size_digits_ = 0;
            else status_ = Status::error;
            ++i;
            break;
        case State::data_lf:
            if (c != '\n') status_ = Status::error;
            else state_ = State::size, size_digits_ = 0;
            ++i;
            break;
        case State::trailer_line_start:
            if (c == '\r') state_ = State::trailer_lf;
            else if (c == '\n') state_ = State::finished, status_ = Status::done;
            else state_ = State::trailer_line;
            ++i;
            break;
        case State::trailer_line:
            if (c == '\n') state_ = State::trailer_line_start;
            ++i;
            break;
        case State::trailer_lf:
            if (c != '\n') status_ = Status::error;
            else state_ = State::finished, status_ = Status::done;
            ++i;
            break;
        case State::finished:
            i = in.size();
            break;
        }
    }
    return status_;
}

int http_get_file(std::string_view url, const std::filesystem::path& file, const HttpOptions& options) {
    const UrlParts target = split_url(url);
    bool use_proxy = false;
    net::Socket socket = open_connection(target, options, use_proxy);
    if (!socket.valid()) return 0;
    if (net::send_all(socket, format_get_request(target, use_proxy), options.idle_timeout) != 0) return 0;

    if (file.empty()) {
        drain_reply(socket, options);
        return 1;
    }

    // The body goes to a temporary file beside the final one, renamed over it on success.
    std::filesystem::path temp;
    FileDescriptor out;
    out.fd = create_temp_beside(file, temp);
    if (out.fd < 0) return 0;

    bool ok = receive_into(socket, out.fd, file.string(), options);
    socket.reset();
    if (out.close_now() != 0 && ok) {
        std::printf("Error: in write to file\n");
        std::fflush(stdout);
        ok = false;
    }
    if (ok && !replace_file(temp, file)) {
        std::printf("Error: in write to file\n");
        std::fflush(stdout);
        ok = false;
    }
    if (!ok) remove_file(temp);
    return ok ? 1 : 0;
}

int http_post_form(std::string_view url, std::string_view body, const HttpOptions& options) {
    const UrlParts target = split_url(url);
    bool use_proxy = false;
    net::Socket socket = open_connection(target, options, use_proxy);
    if (!socket.valid()) return 0;
    if (net::send_all(socket, format_post_request(target, use_proxy, body), options.idle_timeout) != 0) return 0;
    drain_reply(socket, options);
    return 1;
}

}  // namespace vg
