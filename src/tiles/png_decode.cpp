// The PNG decoder (libpng).
#include <png.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/diagnostics.h"
#include "tiles/decode_detail.h"
#include "tiles/image_decode.h"

namespace vg {

namespace decode_detail {

namespace {

[[noreturn]] void png_error_exit(png_structp png, png_const_charp message) {
    report(std::string("libpng error: ") + message, DiagnosticStream::Error);
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

// The part of the decode that libpng may abandon by a long jump back to the setjmp below. Every
// object with a destructor lives in the caller's frame, so the jump skips nothing that needs
// cleaning; this frame holds only plain values.
bool read_png_protected(png_structp png, png_infop info, std::FILE* file, std::vector<std::uint8_t>& image,
                        std::vector<png_bytep>& rows, RgbImage& out, Cell* cell, DecodeFailure& failure) {
    if (setjmp(png_jmpbuf(png))) return false;

    png_init_io(png, file);
    png_set_sig_bytes(png, 8);
    // The sides are checked here below, so that a large picture is told from a broken one; libpng's
    // own limit (a million) would refuse some first as damaged.
    png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    png_read_info(png, info);

    png_uint_32 width = 0, height = 0;
    int bit_depth = 0, colour_type = 0;
    png_get_IHDR(png, info, &width, &height, &bit_depth, &colour_type, nullptr, nullptr, nullptr);
    if (width > png_uint_32(kMaxDecodedSide) || height > png_uint_32(kMaxDecodedSide)) {
        failure = DecodeFailure::TooLarge;
        return false;
    }

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
        if (!try_resize(rows, height)) {
            failure = DecodeFailure::NoMemory;
            return false;
        }
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

    if (!try_resize(image, row_bytes * height) || !try_resize(rows, height)) {
        failure = DecodeFailure::NoMemory;
        return false;
    }
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

}  // namespace

// load_png, optionally decoding straight into a mosaic cell: then `out` receives only the size.
bool decode_png(const std::filesystem::path& path, RgbImage& out, Cell* cell, DecodeFailure* why) {
    DecodeFailure ignored;
    DecodeFailure& failure = why ? *why : ignored;
    failure = DecodeFailure::Unreadable;
    // The caller's buffer is reused for the pixels, so that decoding tile after tile into one
    // picture allocates once.
    std::vector<std::uint8_t> image = std::move(out.pixels);
    out = RgbImage{};
    File file = open_for_reading(path);
    if (!file) return false;
    png_byte signature[8];
    if (std::fread(signature, 1, sizeof signature, file.get()) != sizeof signature ||
        png_sig_cmp(signature, 0, sizeof signature) != 0)
        return false;

    failure = DecodeFailure::NoMemory;
    PngReader reader;
    reader.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, png_error_exit, nullptr);
    if (!reader.png) return false;
    reader.info = png_create_info_struct(reader.png);
    if (!reader.info) return false;

    std::vector<png_bytep> rows;
    RgbImage result;
    failure = DecodeFailure::Damaged;
    if (!read_png_protected(reader.png, reader.info, file.get(), image, rows, result, cell, failure)) return false;
    failure = DecodeFailure::None;
    result.pixels = std::move(image);
    out = std::move(result);
    return true;
}

}  // namespace decode_detail

bool load_png(const std::filesystem::path& path, RgbImage& out, DecodeFailure* why) {
    return decode_detail::decode_png(path, out, nullptr, why);
}

}  // namespace vg
