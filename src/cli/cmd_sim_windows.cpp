// vortool sim on Windows: the simulator plays its receiver on a Linux pseudo-terminal, which Windows
// does not have; a null-modem pair of COM ports would be its Windows form.
#include <cstdio>

#include "cli/commands.h"

namespace vg::cli {

int run_sim(int, char**) {
    std::fputs("vortool sim: not available in this build (it needs a Linux pseudo-terminal)\n", stderr);
    return 1;
}

}  // namespace vg::cli
