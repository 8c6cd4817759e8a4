#include "tiles/remote_vector.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <numbers>
#include <nlohmann/json.hpp>

#include "platform/files.h"
#include "tiles/compression.h"
#include "tiles/http_cache.h"
#include "tiles/local_source.h"
#include "tiles/pmtiles_remote.h"
#include "tiles/source_kind.h"
#include "tiles/tile_naming.h"

namespace vg {
namespace {

constexpr int kMaxTileJsonZoom = 24;
constexpr std::size_t kMaxTileJsonTemplate = 900;
constexpr std::size_t kMaxRawTileBytes = 64u << 20;  // an archive's tile decompressed

bool usable_template(const std::string& t) {
    if (t.size() > kMaxTileJsonTemplate || (t.rfind("http://", 0) != 0 && t.rfind("https://", 0) != 0)) return false;
    return std::none_of(t.begin(), t.end(), [](char c) { return static_cast<unsigned char>(c) <= 0x20 || c == 0x7f; });
}

std::int64_t clock_now(const FetchContext& ctx) {
    return ctx.now != 0 ? ctx.now : static_cast<std::int64_t>(std::time(nullptr));
}

bool has_body(const std::string& path) { return regular_size(path) > 0; }

std::string read_whole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// TileJSONs read from the cache, by address.
std::mutex g_tilejson_mutex;
std::map<std::string, std::shared_ptr<const TileJson>>& tilejsons() {
    static std::map<std::string, std::shared_ptr<const TileJson>> table;
    return table;
}

// Longitude / latitude of a web tile's corner.
double tile_lon(int x, int z) { return x / std::ldexp(1.0, z) * 360.0 - 180.0; }
double tile_lat(int y, int z) {
    const double n = std::numbers::pi - 2.0 * std::numbers::pi * y / std::ldexp(1.0, z);
    return 180.0 / std::numbers::pi * std::atan(std::sinh(n));
}

}  // namespace

std::optional<TileJson> parse_tilejson(std::string_view text, std::string& error) {
    const nlohmann::json doc = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) {
        error = "the TileJSON is not a JSON object";
        return std::nullopt;
    }
    TileJson out;
    if (const auto tiles = doc.find("tiles"); tiles != doc.end() && tiles->is_array())
        for (const auto& t : *tiles)
            if (t.is_string() && usable_template(t.get<std::string>())) out.tiles.push_back(t.get<std::string>());
    if (out.tiles.empty()) {
        error = "the TileJSON gives no http(s) tile template";
        return std::nullopt;
    }
    auto zoom = [&](const char* key, int& value) {
        const auto z = doc.find(key);
        if (z == doc.end()) return true;
        if (!z->is_number() || z->get<double>() < 0 || z->get<double>() > kMaxTileJsonZoom) return false;
        value = static_cast<int>(z->get<double>());
        return true;
    };
    if (!zoom("minzoom", out.min_zoom) || !zoom("maxzoom", out.max_zoom) || out.min_zoom > out.max_zoom) {
        error = "the TileJSON's zooms are not 0 to 24, minzoom not above maxzoom";
        return std::nullopt;
    }
    if (const auto a = doc.find("attribution"); a != doc.end() && a->is_string()) {
        // Often HTML: the text between the tags, on one line, at most 200 bytes.
        bool in_tag = false;
        for (char c : a->get<std::string>()) {
            if (c == '<') in_tag = true;
            else if (c == '>') in_tag = false;
            else if (!in_tag && c != '\n' && c != '\r' && out.attribution.size() < 200) out.attribution += c;
        }
    }
    if (const auto b = doc.find("bounds"); b != doc.end() && b->is_array() && b->size() == 4 &&
                                           std::all_of(b->begin(), b->end(), [](const auto& v) { return v.is_number(); })) {
        const double w = (*b)[0].get<double>(), s = (*b)[1].get<double>(), e = (*b)[2].get<double>(),
                     n = (*b)[3].get<double>();
        if (w >= -180 && e <= 180 && w < e && s >= -90 && n <= 90 && s < n) {
            out.west = w;
            out.south = s;
            out.east = e;
            out.north = n;
        }
    }
    return out;
}

std::string tilejson_path(const CatalogueEntry& entry, std::string_view root) {
    return normalise_root(root) + "/" + entry.own_folder() + "/tilejson.json";
}

std::shared_ptr<const TileJson> cached_tilejson(const CatalogueEntry& entry, std::string_view root) {
    if (entry.tilejson_url.empty()) return nullptr;
    {
        const std::lock_guard lock(g_tilejson_mutex);
        if (auto it = tilejsons().find(entry.tilejson_url); it != tilejsons().end()) return it->second;
    }
    const std::string path = tilejson_path(entry, root);
    if (!has_body(path)) return nullptr;
    std::string error;
    auto parsed = parse_tilejson(read_whole(path), error);
    if (!parsed) return nullptr;
    auto shared = std::make_shared<const TileJson>(std::move(*parsed));
    const std::lock_guard lock(g_tilejson_mutex);
    tilejsons()[entry.tilejson_url] = shared;
    return shared;
}

void forget_tilejson(const CatalogueEntry& entry) {
    const std::lock_guard lock(g_tilejson_mutex);
    tilejsons().erase(entry.tilejson_url);
}

bool tilejson_wanted(const CatalogueEntry& entry, std::string_view root, std::int64_t now) {
    if (entry.tilejson_url.empty()) return false;
    const std::string path = tilejson_path(entry, root);
    if (!has_body(path)) return true;
    const auto record = read_cache_record(path, kTileJsonFreshSeconds);
    return !record || now >= record->stale_at || !cached_tilejson(entry, root);
}

int raw_max_zoom(const CatalogueEntry& entry, std::string_view root) {
    if (const auto tj = cached_tilejson(entry, root)) return tj->max_zoom;
    return entry.tiles_max_zoom;
}

RawTileId raw_tile_for(const CatalogueEntry& entry, std::string_view root, int zoom, int x, int y) {
    const int deepest = raw_max_zoom(entry, root);
    if (zoom <= deepest) return {zoom, x, y};
    const int up = zoom - deepest;
    return {deepest, x >> up, y >> up};
}

std::string raw_tile_path(const CatalogueEntry& entry, const RawTileId& id, std::string_view root) {
    return normalise_root(root) + "/" + entry.own_folder() + "/raw/" + std::to_string(id.zoom) + "/" +
           std::to_string(id.x) + "/" + std::to_string(id.y) + ".tile";
}

std::optional<std::string> raw_tile_address(const CatalogueEntry& entry, const RawTileId& id, std::string_view root,
                                            std::string_view key) {
    if (!entry.archive_url.empty()) return std::nullopt;
    CatalogueEntry form = entry;
    if (!entry.tilejson_url.empty()) {
        const auto tj = cached_tilejson(entry, root);
        if (!tj || id.zoom < tj->min_zoom || id.zoom > tj->max_zoom) return std::nullopt;
        // Tiles wholly outside the bounds are not asked for.
        if (tile_lon(id.x + 1, id.zoom) <= tj->west || tile_lon(id.x, id.zoom) >= tj->east ||
            tile_lat(id.y, id.zoom) <= tj->south || tile_lat(id.y + 1, id.zoom) >= tj->north)
            return std::nullopt;
        form.tmpl = tj->tiles.front();
    }
    // The template is filled in at the raw tile's own zoom (a zoom code names it).
    if (id.zoom < 0 || id.zoom > kMaxWebZoom) return std::nullopt;
    return expand_template(form, zoom_code(id.zoom), id.y, id.x, key);
}

LocalTileRequest raw_cell_request(const CatalogueEntry& entry, std::string_view root, int zoom, int x, int y,
                                  int scale) {
    LocalTileRequest request;
    request.zoom = zoom;
    request.x = x;
    request.y = y;
    request.scale = scale;
    const RawTileId raw = raw_tile_for(entry, root, zoom, x, y);
    request.raw_tile = raw_tile_path(entry, raw, root);
    request.raw_zoom = raw.zoom;
    request.raw_x = raw.x;
    request.raw_y = raw.y;
    request.style_path = entry.style_path;
    request.night = vector_night_style();
    return request;
}

bool draw_cached_cell(const CatalogueEntry& entry, std::string_view root, int zoom, int x, int y,
                      const std::string& path, int scale) {
    const LocalTileRequest request = raw_cell_request(entry, root, zoom, x, y, scale);
    if (!has_body(request.raw_tile)) return false;
    create_tile_directories(std::filesystem::path(path).parent_path().string());
    return make_local_tile_file(request, path);
}

TileLoader::Policy raw_tile_policy(const FetchContext& ctx) {
    TileLoader::Policy p;
    p.host_connections = ctx.entry->conn;
    p.expected_type = "";  // application/x-protobuf, application/vnd.mapbox-vector-tile, octet-stream...
    p.proxy = ctx.settings.proxy;
    p.cafile = ctx.settings.cafile;
    p.user_agent = vorglobal_user_agent(ctx.settings.contact);
    p.health = ctx.health;
    p.source = ctx.entry->name;
    p.fresh_seconds = static_cast<std::int64_t>(ctx.entry->fresh_days) * 86400;
    p.now = ctx.now;
    p.limits = TransferLimits::tiles();
    return p;
}

bool refresh_tilejson_and_wait(const CatalogueEntry& entry, std::string_view root, Fetcher& fetcher,
                               const FetchContext& context) {
    if (entry.tilejson_url.empty()) return false;
    const std::int64_t now = clock_now(context);
    if (tilejson_wanted(entry, root, now) && !(context.health && context.health->paused(entry.name, now))) {
        FetchContext own = context;
        own.entry = &entry;
        TileLoader::Policy policy = raw_tile_policy(own);
        policy.fresh_seconds = kTileJsonFreshSeconds;
        const std::string path = tilejson_path(entry, root);
        create_tile_directories(std::filesystem::path(path).parent_path().string());
        const auto landed = fetch_tiles_and_wait(fetcher, {{path, entry.tilejson_url, -2}}, policy);
        if (!landed.empty() && landed.front().ok) forget_tilejson(entry);
    }
    return cached_tilejson(entry, root) != nullptr;
}

int read_archive_tiles_and_wait(const CatalogueEntry& entry, const std::vector<RawTileId>& ids, std::string_view root,
                                pmtiles::RemoteArchive& archive, const FetchContext& context) {
    if (entry.archive_url.empty() || ids.empty()) return 0;
    const std::int64_t now = clock_now(context);
    if (context.health && context.health->paused(entry.name, now)) return 0;
    FetchResult outcome;
    std::string error;
    if (!archive.open(error)) {
        outcome.outcome = FetchOutcome::transfer;
        outcome.cause = error;
        if (context.health) context.health->record(entry.name, outcome, entry.archive_url, now);
        return 0;
    }
    const Compression compression = archive.header().tile_compression;
    std::vector<pmtiles::RemoteArchive::TileKey> keys;
    for (const auto& id : ids)
        keys.push_back({id.zoom, static_cast<std::uint32_t>(id.x), static_cast<std::uint32_t>(id.y)});
    const auto reads = archive.tiles(keys);
    int landed = 0;
    outcome.outcome = FetchOutcome::ok;
    for (std::size_t i = 0; i < reads.size() && i < ids.size(); ++i) {
        if (reads[i].status == pmtiles::TileRead::Status::failed) {
            outcome.outcome = FetchOutcome::transfer;
            outcome.cause = reads[i].error;
            continue;
        }
        if (reads[i].status != pmtiles::TileRead::Status::ok || reads[i].bytes.empty()) continue;
        std::optional<std::vector<std::uint8_t>> plain;
        if (compression == Compression::none || compression == Compression::unknown) plain = reads[i].bytes;
        else plain = decompress(compression, reads[i].bytes, kMaxRawTileBytes, error);
        if (!plain || plain->empty()) continue;
        const std::string path = raw_tile_path(entry, ids[i], root);
        create_tile_directories(std::filesystem::path(path).parent_path().string());
        if (write_file_replacing(path, std::string_view(reinterpret_cast<const char*>(plain->data()), plain->size())))
            ++landed;
    }
    if (context.health) context.health->record(entry.name, outcome, entry.archive_url, now);
    return landed;
}

struct ArchiveTileWorker::Shared {
    Fetcher& fetcher;
    std::function<void()> notify;
    std::mutex mutex;
    std::condition_variable wake;
    bool stop = false;
    // The batch waiting to be read (under mutex).
    std::optional<CatalogueEntry> entry;
    std::vector<RawTileId> ids;
    std::string root;
    FetchContext context;
    std::size_t wanted = 0;  // tiles of the batch waiting and the one being read
    std::vector<Landed> landed;
};

ArchiveTileWorker::ArchiveTileWorker(Fetcher& fetcher, std::function<void()> notify)
    : shared_(std::make_shared<Shared>(fetcher, std::move(notify))) {
    thread_ = std::thread([shared = shared_] {
        std::unique_ptr<pmtiles::RemoteArchive> archive;
        std::string archive_url;
        std::unique_lock lock(shared->mutex);
        for (;;) {
            shared->wake.wait(lock, [&] { return shared->stop || shared->entry; });
            if (shared->stop) return;
            const CatalogueEntry entry = std::move(*shared->entry);
            shared->entry.reset();
            const std::vector<RawTileId> ids = std::move(shared->ids);
            const std::string root = shared->root;
            FetchContext context = shared->context;
            context.entry = &entry;
            lock.unlock();
            // One reader per archive while the worker lives, so that its directories are read once.
            if (!archive || archive_url != entry.archive_url) {
                archive_url = entry.archive_url;
                archive = std::make_unique<pmtiles::RemoteArchive>(shared->fetcher, archive_url,
                                                                   pmtiles::remote_policy(&entry, context.settings));
            }
            read_archive_tiles_and_wait(entry, ids, root, *archive, context);
            std::vector<Landed> done;
            for (const auto& id : ids) {
                const std::string path = raw_tile_path(entry, id, root);
                done.push_back({path, has_body(path)});
            }
            lock.lock();
            shared->wanted -= std::min(shared->wanted, ids.size());
            for (auto& d : done) shared->landed.push_back(std::move(d));
            if (shared->notify) shared->notify();
        }
    });
}

ArchiveTileWorker::~ArchiveTileWorker() {
    {
        const std::lock_guard lock(shared_->mutex);
        shared_->stop = true;
    }
    shared_->wake.notify_all();
    if (thread_.joinable()) thread_.join();
}

void ArchiveTileWorker::want(const CatalogueEntry& entry, std::vector<RawTileId> ids, std::string root,
                             const FetchContext& context) {
    {
        const std::lock_guard lock(shared_->mutex);
        if (shared_->entry) shared_->wanted -= std::min(shared_->wanted, shared_->ids.size());
        shared_->entry = entry;
        shared_->wanted += ids.size();
        shared_->ids = std::move(ids);
        shared_->root = std::move(root);
        shared_->context = context;
        shared_->context.entry = nullptr;
    }
    shared_->wake.notify_all();
}

std::vector<ArchiveTileWorker::Landed> ArchiveTileWorker::take_landed() {
    const std::lock_guard lock(shared_->mutex);
    return std::exchange(shared_->landed, {});
}

bool ArchiveTileWorker::has_landed() const {
    const std::lock_guard lock(shared_->mutex);
    return !shared_->landed.empty();
}

std::size_t ArchiveTileWorker::outstanding() const {
    const std::lock_guard lock(shared_->mutex);
    return shared_->wanted + shared_->landed.size();
}

namespace {

// Cells drawn here from raw tiles fetched into the cache.
class RemoteVectorKind final : public TileSourceKind {
public:
    const char* name() const override { return "remote-vector"; }
    // The raw tiles are fetched by the address of the cell's raw tile.
    std::optional<std::string> address(const CatalogueEntry&, const TileKey&, const FetchContext&) const override {
        return std::nullopt;  // the cells themselves are drawn; their raw tiles have the addresses
    }
    bool made_here(const CatalogueEntry&) const override { return false; }
    bool drawn_by_maker(const CatalogueEntry&) const override { return true; }
    bool uses_fetcher() const override { return true; }
    bool has_fine_tiles(const CatalogueEntry&) const override { return false; }
    bool make(const CatalogueEntry&, int, const TileKey&, const std::string&) const override { return false; }
    int fill(const std::vector<CatalogueCell>& cells, int level, std::string_view root, const CatalogueEntry& entry,
             const FetchContext& context) const override;
};

int RemoteVectorKind::fill(const std::vector<CatalogueCell>& cells, int level, std::string_view root,
                           const CatalogueEntry& entry, const FetchContext& context) const {
    std::unique_ptr<Fetcher> own;
    if (!context.fetcher) own = std::make_unique<Fetcher>();
    Fetcher& fetcher = context.fetcher ? *context.fetcher : *own;
    FetchContext ctx = context;
    ctx.entry = &entry;
    const std::int64_t now = clock_now(ctx);
    if (!entry.tilejson_url.empty()) refresh_tilejson_and_wait(entry, root, fetcher, ctx);
    const bool paused = ctx.health && ctx.health->paused(entry.name, now);

    struct Cell {
        std::string* slot;
        TileKey key;
        int zoom;
    };
    std::vector<Cell> to_draw;
    std::vector<TileLoader::Want> wants;
    std::vector<RawTileId> archive_ids;
    int failed = 0;
    for (const auto& cell : cells) {
        std::string& slot = *cell.slot;
        const TileKey key = catalogue_tile_key(entry, cell.x, cell.y, level);
        if (!entry.has_level(level) || !tile_in_world(key)) {
            slot.clear();
            ++failed;
            continue;
        }
        slot = catalogue_tile_paths(entry, key, root).full_path;
        if (slot.size() > kMaxTilePath) {
            slot.clear();
            ++failed;
            continue;
        }
        if (has_body(slot)) continue;  // drawn before
        const int zoom = entry.zoom_of(level);
        to_draw.push_back({&slot, key, zoom});
        const RawTileId raw = raw_tile_for(entry, root, zoom, key.column, key.row);
        const std::string raw_path = raw_tile_path(entry, raw, root);
        const bool asked = std::any_of(wants.begin(), wants.end(), [&](const auto& w) { return w.path == raw_path; }) ||
                           std::any_of(archive_ids.begin(), archive_ids.end(), [&](const RawTileId& r) {
                               return r.zoom == raw.zoom && r.x == raw.x && r.y == raw.y;
                           });
        if (has_body(raw_path) || asked || paused) continue;
        if (!entry.archive_url.empty()) {
            archive_ids.push_back(raw);
        } else if (const auto url = raw_tile_address(entry, raw, root, ctx.key)) {
            create_tile_directories(std::filesystem::path(raw_path).parent_path().string());
            wants.push_back({raw_path, *url, -1});
        }
    }
    if (!wants.empty()) fetch_tiles_and_wait(fetcher, wants, raw_tile_policy(ctx));
    if (!archive_ids.empty()) {
        pmtiles::RemoteArchive archive(fetcher, entry.archive_url, pmtiles::remote_policy(&entry, ctx.settings));
        read_archive_tiles_and_wait(entry, archive_ids, root, archive, ctx);
    }
    for (const Cell& c : to_draw) {
        if (!draw_cached_cell(entry, root, c.zoom, c.key.column, c.key.row, *c.slot)) {
            c.slot->clear();
            ++failed;
        }
    }
    return failed;
}

}  // namespace

const TileSourceKind& remote_vector_kind() {
    static const RemoteVectorKind kind;
    return kind;
}

}  // namespace vg
