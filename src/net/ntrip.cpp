#include "net/ntrip.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <system_error>

#include "geo/geodesy.h"
#include "gps/rtcm3.h"
#include "gps/startup_commands.h"  // nmea_checksum
#include "net/http_client.h"       // resolve_host
#include "net/http_text.h"
#include "net/socket_util.h"
#include "platform/c_number.h"
#include "platform/sockets.h"

namespace vg::ntrip {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxHeader = 16 * 1024;
constexpr std::size_t kMaxSourceTable = 4 * 1024 * 1024;
constexpr int kConnectMs = 5000;
constexpr int kReplyMs = 10000;

std::int64_t now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

std::string error_text(int error) { return socket_error_text(error); }

// Waits for `events` on `fd` (and the wake descriptor, when given) up to `ms`: 1 ready, 0 time-out,
// -1 woken or failed.
int wait_socket(int fd, short events, int ms, int wake_fd) {
    pollfd p[2] = {poll_entry(fd, events), poll_entry(wake_fd, POLLIN)};
    const unsigned count = wake_fd >= 0 ? 2 : 1;
    for (;;) {
        const int r = poll_sockets(p, count, std::max(ms, 0));
        if (r < 0 && socket_errno() == EINTR) continue;
        if (r < 0) return -1;
        if (count == 2 && p[1].revents) return -1;
        return r > 0 ? 1 : 0;
    }
}

std::string_view field_value(std::string_view header, std::string_view name) {
    std::size_t pos = 0;
    while (pos < header.size()) {
        std::size_t end = header.find('\n', pos);
        if (end == std::string_view::npos) end = header.size();
        std::string_view line = header.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (starts_with_nocase(line, name) && line.size() > name.size() && line[name.size()] == ':')
            return trim_blanks(line.substr(name.size() + 1));
        pos = end + 1;
    }
    return {};
}

bool contains_nocase(std::string_view text, std::string_view word) {
    for (std::size_t i = 0; i + word.size() <= text.size(); ++i)
        if (starts_with_nocase(text.substr(i), word)) return true;
    return false;
}

std::string request_text(const CasterUrl& url, std::string_view password, int version) {
    std::string r = "GET /" + url.mountpoint + (version == 1 ? " HTTP/1.0\r\n" : " HTTP/1.1\r\n");
    if (version != 1) {
        r += "Host: " + url.host + ":" + std::to_string(url.port) + "\r\n";
        r += "Ntrip-Version: Ntrip/2.0\r\n";
    }
    r += "User-Agent: NTRIP VorGlobal/1.0\r\n";
    if (!url.user.empty()) r += "Authorization: Basic " + basic_credentials(url.user, password) + "\r\n";
    if (version != 1) r += "Connection: close\r\n";
    r += "\r\n";
    return r;
}

// What the caster answered, once its header has come.
struct Reply {
    enum class Kind { Stream, SourceTable, Unauthorized, NotFound, Other } kind = Kind::Other;
    bool chunked = false;
    std::string status_line;
    std::string body_start;  // bytes after the header
};

// Connects, sends the request and reads the reply's header. nullopt with `cause` (and the state it
// means) on failure, or when woken (`cause` empty then).
std::optional<Reply> open_request(Socket& socket, const CasterUrl& url, std::string_view password, int version,
                                  int wake_fd, int reply_ms, State& failure, std::string& cause) {
    failure = State::Refused;
    int lookup_error = 0;
    const std::uint32_t address = resolve_host(url.host, &lookup_error);
    if (address == 0) {
        cause = "the caster's name " + url.host + " could not be resolved";
        return std::nullopt;
    }
    socket = make_tcp_socket();
    if (!socket.valid()) {
        cause = "no socket could be made";
        return std::nullopt;
    }
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<std::uint16_t>(url.port));
    peer.sin_addr.s_addr = address;
    if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) < 0) {
        const int error = socket_errno();
        if (error != EINPROGRESS && error != EINTR && error != EAGAIN) {
            cause = "connecting to " + url.host + ":" + std::to_string(url.port) + " failed: " + error_text(error);
            return std::nullopt;
        }
        const int r = wait_socket(socket.get(), POLLOUT, kConnectMs, wake_fd);
        if (r < 0) return std::nullopt;
        const int pending = r == 0 ? ETIMEDOUT : pending_socket_error(socket.get());
        if (pending != 0) {
            cause = "connecting to " + url.host + ":" + std::to_string(url.port) + " failed: " + error_text(pending);
            return std::nullopt;
        }
    }
    if (const int e = send_all(socket, request_text(url, password, version), std::chrono::milliseconds(kConnectMs))) {
        failure = State::Lost;
        cause = "the request could not be sent: " + error_text(e);
        return std::nullopt;
    }
    std::string header;
    bool closed = false;  // a caster may close after a short reply without its blank line (str2str's 401)
    const auto deadline = now_ms() + reply_ms;
    for (;;) {
        std::size_t end = std::string::npos;
        if (closed) {
            end = header.size();
        } else if (starts_with_nocase(header, "ICY 200")) {
            end = header.find('\n');
            if (end != std::string::npos) ++end;
        } else {
            end = http_header_end(header);
        }
        if (end != std::string::npos) {
            Reply reply;
            reply.body_start = header.substr(end);
            header.resize(end);
            reply.status_line = header.substr(0, header.find_first_of("\r\n"));
            const std::string_view status = reply.status_line;
            const auto space = status.find(' ');
            const std::string_view code = space == std::string_view::npos ? "" : status.substr(space + 1, 3);
            reply.chunked = contains_nocase(field_value(header, "Transfer-Encoding"), "chunked");
            if (starts_with_nocase(status, "SOURCETABLE 200") ||
                (code == "200" && contains_nocase(field_value(header, "Content-Type"), "gnss/sourcetable")))
                reply.kind = Reply::Kind::SourceTable;
            else if (code == "200")
                reply.kind = Reply::Kind::Stream;
            else if (code == "401")
                reply.kind = Reply::Kind::Unauthorized;
            else if (code == "404")
                reply.kind = Reply::Kind::NotFound;
            return reply;
        }
        if (header.size() > kMaxHeader) {
            cause = "the caster's reply is not NTRIP (no end of header)";
            return std::nullopt;
        }
        char buffer[4096];
        const int r = wait_socket(socket.get(), POLLIN, static_cast<int>(std::min<std::int64_t>(1000, deadline - now_ms())),
                                  wake_fd);
        if (r < 0) return std::nullopt;
        if (r == 0) {
            if (now_ms() >= deadline) {
                failure = State::Lost;
                cause = "the caster did not answer";
                return std::nullopt;
            }
            continue;
        }
        const long got = ::recv(socket.get(), buffer, sizeof buffer, kReceiveFlags);
        if (got <= 0) {
            if (got < 0 && (socket_errno() == EAGAIN || socket_errno() == EWOULDBLOCK || socket_errno() == EINTR))
                continue;
            if (got == 0 && header.find('\n') != std::string::npos) {
                closed = true;
                continue;
            }
            failure = State::Lost;
            cause = header.empty() ? "the caster closed the connection without a reply"
                                   : "the caster closed the connection within its reply";
            return std::nullopt;
        }
        header.append(buffer, static_cast<std::size_t>(got));
    }
}

std::vector<std::string_view> split_fields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t pos = 0;
    for (;;) {
        const auto semi = line.find(';', pos);
        fields.push_back(line.substr(pos, semi == std::string_view::npos ? std::string_view::npos : semi - pos));
        if (semi == std::string_view::npos) break;
        pos = semi + 1;
    }
    return fields;
}

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

std::optional<CasterUrl> parse_url(std::string_view text) {
    text = trim_blanks(text);
    CasterUrl url;
    if (starts_with_nocase(text, "http://"))
        text.remove_prefix(7);
    else if (starts_with_nocase(text, "ntrip://"))
        text.remove_prefix(8);
    else
        return std::nullopt;
    const auto slash = text.find('/');
    std::string_view authority = text.substr(0, slash);
    if (slash != std::string_view::npos) url.mountpoint = std::string(text.substr(slash + 1));
    if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
        const std::string_view user = authority.substr(0, at);
        if (user.find(':') != std::string_view::npos || user.empty()) return std::nullopt;
        url.user = std::string(user);
        authority.remove_prefix(at + 1);
    }
    if (const auto colon = authority.find(':'); colon != std::string_view::npos) {
        const auto port = whole_c_number(authority.substr(colon + 1));
        if (!port || *port < 1 || *port > 65535 || *port != std::floor(*port)) return std::nullopt;
        url.port = static_cast<int>(*port);
        authority = authority.substr(0, colon);
    }
    if (authority.empty()) return std::nullopt;
    for (const char c : authority)
        if (c <= ' ' || c == '/' || c == '?' || c == '#') return std::nullopt;
    for (const char c : url.mountpoint + url.user)
        if (c <= ' ' || c == '/' || c == '?' || c == '#' || c == 0x7F) return std::nullopt;
    url.host = std::string(authority);
    return url;
}

std::string describe(const CasterUrl& url) {
    return "http://" + (url.user.empty() ? "" : url.user + "@") + url.host + ":" + std::to_string(url.port) + "/" +
           url.mountpoint;
}

std::vector<Mountpoint> parse_source_table(std::string_view text) {
    std::vector<Mountpoint> table;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.starts_with("STR;")) continue;
        auto f = split_fields(line);
        if (f.size() < 2 || f[1].empty()) continue;
        f.resize(std::max<std::size_t>(f.size(), 12));
        Mountpoint m;
        m.mountpoint = std::string(f[1]);
        m.identifier = std::string(f[2]);
        m.format = std::string(f[3]);
        m.format_details = std::string(f[4]);
        m.carrier = static_cast<int>(std::clamp(whole_c_number(f[5]).value_or(0), 0.0, 9.0));
        m.nav_system = std::string(f[6]);
        m.network = std::string(f[7]);
        m.country = std::string(f[8]);
        const auto lat = whole_c_number(f[9]);
        const auto lon = whole_c_number(f[10]);
        if (lat && lon && std::abs(*lat) <= 90 && std::isfinite(*lon)) {
            m.lat = *lat;
            m.lon = std::remainder(*lon, 360.0);
            m.located = true;
        }
        m.nmea = f[11] == "1";
        table.push_back(std::move(m));
    }
    return table;
}

void sort_by_distance(std::vector<Mountpoint>& table, double lat, double lon) {
    for (auto& m : table) m.distance_m = m.located ? geo::distance_m(lat, lon, m.lat, m.lon) : -1;
    std::stable_sort(table.begin(), table.end(), [](const Mountpoint& a, const Mountpoint& b) {
        if (a.located != b.located) return a.located;
        return a.distance_m < b.distance_m;
    });
}

std::string gga_sentence(double lat, double lon, double altitude_m, double utc_seconds_of_day) {
    const auto angle = [](double value, int degree_digits) {
        const double a = std::abs(value);
        int degrees = static_cast<int>(a);
        double minutes = std::round((a - degrees) * 60.0 * 1e5) / 1e5;
        if (minutes >= 60.0) {
            ++degrees;
            minutes -= 60.0;
        }
        std::string d = std::to_string(degrees);
        d.insert(0, static_cast<std::size_t>(std::max(0, degree_digits - static_cast<int>(d.size()))), '0');
        std::string m = fixed_text(minutes, 5);
        if (minutes < 10) m.insert(0, "0");
        return d + m;
    };
    const double day = std::isfinite(utc_seconds_of_day) ? std::fmod(std::max(utc_seconds_of_day, 0.0), 86400.0) : 0;
    const int t = static_cast<int>(day) % 86400;
    char time[32];
    std::snprintf(time, sizeof time, "%02d%02d%02d.00", t / 3600, t / 60 % 60, t % 60);
    std::string body = std::string("GPGGA,") + time + "," + angle(lat, 2) + (lat < 0 ? ",S," : ",N,") +
                       angle(lon, 3) + (lon < 0 ? ",W," : ",E,") + "1,12,1.0," + fixed_text(altitude_m, 1) +
                       ",M,0.0,M,,";
    char sum[8];
    std::snprintf(sum, sizeof sum, "*%02X\r\n", nmea_checksum(body) & 0xFF);
    return "$" + body + sum;
}

std::string basic_credentials(std::string_view user, std::string_view password) {
    std::string in = std::string(user) + ":" + std::string(password);
    std::string out;
    for (std::size_t i = 0; i < in.size(); i += 3) {
        const std::uint32_t n = (static_cast<std::uint8_t>(in[i]) << 16) |
                                (i + 1 < in.size() ? static_cast<std::uint8_t>(in[i + 1]) << 8 : 0) |
                                (i + 2 < in.size() ? static_cast<std::uint8_t>(in[i + 2]) : 0);
        out += kBase64[(n >> 18) & 63];
        out += kBase64[(n >> 12) & 63];
        out += i + 1 < in.size() ? kBase64[(n >> 6) & 63] : '=';
        out += i + 2 < in.size() ? kBase64[n & 63] : '=';
    }
    return out;
}

bool ChunkDecoder::feed(const char* data, std::size_t size, std::string& out) {
    for (std::size_t i = 0; i < size;) {
        const char c = data[i];
        switch (state_) {
            case State::Size:
                if (std::isxdigit(static_cast<unsigned char>(c)) && !extension_) {
                    if (++digits_ > 8) {
                        state_ = State::Broken;
                        return false;
                    }
                    size_ = size_ * 16 + static_cast<std::uint64_t>(std::isdigit(static_cast<unsigned char>(c))
                                                                        ? c - '0'
                                                                        : (std::tolower(c) - 'a' + 10));
                } else if (c == ';' || ((c == ' ' || c == '\t') && digits_ > 0)) {
                    extension_ = true;
                } else if (c == '\r' && digits_ > 0) {
                    state_ = State::SizeLineEnd;
                } else if (!extension_) {
                    state_ = State::Broken;
                    return false;
                }
                ++i;
                break;
            case State::SizeLineEnd:
                if (c != '\n') {
                    state_ = State::Broken;
                    return false;
                }
                ++i;
                state_ = size_ == 0 ? State::Trailer : State::Data;
                trailer_chars_ = 0;
                break;
            case State::Data: {
                const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(size_, size - i));
                out.append(data + i, take);
                i += take;
                size_ -= take;
                if (size_ == 0) {
                    state_ = State::DataEnd;
                    trailer_chars_ = 0;
                }
                break;
            }
            case State::DataEnd:
                if ((trailer_chars_ == 0 && c != '\r') || (trailer_chars_ == 1 && c != '\n')) {
                    state_ = State::Broken;
                    return false;
                }
                ++i;
                if (++trailer_chars_ == 2) {
                    state_ = State::Size;
                    digits_ = 0;
                    extension_ = false;
                }
                break;
            case State::Trailer:
                // Trailer fields are ignored; an empty line ends the message.
                if (c == '\n') {
                    if (trailer_chars_ == 0) {
                        state_ = State::Done;
                    }
                    trailer_chars_ = 0;
                } else if (c != '\r') {
                    ++trailer_chars_;
                }
                ++i;
                break;
            case State::Done:
                return true;
            case State::Broken:
                return false;
        }
    }
    return state_ != State::Broken;
}

const char* state_name(State state) {
    switch (state) {
        case State::Off: return "off";
        case State::Connecting: return "connecting";
        case State::Streaming: return "streaming";
        case State::Unauthorized: return "unauthorized";
        case State::NoMountpoint: return "no such mountpoint";
        case State::Refused: return "refused";
        case State::Lost: return "lost";
    }
    return "off";
}

Client::~Client() { stop(); }

bool Client::start(ClientOptions options) {
    stop();
    if (!wake_.open()) return false;
    options_ = std::move(options);
    {
        std::lock_guard lock(mutex_);
        status_ = Status{};
        status_.state = State::Connecting;
        last_frame_ms_ = -1;
    }
    active_.store(true);
    running_.store(true);
    try {
        reader_ = std::thread([this] { reader_main(); });
    } catch (const std::system_error&) {
        running_.store(false);
        active_.store(false);
        wake_.close();
        return false;
    }
    return true;
}

void Client::stop() {
    if (!reader_.joinable()) return;
    active_.store(false);
    wake_.raise();
    reader_.join();
    wake_.close();
    running_.store(false);
    std::lock_guard lock(mutex_);
    status_.state = State::Off;
    status_.cause.clear();
    status_.bytes_per_second = 0;
}

Status Client::status() const {
    std::lock_guard lock(mutex_);
    Status s = status_;
    if (last_frame_ms_ >= 0) s.frame_age_s = static_cast<double>(now_ms() - last_frame_ms_) / 1000.0;
    return s;
}

void Client::set_state(State state, std::string cause) {
    std::lock_guard lock(mutex_);
    status_.state = state;
    status_.cause = std::move(cause);
    if (state != State::Streaming) status_.bytes_per_second = 0;
}

bool Client::pause(int ms) { return wait_socket(wake_.fd(), POLLIN, ms, -1) == 0; }

void Client::reader_main() {
    int backoff = options_.backoff_first_ms;
    while (active_.load()) {
        std::uint64_t window = 0;
        const bool streamed = session(window);
        if (!active_.load()) break;
        backoff = streamed ? options_.backoff_first_ms : std::min(backoff * 2, options_.backoff_max_ms);
        if (!pause(streamed ? options_.backoff_first_ms : backoff)) break;
    }
}

bool Client::session(std::uint64_t& window_bytes) {
    {
        std::lock_guard lock(mutex_);
        status_.state = State::Connecting;
    }
    Socket socket;
    State failure = State::Refused;
    std::string cause;
    const auto reply = open_request(socket, options_.url, options_.password, options_.version, wake_.fd(), kReplyMs,
                                    failure, cause);
    if (!reply) {
        if (active_.load()) set_state(failure, cause);
        return false;
    }
    switch (reply->kind) {
        case Reply::Kind::Stream: break;
        case Reply::Kind::Unauthorized:
            set_state(State::Unauthorized, "the caster refused the user name or password (" + reply->status_line + ")");
            return false;
        case Reply::Kind::SourceTable:
        case Reply::Kind::NotFound:
            set_state(State::NoMountpoint, "the caster has no mountpoint " + options_.url.mountpoint +
                                               " (it answered with its source table)");
            return false;
        case Reply::Kind::Other:
            set_state(State::Refused, "the caster answered " + reply->status_line);
            return false;
    }
    {
        std::lock_guard lock(mutex_);
        status_.state = State::Streaming;
        status_.cause.clear();
        ++status_.connections;
    }
    rtcm3::FrameScanner scanner;
    ChunkDecoder chunks;
    std::vector<rtcm3::Frame> frames;
    std::string plain;
    std::int64_t last_data = now_ms();
    std::int64_t window_start = last_data;
    std::int64_t next_gga = last_data;
    const auto take = [&](const char* data, std::size_t size) -> bool {
        plain.clear();
        if (reply->chunked) {
            if (!chunks.feed(data, size, plain)) return false;
        } else {
            plain.assign(data, size);
        }
        frames.clear();
        scanner.feed(reinterpret_cast<const std::uint8_t*>(plain.data()), plain.size(), frames);
        for (const auto& f : frames)
            if (options_.on_frame) options_.on_frame(f.bytes.data(), f.bytes.size());
        std::lock_guard lock(mutex_);
        status_.bytes += size;
        status_.frames = scanner.frames();
        status_.bad_frames = scanner.bad_frames();
        for (const auto& f : frames) ++status_.types[f.type];
        if (!frames.empty()) last_frame_ms_ = now_ms();
        return true;
    };
    if (!reply->body_start.empty() && !take(reply->body_start.data(), reply->body_start.size())) {
        set_state(State::Lost, "the caster's chunked reply is broken");
        return true;
    }
    window_bytes = reply->body_start.size();
    while (active_.load()) {
        std::int64_t now = now_ms();
        if (options_.gga_seconds > 0 && options_.gga && now >= next_gga) {
            if (const auto gga = options_.gga()) {
                if (const int e = send_all(socket, *gga, std::chrono::milliseconds(1000))) {
                    set_state(State::Lost, "sending the position to the caster failed: " + error_text(e));
                    return true;
                }
                std::lock_guard lock(mutex_);
                ++status_.gga_sent;
                next_gga = now + options_.gga_seconds * 1000LL;
            } else {
                next_gga = now + 1000;  // no position yet: ask again soon
            }
        }
        int wait = 1000;
        if (options_.gga_seconds > 0 && options_.gga) wait = static_cast<int>(std::clamp<std::int64_t>(next_gga - now, 0, 1000));
        const int r = wait_socket(socket.get(), POLLIN, wait, wake_.fd());
        if (r < 0) break;
        now = now_ms();
        if (now - window_start >= 1000) {
            std::lock_guard lock(mutex_);
            status_.bytes_per_second = static_cast<double>(window_bytes) * 1000.0 / static_cast<double>(now - window_start);
            window_start = now;
            window_bytes = 0;
        }
        if (r == 0) {
            if (now - last_data > options_.silence_ms) {
                set_state(State::Lost, "no data from the caster for " + std::to_string(options_.silence_ms / 1000) + " s");
                return true;
            }
            continue;
        }
        char buffer[8192];
        const long got = ::recv(socket.get(), buffer, sizeof buffer, kReceiveFlags);
        if (got < 0) {
            const int e = socket_errno();
            if (e == EAGAIN || e == EWOULDBLOCK || e == EINTR) continue;
            set_state(State::Lost, "the connection to the caster failed: " + error_text(e));
            return true;
        }
        if (got == 0) {
            set_state(State::Lost, "the caster closed the connection");
            return true;
        }
        last_data = now;
        window_bytes += static_cast<std::uint64_t>(got);
        if (!take(buffer, static_cast<std::size_t>(got))) {
            set_state(State::Lost, "the caster's chunked reply is broken");
            return true;
        }
        if (reply->chunked && chunks.finished()) {
            set_state(State::Lost, "the caster ended the stream");
            return true;
        }
    }
    return true;
}

std::optional<std::vector<Mountpoint>> fetch_source_table(const CasterUrl& url, std::string_view password,
                                                          int version, int timeout_ms, std::string& error) {
    CasterUrl table_url = url;
    table_url.mountpoint.clear();
    Socket socket;
    State failure = State::Refused;
    const auto deadline = now_ms() + timeout_ms;
    const auto reply = open_request(socket, table_url, password, version, -1, timeout_ms, failure, error);
    if (!reply) return std::nullopt;
    if (reply->kind == Reply::Kind::Unauthorized) {
        error = "the caster refused the user name or password (" + reply->status_line + ")";
        return std::nullopt;
    }
    if (reply->kind != Reply::Kind::SourceTable) {
        error = "the caster answered " + reply->status_line + " instead of its source table";
        return std::nullopt;
    }
    ChunkDecoder chunks;
    std::string text;
    const auto add = [&](const char* data, std::size_t size) {
        if (reply->chunked) return chunks.feed(data, size, text);
        text.append(data, size);
        return true;
    };
    if (!add(reply->body_start.data(), reply->body_start.size())) {
        error = "the caster's chunked reply is broken";
        return std::nullopt;
    }
    while (text.find("ENDSOURCETABLE") == std::string::npos && !(reply->chunked && chunks.finished())) {
        if (text.size() > kMaxSourceTable) {
            error = "the source table is larger than " + std::to_string(kMaxSourceTable / 1024 / 1024) + " MB";
            return std::nullopt;
        }
        char buffer[8192];
        const long got = receive_some(socket, buffer, sizeof buffer,
                                      std::chrono::milliseconds(std::max<std::int64_t>(0, deadline - now_ms())));
        if (got == 0) break;  // the end of the table is the end of the connection
        if (got < 0) {
            error = got == -2 ? "the caster did not send its whole source table in time"
                              : "reading the source table failed: " + error_text(errno);
            return std::nullopt;
        }
        if (!add(buffer, static_cast<std::size_t>(got))) {
            error = "the caster's chunked reply is broken";
            return std::nullopt;
        }
    }
    return parse_source_table(text);
}

}  // namespace vg::ntrip
