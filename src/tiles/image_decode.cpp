#include "tiles/image_decode.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VG_HAVE_SSSE3_PATH 1
#endif

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>

#include "platform/files.h"
#include "platform/window.h"
#include "tiles/gif_codec.h"

namespace vg {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File open_for_reading(const std::filesystem::path& path) {
    if (path.empty()) return nullptr;
    return File(open_stream(path, "rb"));
}

// Resize without letting an allocation failure escape: false when the memory is not there.
template <typename T>
bool try_resize(std::vector<T>& v, std::size_t n) {
    try {
        v.resize(n);
        return true;
    } catch (const std::bad_alloc&) {
        v = {};
        return false;
    }
}

// ---------------------------------------------------------------------------------------------- PNG

[[noreturn]] void png_error_exit(png_structp png, png_const_charp message) {
    std::fprintf(stderr, "libpng error: %s\n", message);
    png_longjmp(png, 1);
}

// Owns libpng's read and info structures.
struct PngReader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngReader() {
        if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    }
};

// A mosaic cell that a tile may be decoded into directly, saving the copy of its pixels.
struct Cell {
    Mosaic& mosaic;
    int x0 = 0;
    int y0 = 0;
    bool written = false;  // set when the rows went straight into the cell
};

int decode_png(const std::filesystem::path& path, RgbImage& out, Cell* cell);

// The part of the decode that libpng may abandon by a long jump back to the setjmp below. Every
// object with a destructor lives in the caller's frame, so the jump skips nothing that needs
// cleaning; this frame holds only plain values.
bool read_png_protected(png_structp png, png_infop info, std::FILE* file, std::vector<std::uint8_t>& image,
                        std::vector<png_bytep>& rows, RgbImage& out, Cell* cell) {
    if (setjmp(png_jmpbuf(png))) return false;

    png_init_io(png, file);
    png_set_sig_bytes(png, 8);
    png_set_user_limits(png, kMaxDecodedSide, kMaxDecodedSide);
    png_read_info(png, info);

    png_uint_32 width = 0, height = 0;
    int bit_depth = 0, colour_type = 0;
    png_get_IHDR(png, info, &width, &height, &bit_depth, &colour_type, nullptr, nullptr, nullptr);

    if (bit_depth == 16) png_set_strip_16(png);
    if (colour_type == PNG_COLOR_TYPE_PALETTE) png_set_expand(png);
    if (bit_depth < 8) png_set_expand(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_expand(png);
    if (colour_type == PNG_COLOR_TYPE_GRAY || colour_type == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
    png_color_16p background = nullptr;
    if (png_get_bKGD(png, info, &background)) {
        png_set_background(png, background, PNG_BACKGROUND_GAMMA_FILE, 1, 1.0);
    }
    double file_gamma = 0.0;
    if (png_get_gAMA(png, info, &file_gamma)) png_set_gamma(png, 2.2, file_gamma);
    // Interlaced files are read whole; saying so up front spares libpng's warning about it.
    png_set_interlace_handling(png);

    png_read_update_info(png, info);
    png_get_IHDR(png, info, &width, &height, &bit_depth, &colour_type, nullptr, nullptr, nullptr);
    const std::size_t row_bytes = png_get_rowbytes(png, info);
    const int channels = png_get_channels(png, info);
    // After the transformations every image is 8-bit red-green-blue, with or without alpha.
    if (bit_depth != 8 || (channels != 3 && channels != 4) || row_bytes != std::size_t(width) * channels)
        return false;

    if (cell && channels == 3 && width <= png_uint_32(kTileSize) && height <= png_uint_32(kTileSize)) {
        // Fits its cell as it is: decode straight into the mosaic's rows.
        if (!try_resize(rows, height)) return false;
        const std::size_t stride = std::size_t(cell->mosaic.width) * 3;
        std::uint8_t* origin = cell->mosaic.pixels.data() + std::size_t(cell->y0) * stride + std::size_t(cell->x0) * 3;
        for (png_uint_32 y = 0; y < height; ++y) rows[y] = origin + y * stride;
        cell->written = true;
        png_read_image(png, rows.data());
        png_read_end(png, nullptr);
        out.width = static_cast<int>(width);
        out.height = static_cast<int>(height);
        return true;
    }

    if (!try_resize(image, row_bytes * height) || !try_resize(rows, height)) return false;
    for (png_uint_32 y = 0; y < height; ++y) rows[y] = image.data() + y * row_bytes;
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);

    if (channels == 4) {
        // Drop every alpha byte, compacting in place.
        const std::size_t count = std::size_t(width) * height;
        std::uint8_t* p = image.data();
        for (std::size_t i = 0; i < count; ++i) {
            p[3 * i] = p[4 * i];
            p[3 * i + 1] = p[4 * i + 1];
            p[3 * i + 2] = p[4 * i + 2];
        }
        image.resize(count * 3);
    }
    out.width = static_cast<int>(width);
    out.height = static_cast<int>(height);
    return true;
}

// --------------------------------------------------------------------------------------------- JPEG

static_assert(JPEG_LIB_VERSION == 62, "the JPEG decoder is written for the libjpeg 6b interface");

struct JpegErrors {
    jpeg_error_mgr manager;  // first, so the library's pointer to it is a pointer to the whole
    std::jmp_buf jump;
};

[[noreturn]] void jpeg_error_exit(j_common_ptr cinfo) {
    auto* errors = reinterpret_cast<JpegErrors*>(cinfo->err);
    std::longjmp(errors->jump, 1);
}

// Converts one decoded scanline of `components` samples a pixel into a red-green-blue row.
void convert_scanline(const JSAMPLE* in, int components, int width, std::uint8_t* out) {
    switch (components) {
    case 1:
        for (int x = 0; x < width; ++x, out += 3) out[0] = out[1] = out[2] = in[x];
        break;
    case 4:
        // CMYK as the library delivers it: each colour byte plus the fourth byte, less 256, clamped.
        for (int x = 0; x < width; ++x, in += 4, out += 3) {
            const int k = in[3];
            for (int j = 0; j < 3; ++j) out[j] = static_cast<std::uint8_t>(std::clamp(in[j] + k - 256, 0, 255));
        }
        break;
    default:
        std::memset(out, 0, std::size_t(width) * 3);  // no sensible colour reading: black
        break;
    }
}

// The decode proper, which the library may abandon by a long jump to the setjmp below; as with
// PNG, everything with a destructor lives in the caller's frame.
bool read_jpeg_protected(jpeg_decompress_struct& cinfo, JpegErrors& errors, std::FILE* file,
                         std::vector<std::uint8_t>& image, std::vector<JSAMPLE>& scanline, RgbImage& out) {
    if (setjmp(errors.jump)) return false;

    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    if (cinfo.image_width > JDIMENSION(kMaxDecodedSide) || cinfo.image_height > JDIMENSION(kMaxDecodedSide))
        return false;
#ifdef JCS_EXTENSIONS
    // Plain JCS_RGB output follows the library's build-time component order; ask for red, green,
    // blue explicitly where the library can say so.
    if (cinfo.out_color_space == JCS_RGB) cinfo.out_color_space = JCS_EXT_RGB;
#endif
    jpeg_start_decompress(&cinfo);

    const int width = static_cast<int>(cinfo.output_width);
    const int height = static_cast<int>(cinfo.output_height);
    const int components = cinfo.output_components;
    if (!try_resize(image, std::size_t(width) * 3 * height) ||
        !try_resize(scanline, std::size_t(width) * std::max(components, 1)))
        return false;

    while (cinfo.output_scanline < cinfo.output_height) {
        const int y = static_cast<int>(cinfo.output_scanline);
        std::uint8_t* out_row = image.data() + std::size_t(y) * width * 3;
        // Three components are already the result row; the others are converted from a scratch row.
        JSAMPROW row = components == 3 ? out_row : scanline.data();
        if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) return false;
        if (components != 3) convert_scanline(scanline.data(), components, width, out_row);
    }
    jpeg_finish_decompress(&cinfo);
    out.width = width;
    out.height = height;
    return true;
}

// -------------------------------------------------------------------------------- mosaic and bitmap

enum class Decoder { Png, Jpeg, Gif };

Decoder decoder_for(MapSource source, bool aerial) {
    const int s = static_cast<int>(source);
    if (source == MapSource::Etopo2) return Decoder::Gif;
    if (aerial && s >= 3 && s <= 5) return Decoder::Jpeg;
    if (source == MapSource::MapQuest) return Decoder::Gif;
    return Decoder::Png;
}

int decode_tile(Decoder decoder, const std::filesystem::path& path, RgbImage& image, Cell& cell) {
    switch (decoder) {
    case Decoder::Png:
        return decode_png(path, image, &cell);
    case Decoder::Jpeg:
        return load_jpeg(path, image);
    case Decoder::Gif:
        return gif_read_file(path, image);
    }
    return 0;
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

// Copies n pixels, swapping red and blue: red-green-blue in, blue-green-red out (or back).
void swap_red_blue_plain(const std::uint8_t* in, std::uint8_t* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i, in += 3, out += 3) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
    }
}

#ifdef VG_HAVE_SSSE3_PATH
// Five pixels a step with one byte shuffle. Each step loads and stores 16 bytes, the last of which
// belongs to the next pixel and is rewritten by the next step or the plain tail, so the steps stop
// while a whole 16 bytes still lie inside both rows.
__attribute__((target("ssse3"))) void swap_red_blue_ssse3(const std::uint8_t* in, std::uint8_t* out,
                                                          std::size_t n) {
    const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    std::size_t i = 0;
    for (; i + 6 <= n; i += 5) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 3 * i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * i), _mm_shuffle_epi8(v, order));
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

// Sets one bitmap pixel from red, green and blue.
inline void set_pixel(std::uint8_t* row, int column, std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    std::uint8_t* p = row + std::size_t(column) * 3;
    p[0] = blue;
    p[1] = green;
    p[2] = red;
}

void paint_row(DisplayBitmap& bitmap, int r, std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    if (r < 0 || r >= bitmap.side()) return;
    std::uint8_t* row = bitmap.row(r);
    for (int x = 0; x < bitmap.side(); ++x) set_pixel(row, x, red, green, blue);
}

void paint_column(DisplayBitmap& bitmap, int c, std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    if (c < 0 || c >= bitmap.side()) return;
    for (int y = 0; y < bitmap.side(); ++y) set_pixel(bitmap.row(y), c, red, green, blue);
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

namespace {

// load_png, optionally decoding straight into a mosaic cell: then `out` receives only the size.
int decode_png(const std::filesystem::path& path, RgbImage& out, Cell* cell) {
    // The caller's buffer is reused for the pixels, so that decoding tile after tile into one
    // picture allocates once.
    std::vector<std::uint8_t> image = std::move(out.pixels);
    out = RgbImage{};
    File file = open_for_reading(path);
    if (!file) return 0;
    png_byte signature[8];
    if (std::fread(signature, 1, sizeof signature, file.get()) != sizeof signature ||
        png_sig_cmp(signature, 0, sizeof signature) != 0)
        return 0;

    PngReader reader;
    reader.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, png_error_exit, nullptr);
    if (!reader.png) return 0;
    reader.info = png_create_info_struct(reader.png);
    if (!reader.info) return 0;

    std::vector<png_bytep> rows;
    RgbImage result;
    if (!read_png_protected(reader.png, reader.info, file.get(), image, rows, result, cell)) return 0;
    result.pixels = std::move(image);
    out = std::move(result);
    return 1;
}

}  // namespace

int load_png(const std::filesystem::path& path, RgbImage& out) { return decode_png(path, out, nullptr); }

int load_jpeg(const std::filesystem::path& path, RgbImage& out) {
    std::vector<std::uint8_t> image = std::move(out.pixels);  // reused, as for PNG
    out = RgbImage{};
    File file = open_for_reading(path);
    if (!file) return 0;

    jpeg_decompress_struct cinfo{};
    JpegErrors errors;
    cinfo.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = jpeg_error_exit;
    // Creation itself can fail (for memory); the error exit then lands here.
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return 0;
    }
    jpeg_CreateDecompress(&cinfo, JPEG_LIB_VERSION, sizeof cinfo);

    std::vector<JSAMPLE> scanline;
    RgbImage result;
    const bool ok = read_jpeg_protected(cinfo, errors, file.get(), image, scanline, result);
    jpeg_destroy_decompress(&cinfo);
    if (!ok) return 0;
    result.pixels = std::move(image);
    out = std::move(result);
    return 1;
}

int build_mosaic(Window* window, const TilePathTable& table, MapSource source, bool aerial, bool big_maps,
                 Mosaic& mosaic) {
    const int g = big_maps ? 4 : 2;
    const int side = kTileSize * g;
    const std::size_t bytes = std::size_t(side) * side * 3;
    mosaic.width = side;
    mosaic.height = side;
    // Every cell is written below (tile or grey), so a previous mosaic of the same size is simply
    // reused; otherwise it is released first and a grey one allocated.
    if (mosaic.pixels.size() != bytes) {
        mosaic.pixels = {};
        try {
            mosaic.pixels.assign(bytes, kMosaicGrey);
        } catch (const std::bad_alloc&) {
            mosaic.pixels = {};
        }
    }
    if (!mosaic.exists()) {
        if (window) window->warning_box("Error in loading the JPG image");
        return 0;
    }

    const Decoder decoder = decoder_for(source, aerial);
    RgbImage image;
    for (int i = 0; i < g * g; ++i) {
        const int x0 = kTileSize * (i % g);
        const int y0 = kTileSize * (i / g);
        const std::string& path = table.slots[i];
        Cell cell{mosaic, x0, y0};
        if (path.empty()) {
            fill_grey(mosaic, x0, y0, x0 + kTileSize, y0 + kTileSize);
        } else if (!decode_tile(decoder, path, image, cell)) {
            // Delete the damaged file so that the next visit on line fetches it again. unlink never
            // removes a directory that a slot might name by mistake.
            remove_file(path);
            image = RgbImage{};
            fill_grey(mosaic, x0, y0, x0 + kTileSize, y0 + kTileSize);
        } else if (cell.written) {
            fill_uncovered(mosaic, x0, y0, image.width, image.height);
        } else {
            paste_tile(image, mosaic, x0, y0);
        }
    }
    return 1;
}

int build_display_bitmap(bool big_maps, const Mosaic& mosaic, DisplayBitmap& bitmap, Window* window) {
    const int side = big_maps ? 1024 : 512;
    const int stride = DisplayBitmap::stride_for(side);
    const std::size_t bytes = std::size_t(side) * stride + kBitmapHeaderSize;
    // Every byte is written below, so a previous block of the same size is reused; otherwise it is
    // released first.
    if (bitmap.block_.size() != bytes) {
        bitmap.release();
        try {
            bitmap.block_.resize(bytes);
        } catch (const std::bad_alloc&) {
            bitmap.release();
            if (window) window->warning_box("Error in displaying the PNG image");
            return 0;
        }
    }
    bitmap.side_ = side;
    bitmap.stride_ = stride;

    std::uint8_t* h = bitmap.block_.data();
    std::memset(h, 0, kBitmapHeaderSize);
    put_le32(h + 0, kBitmapHeaderSize);  // biSize
    put_le32(h + 4, side);               // biWidth
    put_le32(h + 8, -side);              // biHeight: rows stored top-down
    put_le16(h + 12, 1);                 // biPlanes
    put_le16(h + 14, 24);                // biBitCount
    // biCompression (BI_RGB), biSizeImage, resolutions and colour counts stay 0.

    // The mosaic's part that fits is copied as blue, green, red; the rest of the rows (only when
    // the mosaic is smaller or absent) and the row padding are cleared.
    int rows = 0, columns = 0;
    if (mosaic.exists() && mosaic.width > 0) {
        const std::size_t in_stride = std::size_t(mosaic.width) * 3;
        rows = static_cast<int>(std::min<std::size_t>(
            {std::size_t(std::max(mosaic.height, 0)), std::size_t(side), mosaic.pixels.size() / in_stride}));
        columns = std::min(mosaic.width, side);
        const SwapFn swap_red_blue = pick_swap_red_blue();
        for (int y = 0; y < rows; ++y) {
            std::uint8_t* out = bitmap.row(y);
            swap_red_blue(mosaic.pixels.data() + y * in_stride, out, std::size_t(columns));
            std::memset(out + std::size_t(columns) * 3, 0, std::size_t(stride) - std::size_t(columns) * 3);
        }
    }
    if (rows < side) std::memset(bitmap.row(rows), 0, std::size_t(side - rows) * stride);
    return 1;
}

void draw_position_marker(DisplayBitmap& bitmap, int c, int r) {
    if (!bitmap.exists()) return;
    const int side = bitmap.side();
    for (int i = 0; i < kMarkerSize; ++i) {
        const int y = r - 5 + i;
        if (y < 0 || y >= side) return;
        const int x0 = c - 5;
        if (x0 < 0) continue;
        std::uint8_t* row = bitmap.row(y);
        for (int j = 0; j < kMarkerSize && x0 + j < side; ++j) {
            if (kMarkerMask[i][j] != '1') continue;
            const std::uint8_t v = kMarkerColour[i][j] == '1' ? 0xFF : 0x00;
            set_pixel(row, x0 + j, v, v, 0);
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

}  // namespace vg
