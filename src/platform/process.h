// Another program run as a separate process (a database builder), its output read line by line.
// Linux: posix_spawn with the standard output and error on one pipe, standard input from /dev/null.
// Windows: not available in this build (the programs it runs are not there).
// Threads: run_process runs on its caller's thread and calls `on_line` there; any thread.
// Failure: `started` false with the reason when the program could not be run; a cancelled run kills
// the process (SIGKILL) and waits for it, so no child is ever left behind.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vg {

struct ProcessResult {
    bool started = false;
    bool cancelled = false;
    int exit_status = -1;  // the exit status; -1 when it did not exit by itself (a signal, cancelled)
    std::string error;     // why it could not be run
};

// Runs `program` (a path, or a name looked up in PATH) with `args`, calling `on_line` with each line
// it writes (a line ends at '\n' or '\r'; no line is longer than 4096 bytes, a longer one is cut in
// pieces). `cancel`, when it becomes true, is seen within a tenth of a second.
ProcessResult run_process(const std::string& program, const std::vector<std::string>& args,
                          const std::function<void(std::string_view line)>& on_line,
                          const std::atomic<bool>* cancel);

}  // namespace vg
