// vortool setting: looks a key up in a settings file, or changes one key of vor_set.txt.
//   vortool setting get FILE KEY     prints the value found (status 0), or nothing (status 1)
//   vortool setting set KEY VALUE    rewrites vor_set.txt in the working directory (status 0 when the
//                                    file existed and was rewritten, else 1)
#include <cstdio>
#include <cstring>
#include <string>

#include "settings/settings_file.h"

namespace vg::cli {

int run_setting(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[0], "get") == 0) {
        std::string value;
        if (read_setting(argv[1], argv[2], nullptr, value) != 1) return 1;
        value.push_back('\n');
        std::fwrite(value.data(), 1, value.size(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (argc == 3 && std::strcmp(argv[0], "set") == 0) return write_setting(argv[1], argv[2]) == 1 ? 0 : 1;
    std::fputs("usage: vortool setting get FILE KEY | vortool setting set KEY VALUE\n", stderr);
    return 2;
}

}  // namespace vg::cli
