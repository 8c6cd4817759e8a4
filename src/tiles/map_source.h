// The tile services: how the `site` setting names them, their title names and menu commands.
#pragma once

#include <optional>

#include "platform/command.h"

namespace vg {

enum class MapSource : int {
    Etopo2 = 1,
    OpenStreetMap = 2,
    GoogleMaps = 3,
    VirtualEarth = 4,
    MapQuest = 5,
};

struct MapSourceInfo {
    MapSource source;
    const char* site_value;  // written to the `site` setting; also the title name
    char letter;             // upper-cased first letter read from it
    Command command;         // its Maps menu item
};

inline constexpr MapSourceInfo kMapSources[] = {
    {MapSource::Etopo2, "Etopo2", 'E', Command::Etopo2},
    {MapSource::OpenStreetMap, "OpenStreetMap", 'O', Command::OpenStreetMap},
    {MapSource::GoogleMaps, "GoogleMaps", 'G', Command::GoogleMaps},
    {MapSource::VirtualEarth, "VirtualEarth", 'V', Command::VirtualEarth},
    {MapSource::MapQuest, "MapQuest", 'M', Command::MapQuest},
};

inline const MapSourceInfo& source_info(MapSource s) { return kMapSources[static_cast<int>(s) - 1]; }

// The source whose Maps menu item `c` is, if it is one of theirs.
inline std::optional<MapSource> source_from_command(Command c) {
    for (const auto& info : kMapSources)
        if (info.command == c) return info.source;
    return std::nullopt;
}

inline std::optional<MapSource> source_from_letter(char c) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    for (const auto& info : kMapSources)
        if (info.letter == c) return info.source;
    return std::nullopt;
}

// Sources 1 (Etopo2) and 5 (MapQuest) number their rows northward; 2..4 southward.
inline bool rows_run_north(MapSource s) { return s == MapSource::Etopo2 || s == MapSource::MapQuest; }

// GoogleMaps, VirtualEarth and MapQuest have an aerial-photo layer beside the map.
inline bool has_aerial_layer(MapSource s) {
    return s == MapSource::GoogleMaps || s == MapSource::VirtualEarth || s == MapSource::MapQuest;
}

}  // namespace vg
