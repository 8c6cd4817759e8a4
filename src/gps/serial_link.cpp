#include "gps/serial_link.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cstdint>
#include <string_view>

#include "platform/diagnostics.h"
#include "platform/system.h"
#include "settings/settings_file.h"

namespace vg {

namespace {

constexpr int kPauseMs = 10;        // between draining passes, so a busy receiver cannot spin the thread
constexpr int kWaitCycleMs = 1000;  // upper bound of one wait for data
constexpr int kReopenMs = 1000;     // between attempts to reopen a device that has gone

std::string trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(" \t\r\n");
    return std::string(s.substr(first, last - first + 1));
}

}  // namespace

std::string serial_device_path(int port_number, const std::filesystem::path& ini_file) {
    std::string value;
    const std::string key = "com" + std::to_string(port_number);
    if (read_setting(ini_file, key, value)) {
        std::string path = trim(value);
        if (!path.empty()) return path;
    }
    return default_serial_device(port_number);
}

std::string port_open_cause(const std::string& path, int error) {
    std::string text = "Cannot open " + path + ": " + std::strerror(error);
#ifdef _WIN32
    switch (error) {
    case EBUSY:
        text += " - another program holds it; close that program";
        break;
    case ENOENT:
        text += " - is the receiver plugged in? Device Manager lists the COM ports there are";
        break;
    default:
        break;
    }
#else
    switch (error) {
    case EACCES:
    case EPERM:
        text += " - join the dialout group (sudo adduser $USER dialout) and log in again";
        break;
    case EBUSY:
        text += " - another program (such as gpsd) holds it; close it or choose the gpsd device";
        break;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        text += " - is the receiver plugged in? ls /dev/serial/by-id lists the receivers that are";
        break;
    default:
        break;
    }
#endif
    return text;
}

SerialLink::SerialLink(SharedFix& fix, std::atomic<int>& silence_ticks, SerialLinkOptions options)
    : fix_(fix), silence_ticks_(silence_ticks), options_(std::move(options)) {}

SerialLink::~SerialLink() {
    close_link();
    if (reader_.joinable()) reader_.join();
}

void SerialLink::set_settings(const LineSettings& settings) { settings_ = settings; }
LineSettings SerialLink::settings() const { return settings_; }

long long SerialLink::now_seconds() const {
    if (options_.clock_seconds) return options_.clock_seconds();
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

LinkOpen SerialLink::open_link() {
    if (link_active_.load()) return LinkOpen::AlreadyOpen;  // one link at a time
    set_open_failure({});

    const std::string path = serial_device_path(settings_.port_number, options_.ini_file);
    {
        std::lock_guard lock(status_mutex_);
        device_path_ = path;
    }
    if (!port_.open(path)) {
        set_open_failure(port_open_cause(path, port_.open_error()));
        return LinkOpen::Failed;
    }
    port_.purge();
    if (!configure_port()) {
        link_active_.store(false);
        port_.close();
        return LinkOpen::Failed;
    }
    if (!wake_.open()) {
        port_.close();
        return LinkOpen::NoWakeEvent;
    }
    if (reader_.joinable()) reader_.join();  // a thread of an earlier connection that has ended
    hung_up_.store(false);
    opened_ms_.store(receiver_clock_ms());
    last_data_ms_.store(0);
    link_active_.store(true);
    reader_thread_id_.store(-1);  // set before the thread runs, so close_link always waits for it
    try {
        reader_ = std::thread(&SerialLink::reader_main, this);
    } catch (...) {
        reader_thread_id_.store(0);
        link_active_.store(false);
        wake_.close();
        port_.close();
        return LinkOpen::Failed;
    }
    {
        // The reader may already have closed a device that went away at once.
        std::lock_guard lock(write_mutex_);
        if (port_.is_open()) port_.set_dtr(true);
    }
    return LinkOpen::Opened;
}

void SerialLink::set_open_failure(std::string cause) {
    std::lock_guard lock(status_mutex_);
    open_failure_ = std::move(cause);
}

ReceiverStatus SerialLink::status() const {
    std::string path;
    {
        std::lock_guard lock(status_mutex_);
        if (!link_active_.load()) {
            if (open_failure_.empty()) return {ReceiverState::Closed, {}};
            return {ReceiverState::Failed, open_failure_};
        }
        path = device_path_;
    }
    if (hung_up_.load())
        return {ReceiverState::Unplugged, "Receiver " + path + " has gone; it is opened again when it comes back"};
    const std::int64_t now = receiver_clock_ms();
    const std::int64_t last = last_data_ms_.load();
    const std::int64_t since = last != 0 ? last : opened_ms_.load();
    if (now - since >= options_.silent_after.count())
        return {ReceiverState::Silent, "no data from " + path + " for " + silent_seconds_text(since, now)};
    if (last == 0) return {ReceiverState::WaitingForData, "waiting for data from " + path};
    if (fix_.snapshot().fix_dimension > 0) return {ReceiverState::Fix, {}};
    return {ReceiverState::NoFix, path + " sends no position (no fix)"};
}

bool SerialLink::configure_port() {
    const LineSettings line = settings_;
    write_ms_per_byte_.store(write_timeout_per_byte_ms(settings_.baud_rate));
    // The reader reopens a returning device with these settings, under the same lock.
    std::lock_guard lock(write_mutex_);
    reopen_line_ = line;
    if (!port_.is_open()) return hung_up_.load();  // applied when the device comes back
    return port_.configure(line);
}

bool SerialLink::close_link() {
    if (!link_active_.load()) return false;
    link_active_.store(false);

    // Wake the reader from its wait for data.
    wake_.raise();

    // Every wait of the reader is bounded (it polls the wake-up descriptor with its port, writes
    // are bounded, and it never waits for the window), so the join ends promptly.
    if (reader_.joinable()) reader_.join();
    reader_thread_id_.store(0);

    {
        // A write from another thread (corrections) holds this lock while it uses the port.
        std::lock_guard lock(write_mutex_);
        port_.purge();
        port_.set_dtr(false);
        port_.close();
    }
    wake_.close();
    return true;
}

std::size_t SerialLink::read_port(std::uint8_t* buffer) {
    const auto result = port_.read_waiting(buffer, kReadChunk);
    if (result.status == SerialPort::ReadStatus::Failed) hung_up_.store(true);
    return result.count;
}

bool SerialLink::write_port(const std::uint8_t* data, std::size_t size) {
    std::lock_guard lock(write_mutex_);
    if (!port_.is_open()) return false;
    // Bounded by the per-byte time-out; fast lines (whose per-byte value rounds to 0) still get a
    // bound instead of an unbounded wait.
    unsigned per_byte = write_ms_per_byte_.load();
    if (per_byte == 0) per_byte = 1;
    unsigned timeout = static_cast<unsigned>(size) * per_byte;
    if (timeout < 100) timeout = 100;
    return port_.write(data, size, timeout);
}

ReceiverParser* SerialLink::parser_for(DeviceType type) {
    std::unique_ptr<ReceiverParser>* slot = nullptr;
    DeviceType family = type;
    if (is_nmea_device(type)) {
        slot = &nmea_;
        family = DeviceType::Nmea;
    } else if (type == DeviceType::EarthMate) {
        slot = &zodiac_;
    } else if (type == DeviceType::Garmin) {
        slot = &garmin_;
    } else {
        return nullptr;
    }
    if (!*slot) {
        ParserContext context;
        context.reply = [this](const std::uint8_t* data, std::size_t size) {
            pending_replies_.emplace_back(data, data + size);
        };
        context.utc_seconds = options_.utc_seconds;
        context.pos_file = options_.pos_file.string();
        context.ais = options_.ais;
        *slot = make_receiver_parser(family, std::move(context));
    }
    return slot->get();
}

void SerialLink::dispatch(const std::uint8_t* data, std::size_t size) {
    ReceiverParser* parser = parser_for(device_type());
    if (!parser) return;
    pending_replies_.clear();
    fix_.update([&](FixRecord& fix) { parser->feed(data, size, fix); });
    // Replies go out after the fix record is released, so the window never waits for a write.
    for (const auto& reply : pending_replies_) write_port(reply.data(), reply.size());
    pending_replies_.clear();
}

void SerialLink::reader_main() {
    reader_thread_id_.store(current_thread_id());
    std::uint8_t buffer[kReadChunk];
    while (link_active_.load()) {
        if (hung_up_.load()) {
            // The device is gone (a USB receiver unplugged): try to reopen it once a second until
            // it comes back or close_link ends the wait early.
            if (reopen_port()) continue;
            wake_.wait(kReopenMs);
            continue;
        }
        // The pause between passes; close_link's wake-up ends it early.
        if (wake_.wait(kPauseMs)) continue;
        const auto waited = port_.wait(&wake_, kWaitCycleMs);
        if (waited != SerialPort::WaitResult::Readable && waited != SerialPort::WaitResult::HungUp) continue;
        for (;;) {
            const std::size_t n = read_port(buffer);
            if (n == 0) break;
            dispatch(buffer, n);
            silence_ticks_.store(0);
            last_data_ms_.store(receiver_clock_ms());
            if (link_active_.load()) {
                const long long now = now_seconds();
                if (now > repaint_second_ && options_.fix_notice) {
                    options_.fix_notice->post();
                    repaint_second_ = now;
                }
            }
        }
        // The device is gone (unplugged): what it sent before has been handled above.
        if (waited == SerialPort::WaitResult::HungUp) hung_up_.store(true);
        if (hung_up_.load()) device_gone();
    }
    reader_thread_id_.store(0);
}

void SerialLink::device_gone() {
    {
        std::lock_guard lock(write_mutex_);
        port_.close();
    }
    report("Receiver " + device_path_ + " has gone; it is opened again when it comes back", DiagnosticStream::Error);
    // The window shows the change in its message line at its next paint.
    if (options_.fix_notice) options_.fix_notice->post();
}

bool SerialLink::reopen_port() {
    {
        std::lock_guard lock(write_mutex_);
        if (!port_.open(device_path_)) return false;
        if (!port_.configure(reopen_line_)) {
            port_.close();
            return false;
        }
        port_.purge();
        port_.set_dtr(true);
        hung_up_.store(false);
    }
    report("Receiver " + device_path_ + " is back", DiagnosticStream::Error);
    // The window shows the change in its message line at its next paint.
    if (options_.fix_notice) options_.fix_notice->post();
    return true;
}

bool SerialLink::garmin_timer_step() {
    bool ran_out = false;
    std::vector<std::uint8_t> request;
    fix_.update([&](FixRecord& fix) {
        ran_out = garmin_poller_.poll(fix, [&](const std::uint8_t* d, std::size_t n) { request.assign(d, d + n); });
    });
    if (!request.empty()) write_port(request.data(), request.size());
    return ran_out;
}

}  // namespace vg
