// The recording of every fix into the day's GPX: a kill while recording loses at most the last
// second, the journal's bad lines and a day change, the settings lines, and the tracks drawn as lines.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <ctime>
#include <thread>

#ifndef _WIN32
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "app/app_fixture.h"
#include "gps/nmea.h"
#include "platform/clock.h"
#include "settings/recording_settings.h"
#include "support/gpx_schema.h"
#include "support/nmea_capture.h"
#include "track/gpx.h"
#include "track/track_record.h"

namespace vg {
namespace {

using test::read_file;
using test::write_file;

#if !defined(_WIN32) && !defined(VG_NO_LIBXML2)
// The position fixes of a real receiver capture, in order, each with its UTC second: one for every
// position sentence (RMC and GGA) the parser stored.
std::vector<TrackPoint> capture_fixes(const std::string& name) {
    const std::string bytes = test::nmea_log_bytes(name);
    NmeaParser parser;
    FixRecord fix;
    std::vector<TrackPoint> out;
    unsigned seen = 0;
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t end = std::min(bytes.find('\n', at), bytes.size() - 1) + 1;
        parser.feed(reinterpret_cast<const std::uint8_t*>(bytes.data() + at), end - at, fix);
        at = end;
        if (fix.positions == seen || fix.year == 0) continue;
        seen = fix.positions;
        std::tm parts{};
        parts.tm_year = fix.year - 1900;
        parts.tm_mon = fix.month - 1;
        parts.tm_mday = fix.day;
        parts.tm_hour = fix.hour;
        parts.tm_min = fix.minute;
        parts.tm_sec = fix.second;
        out.push_back({fix.latitude, fix.longitude, static_cast<std::int64_t>(utc_time(parts)), std::nullopt});
    }
    return out;
}
#endif

#ifndef VG_NO_LIBXML2
std::vector<GpxPoint> gpx_points(const std::filesystem::path& file) {
    GpxData data;
    std::string error;
    EXPECT_TRUE(read_gpx(read_file(file), data, error)) << error;
    std::vector<GpxPoint> out;
    for (const auto& line : data.lines) out.insert(out.end(), line.begin(), line.end());
    return out;
}
#endif

// The track points of a written GPX file: read back where GPX can be read, else counted in its text.
std::size_t gpx_point_count(const std::filesystem::path& file) {
#ifdef VG_NO_LIBXML2
    const std::string text = read_file(file);
    std::size_t count = 0;
    for (auto at = text.find("<trkpt "); at != std::string::npos; at = text.find("<trkpt ", at + 1)) ++count;
    return count;
#else
    return gpx_points(file).size();
#endif
}

#if !defined(_WIN32) && !defined(VG_NO_LIBXML2)
// A child process records a real capture through the recorder, telling the parent each fix it has
// handed over; it is killed with SIGKILL half-way. The next recorder's start makes the journal a GPX
// 1.1 file that validates and holds every fix handed over more than a second before the kill, in order.
TEST(Recording, AKilledRecorderLosesAtMostItsLastSecond) {
    const std::vector<TrackPoint> fixes = capture_fixes("nmea-rtk");
    ASSERT_GT(fixes.size(), 100u);
    test::TempDir dir;
    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipe_fds[0]);
        TrackRecorder recorder({dir.path(), true, 1000}, *fixes[0].utc_seconds);
        for (std::uint32_t i = 0; i < fixes.size(); ++i) {
            recorder.record(fixes[i]);
            if (::write(pipe_fds[1], &i, sizeof i) != sizeof i) ::_exit(2);
            std::this_thread::sleep_for(std::chrono::milliseconds(15));
        }
        ::pause();  // the kill comes before the capture ends
        ::_exit(0);
    }
    ::close(pipe_fds[1]);
    using Clock = std::chrono::steady_clock;
    std::vector<Clock::time_point> handed;  // when each fix was handed over
    const auto started = Clock::now();
    while (Clock::now() - started < std::chrono::seconds(10) && handed.size() < 80) {
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
    ASSERT_EQ(handed.size(), 80u);

    const std::string name = recording_name(*fixes[0].utc_seconds, true);
    EXPECT_EQ(recover_recordings(dir.path(), ""), 1);
    const auto gpx = dir / (name + ".gpx");
    std::string report;
    EXPECT_TRUE(test::gpx_file_valid(gpx, &report)) << report;
    EXPECT_FALSE(std::filesystem::exists(dir / (name + ".journal")));  // not today's: only the GPX stays
    const std::vector<GpxPoint> points = gpx_points(gpx);
    std::size_t old_enough = 0;
    while (old_enough < handed.size() && killed - handed[old_enough] > std::chrono::seconds(1)) ++old_enough;
    EXPECT_GT(old_enough, 0u);
    EXPECT_GE(points.size(), old_enough);
    ASSERT_LE(points.size(), handed.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        EXPECT_NEAR(points[i].latitude, fixes[i].latitude, 1e-6) << i;
        EXPECT_NEAR(points[i].longitude, fixes[i].longitude, 1e-6) << i;
    }
}
#endif

// A journal's complete, well-formed lines are its points; a torn last line is cut off before the
// next append. A fix of the next day finishes the day before: its GPX written, its journal removed.
TEST(Recording, JournalLinesAndTheDayChange) {
    const std::vector<TrackPoint> read =
        read_journal("1780000000 60.1 24.9 12.5\n"
                     "garbage\n"
                     "1780000001 60.1 24.9 - extra\n"  // five fields
                     "1780000002 95 24.9 -\n"          // latitude out of range
                     "1780000003 60,1 24.9 -\n"        // decimal comma
                     "1780000004 60.2 25.0 -\r\n"
                     "1780000005 60.3 25");             // torn
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[0].elevation, 12.5);
    EXPECT_EQ(read[1].utc_seconds, 1780000004);
    EXPECT_FALSE(read[1].elevation);
    EXPECT_EQ(journal_line({60.5, -3.25, 1780000000, 7.0}), "1780000000 60.5000000 -3.2500000 7.0\n");
    EXPECT_EQ(split_runs(read_journal("100 1 1 -\n101 1 1 -\n" + std::to_string(101 + kFixGapSeconds + 1) +
                                      " 1 1 -\n50 1 1 -\n"))
                  .size(),
              3u);  // a gap and a step back

    test::TempDir dir;
    const std::int64_t day1 = 1780000000, day2 = day1 + 86400;
    const std::string name1 = recording_name(day1, true), name2 = recording_name(day2, true);
    write_file(dir / (name1 + ".journal"), journal_line({1, 2, day1, std::nullopt}) + "1780000001 1.5 2");
    {
        TrackRecorder recorder({dir.path(), true, 1000}, day1);
        EXPECT_EQ(recorder.points().size(), 1u);  // read back at start
        recorder.record({1.1, 2.1, day1 + 5, std::nullopt});
        ASSERT_TRUE(recorder.flush(std::chrono::seconds(10)));
        EXPECT_EQ(read_file(dir / (name1 + ".journal")),
                  journal_line({1, 2, day1, std::nullopt}) + journal_line({1.1, 2.1, day1 + 5, std::nullopt}));
        recorder.record({3, 4, day2, std::nullopt});
        EXPECT_EQ(recorder.name(), name2);
        EXPECT_EQ(recorder.points().size(), 1u);
        ASSERT_TRUE(recorder.flush(std::chrono::seconds(10)));
        EXPECT_FALSE(std::filesystem::exists(dir / (name1 + ".journal")));
        EXPECT_EQ(gpx_point_count(dir / (name1 + ".gpx")), 2u);
    }
    // A clean stop leaves the day's GPX whole, and its journal for a later start that day.
    EXPECT_EQ(gpx_point_count(dir / (name2 + ".gpx")), 1u);
    EXPECT_TRUE(std::filesystem::exists(dir / (name2 + ".journal")));
    EXPECT_EQ(recording_name(day1, false), "track");
}

TEST(Recording, SettingsLinesAndDefaults) {
    EXPECT_EQ(parse_recording_settings(""), RecordingSettings{});
    const RecordingSettings s = parse_recording_settings("record=No\r\nrecdir=/data/trips\r\nrecsplit=None\r\n");
    EXPECT_FALSE(s.record);
    EXPECT_EQ(s.dir, "/data/trips");
    EXPECT_FALSE(s.split_by_day);
    EXPECT_TRUE(parse_recording_settings("record=yes\r\nrecsplit=week\r\n").split_by_day);
    EXPECT_EQ(recording_folder({}, "/home/u/vg"), std::filesystem::path("/home/u/vg/tracks"));
    EXPECT_EQ(recording_folder({true, "gps", true}, "/home/u/vg"), std::filesystem::path("/home/u/vg/gps"));
    test::TempDir dir;
    write_file(dir / "vor_ini.txt", "zoom=2\r\n");
    EXPECT_TRUE(write_recording_settings(dir / "vor_ini.txt", s));
    EXPECT_EQ(read_recording_settings(dir / "vor_ini.txt"), s);
    EXPECT_NE(read_file(dir / "vor_ini.txt").find("zoom=2"), std::string::npos);
}

class RecordingView : public test::AppFixture {};

// At Street level the log is one line: the pixels between two logged points are the track's.
TEST_F(RecordingView, TheTrackIsALineAtStreetLevel) {
    const MapSource ve = MapSource::VirtualEarth;
    const WorldPixel c = centre_of(test::kStartLat, test::kStartLon, ve, 4);
    auto at = [&](int dx) {
        char line[96];
        std::snprintf(line, sizeof line, "%.9f %.9f - Mon Dec  7 05:09:35 2026\n", pixel_to_latitude(c.y, ve, 4),
                      pixel_to_longitude(c.x + dx, ve, 4));
        return std::string(line);
    };
    write_file(dir / "track.txt", at(-60) + at(60));
    write_settings("", "zoom=4\r\nfile=track.txt\r\nplot=yes\r\n");
    App& a = start();
    ASSERT_EQ(a.view().level, 4);
    const PaintFrame f = a.paint();
    const DisplayBitmap& b = a.view().display_bitmap;
    const int row = f.visible_first_row + a.view().map_height / 2;
    int set = 0;
    for (int dx = -50; dx <= 50; dx += 10) {
        const std::uint8_t* p = b.row(row) + 3 * (f.visible_first_column + a.view().map_width / 2 + dx);
        set += p[0] == 0x10 && p[1] == 0x40 && p[2] == 0xe0;
    }
    EXPECT_EQ(set, 11);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "tracks"));  // recording is on by default
}

}  // namespace
}  // namespace vg
