#include "tiles/elevation.h"

#include <chrono>
#include <cmath>
#include <filesystem>
#include <limits>
#include <map>
#include <mutex>
#include <numbers>
#include <system_error>
#include <unordered_map>

#include "platform/diagnostics.h"
#include "platform/mapped_file.h"
#include "tiles/hgt.h"
#include "tiles/image_decode.h"
#include "tiles/tile_catalogue.h"
#include "tiles/tile_naming.h"

namespace vg {

bool sample_web_tile(const ElevationModel& model, int z, std::uint32_t x, std::uint32_t y, int size,
                     std::vector<float>& out) {
    const double world = 256.0 * std::ldexp(1.0, z) * size / 256.0;  // pixels of this size per world
    const auto lon_of = [&](double px) { return px / world * 360.0 - 180.0; };
    const auto lat_of = [&](double py) {
        const double n = std::numbers::pi * (1.0 - 2.0 * py / world);
        return std::atan(std::sinh(n)) * 180.0 / std::numbers::pi;
    };
    const double x0 = double(x) * size, y0 = double(y) * size;
    if (!model.covers(lat_of(y0 + size + 1), lon_of(x0 - 1), lat_of(y0 - 1), lon_of(x0 + size + 1))) return false;
    const int n = size + 2;
    out.assign(std::size_t(n) * n, std::numeric_limits<float>::quiet_NaN());
    bool any = false;
    for (int r = 0; r < n; ++r) {
        const double lat = lat_of(y0 + r - 1 + 0.5);
        for (int c = 0; c < n; ++c) {
            if (const auto h = model.elevation(lat, lon_of(x0 + c - 1 + 0.5))) {
                out[std::size_t(r) * n + c] = float(*h);
                any = true;
            }
        }
    }
    return any;
}

namespace {

namespace fs = std::filesystem;

double wrapped_longitude(double lon) {
    lon = std::fmod(lon, 360.0);
    if (lon >= 180.0) lon -= 360.0;
    if (lon < -180.0) lon += 360.0;
    return lon;
}

// The .hgt files of one folder, each mapped into memory when first needed; past kHgtMappedFiles the
// least recently used mapping ends (samplers that hold its tile keep it until they are done).
class HgtFolder final : public ElevationModel {
public:
    explicit HgtFolder(std::map<std::pair<int, int>, fs::path> files) : files_(std::move(files)) {}

    std::optional<double> elevation(double lat, double lon) const override {
        const auto cell = hgt_cell_of(lat, lon);
        if (!cell) return std::nullopt;
        const auto tile = load(*cell);
        if (!tile) return std::nullopt;
        return tile->elevation(lat, wrapped_longitude(lon));
    }

    bool covers(double south, double west, double north, double east) const override {
        for (const auto& [cell, path] : files_)
            if (cell.first <= north && cell.first + 1 >= south && cell.second <= east && cell.second + 1 >= west)
                return true;
        return false;
    }

    std::optional<ElevationAt> elevation_at(double lat, double lon) const override {
        const auto h = elevation(lat, lon);
        return h ? std::optional<ElevationAt>(ElevationAt{*h, "hgt"}) : std::nullopt;
    }

private:
    struct Slot {
        std::shared_ptr<const HgtTile> tile;
        bool failed = false;  // the file could not be used (said once)
        std::uint64_t used = 0;
    };

    std::shared_ptr<const HgtTile> load(HgtCell cell) const {
        const auto file = files_.find({cell.south, cell.west});
        if (file == files_.end()) return nullptr;
        const std::lock_guard lock(mutex_);
        auto& slot = slots_[{cell.south, cell.west}];
        slot.used = ++clock_;
        if (slot.tile || slot.failed) return slot.tile;
        std::string why;
        slot.tile = open(file->second, cell, why);
        if (!slot.tile) {
            slot.failed = true;
            report("Elevation: " + file->second.string() + ": " + why);
            return nullptr;
        }
        std::size_t open_files = 0;
        for (const auto& [c, s] : slots_) open_files += s.tile ? 1 : 0;
        if (open_files > kHgtMappedFiles) {
            auto oldest = slots_.end();
            for (auto it = slots_.begin(); it != slots_.end(); ++it)
                if (it->second.tile && (oldest == slots_.end() || it->second.used < oldest->second.used)) oldest = it;
            oldest->second.tile.reset();
        }
        return slot.tile;
    }

    static std::shared_ptr<const HgtTile> open(const fs::path& path, HgtCell cell, std::string& why) {
        std::shared_ptr<const MappedFile> mapped = MappedFile::open(path, &why);
        if (!mapped) return nullptr;
        auto tile = HgtTile::from_bytes({mapped->data(), mapped->size()}, cell, &why, mapped);
        return tile ? std::make_shared<const HgtTile>(std::move(*tile)) : nullptr;
    }

    std::map<std::pair<int, int>, fs::path> files_;
    mutable std::mutex mutex_;
    mutable std::map<std::pair<int, int>, Slot> slots_;
    mutable std::uint64_t clock_ = 0;
};

// The cached tiles of an elevation source, finest zoom first. What is known of each tile (decoded,
// or missing when last looked for) is kept by an integer key, so that a sample in a known tile takes
// one lock and a few lookups; the disk is looked at, outside the lock, only for tiles not known.
class DemTiles final : public ElevationModel {
public:
    DemTiles(std::string root, CatalogueEntry entry) : root_(std::move(root)), entry_(std::move(entry)) {
        for (int z = entry_.max_zoom(); z >= 0; --z)
            if (entry_.has_level(zoom_code(z))) zooms_.push_back(z);
    }

    std::optional<double> elevation(double lat, double lon) const override {
        if (!std::isfinite(lat) || !std::isfinite(lon) || std::abs(lat) > kMercatorLimit) return std::nullopt;
        const double sx = (wrapped_longitude(lon) + 180.0) / 360.0;
        const double phi = lat * std::numbers::pi / 180.0;
        const double sy = (1.0 - std::log(std::tan(phi) + 1.0 / std::cos(phi)) / std::numbers::pi) / 2.0;
        struct Place {
            int z, row, column;
            double tx, ty;
        };
        std::vector<Place> unknown;  // finer than the finest tile known to be there, finest first
        const auto now = std::chrono::steady_clock::now();
        {
            const std::lock_guard lock(mutex_);
            for (int z : zooms_) {
                const double tiles = std::ldexp(1.0, z);
                const double tx = sx * tiles, ty = std::clamp(sy * tiles, 0.0, tiles - 1e-9);
                const Place place{z, static_cast<int>(ty), std::min(static_cast<int>(tx), static_cast<int>(tiles) - 1), tx, ty};
                const auto it = slots_.find(key_of(place.z, place.row, place.column));
                if (it == slots_.end() || (!it->second.grid && now - it->second.looked >= kLookAgain)) {
                    unknown.push_back(place);
                } else if (it->second.grid) {
                    it->second.used = ++clock_;
                    if (unknown.empty()) return sample(*it->second.grid, place.tx, place.ty, place.row, place.column);
                    break;  // finer tiles to look for first; this one is the fallback
                }
            }
        }
        for (const Place& place : unknown)
            if (const auto grid = look_for(place.z, place.row, place.column, now))
                return sample(*grid, place.tx, place.ty, place.row, place.column);
        // None of the unknown ones is there: the finest known tile, if any.
        const std::lock_guard lock(mutex_);
        for (int z : zooms_) {
            const double tiles = std::ldexp(1.0, z);
            const double tx = sx * tiles, ty = std::clamp(sy * tiles, 0.0, tiles - 1e-9);
            const int row = static_cast<int>(ty), column = std::min(static_cast<int>(tx), static_cast<int>(tiles) - 1);
            const auto it = slots_.find(key_of(z, row, column));
            if (it != slots_.end() && it->second.grid) return sample(*it->second.grid, tx, ty, row, column);
        }
        return std::nullopt;
    }

    bool covers(double south, double, double north, double) const override {
        return north >= -kMercatorLimit && south <= kMercatorLimit;  // what is cached is known only per tile
    }

    std::optional<ElevationAt> elevation_at(double lat, double lon) const override {
        const auto h = elevation(lat, lon);
        return h ? std::optional<ElevationAt>(ElevationAt{*h, "dem"}) : std::nullopt;
    }

    void look_again() const override {
        const std::lock_guard lock(mutex_);
        for (auto it = slots_.begin(); it != slots_.end();) it = it->second.grid ? std::next(it) : slots_.erase(it);
    }

private:
    struct Grid {
        int width = 0;
        int height = 0;
        std::vector<float> heights;
    };
    struct Slot {
        std::shared_ptr<const Grid> grid;  // null: not cached when last looked for
        std::chrono::steady_clock::time_point looked;
        std::uint64_t used = 0;
    };
    static constexpr auto kLookAgain = std::chrono::seconds(1);

    static std::uint64_t key_of(int z, int row, int column) {
        return std::uint64_t(z) << 50 | std::uint64_t(std::uint32_t(row)) << 25 | std::uint32_t(column);
    }

    // Bilinear between pixel centres of tile (row, column), (tx, ty) in tiles of its zoom; the edge
    // pixels hold beyond their centres.
    static double sample(const Grid& g, double tx, double ty, int row, int column) {
        const double x = std::clamp((tx - column) * g.width - 0.5, 0.0, g.width - 1.0);
        const double y = std::clamp((ty - row) * g.height - 0.5, 0.0, g.height - 1.0);
        const int x0 = std::min(static_cast<int>(x), std::max(0, g.width - 2));
        const int y0 = std::min(static_cast<int>(y), std::max(0, g.height - 2));
        const int x1 = std::min(x0 + 1, g.width - 1), y1 = std::min(y0 + 1, g.height - 1);
        const double dx = x - x0, dy = y - y0;
        const auto at = [&](int c, int r) { return double(g.heights[std::size_t(r) * g.width + c]); };
        return (1 - dy) * ((1 - dx) * at(x0, y0) + dx * at(x1, y0)) + dy * ((1 - dx) * at(x0, y1) + dx * at(x1, y1));
    }

    // Reads tile (z, row, column) from the cache when it is there, and records what was found.
    std::shared_ptr<const Grid> look_for(int z, int row, int column, std::chrono::steady_clock::time_point now) const {
        const TileKey key{entry_.geometry(), false, zoom_code(z), row, column};
        const std::string path = catalogue_tile_paths(entry_, key, root_).full_path;
        std::shared_ptr<const Grid> grid;
        std::error_code ec;
        RgbImage image;
        if (fs::is_regular_file(path, ec) && load_png(path, image) && image.width > 0 && image.height > 0) {
            auto g = std::make_shared<Grid>();
            g->width = image.width;
            g->height = image.height;
            g->heights = dem_heights(image, entry_.dem);
            if (g->heights.size() == std::size_t(g->width) * std::size_t(g->height)) grid = std::move(g);
        }
        const std::lock_guard lock(mutex_);
        auto& slot = slots_[key_of(z, row, column)];
        slot.grid = grid;
        slot.looked = now;
        slot.used = ++clock_;
        // Past the bound the least recently used decoded tile goes; missing marks are small and go
        // when the table grows past eight times the bound.
        std::size_t decoded = 0;
        for (const auto& [k, v] : slots_) decoded += v.grid ? 1 : 0;
        while (decoded > kDemTileCacheTiles) {
            auto oldest = slots_.end();
            for (auto it = slots_.begin(); it != slots_.end(); ++it)
                if (it->second.grid && (oldest == slots_.end() || it->second.used < oldest->second.used)) oldest = it;
            slots_.erase(oldest);
            --decoded;
        }
        if (slots_.size() > 8 * kDemTileCacheTiles)
            for (auto it = slots_.begin(); it != slots_.end();) it = it->second.grid ? std::next(it) : slots_.erase(it);
        return grid;
    }

    std::string root_;
    CatalogueEntry entry_;
    std::vector<int> zooms_;  // the source's zooms, finest first
    mutable std::mutex mutex_;
    mutable std::unordered_map<std::uint64_t, Slot> slots_;
    mutable std::uint64_t clock_ = 0;
};

// The .hgt files first, then the elevation tiles.
class Combined final : public ElevationModel {
public:
    explicit Combined(std::vector<std::unique_ptr<ElevationModel>> models) : models_(std::move(models)) {}

    std::optional<double> elevation(double lat, double lon) const override {
        const auto h = elevation_at(lat, lon);
        return h ? std::optional<double>(h->metres) : std::nullopt;
    }
    bool covers(double south, double west, double north, double east) const override {
        for (const auto& m : models_)
            if (m->covers(south, west, north, east)) return true;
        return false;
    }
    std::optional<ElevationAt> elevation_at(double lat, double lon) const override {
        for (const auto& m : models_)
            if (auto h = m->elevation_at(lat, lon)) return h;
        return std::nullopt;
    }
    void look_again() const override {
        for (const auto& m : models_) m->look_again();
    }

private:
    std::vector<std::unique_ptr<ElevationModel>> models_;
};

std::map<std::pair<int, int>, fs::path> hgt_files(const std::string& root) {
    std::map<std::pair<int, int>, fs::path> files;
    std::error_code ec;
    for (fs::directory_iterator it(fs::path(root) / "dem", ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        if (const auto cell = parse_hgt_name(it->path().filename().string()))
            files.emplace(std::pair{cell->south, cell->west}, it->path());
    }
    return files;
}

}  // namespace

double dem_pixel_height(DemEncoding encoding, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    if (encoding == DemEncoding::terrain_rgb) return -10000.0 + (r * 65536.0 + g * 256.0 + b) * 0.1;
    return r * 256.0 + g + b / 256.0 - 32768.0;
}

std::vector<float> dem_heights(const RgbImage& image, DemEncoding encoding) {
    const std::size_t n = std::min(image.pixels.size() / 3, std::size_t(image.width) * std::size_t(image.height));
    std::vector<float> heights(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t* p = &image.pixels[3 * i];
        heights[i] = static_cast<float>(dem_pixel_height(encoding, p[0], p[1], p[2]));
    }
    return heights;
}

std::shared_ptr<const ElevationModel> elevation_for(const std::string& root_text, const CatalogueEntry* dem_source) {
    static std::mutex mutex;
    static std::map<std::string, std::weak_ptr<const ElevationModel>> models;
    const std::string root = normalise_root(root_text);
    const bool dem = dem_source && dem_source->is_dem();
    std::string key = root;
    if (dem) key += '\n' + dem_source->name + '\n' + dem_source->tmpl + '\n' + std::to_string(int(dem_source->dem));
    const std::lock_guard lock(mutex);
    if (const auto it = models.find(key); it != models.end())
        if (auto held = it->second.lock()) return held;
    std::vector<std::unique_ptr<ElevationModel>> parts;
    if (auto files = hgt_files(root); !files.empty()) parts.push_back(std::make_unique<HgtFolder>(std::move(files)));
    if (dem) parts.push_back(std::make_unique<DemTiles>(root, *dem_source));
    std::shared_ptr<const ElevationModel> model;
    if (parts.size() == 1) model = std::shared_ptr<const ElevationModel>(std::move(parts.front()));
    else if (!parts.empty()) model = std::make_shared<Combined>(std::move(parts));
    std::erase_if(models, [](const auto& entry) { return entry.second.expired(); });
    if (model) models[key] = model;
    return model;
}

}  // namespace vg
