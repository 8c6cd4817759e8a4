// Fuzzes the view builder over a cache of damaged tile files: the input chooses the source, layer
// and grid size, then is cut into up to four tile files at each "\n--\n". The mosaic and display
// bitmap are built from them and both overlays drawn; undecodable files must be deleted and nothing
// read or written out of bounds.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>

#include "tiles/image_decode.h"

namespace {

// One scratch folder per process, removed at exit.
struct Scratch {
    std::filesystem::path dir;
    Scratch() {
        std::random_device random;
        for (int attempt = 0; attempt < 100 && dir.empty(); ++attempt) {
            const auto candidate =
                std::filesystem::temp_directory_path() / ("vgfuzz-mosaic-" + std::to_string(random()) + std::to_string(random()));
            std::error_code ec;
            if (std::filesystem::create_directory(candidate, ec) && !ec) dir = candidate;
        }
        if (dir.empty()) std::abort();
    }
    ~Scratch() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

const std::filesystem::path& scratch() {
    static const Scratch s;
    return s.dir;
}

void write_file(const std::string& path, std::string_view bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t mode = data[0];
    const auto source = static_cast<vg::MapSource>(1 + mode % 5);
    const bool aerial = (mode & 0x08) != 0;
    const bool big_maps = (mode & 0x80) != 0;
    std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);

    vg::TilePathTable table;
    const int cells = big_maps ? 16 : 4;
    for (int i = 0; i < 4 && !rest.empty(); ++i) {
        const auto cut = rest.find("\n--\n");
        const std::string_view piece = rest.substr(0, cut);
        rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 4);
        const std::string path = (scratch() / ("tile" + std::to_string(i))).string();
        write_file(path, piece);
        // Spread the files over the grid so that pasting reaches every edge.
        table.slots[(i * 5 + (mode >> 4)) % cells] = path;
    }

    vg::Mosaic mosaic;
    vg::DisplayBitmap bitmap;
    if (!vg::build_mosaic(table, source, aerial, big_maps, mosaic)) std::abort();
    if (!vg::build_display_bitmap(big_maps, mosaic, bitmap)) std::abort();
    const int c = static_cast<int>(size % 1100) - 40;
    const int r = static_cast<int>((size * 7) % 1100) - 40;
    vg::draw_cross_hair(bitmap, c, r, false, mode % 12 - 2);
    vg::draw_position_marker(bitmap, c, r);

    std::error_code ec;
    for (const auto& slot : table.slots)
        if (!slot.empty()) std::filesystem::remove(slot, ec);
    return 0;
}
