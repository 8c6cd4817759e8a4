// vortool gif: converts between binary PPM (P6, 24-bit) and GIF with the tile cache's own codec.
//   vortool gif encode IN.ppm OUT.gif     writes GIF87a with the fixed palette
//   vortool gif decode IN.gif OUT.ppm     decodes the first image at the logical screen's size
#include <cstdio>
#include <string>
#include <string_view>

#include "cli/commands.h"
#include "cli/ppm.h"
#include "tiles/gif_codec.h"

namespace vg::cli {

namespace {


int encode(const char* in_path, const char* out_path) {
    RgbImage image;
    std::string error;
    if (!read_ppm_file(in_path, image, &error)) {
        std::fprintf(stderr, "vortool gif: %s: %s\n", in_path, error.c_str());
        return 1;
    }
    if (image.width > 0xFFFF || image.height > 0xFFFF || image.empty()) {
        std::fprintf(stderr, "vortool gif: %s: a GIF holds 1 to 65535 pixels per side\n", in_path);
        return 1;
    }
    if (!gif_write_file(out_path, image)) {
        std::fprintf(stderr, "vortool gif: cannot write %s\n", out_path);
        return 1;
    }
    return 0;
}

int decode(const char* in_path, const char* out_path) {
    RgbImage image;
    if (!gif_read_file(in_path, image)) {
        std::fprintf(stderr, "vortool gif: %s: not a readable GIF file\n", in_path);
        return 1;
    }
    if (image.empty()) {
        std::fprintf(stderr, "vortool gif: %s: the file holds no image\n", in_path);
        return 1;
    }
    if (!write_ppm_file(out_path, image)) {
        std::fprintf(stderr, "vortool gif: cannot write %s\n", out_path);
        return 1;
    }
    return 0;
}

}  // namespace

int run_gif(int argc, char** argv) {
    if (argc == 0) return usage_error("gif", "encode or decode is required");
    const std::string_view mode = argv[0];
    if (mode != "encode" && mode != "decode") return usage_error("gif", "unknown sub-command", argv[0]);
    if (argc != 3) return usage_error("gif", "needs an input and an output file");
    return mode == "encode" ? encode(argv[1], argv[2]) : decode(argv[1], argv[2]);
}

}  // namespace vg::cli
