// NTRIP client: RTK corrections from a caster (NTRIP 1, "ICY 200 OK", and NTRIP 2, HTTP/1.1 with chunked
// replies), with Basic authentication, the caster's source table, and a reader thread of its own that
// reconnects with back-off. Only whole RTCM 3 frames whose checksum holds are handed on; a GGA of the
// current position goes to the caster every few seconds (networks with virtual stations need it).
// Threads: start/stop/status from any one controlling thread; on_frame and gga are called on the
// reader thread. Every wait of the reader is bounded (a second at most) and ended early by stop();
// the host name lookup is the system's (getaddrinfo), instant for addresses and loopback.
// The password is kept in memory only: no text made here (status, describe) ever contains it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/socket_wake.h"

namespace vg::ntrip {

inline constexpr int kDefaultPort = 2101;
inline constexpr int kDefaultGgaSeconds = 10;

struct CasterUrl {
    std::string host;
    int port = kDefaultPort;
    std::string user;        // empty: no authentication
    std::string mountpoint;  // empty: the source table
};
// "http://user@host:port/MOUNT" ("ntrip://" also; user, port and mountpoint optional). A password in
// the URL is refused (it belongs in its own file), as are other schemes and bad ports: nullopt.
std::optional<CasterUrl> parse_url(std::string_view text);
// The URL as written in settings, without any password.
std::string describe(const CasterUrl& url);

// One STR line of a source table.
struct Mountpoint {
    std::string mountpoint, identifier, format, format_details;
    int carrier = 0;  // 0 none, 1 L1, 2 L1+L2
    std::string nav_system, network, country;
    double lat = 0, lon = 0;
    bool located = false;  // lat and lon were given
    bool nmea = false;     // the caster wants the client's position (GGA)
    double distance_m = -1;  // from the position given to sort_by_distance; -1 unknown
};
// The STR lines of a source table (other lines are skipped, as is a line without a mountpoint name;
// fields a short line lacks stay empty, malformed numbers unknown).
std::vector<Mountpoint> parse_source_table(std::string_view text);
// Sets distance_m from (lat, lon) and sorts nearest first; mountpoints without a position last.
void sort_by_distance(std::vector<Mountpoint>& table, double lat, double lon);

// "$GPGGA,...*CS\r\n" for a position (fix quality 1, UTC time of day in seconds).
std::string gga_sentence(double lat, double lon, double altitude_m, double utc_seconds_of_day);
// "user:password" in base64, for the Authorization field.
std::string basic_credentials(std::string_view user, std::string_view password);

// Undoes HTTP chunked transfer coding incrementally. False once the coding is broken (no more data
// is given out after that).
class ChunkDecoder {
public:
    bool feed(const char* data, std::size_t size, std::string& out);
    bool finished() const { return state_ == State::Done; }

private:
    enum class State { Size, SizeLineEnd, Data, DataEnd, Trailer, Done, Broken } state_ = State::Size;
    std::uint64_t size_ = 0;
    int digits_ = 0;
    bool extension_ = false;
    int trailer_chars_ = 0;
};

enum class State { Off, Connecting, Streaming, Unauthorized, NoMountpoint, Refused, Lost };
const char* state_name(State state);  // "off", "connecting", "streaming", "unauthorized", ...

struct Status {
    State state = State::Off;
    std::string cause;          // why, in words, for the states that are failures
    double bytes_per_second = 0;
    std::map<int, std::uint64_t> types;  // message numbers seen, with counts
    double frame_age_s = -1;    // seconds since the last valid frame; -1 none yet
    std::uint64_t frames = 0, bad_frames = 0, bytes = 0;
    int connections = 0;        // connections answered with a stream
    int gga_sent = 0;
};

struct ClientOptions {
    CasterUrl url;
    std::string password;
    int version = 2;  // 1 or 2
    int gga_seconds = kDefaultGgaSeconds;
    std::function<std::optional<std::string>()> gga;                 // current GGA, or none yet
    std::function<void(const std::uint8_t*, std::size_t)> on_frame;  // each valid frame
    int backoff_first_ms = 1000;
    int backoff_max_ms = 60000;
    int silence_ms = 30000;  // a stream silent this long is lost
};

class Client {
public:
    Client() = default;
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // Starts the reader (a running one is stopped first); false when no thread can be made.
    bool start(ClientOptions options);
    // Wakes and joins the reader; returns within about a second.
    void stop();
    bool running() const { return running_.load(); }
    Status status() const;

private:
    void reader_main();
    bool session(std::uint64_t& window_bytes);  // one connection; true when it streamed
    bool pause(int ms);                          // false when stop() woke it
    void set_state(State state, std::string cause = {});

    ClientOptions options_;
    std::atomic<bool> running_{false};
    std::atomic<bool> active_{false};
    SocketWake wake_;
    std::thread reader_;
    mutable std::mutex mutex_;
    Status status_;
    std::int64_t last_frame_ms_ = -1;  // steady clock, under mutex_
};

// One request for the source table (no mountpoint), waiting at most `timeout_ms` in all. On failure
// returns nullopt with the reason in `error` (401 named as such).
std::optional<std::vector<Mountpoint>> fetch_source_table(const CasterUrl& url, std::string_view password,
                                                          int version, int timeout_ms, std::string& error);

}  // namespace vg::ntrip
