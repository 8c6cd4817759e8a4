// vortool get URL [FILE]: one GET with the program's HTTP client (proxy from vor_ini.txt in the
// working directory). Exit status 0 when the client reported success, else 1.
#include <cstdio>

#include "net/http_client.h"

namespace vg::cli {

int run_get(int argc, char** argv) {
    if (argc < 1 || argc > 2) {
        std::fputs("usage: vortool get URL [FILE]\n", stderr);
        return 2;
    }
    const std::filesystem::path file = argc == 2 ? std::filesystem::path(argv[1]) : std::filesystem::path();
    return http_get_file(argv[0], file) == 1 ? 0 : 1;
}

}  // namespace vg::cli
