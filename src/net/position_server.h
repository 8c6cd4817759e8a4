// The position server of Remote mode: a small HTTP server on its own thread that takes the positions
// a base copy posts ("latitude=%lf&longitude=%lf" to any path) into the fix record (a named device's
// go to the fleet, see on_device, and to the fix too while it is the only name heard), answers GET
// requests (used to wake it and as the remote poll), and withdraws the fix when no position has come
// for more than 300 seconds. One poll loop serves many connections at once, each within its own
// deadline, so slow or idle clients cannot hold back a base's post.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "gps/device_report.h"
#include "gps/fix_record.h"
#include "platform/fix_notice.h"
#include "platform/socket_wake.h"

namespace vg {

inline constexpr std::size_t kPositionRequestBuffer = 16384;
inline constexpr std::int64_t kRemoteStaleSeconds = 300;
// Connections served at once; when a new one comes beyond this, one is dropped to make room (see
// PositionServerConfig::new_connection_grace for which).
inline constexpr std::size_t kPositionServerConnections = 256;
// How long a new connection is kept from being dropped for a newcomer, so that a client that sends
// soon after connecting (a phone within a second) is served beside crowds of idle ones.
inline constexpr std::chrono::milliseconds kNewConnectionGrace{2000};
// A relay key shorter than this is refused at start: it would be guessed too soon.
inline constexpr std::size_t kMinRelayKeyLength = 8;
// After this many wrong relay keys from one address, every request from it is answered 429 for
// kFirstKeyBackoff; each wrong key after a back-off doubles it, up to kMaxKeyBackoff. The right
// key clears the address's record.
inline constexpr int kWrongKeysBeforeBackoff = 5;
inline constexpr std::chrono::milliseconds kFirstKeyBackoff{1000};
inline constexpr std::chrono::milliseconds kMaxKeyBackoff{60000};
// Addresses whose wrong keys are remembered at most (see PositionServerConfig::key_guess_peers).
inline constexpr std::size_t kKeyGuessPeers = 4096;
// How long a POST whose header has ended without a Content-length waits, after the last bytes that
// came, for more of its body (or the end of the connection, or a line end after it).
inline constexpr std::chrono::milliseconds kPositionBodyWait{1000};

// What one request asks for, decided from its bytes alone.
struct PositionRequestOutcome {
    bool reply = false;    // send a reply (a request with an HTTP version)
    int status = 200;      // 200: a GET or a position taken; 400: a position request without a
                           // usable position; 403: one without the relay key the server requires
                           // (the server answers 429 to an address in its back-off)
    bool wrong_key = false;  // 403 for a key that was given but is not the relay key
    bool repaint = false;  // a position request: repaint whether or not a position was taken
    std::optional<double> latitude;
    std::optional<double> longitude;
    // The phone-tracker form (`lat`, `lon` and optional fields, in the query or a form body, by GET
    // or POST). Its optional fields are kept only when they are numbers in range.
    bool phone_form = false;
    std::optional<std::int64_t> timestamp;  // seconds since 1970, UTC
    std::optional<double> speed_knots;
    std::optional<double> course;    // `bearing`, degrees from north, [0, 360)
    std::optional<double> altitude;  // metres
    std::optional<double> accuracy;  // metres
    std::optional<double> battery;   // `batt`, percent
    // The device that sent it: the tracker form's `id` (or `deviceid`), the base form's `name`; empty:
    // the one Remote target (the fix record). An id longer than kDeviceIdMax or holding control
    // characters makes the request a 400.
    std::string device_id;
    bool has_position() const { return latitude && longitude; }
};

// A phone-tracker `timestamp`: seconds since 1970 (milliseconds when it is larger than 10^11), or a
// UTC date and time "YYYY-MM-DD HH:MM:SS" (also with 'T', fractions of a second and a trailing "Z"
// or "+HH:MM"/"-HH:MM" offset). Anything else, or a time before 1970 or after 9999, is nullopt.
std::optional<std::int64_t> parse_phone_timestamp(std::string_view text);

// Whether `received` holds a whole request: its header has ended (CR LF CR LF or LF LF) and, when
// the header has a Content-length, that many body bytes have arrived; a POST without one is whole
// once a line end follows its body (the server handles it anyway after kPositionBodyWait).
bool position_request_complete(std::string_view received);

// Handles the bytes of one request. With a Content-length the body is exactly that many bytes after
// the header; without one the body is every byte after the first blank line but for the line end
// (CR LF, LF or none) that closes it. A POST body "latitude=<n>&longitude=<n>[&name=ID...]" (each
// number the whole field) is the base copy's form; otherwise a GET or POST whose query or form body has a `lat` or `lon`
// field is the phone-tracker form (`lat`, `lon`, optional `timestamp`, `speed` in knots,
// `bearing`, `altitude`, `accuracy`; a body field wins over the query's). A GET without them is
// only answered. Positions that are not finite or lie outside ±90° / ±180° are not taken. With a
// non-empty `relay_key` a position request is taken only when its body or query carries "key="
// with that key (percent-encoding undone); others are answered 403 (wrong_key when one was given).
PositionRequestOutcome handle_position_request(std::string_view received, std::string_view relay_key = {});

// Writes a taken position into the fix record: latitude, longitude and fix dimension 3, and for the
// phone form also the speed, course and altitude it gave and its time (the time it was received,
// `received_at`, when it gave none).
void store_position(const PositionRequestOutcome& taken, std::int64_t received_at, FixRecord& record);

// The reply sent to every answered request, dated `now` (seconds) in local time: "200 OK", or for
// the other statuses "400 Bad Request", "403 Forbidden" and "429 Too Many Requests", in the same
// five lines.
// A position of a named device as the fleet takes it (speed in km/h; the time it arrived,
// `received_at` in seconds, when the tracker gave none).
DeviceReport device_report(const PositionRequestOutcome& taken, std::int64_t received_at);

std::string position_reply(std::int64_t now, int status = 200);

struct PositionServerConfig {
    int port = 4477;  // 0: a port chosen by the system (see PositionServer::port())
    // The IPv4 address to listen on ("0.0.0.0": every address of this machine). Empty: the `bind`
    // key of vor_ini.txt in settings_dir, and without it the first address of this machine's host
    // name.
    std::string bind_address;
    // The key a POST must carry. Unset: the `relaykey` line of vor_ini.txt in settings_dir, and
    // without it none (every POST is taken, as from peers that know no key). A key shorter than
    // kMinRelayKeyLength is refused: start() fails with its diagnostic line.
    std::optional<std::string> relay_key;
    // Addresses whose wrong keys are remembered; beyond this one is forgotten (one not in back-off
    // first, then the one heard of longest ago), so spoofed sources cannot grow the table.
    std::size_t key_guess_peers = kKeyGuessPeers;
    // Receives the server's notices (an address put in back-off for wrong keys: one line a burst,
    // at most one a second, with the count of those not shown). Empty: standard output.
    std::function<void(const std::string& line)> on_notice;
    std::filesystem::path settings_dir;  // empty: the working directory
    // A client that has not sent its whole request within this time is dropped.
    std::chrono::milliseconds request_timeout{5000};
    // Connections served at once. When a newcomer finds them all taken, the one dropped is, in this
    // order, one already answered, one older than `new_connection_grace`, then a newer one; within
    // that, one from the address holding the most connections, then the one idle longest. Idle and
    // slow clients and a flood from one address thus go before a client that has just connected.
    std::size_t max_connections = kPositionServerConnections;
    std::chrono::milliseconds new_connection_grace{kNewConnectionGrace};
    // Seconds clock for remote_fix_time, the staleness rule and the Date line; default time().
    std::function<std::int64_t()> clock;
    // Called on the server thread after a position of the Remote target (no device id) was taken
    // (with the whole outcome, for the phone form's further fields) / after a fix was withdrawn.
    std::function<void(const PositionRequestOutcome& taken)> on_position;
    std::function<void()> on_stale;
    // Called on the server thread with each position of a named device (one with an id) for the
    // fleet; it moves the fix record too while it is the only name heard since start. Must not wait
    // on the window thread.
    std::function<void(const DeviceReport& report)> on_device;
};

class PositionServer {
public:
    // `fix_notice` (may be null) is posted after each POST and each staleness check that
    // withdraws or keeps a withdrawn fix.
    PositionServer(SharedFix& fix, FixNotice* fix_notice) : fix_(fix), fix_notice_(fix_notice) {}
    ~PositionServer() { stop(); }
    PositionServer(const PositionServer&) = delete;
    PositionServer& operator=(const PositionServer&) = delete;

    // Binds, listens and starts the server thread. Returns false, after the diagnostic
    // line on standard output, when no address is known or binding fails; true when serving.
    bool start(const PositionServerConfig& config);

    // Clears server_running, wakes the thread and joins it. Safe to call when not started.
    void stop();

    // True while the server thread runs.
    bool running() const { return thread_active_.load(); }
    // The port actually listened on.
    int port() const { return port_.load(); }

    // True while the server is to keep accepting. Clearing it and then connecting once (any request)
    // also ends the thread.
    std::atomic<bool> server_running{false};
    // Seconds of the last accepted position; 0 until one came.
    std::atomic<std::int64_t> remote_fix_time{0};
    // receiver_clock_ms() of the last accepted position since start; 0 until one came.
    std::atomic<std::int64_t> last_position_ms{0};
    // The system's error number of the last failed start's bind (0: it failed otherwise or not).
    int start_error() const { return start_error_.load(); }
    // Requests dropped as malformed (answered 400) or oversized (filling the request buffer).
    std::atomic<std::uint64_t> dropped{0};

private:
    struct Connection;
    std::string sole_device_;        // server thread: the one named device heard since start
    bool several_devices_ = false;   // server thread: a second name was heard
    // An address that sent wrong relay keys.
    struct KeyGuesser {
        int wrong = 0;                           // wrong keys since the last back-off began
        std::chrono::milliseconds backoff{0};    // the last back-off given (0: none yet)
        std::chrono::steady_clock::time_point until{};  // refused until then
        std::chrono::steady_clock::time_point last{};   // the last wrong key
    };
    // Counts a wrong key from `peer`, starting its back-off when due.
    void count_wrong_key(std::uint32_t peer, std::chrono::steady_clock::time_point now);
    // Prints (or hands on_notice) one notice line, at most one a second.
    void notice(const std::string& line, std::chrono::steady_clock::time_point now);
    // The server thread: serves connections until server_running is cleared.
    void position_server();
    std::int64_t now() const;
    // Handles a connection's request; false when it is to be closed at once.
    bool answer(Connection& c);
    void stale_check();
    void repaint();

    SharedFix& fix_;
    FixNotice* fix_notice_;
    PositionServerConfig config_;
    std::string relay_key_;
    std::map<std::uint32_t, KeyGuesser> guessers_;  // server thread only
    std::chrono::steady_clock::time_point last_notice_{};
    int notices_not_shown_ = 0;
    int listen_fd_ = -1;
    SocketWake wake_;  // raised by stop() to end the loop's wait
    std::atomic<int> port_{0};
    std::atomic<int> start_error_{0};
    std::atomic<bool> thread_active_{false};
    std::thread thread_;
};

}  // namespace vg
