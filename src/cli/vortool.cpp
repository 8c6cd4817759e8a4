// vortool: the command-line companion of VorGlobal, used by scripts, tests and users.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/commands.h"

namespace {

void usage() {
    std::fputs(
        "usage: vortool COMMAND [ARGS]\n"
        "commands:\n"
        "  decode --device DEVICE [--zone HOURS] [--chunk N] [--every] [--replies FILE] [FILE]\n"
        "  setting get FILE KEY | setting set KEY VALUE\n"
        "  state\n",
        stderr);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        usage();
        return 2;
    }
    const std::string command = argv[1];
    for (const auto& entry : vg::cli::command_table()) {
        if (command == entry.name) return entry.run(argc - 2, argv + 2);
    }
    std::fprintf(stderr, "vortool: unknown command '%s'\n", command.c_str());
    usage();
    return 2;
}
