// What every window must show after a resize, checked the same way through the recording window
// (tests/app) and the Qt window (tests/ui).
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "app/app.h"
#include "tiles/tile_catalogue.h"

namespace vg::test {

// After `resize(width, height)` and `settle()` (the window's paints until the view has filled), the
// map area is `width` − 2 × `height` − 51 and every cell it shows holds the current source's own
// tile of its place (not the Atlas, not grey), inside the bitmap.
template <typename Resize, typename Settle>
void expect_resize_fills(App& app, int width, int height, Resize&& resize, Settle&& settle) {
    SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
    resize(width, height);
    ASSERT_TRUE(settle());
    EXPECT_EQ(app.view().map_width, width - 2);
    EXPECT_EQ(app.view().map_height, height - 51);
    const PaintFrame f = app.paint();
    const CatalogueEntry* entry = app.current_entry();
    ASSERT_NE(entry, nullptr);
    ASSERT_LE(f.visible_first_column + f.map_width, app.view().display_bitmap.width());
    ASSERT_LE(f.visible_first_row + f.map_height, app.view().display_bitmap.height());
    long long shown = 0;
    app.layer().for_each_cell([&](int i, int r, int c, WorldPixel p) {
        const int x0 = c * kTileSize, y0 = r * kTileSize;
        if (x0 + kTileSize <= f.visible_first_column || x0 >= f.visible_first_column + f.map_width ||
            y0 + kTileSize <= f.visible_first_row || y0 >= f.visible_first_row + f.map_height)
            return;
        shown += kTileSize * kTileSize;
        const std::string own =
            catalogue_tile_paths(*entry, catalogue_tile_key(*entry, p.x, p.y, app.view().level), app.maps_root()).full_path;
        EXPECT_EQ(app.tile_paths().slots[static_cast<std::size_t>(i)], own) << "cell " << r << "," << c;
    });
    EXPECT_GE(shown, static_cast<long long>(f.map_width) * f.map_height);
}

}  // namespace vg::test
