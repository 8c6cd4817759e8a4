// Another program run in a process of its own: its lines (ended by '\n' or '\r', as progress counters
// write them) reach the caller in order, its exit status is kept, a program that is not there is
// said so, and a cancelled run is killed at once, leaving no child behind.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/process.h"

namespace vg {
namespace {

TEST(Process, LinesExitStatusMissingProgramsAndCancelling) {
    std::vector<std::string> lines;
    const auto keep = [&](std::string_view line) { lines.emplace_back(line); };
    auto r = run_process("sh", {"-c", "echo one; printf 'two\\rthree\\n' >&2; exit 3"}, keep, nullptr);
    EXPECT_TRUE(r.started);
    EXPECT_EQ(r.exit_status, 3);
    EXPECT_EQ(lines, (std::vector<std::string>{"one", "two", "three"}));

    r = run_process("no-such-program-here", {}, keep, nullptr);
    EXPECT_FALSE(r.started);
    EXPECT_NE(r.error.find("no-such-program-here could not be run"), std::string::npos) << r.error;

    std::atomic<bool> cancel{false};
    lines.clear();
    const auto start = std::chrono::steady_clock::now();
    r = run_process("sh", {"-c", "echo started; exec sleep 30"},
                    [&](std::string_view line) {
                        lines.emplace_back(line);
                        cancel = true;
                    },
                    &cancel);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(r.cancelled);
    EXPECT_EQ(r.exit_status, -1);
    EXPECT_EQ(lines, std::vector<std::string>{"started"});
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "no child is left";
}

}  // namespace
}  // namespace vg
