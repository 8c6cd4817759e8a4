// Runs a program the tests built (or a system tool) and collects its exit status and output.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace vg::test {

struct RunResult {
    int status = -1;  // the exit status; -1 when it could not be run or was killed by a signal
    std::string out;
    std::string err;
};

// Runs `program` (a path, or a name looked up in PATH) with `args` in folder `dir` (the current one
// when empty), feeding `input` on standard input.
RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::filesystem::path& dir = {}, const std::string& input = {});

// Runs `command` through /bin/sh and collects its standard output (standard error goes where the
// command line sends it) and exit status.
RunResult run_shell(const std::string& command);

// Whether a tool is on PATH.
bool have_tool(const std::string& name);

}  // namespace vg::test
