// Fetching the tiles of a catalogue source through the fetcher, with the cache's freshness records.

#include <condition_variable>
#include <ctime>
#include <memory>
#include <mutex>
#include <set>

#include "platform/files.h"
#include "tiles/catalogue_fetch.h"
#include "tiles/http_cache.h"
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

FetchRequest tile_request(const FetchContext& ctx, const std::string& url, const std::string& file) {
    FetchRequest r;
    r.url = url;
    r.file = file;
    r.expected_type = ctx.entry->extension() == "jpg" ? "image/jpeg" : "image/png";
    r.host_connections = ctx.entry->conn;
    r.limits = TransferLimits::tiles();
    r.quiet = true;  // SourceHealth reports each situation once
    ctx.settings.apply_to(r);
    return r;
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
    FetchRequest r = tile_request(ctx, url, path);
    r.headers = revalidation_headers(record);
    r.priority = -1;  // after the tiles that are missing
    const std::int64_t fixed_now = ctx.now;
    const std::int64_t default_seconds = static_cast<std::int64_t>(ctx.entry->fresh_days) * 86400;
    auto health = ctx.health;
    const std::string name = ctx.entry->name;
    fetcher.submit(std::move(r), [=](Fetcher::RequestId, FetchResult&& result) {
        const std::int64_t now = fixed_now != 0 ? fixed_now : static_cast<std::int64_t>(std::time(nullptr));
        if (result.outcome == FetchOutcome::ok) {
            write_cache_record(path, cache_record(result.headers, now, default_seconds));
        } else if (result.outcome == FetchOutcome::not_modified) {
            CacheRecord renewed = cache_record(result.headers, now, default_seconds);
            if (renewed.etag.empty()) renewed.etag = record.etag;
            if (renewed.last_modified.empty()) renewed.last_modified = record.last_modified;
            write_cache_record(path, renewed);
        }
        if (health) health->record(name, result, url, now);
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

    struct Wait {
        std::mutex mutex;
        std::condition_variable done;
        std::size_t left = 0;
    };
    auto wait = std::make_shared<Wait>();
    struct Job {
        std::string* slot;
        std::string path;
        std::string url;
        FetchResult result;
    };
    std::vector<std::unique_ptr<Job>> jobs;
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
        jobs.push_back(std::make_unique<Job>(Job{&slot, paths.full_path, *url, {}}));
    }

    wait->left = jobs.size();
    std::vector<Fetcher::RequestId> ids;
    for (auto& job : jobs) {
        FetchRequest r = tile_request(ctx, job->url, job->path);
        r.priority = 1;
        Job* j = job.get();
        ids.push_back(fetcher.submit(std::move(r), [wait, j](Fetcher::RequestId, FetchResult&& result) {
            std::lock_guard lock(wait->mutex);
            j->result = std::move(result);
            if (--wait->left == 0) wait->done.notify_all();
        }));
    }
    if (!jobs.empty()) {
        // Each transfer ends within its own deadline once started; at most `conn` run at a time.
        const auto limits = TransferLimits::tiles();
        const auto rounds = static_cast<long>(jobs.size() / static_cast<std::size_t>(std::max(1, entry.conn)) + 1);
        const auto bound = (limits.total + limits.connect) * rounds + std::chrono::seconds(5);
        std::unique_lock lock(wait->mutex);
        if (!wait->done.wait_for(lock, bound, [&] { return wait->left == 0; })) {
            lock.unlock();
            for (auto id : ids) fetcher.cancel(id);
            lock.lock();
            wait->done.wait(lock, [&] { return wait->left == 0; });  // cancelling always completes
        }
    }
    for (auto& job : jobs) {
        note(ctx, job->result, job->url, now);
        if (job->result.ok() && has_body(job->path)) {
            write_cache_record(job->path, cache_record(job->result.headers, now, default_seconds));
        } else {
            job->slot->clear();
            ++failed;
        }
    }
    return failed;
}

}  // namespace vg
