#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace vg {
namespace {

constexpr std::size_t kMaxLine = 4096;

struct Pipe {
    int fd[2] = {-1, -1};
    ~Pipe() {
        for (const int f : fd)
            if (f >= 0) ::close(f);
    }
};

}  // namespace

ProcessResult run_process(const std::string& program, const std::vector<std::string>& args,
                          const std::function<void(std::string_view line)>& on_line,
                          const std::atomic<bool>* cancel) {
    ProcessResult result;
    Pipe out;
    if (::pipe2(out.fd, O_CLOEXEC) != 0) {
        result.error = std::string("no pipe: ") + std::strerror(errno);
        return result;
    }
    std::vector<std::string> words;
    words.push_back(program);
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out.fd[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out.fd[1], 2);
    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        result.error = program + " could not be run: " + std::strerror(spawned);
        return result;
    }
    result.started = true;
    ::close(out.fd[1]);
    out.fd[1] = -1;

    std::string line;
    auto emit = [&] {
        if (on_line) on_line(line);
        line.clear();
    };
    char buffer[4096];
    for (;;) {
        if (cancel && cancel->load()) {
            ::kill(pid, SIGKILL);
            result.cancelled = true;
            break;
        }
        pollfd p{out.fd[0], POLLIN, 0};
        const int ready = ::poll(&p, 1, 100);
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) continue;
        const ssize_t n = ::read(out.fd[0], buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) break;  // the program closed its output: it is ending
        for (ssize_t i = 0; i < n; ++i) {
            const char c = buffer[i];
            if (c == '\n' || c == '\r') {
                if (!line.empty()) emit();
            } else {
                line += c;
                if (line.size() >= kMaxLine) emit();
            }
        }
    }
    if (!line.empty() && !result.cancelled) emit();
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!result.cancelled && WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
    return result;
}

}  // namespace vg
