// vortool fetch: fills the cache for the view around a position the way the window does on line
// (the view centre wrapped and clamped, missing tiles downloaded through the proxy of ./vor_ini.txt)
// and prints one JSON line per view cell: {"slot":…, "path":"…", "ok":true|false}.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "cli/commands.h"
#include "cli/fix_json.h"
#include "cli/catalogue_source.h"
#include "cli/tile_args.h"
#include "tiles/geometry.h"
#include "tiles/tile_sources.h"

namespace vg::cli {
namespace {

int usage_error(const char* what, const char* arg) { return vg::cli::usage_error("fetch", what, arg); }

}  // namespace

int run_fetch(int argc, char** argv) {
    std::optional<std::string> root;
    std::optional<ChosenSource> chosen;
    std::optional<std::string> source_text;
    std::optional<double> level, lat, lon;
    bool aerial = false;
    bool big = false;
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--aerial") {
            aerial = true;
            continue;
        }
        if (arg == "--big") {
            big = true;
            continue;
        }
        if (!option_takes_value("fetch", arg)) return usage_error("unknown option", argv[i]);
        if (i + 1 >= argc) return usage_error("missing value after", argv[i]);
        const char* value = argv[++i];
        if (arg == "--root") {
            root = value;
        } else if (arg == "--source") {
            source_text = value;
        } else if (arg == "--level") {
            level = parse_finite_number(value);
            if (!level || *level != std::floor(*level) || !is_valid_level(static_cast<int>(*level)))
                return usage_error("level must be 0 to 4", value);
        } else if (arg == "--lat") {
            if (!(lat = parse_finite_number(value))) return usage_error("bad latitude", value);
        } else if (arg == "--lon") {
            if (!(lon = parse_finite_number(value))) return usage_error("bad longitude", value);
        } else {
            return usage_error("unknown option", argv[i - 1]);
        }
    }
    if (!root || root->empty()) return usage_error("--root is required", nullptr);
    if (!source_text || !level || !lat || !lon)
        return usage_error("--source, --level, --lat and --lon are required", nullptr);
    // Chosen once the root is known: the packs there are sources too.
    if (!(chosen = choose_source(*source_text, *root))) return usage_error("unknown source", source_text->c_str());
    const CatalogueEntry* entry = chosen->layer(aerial);
    if (!entry) {
        std::fprintf(stderr, "vortool fetch: %s has no %s layer\n", chosen->name.c_str(), aerial ? "aerial" : "map");
        return 1;
    }
    const std::optional<MapSource> source = chosen->geometry;
    prepare_local_drawing(entry);
    Fetcher fetcher;  // the command's one engine: its per-host cap counts every transfer
    const FetchContext context = catalogue_fetch_context(entry, fetcher);

    const int lvl = static_cast<int>(*level);
    const WorldPixel wanted = geo_to_pixel(*lat, *lon, *source, lvl);
    const int centre_x = wrap_centre_x(wanted.x, lvl, *source);
    const int centre_y = clamp_centre_y(wanted.y, lvl, *source);
    TilePathTable table;
    if (!fetch_view_tiles(table, centre_x, centre_y, lvl, *source, *root, aerial, big, context)) {
        std::fprintf(stderr, "vortool fetch: %s has no tiles at level %d\n", chosen->name.c_str(), lvl);
        return 1;
    }
    const int cells = view_grid_size(big) * view_grid_size(big);
    for (int i = 0; i < cells; ++i) {
        const std::string& path = table.slots[static_cast<std::size_t>(i)];
        std::string line = "{\"slot\":" + std::to_string(i) + ",\"path\":";
        append_json_string(line, path, JsonText::ascii);
        line += path.empty() ? ",\"ok\":false}\n" : ",\"ok\":true}\n";
        std::fputs(line.c_str(), stdout);
    }
    return 0;
}

}  // namespace vg::cli
