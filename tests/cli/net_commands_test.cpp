// vortool get, post and serve as scripts use them, against peers on 127.0.0.1 started here.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "net/http_client.h"
#include "support/loopback_http_server.h"
#include "support/run_program.h"
#include "support/test_paths.h"

namespace vg {
namespace {

using namespace std::chrono_literals;
using test::LoopbackHttpServer;
using test::ScriptedReply;

// Runs vortool with `args` in `dir`; returns the exit status and fills `out` with standard output.
int vortool(const std::filesystem::path& dir, const std::string& args, std::string* out = nullptr) {
    const std::string command = "cd '" + dir.string() + "' && timeout 60 '" + test::vortool_path().string() + "' " + args;
    test::RunResult run = test::run_shell(command);
    if (out) *out = std::move(run.out);
    return run.status;
}

TEST(NetCommands, GetAndPostReportTheClientResult) {
    test::TempDir dir;
    const std::string png = test::read_file(test::shared_testdata() / "images/bench/map256-rgb.png");
    LoopbackHttpServer server([&](const std::string& request) {
        if (request.rfind("GET /html", 0) == 0) return ScriptedReply::make(200, "text/html", "<html/>");
        return ScriptedReply::make(200, "image/png", png);
    });
    EXPECT_EQ(vortool(dir.path(), "get " + server.url("/1/2/3.png") + " tile.png"), 0);
    EXPECT_EQ(test::read_file(dir / "tile.png"), png);
    EXPECT_EQ(vortool(dir.path(), "get " + server.url("/html") + " page.png"), 1);  // wrong type
    EXPECT_FALSE(std::filesystem::exists(dir / "page.png"));
    EXPECT_EQ(vortool(dir.path(), "get " + server.url("/html")), 0);  // no file: sent and discarded
    EXPECT_EQ(vortool(dir.path(), "post " + server.url("/vor/sendbase.cgi") + " 'latitude=1.000000&longitude=2.000000'"), 0);
    ASSERT_TRUE(server.wait_for_requests(4));
    EXPECT_NE(server.requests()[3].find("Content-length: 36\r\n\r\nlatitude=1.000000&longitude=2.000000\r\n"),
              std::string::npos);

    const int closed = test::free_loopback_port();
    std::string out;
    EXPECT_EQ(vortool(dir.path(), "post http://127.0.0.1:" + std::to_string(closed) + "/ a=1", &out), 1);
    EXPECT_EQ(out, "Error: 111 in connect()\n");
    EXPECT_EQ(vortool(dir.path(), "get"), 2);
}

TEST(NetCommands, TheProxyIsReadFromTheWorkingDirectory) {
    test::TempDir dir;
    LoopbackHttpServer proxy(ScriptedReply::make(200, "image/gif", "GIF89a"));
    test::write_file(dir / "vor_ini.txt", "prox=127.0.0.1 " + std::to_string(proxy.port()) + "\r\n");
    EXPECT_EQ(vortool(dir.path(), "get http://tiles.example.org/a.gif a.gif"), 0);
    ASSERT_TRUE(proxy.wait_for_requests(1));
    EXPECT_EQ(proxy.requests()[0].substr(0, 45), "GET http://tiles.example.org/a.gif HTTP/1.1\r\n");
}

TEST(NetCommands, PostCarriesTheRelayKeyOfTheWorkingDirectory) {
    test::TempDir dir;
    LoopbackHttpServer server(ScriptedReply::make(200, "text/plain", ""));
    test::write_file(dir / "vor_ini.txt", "relaykey=abc\r\n");
    EXPECT_EQ(vortool(dir.path(), "post " + server.url("/vor/sendbase.cgi") + " 'latitude=1&longitude=2'"), 0);
    ASSERT_TRUE(server.wait_for_requests(1));
    EXPECT_NE(server.requests()[0].find("\r\n\r\nlatitude=1&longitude=2&key=abc\r\n"), std::string::npos);
}

TEST(NetCommands, ServePrintsEachPositionUntilInterrupted) {
    test::TempDir dir;
    const int port = test::free_loopback_port();
    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);
    const std::string tool = test::vortool_path().string();
    const std::string port_text = std::to_string(port);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipe_fds[1], 1);
        ::close(pipe_fds[0]);
        if (::chdir(dir.path().c_str()) != 0) ::_exit(126);
        ::execl(tool.c_str(), "vortool", "serve", "--port", port_text.c_str(), "--bind", "127.0.0.1",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ASSERT_GT(pid, 0);
    ::close(pipe_fds[1]);

    HttpOptions o;
    o.settings_dir = dir.path();
    o.idle_timeout = 5s;
    const std::string url = "http://127.0.0.1:" + port_text + "/vor/sendbase.cgi";
    // The server needs a moment to start listening: retry the first post (bounded).
    bool sent = false;
    for (int i = 0; i < 100 && !sent; ++i) {
        testing::internal::CaptureStdout();
        sent = http_post_form(url, "latitude=60.175000&longitude=24.950000", o);
        testing::internal::GetCapturedStdout();
        if (!sent) std::this_thread::sleep_for(50ms);
    }
    ASSERT_TRUE(sent);
    EXPECT_TRUE(http_post_form(url, "latitude=-12.5&longitude=130.84", o));
    testing::internal::CaptureStdout();
    EXPECT_FALSE(http_post_form(url, "longitude=1&latitude=2", o));  // not taken: refused, no line
    testing::internal::GetCapturedStdout();

    std::string lines;
    char buffer[256];
    while (std::count(lines.begin(), lines.end(), '\n') < 2) {
        pollfd p{pipe_fds[0], POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0) break;
        const ssize_t n = ::read(pipe_fds[0], buffer, sizeof buffer);
        if (n <= 0) break;
        lines.append(buffer, static_cast<std::size_t>(n));
    }
    EXPECT_EQ(lines, "{\"lat\":60.175,\"lon\":24.95}\n{\"lat\":-12.5,\"lon\":130.84}\n");

    ::kill(pid, SIGINT);
    int status = 0;
    for (int i = 0; i < 100 && ::waitpid(pid, &status, WNOHANG) == 0; ++i) std::this_thread::sleep_for(50ms);
    if (::waitpid(pid, &status, WNOHANG) == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        ADD_FAILURE() << "vortool serve did not stop on SIGINT";
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ::close(pipe_fds[0]);
}

}  // namespace
}  // namespace vg
