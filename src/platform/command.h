// The program's commands: one id for each menu item, accelerator and `--script` step. Every layer
// names commands by these enumerators (the menu tables, the window state, App, the receiver and
// base links, the source and device tables, the Qt window). The numbers are the menu ids the
// program has always used; scripts and the window's menu carry them, so they never change.
#pragma once

#include <optional>

namespace vg {

enum class Command : int {
    // Gps menu.
    ReloadMap = 1001,
    Online = 1002,
    Offline = 1003,
    Connect = 1004,
    Disconnect = 1005,
    Exit = 1006,
    OpenMapPack = 1007,   // "Open Map Pack..."
    OpenGpx = 1008,       // "Open GPX..."
    ExportTrack = 1009,   // "Export Track..."
    DetectReceiver = 1010,  // "Detect Receiver..."
    // Edit menu.
    Copy = 1011,
    // Gps menu, after its first ten.
    DownloadRegion = 1012,  // "Download Region..."
    Trip = 1013,            // "Trip..."
    Fleet = 1018,           // "Fleet..."
    Profile = 1014,         // "Profile..."
    NtripCasters = 1015,    // "NTRIP Casters..."
    AisTargets = 1016,      // "AIS Targets..."
    Find = 1017,            // "Find..." (Ctrl+F): the search field
    RoutingData = 1019,     // "Routing Data..."
    Route = 1020,           // "Route..."
    // Maps menu: 1020 + map source (1 Etopo2 .. 5 MapQuest), then the catalogue entries.
    Etopo2 = 1021,
    OpenStreetMap = 1022,
    GoogleMaps = 1023,
    VirtualEarth = 1024,
    MapQuest = 1025,
    OpenTopoMap = 1026,
    Atlas = 1027,
    OpenFreeMap = 1028,
    // Device menu: 1030 + device type (1 NMEA .. 6 Remote).
    Nmea = 1031,
    EarthMateUsb = 1032,
    EarthMate = 1033,
    TripMate = 1034,
    Garmin = 1035,
    Remote = 1036,
    GpsMonitor = 1037,
    Gpsd = 1038,
    NmeaNetwork = 1039,
    // Options menu.
    AutoPan = 1041,
    AutoZoom = 1042,
    Track = 1043,
    BigMaps = 1044,
    MapCoordinates = 1045,
    Night = 1046,
    AerialPhoto = 1047,
    SettingsCom = 1048,
    Preferences = 1049,  // "Preferences..."
    Hillshade = 1050,
    // Help menu.
    Keys = 1051,
    About = 1053,
    // View menu.
    StatusBar = 1061,
    // Maps menu: the further catalogue entries (vor_src.txt names, map packs). Each name's id lies in
    // this range, derived from the name itself (tiles/tile_catalogue.h), so a script's id stays
    // when lines are added or moved. No fixed command lies in it.
    CatalogueFirst = 10000,
    CatalogueLast = 59999,
};

// The integer id of a command (menus, scripts and the window's actions carry integers).
constexpr int command_id(Command c) { return static_cast<int>(c); }

// True for the ids of the further catalogue entries.
constexpr bool is_catalogue_command(Command c) {
    return command_id(c) >= command_id(Command::CatalogueFirst) && command_id(c) <= command_id(Command::CatalogueLast);
}

// The command with integer id `id`, when it names one: every enumerator above and every id of the
// catalogue range.
constexpr std::optional<Command> command_from_id(int id) {
    if (is_catalogue_command(static_cast<Command>(id))) return static_cast<Command>(id);
    switch (static_cast<Command>(id)) {
    case Command::ReloadMap: case Command::Online: case Command::Offline: case Command::Connect:
    case Command::Disconnect: case Command::Exit: case Command::OpenMapPack: case Command::OpenGpx:
    case Command::ExportTrack: case Command::Profile: case Command::Copy: case Command::DownloadRegion: case Command::Etopo2: case Command::OpenStreetMap:
    case Command::GoogleMaps: case Command::VirtualEarth: case Command::MapQuest:
    case Command::OpenTopoMap: case Command::Atlas: case Command::OpenFreeMap: case Command::Nmea: case Command::EarthMateUsb:
    case Command::EarthMate: case Command::TripMate: case Command::Garmin: case Command::Remote:
    case Command::GpsMonitor: case Command::Gpsd: case Command::NmeaNetwork: case Command::AutoPan:
    case Command::AutoZoom: case Command::Track: case Command::BigMaps: case Command::MapCoordinates:
    case Command::Night: case Command::AerialPhoto: case Command::SettingsCom: case Command::Preferences: case Command::Keys:
    case Command::About: case Command::DetectReceiver: case Command::StatusBar: case Command::CatalogueFirst: case Command::CatalogueLast:
    case Command::Trip: case Command::Hillshade: case Command::AisTargets:
    case Command::Fleet: case Command::NtripCasters:
    case Command::Find: case Command::RoutingData: case Command::Route:
        return static_cast<Command>(id);
    }
    return std::nullopt;
}

}  // namespace vg
