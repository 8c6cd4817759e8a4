// The tile source catalogue: which map services the program knows, as data. A built-in list plus the
// optional user file vor_src.txt in the settings folder, one line per source and layer:
//
//   name|layer|template|zooms|attribution|flags
//
// layer "map" or "aerial"; zooms the web zoom of each of our five levels (empty: 4,7,10,13,16; a
// shorter list leaves the finer levels without tiles); flags comma-separated: conn=N (connections per
// host, default 2), nobulk (no area pre-fetch or pack export), fresh=DAYS (least freshness, default 7),
// maxzoom=N (the server's finest web zoom, at least the last level's; default 19), servers=a,b,c
// (the values of {s}), kind=dem (an elevation source: its PNG tiles hold heights, Terrarium-encoded,
// or Mapbox terrain-RGB with dem=terrainrgb; never a map of the Maps menu), style=PATH (a vector
// source's MapLibre style file, relative to the settings folder). Lines starting with "#" and blank
// lines are ignored. A user line with the name
// of a built-in source replaces that source's layer.
//
// Template placeholders: {z} web zoom, {x} column, {y} row from the north, {-y} row from the south
// (TMS), {q} quadkey, {s} server (from `servers`, else the last quadkey digit), {key} the value of
// the key_<name> line of vor_ini.txt, {r} nothing (or "@2x" for the sharp tiles of a HiDPI screen).
//
// Vector sources (kind remote_vector, drawn here from their raw tiles, tiles/remote_vector.h): a
// template ending in .pbf or .mvt; "tilejson=URL", a TileJSON that gives the template, zooms,
// bounds and attribution; "pmtiles=URL", a PMTiles v3 archive read by ranges (vector, or pictures
// shown as they are). For them maxzoom=N is the deepest zoom with tiles (default 14): finer cells are
// drawn from that zoom's tile, up to zoom 19.
#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/command.h"
#include "tiles/geometry.h"
#include "tiles/map_source.h"

namespace vg {

inline constexpr const char* kSourcesFile = "vor_src.txt";

// Where a source's tiles come from; each kind has one interface, TileSourceKind
// (tiles/source_kind.h), chosen once by tile_source_kind.
enum class SourceKind {
    legacy,  // one of the five original sources, addressed by the original plain-http forms
    remote,  // a template fetched through the libcurl fetcher, whatever its scheme
    local,   // drawn on this machine (no network)
    pack,    // read from a map pack file (no network)
    vector,  // drawn on this machine from the vector tiles of a pack (no network)
    remote_vector,  // drawn on this machine from raw tiles fetched into the cache (template, TileJSON, PMTiles)
};

// How the pixels of an elevation source's tiles hold heights (tiles/elevation.h decodes them).
enum class DemEncoding {
    none,         // not an elevation source
    terrarium,    // R · 256 + G + B / 256 − 32768 metres
    terrain_rgb,  // −10000 + (R · 65536 + G · 256 + B) · 0.1 metres
};

struct CatalogueEntry {
    std::string name;
    bool aerial = false;
    std::string tmpl;
    std::vector<int> zooms;           // web zoom of each level that has tiles (at most 5)
    std::string attribution;
    int conn = 2;
    bool nobulk = false;
    int fresh_days = 7;
    int finest_zoom = kMaxWebZoom;     // the server's finest web zoom (maxzoom=N), bounding max_zoom()
    std::vector<std::string> servers;  // values of {s}
    SourceKind kind = SourceKind::remote;
    // The original source whose geometry, cache folder and menu place this entry keeps; for every
    // other entry the geometry is OpenStreetMap's (Web Mercator rows from the north).
    std::optional<MapSource> original;
    // Its Maps menu command: fixed for the built-ins, derived from the name for the others (both
    // layers of a name share it); Command{} while it has none.
    Command menu_id{};
    bool from_user_file = false;
    std::string pack_path;             // kind pack: the pack file
    std::string pack_format;           // kind pack: "png" or "jpg"; kind vector: "pbf"
    std::string style_path;            // kind vector: a style file, else the schema's built-in style
    std::string tilejson_url;          // kind remote_vector: the TileJSON giving the template (tilejson=URL)
    std::string archive_url;           // kind remote_vector: a PMTiles archive's address (pmtiles=URL)
    int tiles_max_zoom = 14;           // kind remote_vector: the deepest zoom with raw tiles
    // The cache folder when the name cannot be it (set by Catalogue::put): see cache_folder().
    std::string folder;
    // kind=dem: an elevation source, fetched and cached like a remote map but with no menu command.
    DemEncoding dem = DemEncoding::none;

    bool is_dem() const { return dem != DemEncoding::none; }

    MapSource geometry() const { return original.value_or(MapSource::OpenStreetMap); }
    // True for a level it has tiles at, and for the code of a zoom between or beyond the levels
    // (geometry.h) up to max_zoom() when it has such zooms.
    bool has_level(int level) const;
    // Every web zoom up to max_zoom() can be shown: Web Mercator entries other than packs.
    bool has_zooms_between() const;
    // The finest zoom: kMaxWebZoom (or the server's finest_zoom) for an entry with all five levels,
    // else its last level's.
    int max_zoom() const;
    // The web zoom of a level it has or of a zoom code.
    int zoom_of(int level) const;
    // The cache folder below the root: the original site code, else the name, with "/aerial" for an
    // aerial layer. A name whose folder would be another's, also in other letter case (E2, OS, GM, VE,
    // MQ, packs, an earlier entry's folder) or which Windows cannot hold as a folder (CON, NUL, a name
    // ending in ".") gets "~NAME" instead ("~NAME~2", "~NAME~3"... while that is taken too): names
    // never hold "~", so such a folder is no other source's. A vector source's tiles are drawn in
    // "<folder>/day" or "<folder>/night" after the style in use (vector_night_style); a remote one
    // keeps its raw tiles in "<folder>/raw" (raw_folder).
    std::string cache_folder() const;
    // The folder below the root that holds all of the entry's files (the name or "~NAME").
    std::string own_folder() const;
    // The cached tiles' extension: the original one, else "png" for a template ending in .png, "jpg"
    // for one ending in .jpg/.jpeg and for other aerial layers, else "png". Replies must carry the
    // matching Content-Type (image/png or image/jpeg).
    std::string extension() const;
    // True when this entry is fetched by the fetcher (https and every non-original address): its
    // kind's answer (tiles/source_kind.h).
    bool uses_fetcher() const;
    // True when the template has {r}: the source also serves 512-pixel tiles ("@2x" in place of {r})
    // for screens of twice the pixel density.
    bool offers_fine_tiles() const;
};

struct Catalogue {
    std::vector<CatalogueEntry> entries;  // menu order: built-ins, then user names, in first-seen order
    std::vector<std::string> problems;    // "vor_src.txt:LINE: reason" of each skipped line

    const CatalogueEntry* find(std::string_view name, bool aerial) const;
    // The entry of a menu command (map layer when the source has one).
    const CatalogueEntry* find_menu_id(Command menu_id) const;
    // Distinct names in menu order.
    std::vector<std::string> names() const;
    // The source of a name: its map layer, else its aerial layer; null when there is none.
    const CatalogueEntry* source(std::string_view name) const;
    // Each name's source, in menu order.
    std::vector<const CatalogueEntry*> sources() const;
    // The elevation source whose tiles give heights: the first entry of kind=dem; null when none.
    const CatalogueEntry* elevation_source() const;
    bool has_aerial(std::string_view name) const { return find(name, true) != nullptr; }
    // Adds or replaces (same name and layer) an entry; a new name takes the first free menu id from
    // its home id (catalogue_home_id) and a cache folder of its own (false, nothing added, past
    // kMaxAddedNames names). An entry of a name already there keeps that name's menu id, original
    // source and cache folder.
    bool put(CatalogueEntry entry);
    // Gives the names beyond the built-ins their menu ids again, in byte order of the names, each
    // the first free id from its home id: the ids then depend only on the set of names, never on
    // the order they were read in. Run after reading a whole file or folder.
    void settle_menu_ids();
};

// Whether vector sources are drawn with their night style (Options → Night) or their day style; any
// thread (an atomic flag). Each style has its own cache folder (CatalogueEntry::cache_folder).
void set_vector_night_style(bool night);
bool vector_night_style();

// At most this many names beyond the built-ins (vor_src.txt names and map packs together).
inline constexpr int kMaxAddedNames = 1000;

// The home menu id of a name beyond the built-ins: a hash of its bytes (FNV-1a) onto
// Command::CatalogueFirst .. Command::CatalogueLast. Two names of one home id: the first in byte
// order keeps it, the next takes the next free id above it (wrapping round to CatalogueFirst).
Command catalogue_home_id(std::string_view name);

// The built-in catalogue: Etopo2, OpenStreetMap (https), GoogleMaps, VirtualEarth, MapQuest with
// their menu ids 1021-1025, then OpenTopoMap (1026), the built-in Atlas (1027) and OpenFreeMap (1028,
// vector tiles of the OpenMapTiles schema through its TileJSON).
Catalogue builtin_catalogue();

// Reads the lines of a vor_src.txt over `catalogue`. Malformed lines are skipped and described in
// catalogue.problems with their line number.
void read_sources_text(std::string_view text, Catalogue& catalogue);

// Why one vor_src.txt line would be skipped, as the reading above says it (without the file and
// line number); "" when the line is read (or is a comment or blank).
std::string source_line_problem(std::string_view line);

// The built-in catalogue with `dir`/vor_src.txt read over it (when present); relative style=PATH
// files are taken from `dir`.
Catalogue load_catalogue(const std::filesystem::path& dir);

// The address of tile (level, row, column) of `entry`, with `key` for {key}; nullopt when the level
// has no tiles or the template needs a key that is missing.
std::optional<std::string> expand_template(const CatalogueEntry& entry, int level, int row, int column,
                                           std::string_view key = {});

struct TileKey;
struct TilePaths;

// The sharp tiles of a cell for a screen of twice the pixel density. `quarter` 0..3 (north-west,
// north-east, south-west, south-east): that quarter of tile (level, row, column) as a tile of the
// next web zoom; -1: the entry's own 512-pixel tile ({r} as "@2x"; nullopt when the entry has no {r}).
std::optional<std::string> expand_fine_template(const CatalogueEntry& entry, int level, int row, int column,
                                                int quarter, std::string_view key = {});
// Where such a tile is cached: beside the entry's folder in "<folder>@2x", named as the cell's tile,
// the quarters with "_q0".."_q3" before the extension.
std::string fine_tile_path(const CatalogueEntry& entry, const TileKey& key, std::string_view root, int quarter);
// The key of the tile of `entry` holding world pixel (x, y) of its geometry at `level`.
TileKey catalogue_tile_key(const CatalogueEntry& entry, int x, int y, int level);
// Its paths below `root`: the original's for the originals, else in the entry's own folder with its
// own extension.
TilePaths catalogue_tile_paths(const CatalogueEntry& entry, const TileKey& key, std::string_view root);

// The key_<name> value of vor_ini.txt in `dir`, or empty.
std::string read_source_key(const std::filesystem::path& dir, std::string_view name);

}  // namespace vg
