// The mosaic: the view's tile files decoded into one red-green-blue raster.

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/files.h"
#include "tiles/decode_detail.h"
#include "tiles/gif_codec.h"
#include "tiles/image_decode.h"

namespace vg {

using decode_detail::Cell;
using decode_detail::decode_png;

namespace {

enum class Decoder { Png, Jpeg, Gif };

Decoder decoder_for(MapSource source, bool aerial) {
    if (source == MapSource::Etopo2) return Decoder::Gif;
    if (aerial && has_aerial_layer(source)) return Decoder::Jpeg;
    if (source == MapSource::MapQuest) return Decoder::Gif;
    return Decoder::Png;
}

// Catalogue sources keep JPEG tiles as ".jpg" whatever their geometry; the originals' ".jpg" files are
// their aerial layers, which take JPEG anyway.
bool is_jpeg_name(std::string_view path) { return path.size() >= 4 && path.substr(path.size() - 4) == ".jpg"; }

bool decode_tile(Decoder decoder, const std::filesystem::path& path, RgbImage& image, Cell& cell) {
    switch (decoder) {
    case Decoder::Png:
        return decode_png(path, image, &cell);
    case Decoder::Jpeg:
        return load_jpeg(path, image);
    case Decoder::Gif:
        return gif_read_file(path, image);
    }
    return false;
}

void fill_grey(Mosaic& mosaic, int x0, int y0, int x1, int y1) {
    if (x0 >= x1 || y0 >= y1) return;
    const std::size_t stride = std::size_t(mosaic.width) * 3;
    for (int y = y0; y < y1; ++y)
        std::memset(mosaic.pixels.data() + y * stride + std::size_t(x0) * 3, kMosaicGrey, std::size_t(x1 - x0) * 3);
}

// Makes the part of a cell right of and below a columns × rows picture at its top-left grey.
void fill_uncovered(Mosaic& mosaic, int x0, int y0, int columns, int rows) {
    if (rows <= 0 || columns <= 0) rows = columns = 0;
    fill_grey(mosaic, x0 + columns, y0, x0 + kTileSize, y0 + rows);
    fill_grey(mosaic, x0, y0 + rows, x0 + kTileSize, y0 + kTileSize);
}

// Copies a decoded picture into the cell whose top-left mosaic pixel is (x0, y0), clipped to the
// 256 × 256 cell; the part of the cell it does not cover is made grey. An empty picture leaves the
// whole cell grey.
void paste_tile(const RgbImage& image, Mosaic& mosaic, int x0, int y0) {
    int rows = std::clamp(image.height, 0, kTileSize);
    const int columns = std::clamp(image.width, 0, kTileSize);
    const std::size_t in_stride = std::size_t(std::max(image.width, 0)) * 3;
    if (in_stride == 0 || image.pixels.size() < in_stride * rows) rows = 0;
    const std::size_t out_stride = std::size_t(mosaic.width) * 3;
    for (int y = 0; y < rows; ++y) {
        std::memcpy(mosaic.pixels.data() + (std::size_t(y0) + y) * out_stride + std::size_t(x0) * 3,
                    image.pixels.data() + y * in_stride, std::size_t(columns) * 3);
    }
    fill_uncovered(mosaic, x0, y0, columns, rows);
}

// Sizes the mosaic for `grid`. A previous mosaic of the same size is kept as it is (when
// `grey`, made grey); otherwise it is released first and a grey one allocated.
bool size_mosaic(const ViewGrid& grid, Mosaic& mosaic, bool grey) {
    const int columns = std::clamp(grid.columns, 1, kMaxGridSide);
    const int grid_rows = std::clamp(grid.rows, 1, kMaxGridSide);
    const std::size_t bytes = std::size_t(kTileSize) * columns * kTileSize * grid_rows * 3;
    mosaic.width = kTileSize * columns;
    mosaic.height = kTileSize * grid_rows;
    if (mosaic.pixels.size() != bytes) {
        mosaic.pixels = {};
        try {
            mosaic.pixels.assign(bytes, kMosaicGrey);
        } catch (const std::bad_alloc&) {
            mosaic.pixels = {};
        }
    } else if (grey) {
        std::fill(mosaic.pixels.begin(), mosaic.pixels.end(), kMosaicGrey);
    }
    return mosaic.exists();
}

// Decodes `path` into the cell whose top-left mosaic pixel is (x0, y0). An empty path leaves the cell
// grey; a file that cannot be decoded is deleted (so that the next visit on line fetches it again;
// remove_file never removes a directory that a slot might name by mistake) and the cell made grey.
bool draw_cell(const std::string& path, Decoder decoder, Mosaic& mosaic, int x0, int y0) {
    RgbImage image;
    Cell cell{mosaic, x0, y0};
    if (path.empty() || !decode_tile(is_jpeg_name(path) ? Decoder::Jpeg : decoder, path, image, cell)) {
        if (!path.empty()) remove_file(path);
        fill_grey(mosaic, x0, y0, x0 + kTileSize, y0 + kTileSize);
        return false;
    }
    if (cell.written)
        fill_uncovered(mosaic, x0, y0, image.width, image.height);
    else
        paste_tile(image, mosaic, x0, y0);
    return true;
}

bool fits(const Mosaic& mosaic, const ViewGrid& grid, int index) {
    return grid.columns >= 1 && index >= 0 && index < grid.cells() && mosaic.exists() &&
           mosaic.width == kTileSize * grid.columns && mosaic.height == kTileSize * grid.rows;
}

}  // namespace

bool build_mosaic(const TilePathTable& table, MapSource source, bool aerial, const ViewGrid& grid, Mosaic& mosaic) {
    // Every cell is written below (tile or grey), so a previous mosaic of the same size is simply reused.
    if (!size_mosaic(grid, mosaic, false)) return false;
    const int columns = mosaic.width / kTileSize, grid_rows = mosaic.height / kTileSize;
    const Decoder decoder = decoder_for(source, aerial);
    for (int i = 0; i < columns * grid_rows; ++i) {
        static const std::string kNone;
        const std::string& path = static_cast<std::size_t>(i) < table.slots.size() ? table.slots[i] : kNone;
        draw_cell(path, decoder, mosaic, kTileSize * (i % columns), kTileSize * (i / columns));
    }
    return true;
}

bool grey_mosaic(const ViewGrid& grid, Mosaic& mosaic) { return size_mosaic(grid, mosaic, true); }

bool copy_mosaic_cell(const Mosaic& from, const ViewGrid& from_grid, int from_index, const ViewGrid& grid, int index,
                      Mosaic& mosaic) {
    if (!fits(from, from_grid, from_index) || !fits(mosaic, grid, index) || &from == &mosaic) return false;
    const std::size_t in_stride = std::size_t(from.width) * 3, out_stride = std::size_t(mosaic.width) * 3;
    const std::size_t fx = std::size_t(from_index % from_grid.columns) * kTileSize * 3;
    const std::size_t fy = std::size_t(from_index / from_grid.columns) * kTileSize;
    const std::size_t x = std::size_t(index % grid.columns) * kTileSize * 3;
    const std::size_t y = std::size_t(index / grid.columns) * kTileSize;
    for (std::size_t v = 0; v < kTileSize; ++v)
        std::memcpy(mosaic.pixels.data() + (y + v) * out_stride + x, from.pixels.data() + (fy + v) * in_stride + fx,
                    std::size_t(kTileSize) * 3);
    return true;
}

bool build_mosaic(const TilePathTable& table, MapSource source, bool aerial, bool big_maps, Mosaic& mosaic) {
    return build_mosaic(table, source, aerial, view_grid_of(big_maps), mosaic);
}

bool load_tile_image(const std::filesystem::path& path, MapSource source, bool aerial, RgbImage& out) {
    switch (decoder_for(source, aerial)) {
    case Decoder::Png: return load_png(path, out);
    case Decoder::Jpeg: return load_jpeg(path, out);
    case Decoder::Gif: return gif_read_file(path, out);
    }
    return false;
}

bool build_mosaic_cell(const std::string& path, MapSource source, bool aerial, const ViewGrid& grid, int index,
                       Mosaic& mosaic) {
    if (!fits(mosaic, grid, index)) return false;
    return draw_cell(path, decoder_for(source, aerial), mosaic, kTileSize * (index % grid.columns),
                     kTileSize * (index / grid.columns));
}

bool enlarge_mosaic_cell(const Mosaic& mosaic, const ViewGrid& grid, int index, RgbImage& fine, unsigned keep) {
    if (!fits(mosaic, grid, index)) return false;
    const std::size_t fine_stride = std::size_t(kFineCellSize) * 3;
    if (fine.width != kFineCellSize || fine.height != kFineCellSize || fine.pixels.size() != fine_stride * kFineCellSize) {
        fine.width = fine.height = kFineCellSize;
        fine.pixels.assign(fine_stride * kFineCellSize, kMosaicGrey);
    }
    const int x0 = kTileSize * (index % grid.columns);
    const int y0 = kTileSize * (index / grid.columns);
    const std::size_t stride = std::size_t(mosaic.width) * 3;
    constexpr int kHalf = kTileSize / 2;
    for (int v = 0; v < kTileSize; ++v) {
        const std::uint8_t* in = mosaic.pixels.data() + (std::size_t(y0) + v) * stride + std::size_t(x0) * 3;
        std::uint8_t* out = fine.pixels.data() + std::size_t(2 * v) * fine_stride;
        for (int u = 0; u < kTileSize; ++u) {
            const unsigned quarter = (v >= kHalf ? 2u : 0u) + (u >= kHalf ? 1u : 0u);
            if (keep & (1u << quarter)) continue;
            const std::uint8_t* p = in + 3 * u;
            std::uint8_t* o = out + 6 * u;
            for (int k = 0; k < 2; ++k, o += fine_stride) {
                o[0] = o[3] = p[0];
                o[1] = o[4] = p[1];
                o[2] = o[5] = p[2];
            }
        }
    }
    return true;
}

bool draw_fine_tile(const std::filesystem::path& path, int quarter, RgbImage& fine) {
    if (quarter < -1 || quarter > 3 || fine.width != kFineCellSize || fine.height != kFineCellSize) return false;
    RgbImage image;
    const bool decoded = is_jpeg_name(path.string()) ? load_jpeg(path, image) : load_png(path, image);
    const int side = quarter < 0 ? kFineCellSize : kTileSize;
    if (!decoded || image.width != side || image.height != side ||
        image.pixels.size() != std::size_t(side) * side * 3)
        return false;
    const std::size_t fine_stride = std::size_t(kFineCellSize) * 3;
    const int x0 = quarter < 0 ? 0 : (quarter % 2) * kTileSize;
    const int y0 = quarter < 0 ? 0 : (quarter / 2) * kTileSize;
    for (int y = 0; y < side; ++y)
        std::memcpy(fine.pixels.data() + (std::size_t(y0) + y) * fine_stride + std::size_t(x0) * 3,
                    image.pixels.data() + std::size_t(y) * side * 3, std::size_t(side) * 3);
    return true;
}

bool draw_enlarged_part(const RgbImage& a, int sx, int sy, int span, const ViewGrid& grid, int index,
                        Mosaic& mosaic) {
    if (a.width < kTileSize || a.height < kTileSize || a.pixels.size() < std::size_t(a.width) * a.height * 3 ||
        !fits(mosaic, grid, index))
        return false;
    span = std::clamp(span, 1, kTileSize);
    sx = std::clamp(sx, 0, kTileSize - 1);
    sy = std::clamp(sy, 0, kTileSize - 1);
    const std::size_t stride = std::size_t(mosaic.width) * 3;
    const int r = index / grid.columns, c = index % grid.columns;
    for (int v = 0; v < kTileSize; ++v) {
        const int yy = std::min(sy + v * span / kTileSize, kTileSize - 1);
        std::uint8_t* out = mosaic.pixels.data() + (std::size_t(r) * kTileSize + v) * stride + std::size_t(c) * kTileSize * 3;
        const std::uint8_t* in = a.pixels.data() + std::size_t(yy) * a.width * 3;
        for (int u = 0; u < kTileSize; ++u, out += 3) {
            const int xx = std::min(sx + u * span / kTileSize, kTileSize - 1);
            out[0] = in[3 * xx];
            out[1] = in[3 * xx + 1];
            out[2] = in[3 * xx + 2];
        }
    }
    return true;
}

namespace {

constexpr std::size_t kFineStride = std::size_t(kFineCellSize) * 3;

bool fine_picture(const FineCell& f) {
    return f.image.width == kFineCellSize && f.image.height == kFineCellSize &&
           f.image.pixels.size() == kFineStride * kFineCellSize;
}

// Fine pixels (x .. x + columns − 1, y) of `shown` from the picture.
void restore_fine(FineCell& f, int x, int y, int columns) {
    const std::size_t at = std::size_t(y) * kFineStride + std::size_t(x) * 3;
    copy_swapping_red_blue(f.image.pixels.data() + at, f.shown.data() + at, std::size_t(columns));
}

void put_fine(FineCell& f, int u, int v, const std::uint8_t* bgr) {
    std::uint8_t* o = f.shown.data() + std::size_t(2 * v) * kFineStride + std::size_t(6 * u);
    for (int k = 0; k < 2; ++k, o += kFineStride) {
        o[0] = o[3] = bgr[0];
        o[1] = o[4] = bgr[1];
        o[2] = o[5] = bgr[2];
    }
}

// `shown` made from the whole picture when it is not there yet; false without a picture.
bool fine_shown(FineCell& f) {
    if (!fine_picture(f)) return false;
    if (f.shown.size() != f.image.pixels.size()) {
        f.shown.resize(f.image.pixels.size());
        copy_swapping_red_blue(f.image.pixels.data(), f.shown.data(), std::size_t(kFineCellSize) * kFineCellSize);
        f.dirty = 0;
        f.stamps.clear();
        f.stamped.assign(std::size_t(kTileSize) * kTileSize / 64, 0);
    }
    return true;
}

}  // namespace

void stamp_fine_cell(FineCell& f, int u, int v, const std::uint8_t* bgr) {
    if (f.quarters == 0 || u < 0 || v < 0 || u >= kTileSize || v >= kTileSize || !fine_shown(f)) return;
    put_fine(f, u, v, bgr);
    const std::uint32_t at = static_cast<std::uint32_t>(v * kTileSize + u);
    std::uint64_t& word = f.stamped[at / 64];
    if (!(word & (std::uint64_t{1} << (at % 64)))) {
        word |= std::uint64_t{1} << (at % 64);
        f.stamps.push_back(at);
    }
}

void clear_fine_cell_overlays(FineCell& f) {
    if (f.shown.size() != f.image.pixels.size() || !fine_picture(f)) {
        f.stamps.clear();
        return;
    }
    for (const std::uint32_t at : f.stamps) {
        const int u = static_cast<int>(at % kTileSize), v = static_cast<int>(at / kTileSize);
        restore_fine(f, 2 * u, 2 * v, 2);
        restore_fine(f, 2 * u, 2 * v + 1, 2);
    }
    f.stamps.clear();
    std::fill(f.stamped.begin(), f.stamped.end(), 0);
}

bool ready_fine_cell(FineCell& f, const DisplayBitmap& bitmap, int x0, int y0) {
    if (f.quarters == 0 || x0 < 0 || y0 < 0 || x0 + kTileSize > bitmap.width() || y0 + kTileSize > bitmap.height() ||
        !fine_shown(f))
        return false;
    if (f.dirty == 0) return true;
    for (int q = 0; q < 4; ++q)
        if (f.dirty & (1u << q))
            for (int y = 0; y < kTileSize; ++y) restore_fine(f, (q % 2) * kTileSize, (q / 2) * kTileSize + y, kTileSize);
    // The overlays over the quarters taken again, from the bitmap where they are drawn.
    constexpr int kHalf = kTileSize / 2;
    for (const std::uint32_t at : f.stamps) {
        const int u = static_cast<int>(at % kTileSize), v = static_cast<int>(at / kTileSize);
        const unsigned quarter = (v >= kHalf ? 2u : 0u) + (u >= kHalf ? 1u : 0u);
        if (f.dirty & (1u << quarter)) put_fine(f, u, v, bitmap.row(y0 + v) + std::size_t(x0 + u) * 3);
    }
    f.dirty = 0;
    return true;
}

}  // namespace vg
