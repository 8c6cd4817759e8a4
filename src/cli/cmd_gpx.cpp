// vortool gpx: writes a track log (the `file` setting's lines) as GPX 1.1 on standard output.
//   vortool gpx TRACKFILE [--name NAME] > out.gpx
// Times in the log are local calendar texts; they are read in this process's time zone (TZ).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "cli/commands.h"
#include "track/gpx.h"
#include "track/track_log.h"

namespace vg::cli {

int run_gpx(int argc, char** argv) {
    std::string path, name;
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--name") {
            if (i + 1 >= argc) return usage_error("gpx", "a value is required after", argv[i]);
            name = argv[++i];
        }
        else if (path.empty() && !arg.starts_with("--")) path = arg;
        else return usage_error("gpx", path.empty() ? "unknown option" : "one track file only", argv[i]);
    }
    if (path.empty()) return usage_error("gpx", "a track file is required");
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "vortool gpx: cannot read %s\n", path.c_str());
        return 1;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (name.empty()) name = std::filesystem::path(path).stem().string();
    const std::string gpx = write_gpx(read_track_log(text), name);
    return std::fwrite(gpx.data(), 1, gpx.size(), stdout) == gpx.size() && std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace vg::cli
