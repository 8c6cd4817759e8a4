// One interface per kind of tile source, chosen once from the entry's SourceKind:
//   original - the five classic sources on their plain-http forms (Etopo2's relief cells drawn here
//              when a program has installed the local tile maker);
//   remote   - a catalogue template fetched through the fetcher (https and every user line);
//   local    - drawn on this machine (the Atlas);
//   pack     - copied out of a map pack file;
//   vector   - drawn by the local tile maker from a vector pack's tiles, in the style in use;
//   remote-vector - drawn by the same maker from raw tiles fetched into the cache (remote_vector.h).
// Every kind keeps its tiles where catalogue_tile_paths says (the original sources in their old
// folders).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tiles/catalogue_fetch.h"
#include "tiles/tile_catalogue.h"
#include "tiles/tile_naming.h"

namespace vg {

class TileSourceKind {
public:
    virtual ~TileSourceKind() = default;

    // The kind's name as `vortool sources` prints it: original, remote, local, pack, vector or remote-vector.
    virtual const char* name() const = 0;
    // Where tile `key` of `entry` is cached below `root` (the same rule for every kind).
    TilePaths cached_at(const CatalogueEntry& entry, const TileKey& key, std::string_view root) const {
        return catalogue_tile_paths(entry, key, root);
    }
    // The address tile `key` of `entry` is downloaded from (hosts, version texts and {key} from
    // `context`); nullopt when it has none: tiles made here, a key that is missing, no such tile.
    virtual std::optional<std::string> address(const CatalogueEntry& entry, const TileKey& key,
                                               const FetchContext& context) const = 0;
    // True when missing tiles are made on this machine, with no network, on line or off.
    virtual bool made_here(const CatalogueEntry& entry) const = 0;
    // True when the tiles are drawn by the local tile maker, which a program installs first.
    virtual bool drawn_by_maker(const CatalogueEntry& entry) const = 0;
    // True when the tiles go through the fetcher with the entry's policy (connections, freshness,
    // validators kept beside each tile).
    virtual bool uses_fetcher() const = 0;
    // True when a screen of twice the pixel density gets 512-pixel tiles of the source
    // (expand_fine_template, fine_tile_path); the other kinds' tiles are drawn enlarged.
    virtual bool has_fine_tiles(const CatalogueEntry& entry) const = 0;
    // Makes tile `key` (web zoom `zoom`) of `entry` into the file `path` here; false when this kind
    // makes no tiles or it fails.
    virtual bool make(const CatalogueEntry& entry, int zoom, const TileKey& key, const std::string& path) const = 0;
    // Makes sure the tile of each cell (world pixels at `level`) is in the cache below `root`,
    // downloading or making it, and puts its path in the cell's slot. Returns the number of cells
    // whose tile is not there afterwards: their slots are emptied, or keep the path the tile would
    // have (the original kind, as fetch_tile says), or stay untouched when the geometry has no such
    // level.
    virtual int fill(const std::vector<CatalogueCell>& cells, int level, std::string_view root,
                     const CatalogueEntry& entry, const FetchContext& context) const = 0;
};

// The interface of the entry's kind.
const TileSourceKind& tile_source_kind(const CatalogueEntry& entry);

// The entry of an original source's plain-http form, map or aerial layer (kind original, the old
// folder and names): what the fetch and cache calls use when they are given no entry.
const CatalogueEntry& original_form(MapSource source, bool aerial);

// The entry whose tiles are fetched for `entry`: with tile hosts given explicitly (a deployment's own
// servers, tests), a built-in original source keeps its original plain-http form (original_form);
// otherwise the entry itself.
const CatalogueEntry& fetched_form(const CatalogueEntry& entry, bool hosts_given);

// True when `source`'s geometry has tiles at `level` (Etopo2 at level 0 only; zoom codes for the
// Mercator sources).
inline bool source_has_level(MapSource source, int level) { return has_scale(source, level); }

// The kinds, for tile_source_kind (each lives beside the code it runs).
const TileSourceKind& original_kind();  // tile_sources.cpp
const TileSourceKind& remote_kind();    // catalogue_fetch.cpp

}  // namespace vg
