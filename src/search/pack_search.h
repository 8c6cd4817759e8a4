// Searching the vector packs of a packs folder: each pack's place index (place_index.h) is made when
// missing or stale, then every index is asked and the results merged by score.
// Threads: the functions may run on any thread (the window runs ensure_pack_indexes on a worker of
// its own); two processes building the same index each write their own temporary file, the last
// rename wins and both files are whole.
// Failure: a pack that cannot be read or indexed is skipped and named in `problems`; nothing throws.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "search/place_index.h"

namespace vg::search {

// The vector packs (*.mbtiles, *.pmtiles of vector tiles) of `folder`, sorted by name.
std::vector<std::string> vector_packs(const std::filesystem::path& folder);

// Progress of making the indexes: the pack being indexed (its file name), its tiles done and in all.
using PackProgress = std::function<void(const std::string& pack, std::size_t done, std::size_t total)>;

// Makes the index of every vector pack of `folder` that has none or a stale one; `cancel` set
// stops between tiles. Returns the number made; each failure is appended to `problems`.
int ensure_pack_indexes(const std::filesystem::path& folder, const PackProgress& progress,
                        const std::atomic<bool>* cancel, std::vector<std::string>& problems);

// The indexes of a folder's vector packs (those made), opened once for many searches: the window's
// search-as-you-type asks them at every key. One thread at a time (SQLite connections).
class FolderIndexes {
public:
    explicit FolderIndexes(const std::filesystem::path& folder);
    // The best `limit` results for `text`: coordinates typed in it first (kind "coordinates"), then
    // names of every index by score, each naming its pack.
    std::vector<Result> search(std::string_view text, std::optional<LatLon> from, std::size_t limit) const;
    std::size_t size() const { return indexes_.size(); }

private:
    std::vector<std::pair<std::string, std::unique_ptr<PlaceIndex>>> indexes_;  // (pack file name, index)
};

// FolderIndexes(folder).search(...): the indexes opened for one search (none is made here).
std::vector<Result> search_folder(const std::filesystem::path& folder, std::string_view text,
                                  std::optional<LatLon> from, std::size_t limit);

}  // namespace vg::search
