// Text labels of a map cell, placed so that across any view no two overlap, none is cut at a cell's
// edge and none is drawn twice for one feature, although cells are drawn independently, in any order,
// and a tile repeats its neighbours' features in its buffer:
//   - a label belongs to the one cell that holds its anchor in world coordinates (a point: checked in
//     integer tile units, so two neighbouring tiles never both claim it; a label along a line: the
//     middle of its run of text, which lies inside its box; a polygon's name: the centre of its first
//     ring when the ring lies inside the tile's square, else only the tile the ring does not leave
//     to the left or above labels it, at the centre of the ring's part in its square, so the tiles
//     sharing a polygon agree on one of them);
//   - it is placed only if its whole box, halo and padding included, lies inside that cell;
//   - within the cell, labels are placed in priority order and a label touching one already placed
//     is tried at its next candidate position (point: centred, right, left, above, below, then the four
//     corners; line: the
//     middle of each part, then steps either side) and dropped when none fits.
// Boxes of different cells cannot meet, so the rules above hold for the whole view. Priority: the
// later style layer first (it is drawn on top, as in MapLibre), then the larger place (OpenMapTiles
// `rank`, lower first; else `population`), then position (top to bottom, left to right). A line's name
// is placed at most once a cell. Labels along lines follow the line glyph by glyph, upright, and are
// not placed over bends sharper than 40° between neighbouring glyphs; the glyphs come from Qt's
// shaping (QTextLayout), in visual order, so right-to-left and joined scripts (Arabic, Hebrew) follow
// lines too. Point labels wrap at the style's maximum width.
// Used by render_cell on the thread drawing the cell (not shared between threads).
#pragma once

#include <QPainter>
#include <QPointF>
#include <QPolygonF>
#include <cstdint>
#include <string>
#include <vector>

#include "tiles/mvt.h"
#include "vectormap/render.h"
#include "vectormap/style.h"

namespace vg::vmap {

// Tile units of one source tile to CSS pixels of one cell (the cell is the source tile or lies inside
// it, `depth` zooms deeper).
struct CellMapping {
    int depth = 0;
    std::uint32_t extent = 4096;
    std::int64_t column = 0;  // the cell's place inside the source tile, in cells
    std::int64_t row = 0;
    double factor = 1.0 / 16;  // CSS pixels per tile unit

    CellMapping(const TileId& cell, const TileId& source, std::uint32_t tile_extent);
    QPointF map(mvt::Point p) const {
        return {p.x * factor - static_cast<double>(column) * 256.0, p.y * factor - static_cast<double>(row) * 256.0};
    }
    // True when the point lies in this cell (left and top edges included), exactly.
    bool owns(mvt::Point p) const;
};

inline constexpr double kCellSize = 256.0;

// The parts of `line` inside `r` (Liang–Barsky on each segment), appended to `pieces`.
void clip_line(const QPolygonF& line, const QRectF& r, std::vector<QPolygonF>& pieces);

class LabelPlacer {
public:
    // The feature's text, to be placed after the cell's other layers are drawn. `order` is the style
    // layer's index.
    void add(const Style::Layer& layer, const TextPaint& paint, const mvt::Layer& source,
             const mvt::Feature& feature, const CellMapping& mapping);
    // Places the labels added and draws them with `painter` (in CSS pixels); appends those placed.
    void place_and_draw(QPainter& painter, std::vector<PlacedLabel>* placed);

private:
    struct Candidate {
        int order = 0;
        double importance = 0;
        QPointF anchor;
        TextPaint paint;
        const std::string* layer_id = nullptr;
        bool along_line = false;
        std::vector<QPolygonF> lines;  // for labels along lines: the feature's parts in CSS pixels
    };
    std::vector<Candidate> candidates_;
};

}  // namespace vg::vmap
