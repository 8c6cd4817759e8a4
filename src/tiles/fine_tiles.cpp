#include "tiles/fine_tiles.h"

#include <filesystem>

#include "tiles/image_decode.h"
#include "tiles/local_source.h"
#include "tiles/remote_vector.h"

namespace vg {
namespace {

bool drawn_here(const CatalogueEntry& e) {
    return has_local_tile_maker() &&
           (e.kind == SourceKind::local || e.kind == SourceKind::vector || e.kind == SourceKind::remote_vector ||
            e.original == MapSource::Etopo2);
}

bool is_cached(const std::string& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    return !ec && size > 0;
}

// A drawn picture is always PNG, whatever the source's own tiles are (Etopo2's are GIF).
std::string as_png(std::string path) {
    const auto dot = path.rfind('.');
    if (dot != std::string::npos && path.find('/', dot) == std::string::npos) path.erase(dot);
    return path + ".png";
}

bool make_drawn(const CatalogueEntry& entry, const TileKey& key, std::string_view root, const std::string& path) {
    // A remote vector source's raw tile must be cached already: nothing is fetched here.
    if (entry.kind == SourceKind::remote_vector)
        return draw_cached_cell(entry, root, entry.zoom_of(key.level), key.column, key.row, path, 2);
    if (entry.kind == SourceKind::vector)
        return make_local_tile_file(vector_tile_request(entry, entry.zoom_of(key.level), key.column, key.row, 2), path);
    LocalTileRequest request;
    request.scale = 2;
    if (entry.original == MapSource::Etopo2) {
        request.relief = true;
    } else {
        request.zoom = entry.zoom_of(key.level);
    }
    request.x = key.column;
    request.y = key.row;
    return make_local_tile_file(request, path);
}

// True when the tile file is a 512-pixel picture (a pack made for screens of twice the density).
bool is_whole_cell_picture(const std::string& path) {
    RgbImage image;
    const bool jpeg = path.size() >= 4 && path.compare(path.size() - 4, 4, ".jpg") == 0;
    return (jpeg ? load_jpeg(path, image) : load_png(path, image)) && image.width == kFineCellSize &&
           image.height == kFineCellSize;
}

bool copy_pack_quarter(const CatalogueEntry& entry, const TileKey& key, int quarter, const std::string& path) {
    const int zoom = entry.zoom_of(key.level);
    if (zoom >= 30) return false;
    return copy_pack_file_tile(entry.pack_path, zoom + 1, 2 * key.column + quarter % 2, 2 * key.row + quarter / 2,
                                 path);
}

}  // namespace

FineOrigin fine_origin(const CatalogueEntry& entry, int level) {
    if (!entry.has_level(level)) return FineOrigin::none;
    if (drawn_here(entry) || entry.kind == SourceKind::pack) return FineOrigin::made_here;
    if (entry.uses_fetcher() && !rows_run_north(entry.geometry())) return FineOrigin::fetched;
    return FineOrigin::none;
}

std::vector<std::pair<int, std::string>> fine_tile_files(const CatalogueEntry& entry, const TileKey& key,
                                                         std::string_view root, bool make) {
    std::vector<std::pair<int, std::string>> files;
    const FineOrigin origin = fine_origin(entry, key.level);
    if (origin == FineOrigin::none || !tile_in_world(key)) return files;
    if (origin == FineOrigin::fetched) {
        if (entry.offers_fine_tiles()) {
            files.emplace_back(-1, fine_tile_path(entry, key, root, -1));
        } else {
            for (int q = 0; q < 4; ++q) files.emplace_back(q, fine_tile_path(entry, key, root, q));
        }
        return files;
    }
    if (drawn_here(entry)) {
        std::string path = as_png(fine_tile_path(entry, key, root, -1));
        if (!is_cached(path)) {
            if (!make) return files;
            create_tile_directories(std::filesystem::path(path).parent_path().string());
            if (!make_drawn(entry, key, root, path)) return files;
        }
        files.emplace_back(-1, std::move(path));
        return files;
    }
    // A pack of 512-pixel tiles: its own tile is the whole sharp cell.
    std::string whole = fine_tile_path(entry, key, root, -1);
    if (!is_cached(whole) && make && is_whole_cell_picture(catalogue_tile_paths(entry, key, root).full_path)) {
        create_tile_directories(std::filesystem::path(whole).parent_path().string());
        const int zoom = entry.zoom_of(key.level);
        copy_pack_file_tile(entry.pack_path, zoom, key.column, key.row, whole);
    }
    if (is_cached(whole)) {
        files.emplace_back(-1, std::move(whole));
        return files;
    }
    for (int q = 0; q < 4; ++q) {
        std::string path = fine_tile_path(entry, key, root, q);
        if (!is_cached(path)) {
            if (!make) continue;
            create_tile_directories(std::filesystem::path(path).parent_path().string());
            if (!copy_pack_quarter(entry, key, q, path)) continue;
        }
        files.emplace_back(q, std::move(path));
    }
    return files;
}

}  // namespace vg
