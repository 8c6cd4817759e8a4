// The serial receiver: the serial port with its reader thread, for every serial device type (NMEA,
// the EarthMates, TripMate, Garmin). It is the Receiver that make_receiver gives for those types;
// its parsers keep their framing state from one connection to the next.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gps/device_type.h"
#include "gps/fix_record.h"
#include "gps/garmin.h"
#include "gps/receiver.h"
#include "gps/receiver_parser.h"
#include "platform/serial_port.h"
#include "platform/fix_notice.h"

namespace vg {

// Most bytes handed to a parser at once.
inline constexpr std::size_t kReadChunk = 80;

struct SerialLinkOptions {
    std::filesystem::path ini_file = "vor_ini.txt";  // where comN keys name device paths
    std::filesystem::path pos_file = "vor_pos.txt";  // start-up initialisation position
    std::function<long long()> clock_seconds;  // repaint pacing; empty: the system clock
    std::function<long long()> utc_seconds;    // time sent in initialisations; empty: the system clock
    // Told of each new clock second's fix (the window paints it); null: no notice.
    FixNotice* fix_notice = nullptr;
    ais::AisFeed* ais = nullptr;  // AIS heard on the port; null: dropped
    std::chrono::milliseconds silent_after = kReceiverSilentAfter;  // see status()
};

// Why a port could not be opened, for the user: the path, the system's reason and the remedy for
// the common causes (no permission: the dialout group; busy: another program such as gpsd).
std::string port_open_cause(const std::string& path, int error);

// The device path of COMn: the `comN` key of `ini_file` when present, else the system's own name
// for it (/dev/ttyS(n-1) on Linux, \\.\COMn on Windows).
std::string serial_device_path(int port_number, const std::filesystem::path& ini_file);

// The link shows nothing itself: its callers (App on the window thread) turn the outcomes into
// boxes and menu states. The reader thread only posts the fix notice.
class SerialLink : public Receiver {
public:
    SerialLink(SharedFix& fix, std::atomic<int>& silence_ticks, SerialLinkOptions options = {});
    ~SerialLink() override;
    SerialLink(const SerialLink&) = delete;
    SerialLink& operator=(const SerialLink&) = delete;

    // Window thread. The settings are read by open_link and configure_port.
    void set_settings(const LineSettings& settings);
    LineSettings settings() const;
    // Any thread; the reader takes it afresh for every chunk.
    void set_device_type(DeviceType type) { device_type_.store(type); }
    DeviceType device_type() const override { return device_type_.load(); }

    // The Receiver interface: open_link, close_link, link_active and write_port under those names.
    LinkOpen open() override { return open_link(); }
    bool close() override { return close_link(); }
    bool active() const override { return link_active(); }
    bool write(const std::uint8_t* data, std::size_t size) override { return write_port(data, size); }
    // Closed, Failed (the open failure), Unplugged, WaitingForData, Silent (nothing for
    // `silent_after`), else NoFix or Fix from the fix record.
    ReceiverStatus status() const override;

    // Opens the port and its reader thread; AlreadyOpen when it is open.
    LinkOpen open_link();
    // Applies the line settings to the open port; true on success.
    bool configure_port();
    // Ends the reader within one wait cycle (waits at most 5 s), purges, lowers DTR and closes the
    // port. True when a link was open and is closed now.
    bool close_link();

    // At most 80 bytes of what is waiting; 0 when nothing is or the read failed.
    std::size_t read_port(std::uint8_t* buffer);
    // Writes with the per-byte time-out; true when issued (completed or timed out), false when refused.
    bool write_port(const std::uint8_t* data, std::size_t size);

    // The window timer's Garmin step: sends the next request and counts the fix down. True when
    // the fix has just run out and the window should be repainted.
    bool garmin_timer_step();

    bool link_active() const { return link_active_.load(); }
    int reader_thread_id() const { return reader_thread_id_.load(); }
    // True while the device is gone (a receiver unplugged) during this connection: the reader
    // closed it, said so once on standard error, and tries once a second to open the same path
    // again with the same line settings; when that works it reads on (and says so).
    bool port_hung_up() const { return hung_up_.load(); }
    // The device path of the serial link opened last (window thread; the reader reads it while it runs).
    const std::string& device_path() const { return device_path_; }
    // The cause of the last failed open_link of a serial port (empty after a successful one).
    const std::string& open_failure() const { return open_failure_; }

private:
    void reader_main();
    void dispatch(const std::uint8_t* data, std::size_t size);
    ReceiverParser* parser_for(DeviceType type);
    long long now_seconds() const;
    // Reader thread: closes a device that has gone / opens it again when it is back (true).
    void device_gone();
    void set_open_failure(std::string cause);
    bool reopen_port();

    SharedFix& fix_;
    std::atomic<int>& silence_ticks_;
    SerialLinkOptions options_;

    LineSettings settings_;  // window thread only
    std::atomic<DeviceType> device_type_{DeviceType::EarthMate};
    std::atomic<bool> link_active_{false};
    std::atomic<int> reader_thread_id_{0};
    std::atomic<bool> hung_up_{false};
    std::atomic<unsigned> write_ms_per_byte_{4};  // from the baud rate of the last configure_port
    std::string open_failure_;   // window thread; status() reads it under status_mutex_
    mutable std::mutex status_mutex_;
    std::atomic<std::int64_t> opened_ms_{0};     // receiver_clock_ms() of the last open
    std::atomic<std::int64_t> last_data_ms_{0};  // of the last bytes read; 0: none since open
    std::string device_path_;    // set by open_link before the reader starts; read by the reader
    LineSettings reopen_line_;   // under write_mutex_

    SerialPort port_;
    WakeEvent wake_;  // raised by close_link to end the reader's waits
    std::thread reader_;
    std::mutex write_mutex_;  // the reader's replies and the window's Garmin requests

    // Reader thread only (and the destructor after it ended).
    std::unique_ptr<ReceiverParser> nmea_, zodiac_, garmin_;
    std::vector<std::vector<std::uint8_t>> pending_replies_;
    long long repaint_second_ = 0;

    GarminPoller garmin_poller_;  // window thread only
};

}  // namespace vg
