// vortool get URL [FILE]: one GET with the program's HTTP client (proxy from vor_ini.txt in the
// working directory). Exit status 0 when the client reported success, else 1.
#include <cstdio>

#include "cli/commands.h"
#include "net/http_client.h"

namespace vg::cli {

int run_get(int argc, char** argv) {
    for (int i = 0; i < argc; ++i)
        if (argv[i][0] == '-' && argv[i][1] != '\0') return usage_error("get", "unknown option", argv[i]);
    if (argc < 1) return usage_error("get", "a URL is required");
    if (argc > 2) return usage_error("get", "unexpected argument", argv[2]);
    const std::filesystem::path file = argc == 2 ? std::filesystem::path(argv[1]) : std::filesystem::path();
    return http_get_file(argv[0], file) == 1 ? 0 : 1;
}

}  // namespace vg::cli
