// Pieces the picture files share (png_decode.cpp, jpeg_decode.cpp, mosaic.cpp): owned files,
// allocation without exceptions, and decoding a PNG straight into a mosaic cell. Not an interface.
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <vector>

#include "platform/files.h"
#include "tiles/image_decode.h"

namespace vg::decode_detail {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

inline File open_for_reading(const std::filesystem::path& path) {
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

// A mosaic cell that a tile may be decoded into directly, saving the copy of its pixels.
struct Cell {
    Mosaic& mosaic;
    int x0 = 0;
    int y0 = 0;
    bool written = false;  // set when the rows went straight into the cell
};

// load_png, optionally decoding straight into a mosaic cell: then `out` receives only the size.
bool decode_png(const std::filesystem::path& path, RgbImage& out, Cell* cell, DecodeFailure* why = nullptr);

}  // namespace vg::decode_detail
