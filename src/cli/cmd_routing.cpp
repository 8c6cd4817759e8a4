// vortool routing: the routing data of the maps folder, built from an OSM extract (downloaded first
// from the extract service when asked), and listed.
#include <cstdio>
#include <string>
#include <string_view>

#include "cli/commands.h"
#include "route/route.h"
#include "route/routing_data.h"
#include "tiles/tile_naming.h"

namespace vg::cli {
namespace {

bool write_out(const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
}

void show_progress(double fraction, const std::string& stage) {
    std::fprintf(stderr, "vortool routing: %3.0f%% %s\n", fraction * 100, stage.c_str());
}

}  // namespace

int run_routing(int argc, char** argv) {
    if (argc < 1) return usage_error("routing", "build, download or list is required");
    const std::string_view action = argv[0];
    if (action != "build" && action != "download" && action != "list")
        return usage_error("routing", "unknown action", argv[0]);
    std::string maps = kDefaultMapsDir, region, file, url;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--maps" || arg == "--region" || arg == "--url") {
            if (i + 1 >= argc || !*argv[i + 1]) return usage_error("routing", "a value is required after", argv[i]);
            (arg == "--maps" ? maps : arg == "--region" ? region : url) = argv[++i];
        } else if (action == "build" && file.empty() && !arg.starts_with("--")) {
            file = arg;
        } else {
            return usage_error("routing", "unknown option", argv[i]);
        }
    }
    if (action == "list") {
        std::string out;
        for (const auto& name : route::regions(maps)) out += name + "\n";
        return write_out(out) ? 0 : 1;
    }
    if (!route::valid_region_name(region)) return usage_error("routing", "--region needs a region's name");
    std::string error;
    if (action == "download") {
        if (url.empty()) {
            url = route::extract_url(route::read_extracts_setting("."), region);
            if (url.empty()) {
                std::fprintf(stderr, "vortool routing: no extract service: give --url or an extracts= line with "
                                     "{region} in vor_ini.txt\n");
                return 1;
            }
        }
        file = maps + "/routing/" + region + ".osm.pbf";
        std::error_code ec;
        std::filesystem::create_directories(maps + "/routing", ec);
        if (!route::download_extract(url, file, [](double f, const std::string& s) { show_progress(f, s); },
                                     nullptr, error)) {
            std::fprintf(stderr, "vortool routing: %s\n", error.c_str());
            return 1;
        }
    }
    if (file.empty()) return usage_error("routing", "the extract FILE is required");
    if (!route::build_database(file, maps, region,
                               [](double f, const std::string& s) { show_progress(f, s); }, nullptr,
                               error)) {
        std::fprintf(stderr, "vortool routing: %s\n", error.c_str());
        return 1;
    }
    return write_out(route::database_folder(maps, region).string() + "\n") ? 0 : 1;
}

}  // namespace vg::cli
