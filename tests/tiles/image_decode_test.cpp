// The PNG and JPEG decoders against reference decodes of public conformance files, the mosaic
// builder's placement, clipping and deletion of undecodable tiles, the display bitmap's bytes and
// the two overlays.
#include "tiles/image_decode.h"

#include <gtest/gtest.h>
#include <jpeglib.h>
#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "support/jpeg_files.h"
#include "support/pnm.h"
#include "support/test_paths.h"
#include "tiles/gif_codec.h"

namespace vg {
namespace {

namespace fs = std::filesystem;
using test::shared_testdata;
using test::read_ppm;
using test::TempDir;

using test::images;
using test::progressive_jpeg;
using test::with_repeated_last_scan;

// file (relative to images/) → the library's verdict: "ok" or "ERR:<reason>".
std::map<std::string, std::string> read_summary(const std::string& name) {
    std::map<std::string, std::string> verdicts;
    std::ifstream in(images() / "refs" / name);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string file, status;
        std::getline(fields, file, '\t');
        std::getline(fields, status, '\t');
        verdicts[file] = status;
    }
    return verdicts;
}

fs::path ref_for(const std::string& file) { return images() / "refs" / fs::path(file).replace_extension(".ppm"); }

std::array<std::uint8_t, 3> pixel(const RgbImage& image, int x, int y) {
    const std::uint8_t* p = image.pixels.data() + (std::size_t(y) * image.width + x) * 3;
    return {p[0], p[1], p[2]};
}
std::array<std::uint8_t, 3> pixel(const Mosaic& m, int x, int y) {
    const std::uint8_t* p = m.pixels.data() + (std::size_t(y) * m.width + x) * 3;
    return {p[0], p[1], p[2]};
}
// Bitmap pixels read back as red, green, blue.
std::array<std::uint8_t, 3> pixel(const DisplayBitmap& b, int x, int y) {
    const std::uint8_t* p = b.row(y) + std::size_t(x) * 3;
    return {p[2], p[1], p[0]};
}

constexpr std::array<std::uint8_t, 3> kGrey{192, 192, 192};
constexpr std::array<std::uint8_t, 3> kYellow{255, 255, 0};
constexpr std::array<std::uint8_t, 3> kBlack{0, 0, 0};

void copy_over(const fs::path& from, const fs::path& to) { fs::copy_file(from, to, fs::copy_options::overwrite_existing); }

// ------------------------------------------------------------------------------------------ decoders

TEST(LoadPng, ConformanceFilesDecodeToReferencePixelsOrAreRefused) {
    const auto verdicts = read_summary("png-summary.tsv");
    ASSERT_GT(verdicts.size(), 250u);
    int decoded = 0, refused = 0;
    for (const auto& [file, status] : verdicts) {
        SCOPED_TRACE(file);
        RgbImage image;
        image.width = 7;  // a stale result must not survive a failure
        const bool result = load_png(images() / file, image);
        if (status == "ok") {
            ASSERT_TRUE(result);
            const RgbImage ref = read_ppm(ref_for(file));
            ASSERT_FALSE(ref.empty());
            EXPECT_EQ(image.width, ref.width);
            EXPECT_EQ(image.height, ref.height);
            EXPECT_TRUE(image.pixels == ref.pixels);
            ++decoded;
        } else {
            EXPECT_FALSE(result) << status;
            EXPECT_TRUE(image.empty());
            EXPECT_EQ(image.width, 0);
            ++refused;
        }
    }
    EXPECT_EQ(decoded, 233);
    EXPECT_EQ(refused, 22);
}

TEST(LoadPng, MissingOrForeignFilesAreRefused) {
    TempDir dir;
    RgbImage image;
    EXPECT_FALSE(load_png(dir / "absent.png", image));
    EXPECT_FALSE(load_png("", image));
    test::write_file(dir / "short.png", "\x89PNG");
    EXPECT_FALSE(load_png(dir / "short.png", image));
    // A JPEG under a .png name: the signature check refuses it.
    EXPECT_FALSE(load_png(images() / "jpeg/wuffs/hat.jpeg", image));
    // Cut short inside the image data.
    const std::string whole = test::read_file(images() / "png/pngsuite/basn2c08.png");
    test::write_file(dir / "cut.png", whole.substr(0, whole.size() / 2));
    EXPECT_FALSE(load_png(dir / "cut.png", image));
    // A header claiming 100000 × 32 pixels (with a correct checksum) is refused before any allocation.
    std::string wide = whole;
    wide.replace(16, 4, std::string("\x00\x01\x86\xA0", 4));
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(wide.data() + 12), 17);
    for (int i = 0; i < 4; ++i) wide[29 + i] = char(crc >> (24 - 8 * i));
    test::write_file(dir / "wide.png", wide);
    DecodeFailure why = DecodeFailure::None;
    EXPECT_FALSE(load_png(dir / "wide.png", image, &why));
    EXPECT_EQ(why, DecodeFailure::TooLarge);
    EXPECT_TRUE(image.empty());
    // Past libpng's own limit of a million the size is still what is refused.
    wide.replace(16, 8, std::string("\x00\x98\x96\x80\x00\x98\x96\x80", 8));
    const uLong crc2 = crc32(0, reinterpret_cast<const Bytef*>(wide.data() + 12), 17);
    for (int i = 0; i < 4; ++i) wide[29 + i] = char(crc2 >> (24 - 8 * i));
    test::write_file(dir / "huge.png", wide);
    EXPECT_FALSE(load_png(dir / "huge.png", image, &why));
    EXPECT_EQ(why, DecodeFailure::TooLarge);
    EXPECT_FALSE(load_png(dir / "cut.png", image, &why));
    EXPECT_EQ(why, DecodeFailure::Damaged);
}

TEST(LoadJpeg, SamplesDecodeToReferencePixelsOrAreRefused) {
    const auto verdicts = read_summary("jpeg-summary.tsv");
    ASSERT_EQ(verdicts.size(), 41u);
    int decoded = 0;
    for (const auto& [file, status] : verdicts) {
        SCOPED_TRACE(file);
        RgbImage image;
        const bool result = load_jpeg(images() / file, image);
        if (status == "ok") {
            ASSERT_TRUE(result);
            const RgbImage ref = read_ppm(ref_for(file));
            EXPECT_EQ(image.width, ref.width);
            EXPECT_EQ(image.height, ref.height);
            // What a truncated progressive file shows where its data ends depends on the decoder's
            // build; the Windows build's libjpeg (without the SIMD paths) differs there.
            if (kPathSeparator == '/' || file.find("progressive.truncated") == std::string::npos) {
                EXPECT_TRUE(image.pixels == ref.pixels);
            }
            ++decoded;
        } else {
            EXPECT_FALSE(result);
            EXPECT_TRUE(image.empty());
        }
    }
    EXPECT_EQ(decoded, 39);
}

// Writes a 32 × 16 CMYK JPEG with libjpeg: the left half one (c, m, y, k), the right half another.
void write_cmyk_jpeg(const fs::path& path, std::array<std::uint8_t, 4> left, std::array<std::uint8_t, 4> right) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    std::FILE* f = std::fopen(path.string().c_str(), "wb");
    ASSERT_NE(f, nullptr);
    jpeg_stdio_dest(&cinfo, f);
    cinfo.image_width = 32;
    cinfo.image_height = 16;
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 100, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(32 * 4);
    for (int x = 0; x < 32; ++x)
        for (int j = 0; j < 4; ++j) row[x * 4 + j] = x < 16 ? left[j] : right[j];
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(f);
}

TEST(LoadJpeg, CmykAddsTheFourthComponentLess256) {
    TempDir dir;
    write_cmyk_jpeg(dir / "cmyk.jpg", {200, 100, 30, 255}, {200, 100, 30, 0});
    RgbImage image;
    ASSERT_TRUE(load_jpeg(dir / "cmyk.jpg", image));
    ASSERT_EQ(image.width, 32);
    ASSERT_EQ(image.height, 16);
    // Flat blocks at quality 100 survive compression within a step.
    for (int y : {0, 8, 15}) {
        const auto l = pixel(image, 3, y);
        EXPECT_NEAR(l[0], 199, 1);
        EXPECT_NEAR(l[1], 99, 1);
        EXPECT_NEAR(l[2], 29, 1);
        EXPECT_EQ(pixel(image, 28, y), kBlack);
    }
}

TEST(LoadJpeg, MissingDamagedOrHugeFilesAreRefused) {
    TempDir dir;
    RgbImage image;
    EXPECT_FALSE(load_jpeg(dir / "absent.jpg", image));
    EXPECT_FALSE(load_jpeg(images() / "png/pngsuite/basn2c08.png", image));
    // Only the start-of-image marker.
    test::write_file(dir / "soi.jpg", std::string("\xFF\xD8", 2));
    EXPECT_FALSE(load_jpeg(dir / "soi.jpg", image));
    // A frame header claiming 60000 × 60000 pixels is refused before any allocation.
    std::string big = test::read_file(images() / "jpeg/wuffs/hat.jpeg");
    const auto sof = big.find("\xFF\xC0");
    ASSERT_NE(sof, std::string::npos);
    big[sof + 5] = big[sof + 7] = char(0xEA);
    big[sof + 6] = big[sof + 8] = char(0x60);
    test::write_file(dir / "big.jpg", big);
    DecodeFailure why = DecodeFailure::None;
    EXPECT_FALSE(load_jpeg(dir / "big.jpg", image, &why));
    EXPECT_EQ(why, DecodeFailure::TooLarge);
    EXPECT_TRUE(image.empty());
    EXPECT_FALSE(load_jpeg(dir / "soi.jpg", image, &why));
    EXPECT_EQ(why, DecodeFailure::Damaged);
    EXPECT_FALSE(load_jpeg(images() / "png/pngsuite/basn2c08.png", image, &why));
    EXPECT_EQ(why, DecodeFailure::Unreadable);
}

TEST(LoadJpeg, FilesOfRepeatedScansAreRefusedAtTheScanLimit) {
    TempDir dir;
    RgbImage image;
    DecodeFailure why = DecodeFailure::None;
    // A tile of 10 scans decodes; with its last scan repeated up to the limit it still does.
    const std::string tile = progressive_jpeg(256);
    test::write_file(dir / "tile.jpg", tile);
    ASSERT_TRUE(load_jpeg(dir / "tile.jpg", image, &why));
    EXPECT_EQ(why, DecodeFailure::None);
    test::write_file(dir / "limit.jpg", with_repeated_last_scan(tile, kMaxJpegScans - 10));
    EXPECT_TRUE(load_jpeg(dir / "limit.jpg", image));
    // One scan more, or two thousand, is refused for its scans, and the caller's picture emptied.
    for (const int repeats : {kMaxJpegScans - 9, 2000}) {
        test::write_file(dir / "bomb.jpg", with_repeated_last_scan(tile, repeats));
        EXPECT_FALSE(load_jpeg(dir / "bomb.jpg", image, &why)) << repeats;
        EXPECT_EQ(why, DecodeFailure::TooManyScans);
        EXPECT_TRUE(image.empty());
    }
    // A large picture reaches the scan work limit sooner: 2048 × 2048 pixels allow 48 scans.
    const int allowed = int(kMaxJpegScanPixels / (2048 * 2048));
    const std::string large = progressive_jpeg(2048);
    test::write_file(dir / "large.jpg", with_repeated_last_scan(large, allowed - 10));
    EXPECT_TRUE(load_jpeg(dir / "large.jpg", image, &why));
    EXPECT_EQ(image.width, 2048);
    test::write_file(dir / "large-bomb.jpg", with_repeated_last_scan(large, allowed - 9));
    EXPECT_FALSE(load_jpeg(dir / "large-bomb.jpg", image, &why));
    EXPECT_EQ(why, DecodeFailure::TooManyScans);
    // The bomb as a tile of an aerial layer: deleted like any undecodable tile, its cell grey.
    test::write_file(dir / "cell.jpg", with_repeated_last_scan(tile, 2000));
    TilePathTable table;
    table.slots[0] = (dir / "cell.jpg").string();
    Mosaic mosaic;
    ASSERT_TRUE(build_mosaic(table, MapSource::GoogleMaps, true, false, mosaic));
    EXPECT_EQ(pixel(mosaic, 10, 10), kGrey);
    EXPECT_FALSE(fs::exists(dir / "cell.jpg"));
}

// -------------------------------------------------------------------------------------------- mosaic

TEST(BuildMosaic, EmptyViewIsGreyInBothSizes) {
    TilePathTable table;
    Mosaic mosaic;
    ASSERT_TRUE(build_mosaic(table, MapSource::OpenStreetMap, false, false, mosaic));
    EXPECT_EQ(mosaic.width, 512);
    EXPECT_EQ(mosaic.height, 512);
    EXPECT_EQ(mosaic.pixels, std::vector<std::uint8_t>(512 * 512 * 3, 192));
    ASSERT_TRUE(build_mosaic(table, MapSource::OpenStreetMap, false, true, mosaic));
    EXPECT_EQ(mosaic.side(), 1024);
    EXPECT_EQ(mosaic.pixels, std::vector<std::uint8_t>(1024 * 1024 * 3, 192));
}

TEST(BuildMosaic, TilesLandInTheirCellsClippedToThem) {
    TempDir dir;
    // 400 × 400 (clipped to 256 × 256) in cell (1, 1) of the 4 × 4 grid, 32 × 32 in cell (0, 3).
    copy_over(images() / "png/image-png/F-exif-chunk-early.png", dir / "big.png");
    copy_over(images() / "png/pngsuite/basn2c08.png", dir / "small.png");
    TilePathTable table;
    table.slots[5] = (dir / "big.png").string();
    table.slots[3] = (dir / "small.png").string();
    Mosaic mosaic;
    ASSERT_TRUE(build_mosaic(table, MapSource::GoogleMaps, false, true, mosaic));

    const RgbImage big = read_ppm(ref_for("png/image-png/F-exif-chunk-early.png"));
    const RgbImage small = read_ppm(ref_for("png/pngsuite/basn2c08.png"));
    for (int y = 0; y < 256; y += 17)
        for (int x = 0; x < 256; x += 13) ASSERT_EQ(pixel(mosaic, 256 + x, 256 + y), pixel(big, x, y));
    EXPECT_EQ(pixel(mosaic, 511, 511), pixel(big, 255, 255));
    // Nothing of the big picture spills into the cells right of and below it.
    EXPECT_EQ(pixel(mosaic, 512, 300), kGrey);
    EXPECT_EQ(pixel(mosaic, 300, 512), kGrey);
    EXPECT_EQ(pixel(mosaic, 255, 300), kGrey);
    // The small one fills the top-left corner of its cell; the rest stays grey.
    EXPECT_EQ(pixel(mosaic, 768, 0), pixel(small, 0, 0));
    EXPECT_EQ(pixel(mosaic, 768 + 31, 31), pixel(small, 31, 31));
    EXPECT_EQ(pixel(mosaic, 768 + 32, 0), kGrey);
    EXPECT_EQ(pixel(mosaic, 768, 32), kGrey);
    EXPECT_TRUE(fs::exists(dir / "big.png"));
    EXPECT_TRUE(fs::exists(dir / "small.png"));
}

TEST(BuildMosaic, UndecodableTilesAreDeletedAndLeftGrey) {
    TempDir dir;
    copy_over(images() / "png/pngsuite/basn2c08.png", dir / "good.png");
    copy_over(images() / "png/pngsuite/xcsn0g01.png", dir / "badcrc.png");
    const std::string whole = test::read_file(images() / "png/pngsuite/basn2c08.png");
    test::write_file(dir / "cut.png", whole.substr(0, 100));
    test::write_file(dir / "html.png", "<html>404 Not Found</html>");
    TilePathTable table;
    table.slots[0] = (dir / "cut.png").string();
    table.slots[1] = (dir / "html.png").string();
    table.slots[2] = (dir / "good.png").string();
    table.slots[3] = (dir / "badcrc.png").string();
    Mosaic mosaic;
    ASSERT_TRUE(build_mosaic(table, MapSource::OpenStreetMap, false, false, mosaic));
    EXPECT_FALSE(fs::exists(dir / "cut.png"));
    EXPECT_FALSE(fs::exists(dir / "html.png"));
    EXPECT_FALSE(fs::exists(dir / "badcrc.png"));
    EXPECT_TRUE(fs::exists(dir / "good.png"));
    EXPECT_EQ(pixel(mosaic, 10, 10), kGrey);
    EXPECT_EQ(pixel(mosaic, 266, 10), kGrey);
    EXPECT_EQ(pixel(mosaic, 266, 266), kGrey);
    EXPECT_NE(pixel(mosaic, 10, 266), kGrey);
}

TEST(BuildMosaic, DecoderFollowsSourceAndLayer) {
    TempDir dir;
    const fs::path png = images() / "png/pngsuite/basn2c08.png";
    const fs::path jpg = images() / "jpeg/wuffs/hat.jpeg";
    const fs::path gif = images() / "gif/giflib/porsche.gif";
    struct Case {
        MapSource source;
        bool aerial;
        fs::path right;  // decodes with the chosen decoder
        fs::path wrong;  // a real picture of another format: refused and deleted
    };
    const Case cases[] = {
        {MapSource::OpenStreetMap, false, png, jpg}, {MapSource::GoogleMaps, false, png, gif},
        {MapSource::GoogleMaps, true, jpg, png},     {MapSource::VirtualEarth, true, jpg, gif},
        {MapSource::MapQuest, true, jpg, png},       {MapSource::MapQuest, false, gif, png},
        {MapSource::Etopo2, false, gif, png},        {MapSource::Etopo2, true, gif, jpg},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(int(c.source)) + (c.aerial ? " aerial" : " map"));
        copy_over(c.right, dir / "right");
        copy_over(c.wrong, dir / "wrong");
        TilePathTable table;
        table.slots[0] = (dir / "right").string();
        table.slots[1] = (dir / "wrong").string();
        Mosaic mosaic;
        ASSERT_TRUE(build_mosaic(table, c.source, c.aerial, false, mosaic));
        EXPECT_TRUE(fs::exists(dir / "right"));
        EXPECT_FALSE(fs::exists(dir / "wrong"));
        RgbImage expected;
        if (c.right == png) load_png(png, expected);
        if (c.right == jpg) load_jpeg(jpg, expected);
        if (c.right == gif) gif_read_file(gif, expected);
        EXPECT_EQ(pixel(mosaic, 5, 7), pixel(expected, 5, 7));
        EXPECT_EQ(pixel(mosaic, 300, 7), kGrey);
    }
}

TEST(BuildMosaic, AbsentFilesAndDirectoriesAreLeftAlone) {
    TempDir dir;
    fs::create_directory(dir / "folder");
    TilePathTable table;
    table.slots[0] = (dir / "missing.png").string();
    table.slots[1] = (dir / "folder").string();
    Mosaic mosaic;
    ASSERT_TRUE(build_mosaic(table, MapSource::OpenStreetMap, false, false, mosaic));
    EXPECT_TRUE(fs::is_directory(dir / "folder"));
    EXPECT_EQ(mosaic.pixels, std::vector<std::uint8_t>(512 * 512 * 3, 192));
}

// ---------------------------------------------------------------------------------- display bitmap

TEST(BuildMosaic, AnyGridOfCellsForAResizedWindow) {
    // The grids that cover map areas: the two original ones, and wider or taller windows.
    EXPECT_EQ(view_grid_covering(512, 384), (ViewGrid{2, 2}));
    EXPECT_EQ(view_grid_covering(1024, 768), (ViewGrid{4, 4}));
    EXPECT_EQ(view_grid_covering(1298, 649), (ViewGrid{6, 4}));
    EXPECT_EQ(view_grid_covering(513, 1), (ViewGrid{4, 2}));
    EXPECT_EQ(view_grid_covering(0, -5), (ViewGrid{2, 2}));
    EXPECT_EQ(view_grid_covering(1 << 30, 100), (ViewGrid{kMaxGridSide, 2}));

    TempDir dir;
    copy_over(images() / "png/pngsuite/basn2c08.png", dir / "small.png");
    TilePathTable table;
    table.fit(ViewGrid{6, 4});
    ASSERT_EQ(table.slots.size(), 24u);
    table.slots[23] = (dir / "small.png").string();  // the bottom-right cell (3, 5)
    Mosaic mosaic;
    ASSERT_TRUE(build_mosaic(table, MapSource::OpenStreetMap, false, ViewGrid{6, 4}, mosaic));
    ASSERT_EQ(mosaic.width, 1536);
    ASSERT_EQ(mosaic.height, 1024);
    const RgbImage small = read_ppm(ref_for("png/pngsuite/basn2c08.png"));
    EXPECT_EQ(pixel(mosaic, 1280, 768), pixel(small, 0, 0));
    EXPECT_EQ(pixel(mosaic, 1279, 768), kGrey);
    // A table shorter than the grid leaves the cells it does not name grey.
    TilePathTable short_table;
    ASSERT_TRUE(build_mosaic(short_table, MapSource::OpenStreetMap, false, ViewGrid{6, 4}, mosaic));
    EXPECT_EQ(pixel(mosaic, 1280, 768), kGrey);

    ASSERT_TRUE(build_mosaic(table, MapSource::OpenStreetMap, false, ViewGrid{6, 4}, mosaic));
    DisplayBitmap bitmap;
    ASSERT_TRUE(build_display_bitmap(mosaic, bitmap));
    EXPECT_EQ(bitmap.width(), 1536);
    EXPECT_EQ(bitmap.height(), 1024);
    ASSERT_EQ(bitmap.block().size(), 1024u * 4608 + 40);
    const std::uint8_t header[12] = {40, 0, 0, 0, 0x00, 0x06, 0, 0, 0x00, 0xFC, 0xFF, 0xFF};
    EXPECT_TRUE(std::equal(header, header + 12, bitmap.block().begin()));
    EXPECT_EQ(pixel(bitmap, 1280, 768), pixel(small, 0, 0));
    // Overlays keep inside a bitmap wider than it is high.
    draw_cross_hair(bitmap, 1500, 1000, false, 1);
    EXPECT_EQ(bitmap.row(1023)[1500 * 3], 0);
    draw_position_marker(bitmap, 1530, 1020);  // cut at the right edge, drawn down to the bottom row
    EXPECT_EQ(bitmap.row(1020)[1530 * 3 + 2], 0);  // the black centre

    // One cell copied again shows the mosaic, its overlays erased, while the cross-hair stays on the
    // other cells; a grid the mosaic was not built for is refused.
    EXPECT_TRUE(copy_cell_to_bitmap(mosaic, ViewGrid{6, 4}, 23, bitmap));
    EXPECT_EQ(pixel(bitmap, 1530, 1020), kGrey);
    EXPECT_EQ(pixel(bitmap, 1500, 1000), kGrey);
    EXPECT_EQ(pixel(bitmap, 1280, 768), pixel(small, 0, 0));
    EXPECT_EQ(bitmap.row(700)[1500 * 3], 0);  // cell 17 keeps its line
    EXPECT_FALSE(copy_cell_to_bitmap(mosaic, ViewGrid{4, 4}, 0, bitmap));
    EXPECT_FALSE(copy_cell_to_bitmap(mosaic, ViewGrid{6, 4}, 24, bitmap));
}

TEST(BuildDisplayBitmap, RedBlueSwapAtEveryLengthWritesNothingPastTheEnd) {
    // The vector path takes 16 pixels a step and leaves the rest to the plain one.
    std::vector<std::uint8_t> in(3 * 50);
    for (std::size_t i = 0; i < in.size(); ++i) in[i] = static_cast<std::uint8_t>(i * 37 + 11);
    for (std::size_t n = 0; n <= 50; ++n) {
        std::vector<std::uint8_t> out(3 * 50 + 16, 0xAB);
        copy_swapping_red_blue(in.data(), out.data(), n);
        for (std::size_t k = 0; k < n; ++k)
            ASSERT_TRUE(out[3 * k] == in[3 * k + 2] && out[3 * k + 1] == in[3 * k + 1] && out[3 * k + 2] == in[3 * k])
                << n << " " << k;
        EXPECT_TRUE(std::all_of(out.begin() + static_cast<std::ptrdiff_t>(3 * n), out.end(), [](int b) { return b == 0xAB; }))
            << n;
    }
}

TEST(BuildDisplayBitmap, HeaderAndBlueGreenRedRows) {
    Mosaic mosaic;
    mosaic.width = mosaic.height = 512;
    mosaic.pixels.assign(512 * 512 * 3, 192);
    std::uint8_t* p = mosaic.pixels.data() + (std::size_t(7) * 512 + 9) * 3;
    p[0] = 255, p[1] = 0, p[2] = 0;  // red at (9, 7)
    p = mosaic.pixels.data() + (std::size_t(511) * 512 + 511) * 3;
    p[0] = 1, p[1] = 2, p[2] = 3;

    DisplayBitmap bitmap;
    ASSERT_TRUE(build_display_bitmap(false, mosaic, bitmap));
    const BitmapBlock& block = bitmap.block();
    ASSERT_EQ(block.size(), 512u * 1536 + 40);
    const std::uint8_t header[40] = {40, 0, 0, 0, 0x00, 0x02, 0, 0, 0x00, 0xFE, 0xFF, 0xFF, 1, 0, 24, 0};
    EXPECT_TRUE(std::equal(header, header + 40, block.begin()));
    EXPECT_EQ(bitmap.stride(), 1536);
    const std::uint8_t* row7 = block.data() + 40 + 7 * 1536 + 9 * 3;
    EXPECT_EQ(row7[0], 0);
    EXPECT_EQ(row7[1], 0);
    EXPECT_EQ(row7[2], 255);
    const std::uint8_t* last = block.data() + 40 + 511 * 1536 + 511 * 3;
    EXPECT_EQ(last[0], 3);
    EXPECT_EQ(last[1], 2);
    EXPECT_EQ(last[2], 1);
    EXPECT_EQ(pixel(bitmap, 0, 0), kGrey);

    ASSERT_TRUE(build_mosaic(TilePathTable{}, MapSource::OpenStreetMap, false, true, mosaic));
    ASSERT_TRUE(build_display_bitmap(true, mosaic, bitmap));
    ASSERT_EQ(bitmap.block().size(), 1024u * 3072 + 40);
    const std::uint8_t big_header[16] = {40, 0, 0, 0, 0x00, 0x04, 0, 0, 0x00, 0xFC, 0xFF, 0xFF, 1, 0, 24, 0};
    EXPECT_TRUE(std::equal(big_header, big_header + 16, bitmap.block().begin()));
    EXPECT_TRUE(std::all_of(bitmap.block().begin() + 16, bitmap.block().begin() + 40, [](auto b) { return b == 0; }));
    EXPECT_TRUE(std::all_of(bitmap.block().begin() + 40, bitmap.block().end(), [](auto b) { return b == 192; }));
}

TEST(BuildDisplayBitmap, SizeFollowsTheOptionNotTheMosaic) {
    Mosaic big;
    ASSERT_TRUE(build_mosaic(TilePathTable{}, MapSource::OpenStreetMap, false, true, big));
    big.pixels[(std::size_t(600) * 1024 + 600) * 3] = 7;
    DisplayBitmap bitmap;
    // A 1024 mosaic into a 512 bitmap: only its top-left quarter is copied.
    ASSERT_TRUE(build_display_bitmap(false, big, bitmap));
    EXPECT_EQ(bitmap.side(), 512);
    EXPECT_EQ(pixel(bitmap, 511, 511), kGrey);
    // A 512 mosaic into a 1024 bitmap: the rest is left clear, never read past the mosaic.
    Mosaic small;
    ASSERT_TRUE(build_mosaic(TilePathTable{}, MapSource::OpenStreetMap, false, false, small));
    ASSERT_TRUE(build_display_bitmap(true, small, bitmap));
    EXPECT_EQ(pixel(bitmap, 511, 511), kGrey);
    EXPECT_EQ(pixel(bitmap, 512, 0), kBlack);
    EXPECT_EQ(pixel(bitmap, 0, 512), kBlack);
    // No mosaic at all: a bitmap with its header and clear rows.
    ASSERT_TRUE(build_display_bitmap(false, Mosaic{}, bitmap));
    EXPECT_EQ(bitmap.block().size(), 512u * 1536 + 40);
    EXPECT_EQ(pixel(bitmap, 100, 100), kBlack);
}

// ------------------------------------------------------------------------------------------ overlays

DisplayBitmap grey_bitmap() {
    Mosaic mosaic;
    build_mosaic(TilePathTable{}, MapSource::OpenStreetMap, false, false, mosaic);
    DisplayBitmap bitmap;
    build_display_bitmap(false, mosaic, bitmap);
    return bitmap;
}

// The pixels of the 11 × 11 square around (c, r) as characters: Y yellow, K black, . grey.
std::string picture(const DisplayBitmap& b, int c, int r) {
    std::string s;
    for (int y = r - 5; y <= r + 5; ++y) {
        for (int x = c - 5; x <= c + 5; ++x) {
            const auto p = pixel(b, x, y);
            s += p == kYellow ? 'Y' : p == kBlack ? 'K' : p == kGrey ? '.' : '?';
        }
        s += '\n';
    }
    return s;
}

TEST(DrawPositionMarker, YellowDiscWithBlackTicksAndCentre) {
    DisplayBitmap bitmap = grey_bitmap();
    draw_position_marker(bitmap, 100, 200);
    EXPECT_EQ(picture(bitmap, 100, 200),
              "...YYKYY...\n"
              ".YYYYKYYYY.\n"
              ".YYYYKYYYY.\n"
              "YYYYYYYYYYY\n"
              "YYYYKKKYYYY\n"
              "KKKYKKKYKKK\n"
              "YYYYKKKYYYY\n"
              "YYYYYYYYYYY\n"
              ".YYYYKYYYY.\n"
              ".YYYYKYYYY.\n"
              "...YYKYY...\n");
    // Nothing outside the 11 × 11 square.
    EXPECT_EQ(pixel(bitmap, 100, 194), kGrey);
    EXPECT_EQ(pixel(bitmap, 94, 200), kGrey);
    EXPECT_EQ(pixel(bitmap, 106, 200), kGrey);
}

TEST(DrawPositionMarker, EdgesOfTheBitmap) {
    const DisplayBitmap untouched = grey_bitmap();
    // Top or left part outside: nothing at all is drawn.
    for (auto [c, r] : {std::pair{100, 4}, {4, 100}, {0, 0}, {-50, 100}, {100, -50}}) {
        DisplayBitmap bitmap = grey_bitmap();
        draw_position_marker(bitmap, c, r);
        EXPECT_TRUE(bitmap.block() == untouched.block()) << c << "," << r;
    }
    // Right edge: cut off at the last column, the next row's first pixels untouched.
    DisplayBitmap right = grey_bitmap();
    draw_position_marker(right, 509, 100);
    EXPECT_EQ(pixel(right, 508, 100), kBlack);
    EXPECT_EQ(pixel(right, 510, 100), kBlack);
    EXPECT_EQ(pixel(right, 511, 100), kYellow);
    EXPECT_EQ(pixel(right, 0, 101), kGrey);
    // Bottom edge: rows down to the last one drawn, nothing after the block.
    DisplayBitmap bottom = grey_bitmap();
    draw_position_marker(bottom, 100, 509);
    EXPECT_EQ(pixel(bottom, 100, 509), kBlack);
    EXPECT_EQ(pixel(bottom, 96, 511), kYellow);
    EXPECT_EQ(bottom.block().size(), untouched.block().size());
    // Far outside: nothing, and no bitmap at all: nothing.
    DisplayBitmap far = grey_bitmap();
    draw_position_marker(far, 100000, 100000);
    EXPECT_TRUE(far.block() == untouched.block());
    DisplayBitmap none;
    draw_position_marker(none, 100, 100);
    EXPECT_FALSE(none.exists());
}

TEST(DrawCrossHair, WidthFollowsHair) {
    // hair 1: one-pixel black lines across the whole bitmap.
    DisplayBitmap one = grey_bitmap();
    draw_cross_hair(one, 300, 200, false, 1);
    for (int i : {0, 150, 511}) {
        EXPECT_EQ(pixel(one, i, 200), kBlack);
        EXPECT_EQ(pixel(one, 300, i), kBlack);
        EXPECT_EQ(pixel(one, i, 199), kGrey);
        EXPECT_EQ(pixel(one, 301, i == 200 ? 0 : i), kGrey);
    }
    // hair 2 and 3: a three-pixel yellow band with a black middle line.
    for (int hair : {2, 3}) {
        DisplayBitmap band = grey_bitmap();
        draw_cross_hair(band, 300, 200, false, hair);
        EXPECT_EQ(pixel(band, 10, 199), kYellow);
        EXPECT_EQ(pixel(band, 10, 200), kBlack);
        EXPECT_EQ(pixel(band, 10, 201), kYellow);
        EXPECT_EQ(pixel(band, 10, 202), kGrey);
        EXPECT_EQ(pixel(band, 299, 10), kYellow);
        EXPECT_EQ(pixel(band, 300, 10), kBlack);
        EXPECT_EQ(pixel(band, 302, 10), kGrey);
    }
    // Nothing with hair 0 or below, nor with track on.
    const DisplayBitmap untouched = grey_bitmap();
    for (auto [hair, track] : {std::pair{0, false}, {-3, false}, {1, true}, {5, true}}) {
        DisplayBitmap b = grey_bitmap();
        draw_cross_hair(b, 300, 200, track, hair);
        EXPECT_TRUE(b.block() == untouched.block()) << hair << " " << track;
    }
}

TEST(DrawCrossHair, LinesOutsideTheBitmapAreSkipped) {
    DisplayBitmap b = grey_bitmap();
    draw_cross_hair(b, 0, 511, false, 9);  // band of ±4 around the last row and the first column
    EXPECT_EQ(pixel(b, 4, 100), kYellow);
    EXPECT_EQ(pixel(b, 5, 100), kGrey);
    EXPECT_EQ(pixel(b, 0, 100), kBlack);
    EXPECT_EQ(pixel(b, 100, 507), kYellow);
    EXPECT_EQ(pixel(b, 100, 511), kBlack);
    EXPECT_EQ(b.block().size(), 512u * 1536 + 40);
    DisplayBitmap far = grey_bitmap();
    const DisplayBitmap untouched = grey_bitmap();
    draw_cross_hair(far, -100, 5000, false, 3);
    EXPECT_TRUE(far.block() == untouched.block());
}

}  // namespace
}  // namespace vg
