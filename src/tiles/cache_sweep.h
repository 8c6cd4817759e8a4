// The places where the program leaves temporary files, for the sweep at start (see
// platform/temp_files.h): the settings folder (settings rewrites, the connection check's scratch
// file), each catalogue source's cache folder and its "@2x" folder (tiles, Etopo2 images and their
// .meta records) and the packs folder (exports). Only those folders, and in each only the names the
// program writes there; never the rest of the cache root, which may be any folder of the user's.
#pragma once

#include <filesystem>
#include <string_view>
#include <vector>

#include "platform/temp_files.h"
#include "tiles/tile_catalogue.h"

namespace vg {

std::vector<SweepPlace> temporary_file_places(const Catalogue& catalogue, std::string_view root,
                                              const std::filesystem::path& settings_dir);

}  // namespace vg
