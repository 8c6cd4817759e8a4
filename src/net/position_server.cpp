#include "net/position_server.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <map>
#include <tuple>

#include "gps/receiver.h"
#include "net/http_client.h"
#include "net/http_text.h"
#include "net/transfer_limits.h"
#include "platform/diagnostics.h"
#include "platform/clock.h"
#include "platform/sockets.h"
#include "settings/settings_file.h"
#include "settings/text_scan.h"

namespace vg {

namespace {

using SteadyClock = std::chrono::steady_clock;

bool has_version(std::string_view text) {
    return text.find("HTTP/1.0") != std::string_view::npos || text.find("HTTP/1.1") != std::string_view::npos;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The value of `name` in a form body ("a=1&name=value&..."), percent-encoding and '+' undone.
std::optional<std::string> form_value(std::string_view body, std::string_view name) {
    std::size_t at = 0;
    while (at <= body.size()) {
        std::size_t end = body.find_first_of("&\r\n", at);
        if (end == std::string_view::npos) end = body.size();
        const std::string_view pair = body.substr(at, end - at);
        if (pair.size() > name.size() && pair.substr(0, name.size()) == name && pair[name.size()] == '=') {
            std::string value;
            const std::string_view raw = pair.substr(name.size() + 1);
            for (std::size_t i = 0; i < raw.size(); ++i) {
                if (raw[i] == '%' && i + 2 < raw.size() && hex_value(raw[i + 1]) >= 0 && hex_value(raw[i + 2]) >= 0) {
                    value += static_cast<char>(hex_value(raw[i + 1]) * 16 + hex_value(raw[i + 2]));
                    i += 2;
                } else {
                    value += raw[i] == '+' ? ' ' : raw[i];
                }
            }
            return value;
        }
        if (end >= body.size() || body[end] != '&') break;
        at = end + 1;
    }
    return std::nullopt;
}

// Compares without stopping at the first difference, so the time taken does not tell how much of
// a guessed key was right.
bool same_key(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    unsigned diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

// The query of the request line ("GET /path?lat=1&lon=2 HTTP/1.1" → "lat=1&lon=2").
std::string_view request_query(std::string_view text) {
    const std::size_t line_end = text.find_first_of("\r\n");
    const std::string_view line = text.substr(0, line_end);
    const std::size_t target = line.find(' ');
    if (target == std::string_view::npos) return {};
    std::string_view path = line.substr(target + 1);
    path = path.substr(0, path.find(' '));
    const std::size_t q = path.find('?');
    if (q == std::string_view::npos) return {};
    std::string_view query = path.substr(q + 1);
    return query.substr(0, query.find('#'));
}

// A whole field value as a finite decimal number ("12.5", "-3", "1e2"), or nullopt.
std::optional<double> number_value(const std::optional<std::string>& text) {
    if (!text || text->empty()) return std::nullopt;
    double v = 0;
    const char* first = text->data();
    const char* last = first + text->size();
    const auto [end, error] = std::from_chars(first, last, v);
    if (error != std::errc() || end != last || !std::isfinite(v)) return std::nullopt;
    return v;
}

constexpr std::string_view kPhoneFields[] = {"lat", "lon"};

// The base copy's form: "latitude=<number>&longitude=<number>" first, each value whole (up to the next
// '&' or the end), further fields ("&name=...&key=...") after them.
bool base_form_numbers(std::string_view body, double& latitude, double& longitude) {
    if (!body.starts_with("latitude=")) return false;
    const std::size_t lat_end = std::min(body.find('&'), body.size());
    const std::string_view rest = body.substr(lat_end);
    if (!rest.starts_with("&longitude=")) return false;
    const std::string_view lon_text = rest.substr(11, rest.find('&', 11) - 11);
    const auto lat = number_value(std::string(body.substr(9, lat_end - 9)));
    const auto lon = number_value(std::string(lon_text));
    if (!lat || !lon) return false;
    latitude = *lat;
    longitude = *lon;
    return true;
}

// A device id or name as sent: at most kDeviceIdMax bytes, no control characters.
bool valid_device_text(std::string_view text) {
    if (text.size() > kDeviceIdMax) return false;
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
    return true;
}

// Days from 1970-01-01 to a proleptic Gregorian date.
std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// 9999-12-31 23:59:59 UTC: the last moment a date text can name.
constexpr std::int64_t kLastTimestamp = 253402300799;

}  // namespace

std::optional<std::int64_t> parse_phone_timestamp(std::string_view t) {
    if (t.empty()) return std::nullopt;
    if (t.find_first_not_of("0123456789.") == std::string_view::npos) {
        double v = 0;
        const auto [end, error] = std::from_chars(t.data(), t.data() + t.size(), v);
        if (error != std::errc() || end != t.data() + t.size() || !std::isfinite(v)) return std::nullopt;
        if (v > 1e11) v /= 1000;  // milliseconds, as most phone apps send them
        if (v > static_cast<double>(kLastTimestamp)) return std::nullopt;
        return static_cast<std::int64_t>(v);
    }
    if (t.size() < 19 || t[4] != '-' || t[7] != '-' || (t[10] != 'T' && t[10] != ' ') || t[13] != ':' || t[16] != ':')
        return std::nullopt;
    const int year = fixed_digits(t, 0, 4), month = fixed_digits(t, 5, 2), day = fixed_digits(t, 8, 2);
    const int hour = fixed_digits(t, 11, 2), minute = fixed_digits(t, 14, 2), second = fixed_digits(t, 17, 2);
    static constexpr int kMonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > kMonthDays[month - 1] || hour < 0 || hour > 23 ||
        minute < 0 || minute > 59 || second < 0 || second > 60)
        return std::nullopt;
    if (month == 2 && day == 29 && !(year % 4 == 0 && (year % 100 != 0 || year % 400 == 0))) return std::nullopt;
    std::size_t at = 19;
    if (at < t.size() && t[at] == '.') {
        ++at;
        const std::size_t start = at;
        while (at < t.size() && t[at] >= '0' && t[at] <= '9') ++at;
        if (at == start) return std::nullopt;
    }
    std::int64_t offset = 0;
    const std::string_view zone = t.substr(at);
    if (zone == "Z" || zone.empty()) {
        offset = 0;
    } else if (zone[0] == '+' || zone[0] == '-') {
        const bool colon = zone.size() == 6 && zone[3] == ':';
        if (zone.size() != 5 && !colon) return std::nullopt;
        const int h = fixed_digits(zone, 1, 2), m = fixed_digits(zone, colon ? 4 : 3, 2);
        if (h < 0 || h > 23 || m < 0 || m > 59) return std::nullopt;
        offset = (zone[0] == '+' ? 1 : -1) * (h * 3600 + m * 60);
    } else {
        return std::nullopt;
    }
    const std::int64_t seconds = days_from_civil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
                                 hour * 3600 + minute * 60 + second - offset;
    if (seconds < 0 || seconds > kLastTimestamp) return std::nullopt;
    return seconds;
}

bool position_request_complete(std::string_view received) {
    const std::size_t end = http_header_end(received);
    if (end == std::string_view::npos) return false;
    const auto length = find_content_length(received.substr(0, end)).value;
    if (length) return received.size() - end >= *length;
    if (received.substr(0, 4) != "POST") return true;
    return received.find('\n', end) != std::string_view::npos;
}

PositionRequestOutcome handle_position_request(std::string_view received, std::string_view relay_key) {
    PositionRequestOutcome outcome;
    // The request is a text: it ends at the first NUL byte.
    if (auto nul = received.find('\0'); nul != std::string_view::npos) received = received.substr(0, nul);

    std::string_view text;
    std::string_view body;
    const std::size_t end = http_header_end(received);
    const auto length =
        end == std::string_view::npos ? std::nullopt : find_content_length(received.substr(0, end)).value;
    if (length) {
        // At most the bytes that did arrive, whatever length the header claims.
        text = received.substr(0, end + static_cast<std::size_t>(std::min<std::uint64_t>(received.size() - end, *length)));
        body = text.substr(end);
    } else {
        // The body is every byte that came, up to the end of the connection or the wait for it; the
        // line end after it (CR LF, LF, or none at all) is no part of its last field.
        text = received;
        if (end != std::string_view::npos) {
            body = text.substr(end);
            while (!body.empty() && (body.back() == '\n' || body.back() == '\r')) body.remove_suffix(1);
        }
    }

    const bool get = text.substr(0, 3) == "GET";
    const bool post = text.substr(0, 4) == "POST";
    if (!get && !post) return outcome;
    outcome.reply = has_version(text);

    const std::string_view query = request_query(text);
    // A field of the phone form: the form body's, else the query's.
    auto field = [&](std::string_view name) {
        auto value = post ? form_value(body, name) : std::nullopt;
        return value ? value : form_value(query, name);
    };
    const std::string body_text(post ? body : std::string_view());
    double latitude = 0, longitude = 0;
    const bool base_form = post && base_form_numbers(body_text.c_str(), latitude, longitude);
    if (!base_form) {
        for (const std::string_view name : kPhoneFields)
            if (field(name)) outcome.phone_form = true;
        // A GET without the phone fields is only answered, as always.
        if (get && !outcome.phone_form) return outcome;
    }
    outcome.repaint = true;
    if (!relay_key.empty()) {
        const auto key = field("key");
        if (!key || !same_key(*key, relay_key)) {
            outcome.status = 403;
            outcome.wrong_key = key.has_value();
            outcome.phone_form = false;
            return outcome;
        }
    }
    // The device: the tracker's `id` (or `deviceid`), the base copy's `name`; none: the Remote target.
    const auto id = outcome.phone_form ? (field("id") ? field("id") : field("deviceid")) : form_value(body, "name");
    if (id && !valid_device_text(*id)) {
        outcome.status = 400;
        outcome.phone_form = false;
        return outcome;
    }
    if (id) outcome.device_id = *id;
    if (outcome.phone_form) {
        const auto lat = number_value(field("lat")), lon = number_value(field("lon"));
        if (lat && lon) {
            latitude = *lat;
            longitude = *lon;
        }
        if (!lat || !lon || !valid_coordinates(latitude, longitude)) {
            outcome.status = 400;
            outcome.phone_form = false;
            return outcome;
        }
        if (const auto t = field("timestamp")) outcome.timestamp = parse_phone_timestamp(*t);
        if (const auto v = number_value(field("speed")); v && *v >= 0 && *v < 1e6) outcome.speed_knots = v;
        if (const auto v = number_value(field("bearing")); v && *v >= 0 && *v <= 360)
            outcome.course = *v == 360 ? 0.0 : *v;
        if (const auto v = number_value(field("altitude")); v && std::fabs(*v) < 1e6) outcome.altitude = v;
        if (const auto v = number_value(field("accuracy")); v && *v >= 0 && *v < 1e7) outcome.accuracy = v;
        if (const auto v = number_value(field("batt")); v && *v >= 0 && *v <= 100) outcome.battery = v;
    } else if (!base_form || !valid_coordinates(latitude, longitude)) {
        outcome.status = 400;
        return outcome;
    }
    outcome.latitude = latitude;
    outcome.longitude = longitude;
    return outcome;
}

void store_position(const PositionRequestOutcome& taken, std::int64_t received_at, FixRecord& r) {
    if (!taken.has_position()) return;
    r.latitude = *taken.latitude;
    r.longitude = *taken.longitude;
    ++r.positions;
    r.fix_dimension = 3;
    if (!taken.phone_form) return;
    if (taken.speed_knots) r.speed_knots = *taken.speed_knots;
    if (taken.course) r.course = *taken.course;
    if (taken.altitude) r.altitude = *taken.altitude;
    // The phone's time of the fix, else the time it arrived.
    const std::time_t t = static_cast<std::time_t>(taken.timestamp.value_or(received_at));
    std::tm utc{};
    if (utc_parts(t, utc))
        set_receiver_time(r, utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
}

DeviceReport device_report(const PositionRequestOutcome& taken, std::int64_t received_at) {
    DeviceReport d;
    d.id = taken.device_id;
    d.via = "http";
    d.lat = taken.latitude.value_or(0);
    d.lon = taken.longitude.value_or(0);
    d.time_ms = taken.timestamp.value_or(received_at) * 1000;
    if (taken.speed_knots) d.speed_kmh = *taken.speed_knots * 1.852;
    d.course_deg = taken.course;
    d.altitude_m = taken.altitude;
    d.accuracy_m = taken.accuracy;
    d.battery_pct = taken.battery;
    return d;
}

std::string position_reply(std::int64_t now, int status) {
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
    const char* status_line = status == 403   ? "403 Forbidden"
                              : status == 400 ? "400 Bad Request"
                              : status == 429 ? "429 Too Many Requests"
                                              : "200 OK";
    std::snprintf(reply, sizeof reply, "HTTP/1.0 %s\r\nServer: Vor %d.%d\r\nDate: %s\r\nContent-length: 0\r\n\r\n",
                  status_line, 1, 4, date);
    return reply;
}

std::int64_t PositionServer::now() const {
    return config_.clock ? config_.clock() : static_cast<std::int64_t>(std::time(nullptr));
}

void PositionServer::repaint() {
    if (fix_notice_) fix_notice_->post();
}

bool PositionServer::start(const PositionServerConfig& config) {
    if (thread_.joinable()) stop();
    config_ = config;
    server_running.store(true);
    start_error_.store(0);
    last_position_ms.store(0);
    sole_device_.clear();
    several_devices_ = false;

    const std::filesystem::path ini = config.settings_dir / kIniFile;
    std::string bind_text = config.bind_address;
    if (bind_text.empty()) {
        if (const auto value = setting_value(ini, "bind")) bind_text = std::string(trim_blanks(*value));
    }
    relay_key_ = config.relay_key ? *config.relay_key : read_relay_key(ini).value_or("");
    guessers_.clear();
    if (!relay_key_.empty() && relay_key_.size() < kMinRelayKeyLength) {
        print_transfer_error(EINVAL, "relaykey (shorter than " + std::to_string(kMinRelayKeyLength) + " characters)");
        server_running.store(false);
        return false;
    }

    // A dotted address is taken as it is, so that 0.0.0.0 (every address) is an address too.
    std::optional<std::uint32_t> address;
    in_addr dotted{};
    if (!bind_text.empty() && ::inet_pton(AF_INET, bind_text.c_str(), &dotted) == 1) address = dotted.s_addr;
    else if (const std::uint32_t a = bind_text.empty() ? local_address() : resolve_host(bind_text); a != 0) address = a;
    if (!address) {
        print_transfer_error(-1, "GetLocalHost");
        server_running.store(false);
        return false;
    }

    listen_fd_ = open_socket();
    if (listen_fd_ < 0) {
        server_running.store(false);
        return false;
    }
    set_server_address_options(listen_fd_);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = *address;
    addr.sin_port = htons(static_cast<std::uint16_t>(config.port));
    if (config.port < 0 || config.port > 65535 ||
        ::bind(listen_fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        const int error = config.port < 0 || config.port > 65535 ? EINVAL : socket_errno();
        start_error_.store(error);
        print_transfer_error(error, "bind()");
        close_socket(listen_fd_);
        listen_fd_ = -1;
        server_running.store(false);
        return false;
    }
    socklen_t len = sizeof addr;
    // A long queue: a burst of connections waits in the kernel until the loop takes it.
    if (::listen(listen_fd_, SOMAXCONN) != 0 || ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
        !wake_.open()) {
        close_socket(listen_fd_);
        listen_fd_ = -1;
        server_running.store(false);
        return false;
    }
    port_.store(ntohs(addr.sin_port));
    thread_active_.store(true);
    thread_ = std::thread([this] { position_server(); });
    return true;
}

void PositionServer::stop() {
    server_running.store(false);
    if (!thread_.joinable()) return;
    wake_.raise();
    // The wake-up ends the thread's poll at once and it never waits for the window, so the join
    // ends promptly.
    thread_.join();
    wake_.close();
}

struct PositionServer::Connection {
    int fd = -1;
    std::string request;
    SteadyClock::time_point deadline;       // the whole request must have come by then
    SteadyClock::time_point accepted;
    SteadyClock::time_point last_activity;  // the last bytes from the client (or its accept)
    std::uint32_t peer = 0;                 // the client's IPv4 address (network byte order)
    std::optional<SteadyClock::time_point> header_seen;  // when the header had ended
    bool closing = false;                   // answered: reading what the client still sends
};

void PositionServer::position_server() {
    std::vector<Connection> connections;  // in the order they were accepted
    std::vector<pollfd> polls;
    std::vector<char> buffer(kPositionRequestBuffer);
    auto close_at = [&](std::size_t i) {
        close_socket(connections[i].fd);
        connections.erase(connections.begin() + static_cast<std::ptrdiff_t>(i));
    };
    // Drops one connection to make room for a new one, by the order of PositionServerConfig:
    // answered, past its grace, new; then the address holding most; then idle longest.
    std::map<std::uint32_t, int> per_peer;
    auto drop_one = [&] {
        if (connections.empty()) return false;
        const auto t = SteadyClock::now();
        per_peer.clear();
        for (const Connection& c : connections) ++per_peer[c.peer];
        auto rank = [&](const Connection& c) {
            const int group = c.closing ? 0 : t - c.accepted >= config_.new_connection_grace ? 1 : 2;
            return std::tuple(group, -per_peer[c.peer], c.last_activity);
        };
        std::size_t victim = 0;
        for (std::size_t i = 1; i < connections.size(); ++i)
            if (rank(connections[i]) < rank(connections[victim])) victim = i;
        close_at(victim);
        return true;
    };

    while (server_running.load()) {
        const auto now_steady = SteadyClock::now();
        auto wake_at = now_steady + std::chrono::milliseconds(100);
        for (const Connection& c : connections) {
            wake_at = std::min(wake_at, c.deadline);
            if (c.header_seen) wake_at = std::min(wake_at, c.last_activity + kPositionBodyWait);
        }
        polls.clear();
        polls.push_back(poll_entry(wake_.fd(), POLLIN));
        polls.push_back(poll_entry(listen_fd_, POLLIN));
        for (const Connection& c : connections) polls.push_back(poll_entry(c.fd, POLLIN));
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(wake_at - now_steady).count();
        const int ready = poll_sockets(polls.data(), static_cast<unsigned>(polls.size()),
                                       static_cast<int>(std::max<long long>(0, wait)));
        if (ready < 0 && socket_errno() != EINTR) break;
        // The wake-up stays raised until stop() closes it: the flag ends the loop.
        if (!server_running.load()) break;

        // Read what has come; connections are handled in reverse so that erasing keeps the indexes.
        bool any_ended = false;
        const auto t = SteadyClock::now();
        for (std::size_t i = connections.size(); i-- > 0;) {
            Connection& c = connections[i];
            const short revents = polls[i + 2].revents;
            bool close_now = false;
            bool handle = false;
            if (revents & (POLLIN | POLLHUP | POLLERR)) {
                const std::size_t room = c.closing ? buffer.size() : kPositionRequestBuffer - c.request.size();
                const long got = ::recv(c.fd, buffer.data(), static_cast<int>(room), kReceiveFlags);
                const int error = got < 0 ? socket_errno() : 0;
                if (got > 0 && !c.closing) {
                    c.request.append(buffer.data(), static_cast<std::size_t>(got));
                    c.last_activity = t;
                    if (!c.header_seen && http_header_end(c.request) != std::string::npos) c.header_seen = t;
                    handle = position_request_complete(c.request) || c.request.size() >= kPositionRequestBuffer;
                } else if (got == 0 || (got < 0 && error != EAGAIN && error != EINTR)) {
                    // The client is done: whatever did arrive is the request.
                    close_now = c.closing || c.request.empty();
                    handle = !close_now;
                }
            }
            if (!handle && !close_now) {
                if (t >= c.deadline) {
                    close_now = c.closing || c.request.empty();
                    handle = !close_now;
                } else if (!c.closing && c.header_seen && t >= c.last_activity + kPositionBodyWait) {
                    handle = true;  // a POST without Content-length whose sender went quiet
                }
            }
            if (handle) close_now = !answer(c);
            if (close_now) {
                close_at(i);
                any_ended = true;
            }
        }

        // Take new connections, making room by dropping one when all are taken.
        for (int taken = 0; taken < 256 && ready > 0 && (polls[1].revents & POLLIN); ++taken) {
            const int fd = accept_socket(listen_fd_);
            if (fd < 0) {
                const int error = socket_errno();
                if ((error == EMFILE || error == ENFILE) && drop_one()) continue;
                break;  // nothing waiting (or nothing to free): the next round tries again
            }
            while (!connections.empty() && connections.size() >= std::max<std::size_t>(1, config_.max_connections))
                drop_one();
            Connection c;
            c.fd = fd;
            sockaddr_in peer{};
            socklen_t peer_length = sizeof peer;
            if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peer_length) == 0 && peer.sin_family == AF_INET)
                c.peer = peer.sin_addr.s_addr;
            c.accepted = c.last_activity = SteadyClock::now();
            c.deadline = c.last_activity + config_.request_timeout;
            connections.push_back(std::move(c));
        }
        if (any_ended) stale_check();
    }
    for (const Connection& c : connections) close_socket(c.fd);
    close_socket(listen_fd_);
    listen_fd_ = -1;
    thread_active_.store(false);
}

void PositionServer::stale_check() {
    if (now() - remote_fix_time.load() <= kRemoteStaleSeconds) return;
    const bool had_fix = fix_.update([](FixRecord& r) {
        const bool had = r.fix_dimension > 0;
        r.fix_dimension = 0;
        return had;
    });
    repaint();
    if (had_fix && config_.on_stale) config_.on_stale();
}

void PositionServer::notice(const std::string& line, SteadyClock::time_point now) {
    if (last_notice_ != SteadyClock::time_point{} && now - last_notice_ < std::chrono::seconds(1)) {
        ++notices_not_shown_;
        return;
    }
    std::string text = line;
    if (notices_not_shown_ > 0) text += " (" + std::to_string(notices_not_shown_) + " more not shown)";
    notices_not_shown_ = 0;
    last_notice_ = now;
    if (config_.on_notice) {
        config_.on_notice(text);
    } else {
        report(text);
    }
}

void PositionServer::count_wrong_key(std::uint32_t peer, SteadyClock::time_point now) {
    auto found = guessers_.find(peer);
    if (found == guessers_.end()) {
        // A full table forgets one address: one not in back-off first, then the one heard of
        // longest ago, so that many sources cannot end the back-off of one that guessed most.
        if (guessers_.size() >= std::max<std::size_t>(1, config_.key_guess_peers)) {
            auto victim = guessers_.begin();
            for (auto it = guessers_.begin(); it != guessers_.end(); ++it) {
                const bool blocked = it->second.until > now, victim_blocked = victim->second.until > now;
                if (blocked != victim_blocked ? !blocked : it->second.last < victim->second.last) victim = it;
            }
            guessers_.erase(victim);
        }
        found = guessers_.emplace(peer, KeyGuesser{}).first;
    }
    KeyGuesser& g = found->second;
    g.last = now;
    // The first back-off after kWrongKeysBeforeBackoff wrong keys; then each wrong key doubles it.
    if (++g.wrong < (g.backoff.count() == 0 ? kWrongKeysBeforeBackoff : 1)) return;
    const int wrong = g.wrong;
    g.backoff = g.backoff.count() == 0 ? kFirstKeyBackoff : std::min(g.backoff * 2, kMaxKeyBackoff);
    g.until = now + g.backoff;
    g.wrong = 0;
    in_addr address{};
    address.s_addr = peer;
    char text[INET_ADDRSTRLEN] = "?";
    ::inet_ntop(AF_INET, &address, text, sizeof text);
    notice("Position server: " + std::to_string(wrong) + " wrong relay key" + (wrong == 1 ? "" : "s") + " from " +
               text + ", its requests refused for " + std::to_string(g.backoff.count() / 1000) + " s",
           now);
}

bool PositionServer::answer(Connection& c) {
    PositionRequestOutcome outcome = handle_position_request(c.request, relay_key_);
    if (!relay_key_.empty()) {
        const auto t = SteadyClock::now();
        const auto guesser = guessers_.find(c.peer);
        if (guesser != guessers_.end() && t < guesser->second.until) {
            // In back-off: whatever it sent, nothing is taken and its key is not told right or wrong.
            PositionRequestOutcome refused;
            refused.reply = outcome.reply;
            refused.status = 429;
            outcome = refused;
        } else if (outcome.wrong_key) {
            count_wrong_key(c.peer, t);
        } else if (outcome.has_position() && guesser != guessers_.end()) {
            guessers_.erase(guesser);  // the right key
        }
    }
    // The position is stored and counted before the client hears the answer, so whoever reads the
    // fix after the reply sees it.
    // A named device also moves the fix while it is the only one heard since the start (one phone
    // as the Remote receiver, as before devices had names); from a second on, names go to the fleet only.
    bool sole_device = false;
    if (outcome.has_position() && !outcome.device_id.empty() && !several_devices_) {
        if (sole_device_.empty()) sole_device_ = outcome.device_id;
        sole_device = sole_device_ == outcome.device_id;
        several_devices_ = !sole_device;
    }
    if (outcome.has_position() && !outcome.device_id.empty())
        if (config_.on_device) config_.on_device(device_report(outcome, now()));
    if (outcome.has_position() && (outcome.device_id.empty() || sole_device)) {
        const std::int64_t received_at = now();
        fix_.update([&](FixRecord& r) { store_position(outcome, received_at, r); });
        remote_fix_time.store(received_at);
        last_position_ms.store(receiver_clock_ms());
        if (config_.on_position) config_.on_position(outcome);
    }
    if (outcome.status == 400 || c.request.size() >= kPositionRequestBuffer) dropped.fetch_add(1);
    if (outcome.repaint) repaint();
    if (!outcome.reply) return false;

    // The reply is short and the socket's buffer empty: one send takes it, or the client is gone.
    const std::string reply = position_reply(now(), outcome.status);
    if (::send(c.fd, reply.data(), static_cast<int>(reply.size()), kSendFlags) != static_cast<long>(reply.size()))
        return false;
    // Let the client read the reply before the connection goes: end our side, then take what the
    // client still sends (a line end after its body) for a short, bounded time.
    shutdown_sending(c.fd);
    c.closing = true;
    c.header_seen.reset();
    c.deadline = SteadyClock::now() + std::chrono::milliseconds(200);
    return true;
}

}  // namespace vg
