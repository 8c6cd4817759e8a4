#include "tiles/cache_sweep.h"

#include <algorithm>
#include <string>

#include "tiles/tile_versions.h"
#include "tiles/local_source.h"
#include "tiles/tile_naming.h"

namespace vg {

namespace {

bool starts_with(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// Tile files ("vor_..."), Etopo2's downloaded images ("etopo_...") and their ".meta" records.
bool cache_file(std::string_view name) { return starts_with(name, "vor_") || starts_with(name, "etopo_"); }

// vor_set.txt, vor_ini.txt, vor_pos.txt and the other settings files, and the connection check's file.
bool settings_file(std::string_view name) { return starts_with(name, "vor_") || name == kProbeFile; }

bool pack_file(std::string_view name) {
    constexpr std::string_view kExtension = ".mbtiles";
    return name.size() > kExtension.size() && name.substr(name.size() - kExtension.size()) == kExtension;
}

}  // namespace

std::vector<SweepPlace> temporary_file_places(const Catalogue& catalogue, std::string_view root,
                                              const std::filesystem::path& settings_dir) {
    std::vector<SweepPlace> places;
    places.push_back({settings_dir.empty() ? std::filesystem::path(".") : settings_dir, false, false, settings_file});
    const std::string base = normalise_root(root);
    if (base.empty()) return places;
    places.push_back({packs_folder(base), false, true, pack_file});
    // Each source's folder once: an aerial layer's folder lies inside its map layer's.
    std::vector<std::string> folders;
    for (const auto& e : catalogue.entries) {
        const std::string folder = e.cache_folder();
        const std::string top = folder.substr(0, folder.find('/'));
        folders.push_back(top);
        folders.push_back(top + "@2x");
    }
    std::sort(folders.begin(), folders.end());
    folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
    for (const auto& folder : folders) places.push_back({std::filesystem::path(base) / folder, true, true, cache_file});
    return places;
}

}  // namespace vg
