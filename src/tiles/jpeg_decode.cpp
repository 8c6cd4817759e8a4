// The JPEG decoder (libjpeg).
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>
#include <jerror.h>

#include "tiles/decode_detail.h"
#include "tiles/image_decode.h"

namespace vg {

using decode_detail::File;
using decode_detail::open_for_reading;
using decode_detail::try_resize;

namespace {

static_assert(JPEG_LIB_VERSION == 62, "the JPEG decoder is written for the libjpeg 6b interface");

struct JpegErrors {
    jpeg_error_mgr manager;  // first, so the library's pointer to it is a pointer to the whole
    std::jmp_buf jump;
    DecodeFailure failure = DecodeFailure::Damaged;  // what a jump back means
};

[[noreturn]] void jpeg_error_exit(j_common_ptr cinfo) {
    auto* errors = reinterpret_cast<JpegErrors*>(cinfo->err);
    switch (errors->manager.msg_code) {
    case JERR_NO_SOI: errors->failure = DecodeFailure::Unreadable; break;
    case JERR_OUT_OF_MEMORY: errors->failure = DecodeFailure::NoMemory; break;
    default: errors->failure = DecodeFailure::Damaged; break;
    }
    std::longjmp(errors->jump, 1);
}

// Called by the library as it reads the file's scans (once an iMCU row): abandons a file with more
// scans, or more scan work, than any tile needs.
void jpeg_scan_limit(j_common_ptr common) {
    auto* cinfo = reinterpret_cast<j_decompress_ptr>(common);
    const long long scans = cinfo->input_scan_number;
    if (scans > kMaxJpegScans ||
        scans * static_cast<long long>(cinfo->image_width) * cinfo->image_height > kMaxJpegScanPixels) {
        auto* errors = reinterpret_cast<JpegErrors*>(cinfo->err);
        errors->failure = DecodeFailure::TooManyScans;
        std::longjmp(errors->jump, 1);
    }
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
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) return false;
    if (cinfo.image_width > JDIMENSION(kMaxDecodedSide) || cinfo.image_height > JDIMENSION(kMaxDecodedSide)) {
        errors.failure = DecodeFailure::TooLarge;
        return false;
    }
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
        !try_resize(scanline, std::size_t(width) * std::max(components, 1))) {
        errors.failure = DecodeFailure::NoMemory;
        return false;
    }

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


// load_jpeg's work, saying how it ended.
DecodeFailure decode_jpeg(const std::filesystem::path& path, RgbImage& out) {
    std::vector<std::uint8_t> image = std::move(out.pixels);  // reused, as for PNG
    out = RgbImage{};
    File file = open_for_reading(path);
    if (!file) return DecodeFailure::Unreadable;

    jpeg_decompress_struct cinfo{};
    JpegErrors errors;
    cinfo.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = jpeg_error_exit;
    // Creation itself can fail, only for memory; the error exit then lands here.
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return DecodeFailure::NoMemory;
    }
    jpeg_CreateDecompress(&cinfo, JPEG_LIB_VERSION, sizeof cinfo);
    jpeg_progress_mgr progress{};
    progress.progress_monitor = jpeg_scan_limit;
    cinfo.progress = &progress;

    std::vector<JSAMPLE> scanline;
    RgbImage result;
    const bool ok = read_jpeg_protected(cinfo, errors, file.get(), image, scanline, result);
    jpeg_destroy_decompress(&cinfo);
    if (!ok) return errors.failure;
    result.pixels = std::move(image);
    out = std::move(result);
    return DecodeFailure::None;
}

}  // namespace

bool load_jpeg(const std::filesystem::path& path, RgbImage& out, DecodeFailure* why) {
    const DecodeFailure failure = decode_jpeg(path, out);
    if (why) *why = failure;
    return failure == DecodeFailure::None;
}

}  // namespace vg
