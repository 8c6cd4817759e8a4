// The vortool commands. Each lives in its own file (cmd_<name>.cpp) and has one entry in the table
// in commands.cpp: its name, its function and its help texts. The command list, `vortool help NAME`,
// the manual page and the shell completion are all made from that table.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "app/help_text.h"

namespace vg::cli {

struct Command {
    const char* name;
    int (*run)(int argc, char** argv);  // arguments after the command name
    const char* summary;                // one line in the list of commands
    std::vector<const char*> usage;     // its forms, each "vortool NAME ..."
    const char* description;            // what it does and prints, its exit statuses
    std::vector<help::Option> options;  // every option the forms name
};

const std::vector<Command>& command_table();

// The entry of a command name, or nullptr.
const Command* find_command(std::string_view name);

// Help for users: the list of commands, one command's usage, the manual page, the bash completion.
std::string command_list_text();
std::string command_help_text(const Command& command);
std::string usage_text(const Command& command);  // "usage: vortool NAME ..." lines
std::string vortool_man_page();
std::string bash_completion_script();

// Whether `option` is one of `command`'s options that takes a value ("--root DIR"), by its help entry.
bool option_takes_value(const char* command, std::string_view option);

// Reports a wrong argument of `command` on standard error: the problem (with the offending word when
// `word` is given), the usage lines and where to read more. Returns 2, the exit status for it.
int usage_error(const char* command, std::string_view problem, const char* word = nullptr);

}  // namespace vg::cli
