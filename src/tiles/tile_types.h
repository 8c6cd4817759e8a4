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
inline constexpr int kTileSlots = 16;
// Longest full tile path a slot holds (260 bytes with the terminator).
inline constexpr std::size_t kMaxTilePath = 259;

// The paths of a view's tiles: slot r·g+c holds the tile of view-grid cell (r, c); an empty slot
// means the cell has no tile.
struct TilePathTable {
    std::array<std::string, kTileSlots> slots;
    void clear() {
        for (auto& s : slots) s.clear();
    }
};

}  // namespace vg
