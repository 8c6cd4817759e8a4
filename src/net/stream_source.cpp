#include "net/stream_source.h"


#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstring>

#include "gps/gpsd_json.h"
#include "gps/receiver.h"
#include "net/socket_util.h"
#include "platform/sockets.h"

namespace vg {

namespace {

constexpr int kWaitCycleMs = 1000;   // longest single wait of the reader
constexpr int kConnectMs = 3000;     // per connection attempt
constexpr int kFirstBackoffMs = 1000;
constexpr int kMaxBackoffMs = 16000;
constexpr std::size_t kReceiveSize = 4096;

std::optional<int> parse_port(std::string_view text) {
    int port = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (ec != std::errc() || end != text.data() + text.size() || port < 1 || port > 65535) return std::nullopt;
    return port;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
    return s;
}

// "host:port", "[v6]:port", "host" or ":port".
std::optional<std::pair<std::string, std::optional<int>>> split_host_port(std::string_view s) {
    std::string host;
    std::string_view rest;
    if (!s.empty() && s.front() == '[') {
        const auto close = s.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        host = std::string(s.substr(1, close - 1));
        rest = s.substr(close + 1);
        if (!rest.empty() && rest.front() != ':') return std::nullopt;
    } else {
        const auto colon = s.rfind(':');
        host = std::string(s.substr(0, colon));
        rest = colon == std::string_view::npos ? std::string_view() : s.substr(colon);
        if (host.find(':') != std::string::npos) return std::nullopt;
    }
    if (host.find_first_of(" \t/") != std::string::npos) return std::nullopt;
    std::optional<int> port;
    if (!rest.empty()) {
        port = parse_port(rest.substr(1));
        if (!port) return std::nullopt;
    }
    return std::pair{host, port};
}

}  // namespace

std::optional<StreamAddress> parse_gpsd_address(std::string_view value) {
    value = trim(value);
    auto parts = split_host_port(value);
    if (!parts) return std::nullopt;
    StreamAddress a;
    a.kind = StreamAddress::Kind::Tcp;
    a.host = parts->first.empty() ? "127.0.0.1" : parts->first;
    a.port = parts->second.value_or(kGpsdDefaultPort);
    return a;
}

std::optional<StreamAddress> parse_nmea_address(std::string_view value) {
    value = trim(value);
    StreamAddress a;
    if (value.substr(0, 6) == "tcp://") {
        a.kind = StreamAddress::Kind::Tcp;
    } else if (value.substr(0, 6) == "udp://") {
        a.kind = StreamAddress::Kind::Udp;
    } else {
        return std::nullopt;
    }
    auto parts = split_host_port(value.substr(6));
    if (!parts || !parts->second) return std::nullopt;
    if (a.kind == StreamAddress::Kind::Tcp && parts->first.empty()) return std::nullopt;
    a.host = parts->first;
    a.port = *parts->second;
    return a;
}

std::string describe(const StreamAddress& address) {
    const bool v6 = address.host.find(':') != std::string::npos;
    const std::string host = v6 ? "[" + address.host + "]" : address.host;
    return std::string(address.kind == StreamAddress::Kind::Tcp ? "tcp://" : "udp://") + host + ":" +
           std::to_string(address.port);
}

StreamSource::StreamSource(SharedFix& fix, StreamSourceOptions options) : fix_(fix), options_(std::move(options)) {}

StreamSource::~StreamSource() { stop(); }

void StreamSource::set_phase(Phase phase, int error) {
    error_.store(error);
    last_data_ms_.store(0);
    since_ms_.store(receiver_clock_ms());
    phase_.store(phase);
}

StreamSource::Health StreamSource::health() const {
    Health h;
    h.phase = phase_.load();
    h.error = error_.load();
    h.since_ms = since_ms_.load();
    h.last_data_ms = last_data_ms_.load();
    return h;
}

bool StreamSource::start(DeviceType type, const StreamAddress& address) {
    if (!is_network_device(type)) return false;
    stop();
    if (!sockets_startup() || !wake_.open()) return false;
    set_phase(Phase::Connecting);
    active_.store(true);
    running_.store(true);
    connections_.store(0);
    try {
        reader_ = std::thread(&StreamSource::reader_main, this, type, address);
    } catch (...) {
        active_.store(false);
        running_.store(false);
        wake_.close();
        return false;
    }
    return true;
}

void StreamSource::stop() {
    if (!reader_.joinable()) return;
    active_.store(false);
    wake_.raise();
    reader_.join();
    wake_.close();
    set_phase(Phase::Stopped);
}

bool StreamSource::pause(int ms) {
    pollfd p = poll_entry(wake_.fd(), POLLIN);
    return poll_sockets(&p, 1, ms) <= 0 && active_.load();
}

void StreamSource::deliver(ReceiverParser& parser, const std::uint8_t* data, std::size_t size) {
    fix_.update([&](FixRecord& fix) { parser.feed(data, size, fix); });
    last_data_ms_.store(receiver_clock_ms());
    if (options_.silence_ticks) options_.silence_ticks->store(0);
    const long long now = options_.clock_seconds
                              ? options_.clock_seconds()
                              : std::chrono::duration_cast<std::chrono::seconds>(
                                    std::chrono::system_clock::now().time_since_epoch())
                                    .count();
    if (now > repaint_second_ && options_.fix_notice && active_.load()) {
        options_.fix_notice->post();
        repaint_second_ = now;
    }
}

void StreamSource::reader_main(DeviceType type, StreamAddress address) {
    ParserContext context;
    context.ais = options_.ais;
    std::unique_ptr<ReceiverParser> parser = make_receiver_parser(type, std::move(context));
    std::uint8_t buffer[kReceiveSize];
    int backoff = kFirstBackoffMs;
    while (active_.load() && parser) {
        // Resolve and open a socket: a TCP connection or a bound UDP socket.
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = address.kind == StreamAddress::Kind::Tcp ? SOCK_STREAM : SOCK_DGRAM;
        hints.ai_flags = address.kind == StreamAddress::Kind::Udp ? AI_PASSIVE : 0;
        addrinfo* found = nullptr;
        const std::string port = std::to_string(address.port);
        const char* host = address.host.empty() ? nullptr : address.host.c_str();
        Socket socket;
        int failure = -1;  // why no socket came: -1 the address did not resolve, else the system's error
        if (::getaddrinfo(host, port.c_str(), &hints, &found) == 0 && found) {
            for (addrinfo* ai = found; ai && !socket.valid() && active_.load(); ai = ai->ai_next) {
                Socket s(open_socket_for(ai->ai_family, ai->ai_socktype, ai->ai_protocol));
                if (!s.valid()) continue;
                if (address.kind == StreamAddress::Kind::Udp) {
                    // Exclusive: no other socket may bind the port beside ours and take its datagrams.
                    set_server_address_options(s.get(), true);
                    if (::bind(s.get(), ai->ai_addr, static_cast<int>(ai->ai_addrlen)) == 0) socket = std::move(s);
                    else failure = socket_errno();
                    continue;
                }
                if (::connect(s.get(), ai->ai_addr, static_cast<int>(ai->ai_addrlen)) == 0) {
                    socket = std::move(s);
                    continue;
                }
                const int e = socket_errno();
                if (e != EINPROGRESS && e != EAGAIN) {
                    failure = e;
                    continue;
                }
                failure = ETIMEDOUT;
                // Wait for the connection, or for stop().
                const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kConnectMs);
                while (active_.load() && std::chrono::steady_clock::now() < deadline) {
                    pollfd p[2] = {poll_entry(s.get(), POLLOUT), poll_entry(wake_.fd(), POLLIN)};
                    if (poll_sockets(p, 2, kWaitCycleMs) <= 0 || p[1].revents) continue;
                    const int pending = pending_socket_error(s.get());
                    if (pending == 0) socket = std::move(s);
                    else failure = pending;
                    break;
                }
            }
            ::freeaddrinfo(found);
        }
        if (!socket.valid()) {
            if (!active_.load()) break;
            const Phase phase = failure == ECONNREFUSED ? Phase::Refused : Phase::Failed;
            // The first failure of a run of them marks when it began; the window shows it at once.
            if (phase_.load() != phase || error_.load() != failure) {
                set_phase(phase, failure);
                if (options_.fix_notice) options_.fix_notice->post();
            }
            if (!pause(backoff)) break;
            backoff = std::min(backoff * 2, kMaxBackoffMs);
            continue;
        }
        connections_.fetch_add(1);
        set_phase(Phase::Connected);
        connected_.store(true);
        if (type == DeviceType::Gpsd) {
            if (send_all(socket, kGpsdWatch, std::chrono::milliseconds(kWaitCycleMs)) != 0) {
                if (!pause(backoff)) break;
                continue;
            }
        }
        bool received = false;
        while (active_.load()) {
            pollfd p[2] = {poll_entry(socket.get(), POLLIN), poll_entry(wake_.fd(), POLLIN)};
            const int r = poll_sockets(p, 2, kWaitCycleMs);
            if (r < 0 && socket_errno() != EINTR) break;
            if (r <= 0 || p[1].revents) continue;
            const long n = ::recv(socket.get(), reinterpret_cast<char*>(buffer), sizeof buffer, kReceiveFlags);
            if (n < 0) {
                const int e = socket_errno();
                if (e == EAGAIN || e == EWOULDBLOCK || e == EINTR) continue;
            }
            if (n < 0 || (n == 0 && address.kind == StreamAddress::Kind::Tcp)) break;  // the peer went away
            if (n == 0) continue;
            received = true;
            deliver(*parser, buffer, static_cast<std::size_t>(n));
            // A datagram is whole lines; one without a line end still ends its last line.
            if (address.kind == StreamAddress::Kind::Udp && buffer[n - 1] != '\n') {
                static const std::uint8_t kLineEnd[] = {'\r', '\n'};
                deliver(*parser, kLineEnd, sizeof kLineEnd);
            }
        }
        connected_.store(false);
        if (active_.load()) set_phase(Phase::Lost);
        // The window shows the peer gone at once, not only when the fix turns old.
        if (options_.fix_notice && active_.load()) options_.fix_notice->post();
        if (received) backoff = kFirstBackoffMs;
        if (!active_.load()) break;
        if (!pause(backoff)) break;
        backoff = std::min(backoff * 2, kMaxBackoffMs);
    }
    connected_.store(false);
    running_.store(false);
}

}  // namespace vg
