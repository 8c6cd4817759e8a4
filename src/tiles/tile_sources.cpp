#include "tiles/tile_sources.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/files.h"
#include "tiles/catalogue_fetch.h"
#include "tiles/local_source.h"
#include "tiles/geometry.h"
#include "tiles/gif_codec.h"
#include "tiles/image_decode.h"
#include "tiles/source_kind.h"

namespace vg {
namespace {

// The public hosts of the services. Every address is "http://" + host + path and query.
const TileHosts kDefaultHosts = {
    "www.ngdc.noaa.gov",
    "tile.openstreetmap.org",
    "mt0.google.com",
    "khm0.google.com",
    {"r0.ortho.tiles.virtualearth.net", "r1.ortho.tiles.virtualearth.net", "r2.ortho.tiles.virtualearth.net",
     "r3.ortho.tiles.virtualearth.net"},
    {"a0.ortho.tiles.virtualearth.net", "a1.ortho.tiles.virtualearth.net", "a2.ortho.tiles.virtualearth.net",
     "a3.ortho.tiles.virtualearth.net"},
    "tile21.mqcdn.com",
};

constexpr const char* kMapQuestScale[kLevelCount] = {"29337258", "1504475", "154950", "18000", "2500"};

std::string format(const char* pattern, auto... args) {
    char buffer[512];
    const int n = std::snprintf(buffer, sizeof buffer, pattern, args...);
    return n < 0 ? std::string() : std::string(buffer, static_cast<std::size_t>(std::min<int>(n, sizeof buffer - 1)));
}

// Size of a regular file, or -1 when there is none.
long long regular_file_size(const std::string& path) { return regular_size(std::filesystem::path(path)); }

bool is_cached(const std::string& path) { return regular_file_size(path) > 0; }


// Writes `bytes` to a temporary file beside `path` and renames it over `path`, so that a tile file
// is either complete or absent.
bool write_file_whole(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    return write_file_replacing(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// Cuts a decoded Etopo2 image into its four level-0 tiles in `directory`. Image rows run southwards
// while Etopo2 tile rows count northwards, so the top half is the upper tile row 2·y2 + 1.
void cut_etopo2_image(const RgbImage& image, int y2, int x2, const std::string& directory) {
    const int qw = image.width / 2;
    const int qh = image.height / 2;
    if (qw <= 0 || qh <= 0) return;
    RgbImage quarter;
    quarter.width = qw;
    quarter.height = qh;
    std::vector<std::uint8_t> encoded;
    for (int half = 0; half < 2; ++half) {
        for (int side = 0; side < 2; ++side) {
            quarter.pixels.assign(static_cast<std::size_t>(qw) * qh * 3, 255);
            for (int r = 0; r < qh; ++r) {
                const std::size_t from = (static_cast<std::size_t>(half * qh + r) * image.width + side * qw) * 3;
                std::copy_n(image.pixels.begin() + static_cast<std::ptrdiff_t>(from), static_cast<std::size_t>(qw) * 3,
                            quarter.pixels.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(r) * qw * 3));
            }
            const TileKey key{MapSource::Etopo2, false, 0, 2 * y2 + (half == 0 ? 1 : 0), 2 * x2 + side};
            if (gif_write(quarter, encoded)) write_file_whole(directory + kPathSeparator + tile_file_name(key), encoded);
        }
    }
}

bool fetch_etopo2(const TileKey& key, const TilePaths& paths, const TileHosts& hosts, HttpOptions http) {
    if (!http.max_body) http.max_body = kEtopo2BodyLimit;
    const int y2 = key.row / 2;
    const int x2 = key.column / 2;
    const std::string image_path = paths.directory + kPathSeparator + etopo2_image_name(y2, x2);
    if (!http_get_file(etopo2_image_address(y2, x2, hosts), image_path, http)) {
        remove_file(image_path);
        return false;
    }
    RgbImage image;
    if (!load_jpeg(image_path, image) ||
        image.pixels.size() != static_cast<std::size_t>(image.width) * image.height * 3) {
        // Not a picture: drop it so that the next view fetches it again.
        remove_file(image_path);
        return false;
    }
    cut_etopo2_image(image, y2, x2, paths.directory);
    return is_cached(paths.full_path);
}

}  // namespace

const TileHosts& default_tile_hosts() { return kDefaultHosts; }

TileVersionTexts current_version_texts(const TileVersions* versions) {
    if (!versions) return {};
    return {std::string(versions->google_aerial.get()), std::string(versions->virtual_earth_road.get()),
            std::string(versions->virtual_earth_aerial.get())};
}

const char* mapquest_scale_text(int level) { return kMapQuestScale[is_valid_level(level) ? level : 0]; }

std::optional<std::string> tile_address(const TileKey& key, const TileHosts& hosts, const TileVersionTexts& versions) {
    if (!has_scale(key.source, key.level)) return std::nullopt;
    const int z = web_zoom(key.level);
    switch (key.source) {
        case MapSource::Etopo2:
            return std::nullopt;
        case MapSource::OpenStreetMap:
            return "http://" + hosts.openstreetmap + format("/%d/%d/%d.png", z, key.column, key.row);
        case MapSource::GoogleMaps:
            if (key.aerial)
                return "http://" + hosts.google_aerial +
                       format("/kh/v=%s&x=%d&y=%d&z=%d", versions.google_aerial.c_str(), key.column, key.row, z);
            return "http://" + hosts.google_map + format("/vt/x=%d&y=%d&z=%d", key.column, key.row, z);
        case MapSource::VirtualEarth: {
            const auto quadkey = make_quadkey(key.level, key.column * kTileSize, key.row * kTileSize);
            if (!quadkey) return std::nullopt;
            const auto server = static_cast<std::size_t>(quadkey->back() - '0');
            if (key.aerial)
                return "http://" + hosts.virtual_earth_aerial[server] +
                       format("/tiles/a%s.jpg?g=%s", quadkey->c_str(), versions.virtual_earth_aerial.c_str());
            return "http://" + hosts.virtual_earth_road[server] +
                   format("/tiles/r%s.png?g=%s", quadkey->c_str(), versions.virtual_earth_road.c_str());
        }
        case MapSource::MapQuest:
            return "http://" + hosts.mapquest +
                   format(key.aerial ? "/sat/Scale%s/%d/%d/%d/%d.jpg" : "/map/Scale%s/%d/%d/%d/%d.gif",
                          mapquest_scale_text(key.level), key.row / 1000, key.row % 1000, key.column / 1000,
                          key.column % 1000);
    }
    return std::nullopt;
}

std::string etopo2_image_address(int y2, int x2, const TileHosts& hosts) {
    return "http://" + hosts.etopo2 +
           format("/mgg/image/2minsurface/512/%02d%c%03d%c.jpg", std::abs(45 * y2 - 45), y2 < 1 ? 'S' : 'N',
                  std::abs(45 * x2 - 180), x2 < 4 ? 'W' : 'E');
}

std::string etopo2_image_name(int y2, int x2) {
    return format("etopo_%02o0000_%02o0000.jpg", static_cast<unsigned>(y2), static_cast<unsigned>(x2));
}

namespace {

// The original sources on their plain-http forms, one tile after the other with the own client;
// Etopo2's cells cut out of its images, or drawn here when a program can draw.
class OriginalKind final : public TileSourceKind {
public:
    const char* name() const override { return "original"; }
    std::optional<std::string> address(const CatalogueEntry&, const TileKey& key, const FetchContext& context) const override {
        return tile_address(key, context.hosts ? *context.hosts : default_tile_hosts(), current_version_texts(context.versions));
    }
    bool made_here(const CatalogueEntry& entry) const override {
        return drawn_by_maker(entry) && has_local_tile_maker();
    }
    bool drawn_by_maker(const CatalogueEntry& entry) const override { return entry.geometry() == MapSource::Etopo2; }
    bool uses_fetcher() const override { return false; }
    bool has_fine_tiles(const CatalogueEntry&) const override { return false; }
    bool make(const CatalogueEntry& entry, int, const TileKey& key, const std::string& path) const override {
        return made_here(entry) && make_local_tile_file(drawn_tile_request(true, 0, key.column, key.row), path);
    }
    int fill(const std::vector<CatalogueCell>& cells, int level, std::string_view root, const CatalogueEntry& entry,
             const FetchContext& context) const override {
        int failed = 0;
        for (const auto& cell : cells)
            if (!fetch(*cell.slot, cell.x, cell.y, level, root, entry, context)) ++failed;
        return failed;
    }

private:
    bool fetch(std::string& slot, int x, int y, int level, std::string_view root, const CatalogueEntry& entry,
               const FetchContext& context) const {
        const MapSource source = entry.geometry();
        if (!source_has_level(source, level)) return false;
        const TileKey key = catalogue_tile_key(entry, x, y, level);
        const TilePaths paths = cached_at(entry, key, root);
        if (!tile_in_world(key) || paths.full_path.size() > kMaxTilePath) {
            slot.clear();
            return false;
        }
        slot = paths.full_path;
        if (is_cached(slot)) return true;

        create_tile_directories(paths.directory);
        if (made_here(entry)) return make(entry, 0, key, slot) ? true : (slot.clear(), false);
        const TileHosts& hosts = context.hosts ? *context.hosts : default_tile_hosts();
        if (source == MapSource::Etopo2) return fetch_etopo2(key, paths, hosts, context.http);

        const auto url = address(entry, key, context);
        if (!url) return false;
        HttpOptions http = context.http;
        if (!http.max_body) http.max_body = kTileBodyLimit;
        if (!http_get_file(*url, slot, http)) {
            remove_file(slot);
            return false;
        }
        const long long size = regular_file_size(slot);
        // An empty body is no tile, and MapQuest answers a missing tile with a placeholder picture.
        if (size <= 0 || (source == MapSource::MapQuest && size == kMapQuestNoTileSize)) {
            remove_file(slot);
            return false;
        }
        return true;
    }
};

// The entry the call is about: the context's, else the source's original plain-http form.
const CatalogueEntry& entry_of(const FetchContext& context, MapSource source, bool aerial) {
    return context.entry ? *context.entry : original_form(source, aerial);
}

}  // namespace

const TileSourceKind& original_kind() {
    static const OriginalKind kind;
    return kind;
}

bool fetch_tile(std::string& slot, int x, int y, int level, MapSource source, std::string_view root, bool aerial,
                const FetchContext& context) {
    const CatalogueEntry& entry = entry_of(context, source, aerial);
    return tile_source_kind(entry).fill({{&slot, x, y}}, level, root, entry, context) == 0;
}

bool fetch_view_tiles(TilePathTable& table, int centre_x, int centre_y, int level, MapSource source,
                      std::string_view root, bool aerial, bool big_maps, const FetchContext& context) {
    return fetch_view_tiles(table, centre_x, centre_y, level, source, root, aerial, view_grid_of(big_maps), context);
}

bool fetch_view_tiles(TilePathTable& table, int centre_x, int centre_y, int level, MapSource source,
                      std::string_view root, bool aerial, const ViewGrid& grid, const FetchContext& context) {
    const CatalogueEntry& entry = entry_of(context, source, aerial);
    if (!source_has_level(source, level) || !entry.has_level(level)) return false;
    table.fit(grid);
    std::vector<CatalogueCell> cells;
    for (int r = 0; r < grid.rows; ++r) {
        for (int c = 0; c < grid.columns; ++c) {
            const WorldPixel p = view_cell_pixel(source, centre_x, centre_y, grid, r, c);
            cells.push_back({&table.slots[static_cast<std::size_t>(r * grid.columns + c)], p.x, p.y});
        }
    }
    if (tile_source_kind(entry).fill(cells, level, root, entry, context) > 0)
        for (const auto& cell : cells)
            if (!cell.slot->empty() && !is_cached(*cell.slot)) cell.slot->clear();
    return true;
}

}  // namespace vg
