// How vortool's fetch, render and pack export take --source: any name of the tile catalogue of the
// working folder (built-in sources, ./vor_src.txt, and the map packs in <root>/packs, exact name first,
// then in any case), or, as before, an original source by its first letter or number 1 to 5.
#pragma once

#include <optional>
#include <string_view>

#include "tiles/tile_catalogue.h"
#include "tiles/tile_sources.h"

namespace vg::cli {

struct ChosenSource {
    Catalogue catalogue;
    std::string name;
    MapSource geometry = MapSource::OpenStreetMap;
    // The entry of the layer (nullptr when the source lacks it).
    const CatalogueEntry* layer(bool aerial) const { return catalogue.find(name, aerial); }
};

// `root` is the cache root whose packs folder is scanned (none when empty).
std::optional<ChosenSource> choose_source(std::string_view text, std::string_view root = {});

// Before tiles of `entry` (or of Etopo2) are made: installs the drawing of the built-in map, with an
// offscreen GUI for its text, when the entry is drawn on this machine.
void prepare_local_drawing(const CatalogueEntry* entry);

// The fetch context of the working folder for `entry`: proxy, cafile, contact and key from
// ./vor_ini.txt, a SourceHealth that prints each problem once, and `fetcher`, the command's one
// engine, which must outlive every use of the context.
FetchContext catalogue_fetch_context(const CatalogueEntry* entry, Fetcher& fetcher);

}  // namespace vg::cli
