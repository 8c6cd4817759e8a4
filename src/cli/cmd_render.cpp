// vortool render: draws the view around a position from the tile cache alone, exactly as the window
// does off line (cache lookup, mosaic, display bitmap, cross-hair and marker), and writes the whole
// display bitmap as a BMP, PPM or PNG file.

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "cli/catalogue_source.h"
#include "cli/commands.h"
#include "cli/ppm.h"
#include "platform/c_number.h"
#include "tiles/geometry.h"
#include "tiles/image_decode.h"
#include "tiles/local_source.h"
#include "tiles/source_kind.h"
#include "tiles/tile_cache.h"

namespace vg::cli {

namespace {

constexpr const char* kUsage =
    "usage: vortool render --root DIR --source S --level L --lat A --lon B [--aerial] [--big]\n"
    "                      [--hair N] [--track] --out FILE.bmp|FILE.ppm|FILE.png\n";

struct RenderArgs {
    std::string root;
    MapSource source = MapSource::OpenStreetMap;
    int level = 0;
    double latitude = 0.0;
    double longitude = 0.0;
    bool aerial = false;
    bool big_maps = false;
    int hair = 1;
    bool track = false;
    bool online = false;
    std::optional<ChosenSource> chosen;
    std::string source_text;
    std::string out;
};

std::optional<long> parse_long(const char* text) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0) return std::nullopt;
    return v;
}

std::optional<double> parse_degrees(const char* text) {
    const auto v = whole_c_number(text);
    if (!v || !std::isfinite(*v)) return std::nullopt;
    return v;
}


// Parses the arguments; a text for the user when they are wrong.
std::optional<std::string> parse_args(int argc, char** argv, RenderArgs& args) {
    bool have_root = false, have_source = false, have_level = false, have_lat = false, have_lon = false;
    for (int i = 0; i < argc; ++i) {
        const std::string_view name = argv[i];
        if (name == "--aerial") {
            args.aerial = true;
            continue;
        }
        if (name == "--big") {
            args.big_maps = true;
            continue;
        }
        if (name == "--track") {
            args.track = true;
            continue;
        }
        if (name == "--online") {
            args.online = true;
            continue;
        }
        if (name == "--night") {
            set_vector_night_style(true);
            continue;
        }
        if (!option_takes_value("render", name)) return "unknown option " + std::string(name);
        if (i + 1 >= argc) return "missing value after " + std::string(name);
        const char* value = argv[++i];
        if (name == "--root") {
            args.root = value;
            have_root = true;
        } else if (name == "--source") {
            args.source_text = value;
            have_source = true;
        } else if (name == "--level") {
            const auto level = parse_long(value);
            if (!level || !is_valid_level(static_cast<int>(*level)) || *level != static_cast<int>(*level))
                return "level must be 0 to 4";
            args.level = static_cast<int>(*level);
            have_level = true;
        } else if (name == "--lat" || name == "--lon") {
            const auto degrees = parse_degrees(value);
            if (!degrees) return "bad number of degrees '" + std::string(value) + "'";
            (name == "--lat" ? args.latitude : args.longitude) = *degrees;
            (name == "--lat" ? have_lat : have_lon) = true;
        } else if (name == "--hair") {
            const auto hair = parse_long(value);
            if (!hair || *hair < -100000 || *hair > 100000) return "bad hair width '" + std::string(value) + "'";
            args.hair = static_cast<int>(*hair);
        } else if (name == "--out") {
            args.out = value;
        } else {
            return "unknown option " + std::string(name);
        }
    }
    if (!have_root || !have_source || !have_level || !have_lat || !have_lon || args.out.empty())
        return "--root, --source, --level, --lat, --lon and --out are required";
    // Known once the root is: the packs there are sources too.
    args.chosen = choose_source(args.source_text, args.root);
    if (!args.chosen) return "unknown source '" + args.source_text + "'";
    args.source = args.chosen->geometry;
    return std::nullopt;
}

enum class Format { Bmp, Ppm, Png };

std::optional<Format> format_of(const std::string& path) {
    const auto dot = path.rfind('.');
    if (dot == std::string::npos) return std::nullopt;
    std::string ext = path.substr(dot + 1);
    for (char& ch : ext) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (ext == "bmp") return Format::Bmp;
    if (ext == "ppm") return Format::Ppm;
    if (ext == "png") return Format::Png;
    return std::nullopt;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// The display bitmap as a BMP file: the 14-byte file header, then the block unchanged (its header
// says 24 bits, top-down rows).
bool write_bmp(const std::string& path, const DisplayBitmap& bitmap) {
    const BitmapBlock& block = bitmap.block();
    const std::uint32_t file_size = static_cast<std::uint32_t>(14 + block.size());
    const std::uint32_t offset = 14 + kBitmapHeaderSize;
    const std::uint8_t header[14] = {'B', 'M',
                                     std::uint8_t(file_size), std::uint8_t(file_size >> 8),
                                     std::uint8_t(file_size >> 16), std::uint8_t(file_size >> 24),
                                     0, 0, 0, 0,
                                     std::uint8_t(offset), std::uint8_t(offset >> 8), 0, 0};
    File f(std::fopen(path.c_str(), "wb"));
    if (!f) return false;
    if (std::fwrite(header, 1, sizeof header, f.get()) != sizeof header) return false;
    if (std::fwrite(block.data(), 1, block.size(), f.get()) != block.size()) return false;
    return std::fclose(f.release()) == 0;
}

// The display bitmap's pixels turned back into red, green, blue.
RgbImage to_rgb(const DisplayBitmap& bitmap) {
    RgbImage image;
    image.width = image.height = bitmap.side();
    image.pixels.resize(std::size_t(bitmap.side()) * bitmap.side() * 3);
    std::uint8_t* out = image.pixels.data();
    for (int y = 0; y < bitmap.side(); ++y) {
        const std::uint8_t* in = bitmap.row(y);
        for (int x = 0; x < bitmap.side(); ++x, in += 3, out += 3) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
        }
    }
    return image;
}

}  // namespace

int run_render(int argc, char** argv) {
    RenderArgs args;
    if (const auto problem = parse_args(argc, argv, args)) {
        return usage_error("render", *problem);
    }
    const auto format = format_of(args.out);
    if (!format) {
        return usage_error("render", "the output must end in .bmp, .ppm or .png");
    }

    // The view centre: the tile corner nearest the position, as the window follows the receiver.
    const WorldPixel position = geo_to_pixel(args.latitude, args.longitude, args.source, args.level);
    const int centre_x = wrap_centre_x(position.x, args.level, args.source);
    const int centre_y = clamp_centre_y(position.y, args.level, args.source);

    TilePathTable table;
    const CatalogueEntry* entry = args.chosen->layer(args.aerial);
    if (!entry) {
        std::fprintf(stderr, "vortool render: %s has no %s layer\n", args.chosen->name.c_str(),
                     args.aerial ? "aerial" : "map");
        return 1;
    }
    // On line the view's missing tiles are fetched first, as the window does; tiles that need no
    // network (the Atlas, Etopo2's relief, map packs) are made whenever they are missing.
    prepare_local_drawing(entry);
    Fetcher fetcher;  // the command's one engine: its per-host cap counts every transfer
    const bool made_here = tile_source_kind(*entry).made_here(*entry);
    const bool prepared = args.online || made_here ? fetch_view_tiles(table, centre_x, centre_y, args.level, args.source, args.root,
                                                        args.aerial, args.big_maps, catalogue_fetch_context(entry, fetcher))
                                     : find_view_tiles(table, centre_x, centre_y, args.level, args.source, args.root,
                                                       args.aerial, args.big_maps, entry);
    if (!prepared) {
        std::fprintf(stderr, "vortool render: %s has no tiles at level %d\n", args.chosen->name.c_str(), args.level);
        return 1;
    }
    int cached = 0;
    for (const auto& slot : table.slots) cached += slot.empty() ? 0 : 1;

    Mosaic mosaic;
    DisplayBitmap bitmap;
    if (!build_mosaic(table, args.source, args.aerial, args.big_maps, mosaic)) {
        std::fprintf(stderr, "vortool render: Error in loading the JPG image\n");
        return 1;
    }
    if (!build_display_bitmap(args.big_maps, mosaic, bitmap)) {
        std::fprintf(stderr, "vortool render: Error in displaying the PNG image\n");
        return 1;
    }

    // The position in bitmap pixels; rows of Etopo2 and MapQuest run northward.
    const int half = bitmap.side() / 2;
    const long long column = static_cast<long long>(position.x) - centre_x + half;
    const long long row = rows_run_north(args.source)
                              ? static_cast<long long>(centre_y) - position.y + half
                              : static_cast<long long>(position.y) - centre_y + half;
    const bool inside = column >= 0 && column < bitmap.side() && row >= 0 && row < bitmap.side();
    if (inside) {
        draw_cross_hair(bitmap, static_cast<int>(column), static_cast<int>(row), args.track, args.hair);
        draw_position_marker(bitmap, static_cast<int>(column), static_cast<int>(row));
    }

    bool written = false;
    switch (*format) {
    case Format::Bmp:
        written = write_bmp(args.out, bitmap);
        break;
    case Format::Ppm:
        written = write_ppm_file(args.out, to_rgb(bitmap));
        break;
    case Format::Png:
        written = write_png(args.out, to_rgb(bitmap));
        break;
    }
    if (!written) {
        std::fprintf(stderr, "vortool render: cannot write %s\n", args.out.c_str());
        return 1;
    }
    std::printf("centre %d %d side %d cached %d marker %lld %lld%s\n", centre_x, centre_y, bitmap.side(), cached,
                column, row, inside ? "" : " outside");
    return 0;
}

}  // namespace vg::cli
