// The track log's one format: lines appended, positions kept in memory and read back from files
// that a crash, another locale or another program left with bad lines.
#include "track/track_log.h"

#include <gtest/gtest.h>

#include "platform/files.h"
#include "support/test_paths.h"

namespace vg {
namespace {

const std::string kGood1 = "60.169800 24.938400 - Mon Jul  6 14:00:00 2026\n";
const std::string kGood2 = "60.170000 24.939000 - Mon Jul  6 14:00:05 2026\n";
// A text file of the system: CR LF line ends on Windows.
const std::string kEol = kPathSeparator == '\\' ? "\r\n" : "\n";

TEST(TrackLogText, BadLinesAreSkippedAndTheGoodOnesRead) {
    const std::string text = kGood1 +
                             "garbage\n"
                             "61.5\n"                                              // one number
                             "60,169800 24,938400 - Mon Jul  6 14:00:01 2026\n"  // a comma locale's numbers
                             "60.1 24.9" + std::string(kMaxTrackLine, 'x') + "\n" +  // overlong
                             "60.1 24.9" + std::string(kMaxTrackLine - 9, ' ') + "\n" +  // just fits
                             "60.1 24.9x - Mon Jul  6 14:00:02 2026\n"
                             "\n" + std::string("6\0 1\n", 5) + kGood2 +
                             "60.171 24.94";  // cut short by a crash: no line end
    const auto positions = read_track_positions(text, 10);
    ASSERT_EQ(positions.size(), 3u);
    EXPECT_DOUBLE_EQ(positions[0].latitude, 60.1698);
    EXPECT_DOUBLE_EQ(positions[1].longitude, 24.9);
    EXPECT_DOUBLE_EQ(positions[2].longitude, 24.939);
    const auto runs = read_track_log(text);
    ASSERT_EQ(runs.size(), 3u);  // timed, untimed, timed
    EXPECT_EQ(runs[0].size(), 1u);
    EXPECT_FALSE(runs[1][0].utc_seconds);
    // At most `most` kept: the newest.
    const auto newest = read_track_positions(text, 1);
    ASSERT_EQ(newest.size(), 1u);
    EXPECT_DOUBLE_EQ(newest[0].longitude, 24.939);
    EXPECT_TRUE(read_track_positions(text, 0).empty());
    EXPECT_EQ(track_log_line(-33.8666667, -70.6666667, "Mon Dec  7 05:09:35 2026"),
              "-33.866667 -70.666667 - Mon Dec  7 05:09:35 2026\n");
}

TEST(TrackLogFile, AppendsKeepsPositionsAndMendsACutLine) {
    test::TempDir dir;
    const std::filesystem::path path = dir / "track.txt";
    test::write_file(path, kGood1 + "60.171 24.94");  // a crash cut the last line short
    TrackLog log;
    log.open(path);
    ASSERT_EQ(log.positions().size(), 1u);
    // The new line starts on a line of its own, and the cut one is not read as a wrong position.
    ASSERT_TRUE(log.append(60.2, 25.0, "Mon Jul  6 14:00:09 2026"));
    ASSERT_TRUE(log.append(60.3, 25.1, "Mon Jul  6 14:00:10 2026"));
    const std::string appended = "60.200000 25.000000 - Mon Jul  6 14:00:09 2026" + kEol +
                                 "60.300000 25.100000 - Mon Jul  6 14:00:10 2026" + kEol;
    EXPECT_EQ(test::read_file(path), kGood1 + "60.171 24.94#" + kEol + appended);
    ASSERT_EQ(log.positions().size(), 3u);
    EXPECT_DOUBLE_EQ(log.positions().back().latitude, 60.3);

    // Kept, not read again: opening the same log keeps the positions even when the file changed.
    test::write_file(path, "");
    log.open(path);
    EXPECT_EQ(log.positions().size(), 3u);
    test::write_file(path, kGood1 + "60.171 24.94#" + kEol + appended);

    // Another reader of the file sees what was kept; export reads every timed record.
    TrackLog again;
    again.open(path);
    EXPECT_EQ(again.positions().size(), 3u);
    const auto runs = again.read_runs();
    ASSERT_TRUE(runs);
    ASSERT_EQ(runs->size(), 1u);
    EXPECT_EQ((*runs)[0].size(), 3u);

    // Only the end of a large file is read: here its last line and a half, of which the half is skipped.
    TrackLog tail;
    tail.open(path, appended.size() - appended.size() / 4);
    ASSERT_EQ(tail.positions().size(), 1u);
    EXPECT_DOUBLE_EQ(tail.positions()[0].latitude, 60.3);

    // A log that cannot be written keeps nothing; a missing one reads as empty, and export refuses it.
    TrackLog missing;
    missing.open(dir / "no" / "track.txt");
    EXPECT_TRUE(missing.positions().empty());
    EXPECT_FALSE(missing.append(1.0, 2.0, "Mon Jul  6 14:00:09 2026"));
    EXPECT_TRUE(missing.positions().empty());
    EXPECT_FALSE(missing.read_runs());
    EXPECT_FALSE(TrackLog().append(1.0, 2.0, "Mon Jul  6 14:00:09 2026"));
}

}  // namespace
}  // namespace vg
