// Remote vector sources (catalogue kind remote_vector): cells drawn on this machine from raw tiles
// fetched into the cache. The raw tiles come from a .pbf/.mvt template, from the template a TileJSON
// gives, or from a PMTiles archive read by ranges (vector tiles, or pictures shown as they are). A
// raw tile is kept as it came in "<folder>/raw/Z/X/Y.tile" (an archive's tile decompressed), with its
// validators and freshness beside it like any fetched tile; the drawn cells go to "<folder>/day" or
// "<folder>/night" (CatalogueEntry::cache_folder), so the night style is drawn from the same raw
// tiles without fetching them again. Past the raw tiles' deepest zoom a cell is drawn from the
// ancestor's sub-square, as vectors (vectormap/pack_cells.h draws both).
//
// The TileJSON is kept in "<folder>/tilejson.json" with a day's freshness (or the server's): a source
// works off line with the one cached, and a stale one is fetched again while it stays in use.
//
// Threads: the pure parts and the cache lookups run on any thread (the TileJSON table is guarded);
// the *_and_wait calls wait for the network: vortool, tests and workers only, never the window thread
// and never a Fetcher callback. Failure: a TileJSON that cannot be parsed is refused whole (nullopt
// with the reason); a tile that cannot be had leaves its cell for the fallbacks.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tiles/tile_catalogue.h"
#include "tiles/tile_loader.h"
#include "tiles/tile_sources.h"

namespace vg {

struct LocalTileRequest;
namespace pmtiles {
class RemoteArchive;
}
class TileSourceKind;

// What a TileJSON says of a tile set.
struct TileJson {
    std::vector<std::string> tiles;  // templates ({z}/{x}/{y}), at least one, http(s) only
    int min_zoom = 0;
    int max_zoom = 14;
    std::string attribution;  // its text without HTML tags, one line, at most 200 bytes
    double west = -180, south = -85.0511, east = 180, north = 85.0511;
};

// Pure: the TileJSON `text`. Nullopt with `error` when it is not a JSON object, has no usable
// template, or zooms outside 0..24 (min above max).
std::optional<TileJson> parse_tilejson(std::string_view text, std::string& error);

// A raw tile: web zoom, column, row from the north.
struct RawTileId {
    int zoom = 0;
    int x = 0;
    int y = 0;
};

inline constexpr std::int64_t kTileJsonFreshSeconds = 86400;

// Where `entry`'s TileJSON is cached below `root`.
std::string tilejson_path(const CatalogueEntry& entry, std::string_view root);
// The cached TileJSON of `entry` (kept in memory once read; null when none is cached or it does not
// parse, and for entries without tilejson=).
std::shared_ptr<const TileJson> cached_tilejson(const CatalogueEntry& entry, std::string_view root);
// A new TileJSON landed at its path: the next lookup reads it.
void forget_tilejson(const CatalogueEntry& entry);
// True when `entry` has a TileJSON that is missing or stale at `now` (seconds since the epoch).
bool tilejson_wanted(const CatalogueEntry& entry, std::string_view root, std::int64_t now);

// The deepest zoom of the raw tiles (the TileJSON's when cached, else maxzoom=N, default 14).
int raw_max_zoom(const CatalogueEntry& entry, std::string_view root);
// The raw tile cell (zoom, x, y) is drawn from: its own, or its ancestor at raw_max_zoom.
RawTileId raw_tile_for(const CatalogueEntry& entry, std::string_view root, int zoom, int x, int y);
std::string raw_tile_path(const CatalogueEntry& entry, const RawTileId& id, std::string_view root);
// Its address: the template (or the TileJSON's first) filled in; nullopt for an archive, a TileJSON
// not cached yet, a tile outside the TileJSON's zooms or bounds, or a missing {key}.
std::optional<std::string> raw_tile_address(const CatalogueEntry& entry, const RawTileId& id, std::string_view root,
                                            std::string_view key = {});

// The maker's request for cell (zoom, x, y) drawn from its raw tile (in the style in use).
LocalTileRequest raw_cell_request(const CatalogueEntry& entry, std::string_view root, int zoom, int x, int y,
                                  int scale);
// Draws cell (zoom, x, y) into `path` when its raw tile is cached; false otherwise (no network).
bool draw_cached_cell(const CatalogueEntry& entry, std::string_view root, int zoom, int x, int y,
                      const std::string& path, int scale = 1);

// How raw tiles and TileJSONs are fetched for `context` (its entry's connections and freshness;
// any content type, as servers name vector tiles variously).
TileLoader::Policy raw_tile_policy(const FetchContext& context);

// Waits: fetches the TileJSON when it is missing or stale; true when one is cached afterwards.
bool refresh_tilejson_and_wait(const CatalogueEntry& entry, std::string_view root, Fetcher& fetcher,
                               const FetchContext& context);
// Waits: reads the raw tiles `ids` of an archive source (one batch, RemoteArchive::tiles on
// `archive`, the reader of entry.archive_url the caller keeps) into their cache files. Returns how
// many landed; a tile the archive lacks or that fails is left out.
int read_archive_tiles_and_wait(const CatalogueEntry& entry, const std::vector<RawTileId>& ids, std::string_view root,
                                pmtiles::RemoteArchive& archive, const FetchContext& context);

// The window's reader of an archive source's raw tiles: one worker thread of its own takes the
// view's batch (a newer batch replaces one not yet begun), reads it with RemoteArchive::tiles into
// the cache files, queues their paths and runs `notify` (which must not wait for the window thread).
// Threads: want/take_landed from one thread (the window's); the destructor waits for a batch being
// read (within its transfer bounds). The Fetcher must outlive the worker.
class ArchiveTileWorker {
public:
    struct Landed {
        std::string path;
        bool ok = false;
    };
    ArchiveTileWorker(Fetcher& fetcher, std::function<void()> notify);
    ~ArchiveTileWorker();
    ArchiveTileWorker(const ArchiveTileWorker&) = delete;
    ArchiveTileWorker& operator=(const ArchiveTileWorker&) = delete;

    void want(const CatalogueEntry& entry, std::vector<RawTileId> ids, std::string root, const FetchContext& context);
    std::vector<Landed> take_landed();
    bool has_landed() const;
    // Tiles wanted and not yet taken back.
    std::size_t outstanding() const;

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};

const TileSourceKind& remote_vector_kind();

}  // namespace vg
