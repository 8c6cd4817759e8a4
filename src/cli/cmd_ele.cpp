// vortool ele: the height of a place from the elevation data of a maps folder (its dem/*.hgt files,
// then the cached tiles of the first kind=dem source of ./vor_src.txt), as one JSON object:
//   {"lat":…, "lon":…, "ele_m":…, "source":"hgt|dem"}
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "cli/commands.h"
#include "cli/tile_args.h"
#include "platform/c_number.h"
#include "tiles/elevation.h"
#include "tiles/tile_catalogue.h"
#include "tiles/tile_naming.h"

namespace vg::cli {

int run_ele(int argc, char** argv) {
    std::optional<double> lat, lon;
    std::string_view lat_text, lon_text;
    std::string root = kDefaultMapsDir;
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--root") {
            if (i + 1 >= argc || std::string_view(argv[i + 1]).empty()) return usage_error("ele", "--root needs a folder");
            root = argv[++i];
        } else if (!lat) {
            lat_text = arg;
            if (!(lat = parse_finite_number(arg)) || *lat < -90 || *lat > 90)
                return usage_error("ele", "latitude must be -90 to 90", argv[i]);
        } else if (!lon) {
            lon_text = arg;
            if (!(lon = parse_finite_number(arg)) || *lon < -180 || *lon > 180)
                return usage_error("ele", "longitude must be -180 to 180", argv[i]);
        } else {
            return usage_error("ele", "unexpected argument", argv[i]);
        }
    }
    if (!lon) return usage_error("ele", "LAT and LON are required");
    const Catalogue catalogue = load_catalogue(".");
    const auto model = elevation_for(root, catalogue.elevation_source());
    const auto at = model ? model->elevation_at(*lat, *lon) : std::nullopt;
    if (!at) {
        std::fprintf(stderr, "vortool ele: no elevation data at %.*s, %.*s\n", int(lat_text.size()), lat_text.data(),
                     int(lon_text.size()), lon_text.data());
        return 1;
    }
    std::printf("{\"lat\":%s,\"lon\":%s,\"ele_m\":%s,\"source\":\"%.*s\"}\n", fixed_text(*lat, 6).c_str(),
                fixed_text(*lon, 6).c_str(), fixed_text(at->metres, 1).c_str(), int(at->source.size()),
                at->source.data());
    return 0;
}

}  // namespace vg::cli
