// Receivers over the network: a gpsd daemon (TCP, JSON reports after ?WATCH) or an NMEA stream (TCP
// client, as phone apps and multiplexers serve it, or a UDP listener). One reader thread per
// connection run; it reconnects with back-off when the peer goes away, and every wait it makes is
// bounded and ended early by stop(), so Disconnect ends it within the serial reader's bound.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "gps/device_type.h"
#include "gps/fix_record.h"
#include "gps/receiver_parser.h"
#include "platform/fix_notice.h"
#include "platform/socket_wake.h"

namespace vg {

struct StreamAddress {
    enum class Kind { Tcp, Udp } kind = Kind::Tcp;
    std::string host;  // for Udp: the address to listen on, empty for every interface
    int port = 0;
};

inline constexpr int kGpsdDefaultPort = 2947;

// "host:port", "host" or "" (127.0.0.1:2947 where a part is missing); nullopt when malformed.
std::optional<StreamAddress> parse_gpsd_address(std::string_view value);
// "tcp://host:port" or "udp://:port" / "udp://host:port"; nullopt when malformed.
std::optional<StreamAddress> parse_nmea_address(std::string_view value);
// "tcp://host:port", "udp://:port" or "gpsd host:port", as the user reads it in messages.
std::string describe(const StreamAddress& address);

struct StreamSourceOptions {
    FixNotice* fix_notice = nullptr;            // posted at most once per clock second
    std::function<long long()> clock_seconds;   // empty: the system clock
    std::atomic<int>* silence_ticks = nullptr;  // cleared for every chunk received
    ais::AisFeed* ais = nullptr;                // AIS heard on the stream; null: dropped
};

class StreamSource {
public:
    StreamSource(SharedFix& fix, StreamSourceOptions options);
    ~StreamSource();
    StreamSource(const StreamSource&) = delete;
    StreamSource& operator=(const StreamSource&) = delete;

    // Starts the reader for a gpsd or NMEA network device; false when a thread cannot be made or
    // the device is not a network one. A running reader is stopped first.
    bool start(DeviceType type, const StreamAddress& address);
    // Ends the reader: wakes it and joins it (every wait of the reader is bounded, and it never
    // waits for the window).
    void stop();

    bool running() const { return running_.load(); }
    // Connections made (TCP) or sockets bound (UDP) since start; for status and tests.
    int connections() const { return connections_.load(); }
    // True while a TCP connection is up or the UDP socket is bound; false while the reader waits
    // to reconnect after the peer went away (a gpsd that ended, a phone app closed).
    bool connected() const { return connected_.load(); }

    // What the reader is doing, for the receiver's status (any thread).
    enum class Phase { Stopped, Connecting, Connected, Refused, Failed, Lost };
    struct Health {
        Phase phase = Phase::Stopped;
        int error = 0;                  // the system's error of a Refused/Failed attempt (-1: no address)
        std::int64_t since_ms = 0;      // receiver_clock_ms() when the phase began
        std::int64_t last_data_ms = 0;  // of the last bytes received on this connection; 0: none
    };
    Health health() const;

private:
    void reader_main(DeviceType type, StreamAddress address);
    void deliver(ReceiverParser& parser, const std::uint8_t* data, std::size_t size);
    bool pause(int ms);  // false when woken by stop()

    SharedFix& fix_;
    StreamSourceOptions options_;
    std::atomic<bool> running_{false};
    std::atomic<bool> active_{false};
    std::atomic<int> connections_{0};
    std::atomic<bool> connected_{false};
    void set_phase(Phase phase, int error = 0);
    std::atomic<Phase> phase_{Phase::Stopped};
    std::atomic<int> error_{0};
    std::atomic<std::int64_t> since_ms_{0};
    std::atomic<std::int64_t> last_data_ms_{0};
    SocketWake wake_;  // raised by stop() to end the reader's waits
    std::thread reader_;
    long long repaint_second_ = 0;  // reader thread only
};

}  // namespace vg
