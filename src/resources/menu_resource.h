// The main menu (resource 503) and the accelerator table (resource 502) as plain data: popups in order,
// each with its items (text with '&' before the mnemonic letter, command; an item without a command is a separator). The
// window layer builds its menu bar from these tables and the application logic handles the commands.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "platform/command.h"

namespace vg::res {

struct MenuItem {
    std::string_view text;      // empty for a separator
    std::optional<Command> id;  // none for a separator
    bool checked = false;  // carries a check mark when the menu is created
};

struct MenuPopup {
    std::string_view text;
    std::span<const MenuItem> items;
};

inline constexpr MenuItem kGpsItems[] = {
    {"&Reload Map", Command::ReloadMap},
    {"&Find...", Command::Find},
    {},
    {"On&line", Command::Online},
    {"O&ffline", Command::Offline},
    {},
    {"&Connect", Command::Connect},
    {"&Disconnect", Command::Disconnect},
    {},
    {"Open Map &Pack...", Command::OpenMapPack},
    {"Open &GPX...", Command::OpenGpx},
    {"&Export Track...", Command::ExportTrack},
    {"Pro&file...", Command::Profile},
    {"Download &Region...", Command::DownloadRegion},
    {"Tr&ip...", Command::Trip},
    {"&NTRIP Casters...", Command::NtripCasters},
    {"&AIS Targets...", Command::AisTargets},
    {"Flee&t...", Command::Fleet},
    {"Routi&ng Data...", Command::RoutingData},
    {"R&oute...", Command::Route},
    {},
    {"De&tect Receiver...", Command::DetectReceiver},
    {},
    {"E&xit", Command::Exit},
};

inline constexpr MenuItem kEditItems[] = {
    {"&Copy", Command::Copy},
};

inline constexpr MenuItem kMapsItems[] = {
    {"Etopo2", Command::Etopo2},
    {"&OpenStreetMap", Command::OpenStreetMap},
    {"&GoogleMaps", Command::GoogleMaps},
    {"&VirtualEarth", Command::VirtualEarth},
    {"&MapQuest", Command::MapQuest},
};

inline constexpr MenuItem kDeviceItems[] = {
    {"&NMEA", Command::Nmea},
    {"EarthMate &USB", Command::EarthMateUsb},
    {"&EarthMate", Command::EarthMate},
    {"&TripMate", Command::TripMate},
    {"&Garmin", Command::Garmin},
    {"&Remote", Command::Remote},
    {"gps&d", Command::Gpsd},
    {"NMEA ne&twork", Command::NmeaNetwork},
    {},
    {"Settings &COM", Command::SettingsCom},
    {"GPS &Monitor", Command::GpsMonitor},
};

inline constexpr MenuItem kOptionsItems[] = {
    {"&Auto Pan", Command::AutoPan, true},
    {"Auto &Zoom", Command::AutoZoom},
    {"&Track", Command::Track},
    {"&Big Maps", Command::BigMaps},
    {"&Map Coordinates", Command::MapCoordinates},
    {"&Night", Command::Night},
    {"&Hillshade", Command::Hillshade},
    {},
    {"Aerial &Photo", Command::AerialPhoto},
    {},
    {"&Preferences...", Command::Preferences},
};

inline constexpr MenuItem kViewItems[] = {
    {"&Status Bar", Command::StatusBar},
};

inline constexpr MenuItem kHelpItems[] = {
    {"&Keys", Command::Keys},
    {"&About", Command::About},
};

inline constexpr MenuPopup kMainMenu[] = {
    {"&Gps", kGpsItems},
    {"&Edit", kEditItems},
    {"Maps", kMapsItems},
    {"&Device", kDeviceItems},
    {"&Options", kOptionsItems},
    {"&View", kViewItems},
    {"&Help", kHelpItems},
};

// Accelerators: a key with Shift held posts a command, as if its menu item had been chosen.
enum class AcceleratorKey { PageUp, PageDown };

struct Accelerator {
    AcceleratorKey key;
    bool shift;
    Command id;
};

inline constexpr Accelerator kAccelerators[] = {
    {AcceleratorKey::PageUp, true, Command::Connect},
    {AcceleratorKey::PageDown, true, Command::Disconnect},
};

// The menu item of command `id`, or nullptr when the menu has none.
constexpr const MenuItem* find_menu_item(Command id) {
    for (const MenuPopup& popup : kMainMenu)
        for (const MenuItem& item : popup.items)
            if (item.id == id) return &item;
    return nullptr;
}

}  // namespace vg::res
