// Turning the tile files of one view into pixels: the PNG and JPEG decoders, the mosaic of the
// view's tiles, the display bitmap made from it, and the two overlays stamped into that bitmap
// (the position marker and the cross-hair).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "tiles/map_source.h"
#include "tiles/tile_types.h"

namespace vg {

// Fill colour of a view cell that has no tile (all three bytes).
inline constexpr std::uint8_t kMosaicGrey = 192;
// Length of the bitmap information header at the start of a display bitmap block.
inline constexpr int kBitmapHeaderSize = 40;
// Largest width or height the decoders accept, checked from the file's header before anything is
// allocated. Tiles are 256 × 256 (512 × 512 for fine tiles); anything far larger is not a tile, and
// refusing it keeps a damaged or hostile file from claiming gigabytes of memory.
inline constexpr int kMaxDecodedSide = 4096;
// A JPEG may have at most this many scans. Encoders write 1 (baseline), 3 or 4 (one scan a component)
// or about 10 (progressive); a file of repeated scans makes the decoder redo the whole image per scan.
inline constexpr int kMaxJpegScans = 64;
// And at most this much scan work: each scan read counts the image's pixels. Twelve scans of the
// largest picture allowed, so a normal progressive file of any allowed size decodes; a small tile
// reaches kMaxJpegScans first.
inline constexpr long long kMaxJpegScanPixels = 12LL * kMaxDecodedSide * kMaxDecodedSide;
// With these limits one decode is bounded whatever the file holds: at most a 4096 × 4096 picture
// (48 MiB of pixels) read by at most twelve whole-image scans, about 150 ms of processor time
// (bench/tiles/mosaic_bench: BM_JpegLargestAllowed); a 256 × 256 tile of 64 scans takes about 2 ms.
// The window decodes landed tiles on its own thread within its paint budget; this bound is what a
// single tile can cost it.

// Why a decoder refused a file.
enum class DecodeFailure {
    None,
    Unreadable,    // missing, not a file of that type
    Damaged,       // the library found the data broken or cut short
    TooLarge,      // a side over kMaxDecodedSide, refused before any pixel memory was taken
    TooManyScans,  // more than kMaxJpegScans scans or kMaxJpegScanPixels of scan work
    NoMemory,      // the pixels' memory was not there
};

// The view's red-green-blue raster: side × side pixels, 3 bytes each, rows top-down, no padding.
// Side is 512 (2 × 2 tiles) or 1024 (4 × 4 tiles).
struct Mosaic {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;

    bool exists() const { return !pixels.empty(); }
    int side() const { return width; }
};

// A 24-bit device-independent bitmap in one block: the 40-byte header (width side, height −side
// for top-down rows, 1 plane, 24 bits, no compression) followed by side rows of blue-green-red
// pixels, each row padded to a multiple of 4 bytes.
// Told of every overlay pixel drawn into a display bitmap (marker, cross-hair, track, GPX): the
// window's sharp cells draw the same pixel at their own resolution.
class OverlaySink {
public:
    virtual void overlay_pixel(int c, int r, const std::uint8_t* bgr) = 0;

protected:
    ~OverlaySink() = default;
};

// An allocator whose vectors leave new bytes uninitialised when resized: the display bitmap's block
// is written whole right after it is sized, so zero-filling a large one first would only double the
// window thread's work.
template <typename T>
struct UninitialisedAllocator : std::allocator<T> {
    UninitialisedAllocator() = default;
    template <typename U>
    UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}
    template <typename U>
    struct rebind {
        using other = UninitialisedAllocator<U>;
    };
    template <typename U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};
using BitmapBlock = std::vector<std::uint8_t, UninitialisedAllocator<std::uint8_t>>;

class DisplayBitmap {
public:
    bool exists() const { return !block_.empty(); }
    // The width; for the square bitmaps of the 2 × 2 and 4 × 4 grids also the height.
    int side() const { return width_; }
    int width() const { return width_; }
    int height() const { return height_; }
    int stride() const { return stride_; }
    // The whole block, header first.
    const BitmapBlock& block() const { return block_; }
    // The pixel rows after the header; null when there is no bitmap.
    std::uint8_t* pixels() { return exists() ? block_.data() + kBitmapHeaderSize : nullptr; }
    const std::uint8_t* pixels() const { return exists() ? block_.data() + kBitmapHeaderSize : nullptr; }
    std::uint8_t* row(int r) { return pixels() + static_cast<std::size_t>(r) * stride_; }
    const std::uint8_t* row(int r) const { return pixels() + static_cast<std::size_t>(r) * stride_; }
    // Overlays drawn from now on are told to `sink` as well (none when null).
    void set_overlay_sink(OverlaySink* sink) { sink_ = sink; }
    // Sets overlay pixel (c, r), which must lie inside the bitmap, to blue-green-red `bgr`.
    void put_overlay_pixel(int c, int r, const std::uint8_t* bgr) {
        std::uint8_t* p = row(r) + static_cast<std::size_t>(c) * 3;
        p[0] = bgr[0];
        p[1] = bgr[1];
        p[2] = bgr[2];
        if (sink_) sink_->overlay_pixel(c, r, bgr);
    }
    void release() {
        block_ = {};
        width_ = 0;
        height_ = 0;
        stride_ = 0;
    }

    // Row stride in bytes for a side: 3 bytes a pixel, rounded up to a multiple of 4.
    static int stride_for(int side) { return (3 * side + 3) & ~3; }

private:
    friend bool make_display_bitmap(int width, int height, const Mosaic& mosaic, DisplayBitmap& bitmap);
    BitmapBlock block_;
    int width_ = 0;
    int height_ = 0;
    int stride_ = 0;
    OverlaySink* sink_ = nullptr;
};

// Decode a PNG file into red-green-blue pixels. True on success; false on failure, with `out` emptied
// and the reason in `*why` when given. libpng's error text goes to standard error as "libpng error: ...".
bool load_png(const std::filesystem::path& path, RgbImage& out, DecodeFailure* why = nullptr);
// Writes red-green-blue pixels as an 8-bit RGB PNG file at zlib `level` (0..9; -1 libpng's default,
// 6). Levels 0..2 write the rows unfiltered: the fastest file (for a drawn map tile of flat colours
// hardly larger than at the default, bench/atlas; a photograph grows more). False when the
// picture is empty or inconsistent or the file cannot be written (a partial file may stay: write
// under a temporary name).
bool write_png(const std::filesystem::path& path, const RgbImage& image, int level = -1);

// Decode a JPEG file into red-green-blue pixels (grey and CMYK images converted). True on success;
// false on failure, with `out` emptied and the reason in `*why` when given.
bool load_jpeg(const std::filesystem::path& path, RgbImage& out, DecodeFailure* why = nullptr);

// Decode the files named in the table into the mosaic: 2 × 2 tiles, or 4 × 4 with big_maps. The
// decoder follows the source and layer (GIF for Etopo2 and the MapQuest map layer, JPEG for aerial
// photos, PNG otherwise). An empty slot leaves its cell grey; a file that cannot be decoded is deleted
// and its cell stays grey. A decoded picture larger than 256 × 256 is clipped to its cell; a smaller
// one fills its top-left part. True when the mosaic exists afterwards; false when the allocation
// failed (the window then says kMosaicFailedText).
bool build_mosaic(const TilePathTable& table, MapSource source, bool aerial, bool big_maps, Mosaic& mosaic);
// The same for any grid: 256 · columns × 256 · rows pixels, slot r · columns + c for cell (r, c).
bool build_mosaic(const TilePathTable& table, MapSource source, bool aerial, const ViewGrid& grid, Mosaic& mosaic);
inline constexpr const char* kMosaicFailedText = "Error in loading the JPG image";

// Decodes one tile file with the decoder of the source and layer (as build_mosaic does). True on
// success; false on failure, with `out` emptied (the file is left alone).
bool load_tile_image(const std::filesystem::path& path, MapSource source, bool aerial, RgbImage& out);

// Decodes `path` into cell `index` (r · columns + c) of a mosaic built for `grid`, as build_mosaic
// would: a tile that has just arrived, or a cell of a view composed over several paints. A file that
// cannot be decoded is deleted and the cell made grey. True when the tile was drawn, false when not
// (also for a cell outside the mosaic).
bool build_mosaic_cell(const std::string& path, MapSource source, bool aerial, const ViewGrid& grid, int index,
                       Mosaic& mosaic);
// A mosaic for `grid` with every cell grey (its cells then drawn one by one); false when the
// allocation failed.
bool grey_mosaic(const ViewGrid& grid, Mosaic& mosaic);
// Copies cell `from_index` of `from` (built for `from_grid`) into cell `index` of `mosaic` (built for
// `grid`): a decoded cell kept when the view's grid moves. False when either cell is outside its mosaic.
bool copy_mosaic_cell(const Mosaic& from, const ViewGrid& from_grid, int from_index, const ViewGrid& grid, int index,
                      Mosaic& mosaic);

// A map cell at twice the resolution, for screens of twice the pixel density: 512 × 512
// red-green-blue pixels made from four tiles of the next web zoom (one per quarter) or one 512-pixel
// tile.
inline constexpr int kFineCellSize = 2 * kTileSize;
// Cell `index` of a mosaic built for `grid`, each pixel made 2 × 2, into `fine` (resized to
// kFineCellSize square when it is not), leaving the quarters whose bit (1 << q) is set in `keep`.
// Quarters: 0 north-west, 1 north-east, 2 south-west, 3 south-east. False for a cell outside the mosaic.
bool enlarge_mosaic_cell(const Mosaic& mosaic, const ViewGrid& grid, int index, RgbImage& fine, unsigned keep = 0);
// Decodes a sharp tile file (PNG, or JPEG for a ".jpg" name) into `fine`: quarter 0..3 a 256 × 256 tile
// into that quarter, -1 a 512 × 512 tile over the whole cell. True when drawn; false when the file could not
// be decoded or has another size (`fine` unchanged then; the file is left alone).
bool draw_fine_tile(const std::filesystem::path& path, int quarter, RgbImage& fine);

// Draws the square of `ancestor` (a decoded coarser tile) from pixel (sx, sy), `span` pixels a side,
// enlarged over cell `index` of a mosaic built for `grid`: the placeholder of a cell whose own tile
// has not arrived. False (the mosaic unchanged) when the ancestor is smaller than a tile or the cell
// lies outside the mosaic.
bool draw_enlarged_part(const RgbImage& ancestor, int sx, int sy, int span, const ViewGrid& grid, int index,
                        Mosaic& mosaic);

// Make the display bitmap from the mosaic: side 1024 with big_maps, else 512. True; false when the
// allocation failed, the bitmap then absent (the window then says kDisplayBitmapFailedText).
bool build_display_bitmap(bool big_maps, const Mosaic& mosaic, DisplayBitmap& bitmap);
// The display bitmap of the mosaic's own width and height.
bool build_display_bitmap(const Mosaic& mosaic, DisplayBitmap& bitmap);
// The bitmap of `width` × `height` from the mosaic's part that fits (the rest black); false when the
// allocation failed.
bool make_display_bitmap(int width, int height, const Mosaic& mosaic, DisplayBitmap& bitmap);
// Copies cell `index` of a mosaic built for `grid` into a bitmap of the mosaic's size, as
// build_display_bitmap would (overlays on that cell are erased). False when the sizes do not match.
bool copy_cell_to_bitmap(const Mosaic& mosaic, const ViewGrid& grid, int index, DisplayBitmap& bitmap);
inline constexpr const char* kDisplayBitmapFailedText = "Error in displaying the PNG image";

// Copies `pixels` pixels of 3 bytes, swapping the first and third byte of each (red-green-blue in,
// blue-green-red out, or back); a vector shuffle where the processor has one. The ranges must not
// overlap.
void copy_swapping_red_blue(const std::uint8_t* in, std::uint8_t* out, std::size_t pixels);

// A map cell drawn sharp at a device scale of 2, as the window shows it: its picture with the
// overlays of its part of the display bitmap drawn over it, each overlay pixel 2 × 2.
struct FineCell {
    RgbImage image;                     // kFineCellSize square; empty: the cell is not drawn sharp
    unsigned quarters = 0;              // bit q: quarter q shows its sharp tile
    std::vector<std::uint8_t> shown;    // blue-green-red with the overlays drawn in
    std::vector<std::uint32_t> stamps;  // the cell's overlay pixels (v · 256 + u) drawn into `shown`
    std::vector<std::uint64_t> stamped; // the same as one bit a pixel
    unsigned dirty = 0xFu;              // bit q: quarter q of `image` changed since `shown` was made
};
// Draws overlay pixel (u, v) of the cell (0..255 each) into `shown` as its 2 × 2 block.
void stamp_fine_cell(FineCell& cell, int u, int v, const std::uint8_t* bgr);
// The cell's overlays are gone (its part of the bitmap was made again from the mosaic): `shown`
// takes their pixels from the picture again.
void clear_fine_cell_overlays(FineCell& cell);
// Makes `shown` current before it is drawn: the quarters whose picture changed are taken again and
// the overlay pixels in them drawn again from `bitmap`, whose cell's top-left pixel is (x0, y0).
// False when the cell has no sharp picture or lies outside the bitmap.
bool ready_fine_cell(FineCell& cell, const DisplayBitmap& bitmap, int x0, int y0);

// Stamp the 11 × 11 position marker (a yellow disc with black ticks and a black centre) centred on
// bitmap pixel (c, r). Nothing when there is no bitmap; rows from the first one above the top or at
// the bottom edge on are not drawn, nor any row whose first pixel lies left of the bitmap. `greyed`:
// the same shape in light and mid grey, for a position that is no longer current.
void draw_position_marker(DisplayBitmap& bitmap, int c, int r, bool greyed = false);

// A two-pixel-wide line from bitmap pixel (c0, r0) to (c1, r1) in blue-green-red `bgr`, clipped to
// the bitmap; segments wholly outside one side are skipped, and a segment longer than the world (a
// jump round the date line) is not drawn.
void draw_overlay_line(DisplayBitmap& bitmap, long long c0, long long r0, long long c1, long long r1,
                       const std::uint8_t* bgr);
// The outline of the square of side 2 · half + 1 around bitmap pixel (c, r), clipped to the bitmap.
void draw_overlay_square(DisplayBitmap& bitmap, long long c, long long r, int half, const std::uint8_t* bgr);

// Draw the cross-hair through bitmap pixel (c, r): with hair/2 = b > 0 a yellow band of rows r−b..r+b
// and columns c−b..c+b across the bitmap, then with hair > 0 a black row r and column c. Nothing when
// track is on or hair is 0 or less.
void draw_cross_hair(DisplayBitmap& bitmap, int c, int r, bool track, int hair);

}  // namespace vg
