// vortool stats: the trip figures of a saved track as one JSON object.
//   vortool stats [--dem DIR] FILE.gpx|TRACKLOG|FILE.journal
// A file whose first non-blank byte is '<' is read as GPX; a recording's journal by its extension;
// anything else as a track log (times in this process's time zone, TZ).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>

#include "cli/commands.h"
#include "tiles/elevation.h"
#include "track/gpx.h"
#include "track/track_log.h"
#include "track/track_record.h"
#include "track/trip_stats.h"

namespace vg::cli {

int run_stats(int argc, char** argv) {
    std::string path, dem;
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--dem") {
            if (i + 1 >= argc) return usage_error("stats", "a value is required after", argv[i]);
            dem = argv[++i];
        }
        else if (path.empty() && !arg.starts_with("--")) path = arg;
        else return usage_error("stats", path.empty() ? "unknown option" : "one track file only", argv[i]);
    }
    if (path.empty()) return usage_error("stats", "a track file is required");
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "vortool stats: cannot read %s\n", path.c_str());
        return 1;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::shared_ptr<const ElevationModel> model;
    if (!dem.empty()) {
        model = elevation_for(dem, nullptr);
        if (!model) {
            std::fprintf(stderr, "vortool stats: no elevation data in %s\n", dem.c_str());
            return 1;
        }
    }
    TripFigures figures;
    const std::size_t first = text.find_first_not_of(" \t\r\n\xEF\xBB\xBF");
    if (first != std::string::npos && text[first] == '<') {
        GpxData gpx;
        std::string error;
        if (!read_gpx(text, gpx, error)) {
            std::fprintf(stderr, "vortool stats: %s: %s\n", path.c_str(), error.c_str());
            return 1;
        }
        figures = trip_figures(gpx, model.get());
    } else if (std::filesystem::path(path).extension() == ".journal") {
        figures = trip_figures(split_runs(read_journal(text)), model.get());
    } else {
        figures = trip_figures(read_track_log(text), model.get());
    }
    const std::string out = trip_figures_json(figures) + "\n";
    return std::fwrite(out.data(), 1, out.size(), stdout) == out.size() && std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace vg::cli
