// vortool tile: where a position lies in a source's world raster and where its tile lives in the
// cache, as one JSON object:
//   {"x":…, "y":…, "row":…, "col":…, "dir":"…", "path":"…", "quadkey":"…"}
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "cli/commands.h"
#include "cli/fix_json.h"
#include "cli/tile_args.h"
#include "tiles/geometry.h"
#include "tiles/map_source.h"
#include "tiles/tile_naming.h"

namespace vg::cli {

// Reads a source the way the `site` setting is read (first letter, any case), or as its number 1..5.
std::optional<MapSource> parse_source_argument(std::string_view text) {
    if (text.size() == 1 && text[0] >= '1' && text[0] <= '5') return static_cast<MapSource>(text[0] - '0');
    if (text.empty()) return std::nullopt;
    return source_from_letter(text[0]);
}

std::optional<double> parse_finite_number(std::string_view text) {
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

namespace {

int usage_error(const char* what, const char* arg) { return vg::cli::usage_error("tile", what, arg); }

std::optional<int> parse_int(std::string_view text) {
    int value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace

int run_tile(int argc, char** argv) {
    std::optional<MapSource> source;
    std::optional<int> level, x, y;
    std::optional<double> lat, lon;
    bool aerial = false;
    std::string root = kDefaultMapsDir;
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--aerial") {
            aerial = true;
            continue;
        }
        if (!option_takes_value("tile", arg)) return usage_error("unknown option", argv[i]);
        if (i + 1 >= argc) return usage_error("missing value after", argv[i]);
        const char* value = argv[++i];
        if (arg == "--source") {
            if (!(source = parse_source_argument(value))) return usage_error("unknown source", value);
        } else if (arg == "--level") {
            level = parse_int(value);
            if (!level || !is_valid_level(*level)) return usage_error("level must be 0 to 4", value);
        } else if (arg == "--lat") {
            if (!(lat = parse_finite_number(value))) return usage_error("bad latitude", value);
        } else if (arg == "--lon") {
            if (!(lon = parse_finite_number(value))) return usage_error("bad longitude", value);
        } else if (arg == "--x") {
            if (!(x = parse_int(value))) return usage_error("bad x", value);
        } else if (arg == "--y") {
            if (!(y = parse_int(value))) return usage_error("bad y", value);
        } else if (arg == "--root") {
            root = value;
        } else {
            return usage_error("unknown option", argv[i - 1]);
        }
    }
    if (!source) return usage_error("--source is required", nullptr);
    if (!level) return usage_error("--level is required", nullptr);
    const bool by_degrees = lat || lon;
    const bool by_pixel = x || y;
    if (by_degrees == by_pixel || (by_degrees && !(lat && lon)) || (by_pixel && !(x && y)))
        return usage_error("give either --lat and --lon or --x and --y", nullptr);
    if (*source == MapSource::Etopo2 && *level != 0) {
        std::fprintf(stderr, "vortool tile: Etopo2 has tiles at level 0 only\n");
        return 1;
    }
    if (aerial && (*source == MapSource::Etopo2 || *source == MapSource::OpenStreetMap)) {
        std::fprintf(stderr, "vortool tile: %s has no aerial layer\n", source_info(*source).site_value);
        return 1;
    }

    const WorldPixel pixel = by_degrees ? geo_to_pixel(*lat, *lon, *source, *level) : WorldPixel{*x, *y};
    const TileKey key = tile_key(pixel.x, pixel.y, *level, *source, aerial);
    const TilePaths paths = tile_paths(key, root);
    std::string quadkey;
    if (is_mercator(*source)) quadkey = make_quadkey(*level, pixel.x, pixel.y).value_or("");

    std::string out = "{\"x\":" + std::to_string(pixel.x) + ",\"y\":" + std::to_string(pixel.y) +
                      ",\"row\":" + std::to_string(key.row) + ",\"col\":" + std::to_string(key.column) + ",\"dir\":";
    append_json_string(out, paths.directory, JsonText::ascii);
    out += ",\"path\":";
    append_json_string(out, paths.full_path, JsonText::ascii);
    out += ",\"quadkey\":";
    append_json_string(out, quadkey, JsonText::ascii);
    out += "}\n";
    std::fputs(out.c_str(), stdout);
    return 0;
}

}  // namespace vg::cli
