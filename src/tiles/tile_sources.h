// The tile services: the host of each service, the address of every tile of every source and layer,
// and fetching missing tiles into the cache (Etopo2 images are cut locally into four GIF tiles).
// Window thread only; downloads block the caller one after the other.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include <cstdint>
#include <memory>

#include "net/fetcher.h"
#include "net/http_client.h"
#include "tiles/map_source.h"
#include "tiles/source_health.h"
#include "tiles/tile_catalogue.h"
#include "tiles/tile_naming.h"
#include "tiles/tile_types.h"
#include "tiles/tile_versions.h"

namespace vg {

// Host names of the services: deployment configuration, kept together here.
struct TileHosts {
    std::string etopo2;                             // relief image server
    std::string openstreetmap;                      // OpenStreetMap tiles
    std::string google_map;                         // Google Maps map tiles
    std::string google_aerial;                      // Google Maps satellite tiles
    std::array<std::string, 4> virtual_earth_road;  // road-tile servers 0..3
    std::array<std::string, 4> virtual_earth_aerial;  // aerial-tile servers 0..3
    std::string mapquest;                           // MapQuest map and aerial tiles
};
const TileHosts& default_tile_hosts();

// The tile version texts as they stand when an address is formed; empty until the connectivity
// probe has reached the service.
struct TileVersionTexts {
    std::string google_aerial;
    std::string virtual_earth_road;
    std::string virtual_earth_aerial;
};
TileVersionTexts current_version_texts(const TileVersions* versions);

// The MapQuest scale text of a level ("29337258", "1504475", "154950", "18000", "2500").
const char* mapquest_scale_text(int level);

// "http://" + host + path and query of a tile, for every source but Etopo2 (whose tiles come from
// images, see below). Formed for any row; empty only for Etopo2, a level outside 0..4 and a Virtual
// Earth row outside the world (no quadkey). fetch_tile never asks for rows outside the world.
std::optional<std::string> tile_address(const TileKey& key, const TileHosts& hosts, const TileVersionTexts& versions);

// An Etopo2 image covers the 2 × 2 level-0 tiles of image row y2 = row / 2 (0 at the south, 0..3)
// and image column x2 = column / 2 (0 at 180° W, 0..7). It is named by its north-west corner.
std::string etopo2_image_address(int y2, int x2, const TileHosts& hosts);
// Local name of a downloaded image in the Etopo2 site directory: "etopo_%02o0000_%02o0000.jpg".
std::string etopo2_image_name(int y2, int x2);

// A MapQuest reply of exactly this many bytes is the service's placeholder for a missing tile.
inline constexpr long long kMapQuestNoTileSize = 1410;

// What a fetch needs besides the tile: where the services live, the version texts, the HTTP options
// (proxy settings folder, waits).
struct FetchContext {
    const TileHosts* hosts = nullptr;          // default_tile_hosts() when null
    const TileVersions* versions = nullptr;    // empty texts when null
    HttpOptions http;

    // The source as the catalogue has it. When it is fetched through the fetcher (OpenStreetMap and
    // every entry that is not an original plain-http form), its template gives the address, its flags
    // the connections per host and the default freshness, and the cache keeps each tile's validators:
    // a missing tile is fetched (all of a view's at once, within the per-host cap), a stale one is
    // used at once and revalidated in the background (a 304 refreshes only its freshness).
    const CatalogueEntry* entry = nullptr;
    // The program's one engine (its per-host cap counts every transfer); when null, the missing tiles
    // go through an engine of the call's own and stale ones are not revalidated.
    Fetcher* fetcher = nullptr;
    FetchSettings settings;                    // proxy, cafile, contact (vor_ini.txt)
    std::string key;                           // the {key} value
    std::shared_ptr<SourceHealth> health;      // failures for the user, pauses; none when null
    std::int64_t now = 0;                      // seconds since the epoch; 0 means the system clock
};

// Tiles of `entry` whose background revalidation is still running (for tests and shutdown).
std::size_t revalidations_in_flight();

// Makes sure the tile holding world pixel (x, y) is in the cache, downloading or making it when
// missing, the way the kind of the context's entry does (with no entry: `source`'s original
// plain-http form, `aerial` its layer).
// True when the tile file is in the cache afterwards; false on failure (download, wrong content type,
// MapQuest placeholder, undecodable Etopo2 image, row outside the world). The tile's full path is
// written to `slot`, except for Etopo2 above level 0 (slot untouched) and tiles with no path (slot
// emptied). A file that fails to download is deleted so that the next fetch tries again.
bool fetch_tile(std::string& slot, int x, int y, int level, MapSource source, std::string_view root, bool aerial,
                const FetchContext& context = {});

// fetch_tile for every cell of the g × g view grid around (centre_x, centre_y); a failed cell's
// slot is emptied. False, with the table unchanged, when the source has no tiles at that level
// (Etopo2 above level 0, or a level outside 0..4); else true.
bool fetch_view_tiles(TilePathTable& table, int centre_x, int centre_y, int level, MapSource source,
                      std::string_view root, bool aerial, bool big_maps, const FetchContext& context = {});
// The same for any grid; the table grows to hold its cells.
bool fetch_view_tiles(TilePathTable& table, int centre_x, int centre_y, int level, MapSource source,
                      std::string_view root, bool aerial, const ViewGrid& grid, const FetchContext& context = {});

}  // namespace vg
