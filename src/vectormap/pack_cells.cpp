#include "vectormap/pack_cells.h"

#include <deque>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <tuple>

#include "platform/diagnostics.h"
#include "tiles/tile_pack.h"
#include "vectormap/render.h"

namespace vg::vmap {
namespace {

// Style files as read, by path (null: unusable, the built-in style is used).
const Style* style_file(const std::string& path) {
    static std::mutex mutex;
    static std::map<std::string, std::unique_ptr<Style>> styles;
    const std::lock_guard lock(mutex);
    if (auto it = styles.find(path); it != styles.end()) return it->second.get();
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string error = in ? std::string() : "cannot be read";
    std::optional<Style> style = error.empty() ? Style::parse(text, error) : std::nullopt;
    if (!style) report("style \"" + path + "\": " + error + "; the built-in style is used", DiagnosticStream::Error);
    auto& slot = styles[path];
    if (style) slot = std::make_unique<Style>(std::move(*style));
    return slot.get();
}

// The last decoded tiles, by pack and tile.
using TileKeyOf = std::tuple<std::string, int, int, int>;
std::shared_ptr<const mvt::Tile> decoded_tile(const TilePack& pack, const TileId& id) {
    static std::mutex mutex;
    static std::deque<std::pair<TileKeyOf, std::shared_ptr<const mvt::Tile>>> recent;
    const TileKeyOf key{pack.path(), id.zoom, id.x, id.y};
    {
        const std::lock_guard lock(mutex);
        for (const auto& [k, tile] : recent)
            if (k == key) return tile;
    }
    const auto bytes = pack.tile(id.zoom, id.x, id.y);
    if (!bytes) return nullptr;
    std::string error;
    auto tile = mvt::decode(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()), error);
    if (!tile) return nullptr;
    auto shared = std::make_shared<const mvt::Tile>(std::move(*tile));
    const std::lock_guard lock(mutex);
    recent.emplace_front(key, shared);
    if (recent.size() > 8) recent.pop_back();
    return shared;
}

}  // namespace

QImage draw_pack_cell(const LocalTileRequest& request) {
    std::string error;
    const auto pack = open_tile_pack_shared(request.vector_pack, error);
    if (!pack || !pack->is_vector()) return {};
    const TileId cell{request.zoom, request.x, request.y};
    // The cell's own tile, or past the pack's zooms its ancestor at the deepest: a pack covers the
    // cells it has that tile for (a coarser ancestor would draw a cell the pack does not cover).
    const auto source = source_tile_for(cell, pack->max_zoom());
    if (!source || request.zoom < pack->min_zoom()) return {};
    const auto tile = decoded_tile(*pack, *source);
    if (!tile) return {};
    const Style* style = request.style_path.empty() ? nullptr : style_file(request.style_path);
    const Style& chosen = style ? *style : Style::builtin(detect_schema(pack->layer_names()), request.night);
    return render_cell(cell, *tile, *source, chosen, request.scale >= 2 ? 2 : 1);
}

}  // namespace vg::vmap
