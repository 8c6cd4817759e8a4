// The map layer: the view's cells, their tiles (cached, fetched now or in the background), the
// placeholders of cells still waiting and the sharp cells of a device scale of 2.
#include "app/map_layer.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <utility>

#include "tiles/catalogue_fetch.h"
#include "tiles/fine_tiles.h"
#include "tiles/local_source.h"
#include "tiles/remote_vector.h"
#include "tiles/source_kind.h"
#include "tiles/tile_cache.h"
#include "tiles/tile_naming.h"

namespace vg {

namespace {

// The tile corner a view centred on `v` is built around: the nearest multiple of 256.
int corner_of(int v) { return round_to_tile_edge(v); }

std::string key_of(const LayerSource& src) {
    // Cells shaded differently are not kept from one view to the next.
    const bool shaded = src.elevation && (src.hillshade || src.source == MapSource::Etopo2);
    return std::to_string(static_cast<int>(src.source)) + (src.aerial ? "a:" : ":") +
           (src.shown ? src.shown->name : std::string()) + "|" + src.root +
           (shaded ? "|shade" + std::to_string(src.hillshade ? src.shading : -src.shading) + "." +
                         std::to_string(src.elevation_generation)
                   : std::string());
}

bool file_present(const std::string& path) {
    std::error_code ec;
    return !path.empty() && std::filesystem::file_size(path, ec) > 0 && !ec;
}

}  // namespace

bool MapLayer::background(const LayerSource& src) const {
    return loader_ != nullptr && src.source != MapSource::Etopo2 && !src.made_here;
}

void MapLayer::set_area(int width, int height) {
    area_width_ = std::max(1, width);
    area_height_ = std::max(1, height);
}

ViewGrid MapLayer::grid_for(int cx, int cy) const {
    // The map area centred on the corner, widened on both sides by the centre's distance from it.
    const int off_x = std::abs(cx - corner_of(cx)), off_y = std::abs(cy - corner_of(cy));
    return view_grid_covering(area_width_ + 2 * off_x, area_height_ + 2 * off_y);
}

long long MapLayer::mosaic_x(int x) const {
    return static_cast<long long>(x) - corner_x_ + static_cast<long long>(grid_.columns / 2) * kTileSize;
}

long long MapLayer::mosaic_y(int y) const {
    const long long d = static_cast<long long>(y) - corner_y_;
    return (rows_run_north(source_) ? -d : d) + static_cast<long long>(grid_.rows / 2) * kTileSize;
}

bool MapLayer::has_tile(int index) const {
    const std::size_t i = static_cast<std::size_t>(index);
    return index >= 0 && i < table_.slots.size() && !table_.slots[i].empty();
}

bool MapLayer::composed(int index) const {
    const std::size_t i = static_cast<std::size_t>(index);
    return index >= 0 && i < composed_.size() && composed_[i];
}

MapLayer::Shown MapLayer::show(const LayerSource& src, int level, int cx, int cy, Fetch fetch, bool force) {
    const int gx = corner_of(cx), gy = corner_of(cy);
    const ViewGrid grid = grid_for(cx, cy);
    const std::string key = key_of(src);
    if (!force && loaded_ && level == level_ && gx == corner_x_ && gy == corner_y_ &&
        grid == grid_ && key == source_key_ && mosaic_.exists()) {
        // The same cells: only the centre moves within them.
        centre_x_ = cx;
        centre_y_ = cy;
        return Shown::Shown;
    }
    // The tiles go to a scratch table first, so that a view without tiles leaves the current one whole.
    TilePathTable table;
    const bool later = fetch == Fetch::Later && background(src);
    bool missed = false;
    bool ok;
    std::optional<CatalogueEntry> made_form;
    if (src.made_here) {
        // Tiles made on this machine need no network: the cached ones are found now, the missing ones
        // made (on line or off) as their cells are composed.
        made_form = src.context.entry ? *src.context.entry : original_form(src.source, src.aerial);
        ok = made_form->has_level(level) &&
             find_view_tiles(table, gx, gy, level, src.source, src.root, src.aerial, grid, src.shown);
    } else if (fetch == Fetch::Now && !later) {
        ok = fetch_view_tiles(table, gx, gy, level, src.source, src.root, src.aerial, grid, src.context);
        // A cell still empty after downloading could not be had from the source: the Atlas stands in.
        missed = std::any_of(table.slots.begin(), table.slots.end(), [](const std::string& s) { return s.empty(); });
    } else {
        ok = find_view_tiles(table, gx, gy, level, src.source, src.root, src.aerial, grid, src.shown);
    }
    if (!ok) return Shown::NoTiles;
    if (loader_ && !later) loader_->cancel_all();
    // Cells of the view shown before keep their decoded pixels where the new view has the same tile;
    // the others are composed over the next paints.
    const bool keep = !force && loaded_ && level == level_ && key == source_key_ && mosaic_.exists();
    std::map<std::string, int> kept;  // tile path → cell of the mosaic before
    if (keep)
        for (int i = 0; i < grid_.cells(); ++i)
            if (has_tile(i) && composed(i)) kept.emplace(table_.slots[static_cast<std::size_t>(i)], i);
    Mosaic before;
    std::vector<FineCell> fine_before;  // their sharp pictures, kept with them
    const ViewGrid grid_before = grid_;
    if (!kept.empty()) {
        before = std::move(mosaic_);
        mosaic_ = std::move(spare_);  // its buffer, when of the same size, is used again
        fine_before = std::move(fine_);
    }
    table_ = std::move(table);
    made_form_ = std::move(made_form);
    fetch_missed_ = missed;
    source_ = src.source;
    source_key_ = key;
    level_ = level;
    centre_x_ = cx;
    centre_y_ = cy;
    corner_x_ = gx;
    corner_y_ = gy;
    grid_ = grid;
    loaded_ = true;
    wanted_cells_.clear();
    failed_tiles_ = 0;
    failure_reason_.clear();
    const std::size_t cells = static_cast<std::size_t>(grid_.cells());
    placeholder_cells_.assign(cells, 0);
    stand_in_cells_.assign(cells, 0);
    pack_cells_.assign(cells, {});
    composed_.assign(cells, 0);
    to_compose_.clear();
    composed_next_ = 0;
    fallback_ = src.off_line || fetch_missed_;
    ancestors_.clear();
    if (!grey_mosaic(grid_, mosaic_)) {
        composed_.clear();
        return Shown::MosaicFailed;
    }
    const long long mx = mosaic_x(centre_x_), my = mosaic_y(centre_y_);
    std::vector<std::pair<long long, int>> order;  // squared distance of the cell's middle from the centre, cell
    std::vector<FineCell> fine_kept(cells);
    for_each_cell([&](int i, int r, int c, WorldPixel) {
        const auto at = has_tile(i) ? kept.find(table_.slots[static_cast<std::size_t>(i)]) : kept.end();
        if (at != kept.end() && copy_mosaic_cell(before, grid_before, at->second, grid_, i, mosaic_)) {
            composed_[static_cast<std::size_t>(i)] = 1;
            if (static_cast<std::size_t>(at->second) < fine_before.size())
                fine_kept[static_cast<std::size_t>(i)] = std::move(fine_before[static_cast<std::size_t>(at->second)]);
            return;
        }
        const long long dx = c * kTileSize + kTileSize / 2 - mx, dy = r * kTileSize + kTileSize / 2 - my;
        order.emplace_back(dx * dx + dy * dy, i);
    });
    if (before.exists()) spare_ = std::move(before);
    std::stable_sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [d, i] : order) to_compose_.push_back(i);
    compose_fine(src, std::move(fine_kept));
    if (later) request(src, false);
    return Shown::Shown;
}

void MapLayer::request(const LayerSource& src, bool all) {
    if (!background(src) || !loaded_) return;
    if (src.drawn) {
        request_raw(src, all);
        return;
    }
    // The source in the form its tiles are fetched in; a catalogue source fetched with its policy:
    // its template, folders, connections and freshness.
    const FetchContext& context = src.context;
    const CatalogueEntry& form = context.entry ? *context.entry : original_form(src.source, src.aerial);
    const TileSourceKind& kind = tile_source_kind(form);
    const CatalogueEntry* entry = kind.uses_fetcher() ? &form : nullptr;
    // A source paused after failures (silent host, blocked, rate-limited) is not asked again yet;
    // Reload Map and Online end the pause before they get here.
    const CatalogueEntry* shown = src.shown;
    const bool paused = shown && context.health && context.health->paused(shown->name, context.now);
    std::vector<TileLoader::Want> wants;
    std::vector<CatalogueCell> cached;
    std::vector<std::string> cached_slots;
    cached_slots.reserve(static_cast<std::size_t>(grid_.cells()));
    wanted_cells_.clear();
    failed_tiles_ = 0;
    failure_reason_.clear();
    // Squared distance of a cell's middle from the view's centre pixel, in units of 32 pixels squared.
    const long long mx = mosaic_x(centre_x_), my = mosaic_y(centre_y_);
    auto distance = [&](int r, int c) {
        const long long dx = c * kTileSize + kTileSize / 2 - mx, dy = r * kTileSize + kTileSize / 2 - my;
        return static_cast<int>(std::min<long long>((dx * dx + dy * dy) / 1024, 1 << 29));
    };
    for_each_cell([&](int i, int r, int c, WorldPixel p) {
        if (!form.has_level(level_)) return;
        if (has_tile(i) && !all) {
            // Drawn at once; a stale one of the fetcher's is revalidated in the background.
            if (entry) {
                cached_slots.push_back(table_.slots[static_cast<std::size_t>(i)]);
                cached.push_back({&cached_slots.back(), p.x, p.y});
            }
            return;
        }
        if (paused) return;
        const TileKey key = catalogue_tile_key(form, p.x, p.y, level_);
        if (!tile_in_world(key)) return;
        const std::string path = kind.cached_at(form, key, src.root).full_path;
        const std::optional<std::string> url = kind.address(form, key, context);
        if (!url) {
            if (entry) {  // a template's only missing piece is its key
                FetchResult missing;
                missing.outcome = FetchOutcome::bad_request;
                missing.cause = "no key_" + entry->name + " line in vor_ini.txt";
                if (context.health) context.health->record(entry->name, missing, entry->tmpl, context.now);
            }
            return;
        }
        if (path.empty() || path.size() > kMaxTilePath) return;
        wants.push_back({path, *url, distance(r, c)});
        wanted_cells_[path] = i;
    });
    // On a screen of twice the pixel density, the sharp tiles of the cells come after every 1x tile.
    fine_wanted_.clear();
    const CatalogueEntry* fine = entry && !paused ? fine_entry(src) : nullptr;
    if (fine && fine_origin(*fine, level_) == FineOrigin::fetched) {
        constexpr int kAfterEveryCell = 1 << 30;
        for_each_cell([&](int i, int r, int c, WorldPixel p) {
            const TileKey key = catalogue_tile_key(*fine, p.x, p.y, level_);
            for (auto& [q, path] : fine_files(src, i)) {
                if (!all && file_present(path)) continue;
                const auto url = expand_fine_template(*fine, level_, key.row, key.column, q, context.key);
                if (!url || path.size() > kMaxTilePath) continue;
                wants.push_back({path, *url, kAfterEveryCell + distance(r, c)});
                fine_wanted_[path] = {i, q};
            }
        });
    }
    if (entry && !cached.empty()) revalidate_catalogue_tiles(cached, level_, src.root, context);
    TileLoader::Policy policy;
    policy.host_connections = src.connections;
    policy.proxy = context.settings.proxy;
    policy.cafile = context.settings.cafile;
    if (entry) {
        policy.host_connections = entry->conn;
        policy.expected_type = entry->extension() == "jpg" ? "image/jpeg" : "image/png";
        policy.health = context.health;
        policy.source = entry->name;
        policy.fresh_seconds = static_cast<std::int64_t>(entry->fresh_days) * 86400;
        policy.now = src.test_clock ? context.now : 0;
    } else if (shown) {
        // An original source: its transfers count for its health (pause, message), nothing more.
        policy.health = context.health;
        policy.source = shown->name;
        policy.cache_records = false;
        policy.now = src.test_clock ? context.now : 0;
    }
    policy.limits = src.limits;
    loader_->want(std::move(wants), policy);
}

void MapLayer::request_raw(const LayerSource& src, bool all) {
    const CatalogueEntry& entry = *src.drawn;
    FetchContext context = src.context;
    context.entry = &entry;
    const std::int64_t now = src.test_clock && context.now != 0 ? context.now : static_cast<std::int64_t>(std::time(nullptr));
    const bool paused = context.health && context.health->paused(entry.name, now);
    raw_cells_.clear();
    wanted_cells_.clear();
    tilejson_wanted_.clear();
    failed_tiles_ = 0;
    failure_reason_.clear();
    std::vector<TileLoader::Want> wants;
    std::vector<RawTileId> archive_ids;
    if (!paused && tilejson_wanted(entry, src.root, now)) {
        // Fetched again when stale; the cached one serves meanwhile (and off line).
        tilejson_wanted_ = tilejson_path(entry, src.root);
        create_tile_directories(std::filesystem::path(tilejson_wanted_).parent_path().string());
        wants.push_back({tilejson_wanted_, entry.tilejson_url, -1});
    }
    const long long mx = mosaic_x(centre_x_), my = mosaic_y(centre_y_);
    for_each_cell([&](int i, int r, int c, WorldPixel p) {
        if (paused || !entry.has_level(level_) || (has_tile(i) && !all)) return;
        const TileKey key = catalogue_tile_key(entry, p.x, p.y, level_);
        if (!tile_in_world(key)) return;
        const RawTileId raw = raw_tile_for(entry, src.root, entry.zoom_of(level_), key.column, key.row);
        const std::string path = raw_tile_path(entry, raw, src.root);
        if (path.size() > kMaxTilePath || (!all && file_present(path))) return;  // drawn as the cell is composed
        const bool first = raw_cells_.count(path) == 0;
        raw_cells_.emplace(path, i);
        if (!first) return;
        if (!entry.archive_url.empty()) {
            archive_ids.push_back(raw);
            return;
        }
        const auto url = raw_tile_address(entry, raw, src.root, context.key);
        if (!url) return;
        create_tile_directories(std::filesystem::path(path).parent_path().string());
        const long long dx = c * kTileSize + kTileSize / 2 - mx, dy = r * kTileSize + kTileSize / 2 - my;
        wants.push_back({path, *url, static_cast<int>(std::min<long long>((dx * dx + dy * dy) / 1024, 1 << 29))});
    });
    TileLoader::Policy policy = raw_tile_policy(context);
    policy.now = src.test_clock ? context.now : 0;
    policy.limits = src.limits;
    loader_->want(std::move(wants), policy);
    if (!archive_ids.empty() && context.fetcher) {
        if (!archive_worker_) archive_worker_ = std::make_unique<ArchiveTileWorker>(*context.fetcher, notify_);
        archive_worker_->want(entry, std::move(archive_ids), src.root, context);
    }
}

bool MapLayer::raw_landed(const LayerSource& src, const std::string& path, bool ok, DisplayBitmap& bitmap,
                          bool& rebuild) {
    if (path == tilejson_wanted_) {
        tilejson_wanted_.clear();
        if (!ok) return false;
        // The template is known now: the view's raw tiles are asked for.
        forget_tilejson(*src.drawn);
        request_raw(src, false);
        return true;
    }
    const auto [first, last] = raw_cells_.equal_range(path);
    bool queued = false;
    for (auto it = first; it != last; ++it) {
        const int index = it->second;
        const std::size_t at = static_cast<std::size_t>(index);
        if (at >= composed_.size() || has_tile(index)) continue;
        if (ok) {
            // Drawn in the paints that follow, within their budget.
            composed_[at] = 0;
            to_compose_.push_back(index);
            queued = true;
            continue;
        }
        ++failed_tiles_;
        if (!composed_[at]) {
            composed_[at] = 1;
            if (!draw_pack_fallback(src, index)) draw_placeholder(src, index);
        }
        draw_atlas_fallback(src, index);
        show_cell(index, bitmap, rebuild);
    }
    raw_cells_.erase(first, last);
    return queued;
}

void MapLayer::show_cell(int index, DisplayBitmap& bitmap, bool& rebuild) {
    // A cell drawn anew goes into the bitmap alone (the overlays are stamped again by this paint);
    // the whole bitmap is made again only when it does not match the mosaic.
    if (!copy_cell_to_bitmap(mosaic_, grid_, index, bitmap)) rebuild = true;
    else if (static_cast<std::size_t>(index) < fine_.size()) clear_fine_cell_overlays(fine_[static_cast<std::size_t>(index)]);
}

void MapLayer::compose_cell(const LayerSource& src, int index) {
    const std::size_t at = static_cast<std::size_t>(index);
    if (at >= composed_.size() || composed_[at]) return;
    composed_[at] = 1;
    table_.fit(grid_);
    std::string& slot = table_.slots[at];
    if (made_form_ && slot.empty()) {
        const WorldPixel p = view_cell_pixel(source_, corner_x_, corner_y_, grid_, index / grid_.columns,
                                             index % grid_.columns);
        FetchContext context;
        context.entry = &*made_form_;
        if (!fetch_tile(slot, p.x, p.y, level_, source_, src.root, src.aerial, context) && !file_present(slot))
            slot.clear();
    }
    if (src.drawn && slot.empty()) {
        // A remote vector source's cell is drawn here when its raw tile is cached (never fetched here).
        const WorldPixel p = view_cell_pixel(source_, corner_x_, corner_y_, grid_, index / grid_.columns,
                                             index % grid_.columns);
        const TileKey key = catalogue_tile_key(*src.drawn, p.x, p.y, level_);
        const std::string path = catalogue_tile_paths(*src.drawn, key, src.root).full_path;
        if (src.drawn->has_level(level_) && tile_in_world(key) && path.size() <= kMaxTilePath &&
            draw_cached_cell(*src.drawn, src.root, src.drawn->zoom_of(level_), key.column, key.row, path)) {
            slot = path;
            placeholder_cells_[at] = 0;
            stand_in_cells_[at] = 0;
        }
    }
    if (!slot.empty()) {
        // A file that cannot be decoded is deleted and its cell left grey; its slot stays, as a
        // mosaic built whole keeps it.
        if (build_mosaic_cell(slot, source_, src.aerial, grid_, index, mosaic_))
            shade(src, mosaic_cell_square(mosaic_, grid_, index), index, -1);
        const CatalogueEntry* fine = fine_entry(src);
        start_fine_cell(src, index, fine && fine_origin(*fine, level_) == FineOrigin::made_here);
        return;
    }
    if (fallback_ && draw_pack_fallback(src, index)) return;
    if (loader_) draw_placeholder(src, index);
    if (fallback_) draw_atlas_fallback(src, index);
}

bool MapLayer::take_landed(const LayerSource& src, DisplayBitmap& bitmap, bool& rebuild,
                           std::chrono::milliseconds budget) {
    // The view's cells still grey first, middle ones first: at least one a paint, then while the
    // budget lasts; what is left asks for another paint.
    const auto start = std::chrono::steady_clock::now();
    for (bool first = true; composed_next_ < to_compose_.size(); first = false) {
        if (!first && std::chrono::steady_clock::now() - start >= budget) return true;
        const int index = to_compose_[composed_next_++];
        if (composed(index)) continue;  // a tile landed there first
        composed_this_paint_ = true;
        compose_cell(src, index);
        show_cell(index, bitmap, rebuild);
    }
    // Raw tiles of a remote vector source only queue their cells to be drawn (next paints).
    bool redraw = false;
    if (archive_worker_)
        for (const auto& landed : archive_worker_->take_landed())
            redraw |= raw_landed(src, landed.path, landed.ok, bitmap, rebuild);
    if (!loader_) return redraw;
    // One paint takes what it can draw in a few milliseconds (a sharp cell's tiles are large); the
    // rest stays queued and counted for the next paint.
    for (;;) {
        if (std::chrono::steady_clock::now() - start >= budget) return redraw || loader_->has_landed();
        std::vector<TileLoader::Landed> next = loader_->take_landed(1);
        if (next.empty()) return redraw;
        const TileLoader::Landed& landed = next.front();
        if (src.drawn && (landed.path == tilejson_wanted_ || raw_cells_.count(landed.path) != 0)) {
            redraw |= raw_landed(src, landed.path, landed.ok, bitmap, rebuild);
            continue;
        }
        if (auto f = fine_wanted_.find(landed.path); f != fine_wanted_.end()) {
            // A sharp tile: drawn into its cell's quarter (or the whole cell). One that failed
            // leaves the 1x tile enlarged there; the source's health has noted why.
            const auto [index, quarter] = f->second;
            if (landed.ok && static_cast<std::size_t>(index) < fine_.size()) {
                FineCell& cell = fine_[static_cast<std::size_t>(index)];
                // The first sharp tile of a cell starts from its 1x pixels enlarged; later ones only
                // replace their quarter (a 1x tile landing refreshes the rest, fill_fine_cell).
                bool ready = cell.image.width == kFineCellSize;
                if (!ready && enlarge_mosaic_cell(mosaic_, grid_, index, cell.image)) {
                    ready = true;
                    cell.dirty = 0xFu;
                }
                const unsigned bits = quarter < 0 ? 0xFu : 1u << quarter;
                if (ready && draw_fine_tile(landed.path, quarter, cell.image)) {
                    shade(src, picture_square(cell.image, quarter), index, quarter);
                    cell.quarters |= bits;
                    cell.dirty |= bits;
                }
            }
            continue;
        }
        auto it = wanted_cells_.find(landed.path);
        if (!landed.ok) {
            // Only a cell of this view counts as failed; a tile of a view already left does not.
            if (it == wanted_cells_.end()) continue;
            ++failed_tiles_;
            failure_reason_ = landed.reason;
            // The source cannot give this cell: the Atlas stands in, lighter, instead of grey.
            if (const std::size_t at = static_cast<std::size_t>(it->second); at < composed_.size() && !composed_[at]) {
                composed_[at] = 1;
                if (!draw_pack_fallback(src, it->second)) draw_placeholder(src, it->second);
            }
            draw_atlas_fallback(src, it->second);
            show_cell(it->second, bitmap, rebuild);
            continue;
        }
        // MapQuest answers a missing tile with a placeholder picture of a known size.
        std::error_code ec;
        if (src.source == MapSource::MapQuest && std::filesystem::file_size(landed.path, ec) == kMapQuestNoTileSize) {
            std::filesystem::remove(landed.path, ec);
            continue;
        }
        if (it == wanted_cells_.end()) continue;  // arrived for a view already left: it stays cached
        table_.fit(grid_);
        const std::size_t at = static_cast<std::size_t>(it->second);
        table_.slots[at] = landed.path;
        if (at < composed_.size()) composed_[at] = 1;
        if (at < stand_in_cells_.size()) stand_in_cells_[at] = 0;
        if (at < pack_cells_.size()) pack_cells_[at].clear();
        if (!build_mosaic_cell(landed.path, src.source, src.aerial, grid_, it->second, mosaic_)) {
            table_.slots[at].clear();
        } else {
            shade(src, mosaic_cell_square(mosaic_, grid_, it->second), it->second, -1);
            if (!fine_.empty()) fill_fine_cell(src, it->second, true);
        }  // the quarters not sharp yet show the new tile enlarged
        show_cell(it->second, bitmap, rebuild);
    }
}

void MapLayer::draw_placeholder(const LayerSource& src, int index) {
    // Ancestors are found for sources whose rows run from the north (their tiles nest simply).
    if (src.source == MapSource::Etopo2 || rows_run_north(src.source) || !mosaic_.exists() || has_tile(index) ||
        grid_.columns < 1 || index < 0 || index >= grid_.cells())
        return;
    // A catalogue source's tiles are where its own cache layout puts them.
    const CatalogueEntry* entry = src.shown && !src.shown->original ? src.shown : nullptr;
    const WorldPixel p = view_cell_pixel(source_, corner_x_, corner_y_, grid_, index / grid_.columns,
                                         index % grid_.columns);
    // Every coarser zoom, nearest first.
    for (int up = 1; web_zoom(level_) - up >= 0; ++up) {
        const int k = zoom_code(web_zoom(level_) - up);
        if (entry ? !entry->has_level(k) : !has_scale(src.source, k)) continue;
        const int ax = rescale_x(p.x, level_, k, src.source), ay = rescale_y(p.y, level_, k, src.source);
        const TileKey key = entry ? catalogue_tile_key(*entry, ax, ay, k) : tile_key(ax, ay, k, src.source, src.aerial);
        if (!tile_in_world(key)) break;
        const std::string path = entry ? catalogue_tile_paths(*entry, key, src.root).full_path
                                       : vg::tile_paths(key, src.root).full_path;
        if (!file_present(path)) continue;
        auto it = ancestors_.find(path);  // each ancestor decoded once a view
        if (it == ancestors_.end()) {
            RgbImage image;
            const bool jpeg = path.size() > 4 && path.ends_with(".jpg");
            const bool ok = entry ? (jpeg ? load_jpeg(path, image) : load_png(path, image))
                                  : load_tile_image(path, src.source, src.aerial, image);
            if (!ok) image = RgbImage{};
            it = ancestors_.emplace(path, std::move(image)).first;
        }
        // The cell's part of the ancestor: a square of 256 / 2^up pixels (at least one), enlarged.
        const int span = up < 8 ? kTileSize >> up : 1;
        const int sx = ((ax % kTileSize) + kTileSize) % kTileSize, sy = ((ay % kTileSize) + kTileSize) % kTileSize;
        if (!draw_enlarged_part(it->second, sx, sy, span, grid_, index, mosaic_)) continue;
        placeholder_cells_[static_cast<std::size_t>(index)] = 1;
        return;
    }
}

bool MapLayer::draw_pack_fallback(const LayerSource& src, int index) {
    if (src.stand_in_packs.empty() || !is_mercator(src.source) || src.made_here || !mosaic_.exists() ||
        has_tile(index) || grid_.columns < 1 || index < 0 || index >= grid_.cells())
        return false;
    const WorldPixel p = view_cell_pixel(source_, corner_x_, corner_y_, grid_, index / grid_.columns,
                                         index % grid_.columns);
    for (const CatalogueEntry* pack : src.stand_in_packs) {
        std::string slot;
        if (!pack->has_level(level_) || !make_offline_tile(slot, p.x, p.y, level_, src.root, *pack)) continue;
        if (!build_mosaic_cell(slot, MapSource::OpenStreetMap, false, grid_, index, mosaic_)) continue;
        placeholder_cells_[static_cast<std::size_t>(index)] = 1;  // no coarser tile or Atlas over it
        if (static_cast<std::size_t>(index) < pack_cells_.size())
            pack_cells_[static_cast<std::size_t>(index)] = pack->attribution.empty() ? pack->name : pack->attribution;
        return true;
    }
    return false;
}

void MapLayer::draw_atlas_fallback(const LayerSource& src, int index) {
    if (!is_mercator(src.source) || src.made_here || !mosaic_.exists() || has_tile(index) || grid_.columns < 1 ||
        index < 0 || index >= grid_.cells())
        return;
    if (static_cast<std::size_t>(index) < placeholder_cells_.size() && placeholder_cells_[static_cast<std::size_t>(index)])
        return;
    const WorldPixel p = view_cell_pixel(source_, corner_x_, corner_y_, grid_, index / grid_.columns,
                                         index % grid_.columns);
    const std::string path = faded_atlas_tile(p.x, p.y, level_, src.source, src.root);
    // The Atlas is PNG whatever the source's own tiles are.
    if (!path.empty() && build_mosaic_cell(path, MapSource::OpenStreetMap, false, grid_, index, mosaic_) &&
        static_cast<std::size_t>(index) < stand_in_cells_.size())
        stand_in_cells_[static_cast<std::size_t>(index)] = 1;
}

bool MapLayer::shows_stand_ins() const {
    return std::any_of(stand_in_cells_.begin(), stand_in_cells_.end(), [](char c) { return c != 0; });
}

std::vector<std::string> MapLayer::stand_in_pack_credits() const {
    std::vector<std::string> credits;
    for (const std::string& c : pack_cells_)
        if (!c.empty() && std::find(credits.begin(), credits.end(), c) == credits.end()) credits.push_back(c);
    return credits;
}

bool MapLayer::shows_source_tiles() const {
    for (int i = 0; i < grid_.cells(); ++i)
        if (has_tile(i) && composed(i)) return true;
    return false;
}

// ---- sharp cells on a screen of twice the pixel density ------------------------------------------
// The 1x mosaic and display bitmap stay exactly as on any screen; a sharp cell is drawn over its
// cell by the window layer. The sharp tiles are cached in their own folder beside the source's, are
// fetched after every 1x tile of the view (lower priority, same connections and health), and a cell
// shows its 1x tile enlarged until they land.

bool MapLayer::set_device_scale(const LayerSource& src, int scale, bool request_tiles) {
    const int s = scale >= 2 ? 2 : 1;
    if (s == device_scale_) return false;
    device_scale_ = s;
    if (!loaded_) return true;
    compose_fine(src);
    if (request_tiles) request(src, false);
    return true;
}

const CatalogueEntry* MapLayer::fine_entry(const LayerSource& src) const {
    if (device_scale_ < 2 || !src.fine) return nullptr;
    return fine_origin(*src.fine, level_) != FineOrigin::none ? src.fine : nullptr;
}

std::vector<std::pair<int, std::string>> MapLayer::fine_files(const LayerSource& src, int index, bool make) const {
    const CatalogueEntry* entry = fine_entry(src);
    if (!entry || grid_.columns < 1 || index < 0 || index >= grid_.cells()) return {};
    const WorldPixel p = view_cell_pixel(entry->geometry(), corner_x_, corner_y_, grid_, index / grid_.columns,
                                         index % grid_.columns);
    return fine_tile_files(*entry, catalogue_tile_key(*entry, p.x, p.y, level_), src.root, make);
}

void MapLayer::compose_fine(const LayerSource& src, std::vector<FineCell> kept) {
    fine_.clear();
    fine_wanted_.clear();
    fine_to_make_.clear();
    const CatalogueEntry* entry = fine_entry(src);
    if (!entry || !mosaic_.exists()) return;
    fine_.resize(static_cast<std::size_t>(grid_.cells()));
    const bool made_here = fine_origin(*entry, level_) == FineOrigin::made_here;
    // Cells still to be composed start theirs when they are (middle cells first, as those are).
    std::vector<std::pair<int, int>> ready;  // distance from the middle, cell
    for_each_cell([&](int i, int r, int c, WorldPixel) {
        if (!has_tile(i) || !composed(i)) return;
        const int dx = 2 * c + 1 - grid_.columns, dy = 2 * r + 1 - grid_.rows;
        ready.emplace_back(dx * dx + dy * dy, i);
    });
    std::stable_sort(ready.begin(), ready.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [d, i] : ready) {
        const std::size_t at = static_cast<std::size_t>(i);
        if (at < kept.size() && kept[at].image.width == kFineCellSize) {
            // Kept with its cell: its overlays go when the bitmap is made again (overlays_cleared).
            fine_[at] = std::move(kept[at]);
            fine_[at].dirty = 0xFu;
            if (made_here && fine_[at].quarters != 0xFu) fine_to_make_.push_back(i);
        } else {
            start_fine_cell(src, i, made_here);
        }
    }
}

void MapLayer::start_fine_cell(const LayerSource& src, int index, bool made_here) {
    if (index < 0 || static_cast<std::size_t>(index) >= fine_.size()) return;
    fill_fine_cell(src, index, true);
    // Sources made here draw (or copy) the missing ones over the next paints.
    if (made_here && fine_[static_cast<std::size_t>(index)].quarters != 0xFu) fine_to_make_.push_back(index);
}

bool MapLayer::make_fine_cells(const LayerSource& src) {
    const bool spent = std::exchange(composed_this_paint_, false);
    if (fine_to_make_.empty()) return false;
    // The view's own cells come first: a paint that composed some has spent its budget on them.
    if (cells_to_compose() > 0 || spent) return true;
    if (!fine_entry(src)) {
        fine_to_make_.clear();
        return false;
    }
    // At least one cell a paint (a 512-pixel drawing takes a few milliseconds), then while the
    // paint's budget lasts.
    constexpr auto kPaintBudget = std::chrono::milliseconds(6);
    const auto start = std::chrono::steady_clock::now();
    std::size_t done = 0;
    while (done < fine_to_make_.size() && (done == 0 || std::chrono::steady_clock::now() - start < kPaintBudget)) {
        const int index = fine_to_make_[done++];
        fine_files(src, index, true);
        fill_fine_cell(src, index, true);
    }
    fine_to_make_.erase(fine_to_make_.begin(), fine_to_make_.begin() + static_cast<std::ptrdiff_t>(done));
    return !fine_to_make_.empty();
}

void MapLayer::fill_fine_cell(const LayerSource& src, int index, bool from_cache) {
    if (!fine_entry(src) || index < 0 || static_cast<std::size_t>(index) >= fine_.size()) return;
    FineCell& f = fine_[static_cast<std::size_t>(index)];
    std::vector<std::pair<int, std::string>> cached;
    if (from_cache) {
        for (auto& [q, path] : fine_files(src, index)) {
            const unsigned bits = q < 0 ? 0xFu : 1u << q;
            if ((f.quarters & bits) != bits && file_present(path)) cached.emplace_back(q, std::move(path));
        }
        // Nothing sharp to show: the window layer draws the 1x cell enlarged, which looks the same.
        if (cached.empty() && f.quarters == 0) return;
    }
    if (!enlarge_mosaic_cell(mosaic_, grid_, index, f.image, f.quarters)) return;
    for (const auto& [q, path] : cached) {
        if (!draw_fine_tile(path, q, f.image)) continue;
        f.quarters |= q < 0 ? 0xFu : 1u << q;
        shade(src, picture_square(f.image, q), index, q);
    }
    f.dirty = 0xFu;
}

void MapLayer::shade(const LayerSource& src, PixelSquare square, int index, int quarter) const {
    const bool relief = source_ == MapSource::Etopo2;
    if (!src.elevation || !square.first || grid_.columns < 1 || (!relief && (!src.hillshade || !is_mercator(source_))))
        return;
    const WorldPixel p = view_cell_pixel(source_, corner_x_, corner_y_, grid_, index / grid_.columns,
                                         index % grid_.columns);
    int zoom = web_zoom(level_), column = tile_column(p.x, source_, level_), row = tile_row(p.y);
    if (src.shown) {
        const TileKey key = catalogue_tile_key(*src.shown, p.x, p.y, level_);
        zoom = src.shown->zoom_of(key.level);
        column = key.column;
        row = key.row;
    }
    if (relief) {
        // Etopo2's cells are 22.5° squares, rows from the south pole, columns from 180° W; a quarter
        // of the sharp picture is a 11.25° square (quarters count from the north west).
        constexpr double kCell = 22.5;
        double west = -180.0 + column * kCell, south = -90.0 + row * kCell, side = kCell;
        if (quarter >= 0) {
            side = kCell / 2;
            west += (quarter % 2) * side;
            south += (1 - quarter / 2) * side;
        }
        relief_degree_square(square, *src.elevation, south, west, south + side, west + side, src.shading);
        return;
    }
    if (quarter >= 0) {
        zoom += 1;
        column = 2 * column + quarter % 2;
        row = 2 * row + quarter / 2;
    }
    if (zoom < 0 || zoom > 30 || column < 0 || row < 0) return;
    shade_web_square(square, *src.elevation, zoom, std::uint32_t(column), std::uint32_t(row), src.shading);
}

void MapLayer::overlay_pixel(int c, int r, const std::uint8_t* bgr) {
    if (c < 0 || r < 0 || grid_.columns < 1) return;
    const std::size_t index = static_cast<std::size_t>(r / kTileSize * grid_.columns + c / kTileSize);
    if (c / kTileSize < grid_.columns && index < fine_.size())
        stamp_fine_cell(fine_[index], c % kTileSize, r % kTileSize, bgr);
}

void MapLayer::overlays_cleared() {
    for (FineCell& f : fine_) clear_fine_cell_overlays(f);
}

void MapLayer::fill(PaintFrame& frame, const DisplayBitmap& bitmap) {
    // The map area shows the bitmap around the centre's own pixel: for a centre on a tile corner
    // the middle of the bitmap (rows W/8 .. 7W/8 − 1 of the original square views).
    const long long first_x = mosaic_x(centre_x_) - area_width_ / 2;
    const long long first_y = mosaic_y(centre_y_) - area_height_ / 2;
    frame.visible_first_column = static_cast<int>(std::clamp<long long>(first_x, 0, std::max(0, bitmap.width() - 1)));
    frame.visible_first_row = static_cast<int>(std::clamp<long long>(first_y, 0, std::max(0, bitmap.height() - 1)));
    if (fine_.empty()) return;
    for_each_cell([&](int i, int r, int c, WorldPixel) {
        const int x0 = kTileSize * c, y0 = kTileSize * r;
        // Cells wholly outside the map area are not shown.
        if (static_cast<std::size_t>(i) >= fine_.size() || x0 + kTileSize <= frame.visible_first_column ||
            x0 >= frame.visible_first_column + area_width_ || y0 + kTileSize <= frame.visible_first_row ||
            y0 >= frame.visible_first_row + area_height_)
            return;
        FineCell& f = fine_[static_cast<std::size_t>(i)];
        if (ready_fine_cell(f, bitmap, x0, y0)) frame.fine_cells.push_back({x0, y0, f.shown.data()});
    });
}

}  // namespace vg
