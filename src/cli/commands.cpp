#include "cli/commands.h"

namespace vg::cli {

const std::vector<Command>& command_table() {
    static const std::vector<Command> table = {
    };
    return table;
}

}  // namespace vg::cli
