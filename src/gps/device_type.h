// The receiver kinds: how the `unit` setting names them, their line speed and menu command.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "platform/command.h"

namespace vg {

enum class DeviceType : int {
    Nmea = 1,
    EarthMateUsb = 2,
    EarthMate = 3,
    TripMate = 4,
    Garmin = 5,
    Remote = 6,
    Gpsd = 7,     // reports of a gpsd daemon over TCP
    Network = 8,  // NMEA over TCP (client) or UDP (listener)
};

struct DeviceTypeInfo {
    DeviceType type;
    const char* unit_value;  // written to the `unit` setting
    char letter;             // upper-cased first letter read from it ('\0': only the whole word)
    unsigned baud;
    Command command;  // its Device menu item
};

inline constexpr DeviceTypeInfo kDeviceTypes[] = {
    {DeviceType::Nmea, "NMEA", 'N', 4800, Command::Nmea},
    {DeviceType::EarthMateUsb, "USB EarthMate", 'U', 4800, Command::EarthMateUsb},
    {DeviceType::EarthMate, "EarthMate", 'E', 9600, Command::EarthMate},
    {DeviceType::TripMate, "TripMate", 'T', 4800, Command::TripMate},
    {DeviceType::Garmin, "Garmin", 'G', 9600, Command::Garmin},
    {DeviceType::Remote, "remote", 'R', 19200, Command::Remote},
    {DeviceType::Gpsd, "gpsd", '\0', 4800, Command::Gpsd},
    {DeviceType::Network, "network", '\0', 4800, Command::NmeaNetwork},
};

inline const DeviceTypeInfo& device_info(DeviceType type) { return kDeviceTypes[static_cast<int>(type) - 1]; }

// The device a setting value names by its first letter (any case), if any.
inline std::optional<DeviceType> device_from_letter(char c) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    for (const auto& info : kDeviceTypes)
        if (info.letter != '\0' && info.letter == c) return info.type;
    return std::nullopt;
}

// The device a `unit` value (or a --device argument) names: the whole word of a device that has no
// letter ("gpsd", "network", any case, blanks around it ignored), else the first letter.
inline std::optional<DeviceType> device_from_unit(std::string_view value) {
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r' || value.back() == '\n'))
        value.remove_suffix(1);
    if (value.empty()) return std::nullopt;
    for (const auto& info : kDeviceTypes) {
        if (info.letter != '\0') continue;
        const std::string_view word = info.unit_value;
        if (word.size() != value.size()) continue;
        bool same = true;
        for (std::size_t i = 0; i < word.size() && same; ++i) {
            char c = value[i];
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            same = c == word[i];
        }
        if (same) return info.type;
    }
    return device_from_letter(value.front());
}

// Devices read over the network by the link's network hooks instead of a serial port.
inline bool is_network_device(DeviceType type) { return type == DeviceType::Gpsd || type == DeviceType::Network; }

// The device whose Device menu item `c` is, if it is one of theirs.
inline std::optional<DeviceType> device_from_command(Command c) {
    for (const auto& info : kDeviceTypes)
        if (info.command == c) return info.type;
    return std::nullopt;
}

inline bool is_nmea_device(DeviceType type) {
    return type == DeviceType::Nmea || type == DeviceType::EarthMateUsb || type == DeviceType::TripMate;
}

}  // namespace vg
