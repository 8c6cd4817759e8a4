#include "tiles/gif_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/pnm.h"
#include "support/test_paths.h"

namespace vg {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

using test::images;

Bytes load(const fs::path& path) {
    const std::string s = test::read_file(path);
    return Bytes(s.begin(), s.end());
}

// ---------------------------------------------------------------------------------------------
// Hand-made streams: a header with a global table, then blocks appended by the test.

// Packs LZW codes least-significant bit first, the way GIF image data is stored.
class CodePacker {
public:
    void add(int code, int width) {
        for (int i = 0; i < width; ++i) {
            if (bit_ % 8 == 0) bytes_.push_back(0);
            if (code & (1 << i)) bytes_.back() |= static_cast<std::uint8_t>(1 << (bit_ % 8));
            ++bit_;
        }
    }
    const Bytes& bytes() const { return bytes_; }

private:
    Bytes bytes_;
    int bit_ = 0;
};

// Minimum code size 2: the clear code, every index as a literal code, the end code. The code width
// grows the way a reader's table does: each code after the first adds an entry.
CodePacker literal_codes(const std::vector<int>& values) {
    CodePacker codes;
    int width = 3, next = 6, limit = 8;
    codes.add(4, width);
    for (std::size_t i = 0; i < values.size(); ++i) {
        codes.add(values[i], width);
        if (i == 0) continue;
        if (++next >= limit && limit < 4096) {
            limit *= 2;
            ++width;
        }
    }
    codes.add(5, width);
    return codes;
}

struct GifBuilder {
    Bytes bytes;

    // Screen of w × h with a global table of 4 entries: 0 red, 1 green, 2 blue, 3 white.
    GifBuilder(int w, int h, const char* signature = "GIF89a") {
        bytes.assign(signature, signature + 6);
        put16(w);
        put16(h);
        bytes.insert(bytes.end(), {0x81, 0, 0});
        bytes.insert(bytes.end(), {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255});
    }
    void put16(int v) {
        bytes.push_back(static_cast<std::uint8_t>(v & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    void raw(std::initializer_list<std::uint8_t> b) { bytes.insert(bytes.end(), b); }
    void descriptor(int left, int top, int w, int h, std::uint8_t flags = 0) {
        bytes.push_back(0x2C);
        put16(left);
        put16(top);
        put16(w);
        put16(h);
        bytes.push_back(flags);
    }
    // Image data with minimum code size 2: clear, each index as its own code, end.
    void indexes(const std::vector<int>& values) { data(2, literal_codes(values).bytes()); }
    void data(int min_code_size, const Bytes& payload, std::size_t block = 255) {
        bytes.push_back(static_cast<std::uint8_t>(min_code_size));
        for (std::size_t at = 0; at < payload.size(); at += block) {
            const std::size_t n = std::min(block, payload.size() - at);
            bytes.push_back(static_cast<std::uint8_t>(n));
            bytes.insert(bytes.end(), payload.begin() + static_cast<std::ptrdiff_t>(at),
                         payload.begin() + static_cast<std::ptrdiff_t>(at + n));
        }
        bytes.push_back(0);
    }
    void trailer() { bytes.push_back(0x3B); }
};

constexpr std::uint8_t kPureRed[3] = {255, 0, 0}, kPureGreen[3] = {0, 255, 0}, kPureBlue[3] = {0, 0, 255},
                       kPureWhite[3] = {255, 255, 255}, kPureBlack[3] = {0, 0, 0};

::testing::AssertionResult pixel_is(const RgbImage& image, int x, int y, const std::uint8_t (&rgb)[3]) {
    const std::size_t at = (static_cast<std::size_t>(y) * image.width + x) * 3;
    if (at + 3 > image.pixels.size()) return ::testing::AssertionFailure() << "pixel outside the buffer";
    for (int i = 0; i < 3; ++i)
        if (image.pixels[at + i] != rgb[i])
            return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is " << int(image.pixels[at])
                                                 << "," << int(image.pixels[at + 1]) << "," << int(image.pixels[at + 2]);
    return ::testing::AssertionSuccess();
}

bool decode(const Bytes& bytes, RgbImage& out) { return gif_read(bytes.data(), bytes.size(), out); }

// ---------------------------------------------------------------------------------------------
// Reading the files of other encoders

// Every shared GIF with a reference decode decodes to it, on the pixels the reference vouches for.
TEST(GifRead, MatchesReferenceDecodesOfOtherEncodersFiles) {
    int compared = 0;
    for (const auto& entry : fs::recursive_directory_iterator(images() / "gif")) {
        if (entry.path().extension() != ".gif") continue;
        const fs::path rel = fs::relative(entry.path(), images());
        fs::path ref_path = images() / "refs" / rel;
        ref_path.replace_extension(".ppm");
        if (!fs::exists(ref_path)) continue;
        SCOPED_TRACE(rel.string());
        const auto ref = test::read_pnm(ref_path);
        ASSERT_TRUE(ref.has_value());
        fs::path mask_path = ref_path;
        mask_path.replace_extension(".mask.pgm");
        std::optional<test::Pnm> mask;
        if (fs::exists(mask_path)) mask = test::read_pnm(mask_path);

        RgbImage image;
        ASSERT_TRUE(gif_read_file(entry.path(), image));
        EXPECT_EQ(image.width, ref->width);
        EXPECT_EQ(image.height, ref->height);
        ASSERT_EQ(image.pixels.size(), ref->pixels.size());
        std::size_t differing = 0;
        for (std::size_t p = 0; p < ref->pixels.size() / 3; ++p) {
            if (mask && mask->pixels[p] != 255) continue;
            for (int c = 0; c < 3; ++c) differing += image.pixels[p * 3 + c] != ref->pixels[p * 3 + c];
        }
        EXPECT_EQ(differing, 0u);
        ++compared;
    }
    EXPECT_GE(compared, 40);
}

TEST(GifRead, OddFilesWithoutReferenceDecode) {
    RgbImage image;
    // Minimum code size 12 (which giflib refuses) is accepted; the image is corrupt, the decode
    // keeps what it got.
    EXPECT_TRUE(gif_read_file(images() / "gif/libnsgif/lzwoob.gif", image));
    EXPECT_EQ(image.width, 4);
    EXPECT_EQ(image.height, 13060);
    // Screens of hundreds of millions of pixels are refused instead of allocated.
    EXPECT_FALSE(gif_read_file(images() / "gif/image-gif/issue-101-infinite-empty-loop.gif", image));
    EXPECT_TRUE(image.empty());
    EXPECT_FALSE(gif_read_file(images() / "gif/image-gif/issue-96-small-codesize-2.gif", image));
    // A zero-height screen decodes to no image.
    EXPECT_TRUE(gif_read_file(images() / "gif/image-gif/issue-96-small-codesize.gif", image));
    EXPECT_TRUE(image.empty());
    EXPECT_FALSE(gif_read_file(images() / "gif/no-such-file.gif", image));
}

// Every truncation of a real file gives a defined outcome, and a cut inside the image data keeps
// the pixels decoded before the cut.
TEST(GifRead, EveryTruncationOfARealFile) {
    const Bytes whole = load(images() / "gif/wuffs/hippopotamus.regular.gif");
    RgbImage full;
    ASSERT_TRUE(decode(whole, full));
    // The image descriptor of the 36 × 28 image at (0, 0); its data starts 11 bytes later.
    const Bytes desc{0x2C, 0, 0, 0, 0, 36, 0, 28, 0};
    const auto found = std::search(whole.begin(), whole.end(), desc.begin(), desc.end());
    ASSERT_NE(found, whole.end());
    const std::size_t data_start = static_cast<std::size_t>(found - whole.begin()) + 11;
    for (std::size_t n = 0; n < whole.size(); ++n) {
        const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
        RgbImage image;
        const bool result = decode(cut, image);
        // Cut before the image data: refused. Cut inside it: the screen, partly decoded.
        ASSERT_EQ(result, n >= data_start) << n;
        ASSERT_EQ(image.pixels.size(), result ? full.pixels.size() : 0u) << n;
    }
    // Three quarters of the data give at least the top rows exactly.
    const std::size_t keep = data_start + (whole.size() - data_start) * 3 / 4;
    RgbImage image;
    ASSERT_TRUE(decode(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(keep)), image));
    EXPECT_TRUE(std::equal(image.pixels.begin(), image.pixels.begin() + 36 * 3 * 8, full.pixels.begin()));
    EXPECT_FALSE(image.pixels == full.pixels);
}

// ---------------------------------------------------------------------------------------------
// Reading hand-made streams

TEST(GifRead, RefusesStreamsThatAreNotGif) {
    RgbImage image;
    EXPECT_FALSE(gif_read(nullptr, 0, image));
    for (const char* signature : {"gif89a", "GIF88a", "GIF8a7", "PNG89a", "GIF87b"}) {
        GifBuilder gif(2, 1, signature);
        gif.descriptor(0, 0, 2, 1);
        gif.indexes({0, 1});
        gif.trailer();
        EXPECT_FALSE(decode(gif.bytes, image)) << signature;
        EXPECT_TRUE(image.empty());
    }
    GifBuilder good(2, 1);
    good.descriptor(0, 0, 2, 1);
    good.indexes({0, 1});
    good.trailer();
    ASSERT_TRUE(decode(good.bytes, image));
    // Cut inside the signature, the screen descriptor, the colour table, the image descriptor,
    // or before the minimum code size: refused.
    for (std::size_t n : {0, 5, 12, 20, 24, 25, 30, 34, 35}) {
        const Bytes cut(good.bytes.begin(), good.bytes.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_FALSE(decode(cut, image)) << n;
        EXPECT_TRUE(image.empty());
    }
    // Extension label missing; stream ending after an extension without image or trailer.
    GifBuilder ext(2, 1);
    ext.raw({0x21});
    EXPECT_FALSE(decode(ext.bytes, image));
    ext.raw({0xFE, 2, 'h', 'i', 0});
    EXPECT_FALSE(decode(ext.bytes, image));
    // Minimum code size 13 and above is refused; 12 is not.
    for (int size : {13, 255}) {
        GifBuilder gif(2, 1);
        gif.descriptor(0, 0, 2, 1);
        gif.data(size, {0, 0, 0});
        EXPECT_FALSE(decode(gif.bytes, image)) << size;
    }
    // Size 12: 13-bit codes, clear code 4096, a table without free entries.
    CodePacker wide;
    for (int c : {4096, 7, 4096, 4096, 3, 5000, 4097}) wide.add(c, 13);
    GifBuilder twelve(3, 1);
    twelve.descriptor(0, 0, 3, 1);
    twelve.data(12, wide.bytes());
    ASSERT_TRUE(decode(twelve.bytes, image));
    EXPECT_TRUE(pixel_is(image, 0, 0, kPureBlack));  // index 7: no table entry
    EXPECT_TRUE(pixel_is(image, 1, 0, kPureWhite));
}

TEST(GifRead, PlacesTheFirstImageOnTheScreen) {
    RgbImage image;
    // A 2 × 2 image at (1, 1) on a 4 × 3 screen: only that rectangle is filled, the rest black.
    GifBuilder gif(4, 3);
    gif.raw({0x21, 0xF9, 4, 1, 0, 0, 3, 0});  // graphic control: index 3 transparent, not applied
    gif.raw({0x21, 0xFF, 3, 'a', 'b', 'c', 2, 1, 2, 0});
    gif.raw({0x21, 0x01, 1, 'x', 0});
    gif.raw({0x00, 0x42});  // stray bytes between blocks are ignored
    gif.descriptor(1, 1, 2, 2);
    gif.indexes({0, 1, 2, 3});
    gif.descriptor(0, 0, 4, 3);  // a second image is never read
    gif.indexes({3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3});
    gif.trailer();
    ASSERT_TRUE(decode(gif.bytes, image));
    ASSERT_EQ(image.width, 4);
    ASSERT_EQ(image.height, 3);
    EXPECT_TRUE(pixel_is(image, 1, 1, kPureRed));
    EXPECT_TRUE(pixel_is(image, 2, 1, kPureGreen));
    EXPECT_TRUE(pixel_is(image, 1, 2, kPureBlue));
    EXPECT_TRUE(pixel_is(image, 2, 2, kPureWhite));
    for (int x : {0, 3}) EXPECT_TRUE(pixel_is(image, x, 1, kPureBlack));
    for (int x = 0; x < 4; ++x) EXPECT_TRUE(pixel_is(image, x, 0, kPureBlack));

    // An image reaching past the screen's right and bottom edges loses only those pixels.
    GifBuilder wide(3, 2);
    wide.descriptor(2, 1, 3, 2);
    wide.indexes({1, 2, 3, 3, 3, 3});
    wide.trailer();
    ASSERT_TRUE(decode(wide.bytes, image));
    EXPECT_EQ(image.pixels.size(), 3u * 2 * 3);
    EXPECT_TRUE(pixel_is(image, 2, 1, kPureGreen));
    EXPECT_TRUE(pixel_is(image, 1, 1, kPureBlack));

    // A local table replaces the global one.
    GifBuilder local(2, 1);
    local.descriptor(0, 0, 2, 1, 0x80);  // local table of 2 entries
    local.raw({10, 20, 30, 40, 50, 60});
    local.indexes({1, 0});
    local.trailer();
    ASSERT_TRUE(decode(local.bytes, image));
    EXPECT_EQ(image.pixels, (Bytes{40, 50, 60, 10, 20, 30}));

    // A graphic control extension whose first sub-block is already the terminator ends there.
    GifBuilder bare(1, 1);
    bare.raw({0x21, 0xF9, 0});
    bare.descriptor(0, 0, 1, 1);
    bare.indexes({2});
    bare.trailer();
    ASSERT_TRUE(decode(bare.bytes, image));
    EXPECT_TRUE(pixel_is(image, 0, 0, kPureBlue));

    // The trailer before any image: success without pixels.
    GifBuilder none(5, 5);
    none.raw({0x21, 0xFE, 1, 'c', 0});
    none.trailer();
    ASSERT_TRUE(decode(none.bytes, image));
    EXPECT_TRUE(image.empty());
}

TEST(GifRead, InterlacedRowsComeInFourPasses) {
    auto rows_of = [](int height) {
        GifBuilder gif(1, height);
        gif.descriptor(0, 0, 1, height, 0x40);
        std::vector<int> values;
        for (int i = 0; i < height; ++i) values.push_back(i % 3);  // red, green, blue, red, ...
        gif.indexes(values);
        gif.trailer();
        RgbImage image;
        EXPECT_TRUE(decode(gif.bytes, image));
        std::string order;
        for (int y = 0; y < height; ++y)
            order += pixel_is(image, 0, y, kPureRed) ? 'R' : pixel_is(image, 0, y, kPureGreen) ? 'G' : pixel_is(image, 0, y, kPureBlue) ? 'B' : '?';
        return order;
    };
    // Height 3: rows 0, 2, 1 receive the 1st, 2nd and 3rd value.
    EXPECT_EQ(rows_of(3), "RBG");
    EXPECT_EQ(rows_of(1), "R");
    // Height 10: passes deliver rows 0, 8 | 4 | 2, 6 | 1, 3, 5, 7, 9.
    // Value k goes to row order[k]: k=0 R→0, 1 G→8, 2 B→4, 3 R→2, 4 G→6, 5 B→1, 6 R→3, 7 G→5, 8 B→7, 9 R→9.
    EXPECT_EQ(rows_of(10), "RBRRBGGBGR");
}

TEST(GifRead, CorruptCodesEndTheImageEarlyAndKeepDecodedPixels) {
    RgbImage image;
    // Too few pixels: the end code after two of four.
    GifBuilder few(4, 1);
    few.descriptor(0, 0, 4, 1);
    few.indexes({1, 1});
    few.trailer();
    ASSERT_TRUE(decode(few.bytes, image));
    EXPECT_TRUE(pixel_is(image, 1, 0, kPureGreen));
    EXPECT_TRUE(pixel_is(image, 2, 0, kPureBlack));

    // Too many pixels: decoding stops at the image's last pixel.
    GifBuilder many(2, 2);
    many.descriptor(0, 0, 2, 1);
    many.indexes({1, 2, 3, 3, 3});
    many.trailer();
    ASSERT_TRUE(decode(many.bytes, image));
    EXPECT_TRUE(pixel_is(image, 1, 0, kPureBlue));
    EXPECT_TRUE(pixel_is(image, 0, 1, kPureBlack));

    // An index without a table entry (an undefined code 300 right after the clear code) is black;
    // the next codes go on.
    CodePacker codes;
    for (int c : {256, 300, 3, 257}) codes.add(c, 9);
    GifBuilder big(2, 1);
    big.descriptor(0, 0, 2, 1);
    big.data(8, codes.bytes());
    big.trailer();
    ASSERT_TRUE(decode(big.bytes, image));
    EXPECT_TRUE(pixel_is(image, 0, 0, kPureBlack));
    EXPECT_TRUE(pixel_is(image, 1, 0, kPureWhite));

    // Repeated clear codes are passed over; an end code right after a clear code ends the image.
    CodePacker clears;
    for (int c : {4, 4, 4, 1, 4, 4, 2, 4, 5, 3, 3}) clears.add(c, 3);
    GifBuilder repeated(4, 1);
    repeated.descriptor(0, 0, 4, 1);
    repeated.data(2, clears.bytes());
    repeated.trailer();
    ASSERT_TRUE(decode(repeated.bytes, image));
    EXPECT_TRUE(pixel_is(image, 0, 0, kPureGreen));
    EXPECT_TRUE(pixel_is(image, 1, 0, kPureBlue));
    EXPECT_TRUE(pixel_is(image, 2, 0, kPureBlack));
    EXPECT_TRUE(pixel_is(image, 3, 0, kPureBlack));

    // A self-referencing table entry ends the image: the first code 6 is undefined, code 7 then
    // defines entry 6 with old code 6 as its own prefix, and using code 6 loops.
    CodePacker circular;
    for (int c : {4, 6, 7, 6, 1, 1, 1}) circular.add(c, 3);
    GifBuilder loop(8, 1);
    loop.descriptor(0, 0, 8, 1);
    loop.data(2, circular.bytes());
    ASSERT_TRUE(decode(loop.bytes, image));
    EXPECT_TRUE(pixel_is(image, 0, 0, kPureBlack));  // index 6: no table entry
    EXPECT_TRUE(pixel_is(image, 1, 0, kPureRed));
    EXPECT_TRUE(pixel_is(image, 2, 0, kPureRed));
    for (int x = 3; x < 8; ++x) EXPECT_TRUE(pixel_is(image, x, 0, kPureBlack)) << x;

    // Data cut inside a sub-block, and data without any sub-block.
    GifBuilder cut(4, 1);
    cut.descriptor(0, 0, 4, 1);
    cut.indexes({2, 2, 2, 2});
    cut.bytes.pop_back();  // the terminator
    cut.bytes.pop_back();  // and the last data byte: the block is short
    ASSERT_TRUE(decode(cut.bytes, image));
    EXPECT_TRUE(pixel_is(image, 0, 0, kPureBlue));
    GifBuilder empty(4, 1);
    empty.descriptor(0, 0, 4, 1);
    empty.raw({2});
    ASSERT_TRUE(decode(empty.bytes, image));
    EXPECT_EQ(image.pixels.size(), 12u);

    // Codes spread over one-byte sub-blocks still decode.
    GifBuilder small(6, 1);
    small.descriptor(0, 0, 6, 1);
    small.data(2, literal_codes({0, 1, 2, 3, 0, 1}).bytes(), 1);
    small.trailer();
    ASSERT_TRUE(decode(small.bytes, image));
    EXPECT_EQ(image.pixels, (Bytes{255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255, 255, 0, 0, 0, 255, 0}));
}

// ---------------------------------------------------------------------------------------------
// Writing

RgbImage solid(int w, int h, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    RgbImage image{w, h, {}};
    for (int i = 0; i < w * h; ++i) image.pixels.insert(image.pixels.end(), {r, g, b});
    return image;
}

// Header, descriptor and trailer bytes; one pixel gives clear (256), 255, end (257) as 9-bit codes
// in one 4-byte sub-block. (The palette bytes are checked against giflib's files below.)
TEST(GifWrite, StreamLayoutAndKnownCodes) {
    Bytes gif;
    ASSERT_TRUE(gif_write(solid(256, 256, 255, 255, 255), gif));
    EXPECT_EQ(Bytes(gif.begin(), gif.begin() + 13),
              (Bytes{'G', 'I', 'F', '8', '7', 'a', 0x00, 0x01, 0x00, 0x01, 0xF7, 0x00, 0x00}));
    EXPECT_EQ(Bytes(gif.begin() + 781, gif.begin() + 792), (Bytes{0x2C, 0, 0, 0, 0, 0x00, 0x01, 0x00, 0x01, 0x00, 0x08}));
    EXPECT_EQ(Bytes(gif.end() - 2, gif.end()), (Bytes{0x00, 0x3B}));
    EXPECT_LT(gif.size(), 800u + 2000u);  // one colour compresses to a short code stream

    ASSERT_TRUE(gif_write(solid(1, 1, 255, 255, 255), gif));
    EXPECT_EQ(Bytes(gif.begin() + 792, gif.end()), (Bytes{0x04, 0x00, 0xFF, 0x05, 0x04, 0x00, 0x3B}));
}

// Round trips through the reader: noise fills the 12-bit table many times over (clear codes and
// every code width), real map and relief tiles keep their exact colours.
TEST(GifWrite, RoundTripsGiveThePaletteColourOfEachPixel) {
    RgbImage noise{256, 256, {}};
    std::uint32_t seed = 99;
    for (int i = 0; i < 256 * 256; ++i) {
        seed = seed * 1664525 + 1013904223;
        // Few colours in runs, then full noise: both long strings and table resets.
        const std::uint8_t v = static_cast<std::uint8_t>(i < 30000 ? (seed >> 28) * 17 : seed >> 24);
        noise.pixels.insert(noise.pixels.end(), {v, static_cast<std::uint8_t>(seed >> 8), static_cast<std::uint8_t>(v ^ 0x5A)});
    }
    noise.pixels[0] = noise.pixels[1] = noise.pixels[2] = 255;
    noise.pixels[3] = noise.pixels[4] = noise.pixels[5] = 0;
    Bytes gif;
    ASSERT_TRUE(gif_write(noise, gif));
    // Sub-blocks of at most 254 bytes up to the terminator.
    std::size_t at = 792;
    while (gif[at] != 0) {
        ASSERT_LE(gif[at], 254);
        at += gif[at] + 1u;
        ASSERT_LT(at, gif.size());
    }
    EXPECT_EQ(at, gif.size() - 2);
    RgbImage back;
    ASSERT_TRUE(decode(gif, back));
    ASSERT_EQ(back.width, 256);
    ASSERT_EQ(back.height, 256);
    for (int i = 0; i < 256 * 256; ++i) {
        const std::uint8_t* p = &noise.pixels[static_cast<std::size_t>(i) * 3];
        const PaletteColour c = fixed_palette_colour(fixed_palette_index(p[0], p[1], p[2]));
        const std::uint8_t* q = &back.pixels[static_cast<std::size_t>(i) * 3];
        ASSERT_TRUE(q[0] == c.red && q[1] == c.green && q[2] == c.blue) << "pixel " << i;
    }
    EXPECT_TRUE(pixel_is(back, 0, 0, kPureWhite));
    EXPECT_TRUE(pixel_is(back, 1, 0, kPureBlack));

    // giflib wrote these with the same fixed palette: decode, re-encode, decode again.
    for (const char* name : {"map256.gif", "relief256.gif", "map1024.gif"}) {
        SCOPED_TRACE(name);
        RgbImage original;
        ASSERT_TRUE(gif_read_file(images() / "bench" / name, original));
        ASSERT_TRUE(gif_write(original, gif));
        RgbImage again;
        ASSERT_TRUE(decode(gif, again));
        EXPECT_EQ(again.width, original.width);
        EXPECT_TRUE(again.pixels == original.pixels);
    }
}

// The LZW data of a stream without its sub-block framing.
Bytes code_stream(const Bytes& gif) {
    std::size_t at = 13 + 768 + 10 + 1;
    Bytes codes;
    while (at < gif.size() && gif[at] != 0) {
        codes.insert(codes.end(), gif.begin() + static_cast<std::ptrdiff_t>(at + 1),
                     gif.begin() + static_cast<std::ptrdiff_t>(at + 1 + gif[at]));
        at += gif[at] + 1u;
    }
    return codes;
}

// giflib wrote the shared bench tiles with the same palette, 255-byte sub-blocks and its own rule
// for when the full table is cleared. Until the table first fills (about 5400 bytes of codes) both
// code streams must be the same bit for bit; the small map tile never fills it.
TEST(GifWrite, CodeStreamMatchesGiflibUntilTheTableFirstFills) {
    for (const char* name : {"map256.gif", "relief256.gif", "relief1024.gif"}) {
        SCOPED_TRACE(name);
        const Bytes theirs = load(images() / "bench" / name);
        RgbImage image;
        ASSERT_TRUE(decode(theirs, image));
        Bytes ours;
        ASSERT_TRUE(gif_write(image, ours));
        EXPECT_TRUE(std::equal(ours.begin(), ours.begin() + 791, theirs.begin()));
        const Bytes a = code_stream(ours), b = code_stream(theirs);
        ASSERT_GT(a.size(), 4000u);
        if (std::string(name) == "map256.gif") {
            EXPECT_TRUE(a == b);
        } else {
            EXPECT_TRUE(std::equal(a.begin(), a.begin() + 5400, b.begin()));
        }
    }
}

TEST(GifWrite, RefusesPicturesAGifCannotHold) {
    Bytes gif{1, 2, 3};
    EXPECT_FALSE(gif_write(RgbImage{}, gif));
    EXPECT_TRUE(gif.empty());
    RgbImage wrong = solid(4, 4, 1, 2, 3);
    wrong.pixels.pop_back();
    EXPECT_FALSE(gif_write(wrong, gif));
    EXPECT_FALSE(gif_write(RgbImage{70000, 1, Bytes(70000 * 3)}, gif));
    EXPECT_FALSE(gif_write(RgbImage{-1, -3, Bytes(9)}, gif));
}

TEST(GifWrite, FilesRoundTrip) {
    test::TempDir dir;
    const RgbImage image = solid(17, 5, 0, 255, 0);
    ASSERT_TRUE(gif_write_file(dir / "t.gif", image));
    RgbImage back;
    ASSERT_TRUE(gif_read_file(dir / "t.gif", back));
    EXPECT_EQ(back.pixels, image.pixels);
    EXPECT_FALSE(gif_write_file(dir / "missing" / "t.gif", image));
    EXPECT_FALSE(gif_write_file(dir / "empty.gif", RgbImage{}));
    EXPECT_FALSE(fs::exists(dir / "empty.gif"));
}

}  // namespace
}  // namespace vg
