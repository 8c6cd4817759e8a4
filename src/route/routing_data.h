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
#include <string_view>
#include <vector>

#include "net/fetcher.h"

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
// It is fetched in byte ranges of kExtractPiece, each appended to the partial file as it arrives, so a
// broken or cancelled download goes on from there next time; a server that ignores ranges sends the
// whole file in one transfer (not resumed). The file's version (ETag, or Last-Modified) is kept in
// `target` + ".part.version" and asked for with every later piece; when the service's file has
// changed, the partial file is dropped and the download starts again (once). The first form makes a fetcher for the call (vortool);
// the window passes the program's one fetcher and vor_ini.txt's fetch settings.
inline constexpr std::uint64_t kExtractPiece = 4 * kMiB;
bool download_extract(const std::string& url, const std::filesystem::path& target, const DataProgress& progress,
                      const std::atomic<bool>* cancel, std::string& error);
bool download_extract(Fetcher& fetcher, const FetchSettings& settings, const std::string& url,
                      const std::filesystem::path& target, const DataProgress& progress,
                      const std::atomic<bool>* cancel, std::string& error);

// Whether `region` can name a database folder: 1 to 64 bytes, none of / \ : * ? " < > | or a
// control character, not starting with '.'.
bool valid_region_name(std::string_view region);

// The extract service of `dir`/vor_ini.txt: "extracts=" with {region} where a region's name goes
// ("extracts=https://download.example.org/europe/{region}-latest.osm.pbf"); "" when the line is
// missing (no service, the default).
std::string read_extracts_setting(const std::filesystem::path& dir);
// The address of `region`'s extract; "" when the setting has no {region}.
std::string extract_url(std::string_view setting, std::string_view region);

}  // namespace vg::route
