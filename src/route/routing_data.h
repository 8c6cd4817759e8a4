// Routing databases on disk: building one from an OSM extract (Routino's planetsplitter, run as a
// separate process), listing those of the maps folder, and fetching an extract from a configured
// extract service (resumed where a broken download stopped).
// Threads: each call runs on its caller's thread (the window runs them on a worker); progress is
// called on that thread. Failure: false with the reason in `error`; a build that fails or is
// cancelled leaves the region's previous database as it was (the new one is made beside it and
// renamed into place), a broken download leaves its partial file to be resumed.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace vg::route {

// Called with how far the work is (0..1) and what it is doing ("Reading ways", "Downloading").
using DataProgress = std::function<void(double fraction, const std::string& stage)>;

// Builds the database of `region` under `<maps>/routing/<region>/` from `extract` (.osm.pbf or .osm).
bool build_database(const std::filesystem::path& extract, const std::filesystem::path& maps_folder,
                    const std::string& region, const DataProgress& progress, const std::atomic<bool>* cancel,
                    std::string& error);

// The regions with a routing database under `<maps>/routing/`, sorted by name.
std::vector<std::string> regions(const std::filesystem::path& maps_folder);

// Downloads `url` to `target` (an .osm.pbf), resuming a partial `target` + ".part".
bool download_extract(const std::string& url, const std::filesystem::path& target, const DataProgress& progress,
                      const std::atomic<bool>* cancel, std::string& error);

}  // namespace vg::route
