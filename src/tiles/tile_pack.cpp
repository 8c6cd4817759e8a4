#include "tiles/tile_pack.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>

#include "tiles/mbtiles.h"
#include "tiles/pmtiles_file.h"

namespace vg {
namespace {

bool ends_with(const std::string& text, const char* tail) {
    const std::string t(tail);
    return text.size() >= t.size() && text.compare(text.size() - t.size(), t.size(), t) == 0;
}

std::string json_text(const nlohmann::json& doc, const char* key) {
    const auto it = doc.find(key);
    return it != doc.end() && it->is_string() ? it->get<std::string>() : std::string();
}

}  // namespace

TilePack::~TilePack() = default;

std::unique_ptr<TilePack> TilePack::open(const std::string& path, std::string& error) {
    std::unique_ptr<TilePack> pack(new TilePack);
    pack->path_ = path;
    pack->name_ = std::filesystem::path(path).stem().string();
    if (ends_with(path, ".pmtiles")) {
        pack->pmtiles_ = pmtiles::Archive::open_file(path, error);
        if (!pack->pmtiles_) return nullptr;
        const pmtiles::Header& h = pack->pmtiles_->header();
        switch (h.tile_type) {
        case pmtiles::TileType::mvt: pack->format_ = "pbf"; break;
        case pmtiles::TileType::png: pack->format_ = "png"; break;
        case pmtiles::TileType::jpeg: pack->format_ = "jpg"; break;
        default:
            error = "\"" + path + "\": " + pmtiles::tile_type_name(h.tile_type) + " tiles are not supported";
            return nullptr;
        }
        pack->min_zoom_ = h.min_zoom;
        pack->max_zoom_ = h.max_zoom;
        std::string meta_error;
        if (const auto meta = pack->pmtiles_->metadata(meta_error)) {
            const nlohmann::json doc = nlohmann::json::parse(meta->begin(), meta->end(), nullptr, false);
            if (doc.is_object()) {
                if (const std::string n = json_text(doc, "name"); !n.empty()) pack->name_ = n;
                pack->attribution_ = json_text(doc, "attribution");
            }
            if (const auto layers = parse_vector_layers(*meta, meta_error))
                for (const auto& l : *layers) pack->layers_.push_back(l.id);
        }
        return pack;
    }
    pack->mbtiles_ = MbtilesPack::open(path, error, true);
    if (!pack->mbtiles_) return nullptr;
    const PackInfo& info = pack->mbtiles_->info();
    if (!info.name.empty()) pack->name_ = info.name;
    pack->format_ = info.format;
    pack->attribution_ = info.attribution;
    if (info.min_zoom >= 0) pack->min_zoom_ = info.min_zoom;
    if (info.max_zoom >= 0) pack->max_zoom_ = info.max_zoom;
    for (const auto& l : info.vector_layers) pack->layers_.push_back(l.id);
    return pack;
}

std::optional<std::vector<std::uint8_t>> TilePack::tile(int z, int x, int y) const {
    if (pmtiles_) return pmtiles_->tile(z, x, y);
    const std::lock_guard lock(mutex_);
    auto bytes = mbtiles_->read_tile(z, x, y);
    if (bytes && bytes->empty()) return std::nullopt;
    return bytes;
}

std::optional<std::vector<std::pair<int, int>>> TilePack::tiles_at(int z) const {
    if (!pmtiles_) {
        const std::lock_guard lock(mutex_);
        return mbtiles_->tile_columns_rows(z);
    }
    const auto first = pmtiles::tile_id(z, 0, 0);
    if (!first) return std::vector<std::pair<int, int>>{};
    const std::uint64_t begin = *first, end = begin + (std::uint64_t{1} << (2 * z));
    std::vector<std::pair<int, int>> out;
    std::string error;
    // Directories nest at most pmtiles::kMaxLeafDepth deep; runs are clipped to the zoom's ids.
    const auto walk = [&](const auto& self, const pmtiles::Directory& dir, int depth) -> bool {
        for (std::size_t i = 0; i < dir.size(); ++i) {
            const pmtiles::Entry& e = dir[i];
            if (e.run_length == 0) {
                const std::uint64_t next = i + 1 < dir.size() ? dir[i + 1].tile_id : UINT64_MAX;
                if (next <= begin || e.tile_id >= end) continue;
                if (depth >= pmtiles::kMaxLeafDepth) return false;
                const auto leaf = pmtiles_->leaf(e.offset, e.length, error);
                if (!leaf || !self(self, *leaf, depth + 1)) return false;
                continue;
            }
            const std::uint64_t lo = std::max(e.tile_id, begin);
            const std::uint64_t hi = std::min(e.tile_id + e.run_length, end);
            for (std::uint64_t id = lo; id < hi; ++id)
                if (const auto a = pmtiles::tile_address(id))
                    out.emplace_back(static_cast<int>(a->x), static_cast<int>(a->y));
        }
        return true;
    };
    if (!walk(walk, pmtiles_->root(), 0)) return std::nullopt;
    return out;
}

std::shared_ptr<const TilePack> open_tile_pack_shared(const std::string& path, std::string& error) {
    static std::mutex mutex;
    static std::map<std::string, std::shared_ptr<const TilePack>> table;
    const std::lock_guard lock(mutex);
    if (auto it = table.find(path); it != table.end()) return it->second;
    std::shared_ptr<const TilePack> pack = TilePack::open(path, error);
    if (pack) table.emplace(path, pack);
    return pack;
}

}  // namespace vg
