#include "net/http_client.h"
#include "net/network_wait.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "net/http_text.h"
#include "net/socket_util.h"
#include "platform/diagnostics.h"
#include "platform/files.h"
#include "platform/sockets.h"
#include "settings/settings_file.h"

namespace vg {

namespace {

constexpr std::size_t kTransferBuffer = 16384;
constexpr std::string_view kFormType = "application/x-www-form-urlencoded";

using SteadyClock = std::chrono::steady_clock;

void diagnostic_error(int code, const char* where) { print_transfer_error(code, where); }

bool icontains(std::string_view text, std::string_view word) {
    for (std::size_t i = 0; i + word.size() <= text.size(); ++i)
        if (starts_with_nocase(text.substr(i), word)) return true;
    return false;
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
Socket open_connection(const UrlParts& target, const HttpOptions& options, SteadyClock::time_point deadline,
                            bool& use_proxy) {
    if (!sendable(target.host) || !sendable(target.path)) {
        print_transfer_error(EINVAL, "URL (control characters)");
        return {};
    }
    Socket socket = make_tcp_socket();
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

    int lookup_error = 0;
    const std::uint32_t address = resolve_host(peer_host, &lookup_error);
    if (address == 0) {
        print_transfer_error(lookup_error, "name lookup of \"" + peer_host + "\"");
        if (options.failure) *options.failure = HttpOptions::Failure::name;
        return {};
    }
    if (peer_port < 0 || peer_port > 65535) {
        diagnostic_error(EINVAL, "connect()");
        return {};
    }
    const auto connect_wait = std::min(options.connect_timeout, std::chrono::duration_cast<std::chrono::milliseconds>(
                                                                    deadline - SteadyClock::now()));
    if (int error = connect_with_timeout(socket, address, peer_port, connect_wait); error != 0) {
        diagnostic_error(error, "connect()");
        if (options.failure)
            *options.failure = error == ETIMEDOUT ? HttpOptions::Failure::timeout : HttpOptions::Failure::connect;
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

// The bounds of one transfer: the idle wait restarts with every byte, the deadline does not.
struct Bounds {
    const HttpOptions& options;
    SteadyClock::time_point deadline;

    std::chrono::milliseconds left() const {
        return std::max(std::chrono::milliseconds(0),
                        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()));
    }
    // The next wait, and whether it is the deadline rather than the idle bound that ends it.
    std::chrono::milliseconds wait(bool& by_deadline) const {
        const auto l = left();
        by_deadline = l <= options.idle_timeout;
        return by_deadline ? l : options.idle_timeout;
    }
    // The diagnostic of a wait that ran out.
    void report_timeout(bool by_deadline) const {
        if (options.failure) *options.failure = HttpOptions::Failure::timeout;
        if (by_deadline) {
            const std::string where = "transfer (not done within " +
                                      std::to_string(options.total_timeout.count() / 1000) + " s)";
            print_transfer_error(ETIMEDOUT, where);
        } else {
            print_transfer_error(ETIMEDOUT, "recv");
        }
    }
};

// Receives a bounded piece: the count, 0 at the peer's close, or -1 after the diagnostic line.
long receive_bounded(const Socket& socket, char* buffer, std::size_t size, const Bounds& bounds) {
    bool by_deadline = false;
    const long got = receive_some(socket, buffer, size, bounds.wait(by_deadline));
    if (got == -2) bounds.report_timeout(by_deadline);
    else if (got < 0) print_transfer_error(errno, "recv");
    return got < 0 ? -1 : got;
}

std::string with_status(const ResponseHeader& header, std::string_view what) {
    return "reply " + std::to_string(header.status) + " (" + std::string(what) + ")";
}

// Receives the header and the body into `fd` (discarded when -1) following the body rules, within
// the bounds. Returns the header (status 0 when none came) and whether the transfer succeeded; every
// failure has printed its one diagnostic line.
bool receive_into(const Socket& socket, int fd, std::string_view file_name, const Bounds& bounds,
                  ResponseHeader& header) {
    const std::uint64_t limit = bounds.options.max_body.value_or(kOtherBodyLimit);
    std::string buffer(kTransferBuffer, '\0');
    std::size_t filled = 0;
    while (filled < buffer.size()) {
        const long got = receive_bounded(socket, buffer.data() + filled, buffer.size() - filled, bounds);
        if (got < 0) return false;
        if (got == 0) {
            print_transfer_error(ECONNRESET, "reply header (closed before its end)");
            return false;
        }
        filled += static_cast<std::size_t>(got);
        header = parse_response_header(std::string_view(buffer.data(), filled));
        if (header.complete) break;
    }
    if (!header.complete) {
        print_transfer_error(EMSGSIZE, "reply header (longer than " + std::to_string(kTransferBuffer) + " bytes)");
        return false;
    }

    // A reply that is only read to its end (a form post, the remote poll) may be of any type.
    if (!header.content_type && fd >= 0) {
        print_transfer_error(header.status, "reply without Content-Type");
        return false;
    }
    const std::string_view expected = expected_content_type(file_name);
    if (fd >= 0 && !expected.empty() && *header.content_type != expected) {
        print_transfer_error(header.status, "reply of type " + *header.content_type + ", not " + std::string(expected));
        return false;
    }
    // Only a success reply is stored, as the fetcher does: an error page is never a tile.
    if (fd >= 0 && (header.status < 200 || header.status > 299)) {
        print_transfer_error(header.status, "reply " + std::to_string(header.status) + " (not a success, not stored)");
        return false;
    }
    if (header.malformed_length && !header.chunked) {
        print_transfer_error(header.status, "reply with a bad Content-Length");
        return false;
    }
    const std::string too_large = "body over " + std::to_string(limit) + " bytes";
    if (!header.chunked && header.content_length && *header.content_length > limit) {
        print_transfer_error(EFBIG, too_large);
        return false;
    }

    bool write_failed = false;
    auto store = [&](const char* data, std::size_t size) {
        if (size == 0 || write_failed || fd < 0) return;
        if (!write_all(fd, data, size)) {
            report("Error: in write to file");
            write_failed = true;
        }
    };

    enum class Body { more, complete, too_large, bad_chunk };
    ChunkedDecoder decoder;
    std::string decoded;
    std::uint64_t stored = 0;
    // Handles `data` as body bytes.
    auto take = [&](std::string_view data) -> Body {
        if (header.chunked) {
            decoded.clear();
            const auto status = decoder.feed(data, decoded);
            if (decoded.size() > limit - stored) return Body::too_large;
            store(decoded.data(), decoded.size());
            stored += decoded.size();
            if (status == ChunkedDecoder::Status::error) return Body::bad_chunk;
            return status == ChunkedDecoder::Status::done ? Body::complete : Body::more;
        }
        std::size_t use = data.size();
        if (header.content_length && *header.content_length - stored < use)
            use = static_cast<std::size_t>(*header.content_length - stored);
        if (use > limit - stored) return Body::too_large;
        store(data.data(), use);
        stored += use;
        return header.content_length && stored == *header.content_length ? Body::complete : Body::more;
    };

    Body body = take(std::string_view(buffer.data() + header.header_length, filled - header.header_length));
    while (body == Body::more && !write_failed) {
        const long got = receive_bounded(socket, buffer.data(), buffer.size(), bounds);
        if (got < 0) return false;
        if (got == 0) break;
        body = take(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
    }
    if (write_failed) return false;
    if (body == Body::too_large) {
        print_transfer_error(EFBIG, too_large);
        return false;
    }
    if (body == Body::bad_chunk) {
        print_transfer_error(header.status, "reply with a bad chunked body");
        return false;
    }
    if (body == Body::complete) return true;
    // The peer closed: complete only when no length was announced.
    if (header.chunked) {
        print_transfer_error(ECONNRESET, with_status(header, "closed before the last chunk"));
        return false;
    }
    if (header.content_length) {
        print_transfer_error(ECONNRESET, with_status(header, "closed after " + std::to_string(stored) + " of " +
                                                                 std::to_string(*header.content_length) + " bytes"));
        return false;
    }
    return true;
}

// A URL the transfers take: not longer than the limit, and not one this client cannot speak.
bool acceptable_url(std::string_view url) {
    if (refuse_overlong_url(url)) return false;
    if (starts_with_nocase(url, "https://")) {
        print_transfer_error(EPROTONOSUPPORT, "URL (https needs TLS, which this client does not speak)");
        return false;
    }
    return true;
}

// Connects and sends `request_of(use_proxy)`; an invalid socket after the diagnostic line.
template <typename RequestOf>
Socket connect_and_send(const UrlParts& target, const Bounds& bounds, RequestOf request_of) {
    bool use_proxy = false;
    Socket socket = open_connection(target, bounds.options, bounds.deadline, use_proxy);
    if (!socket.valid()) return {};
    bool by_deadline = false;
    const int error = send_all(socket, request_of(use_proxy), bounds.wait(by_deadline));
    if (error != 0) {
        if (error == ETIMEDOUT) bounds.report_timeout(by_deadline);
        else print_transfer_error(error, "send()");
        return {};
    }
    return socket;
}

}  // namespace

UrlParts split_url(std::string_view url) {
    UrlParts parts;
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

std::uint32_t resolve_host(std::string_view name, int* error_out) {
    sockets_startup();
    const std::string text(name);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    int error = text.empty() ? EAI_NONAME : ::getaddrinfo(text.c_str(), nullptr, &hints, &result);
    if (error != 0 || result == nullptr) {
        if (error == 0) error = EAI_NONAME;
        if (error_out) *error_out = error;
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

    // "HTTP/x.y NNN reason"
    if (starts_with_nocase(header, "HTTP/")) {
        const std::size_t blank = header.find(' ');
        if (blank != std::string_view::npos && blank + 4 <= header.size()) {
            int code = 0;
            const auto [p, ec] = std::from_chars(header.data() + blank + 1, header.data() + blank + 4, code);
            if (ec == std::errc() && p == header.data() + blank + 4) result.status = code;
        }
    }

    // "Content-Type: %s": blanks after the colon are skipped, then one word.
    if (auto at = header.find("Content-Type:"); at != std::string_view::npos) {
        std::string_view rest = header.substr(at + 13);
        while (!rest.empty() && std::isspace(static_cast<unsigned char>(rest.front()))) rest.remove_prefix(1);
        std::size_t n = 0;
        while (n < rest.size() && !std::isspace(static_cast<unsigned char>(rest[n]))) ++n;
        if (n > 0) result.content_type = std::string(rest.substr(0, n));
    }

    // The fields that decide where the body ends, by line, names in any case.
    const ContentLength length = find_content_length(header);
    result.content_length = length.value;
    result.malformed_length = length.malformed;
    std::size_t pos = header.find("\r\n");
    while (pos != std::string_view::npos && pos + 2 < header.size()) {
        const std::size_t start = pos + 2;
        const std::size_t next = header.find("\r\n", start);
        const std::string_view line = header.substr(start, next - start);
        pos = next;
        if (starts_with_nocase(line, "transfer-encoding:") && icontains(line.substr(18), "chunked")) result.chunked = true;
    }
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

bool http_get_file(std::string_view url, const std::filesystem::path& file, const HttpOptions& options) {
    note_network_wait();
    if (!acceptable_url(url)) return false;
    const Bounds bounds{options, SteadyClock::now() + options.total_timeout};
    const UrlParts target = split_url(url);
    Socket socket = connect_and_send(target, bounds, [&](bool proxy) { return format_get_request(target, proxy); });
    if (!socket.valid()) return false;

    ResponseHeader header;
    if (file.empty()) {
        // The request was made; what the reply says is printed when it fails, not returned.
        receive_into(socket, -1, {}, bounds, header);
        return true;
    }

    // The body goes to a temporary file beside the final one, renamed over it on success.
    std::filesystem::path temp;
    FileDescriptor out;
    out.fd = create_temp_beside(file, temp);
    if (out.fd < 0) {
        print_transfer_error(errno, "open() of " + file.string() + ".part");
        return false;
    }

    bool ok = receive_into(socket, out.fd, file.string(), bounds, header);
    socket.reset();
    if (out.close_now() != 0 && ok) {
        report("Error: in write to file");
        ok = false;
    }
    if (ok && !replace_file(temp, file)) {
        report("Error: in write to file");
        ok = false;
    }
    if (!ok) remove_file(temp);
    return ok;
}

bool http_post_form(std::string_view url, std::string_view body, const HttpOptions& options) {
    note_network_wait();
    if (!acceptable_url(url)) return false;
    const Bounds bounds{options, SteadyClock::now() + options.total_timeout};
    const UrlParts target = split_url(url);
    Socket socket =
        connect_and_send(target, bounds, [&](bool proxy) { return format_post_request(target, proxy, body); });
    if (!socket.valid()) return false;
    ResponseHeader header;
    receive_into(socket, -1, {}, bounds, header);
    if (header.status != 0 && (header.status < 200 || header.status > 299)) {
        print_transfer_error(header.status, "reply (the form was refused)");
        return false;
    }
    return true;
}

}  // namespace vg
