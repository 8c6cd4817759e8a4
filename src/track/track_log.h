// The track log (the `file` setting): one line per marker move, "%f %f - %s\n" with latitude,
// longitude and the local 24-character calendar text. Everything that writes or reads that format is
// here: the line, `TrackLog` (the appending writer, with the logged positions kept in memory for the
// plot) and `read_track_log` (the timed records, for export).
//
// A line is read when it is complete (ends with LF; a last line without one is a write cut short),
// at most kMaxTrackLine bytes long, and starts with two numbers in the C form (a decimal point, never
// a comma), each followed by white space or the line's end, that are finite and within ±90 and ±180.
// Text after a NUL byte is not looked at. Every other line is skipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vg {

struct TrackPoint {
    double latitude = 0.0;
    double longitude = 0.0;
    std::optional<std::int64_t> utc_seconds;  // from the calendar text read as local time
    std::optional<double> elevation;          // metres; today's log lines carry none
};

// A logged position without its time, as the plot draws it.
struct LoggedPosition {
    double latitude = 0.0;
    double longitude = 0.0;
};

// The longest line read; the program's own lines are about 50 bytes.
inline constexpr std::size_t kMaxTrackLine = 256;

// One log line: "%f %f - %s\n" with the position and the 24-character calendar text.
std::string track_log_line(double latitude, double longitude, std::string_view calendar);

// Points of one run of the program: a new run starts when the time goes backwards or jumps forward
// by more than kRunGapSeconds, or after a line without a time.
using TrackRun = std::vector<TrackPoint>;
inline constexpr std::int64_t kRunGapSeconds = 10 * 60;

// Reads a log's text. A point whose time is missing or unreadable has none.
std::vector<TrackRun> read_track_log(std::string_view text);

// The positions of a log's text, oldest first: the newest `most` of them.
std::deque<LoggedPosition> read_track_positions(std::string_view text, std::size_t most);

// "Mon Dec  7 05:09:35 2026" in the local time zone to seconds since 1970; empty when it is not one.
std::optional<std::int64_t> parse_calendar_text(std::string_view text);

// The log file of the window: lines appended as the marker moves, and its positions kept in memory
// so that a paint never reads the file. Not thread-safe (the window thread owns it).
class TrackLog {
public:
    // Positions kept for the plot: the newest kMaxPositions (16 bytes each, 16 MB at most), read from
    // at most the last kMaxReadBytes of the file (about 1.3 million lines), so that opening a log of
    // years takes bounded time and memory. Appending at the cap forgets the oldest kForgetStep at
    // once. The file itself is never shortened.
    static constexpr std::size_t kMaxPositions = 1'000'000;
    static constexpr std::size_t kForgetStep = kMaxPositions / 16;
    static constexpr std::uintmax_t kMaxReadBytes = 64u << 20;

    // Makes `path` the log, reading the positions of its last `read_most` bytes when it was not the
    // log already. A missing or unreadable file is an empty log.
    void open(const std::filesystem::path& path, std::uintmax_t read_most = kMaxReadBytes);
    const std::filesystem::path& path() const { return path_; }
    const std::deque<LoggedPosition>& positions() const { return positions_; }
    // Changes whenever the positions change other than by an append (another file, old ones forgotten).
    std::uint64_t version() const { return version_; }

    // Appends one line (track_log_line) to the file, in text mode as the system writes text, and
    // keeps its position. After a last line cut short (a crash while writing) the new line starts on
    // a line of its own, the cut one ended with "#" so that a number cut short is not read as a
    // position. False when there is no log or the file cannot be written.
    bool append(double latitude, double longitude, std::string_view calendar);

    // Every timed record of the whole file, for export; nullopt when it cannot be read or is larger
    // than kMaxExportBytes.
    static constexpr std::uintmax_t kMaxExportBytes = 64u << 20;
    std::optional<std::vector<TrackRun>> read_runs() const;

private:
    void keep(LoggedPosition p);

    std::filesystem::path path_;
    std::deque<LoggedPosition> positions_;
    bool torn_end_ = false;  // the file's last line has no LF
    std::uint64_t version_ = 0;
};

}  // namespace vg
