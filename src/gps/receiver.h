// One interface for every receiver the program reads: a serial port (every serial device type), a
// gpsd daemon, an NMEA network stream (TCP or UDP) and the position server of Remote (a base copy's
// relay or a phone-tracker form). Each says what it is doing and, when it has no position, why, in
// words for the user (ReceiverStatus). `make_receiver` (net/receivers.h) picks the implementation
// by device type.
//
// Threads: open() and close() are called from one thread (the window's); status() and write() from
// any thread. No call waits for the window; close() ends the receiver's thread within its bound.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "gps/device_type.h"

namespace vg {

// What open() did. The caller shows it: the Connect/Disconnect menu items follow Opened, and
// NoWakeEvent is reported with kNoWakeEventText in a box captioned kNoWakeEventCaption.
enum class LinkOpen { Opened, AlreadyOpen, Failed, NoWakeEvent };
inline constexpr const char* kNoWakeEventText = "Failed to create event for thread!";
inline constexpr const char* kNoWakeEventCaption = "Vor Error!";

enum class ReceiverState {
    Closed,          // not opened (or closed by the user)
    Opening,         // connecting
    WaitingForData,  // open, nothing received yet
    NoFix,           // data comes, without a position
    Fix,             // data comes with a position
    Silent,          // open, but nothing has come for a while
    Lost,            // the peer went away; trying again
    Refused,         // the peer refused the connection; trying again
    Unplugged,       // the serial device has gone; opened again when it is back
    Failed,          // could not be opened; the cause says why
};

struct ReceiverStatus {
    ReceiverState state = ReceiverState::Closed;
    std::string cause;  // what the user reads: the reason there is no position, or what is awaited
};

// "closed", "opening", "waiting for data", "no fix", "fix", "silent", "lost", "refused",
// "unplugged", "failed".
const char* receiver_state_name(ReceiverState state);
// True for the states in which the receiver gives no position through no fault of the sky: the
// message line shows their cause.
bool receiver_trouble(ReceiverState state);

// After this long without data an open receiver is Silent.
inline constexpr std::chrono::milliseconds kReceiverSilentAfter{10000};

// "10 s" for the time since `since_ms` (steady milliseconds) at `now_ms`.
std::string silent_seconds_text(std::int64_t since_ms, std::int64_t now_ms);
// Milliseconds of the steady clock, for the receivers' data times.
std::int64_t receiver_clock_ms();

class Receiver {
public:
    virtual ~Receiver() = default;
    // Opens the receiver (port and reader thread, socket reader, or server). AlreadyOpen when open.
    virtual LinkOpen open() = 0;
    // Ends the receiver within its bound; true when it was open.
    virtual bool close() = 0;
    // True from a successful open() to close(), also while it reconnects or waits for a device.
    virtual bool active() const = 0;
    virtual ReceiverStatus status() const = 0;
    // Bytes for the receiver (RTCM corrections, commands), bounded in time; false when this kind of
    // receiver takes none or the write failed.
    virtual bool write(const std::uint8_t* data, std::size_t size) {
        (void)data;
        (void)size;
        return false;
    }
    // The device type this receiver was made for.
    virtual DeviceType device_type() const = 0;
};

}  // namespace vg
