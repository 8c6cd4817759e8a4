#include "cli/commands.h"

namespace vg::cli {

int run_tile(int argc, char** argv);

const std::vector<Command>& command_table() {
    static const std::vector<Command> table = {
        {"tile", run_tile},
    };
    return table;
}

}  // namespace vg::cli
