// The PNG writer (libpng): the maps vortool renders and the tiles drawn here.
#include <png.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/diagnostics.h"
#include "platform/files.h"
#include "tiles/image_decode.h"

namespace vg {
namespace {

[[noreturn]] void png_write_error(png_structp png, png_const_charp message) {
    report(std::string("libpng error: ") + message, DiagnosticStream::Error);
    png_longjmp(png, 1);
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// Everything with a destructor lives in the caller's frame; libpng may jump back to the setjmp.
bool write_png_protected(png_structp png, png_infop info, std::FILE* file, const RgbImage& image,
                         std::vector<png_bytep>& rows, int level) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    png_set_IHDR(png, info, image.width, image.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (level >= 0) {
        png_set_compression_level(png, level);
        // At the fast levels the row filters cost more time than they save bytes.
        if (level <= 2) png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    }
    png_write_info(png, info);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    return true;
}

}  // namespace

bool write_png(const std::filesystem::path& path, const RgbImage& image, int level) {
    if (image.width < 1 || image.height < 1 ||
        image.pixels.size() != std::size_t(image.width) * std::size_t(image.height) * 3)
        return false;
    std::unique_ptr<std::FILE, FileCloser> f(open_stream(path, "wb"));
    if (!f) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, png_write_error, nullptr);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    std::vector<png_bytep> rows(static_cast<std::size_t>(image.height));
    for (int y = 0; y < image.height; ++y)
        rows[static_cast<std::size_t>(y)] =
            const_cast<png_bytep>(image.pixels.data() + std::size_t(y) * std::size_t(image.width) * 3);
    const bool ok = info && write_png_protected(png, info, f.get(), image, rows, level > 9 ? 9 : level);
    png_destroy_write_struct(&png, info ? &info : nullptr);
    return ok && std::fclose(f.release()) == 0;
}

}  // namespace vg
