// Fetching the tiles of a catalogue source through the fetcher, with the cache's freshness records.

#include <ctime>
#include <memory>
#include <mutex>
#include <set>

#include "platform/files.h"
#include "tiles/catalogue_fetch.h"
#include "tiles/http_cache.h"
#include "tiles/source_kind.h"
#include "tiles/tile_loader.h"
#include "tiles/tile_naming.h"

namespace vg {
namespace {

std::mutex g_revalidating_mutex;
std::set<std::string> g_revalidating;  // tile paths whose revalidation runs

std::int64_t clock_now(const FetchContext& ctx) {
    return ctx.now != 0 ? ctx.now : static_cast<std::int64_t>(std::time(nullptr));
}

bool has_body(const std::string& path) {
    return regular_size(path) > 0;
}

// How the entry's tiles are fetched: its connections, picture type and freshness, the proxy, extra
// certificates and contact of vor_ini.txt, every transfer recorded in the context's health.
TileLoader::Policy tile_policy(const FetchContext& ctx) {
    TileLoader::Policy p;
    p.host_connections = ctx.entry->conn;
    p.expected_type = ctx.entry->extension() == "jpg" ? "image/jpeg" : "image/png";
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

void note(const FetchContext& ctx, const FetchResult& result, const std::string& url, std::int64_t now) {
    if (ctx.health) ctx.health->record(ctx.entry->name, result, url, now);
}

// Revalidates a stale cached tile in the background; the tile stays in use meanwhile. A 200 replaces
// it (renamed into place whole), a 304 renews only its freshness record.
void revalidate(const FetchContext& ctx, Fetcher& fetcher, const std::string& path, const std::string& url,
                const CacheRecord& record) {
    {
        std::lock_guard lock(g_revalidating_mutex);
        if (!g_revalidating.insert(path).second) return;
    }
    const TileLoader::Policy policy = tile_policy(ctx);
    FetchRequest r = TileLoader::request_of({path, url, 0}, policy);
    r.headers = revalidation_headers(record);
    r.priority = -1;  // after the tiles that are missing
    fetcher.submit(std::move(r), [=](Fetcher::RequestId, FetchResult&& result) {
        land_tile(path, url, result, policy, &record);
        std::lock_guard lock(g_revalidating_mutex);
        g_revalidating.erase(path);
    });
}

}  // namespace

std::size_t revalidations_in_flight() {
    std::lock_guard lock(g_revalidating_mutex);
    return g_revalidating.size();
}

void revalidate_catalogue_tiles(const std::vector<CatalogueCell>& cells, int level, std::string_view root,
                                const FetchContext& ctx) {
    const CatalogueEntry& entry = *ctx.entry;
    const std::int64_t now = clock_now(ctx);
    if (!ctx.fetcher || !entry.has_level(level) || (ctx.health && ctx.health->paused(entry.name, now))) return;
    Fetcher& fetcher = *ctx.fetcher;
    const std::int64_t default_seconds = static_cast<std::int64_t>(entry.fresh_days) * 86400;
    for (const auto& cell : cells) {
        const TileKey key = catalogue_tile_key(entry, cell.x, cell.y, level);
        if (!tile_in_world(key)) continue;
        const std::string path = catalogue_tile_paths(entry, key, root).full_path;
        if (path.size() > kMaxTilePath || !has_body(path)) continue;
        const auto url = expand_template(entry, level, key.row, key.column, ctx.key);
        if (!url) continue;
        const auto record = read_cache_record(path, default_seconds);
        if (record && now >= record->stale_at) revalidate(ctx, fetcher, path, *url, *record);
    }
}

int fetch_catalogue_tiles(const std::vector<CatalogueCell>& cells, int level, std::string_view root,
                          const FetchContext& ctx) {
    const CatalogueEntry& entry = *ctx.entry;
    // Without the program's engine the missing tiles go through one of their own for this call, and
    // stale ones are not revalidated (nothing would outlive the call to carry it).
    std::unique_ptr<Fetcher> own;
    if (!ctx.fetcher) own = std::make_unique<Fetcher>();
    Fetcher& fetcher = ctx.fetcher ? *ctx.fetcher : *own;
    const std::int64_t now = clock_now(ctx);
    const std::int64_t default_seconds = static_cast<std::int64_t>(entry.fresh_days) * 86400;

    std::vector<TileLoader::Want> wants;
    std::vector<std::string*> slots;  // the slot of each want
    int failed = 0;

    for (const auto& cell : cells) {
        std::string& slot = *cell.slot;
        const TileKey key = catalogue_tile_key(entry, cell.x, cell.y, level);
        if (!entry.has_level(level) || !tile_in_world(key)) {
            slot.clear();
            ++failed;
            continue;
        }
        const TilePaths paths = catalogue_tile_paths(entry, key, root);
        if (paths.full_path.size() > kMaxTilePath) {
            slot.clear();
            ++failed;
            continue;
        }
        slot = paths.full_path;
        const auto url = expand_template(entry, level, key.row, key.column, ctx.key);
        if (!url) {
            // Only a missing key stops a template whose tile lies in the world.
            FetchResult missing;
            missing.outcome = FetchOutcome::bad_request;
            missing.cause = "no key_" + entry.name + " line in vor_ini.txt";
            note(ctx, missing, entry.tmpl, now);
            if (!has_body(slot)) {
                slot.clear();
                ++failed;
            }
            continue;
        }
        if (has_body(slot)) {
            const auto record = read_cache_record(slot, default_seconds);
            if (ctx.fetcher && record && now >= record->stale_at && !(ctx.health && ctx.health->paused(entry.name, now)))
                revalidate(ctx, fetcher, slot, *url, *record);
            continue;  // a cached tile is drawn at once, fresh or not
        }
        if (ctx.health && ctx.health->paused(entry.name, now)) {
            slot.clear();
            ++failed;
            continue;
        }
        create_tile_directories(paths.directory);
        wants.push_back({paths.full_path, *url, -1});  // ahead of the revalidations
        slots.push_back(&slot);
    }

    TileLoader::Policy policy = tile_policy(ctx);
    policy.now = now;  // every tile of the call is recorded at the call's time
    const std::vector<TileLoader::Landed> landed = fetch_tiles_and_wait(fetcher, wants, policy);
    for (std::size_t i = 0; i < landed.size(); ++i) {
        if (!landed[i].ok) {
            slots[i]->clear();
            ++failed;
        }
    }
    return failed;
}

namespace {

// A catalogue template fetched through the fetcher, with the entry's policy.
class RemoteKind final : public TileSourceKind {
public:
    const char* name() const override { return "remote"; }
    std::optional<std::string> address(const CatalogueEntry& entry, const TileKey& key, const FetchContext& context) const override {
        return expand_template(entry, key.level, key.row, key.column, context.key);
    }
    bool made_here(const CatalogueEntry&) const override { return false; }
    bool drawn_by_maker(const CatalogueEntry&) const override { return false; }
    bool uses_fetcher() const override { return true; }
    // Rows that count northwards (an entry keeping such an original's geometry) have no next web zoom.
    bool has_fine_tiles(const CatalogueEntry& entry) const override { return !rows_run_north(entry.geometry()); }
    bool make(const CatalogueEntry&, int, const TileKey&, const std::string&) const override { return false; }
    int fill(const std::vector<CatalogueCell>& cells, int level, std::string_view root, const CatalogueEntry& entry,
             const FetchContext& context) const override {
        if (!source_has_level(entry.geometry(), level)) return static_cast<int>(cells.size());
        if (context.entry == &entry) return fetch_catalogue_tiles(cells, level, root, context);
        FetchContext own = context;
        own.entry = &entry;
        return fetch_catalogue_tiles(cells, level, root, own);
    }
};

}  // namespace

const TileSourceKind& remote_kind() {
    static const RemoteKind kind;
    return kind;
}

}  // namespace vg
