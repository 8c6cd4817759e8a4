// The map layer: the one owner of the view's tiles. It keeps the cells of the current view (the grid
// around the tile corner nearest the centre, the tile path table and the decoded mosaic), composes a
// new view's cells over the paints that follow it (keeping those of the view before), asks the
// loader for the missing tiles nearest the middle first, draws the tiles that land into their cells,
// shows the best cached coarser tile enlarged (or the lighter Atlas tile off line) in cells still
// waiting, and at a device scale of 2 keeps a sharp 512-pixel picture per cell. App says which view
// to show and where the map area is; the layer says what to draw (PaintFrame's map part).
//
// The centre is any world pixel: the grid is as large as the map area needs around it, plus the cells
// its offset from the nearest tile corner uncovers, so a view never shows an empty edge. Everything
// here runs on the window thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/paint_frame.h"
#include "tiles/remote_vector.h"
#include "tiles/tile_loader.h"
#include "tiles/elevation.h"
#include "tiles/geometry.h"
#include "tiles/hillshade.h"
#include "tiles/image_decode.h"
#include "tiles/tile_catalogue.h"
#include "tiles/tile_sources.h"
#include "tiles/tile_types.h"

namespace vg {

// The source the layer shows, as App decides it for one call.
struct LayerSource {
    MapSource source = MapSource::VirtualEarth;
    bool aerial = false;
    std::string root;                       // the cache root, relative roots resolved
    const CatalogueEntry* shown = nullptr;  // the selected entry (health, placeholders' cache layout)
    FetchContext context;                   // the entry in it is null where the plain original forms are used
    bool made_here = false;                 // tiles made on this machine (Atlas, Etopo2's relief, map packs)
    bool off_line = false;                  // the source shows the off-line look
    int connections = 2;                    // per host, for the original sources
    TransferLimits limits = TransferLimits::tiles();
    bool test_clock = false;                // the freshness clock is the context's `now`
    // The entry whose cells may be drawn sharp at a device scale of 2 (fetched by the fetcher, or made
    // here: the Atlas, Etopo2, packs), or null.
    const CatalogueEntry* fine = nullptr;
    // A remote vector source (kind remote_vector): its cells are drawn here, within the paints'
    // budget like a pack's, from raw tiles fetched in the background (the loader, or the archive
    // worker for a PMTiles address); null for the other kinds.
    const CatalogueEntry* drawn = nullptr;
    // Vector packs that stand in first for a cell the source cannot give (off line, or its tile
    // failed), before its coarser cached tiles and the Atlas.
    std::vector<const CatalogueEntry*> stand_in_packs;
    // Elevation data of the maps folder (null: none). With it, `hillshade` shades each cell at
    // `shading` percent, and Etopo2 shows relief tints under that shade instead of the Atlas picture.
    std::shared_ptr<const ElevationModel> elevation;
    bool hillshade = false;
    int shading = 60;
    // Advanced by App when elevation tiles land: cells shaded before them are made again.
    int elevation_generation = 0;
};

class MapLayer : private OverlaySink {
public:
    // How a view's missing tiles are had: downloaded before it shows, from the cache now and the
    // rest in the background, or from the cache only.
    enum class Fetch { Now, Later, CacheOnly };
    enum class Shown { NoTiles, Shown, MosaicFailed };

    // Background loading: without a loader every view's tiles are had before it shows.
    void attach_loader(std::unique_ptr<TileLoader> loader) { loader_ = std::move(loader); }
    void release_loader() {
        archive_worker_.reset();
        loader_.reset();
    }
    // What runs when an archive source's raw tiles have been read (the loader's notify).
    void set_notify(std::function<void()> notify) { notify_ = std::move(notify); }
    // True when `src`'s tiles come through the loader.
    bool background(const LayerSource& src) const;

    // The map area in logical pixels (the next show() uses it).
    void set_area(int width, int height);
    // The cells a view centred on world pixel (cx, cy) needs for the map area.
    ViewGrid grid_for(int cx, int cy) const;

    // Makes the view of `level` centred on (cx, cy) the layer's: its tiles found (or fetched) and,
    // with Fetch::Later, the missing ones requested. The mosaic shows at once the cells of the view
    // before that it keeps (same source, level and tile); the others are grey until the paints that
    // follow compose them (take_landed). NoTiles leaves the current view whole. A view that keeps the
    // cells of the one shown (only the centre moved within them) keeps its mosaic and requests unless
    // `force`.
    Shown show(const LayerSource& src, int level, int cx, int cy, Fetch fetch, bool force = false);
    // Asks for the missing tiles of the view (every tile when `all`, replacing cached ones) and
    // its sharp tiles; requests for tiles no longer in view are cancelled.
    void request(const LayerSource& src, bool all);
    // Composes the view's cells still grey, middle cells first (a cached tile decoded, a tile made
    // here made first; a cell without one gets its placeholder), then draws the tiles that landed
    // into their cells; each into `bitmap` too, which mirrors the mosaic. At least one cell a call,
    // then while `budget` lasts. True when some are left (the window should paint again). `rebuild`
    // is set when the bitmap must be made again from the mosaic.
    bool take_landed(const LayerSource& src, DisplayBitmap& bitmap, bool& rebuild,
                     std::chrono::milliseconds budget = std::chrono::milliseconds(6));
    // Where the overlays of a paint go besides the display bitmap: the sharp cells, when there are
    // any (null otherwise).
    OverlaySink* overlay_sink() { return fine_.empty() ? nullptr : this; }
    // The display bitmap was made again from the mosaic: the overlays are gone from it.
    void overlays_cleared();
    // The map part of a paint: which part of `bitmap` the map area shows and the sharp cells with
    // the overlays drawn over them.
    void fill(PaintFrame& frame, const DisplayBitmap& bitmap);
    // Makes a few milliseconds' worth of the sharp cells a source made here still lacks (middle cells
    // first, at least one a call). True when some are left (the window should paint again).
    bool make_fine_cells(const LayerSource& src);
    // The device scale (1, or 2 for sharp cells): the sharp cells are made or dropped and, when
    // `request_tiles`, their tiles asked for. True when it changed.
    bool set_device_scale(const LayerSource& src, int scale, bool request_tiles);
    int device_scale() const { return device_scale_; }

    // The view.
    bool loaded() const { return loaded_; }
    // Cells of the shown view still to be composed; 0 once the view is complete.
    std::size_t cells_to_compose() const { return to_compose_.size() - composed_next_; }
    const ViewGrid& grid() const { return grid_; }
    const Mosaic& mosaic() const { return mosaic_; }
    const TilePathTable& tile_paths() const { return table_; }
    // The mosaic pixel of world pixel (x, y) of the shown view (outside the mosaic when out of view).
    long long mosaic_x(int x) const;
    long long mosaic_y(int y) const;
    // Counts of the background fill: tiles still on their way, failed ones and the last reason.
    std::size_t tiles_left() const {
        return (loader_ ? loader_->outstanding() : 0) + (archive_worker_ ? archive_worker_->outstanding() : 0);
    }
    int failed_tiles() const { return failed_tiles_; }
    const std::string& failure_reason() const { return failure_reason_; }
    // Whether some cell shows the lighter Atlas standing in for the source, and whether some shows
    // a tile of the source itself (what the attribution has to credit).
    bool shows_stand_ins() const;
    bool shows_source_tiles() const;
    // The credits of the vector packs standing in for the source in some cell of the view (each
    // pack's attribution, else its name), once each, in cell order.
    std::vector<std::string> stand_in_pack_credits() const;

    // Calls f(index, row, column, world pixel of the cell) for each cell of the shown view.
    template <typename F>
    void for_each_cell(F&& f) const {
        for (int r = 0; r < grid_.rows; ++r)
            for (int c = 0; c < grid_.columns; ++c)
                f(r * grid_.columns + c, r, c, view_cell_pixel(source_, corner_x_, corner_y_, grid_, r, c));
    }

private:
    void overlay_pixel(int c, int r, const std::uint8_t* bgr) override;
    bool has_tile(int index) const;
    bool composed(int index) const;
    // Composes cell `index`: its tile (made first by a source made here), else its placeholder.
    void compose_cell(const LayerSource& src, int index);
    // Cell `index` (the bitmap's too) drawn anew: `rebuild` when the bitmap does not match the mosaic.
    void show_cell(int index, DisplayBitmap& bitmap, bool& rebuild);
    // Cell `index` without a tile shows the best cached tile of a coarser level, enlarged.
    void draw_placeholder(const LayerSource& src, int index);
    // Cell `index`, when still grey, shows the lighter Atlas tile.
    // A vector pack's cell in place of the source's (src.stand_in_packs): true when one was drawn.
    bool draw_pack_fallback(const LayerSource& src, int index);
    void draw_atlas_fallback(const LayerSource& src, int index);
    // The sharp tile files of cell `index` (quarter, path).
    // `make`: a source made here makes its missing ones first (tiles/fine_tiles.h).
    std::vector<std::pair<int, std::string>> fine_files(const LayerSource& src, int index, bool make = false) const;
    const CatalogueEntry* fine_entry(const LayerSource& src) const;
    // The sharp cells of the composed cells; `kept` (by cell) those kept from the view before.
    void compose_fine(const LayerSource& src, std::vector<FineCell> kept = {});
    // The sharp picture of composed cell `index`; a source made here queues it to be made.
    void start_fine_cell(const LayerSource& src, int index, bool made_here);
    void fill_fine_cell(const LayerSource& src, int index, bool from_cache);
    // Hillshade, or Etopo2's relief, over `square`: cell `index`'s picture (or its `quarter` of the
    // sharp picture, −1 the whole), where the elevation data covers it (tiles/hillshade.h).
    void shade(const LayerSource& src, PixelSquare square, int index, int quarter) const;

    // A remote vector source: its raw tiles wanted for the view (path → cells), its TileJSON's path
    // while it is on its way, and the archive worker.
    void request_raw(const LayerSource& src, bool all);
    // A raw tile (or the TileJSON) finished: its cells are composed again, or get their fallbacks.
    bool raw_landed(const LayerSource& src, const std::string& path, bool ok, DisplayBitmap& bitmap, bool& rebuild);
    std::multimap<std::string, int> raw_cells_;
    std::string tilejson_wanted_;
    std::unique_ptr<ArchiveTileWorker> archive_worker_;
    std::function<void()> notify_;
    std::unique_ptr<TileLoader> loader_;
    int area_width_ = 512;
    int area_height_ = 384;
    bool loaded_ = false;
    MapSource source_ = MapSource::VirtualEarth;
    std::string source_key_;  // source, layer and root of the shown view
    int level_ = 0;
    int centre_x_ = 0, centre_y_ = 0;
    int corner_x_ = 0, corner_y_ = 0;  // the tile corner the grid is built around
    ViewGrid grid_;
    TilePathTable table_;
    Mosaic mosaic_;
    Mosaic spare_;  // the mosaic before the last view that kept cells of it: its buffer serves the next one
    bool fetch_missed_ = false;                // the last download before a view left cells empty
    std::map<std::string, int> wanted_cells_;  // cache path → cell index of the current view
    int failed_tiles_ = 0;
    std::string failure_reason_;
    std::vector<char> placeholder_cells_;  // cells that draw_placeholder filled
    std::vector<char> stand_in_cells_;     // cells that show the lighter Atlas instead of the source
    std::vector<std::string> pack_cells_;  // per cell: the credit of the vector pack shown there, or ""
    std::vector<char> composed_;           // per cell: composed (decoded, kept, made or placeholder)
    std::vector<int> to_compose_;          // cells to compose, middle first; done up to composed_next_
    std::size_t composed_next_ = 0;
    bool composed_this_paint_ = false;     // take_landed composed cells: the sharp ones wait a paint
    bool fallback_ = false;                // cells without a tile show the lighter Atlas (off line, missed)
    std::optional<CatalogueEntry> made_form_;    // a source made here: the entry its tiles are made with
    std::map<std::string, RgbImage> ancestors_;  // coarser tiles decoded for this view's placeholders
    std::vector<FineCell> fine_;
    std::map<std::string, std::pair<int, int>> fine_wanted_;  // cache path → cell, quarter (-1 whole)
    std::vector<int> fine_to_make_;  // cells of a source made here whose sharp tiles are still to be made
    int device_scale_ = 1;
};

}  // namespace vg
