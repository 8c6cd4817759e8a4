// Detect: which receivers answer on this machine. A worker thread tries, in turn, a gpsd on the
// loopback address (its VERSION greeting and its ?DEVICES; list), NMEA datagrams on a UDP port
// (listened to for a short while) and each serial device at the usual speeds (NMEA, Zodiac and
// Garmin, recognised by gps/receiver_probe.h). Every wait is bounded (at most kDetectSliceMs at a
// time, and each try by its own limit), cancel() ends the run within one slice, and results are
// reported through callbacks on the worker thread; nothing here waits for the caller's thread.
#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "gps/device_type.h"
#include "net/stream_source.h"

namespace vg {

inline constexpr int kDetectSliceMs = 100;
inline constexpr int kNmeaUdpPort = 10110;

struct DetectedReceiver {
    enum class Kind { Gpsd, Serial, Udp } kind = Kind::Serial;
    std::string text;  // as the results list shows it: "/dev/ttyUSB0: NMEA at 4800 baud"
    DeviceType device = DeviceType::Nmea;
    std::string path;       // Serial: the device opened
    unsigned baud = 0;      // Serial: the speed it answered at
    StreamAddress address;  // Gpsd and Udp: where it answered
    int devices = 0;        // Gpsd: the devices it reads
};

struct DetectOptions {
    std::string gpsd_host = "127.0.0.1";
    int gpsd_port = kGpsdDefaultPort;  // 0: gpsd is not tried
    int udp_port = kNmeaUdpPort;       // 0: no UDP listening
    // The serial devices to try; nothing: the machine's (platform/serial_ports.h).
    std::optional<std::vector<std::string>> serial_paths;
    std::vector<unsigned> bauds = {4800, 9600, 38400, 115200};
    int gpsd_ms = 3000;    // connection and both replies
    int udp_ms = 2000;     // listening for a datagram
    int serial_ms = 1500;  // listening at one speed
};

// The texts of the results list.
std::string gpsd_found_text(const StreamAddress& address, int devices);
std::string serial_found_text(const std::string& path, const std::string& protocol, unsigned baud);
std::string udp_found_text(int port, const std::string& protocol);

class ReceiverDetect {
public:
    using Found = std::function<void(const DetectedReceiver&)>;
    using Done = std::function<void(bool cancelled)>;

    ReceiverDetect() = default;
    ~ReceiverDetect() { cancel(); }
    ReceiverDetect(const ReceiverDetect&) = delete;
    ReceiverDetect& operator=(const ReceiverDetect&) = delete;

    // Starts a run (a finished one is joined first); false while one runs or when no thread can
    // be made. `found` is called for each receiver that answered, `done` once at the end; both on
    // the worker thread.
    bool start(DetectOptions options, Found found, Done done);
    // Ends a run: raises the flag and joins the worker (within one slice).
    void cancel();
    // Raises the flag only: the run ends within one slice, and nothing waits for it.
    void request_cancel() { cancelled_.store(true); }
    bool running() const { return running_.load(); }

private:
    void run(const DetectOptions& options, const Found& found);
    std::optional<DetectedReceiver> try_gpsd(const DetectOptions& options) const;
    std::optional<DetectedReceiver> try_udp(const DetectOptions& options) const;
    std::optional<DetectedReceiver> try_serial(const std::string& path, const DetectOptions& options) const;

    std::atomic<bool> cancelled_{false};
    std::atomic<bool> running_{false};
    std::thread worker_;
};

}  // namespace vg
