// Draws map cells from decoded vector tiles with a Style: QPainter on a QImage, antialiased, at device
// resolution (a cell is 256 × 256 CSS pixels; device scale 2 gives 512 × 512 with the same layout).
// Layers are drawn in style order: background, fills (rings grouped as mvt.h says, non-zero winding so
// holes stay open and overlapping parts stay filled), lines (width, dashes, caps and joins from the
// style; casings are their own style layers; a gap width is not drawn), circles, then the text labels
// of the symbol layers above all of it (labels.h says how they are placed). Icons are not drawn.
//
// Over-zoom: a cell finer than the tile set's deepest zoom is drawn from an ancestor tile (source):
// the cell's sub-square of it, scaled as vectors and clipped to the cell, so edges stay sharp.
//
// Threads: render_cell may run on several threads at once (each call paints its own image; the tile
// and the style are only read). Text needs Qt's font database: a QGuiApplication must exist (the
// offscreen platform is enough), created and destroyed on the main thread outside any call.
// Failure: a source that is not the cell or one of its ancestors, or a zoom outside 0..30, draws the
// background only; features and parts the style cannot draw are skipped.
#pragma once

#include <QImage>
#include <QRectF>
#include <QString>
#include <optional>
#include <string>
#include <vector>

#include "tiles/mvt.h"
#include "vectormap/style.h"

namespace vg::vmap {

// A web tile: zoom, column x (0..2^zoom-1 from 180° W), row y (from the north).
struct TileId {
    int zoom = 0;
    int x = 0;
    int y = 0;
    bool operator==(const TileId&) const = default;
};

// The tile whose data draw `cell` when the tile set has zooms up to `max_zoom`: the cell itself, or
// its ancestor at max_zoom. Nullopt when the cell lies outside the world or max_zoom < 0.
std::optional<TileId> source_tile_for(const TileId& cell, int max_zoom);

// A label as placed in a cell, in the cell's CSS pixels (0..256): `box` bounds the whole label with
// its halo and padding; `parts` are the boxes its collisions were checked with (one for a point label,
// one per glyph for a label along a line), all inside `box`.
struct PlacedLabel {
    QString text;
    std::string layer_id;
    QRectF box;
    std::vector<QRectF> parts;
    bool along_line = false;
};

// What one drawing did, for tests and the benchmark.
struct RenderInfo {
    std::vector<PlacedLabel> labels;
    int features_drawn = 0;   // features that reached the painter (after culling)
};

// The style zoom a cell at web zoom `zoom` is drawn at. Styles are written for 512-pixel tiles, so a
// 256-pixel cell of web zoom z shows the ground at the scale of style zoom z − 1 (never below 0).
double style_zoom(int zoom);

// Draws `cell` from `tile`, the decoded data of `source` (the cell itself or an ancestor, see above),
// at `device_scale` (1 or 2; anything else is taken as the nearer of the two). The image is
// Format_RGB32. `info`, when given, is filled afresh with the placed labels.
QImage render_cell(const TileId& cell, const mvt::Tile& tile, const TileId& source, const Style& style,
                   double device_scale, RenderInfo* info = nullptr);

}  // namespace vg::vmap
