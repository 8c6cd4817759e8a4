// Types shared by the tile operations, the decoders and the view.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vg {

// A decoded picture: width × height pixels, 3 bytes each (red, green, blue), rows from the top,
// no row padding.
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;
    bool empty() const { return pixels.empty(); }
};

inline constexpr int kTileSize = 256;
// Slots of a table for the original grids (4 × 4 at most); larger views grow their table.
inline constexpr int kTileSlots = 16;
// Longest full tile path a slot holds (260 bytes with the terminator).
inline constexpr std::size_t kMaxTilePath = 259;

// The cells of a view: `columns` × `rows` tiles around the view centre, both even so that the
// centre lies on a tile corner. 2 × 2 for the small view, 4 × 4 with Big Maps, and any size for a
// window the user has resized.
struct ViewGrid {
    int columns = 2;
    int rows = 2;
    int cells() const { return columns * rows; }
    bool operator==(const ViewGrid&) const = default;
};
inline constexpr ViewGrid view_grid_of(bool big_maps) { return big_maps ? ViewGrid{4, 4} : ViewGrid{2, 2}; }
// Largest grid side accepted: a map area 16384 pixels across.
inline constexpr int kMaxGridSide = 64;
// The smallest grid whose cells cover a map area of width × height pixels centred on a tile corner
// (at least 2 × 2, at most kMaxGridSide a side).
inline ViewGrid view_grid_covering(int width, int height) {
    auto side = [](int pixels) {
        const int half_cells = (pixels > 0 ? (pixels + 2 * kTileSize - 1) / (2 * kTileSize) : 1);
        return 2 * (half_cells < 1 ? 1 : (half_cells > kMaxGridSide / 2 ? kMaxGridSide / 2 : half_cells));
    };
    return {side(width), side(height)};
}

// The paths of a view's tiles: slot r·columns+c holds the tile of view-grid cell (r, c); an empty slot
// means the cell has no tile. Holds 16 slots until a larger grid is filled into it.
struct TilePathTable {
    std::vector<std::string> slots = std::vector<std::string>(kTileSlots);
    void clear() {
        for (auto& s : slots) s.clear();
    }
    // Makes room for a grid's cells (never shrinks below 16 slots).
    void fit(const ViewGrid& grid) {
        if (slots.size() < static_cast<std::size_t>(grid.cells())) slots.resize(static_cast<std::size_t>(grid.cells()));
    }
};

}  // namespace vg
