// vortool: the command-line companion of VorGlobal, used by scripts, tests and users.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "cli/commands.h"

namespace {

int print(const std::string& text, std::FILE* to, int status) {
    std::fputs(text.c_str(), to);
    return std::fflush(to) != 0 && status == 0 ? 1 : status;
}

int unknown(const char* what, const char* word) {
    std::fprintf(stderr, "vortool: unknown %s '%s'\nTry 'vortool help' for the list of commands.\n", what, word);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace vg::cli;
    if (argc < 2) return print(command_list_text(), stderr, 2);
    const std::string_view first = argv[1];
    if (first == "help" || first == "--help" || first == "-h") {
        if (argc == 2) return print(command_list_text(), stdout, 0);
        const Command* command = find_command(argv[2]);
        if (!command) return unknown("command", argv[2]);
        if (argc > 3) return unknown("argument", argv[3]);
        return print(command_help_text(*command), stdout, 0);
    }
    if (first == "--version") return print(std::string("vortool ") + vg::help::version() + "\n", stdout, 0);
    if (first == "--man-page") return print(vortool_man_page(), stdout, 0);
    if (first == "--bash-completion") return print(bash_completion_script(), stdout, 0);
    if (first.size() > 1 && first[0] == '-') return unknown("option", argv[1]);

    const Command* command = find_command(first);
    if (!command) return unknown("command", argv[1]);
    // `--help` anywhere before a `--` asks for the command's usage instead of running it.
    for (int i = 2; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
            return print(command_help_text(*command), stdout, 0);
    return command->run(argc - 2, argv + 2);
}
