// The fleet history in a real SQLite file: stored and read back by device, time and replay moment,
// kept across a reopen, pruned by retention, and a killed writer losing at most its last second.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <thread>

#include "support/test_paths.h"
#include "track/fleet_store.h"

namespace vg {
namespace {

DeviceReport report_at(const std::string& id, std::int64_t time_ms, double lat, double lon) {
    DeviceReport r;
    r.id = id;
    r.via = "http";
    r.time_ms = time_ms;
    r.lat = lat;
    r.lon = lon;
    return r;
}

std::int64_t now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

TEST(FleetStore, StoresReadsReplaysAndPrunes) {
    test::TempDir dir;
    const auto file = dir / "fleet.sqlite";
    const std::int64_t t0 = now_ms() - 60'000;
    {
        FleetStore store({file});
        ASSERT_TRUE(store.ok());
        for (int i = 0; i < 10; ++i) {
            DeviceReport a = report_at("van 1", t0 + i * 1000, 60 + i * 0.001, 24.9);
            a.speed_kmh = 36.5;
            a.altitude_m = 12;
            EXPECT_TRUE(store.add(a));
            EXPECT_TRUE(store.add(report_at("boat", t0 + i * 1000 + 500, -33.8, 151.2 + i * 0.001)));
        }
        // Two days old: gone at the next open with a retention of one day.
        EXPECT_TRUE(store.add(report_at("old", t0 - 2 * 86'400'000, 1, 2)));
        DeviceReport untimed = report_at("late", 0, 5, 6);
        EXPECT_TRUE(store.add(untimed));
        EXPECT_TRUE(store.flush());
        EXPECT_EQ(store.stored(), 22u);
    }
    FleetStore reopened({file, 1});
    ASSERT_TRUE(reopened.flush());
    std::vector<FleetPoint> points;
    std::string error;
    ASSERT_TRUE(read_fleet_track(file, "van 1", t0 + 2000, t0 + 5000, points, error)) << error;
    ASSERT_EQ(points.size(), 4u);
    EXPECT_EQ(points[0].time_ms, t0 + 2000);
    EXPECT_DOUBLE_EQ(points[3].lat, 60.005);
    EXPECT_EQ(points[0].speed_kmh, 36.5);
    EXPECT_EQ(points[0].altitude_m, 12);
    EXPECT_FALSE(points[0].course_deg);

    // The replay at a moment: each device's last position no older than the window.
    points.clear();
    ASSERT_TRUE(fleet_positions_at(file, t0 + 3700, 10'000, points, error)) << error;
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[0].id, "boat");
    EXPECT_EQ(points[0].time_ms, t0 + 3500);
    EXPECT_EQ(points[1].id, "van 1");
    EXPECT_DOUBLE_EQ(points[1].lat, 60.003);

    points.clear();
    ASSERT_TRUE(read_fleet_track(file, "old", 0, t0, points, error));
    EXPECT_TRUE(points.empty());
    points.clear();
    ASSERT_TRUE(read_fleet_track(file, "late", t0, now_ms() + 1000, points, error));
    EXPECT_EQ(points.size(), 1u);  // given the time it was added
    const auto span = fleet_time_span(file);
    ASSERT_TRUE(span);
    EXPECT_EQ(span->first, t0);

    // An unwritable place: reported, every report dropped and counted, nothing fatal.
    EXPECT_FALSE(read_fleet_track(dir / "none.sqlite", "x", 0, 1, points, error));
    test::write_file(dir / "file", "x");
    FleetStore broken({dir / "file" / "fleet.sqlite"});
    EXPECT_FALSE(broken.ok());
    EXPECT_FALSE(broken.add(report_at("x", 1, 1, 1)));
    EXPECT_EQ(broken.dropped(), 1u);

    // A full queue drops the newest, counted.
    FleetStore small({dir / "small.sqlite", 30, std::chrono::seconds(60), 2});
    EXPECT_TRUE(small.add(report_at("a", t0, 1, 1)));
    EXPECT_TRUE(small.add(report_at("a", t0 + 1, 1, 1)));
    EXPECT_FALSE(small.add(report_at("a", t0 + 2, 1, 1)));
    EXPECT_EQ(small.dropped(), 1u);
}

#ifndef _WIN32
// A child process adds a position every 10 ms and tells the parent each one; it is killed with
// SIGKILL. Every position added more than a second before the kill is in the file.
TEST(FleetStore, AKilledWriterLosesAtMostItsLastSecond) {
    test::TempDir dir;
    const auto file = dir / "fleet.sqlite";
    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipe_fds[0]);
        FleetStore store({file});
        for (std::uint32_t i = 1;; ++i) {
            store.add(report_at("d" + std::to_string(i % 7), i, 1, 2));
            if (::write(pipe_fds[1], &i, sizeof i) != sizeof i) ::_exit(2);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ::close(pipe_fds[1]);
    using Clock = std::chrono::steady_clock;
    std::vector<Clock::time_point> handed;
    const auto started = Clock::now();
    while (Clock::now() - started < std::chrono::seconds(10) && handed.size() < 200) {
        pollfd p{pipe_fds[0], POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        std::uint32_t i = 0;
        if (::read(pipe_fds[0], &i, sizeof i) != sizeof i) break;
        handed.push_back(Clock::now());
    }
    ::kill(child, SIGKILL);
    const auto killed = Clock::now();
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(pipe_fds[0]);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_EQ(handed.size(), 200u);
    std::size_t old_enough = 0;
    while (old_enough < handed.size() && killed - handed[old_enough] > std::chrono::seconds(1)) ++old_enough;
    ASSERT_GT(old_enough, 0u);
    std::size_t stored = 0;
    std::string error;
    for (int d = 0; d < 7; ++d) {
        std::vector<FleetPoint> points;
        ASSERT_TRUE(read_fleet_track(file, "d" + std::to_string(d), 0, 1'000'000, points, error)) << error;
        stored += points.size();
    }
    EXPECT_GE(stored, old_enough);
    EXPECT_LE(stored, handed.size() + 1);
}
#endif

}  // namespace
}  // namespace vg
