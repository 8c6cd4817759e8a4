// Clustered PMTiles archives made in memory for the remote reader's tests and benchmarks: a world of
// tiles with a shared sea, written the way a clustered writer lays them out (tile-id order, each
// content once, runs of one content one entry).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "tiles/pmtiles_extract.h"

namespace vg::test {

// An archive of `tiles` (tile id -> bytes): equal contents stored once, neighbours of one content
// as runs, directories gzipped, all in the root (`per_leaf` 0) or in leaves of `per_leaf` entries;
// png tiles, no tile compression.
std::string clustered_archive(const std::map<std::uint64_t, std::string>& tiles, std::size_t per_leaf);

// Every tile of zooms 0..max: a few hundred to a few thousand bytes named after it (with `tag`), and
// the sea (the southern half at zoom 4 and finer) one shared content.
std::map<std::uint64_t, std::string> world_tiles(int max, const std::string& tag);

// The region the extract tests and benchmark copy out of world_tiles(8): 5° E to 40° E, 35° N to 60° N
// at zooms 2 to 8 (about a thousand tiles).
void set_extract_area(pmtiles::ExtractRequest& rq);

}  // namespace vg::test
