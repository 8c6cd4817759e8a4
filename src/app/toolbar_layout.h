// Geometry of the toolbar band, shared by the window layer (which draws it) and the application
// logic (which hit-tests clicks against it). All values are client pixels.
#pragma once

#include <array>

namespace vg::toolbar {

// Horizontal lines across the whole client width: black, white, black, white.
inline constexpr int kLineBlackTop = 1;
inline constexpr int kLineWhiteTop = 2;
inline constexpr int kLineBlackBottom = 42;
inline constexpr int kLineWhiteBottom = 43;
// Height of the band.
inline constexpr int kBandHeight = 44;

// Vertical separators: a black line at x and a white one at x + 1, from y = 5 to y = 40.
inline constexpr std::array<int, 5> kSeparatorX = {3, 54, 224, 454, 510};
inline constexpr int kSeparatorTop = 5;
inline constexpr int kSeparatorBottom = 40;

// The eleven buttons, in this order.
enum Button {
    kAutoPan = 0,
    kPanWest,
    kPanNorth,
    kPanSouth,
    kPanEast,
    kLevel0,
    kLevel1,
    kLevel2,
    kLevel3,
    kLevel4,
    kAerial,
    kButtonCount
};

// Button pictures: 32 × 32, top edge at y = 6, left edges:
inline constexpr int kButtonTop = 6;
inline constexpr int kButtonSize = 32;
inline constexpr std::array<int, kButtonCount> kButtonX = {14, 63, 103, 143, 183, 238, 281, 324, 367, 410, 467};

// Hit boxes: a click counts only with kHitTop <= y <= kHitBottom, and then with
// kHitLeft[b] <= x <= kHitRight[b] (both inclusive).
inline constexpr int kHitTop = 6;
inline constexpr int kHitBottom = 37;
inline constexpr std::array<int, kButtonCount> kHitLeft = {15, 64, 104, 144, 184, 239, 282, 325, 368, 411, 468};
inline constexpr std::array<int, kButtonCount> kHitRight = {45, 94, 134, 174, 214, 269, 312, 355, 398, 441, 498};

// The button under client point (x, y), or kButtonCount when none.
constexpr Button hit_button(int x, int y) {
    if (y < kHitTop || y > kHitBottom) return kButtonCount;
    for (int b = 0; b < kButtonCount; ++b)
        if (x >= kHitLeft[b] && x <= kHitRight[b]) return static_cast<Button>(b);
    return kButtonCount;
}

// Picture resource ids.
inline constexpr int kBitmapAutoPanOff = 701;  // auto_pan off: the button turns it on
inline constexpr int kBitmapAutoPanOn = 702;   // greyed: auto_pan is on
inline constexpr int kBitmapPanWest = 721;
inline constexpr int kBitmapPanNorth = 722;
inline constexpr int kBitmapPanSouth = 723;
inline constexpr int kBitmapPanEast = 724;
inline constexpr int kBitmapLevelBase = 730;         // + level: not the current level
inline constexpr int kBitmapLevelCurrentBase = 740;  // + level: greyed, the current level
inline constexpr int kBitmapAerial = 751;            // shows "Aerial": switches to photos
inline constexpr int kBitmapMaps = 752;              // shows "Maps": switches back to maps

// Map area: the display bitmap's top-left corner, inside the sunken frame (its top line at
// kMapTop − 1, its left one at 0).
inline constexpr int kMapLeft = 1;
inline constexpr int kMapTop = 49;
// The client area around the map area: the frame's two columns across; the band, the frame's top
// line and one more row below the map down.
inline constexpr int kFrameWidth = 2;
inline constexpr int kBandAndFrameHeight = kMapTop + 2;
// Client size of the classic map areas (512 × 384, and 1024 × 768 with Big Maps).
inline constexpr int kSmallMapWidth = 512;
inline constexpr int kSmallMapHeight = 384;
inline constexpr int kBigMapWidth = 1024;
inline constexpr int kBigMapHeight = 768;

}  // namespace vg::toolbar
