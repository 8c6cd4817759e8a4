#include "tiles/cache_sweep.h"

#include <algorithm>
#include <climits>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

#include "platform/files.h"
#include "tiles/tile_versions.h"
#include "tiles/local_source.h"
#include "tiles/tile_naming.h"

namespace vg {

namespace {

bool starts_with(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// Tile files ("vor_..."), Etopo2's downloaded images ("etopo_...") and their ".meta" records.
bool cache_file(std::string_view name) { return starts_with(name, "vor_") || starts_with(name, "etopo_"); }

// vor_set.txt, vor_ini.txt, vor_pos.txt and the other settings files, and the connection check's file.
bool settings_file(std::string_view name) { return starts_with(name, "vor_") || name == kProbeFile; }

bool pack_file(std::string_view name) {
    constexpr std::string_view kExtension = ".mbtiles";
    return name.size() > kExtension.size() && name.substr(name.size() - kExtension.size()) == kExtension;
}

// One folder of each source, and its "@2x" folder, once: an aerial layer's folder lies inside its map
// layer's.
std::vector<std::string> source_folders(const Catalogue& catalogue) {
    std::vector<std::string> folders;
    for (const auto& e : catalogue.entries) {
        const std::string folder = e.cache_folder();
        const std::string top = folder.substr(0, folder.find('/'));
        folders.push_back(top);
        folders.push_back(top + "@2x");
    }
    std::sort(folders.begin(), folders.end());
    folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
    return folders;
}

bool ends_with(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// A tile's file: "vor_..." or "etopo_..." with a picture's extension.
bool tile_file(std::string_view name) {
    return (starts_with(name, "vor_") || starts_with(name, "etopo_")) &&
           (ends_with(name, ".png") || ends_with(name, ".gif") || ends_with(name, ".jpg"));
}

constexpr std::string_view kRecordSuffix = ".meta";

// One tile of the cache with its record, or a record whose tile is gone.
struct CacheItem {
    std::filesystem::path tile;  // empty for a lone record
    std::filesystem::path record;
    std::int64_t time = 0;  // the newer of the two files' modification times, in the clock's ticks
    std::uint64_t bytes = 0;
};

// The item a directory entry begins, if any: a tile, or a record without its tile.
std::optional<CacheItem> item_of(const std::filesystem::directory_entry& entry) {
    std::error_code ec;
    if (!entry.is_regular_file(ec) || entry.is_symlink(ec)) return std::nullopt;
    const std::string name = entry.path().filename().string();
    CacheItem item;
    if (tile_file(name)) {
        item.tile = entry.path();
        item.record = entry.path();
        item.record += kRecordSuffix;
    } else if (ends_with(name, kRecordSuffix) &&
               tile_file(std::string_view(name).substr(0, name.size() - kRecordSuffix.size()))) {
        item.record = entry.path();
        std::filesystem::path tile = entry.path();
        tile.replace_filename(name.substr(0, name.size() - kRecordSuffix.size()));
        if (std::filesystem::exists(std::filesystem::symlink_status(tile, ec)))
            return std::nullopt;  // counted with it
    } else {
        return std::nullopt;
    }
    bool any = false;
    for (const std::filesystem::path* p : {&item.tile, &item.record}) {
        if (p->empty()) continue;
        const auto status = std::filesystem::symlink_status(*p, ec);
        if (ec || !std::filesystem::is_regular_file(status)) continue;
        const auto size = std::filesystem::file_size(*p, ec);
        if (ec) continue;
        const auto time = std::filesystem::last_write_time(*p, ec);
        if (ec) continue;
        item.bytes += size;
        item.time = std::max<std::int64_t>(any ? item.time : INT64_MIN, time.time_since_epoch().count());
        any = true;
    }
    if (!any) return std::nullopt;
    return item;
}

// Calls `visit` with each item of `folders`; false when `stop` ended the walk.
template <typename Visit>
bool for_each_item(const std::vector<std::filesystem::path>& folders, const std::atomic<bool>* stop,
                   Visit&& visit) {
    for (const auto& folder : folders) {
        std::error_code ec;
        std::filesystem::recursive_directory_iterator it(
            folder, std::filesystem::directory_options::skip_permission_denied, ec);
        for (; !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            if (stop && stop->load(std::memory_order_relaxed)) return false;
            if (const auto item = item_of(*it)) visit(*item);
        }
    }
    return true;
}

std::string with_thousands(std::uint64_t n) {
    std::string digits = std::to_string(n);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(static_cast<std::size_t>(at), ",");
    return digits;
}

std::string megabytes(std::uint64_t bytes) {
    return with_thousands((bytes + kCacheMegabyte / 2) / kCacheMegabyte) + " MB";
}

}  // namespace

std::vector<std::filesystem::path> tile_cache_folders(const Catalogue& catalogue, std::string_view root) {
    std::vector<std::filesystem::path> out;
    const std::string base = normalise_root(root);
    if (base.empty()) return out;
    const std::filesystem::path packs = packs_folder(base);
    for (const auto& folder : source_folders(catalogue)) {
        const std::filesystem::path path = std::filesystem::path(base) / folder;
        if (path.lexically_normal() != packs.lexically_normal()) out.push_back(path);
    }
    return out;
}

CacheTrim trim_cache(const std::vector<std::filesystem::path>& folders, std::uint64_t limit_bytes,
                     const std::atomic<bool>* stop) {
    CacheTrim trim;
    // First walk: the age and size of every item, nothing else.
    std::vector<std::pair<std::int64_t, std::uint64_t>> items;
    trim.stopped = !for_each_item(folders, stop, [&](const CacheItem& item) {
        items.emplace_back(item.time, item.bytes);
        trim.bytes += item.bytes;
    });
    trim.tiles = items.size();
    if (trim.stopped || limit_bytes == 0 || trim.bytes <= limit_bytes) return trim;
    // The oldest items whose removal brings the total to 90 % of the limit: all older than `cutoff`
    // and the first `at_cutoff` of those exactly as old.
    const std::uint64_t target = limit_bytes / 10 * 9 + limit_bytes % 10 * 9 / 10;
    std::sort(items.begin(), items.end());
    std::uint64_t left = trim.bytes;
    std::int64_t cutoff = 0;
    std::uint64_t at_cutoff = 0;
    for (const auto& [time, bytes] : items) {
        if (left <= target) break;
        if (time != cutoff) at_cutoff = 0;
        cutoff = time;
        ++at_cutoff;
        left -= bytes;
    }
    items = {};
    // Second walk: those go, each tile before its record.
    trim.stopped = !for_each_item(folders, stop, [&](const CacheItem& item) {
        if (item.time > cutoff || (item.time == cutoff && at_cutoff == 0)) return;
        if (item.time == cutoff) --at_cutoff;
        if (!item.tile.empty() && !remove_file(item.tile)) return;
        remove_file(item.record);
        ++trim.tiles_removed;
        trim.bytes_freed += item.bytes;
    });
    return trim;
}

std::string cache_trim_text(const CacheTrim& trim, std::uint64_t limit_bytes) {
    std::string text;
    if (trim.tiles_removed > 0)
        text = "Removed " + with_thousands(trim.tiles_removed) +
               (trim.tiles_removed == 1 ? " tile, " : " tiles, ") + megabytes(trim.bytes_freed);
    else if (limit_bytes == 0)
        text = "No size limit: nothing removed (the cache holds " + megabytes(trim.bytes) + ")";
    else
        text =
            "Nothing to remove: the cache holds " + megabytes(trim.bytes) + " of " + megabytes(limit_bytes);
    if (trim.stopped) text += " (stopped early)";
    return text;
}

std::vector<SweepPlace> temporary_file_places(const Catalogue& catalogue, std::string_view root,
                                              const std::filesystem::path& settings_dir) {
    std::vector<SweepPlace> places;
    places.push_back(
        {settings_dir.empty() ? std::filesystem::path(".") : settings_dir, false, false, settings_file});
    const std::string base = normalise_root(root);
    if (base.empty()) return places;
    places.push_back({packs_folder(base), false, true, pack_file});
    for (const auto& folder : source_folders(catalogue))
        places.push_back({std::filesystem::path(base) / folder, true, true, cache_file});
    return places;
}

}  // namespace vg
