// The main menu (resource 503) and the accelerator table (resource 502) as plain data: popups in order,
// each with its items (text with '&' before the mnemonic letter, command id; id 0 is a separator). The
// window layer builds its menu bar from these tables and the application logic uses the command ids.
#pragma once

#include <span>
#include <string_view>

namespace vg::res {

inline constexpr int kMenuMain = 503;
inline constexpr int kAcceleratorTable = 502;
inline constexpr int kIconMain = 504;

// Command ids.
inline constexpr int kCmdReloadMap = 1001;
inline constexpr int kCmdOnline = 1002;
inline constexpr int kCmdOffline = 1003;
inline constexpr int kCmdConnect = 1004;
inline constexpr int kCmdDisconnect = 1005;
inline constexpr int kCmdExit = 1006;
inline constexpr int kCmdCopy = 1011;
// Map sources: 1020 + map source (1 Etopo2 .. 5 MapQuest).
inline constexpr int kCmdSourceBase = 1020;
inline constexpr int kCmdEtopo2 = 1021;
inline constexpr int kCmdOpenStreetMap = 1022;
inline constexpr int kCmdGoogleMaps = 1023;
inline constexpr int kCmdVirtualEarth = 1024;
inline constexpr int kCmdMapQuest = 1025;
// Devices: 1030 + device type (1 NMEA .. 6 Remote); gpsd and NMEA network take 1038 and 1039.
inline constexpr int kCmdDeviceBase = 1030;
inline constexpr int kCmdNmea = 1031;
inline constexpr int kCmdEarthMateUsb = 1032;
inline constexpr int kCmdEarthMate = 1033;
inline constexpr int kCmdTripMate = 1034;
inline constexpr int kCmdGarmin = 1035;
inline constexpr int kCmdRemote = 1036;
inline constexpr int kCmdGpsMonitor = 1037;
inline constexpr int kCmdGpsd = 1038;
inline constexpr int kCmdNmeaNetwork = 1039;
inline constexpr int kCmdSettingsCom = 1048;
inline constexpr int kCmdAutoPan = 1041;
inline constexpr int kCmdAutoZoom = 1042;
inline constexpr int kCmdTrack = 1043;
inline constexpr int kCmdBigMaps = 1044;
inline constexpr int kCmdMapCoordinates = 1045;
inline constexpr int kCmdNight = 1046;
inline constexpr int kCmdAerialPhoto = 1047;
inline constexpr int kCmdKeys = 1051;
inline constexpr int kCmdAbout = 1053;

inline constexpr int kSeparator = 0;

struct MenuItem {
    std::string_view text;  // empty for a separator
    int id = kSeparator;
    bool checked = false;  // carries a check mark when the menu is created
};

struct MenuPopup {
    std::string_view text;
    std::span<const MenuItem> items;
};

inline constexpr MenuItem kGpsItems[] = {
    {"&Reload Map", kCmdReloadMap},
    {},
    {"On&line", kCmdOnline},
    {"O&ffline", kCmdOffline},
    {},
    {"&Connect", kCmdConnect},
    {"&Disconnect", kCmdDisconnect},
    {},
    {"E&xit", kCmdExit},
};

inline constexpr MenuItem kEditItems[] = {
    {"&Copy", kCmdCopy},
};

inline constexpr MenuItem kMapsItems[] = {
    {"Etopo2", kCmdEtopo2},
    {"&OpenStreetMap", kCmdOpenStreetMap},
    {"&GoogleMaps", kCmdGoogleMaps},
    {"&VirtualEarth", kCmdVirtualEarth},
    {"&MapQuest", kCmdMapQuest},
};

inline constexpr MenuItem kDeviceItems[] = {
    {"&NMEA", kCmdNmea},
    {"EarthMate &USB", kCmdEarthMateUsb},
    {"&EarthMate", kCmdEarthMate},
    {"&TripMate", kCmdTripMate},
    {"&Garmin", kCmdGarmin},
    {"&Remote", kCmdRemote},
    {"gps&d", kCmdGpsd},
    {"NMEA ne&twork", kCmdNmeaNetwork},
    {},
    {"Settings &COM", kCmdSettingsCom},
    {"GPS &Monitor", kCmdGpsMonitor},
};

inline constexpr MenuItem kOptionsItems[] = {
    {"&Auto Pan", kCmdAutoPan, true},
    {"Auto &Zoom", kCmdAutoZoom},
    {"&Track", kCmdTrack},
    {"&Big Maps", kCmdBigMaps},
    {"&Map Coordinates", kCmdMapCoordinates},
    {"&Night", kCmdNight},
    {},
    {"Aerial &Photo", kCmdAerialPhoto},
};

inline constexpr MenuItem kHelpItems[] = {
    {"&Keys", kCmdKeys},
    {"&About", kCmdAbout},
};

inline constexpr MenuPopup kMainMenu[] = {
    {"&Gps", kGpsItems},
    {"&Edit", kEditItems},
    {"Maps", kMapsItems},
    {"&Device", kDeviceItems},
    {"&Options", kOptionsItems},
    {"&Help", kHelpItems},
};

// Accelerators: a key with Shift held posts a command, as if its menu item had been chosen.
enum class AcceleratorKey { PageUp, PageDown };

struct Accelerator {
    AcceleratorKey key;
    bool shift;
    int id;
};

inline constexpr Accelerator kAccelerators[] = {
    {AcceleratorKey::PageUp, true, kCmdConnect},
    {AcceleratorKey::PageDown, true, kCmdDisconnect},
};

// The menu item with command id `id`, or nullptr when the menu has none (separators are never found).
constexpr const MenuItem* find_menu_item(int id) {
    if (id == kSeparator) return nullptr;
    for (const MenuPopup& popup : kMainMenu)
        for (const MenuItem& item : popup.items)
            if (item.id == id) return &item;
    return nullptr;
}

}  // namespace vg::res
