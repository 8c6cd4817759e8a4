// The receiver link: the serial port with its reader thread for the serial device types, or the
// position server (started and stopped through injected hooks) for Remote. One object lives as long
// as the program; its parsers keep their framing state from one connection to the next.
#pragma once

#include <atomic>
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
#include "gps/receiver_parser.h"
#include "platform/serial_port.h"
#include "platform/fix_notice.h"

namespace vg {

// Most bytes handed to a parser at once.
inline constexpr std::size_t kReadChunk = 80;

// The Remote device type's link: the position server. start() returns true when the server thread
// runs; stop() clears its running flag, wakes it and waits (bounded) for it to end.
struct RemoteLinkHooks {
    std::function<bool()> start;
    std::function<void()> stop;
};

// The network devices' link (gpsd, NMEA network): start(type) returns true when the reader runs;
// stop() ends it within the same bound as the serial reader.
struct NetworkLinkHooks {
    std::function<bool(DeviceType)> start;
    std::function<void()> stop;
};

struct SerialLinkOptions {
    std::filesystem::path ini_file = "vor_ini.txt";  // where comN keys name device paths
    std::filesystem::path pos_file = "vor_pos.txt";  // start-up initialisation position
    RemoteLinkHooks remote;
    NetworkLinkHooks network;
    std::function<long long()> clock_seconds;  // repaint pacing; empty: the system clock
    std::function<long long()> utc_seconds;    // time sent in initialisations; empty: the system clock
    // Told of each new clock second's fix (the window paints it); null: no notice.
    FixNotice* fix_notice = nullptr;
    ais::AisFeed* ais = nullptr;  // AIS heard on the port; null: dropped
};

// Why a port could not be opened, for the user: the path, the system's reason and the remedy for
// the common causes (no permission: the dialout group; busy: another program such as gpsd).
std::string port_open_cause(const std::string& path, int error);

// The device path of COMn: the `comN` key of `ini_file` when present, else the system's own name
// for it (/dev/ttyS(n-1) on Linux, \\.\COMn on Windows).
std::string serial_device_path(int port_number, const std::filesystem::path& ini_file);

// What open_link did. The caller shows it: the Connect/Disconnect menu items follow Opened, and
// NoWakeEvent is reported with kNoWakeEventText in a box captioned kNoWakeEventCaption.
enum class LinkOpen { Opened, AlreadyOpen, Failed, NoWakeEvent };
inline constexpr const char* kNoWakeEventText = "Failed to create event for thread!";
inline constexpr const char* kNoWakeEventCaption = "Vor Error!";

// The link shows nothing itself: its callers (App on the window thread) turn the outcomes into
// boxes and menu states. The reader thread only posts the fix notice.
class SerialLink {
public:
    SerialLink(SharedFix& fix, std::atomic<int>& silence_ticks, SerialLinkOptions options = {});
    ~SerialLink();
    SerialLink(const SerialLink&) = delete;
    SerialLink& operator=(const SerialLink&) = delete;

    // Window thread. The settings are read by open_link and configure_port.
    void set_settings(const LineSettings& settings);
    LineSettings settings() const;
    // Any thread; the reader takes it afresh for every chunk.
    void set_device_type(DeviceType type) { device_type_.store(type); }
    DeviceType device_type() const { return device_type_.load(); }

    // Opens the link (port and reader thread, or the position server); AlreadyOpen when one is open.
    LinkOpen open_link();
    // Applies the line settings to the open port; true on success.
    bool configure_port();
    // Ends the reader within one wait cycle (waits at most 5 s), purges, lowers DTR and closes the
    // port; for Remote stops the server. True when a link was open and is closed now.
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
    bool remote_open_ = false;   // window thread only
    bool network_open_ = false;  // window thread only
    std::string open_failure_;   // window thread only
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
