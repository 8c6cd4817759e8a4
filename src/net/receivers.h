// The receivers that are not a serial port, and the one place that picks a receiver for a device
// type: the serial link (gps/serial_link.h) for the serial types, StreamReceiver for gpsd and NMEA
// over the network, PositionReceiver for Remote (the position server: a base copy's relay or a phone
// tracker's form). Each status() says what it does and why it gives no position (Receiver).
//
// Threads: open()/close() from one thread; status() from any. None of them writes to the receiver.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "gps/receiver.h"
#include "gps/serial_link.h"
#include "net/position_server.h"
#include "net/stream_source.h"

namespace vg {

// Everything a receiver of any kind is made with.
struct ReceiverSetup {
    std::filesystem::path settings_dir;  // vor_ini.txt (comN, gpsd=, nmea=) and vor_pos.txt are here
    std::atomic<int>* silence_ticks = nullptr;  // cleared for every chunk received; must be set
    FixNotice* fix_notice = nullptr;            // posted when a position comes or the state changes
    ais::AisFeed* ais = nullptr;                // AIS heard on the receiver; null: dropped
    std::function<long long()> clock_seconds;   // repaint pacing; empty: the system clock
    LineSettings line;                          // the serial line settings
    PositionServerConfig server;                // the Remote server (its port: see base_port)
    int base_port = 0;                          // the `base` line's port, used when server.port is the default
    std::chrono::milliseconds silent_after = kReceiverSilentAfter;
};

// The receiver kind a device type needs: one object serves all types of a kind.
enum class ReceiverKind { Serial, Gpsd, NmeaNetwork, Remote };
ReceiverKind receiver_kind(DeviceType type);

// A new, closed receiver for `type`. `fix` outlives it.
std::unique_ptr<Receiver> make_receiver(DeviceType type, SharedFix& fix, const ReceiverSetup& setup);

// gpsd (JSON over TCP) or an NMEA stream (TCP client or UDP listener): the address is read from
// vor_ini.txt at each open (gpsd=host:port, 127.0.0.1:2947 when missing; nmea=tcp://host:port or
// udp://:port), and the StreamSource reader runs until close().
class StreamReceiver : public Receiver {
public:
    StreamReceiver(DeviceType type, SharedFix& fix, const ReceiverSetup& setup);
    ~StreamReceiver() override;
    LinkOpen open() override;
    bool close() override;
    bool active() const override { return active_.load(); }
    ReceiverStatus status() const override;
    DeviceType device_type() const override { return type_; }
    const StreamSource& source() const { return source_; }

private:
    std::string peer() const;  // "gpsd at 127.0.0.1:2947", "tcp://host:port", "udp://:10110"

    DeviceType type_;
    SharedFix& fix_;
    std::filesystem::path ini_file_;
    std::chrono::milliseconds silent_after_;
    StreamSource source_;
    std::atomic<bool> active_{false};
    mutable std::mutex mutex_;  // address_, open_failure_
    StreamAddress address_;
    std::string open_failure_;
};

// Remote: the position server, fed by a base copy's posts or a phone tracker's form.
class PositionReceiver : public Receiver {
public:
    PositionReceiver(SharedFix& fix, const ReceiverSetup& setup);
    ~PositionReceiver() override;
    LinkOpen open() override;
    bool close() override;
    bool active() const override { return active_.load(); }
    ReceiverStatus status() const override;
    DeviceType device_type() const override { return DeviceType::Remote; }
    PositionServer& server() { return server_; }

private:
    SharedFix& fix_;
    PositionServerConfig config_;
    std::chrono::milliseconds silent_after_;
    PositionServer server_;
    std::atomic<bool> active_{false};
    std::atomic<std::int64_t> opened_ms_{0};
    std::atomic<bool> failed_{false};
};

}  // namespace vg
