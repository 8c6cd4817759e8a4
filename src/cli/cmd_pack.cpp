// vortool pack: map packs (MBTiles).
//   vortool pack info FILE     what a pack holds: name, format, scheme, zooms, bounds, attribution,
//                              tiles per zoom; a pack that cannot be read is refused with the reason
#include <cstdio>
#include <string>
#include <string_view>

#include "cli/commands.h"
#include "tiles/mbtiles.h"

namespace vg::cli {

namespace {

int info(const char* path) {
    std::string error;
    const auto pack = MbtilesPack::open(path, error);
    if (!pack) {
        std::fprintf(stderr, "vortool pack: %s\n", error.c_str());
        return 1;
    }
    const PackInfo& i = pack->info();
    std::printf("name: %s\nformat: %s\nscheme: %s\n", i.name.c_str(), i.format.c_str(), i.scheme.c_str());
    if (i.min_zoom >= 0 || i.max_zoom >= 0) std::printf("zooms: %d-%d\n", i.min_zoom, i.max_zoom);
    if (i.has_bounds) std::printf("bounds: %.6f,%.6f,%.6f,%.6f\n", i.west, i.south, i.east, i.north);
    if (!i.attribution.empty()) std::printf("attribution: %s\n", i.attribution.c_str());
    if (!i.description.empty()) std::printf("description: %s\n", i.description.c_str());
    const auto counts = pack->tile_counts();
    for (std::size_t z = 0; z < counts.size(); ++z)
        if (counts[z] > 0) std::printf("tiles at zoom %zu: %lld\n", z, counts[z]);
    return 0;
}

}  // namespace

int run_pack(int argc, char** argv) {
    if (argc == 0) return usage_error("pack", "info is required");
    if (std::string_view(argv[0]) != "info") return usage_error("pack", "unknown sub-command", argv[0]);
    if (argc != 2) return usage_error("pack", "info needs one pack file");
    return info(argv[1]);
}

}  // namespace vg::cli
