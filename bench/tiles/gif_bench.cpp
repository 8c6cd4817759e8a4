// GIF decode and encode against giflib on the same pictures, one thread, all in memory.
//
// Method: the giflib side does what a tile reader or writer built on giflib would do. Decode:
// DGifOpen on the bytes, skip extensions, DGifGetLine row by row, each index looked up in the colour
// table into a 24-bit RGB buffer. Encode: each RGB pixel mapped to the fixed palette index
// (same formula as ours), EGifPutScreenDesc with the 256-entry fixed palette, EGifPutLine row by row
// into a growing memory buffer, GIF87a. Ours: gif_read into an RgbImage, gif_write into a byte
// vector, both reused between iterations as the giflib buffers are. The pictures are the shared
// deterministic map-like and relief-like tiles (written by giflib with the fixed palette).
#include <benchmark/benchmark.h>
#include <gif_lib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tiles/gif_codec.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes load(const std::string& name) {
    std::ifstream in(std::string(VG_TESTDATA) + "/images/bench/" + name, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct MemoryIn {
    const Bytes* bytes;
    std::size_t pos;
};

int read_memory(GifFileType* gif, GifByteType* out, int n) {
    auto* in = static_cast<MemoryIn*>(gif->UserData);
    const std::size_t left = in->bytes->size() - in->pos;
    const std::size_t count = std::min(static_cast<std::size_t>(n), left);
    std::memcpy(out, in->bytes->data() + in->pos, count);
    in->pos += count;
    return static_cast<int>(count);
}

int write_memory(GifFileType* gif, const GifByteType* data, int n) {
    auto* out = static_cast<Bytes*>(gif->UserData);
    out->insert(out->end(), data, data + n);
    return n;
}

// Decodes a full-screen, non-interlaced first image with giflib; false on any error.
bool giflib_decode(const Bytes& bytes, std::vector<std::uint8_t>& rgb, std::vector<GifByteType>& row) {
    MemoryIn in{&bytes, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&in, read_memory, &error);
    if (!gif) return false;
    GifRecordType type;
    bool ok = false;
    while (DGifGetRecordType(gif, &type) == GIF_OK && type != TERMINATE_RECORD_TYPE) {
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* ext = nullptr;
            DGifGetExtension(gif, &code, &ext);
            while (ext) DGifGetExtensionNext(gif, &ext);
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE || DGifGetImageDesc(gif) != GIF_OK) break;
        const ColorMapObject* map = gif->Image.ColorMap ? gif->Image.ColorMap : gif->SColorMap;
        const int w = gif->Image.Width, h = gif->Image.Height;
        rgb.resize(static_cast<std::size_t>(w) * h * 3);
        row.resize(static_cast<std::size_t>(w));
        ok = true;
        for (int y = 0; y < h && ok; ++y) {
            ok = DGifGetLine(gif, row.data(), w) == GIF_OK;
            std::uint8_t* o = rgb.data() + static_cast<std::size_t>(y) * w * 3;
            for (int x = 0; x < w; ++x, o += 3) {
                const GifColorType c = map->Colors[row[static_cast<std::size_t>(x)]];
                o[0] = c.Red;
                o[1] = c.Green;
                o[2] = c.Blue;
            }
        }
        break;
    }
    DGifCloseFile(gif, &error);
    return ok;
}

bool giflib_encode(const vg::RgbImage& image, Bytes& out, std::vector<GifByteType>& row) {
    static ColorMapObject* palette = [] {
        GifColorType colours[256];
        for (int i = 0; i < 256; ++i) {
            const vg::PaletteColour c = vg::fixed_palette_colour(i);
            colours[i] = GifColorType{c.red, c.green, c.blue};
        }
        return GifMakeMapObject(256, colours);
    }();
    out.clear();
    int error = 0;
    GifFileType* gif = EGifOpen(&out, write_memory, &error);
    if (!gif) return false;
    EGifSetGifVersion(gif, false);
    bool ok = EGifPutScreenDesc(gif, image.width, image.height, 8, 0, palette) == GIF_OK &&
              EGifPutImageDesc(gif, 0, 0, image.width, image.height, false, nullptr) == GIF_OK;
    row.resize(static_cast<std::size_t>(image.width));
    for (int y = 0; y < image.height && ok; ++y) {
        const std::uint8_t* p = image.pixels.data() + static_cast<std::size_t>(y) * image.width * 3;
        for (int x = 0; x < image.width; ++x, p += 3)
            row[static_cast<std::size_t>(x)] = static_cast<GifByteType>(vg::fixed_palette_index(p[0], p[1], p[2]));
        ok = EGifPutLine(gif, row.data(), image.width) == GIF_OK;
    }
    return EGifCloseFile(gif, &error) == GIF_OK && ok;
}

void set_rates(benchmark::State& state, std::size_t rgb_bytes) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * rgb_bytes));
}

void BM_DecodeOurs(benchmark::State& state, const char* name) {
    const Bytes gif = load(name);
    vg::RgbImage image;
    std::vector<std::uint8_t> reference, row;
    if (!vg::gif_read(gif.data(), gif.size(), image) || !giflib_decode(gif, reference, row) || image.pixels != reference) {
        state.SkipWithError("decode differs from giflib");
        return;
    }
    for (auto _ : state) {
        vg::gif_read(gif.data(), gif.size(), image);
        benchmark::DoNotOptimize(image.pixels.data());
    }
    set_rates(state, image.pixels.size());
}

void BM_DecodeGiflib(benchmark::State& state, const char* name) {
    const Bytes gif = load(name);
    std::vector<std::uint8_t> rgb, row;
    if (!giflib_decode(gif, rgb, row)) {
        state.SkipWithError("giflib cannot decode the picture");
        return;
    }
    for (auto _ : state) {
        giflib_decode(gif, rgb, row);
        benchmark::DoNotOptimize(rgb.data());
    }
    set_rates(state, rgb.size());
}

void BM_EncodeOurs(benchmark::State& state, const char* name) {
    const Bytes gif = load(name);
    vg::RgbImage image;
    Bytes out;
    if (!vg::gif_read(gif.data(), gif.size(), image) || !vg::gif_write(image, out)) {
        state.SkipWithError("cannot prepare the picture");
        return;
    }
    for (auto _ : state) {
        vg::gif_write(image, out);
        benchmark::DoNotOptimize(out.data());
    }
    set_rates(state, image.pixels.size());
    state.counters["gif_bytes"] = static_cast<double>(out.size());
}

void BM_EncodeGiflib(benchmark::State& state, const char* name) {
    const Bytes gif = load(name);
    vg::RgbImage image;
    Bytes out;
    std::vector<GifByteType> row;
    if (!vg::gif_read(gif.data(), gif.size(), image) || !giflib_encode(image, out, row)) {
        state.SkipWithError("cannot prepare the picture");
        return;
    }
    for (auto _ : state) {
        giflib_encode(image, out, row);
        benchmark::DoNotOptimize(out.data());
    }
    set_rates(state, image.pixels.size());
    state.counters["gif_bytes"] = static_cast<double>(out.size());
}

}  // namespace

BENCHMARK_CAPTURE(BM_DecodeOurs, map256, "map256.gif");
BENCHMARK_CAPTURE(BM_DecodeGiflib, map256, "map256.gif");
BENCHMARK_CAPTURE(BM_EncodeOurs, map256, "map256.gif");
BENCHMARK_CAPTURE(BM_EncodeGiflib, map256, "map256.gif");
BENCHMARK_CAPTURE(BM_DecodeOurs, relief256, "relief256.gif");
BENCHMARK_CAPTURE(BM_DecodeGiflib, relief256, "relief256.gif");
BENCHMARK_CAPTURE(BM_EncodeOurs, relief256, "relief256.gif");
BENCHMARK_CAPTURE(BM_EncodeGiflib, relief256, "relief256.gif");
BENCHMARK_CAPTURE(BM_DecodeOurs, map1024, "map1024.gif");
BENCHMARK_CAPTURE(BM_DecodeGiflib, map1024, "map1024.gif");
BENCHMARK_CAPTURE(BM_EncodeOurs, map1024, "map1024.gif");
BENCHMARK_CAPTURE(BM_EncodeGiflib, map1024, "map1024.gif");

BENCHMARK_MAIN();
