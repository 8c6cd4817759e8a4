// The cache's housekeeping, off the window thread.
//
// Temporary files: the places where the program leaves them, for the sweep at start (see
// platform/temp_files.h): the settings folder (settings rewrites, the connection check's scratch
// file), each catalogue source's cache folder and its "@2x" folder (tiles, Etopo2 images and their
// .meta records) and the packs folder (exports). Only those folders, and in each only the names the
// program writes there; never the rest of the cache root, which may be any folder of the user's.
//
// The size limit (`cachemb` of vor_ini.txt): trim_cache walks the same source folders (never the
// packs folder) and counts only tiles ("vor_..." and Etopo2's "etopo_..." pictures: .png, .gif, .jpg)
// with their "<tile>.meta" records; a tile and its record are one item, as old as the newer of the
// two (written when the tile was fetched, the record renewed by each revalidation). Over the limit,
// the oldest items go until the total is at most 90 % of it. Two walks and 16 bytes an item, so a
// cache of millions of files needs no list of names. Any thread (the program runs it on a worker);
// files that cannot be read or removed are skipped; `stop` ends the walk early.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/temp_files.h"
#include "tiles/tile_catalogue.h"

namespace vg {

std::vector<SweepPlace> temporary_file_places(const Catalogue& catalogue, std::string_view root,
                                              const std::filesystem::path& settings_dir);

// The cache folders of the catalogue's sources below `root` (each top folder and its "@2x" once),
// without the packs folder; none when `root` is empty.
std::vector<std::filesystem::path> tile_cache_folders(const Catalogue& catalogue, std::string_view root);

struct CacheTrim {
    std::uint64_t tiles = 0;          // tiles (and lone records) found
    std::uint64_t bytes = 0;          // their bytes, records included
    std::uint64_t tiles_removed = 0;  // of those, removed
    std::uint64_t bytes_freed = 0;
    bool stopped = false;  // `stop` ended it early
};

constexpr std::uint64_t kCacheMegabyte = 1024 * 1024;

// Trims the tiles of `folders` (recursively; symbolic links are not followed) to 90 % of
// `limit_bytes` when they hold more than that; a limit of 0 removes nothing.
CacheTrim trim_cache(const std::vector<std::filesystem::path>& folders, std::uint64_t limit_bytes,
                     const std::atomic<bool>* stop = nullptr);

// What a trim did, for people: "Removed 1,234 tiles, 56 MB" (megabytes of kCacheMegabyte bytes,
// rounded), or what the cache holds when nothing was removed.
std::string cache_trim_text(const CacheTrim& trim, std::uint64_t limit_bytes);

}  // namespace vg
