// What a stream of bytes from an unknown receiver is: pure functions over bytes, for Detect
// (net/receiver_detect.h). No threads, no state; any bytes give a defined answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "gps/device_type.h"

namespace vg {

// A receiver recognised in its bytes: the device type to choose and the protocol's name as the
// results list says it ("NMEA", "Zodiac", "Garmin").
struct ProbedReceiver {
    DeviceType device = DeviceType::Nmea;
    std::string protocol;
};

// The receiver protocol `data` carries, when one whole unit of it is there: an NMEA sentence with a
// valid checksum (a TripMate's ASTRAL greeting makes it a TripMate), the EarthMate's "EARTHA"
// greeting or a Zodiac header whose checksum adds up, or a Garmin packet (DLE … DLE ETX) whose
// checksum adds up. Nothing for noise, a wrong speed's garbage or a cut unit.
std::optional<ProbedReceiver> probe_receiver_bytes(const std::uint8_t* data, std::size_t size);

// gpsd's replies on a new connection and to "?DEVICES;": true once a VERSION object is among
// `text`'s lines; the number of devices its DEVICES object lists (nothing until that line is whole).
bool gpsd_version_seen(std::string_view text);
std::optional<int> gpsd_device_count(std::string_view text);

}  // namespace vg
