// The fetch path of catalogue sources that go through the fetcher: the remote kind of
// tiles/source_kind.h, which fetch_tile and fetch_view_tiles reach when the FetchContext names such
// an entry.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tiles/tile_sources.h"

namespace vg {

struct CatalogueCell {
    std::string* slot;
    int x;
    int y;
};

// Makes sure each cell's tile is in the cache: cached ones are kept (and revalidated in the background
// when stale), missing ones are fetched together. A cell without a tile afterwards has its slot
// emptied. Returns the number of such cells.
int fetch_catalogue_tiles(const std::vector<CatalogueCell>& cells, int level, std::string_view root,
                          const FetchContext& ctx);

// Starts the background revalidation of those cells' cached tiles that are stale (never waits; a
// missing tile is left alone). For views filled in the background.
void revalidate_catalogue_tiles(const std::vector<CatalogueCell>& cells, int level, std::string_view root,
                                const FetchContext& ctx);

}  // namespace vg
