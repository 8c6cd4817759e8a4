// The cost of turning a 4 × 4 view of cached PNG tiles into the display bitmap (build_mosaic +
// build_display_bitmap) against the bare libpng decodes of the same 16 files with the same
// transformations, each into its own buffer allocated once (16 decoded tiles have to be somewhere,
// just as the mosaic holds them). The difference is our overhead: file handling, the grey fill,
// placing the tiles and the blue-green-red copy. Also what one JPEG can cost the window at most: the
// largest picture the decoder takes with as many scans as its scan work limit allows, and the time to
// refuse a bomb of 2000 repeated scans.
#include <benchmark/benchmark.h>
#include <png.h>
#include <stdlib.h>

#include <csetjmp>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/jpeg_files.h"
#include "support/test_paths.h"
#include "tiles/image_decode.h"

namespace {

namespace fs = std::filesystem;

// 16 cached copies of one bench picture in a scratch folder, removed at exit.
struct TileSet {
    vg::test::TempDir scratch;
    fs::path dir = scratch.path();
    vg::TilePathTable table;
    std::vector<std::string> files;

    explicit TileSet(const char* picture) {
        for (int i = 0; i < vg::kTileSlots; ++i) {
            const fs::path file = dir / ("tile" + std::to_string(i) + ".png");
            fs::copy_file(fs::path(VG_TESTDATA) / "images/bench" / picture, file);
            table.slots[i] = file.string();
            files.push_back(file.string());
        }
    }
};

const TileSet& rgb_tiles() {
    static const TileSet set("map256-rgb.png");
    return set;
}
const TileSet& palette_tiles() {
    static const TileSet set("map256-palette.png");
    return set;
}

[[noreturn]] void on_png_error(png_structp png, png_const_charp) { png_longjmp(png, 1); }

bool bare_decode(png_structp png, png_infop info, std::FILE* f, std::vector<png_byte>& buffer,
                 std::vector<png_bytep>& rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, f);
    png_read_info(png, info);
    png_uint_32 w, h;
    int depth, type;
    png_get_IHDR(png, info, &w, &h, &depth, &type, nullptr, nullptr, nullptr);
    if (depth == 16) png_set_strip_16(png);
    if (type == PNG_COLOR_TYPE_PALETTE || depth < 8 || png_get_valid(png, info, PNG_INFO_tRNS)) png_set_expand(png);
    if (type == PNG_COLOR_TYPE_GRAY || type == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
    double gamma;
    if (png_get_gAMA(png, info, &gamma)) png_set_gamma(png, 2.2, gamma);
    png_read_update_info(png, info);
    const std::size_t row_bytes = png_get_rowbytes(png, info);
    if (buffer.size() < row_bytes * h) buffer.resize(row_bytes * h);
    rows.resize(h);
    for (png_uint_32 y = 0; y < h; ++y) rows[y] = buffer.data() + y * row_bytes;
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    return true;
}

void bare_libpng(benchmark::State& state, const TileSet& set) {
    std::vector<std::vector<png_byte>> buffers(set.files.size());
    std::vector<png_bytep> rows;
    for (auto _ : state) {
        for (std::size_t i = 0; i < set.files.size(); ++i) {
            std::FILE* f = std::fopen(set.files[i].c_str(), "rb");
            png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, on_png_error, nullptr);
            png_infop info = png_create_info_struct(png);
            if (!bare_decode(png, info, f, buffers[i], rows)) state.SkipWithError("decode failed");
            png_destroy_read_struct(&png, &info, nullptr);
            std::fclose(f);
        }
        benchmark::DoNotOptimize(buffers.data());
    }
}

void mosaic_and_bitmap(benchmark::State& state, const TileSet& set) {
    vg::Mosaic mosaic;
    vg::DisplayBitmap bitmap;
    for (auto _ : state) {
        if (!vg::build_mosaic(set.table, vg::MapSource::OpenStreetMap, false, true, mosaic) ||
            !vg::build_display_bitmap(true, mosaic, bitmap))
            state.SkipWithError("build failed");
        benchmark::DoNotOptimize(bitmap.pixels());
    }
    for (const std::string& file : set.files)
        if (!fs::exists(file)) state.SkipWithError("a tile was refused and deleted");
}

void BM_BareLibpng16Rgb(benchmark::State& s) { bare_libpng(s, rgb_tiles()); }
void BM_MosaicAndBitmap16Rgb(benchmark::State& s) { mosaic_and_bitmap(s, rgb_tiles()); }
void BM_BareLibpng16Palette(benchmark::State& s) { bare_libpng(s, palette_tiles()); }
void BM_MosaicAndBitmap16Palette(benchmark::State& s) { mosaic_and_bitmap(s, palette_tiles()); }

// The bitmap step alone, for the share of the copy.
void BM_DisplayBitmap1024(benchmark::State& state) {
    vg::Mosaic mosaic;
    vg::build_mosaic(vg::TilePathTable{}, vg::MapSource::OpenStreetMap, false, true, mosaic);
    vg::DisplayBitmap bitmap;
    for (auto _ : state) {
        vg::build_display_bitmap(true, mosaic, bitmap);
        benchmark::DoNotOptimize(bitmap.pixels());
    }
}

// One JPEG file of side × side pixels with `repeats` copies of its last scan (10 + repeats scans).
void jpeg_decode(benchmark::State& state, int side, int repeats, bool refused) {
    vg::test::TempDir scratch;
    const fs::path file = scratch.path() / "picture.jpg";
    vg::test::write_file(file, vg::test::with_repeated_last_scan(vg::test::progressive_jpeg(side), repeats));
    vg::RgbImage image;
    for (auto _ : state) {
        if (vg::load_jpeg(file, image) == refused) state.SkipWithError(refused ? "decoded" : "refused");
        benchmark::DoNotOptimize(image.pixels.data());
    }
}

// The work limit's worst case: 4096 × 4096 pixels, 12 scans.
void BM_JpegLargestAllowed(benchmark::State& s) {
    jpeg_decode(s, vg::kMaxDecodedSide, int(vg::kMaxJpegScanPixels / (vg::kMaxDecodedSide * vg::kMaxDecodedSide)) - 10,
                false);
}
// The scan limit's worst case for a tile: 256 × 256 pixels, 64 scans.
void BM_JpegTileMostScans(benchmark::State& s) { jpeg_decode(s, vg::kTileSize, vg::kMaxJpegScans - 10, false); }
void BM_JpegBombRefused4096(benchmark::State& s) { jpeg_decode(s, vg::kMaxDecodedSide, 2000, true); }
void BM_JpegBombRefused256(benchmark::State& s) { jpeg_decode(s, vg::kTileSize, 2000, true); }

BENCHMARK(BM_BareLibpng16Rgb)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MosaicAndBitmap16Rgb)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareLibpng16Palette)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MosaicAndBitmap16Palette)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DisplayBitmap1024)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegLargestAllowed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegTileMostScans)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegBombRefused4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegBombRefused256)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
