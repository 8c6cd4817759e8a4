// The display bitmap made from the mosaic, and the overlays stamped into it (position marker,
// cross-hair).
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VG_HAVE_SSSE3_PATH 1
#endif

#include "tiles/image_decode.h"

namespace vg {

namespace {

// Copies n pixels, swapping red and blue: red-green-blue in, blue-green-red out (or back).
void swap_red_blue_plain(const std::uint8_t* in, std::uint8_t* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i, in += 3, out += 3) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
    }
}

#ifdef VG_HAVE_SSSE3_PATH
// Sixteen pixels (48 bytes) a step: three loads, and each of the three stores gathered from the
// loaded vectors by byte shuffles (a pixel may straddle two of them), so no store overlaps another.
__attribute__((target("ssse3"))) void swap_red_blue_ssse3(const std::uint8_t* in, std::uint8_t* out,
                                                          std::size_t n) {
    const __m128i a0 = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, -1);
    const __m128i b0 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 1);
    const __m128i a1 = _mm_setr_epi8(-1, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i b1 = _mm_setr_epi8(0, -1, 4, 3, 2, 7, 6, 5, 10, 9, 8, 13, 12, 11, -1, 15);
    const __m128i c1 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, -1);
    const __m128i b2 = _mm_setr_epi8(14, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i c2 = _mm_setr_epi8(-1, 3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10, 15, 14, 13);
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const std::uint8_t* p = in + 3 * i;
        std::uint8_t* q = out + 3 * i;
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(q), _mm_or_si128(_mm_shuffle_epi8(a, a0), _mm_shuffle_epi8(b, b0)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(q + 16),
                         _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, a1), _mm_shuffle_epi8(b, b1)),
                                      _mm_shuffle_epi8(c, c1)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(q + 32), _mm_or_si128(_mm_shuffle_epi8(b, b2), _mm_shuffle_epi8(c, c2)));
    }
    swap_red_blue_plain(in + 3 * i, out + 3 * i, n - i);
}
#endif

using SwapFn = void (*)(const std::uint8_t*, std::uint8_t*, std::size_t);

SwapFn pick_swap_red_blue() {
#ifdef VG_HAVE_SSSE3_PATH
    if (__builtin_cpu_supports("ssse3")) return swap_red_blue_ssse3;
#endif
    return swap_red_blue_plain;
}

void put_le32(std::uint8_t* p, std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    p[0] = std::uint8_t(u);
    p[1] = std::uint8_t(u >> 8);
    p[2] = std::uint8_t(u >> 16);
    p[3] = std::uint8_t(u >> 24);
}

void put_le16(std::uint8_t* p, std::uint16_t v) {
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}

void paint_row(DisplayBitmap& bitmap, int r, std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    if (r < 0 || r >= bitmap.height()) return;
    const std::uint8_t bgr[3] = {blue, green, red};
    for (int x = 0; x < bitmap.width(); ++x) bitmap.put_overlay_pixel(x, r, bgr);
}

void paint_column(DisplayBitmap& bitmap, int c, std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    if (c < 0 || c >= bitmap.width()) return;
    const std::uint8_t bgr[3] = {blue, green, red};
    for (int y = 0; y < bitmap.height(); ++y) bitmap.put_overlay_pixel(c, y, bgr);
}

// One pixel of the display bitmap in blue, green, red order, when inside.
void put(DisplayBitmap& bitmap, long long c, long long r, const std::uint8_t* bgr) {
    if (c < 0 || r < 0 || c >= bitmap.width() || r >= bitmap.height()) return;
    bitmap.put_overlay_pixel(static_cast<int>(c), static_cast<int>(r), bgr);
}

// The position marker, row by row from the top: where the mask is set the pixel is painted, yellow
// where the colour is set and black where it is not.
constexpr int kMarkerSize = 11;
constexpr const char* kMarkerMask[kMarkerSize] = {
    "00011111000", "01111111110", "01111111110", "11111111111", "11111111111", "11111111111",
    "11111111111", "11111111111", "01111111110", "01111111110", "00011111000",
};
constexpr const char* kMarkerColour[kMarkerSize] = {
    "00011011000", "01111011110", "01111011110", "11111111111", "11110001111", "00010001000",
    "11110001111", "11111111111", "01111011110", "01111011110", "00011011000",
};

}  // namespace

void copy_swapping_red_blue(const std::uint8_t* in, std::uint8_t* out, std::size_t pixels) {
    static const SwapFn swap = pick_swap_red_blue();
    swap(in, out, pixels);
}

bool build_display_bitmap(bool big_maps, const Mosaic& mosaic, DisplayBitmap& bitmap) {
    const int side = big_maps ? 1024 : 512;
    return make_display_bitmap(side, side, mosaic, bitmap);
}

bool build_display_bitmap(const Mosaic& mosaic, DisplayBitmap& bitmap) {
    if (!mosaic.exists()) return make_display_bitmap(512, 512, mosaic, bitmap);
    return make_display_bitmap(mosaic.width, mosaic.height, mosaic, bitmap);
}

bool copy_cell_to_bitmap(const Mosaic& mosaic, const ViewGrid& grid, int index, DisplayBitmap& bitmap) {
    if (grid.columns < 1 || index < 0 || index >= grid.cells() || !mosaic.exists() || !bitmap.exists() ||
        mosaic.width != kTileSize * grid.columns || mosaic.height != kTileSize * grid.rows ||
        mosaic.pixels.size() != std::size_t(mosaic.width) * std::size_t(mosaic.height) * 3 ||
        bitmap.width() != mosaic.width || bitmap.height() != mosaic.height)
        return false;
    const int x0 = kTileSize * (index % grid.columns);
    const int y0 = kTileSize * (index / grid.columns);
    const std::size_t in_stride = std::size_t(mosaic.width) * 3;
    for (int v = 0; v < kTileSize; ++v)
        copy_swapping_red_blue(mosaic.pixels.data() + (std::size_t(y0) + v) * in_stride + std::size_t(x0) * 3,
                               bitmap.row(y0 + v) + std::size_t(x0) * 3, kTileSize);
    return true;
}

bool make_display_bitmap(int width, int height, const Mosaic& mosaic, DisplayBitmap& bitmap) {
    const int stride = DisplayBitmap::stride_for(width);
    const std::size_t bytes = std::size_t(height) * stride + kBitmapHeaderSize;
    // Every byte is written below, so a previous block of the same size is reused; otherwise it is
    // released first.
    if (bitmap.block_.size() != bytes) {
        bitmap.release();
        try {
            bitmap.block_.resize(bytes);
        } catch (const std::bad_alloc&) {
            bitmap.release();
            return false;
        }
    }
    bitmap.width_ = width;
    bitmap.height_ = height;
    bitmap.stride_ = stride;

    std::uint8_t* h = bitmap.block_.data();
    std::memset(h, 0, kBitmapHeaderSize);
    put_le32(h + 0, kBitmapHeaderSize);  // biSize
    put_le32(h + 4, width);              // biWidth
    put_le32(h + 8, -height);            // biHeight: rows stored top-down
    put_le16(h + 12, 1);                 // biPlanes
    put_le16(h + 14, 24);                // biBitCount
    // biCompression (BI_RGB), biSizeImage, resolutions and colour counts stay 0.

    // The mosaic's part that fits is copied as blue, green, red; the rest of the rows (only when
    // the mosaic is smaller or absent) and the row padding are cleared.
    int rows = 0, columns = 0;
    if (mosaic.exists() && mosaic.width > 0) {
        const std::size_t in_stride = std::size_t(mosaic.width) * 3;
        rows = static_cast<int>(std::min<std::size_t>(
            {std::size_t(std::max(mosaic.height, 0)), std::size_t(height), mosaic.pixels.size() / in_stride}));
        columns = std::min(mosaic.width, width);
        for (int y = 0; y < rows; ++y) {
            std::uint8_t* out = bitmap.row(y);
            copy_swapping_red_blue(mosaic.pixels.data() + y * in_stride, out, std::size_t(columns));
            std::memset(out + std::size_t(columns) * 3, 0, std::size_t(stride) - std::size_t(columns) * 3);
        }
    }
    if (rows < height) std::memset(bitmap.row(rows), 0, std::size_t(height - rows) * stride);
    return true;
}

void draw_position_marker(DisplayBitmap& bitmap, int c, int r, bool greyed) {
    if (!bitmap.exists()) return;
    const int width = bitmap.width();
    for (int i = 0; i < kMarkerSize; ++i) {
        const int y = r - 5 + i;
        if (y < 0 || y >= bitmap.height()) return;
        const int x0 = c - 5;
        if (x0 < 0) continue;
        for (int j = 0; j < kMarkerSize && x0 + j < width; ++j) {
            if (kMarkerMask[i][j] != '1') continue;
            const bool disc = kMarkerColour[i][j] == '1';
            // Yellow and black; greyed: mid and dark grey (darker than the grey of a missing tile), so
            // an old position never looks live.
            const std::uint8_t v = disc ? (greyed ? 0x98 : 0xFF) : (greyed ? 0x48 : 0x00);
            const std::uint8_t bgr[3] = {greyed ? v : std::uint8_t{0}, v, v};
            bitmap.put_overlay_pixel(x0 + j, y, bgr);
        }
    }
}

void draw_cross_hair(DisplayBitmap& bitmap, int c, int r, bool track, int hair) {
    if (track || !bitmap.exists()) return;
    const int b = hair / 2;
    if (b > 0) {
        for (int y = r - b; y <= r + b; ++y) paint_row(bitmap, y, 0xFF, 0xFF, 0);
        for (int x = c - b; x <= c + b; ++x) paint_column(bitmap, x, 0xFF, 0xFF, 0);
    }
    if (hair > 0) {
        paint_row(bitmap, r, 0, 0, 0);
        paint_column(bitmap, c, 0, 0, 0);
    }
}

// A two-pixel-wide line; segments wholly outside one side are skipped, and a segment longer than
// the world (a jump round the date line) is not drawn.
void draw_overlay_line(DisplayBitmap& bitmap, long long c0, long long r0, long long c1, long long r1, const std::uint8_t* bgr) {
    const long long w = bitmap.width(), h = bitmap.height();
    if ((c0 < 0 && c1 < 0) || (r0 < 0 && r1 < 0) || (c0 >= w && c1 >= w) || (r0 >= h && r1 >= h)) return;
    // A long line is cut to the bitmap (with a pixel's margin) first, so that its steps outside cost
    // nothing: the parts of the line from (c0, r0) to (c1, r1) with t in [t0, t1] lie within.
    if (c0 < -1 || c0 > w || r0 < -1 || r0 > h || c1 < -1 || c1 > w || r1 < -1 || r1 > h) {
        const double dx = static_cast<double>(c1 - c0), dy = static_cast<double>(r1 - r0);
        double t0 = 0.0, t1 = 1.0;
        auto clip = [&](double p, double q) {  // keeps the part where p·t <= q
            if (p == 0.0) return q >= 0.0;
            const double t = q / p;
            if (p < 0.0) t0 = std::max(t0, t);
            else t1 = std::min(t1, t);
            return t0 <= t1;
        };
        if (!clip(-dx, static_cast<double>(c0) + 1) || !clip(dx, static_cast<double>(w - c0)) ||
            !clip(-dy, static_cast<double>(r0) + 1) || !clip(dy, static_cast<double>(h - r0)))
            return;
        const long long sc0 = c0 + std::llround(t0 * dx), sr0 = r0 + std::llround(t0 * dy);
        c1 = c0 + std::llround(t1 * dx);
        r1 = r0 + std::llround(t1 * dy);
        c0 = sc0;
        r0 = sr0;
    }
    const long long dc = std::llabs(c1 - c0), dr = std::llabs(r1 - r0);
    if (dc > (1 << 24) || dr > (1 << 24)) return;
    const long long sc = c0 < c1 ? 1 : -1, sr = r0 < r1 ? 1 : -1;
    long long err = dc - dr;
    for (long long steps = 0; steps <= dc + dr; ++steps) {
        put(bitmap, c0, r0, bgr);
        put(bitmap, c0 + 1, r0, bgr);
        put(bitmap, c0, r0 + 1, bgr);
        if (c0 == c1 && r0 == r1) break;
        const long long e2 = 2 * err;
        if (e2 > -dr) {
            err -= dr;
            c0 += sc;
        }
        if (e2 < dc) {
            err += dc;
            r0 += sr;
        }
    }
}

void draw_overlay_square(DisplayBitmap& bitmap, long long c, long long r, int half, const std::uint8_t* bgr) {
    for (int d = -half; d <= half; ++d) {
        put(bitmap, c + d, r - half, bgr);
        put(bitmap, c + d, r + half, bgr);
        put(bitmap, c - half, r + d, bgr);
        put(bitmap, c + half, r + d, bgr);
    }
}

}  // namespace vg
