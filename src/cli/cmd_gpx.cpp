// vortool gpx: writes a track log (the `file` setting's lines) as GPX 1.1 on standard output.
//   vortool gpx TRACKFILE [--name NAME] > out.gpx
// Times in the log are local calendar texts; they are read in this process's time zone (TZ).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "track/gpx.h"
#include "track/track_log.h"

namespace vg::cli {

int run_gpx(int argc, char** argv) {
    constexpr const char* kUsage = "usage: vortool gpx TRACKFILE [--name NAME] > out.gpx\n";
    std::string path, name;
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--name" && i + 1 < argc) name = argv[++i];
        else if (path.empty() && !arg.starts_with("--")) path = arg;
        else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    if (path.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
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
