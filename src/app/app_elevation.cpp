// App: heights under the pointer, and the elevation source's tiles of the view asked for in the
// background.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "app/app.h"
#include "app/view_text.h"
#include "tiles/geometry.h"
#include "tiles/tile_catalogue.h"
#include "tiles/tile_naming.h"

namespace vg {
namespace {

// At most this many elevation tiles are asked for a view; a larger view takes a coarser zoom.
constexpr int kMostDemTiles = 64;

}  // namespace

std::string App::pointer_ground_text() const {
    if (!elevation_ || !ws_ || !ws_->map_coordinates || view_.pointer.x == kNoPointer) return {};
    const MapSource src = source();
    const auto h = elevation_->elevation(pixel_to_latitude(view_.pointer.y, src, view_.level),
                                         pixel_to_longitude(view_.pointer.x, src, view_.level));
    return h ? ground_text(*h, ws_->speed_unit) : std::string();
}

void App::request_dem_tiles() {
    const CatalogueEntry* dem = catalogue_.elevation_source();
    if (!dem || !dem_loader_ || !ws_ || !ws_->online.load() || health_->paused(dem->name, now())) return;
    const MapSource src = source();
    const int level = view_.level;
    const std::string asked = std::to_string(level) + ":" + std::to_string(view_.centre_x) + ":" +
                              std::to_string(view_.centre_y) + ":" + std::to_string(view_.map_width) + "x" +
                              std::to_string(view_.map_height);
    if (asked == dem_asked_) return;
    dem_asked_ = asked;
    const double north = pixel_to_latitude(view_.centre_y - view_.map_height / 2, src, level);
    const double south = pixel_to_latitude(view_.centre_y + view_.map_height / 2, src, level);
    const double west = pixel_to_longitude(view_.centre_x - view_.map_width / 2, src, level);
    const double east = pixel_to_longitude(view_.centre_x + view_.map_width / 2, src, level);
    // The view's zoom, or the finest the source has below it, coarser still while the view would
    // take too many tiles.
    int z = std::min(web_zoom(level), dem->max_zoom());
    int rows = 0, columns = 0;
    for (; z >= 0; --z) {
        if (!dem->has_level(zoom_code(z))) continue;
        const int n = 1 << z;
        rows = web_tile_row(south, z) - web_tile_row(north, z) + 1;
        columns = (web_tile_column(east, z) - web_tile_column(west, z) + n) % n + 1;
        if (rows * columns <= kMostDemTiles) break;
    }
    if (z < 0) return;
    const int n = 1 << z, row0 = web_tile_row(north, z), column0 = web_tile_column(west, z);
    const std::string root = maps_root();
    const std::string key = read_source_key(dir_, dem->name);
    std::vector<TileLoader::Want> wants;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            const TileKey tile{dem->geometry(), false, zoom_code(z), row0 + r, (column0 + c) % n};
            const std::string path = catalogue_tile_paths(*dem, tile, root).full_path;
            std::error_code ec;
            if (path.size() > kMaxTilePath || std::filesystem::exists(path, ec)) continue;
            const auto url = expand_template(*dem, tile.level, tile.row, tile.column, key);
            if (!url) continue;
            wants.push_back({path, *url, std::abs(2 * r - rows + 1) + std::abs(2 * c - columns + 1)});
        }
    }
    const FetchSettings settings = read_fetch_settings(dir_);
    TileLoader::Policy policy;
    policy.host_connections = dem->conn;
    policy.proxy = settings.proxy;
    policy.cafile = settings.cafile;
    policy.expected_type = "image/png";
    policy.health = health_;
    policy.source = dem->name;
    policy.fresh_seconds = static_cast<std::int64_t>(dem->fresh_days) * 86400;
    dem_loader_->want(std::move(wants), policy);
}

}  // namespace vg
