// vortool setting: looks a key up in a settings file, or changes one key of vor_set.txt.
//   vortool setting get FILE KEY     prints the value found (status 0), or nothing (status 1)
//   vortool setting set KEY VALUE    rewrites vor_set.txt in the working directory (status 0 when the
//                                    file existed and was rewritten, else 1)
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/commands.h"
#include "settings/settings_file.h"

namespace vg::cli {

int run_setting(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[0], "get") == 0) {
        std::string value;
        if (!read_setting(argv[1], argv[2], value)) return 1;
        value.push_back('\n');
        std::fwrite(value.data(), 1, value.size(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (argc == 3 && std::strcmp(argv[0], "set") == 0) return write_setting(argv[1], argv[2]) ? 0 : 1;
    if (argc == 0) return usage_error("setting", "get or set is required");
    if (std::strcmp(argv[0], "get") != 0 && std::strcmp(argv[0], "set") != 0)
        return usage_error("setting", argv[0][0] == '-' ? "unknown option" : "unknown sub-command", argv[0]);
    return usage_error("setting", argc < 3 ? "missing argument" : "unexpected argument", argc > 3 ? argv[3] : nullptr);
}

}  // namespace vg::cli
