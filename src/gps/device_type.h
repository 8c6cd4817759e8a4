// The receiver kinds: how the `unit` setting names them, their line speed and menu command.
#pragma once

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
};

struct DeviceTypeInfo {
    DeviceType type;
    const char* unit_value;  // written to the `unit` setting
    char letter;             // upper-cased first letter read from it
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
};

inline const DeviceTypeInfo& device_info(DeviceType type) { return kDeviceTypes[static_cast<int>(type) - 1]; }

// The device a setting value names by its first letter (any case), if any.
inline std::optional<DeviceType> device_from_letter(char c) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    for (const auto& info : kDeviceTypes)
        if (info.letter == c) return info.type;
    return std::nullopt;
}

inline bool is_nmea_device(DeviceType type) {
    return type == DeviceType::Nmea || type == DeviceType::EarthMateUsb || type == DeviceType::TripMate;
}

}  // namespace vg
