// Another program run to its end: `argv[0]` looked up on PATH, its input and output closed off
// (/dev/null), the caller waiting for it. Used for helpers the user may have installed (speech).
// Threads: any; blocks until the program ends. Failure: -1 when it could not be started (not
// installed, or this build cannot start programs), else its exit status (128 + signal when killed).
#pragma once

#include <string>
#include <vector>

namespace vg {

int run_quietly(const std::vector<std::string>& argv);

}  // namespace vg
