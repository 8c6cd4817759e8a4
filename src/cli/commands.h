// The vortool commands. Each lives in its own file (cmd_<name>.cpp) and is listed in commands.cpp.
#pragma once

#include <vector>

namespace vg::cli {

struct Command {
    const char* name;
    int (*run)(int argc, char** argv);  // arguments after the command name
};

const std::vector<Command>& command_table();

}  // namespace vg::cli
