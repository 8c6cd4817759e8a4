#include "search/pack_search.h"

#include <algorithm>
#include <system_error>

#include "geo/geodesy.h"
#include "tiles/tile_pack.h"

namespace vg::search {

std::vector<std::string> vector_packs(const std::filesystem::path& folder) {
    std::vector<std::string> out;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const auto& p = it->path();
        if ((p.extension() == ".mbtiles" || p.extension() == ".pmtiles") && it->is_regular_file(ec))
            out.push_back(p.string());
    }
    std::sort(out.begin(), out.end());
    std::vector<std::string> vector;
    for (const std::string& p : out) {
        std::string error;
        if (const auto pack = open_tile_pack_shared(p, error); pack && pack->is_vector()) vector.push_back(p);
    }
    return vector;
}

int ensure_pack_indexes(const std::filesystem::path& folder, const PackProgress& progress,
                        const std::atomic<bool>* cancel, std::vector<std::string>& problems) {
    int made = 0;
    for (const std::string& path : vector_packs(folder)) {
        const std::string index = index_path_for(path);
        if (index_is_current(path, index)) continue;
        std::string error;
        const auto pack = open_tile_pack_shared(path, error);
        const std::string name = std::filesystem::path(path).filename().string();
        const bool ok = pack && build_pack_index(*pack, index, [&](std::size_t done, std::size_t total) {
            if (progress) progress(name, done, total);
            return !(cancel && cancel->load());
        }, error);
        if (ok) ++made;
        else problems.push_back(error);
        if (cancel && cancel->load()) break;
    }
    return made;
}

FolderIndexes::FolderIndexes(const std::filesystem::path& folder) {
    for (const std::string& path : vector_packs(folder)) {
        std::string error;
        if (auto index = PlaceIndex::open(index_path_for(path), error))
            indexes_.emplace_back(std::filesystem::path(path).filename().string(), std::move(index));
    }
}

std::vector<Result> FolderIndexes::search(std::string_view text, std::optional<LatLon> from,
                                          std::size_t limit) const {
    std::vector<Result> out;
    if (const auto at = parse_coordinates(text)) {
        Result r;
        r.place.name = std::string(text);
        r.place.kind = "coordinates";
        r.place.lat = at->lat;
        r.place.lon = at->lon;
        r.score = -1;
        if (from) r.distance_m = geo::distance_m(from->lat, from->lon, at->lat, at->lon);
        out.push_back(std::move(r));
    }
    for (const auto& [pack, index] : indexes_) {
        for (Result& r : index->search(text, from, limit)) {
            r.pack = pack;
            out.push_back(std::move(r));
        }
    }
    std::stable_sort(out.begin(), out.end(), [](const Result& a, const Result& b) { return a.score < b.score; });
    if (out.size() > limit) out.resize(limit);
    return out;
}

std::vector<Result> search_folder(const std::filesystem::path& folder, std::string_view text,
                                  std::optional<LatLon> from, std::size_t limit) {
    return FolderIndexes(folder).search(text, from, limit);
}

}  // namespace vg::search
