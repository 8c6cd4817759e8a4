#include "vectormap/pack_cells.h"

#include <cmath>
#include <deque>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <tuple>

#include <QFile>
#include <QPainter>

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

QImage draw_raw_cell(const LocalTileRequest& request) {
    const TileId cell{request.zoom, request.x, request.y};
    const TileId source{request.raw_zoom, request.raw_x, request.raw_y};
    const int up = cell.zoom - source.zoom;
    if (up < 0 || up > 24 || (cell.x >> up) != source.x || (cell.y >> up) != source.y) return {};
    QFile file(QString::fromStdString(request.raw_tile));
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = file.readAll();
    const int size = 256 * (request.scale >= 2 ? 2 : 1);
    // A picture: its part of the cell enlarged to the cell.
    if (bytes.startsWith("\x89PNG") || bytes.startsWith("\xFF\xD8")) {
        QImage picture;
        if (!picture.loadFromData(bytes) || picture.width() < 1 || picture.height() < 1) return {};
        const double span = picture.width() / std::ldexp(1.0, up);
        const QRectF part((cell.x - (source.x << up)) * span, (cell.y - (source.y << up)) * span, span,
                          picture.height() / std::ldexp(1.0, up));
        QImage out(size, size, QImage::Format_RGB32);
        QPainter painter(&out);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRectF(0, 0, size, size), picture, part);
        return out;
    }
    std::string error;
    const auto plain = mvt::unwrap_gzip(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), error);
    if (!plain) return {};
    const auto tile = mvt::decode(*plain, error);
    if (!tile) return {};
    std::vector<std::string> names;
    for (const auto& layer : tile->layers) names.push_back(layer.name);
    const Style* style = request.style_path.empty() ? nullptr : style_file(request.style_path);
    const Style& chosen = style ? *style : Style::builtin(detect_schema(names), request.night);
    return render_cell(cell, *tile, source, chosen, request.scale >= 2 ? 2 : 1);
}

}  // namespace vg::vmap
