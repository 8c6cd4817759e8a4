#include "tiles/tile_cache.h"

#include <cstdio>

#include "platform/files.h"
#include "tiles/geometry.h"
#include "tiles/source_kind.h"
#include "tiles/tile_naming.h"

namespace vg {
namespace {

bool source_has_level(MapSource source, int level, const CatalogueEntry* entry) {
    return vg::source_has_level(source, level) && (!entry || entry->has_level(level));
}

// The path of the tile holding (x, y), or an empty text when it has none (row outside the world, or
// a path longer than a slot holds).
std::string cached_tile_path(int x, int y, int level, MapSource source, std::string_view root, bool aerial,
                             const CatalogueEntry* entry) {
    const CatalogueEntry& e = entry ? *entry : original_form(source, aerial);
    const TileKey key = catalogue_tile_key(e, x, y, level);
    if (!tile_in_world(key)) return {};
    std::string path = tile_source_kind(e).cached_at(e, key, root).full_path;
    if (path.size() > kMaxTilePath) return {};
    return path;
}

// Opens an existing file for reading, without waiting (a FIFO of a tile's name opens at once and is
// then no regular file); closes it when the object goes.
class ReadHandle {
public:
    explicit ReadHandle(const std::string& path) : fd_(open_file(path, O_RDONLY | O_NONBLOCK)) {}
    ~ReadHandle() {
        if (fd_ >= 0) close_file(fd_);
    }
    ReadHandle(const ReadHandle&) = delete;
    ReadHandle& operator=(const ReadHandle&) = delete;
    bool is_open() const { return fd_ >= 0; }
    // Size of a regular file; -1 for anything else (a directory of that name is no tile).
    long long regular_size() const { return vg::regular_size(fd_); }

private:
    int fd_;
};

}  // namespace

bool find_tile(std::string& slot, int x, int y, int level, MapSource source, std::string_view root, bool aerial,
               const CatalogueEntry* entry) {
    if (!source_has_level(source, level, entry)) return false;
    slot = cached_tile_path(x, y, level, source, root, aerial, entry);
    if (slot.empty()) return false;
    const ReadHandle file(slot);
    if (!file.is_open()) return false;
    return file.regular_size() > 0;
}

bool find_view_tiles(TilePathTable& table, int centre_x, int centre_y, int level, MapSource source,
                     std::string_view root, bool aerial, bool big_maps, const CatalogueEntry* entry) {
    return find_view_tiles(table, centre_x, centre_y, level, source, root, aerial, view_grid_of(big_maps), entry);
}

bool find_view_tiles(TilePathTable& table, int centre_x, int centre_y, int level, MapSource source,
                     std::string_view root, bool aerial, const ViewGrid& grid, const CatalogueEntry* entry) {
    if (!source_has_level(source, level, entry)) return false;
    table.fit(grid);
    for (int r = 0; r < grid.rows; ++r) {
        for (int c = 0; c < grid.columns; ++c) {
            std::string& slot = table.slots[static_cast<std::size_t>(r * grid.columns + c)];
            const WorldPixel p = view_cell_pixel(source, centre_x, centre_y, grid, r, c);
            if (!find_tile(slot, p.x, p.y, level, source, root, aerial, entry)) slot.clear();
        }
    }
    return true;
}

bool delete_tile(std::string& slot, int x, int y, int level, MapSource source, std::string_view root, bool aerial,
                 const CatalogueEntry* entry) {
    if (source == MapSource::Etopo2 || !has_scale(source, level)) return false;
    slot = cached_tile_path(x, y, level, source, root, aerial, entry);
    if (slot.empty()) return false;
    {
        const ReadHandle file(slot);
        if (!file.is_open() || file.regular_size() < 0) return false;
    }
    remove_file(slot + ".meta");  // its freshness record goes with it
    return remove_file(slot);
}

bool delete_view_tiles(TilePathTable& table, int centre_x, int centre_y, int level, MapSource source,
                       std::string_view root, bool aerial, bool big_maps, const CatalogueEntry* entry) {
    return delete_view_tiles(table, centre_x, centre_y, level, source, root, aerial, view_grid_of(big_maps), entry);
}

bool delete_view_tiles(TilePathTable& table, int centre_x, int centre_y, int level, MapSource source,
                       std::string_view root, bool aerial, const ViewGrid& grid, const CatalogueEntry* entry) {
    if (source == MapSource::Etopo2 || !has_scale(source, level)) return false;
    table.fit(grid);
    for (int r = 0; r < grid.rows; ++r) {
        for (int c = 0; c < grid.columns; ++c) {
            const WorldPixel p = view_cell_pixel(source, centre_x, centre_y, grid, r, c);
            delete_tile(table.slots[static_cast<std::size_t>(r * grid.columns + c)], p.x, p.y, level, source, root,
                        aerial, entry);
        }
    }
    return true;
}

}  // namespace vg
