#include "net/receiver_detect.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>

#include "gps/garmin.h"
#include "gps/receiver_probe.h"
#include "net/socket_util.h"
#include "platform/serial_port.h"
#include "platform/serial_ports.h"
#include "platform/sockets.h"

namespace vg {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kListenBytes = 4096;  // what one try keeps of a stream

int ms_left(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, kDetectSliceMs));
}

// A socket for `host`:`port` (TCP connected, or UDP bound), each wait one slice at most.
Socket open_address(const std::string& host, int port, bool udp, Clock::time_point deadline,
                    const std::atomic<bool>& cancelled) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = udp ? SOCK_DGRAM : SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | (udp ? AI_PASSIVE : 0);
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (::getaddrinfo(host.empty() ? nullptr : host.c_str(), service.c_str(), &hints, &found) != 0 || !found)
        return {};
    Socket result;
    Socket s(open_socket_for(found->ai_family, found->ai_socktype, found->ai_protocol));
    if (s.valid() && udp) {
        set_server_address_options(s.get(), true);
        if (::bind(s.get(), found->ai_addr, static_cast<int>(found->ai_addrlen)) == 0) result = std::move(s);
    } else if (s.valid()) {
        if (::connect(s.get(), found->ai_addr, static_cast<int>(found->ai_addrlen)) == 0) {
            result = std::move(s);
        } else if (socket_errno() == EINPROGRESS || socket_errno() == EAGAIN) {
            while (!cancelled.load() && Clock::now() < deadline) {
                pollfd p = poll_entry(s.get(), POLLOUT);
                if (poll_sockets(&p, 1, ms_left(deadline)) <= 0) continue;
                if (pending_socket_error(s.get()) == 0) result = std::move(s);
                break;
            }
        }
    }
    ::freeaddrinfo(found);
    return result;
}

// Receives into `text` until `enough` holds, the peer closes or the time is up.
template <typename Enough>
bool receive_until(const Socket& s, std::string& text, Clock::time_point deadline, const std::atomic<bool>& cancelled,
                   Enough enough) {
    char buffer[2048];
    while (!cancelled.load() && Clock::now() < deadline && text.size() < 4 * kListenBytes) {
        const long n = receive_some(s, buffer, sizeof buffer, std::chrono::milliseconds(ms_left(deadline)));
        if (n == -2) continue;
        if (n <= 0) return enough(text);
        text.append(buffer, static_cast<std::size_t>(n));
        if (enough(text)) return true;
    }
    return enough(text);
}

}  // namespace

std::string gpsd_found_text(const StreamAddress& address, int devices) {
    std::string where = address.host == "127.0.0.1" || address.host == "localhost" ? "localhost" : address.host;
    if (address.port != kGpsdDefaultPort) where += ":" + std::to_string(address.port);
    return "gpsd on " + where + ": " + std::to_string(devices) + (devices == 1 ? " device" : " devices");
}

std::string serial_found_text(const std::string& path, const std::string& protocol, unsigned baud) {
    return path + ": " + protocol + " at " + std::to_string(baud) + " baud";
}

std::string udp_found_text(int port, const std::string& protocol) {
    return "UDP " + std::to_string(port) + ": " + protocol;
}

bool ReceiverDetect::start(DetectOptions options, Found found, Done done) {
    if (running_.load()) return false;
    if (worker_.joinable()) worker_.join();
    cancelled_.store(false);
    running_.store(true);
    try {
        worker_ = std::thread([this, options = std::move(options), found = std::move(found), done = std::move(done)] {
            run(options, found);
            const bool cancelled = cancelled_.load();
            running_.store(false);
            if (done) done(cancelled);
        });
    } catch (const std::system_error&) {
        running_.store(false);
        return false;
    }
    return true;
}

void ReceiverDetect::cancel() {
    cancelled_.store(true);
    if (worker_.joinable()) worker_.join();
}

void ReceiverDetect::run(const DetectOptions& options, const Found& found) {
    if (!sockets_startup()) return;
    const auto report = [&](std::optional<DetectedReceiver> r) {
        if (r && !cancelled_.load() && found) found(*r);
    };
    if (options.gpsd_port > 0) report(try_gpsd(options));
    if (options.udp_port > 0 && !cancelled_.load()) report(try_udp(options));
    std::vector<std::string> paths;
    if (options.serial_paths) {
        paths = *options.serial_paths;
    } else {
        for (const SerialPortInfo& p : list_serial_ports())
            if (p.accessible) paths.push_back(p.path);
    }
    for (const std::string& path : paths) {
        if (cancelled_.load()) break;
        report(try_serial(path, options));
    }
}

std::optional<DetectedReceiver> ReceiverDetect::try_gpsd(const DetectOptions& options) const {
    const auto deadline = Clock::now() + std::chrono::milliseconds(options.gpsd_ms);
    const Socket s = open_address(options.gpsd_host, options.gpsd_port, false, deadline, cancelled_);
    if (!s.valid()) return std::nullopt;
    // gpsd answers ?VERSION with its VERSION object (some versions also greet with one); then it
    // lists its devices when asked.
    std::string text;
    if (send_all(s, "?VERSION;\n", std::chrono::milliseconds(kDetectSliceMs)) != 0) return std::nullopt;
    if (!receive_until(s, text, deadline, cancelled_, [](const std::string& t) { return gpsd_version_seen(t); }))
        return std::nullopt;
    DetectedReceiver r;
    r.kind = DetectedReceiver::Kind::Gpsd;
    r.device = DeviceType::Gpsd;
    r.address = {StreamAddress::Kind::Tcp, options.gpsd_host, options.gpsd_port};
    if (send_all(s, "?DEVICES;\n", std::chrono::milliseconds(kDetectSliceMs)) == 0) {
        receive_until(s, text, deadline, cancelled_, [](const std::string& t) { return gpsd_device_count(t).has_value(); });
        r.devices = gpsd_device_count(text).value_or(0);
    }
    r.text = gpsd_found_text(r.address, r.devices);
    return r;
}

std::optional<DetectedReceiver> ReceiverDetect::try_udp(const DetectOptions& options) const {
    const auto deadline = Clock::now() + std::chrono::milliseconds(options.udp_ms);
    // A port another program (or the program's own NMEA network source) holds is left alone.
    const Socket s = open_address("0.0.0.0", options.udp_port, true, deadline, cancelled_);
    if (!s.valid()) return std::nullopt;
    std::optional<ProbedReceiver> probed;
    std::string text;
    receive_until(s, text, deadline, cancelled_, [&](const std::string& t) {
        probed = probe_receiver_bytes(reinterpret_cast<const std::uint8_t*>(t.data()), t.size());
        return probed.has_value();
    });
    if (!probed) return std::nullopt;
    DetectedReceiver r;
    r.kind = DetectedReceiver::Kind::Udp;
    r.device = DeviceType::Network;
    r.address = {StreamAddress::Kind::Udp, "", options.udp_port};
    r.text = udp_found_text(options.udp_port, probed->protocol);
    return r;
}

std::optional<DetectedReceiver> ReceiverDetect::try_serial(const std::string& path, const DetectOptions& options) const {
    SerialPort port;
    if (!port.open(path)) return std::nullopt;  // missing, not ours, or held by another program
    for (const unsigned baud : options.bauds) {
        if (cancelled_.load() || !port.configure({1, baud, 8, 0, 0, 0})) continue;
        port.purge();
        std::vector<std::uint8_t> bytes;
        const auto listen = [&](Clock::time_point deadline) -> std::optional<ProbedReceiver> {
            std::uint8_t buffer[512];
            while (!cancelled_.load() && Clock::now() < deadline && bytes.size() < kListenBytes) {
                const auto waited = port.wait(nullptr, std::max(1, ms_left(deadline)));
                if (waited == SerialPort::WaitResult::HungUp) return std::nullopt;
                if (waited != SerialPort::WaitResult::Readable) continue;
                const auto got = port.read_waiting(buffer, sizeof buffer);
                if (got.status == SerialPort::ReadStatus::Failed) return std::nullopt;
                bytes.insert(bytes.end(), buffer, buffer + got.count);
                if (auto probed = probe_receiver_bytes(bytes.data(), bytes.size())) return probed;
            }
            return std::nullopt;
        };
        auto probed = listen(Clock::now() + std::chrono::milliseconds(options.serial_ms));
        if (!probed && baud == device_info(DeviceType::Garmin).baud && !cancelled_.load()) {
            // A Garmin speaks only when asked: one position request, and a short listen for its answer.
            const auto request = garmin_frame(kGarminPositionRequest);
            if (port.write(request.data(), request.size(), 200))
                probed = listen(Clock::now() + std::chrono::milliseconds(options.serial_ms / 2));
        }
        if (!probed) continue;
        DetectedReceiver r;
        r.kind = DetectedReceiver::Kind::Serial;
        r.device = probed->device;
        r.path = path;
        r.baud = baud;
        r.text = serial_found_text(path, probed->protocol, baud);
        return r;
    }
    return std::nullopt;
}

}  // namespace vg
