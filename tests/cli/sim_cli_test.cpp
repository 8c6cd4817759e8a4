// vortool sim played back through the program's own serial link, one receiver type at a time.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "gps/pty_pair.h"
#include "gps/serial_link.h"
#include "support/test_paths.h"

namespace vg {
namespace {

using namespace std::chrono_literals;

// A running `vortool sim`, stopped with SIGTERM when the object goes.
class Sim {
public:
    explicit Sim(std::vector<std::string> args) {
        args.insert(args.begin(), {test::vortool_path().string(), "sim"});
        int out[2];
        if (pipe(out) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            close(out[1]);
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        stdout_ = out[0];
        // The first line is the terminal's path.
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (path_.empty() || path_.back() != '\n') {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0) break;
            pollfd p{stdout_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
            char c;
            if (read(stdout_, &c, 1) != 1) break;
            path_ += c;
        }
        if (!path_.empty() && path_.back() == '\n') path_.pop_back();
    }
    ~Sim() {
        stop();
        if (stdout_ >= 0) close(stdout_);
    }
    const std::string& path() const { return path_; }

    // SIGTERM, then the exit status (-1 when it did not end within the backstop).
    int stop() {
        if (pid_ <= 0) return status_;
        kill(pid_, SIGTERM);
        int status = 0;
        for (int i = 0; i < 2000; ++i) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = 0;
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                return status_;
            }
            std::this_thread::sleep_for(10ms);
        }
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        pid_ = 0;
        return -1;
    }

private:
    pid_t pid_ = -1;
    int stdout_ = -1;
    std::string path_;
    int status_ = -1;
};

int run_vortool(const std::string& args) {
    const std::string cmd = test::vortool_path().string() + " sim " + args + " >/dev/null 2>&1";
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct PlayBack {
    test::TempDir dir;
    SharedFix fix;
    std::atomic<int> silence{0};

    // Connects the program's link to the simulator as COM2 and waits for a fix.
    FixRecord connect(const std::string& sim_path, DeviceType type, unsigned baud) {
        test::write_file(dir / "vor_ini.txt", "com2=" + sim_path + "\n");
        test::write_file(dir / "vor_pos.txt", "N  60 10 30\nE  24 55 00\n");
        SerialLinkOptions options;
        options.ini_file = dir / "vor_ini.txt";
        options.pos_file = dir / "vor_pos.txt";
        SerialLink link(fix, silence, options);
        LineSettings s;
        s.port_number = 2;
        s.baud_rate = baud;
        link.set_settings(s);
        link.set_device_type(type);
        EXPECT_EQ(link.open_link(), LinkOpen::Opened);
        const bool got = test::wait_until([&] {
            if (type == DeviceType::Garmin) {
                link.garmin_timer_step();
                std::this_thread::sleep_for(50ms);
            }
            const FixRecord f = fix.snapshot();
            return f.fix_dimension > 0 && f.latitude != 0 && f.utc_text[0] != '\0';
        });
        EXPECT_TRUE(got);
        EXPECT_TRUE(link.close_link());
        return fix.snapshot();
    }
};

TEST(SimCli, EveryReceiverTypeIsReadBackByTheLink) {
    const struct {
        const char* device;
        DeviceType type;
        unsigned baud;
    } cases[] = {{"NMEA", DeviceType::Nmea, 4800},         {"USB EarthMate", DeviceType::EarthMateUsb, 4800},
                 {"TripMate", DeviceType::TripMate, 4800}, {"EarthMate", DeviceType::EarthMate, 9600},
                 {"Garmin", DeviceType::Garmin, 9600}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.device);
        Sim sim({"--device", c.device, "--rate", "20"});
        ASSERT_EQ(sim.path().rfind("/dev/", 0), 0u) << sim.path();
        PlayBack play;
        const FixRecord f = play.connect(sim.path(), c.type, c.baud);
        // The built-in loop stays within about 500 m of the default start position.
        EXPECT_NEAR(f.latitude, 60.175, 0.006);
        EXPECT_NEAR(f.longitude, 24.9167, 0.011);
        if (c.type != DeviceType::Garmin) {
            EXPECT_EQ(f.fix_dimension, 3);
            EXPECT_GT(f.sats_in_view, 0);
        }
        EXPECT_EQ(sim.stop(), 0);
    }
}

TEST(SimCli, TrackFilePositionsAndBadArguments) {
    test::TempDir dir;
    test::write_file(dir / "track.txt", "48.500000 11.250000 - Sun Feb 14 12:34:56 2010\nnot a point\n");
    Sim sim({"--device", "N", "--track", (dir / "track.txt").string(), "--rate", "20"});
    PlayBack play;
    const FixRecord f = play.connect(sim.path(), DeviceType::Nmea, 4800);
    EXPECT_NEAR(f.latitude, 48.5, 1e-6);
    EXPECT_NEAR(f.longitude, 11.25, 1e-6);
    EXPECT_EQ(sim.stop(), 0);

    test::write_file(dir / "empty.txt", "no positions here\n");
    EXPECT_EQ(run_vortool("--device N --track " + (dir / "empty.txt").string()), 1);
    EXPECT_EQ(run_vortool("--device N --track " + (dir / "missing.txt").string()), 1);
    EXPECT_EQ(run_vortool("--device X"), 2);
    EXPECT_EQ(run_vortool("--device R"), 2);
    EXPECT_EQ(run_vortool("--device N --rate 0"), 2);
    EXPECT_EQ(run_vortool("--device N --rate fast"), 2);
    EXPECT_EQ(run_vortool(""), 2);
}

}  // namespace
}  // namespace vg
