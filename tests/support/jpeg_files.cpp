#include "support/jpeg_files.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>

namespace vg::test {

std::string progressive_jpeg(int side) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = cinfo.image_height = JDIMENSION(side);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(std::size_t(side) * 3);
    while (cinfo.next_scanline < cinfo.image_height) {
        for (int x = 0; x < side; ++x) {
            row[x * 3] = JSAMPLE(x);
            row[x * 3 + 1] = JSAMPLE(cinfo.next_scanline);
            row[x * 3 + 2] = JSAMPLE(x ^ cinfo.next_scanline);
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::string file(reinterpret_cast<const char*>(buffer), size);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return file;
}

std::string with_repeated_last_scan(const std::string& file, int repeats) {
    // Entropy-coded data stuffs every 0xFF byte, so FF DA is only ever a start-of-scan marker.
    const auto last_scan = file.rfind("\xFF\xDA");
    const auto end = file.size() - 2;  // the end-of-image marker
    if (last_scan == std::string::npos || last_scan > end) return file;
    const std::string scan = file.substr(last_scan, end - last_scan);
    std::string bomb = file.substr(0, end);
    for (int i = 0; i < repeats; ++i) bomb += scan;
    return bomb + file.substr(end);
}

}  // namespace vg::test
