// The track log (the `file` setting): one line per marker move, "%f %f - %s" with latitude,
// longitude and the local 24-character calendar text. This reads it back for export; it never
// writes or changes the log.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace vg {

struct TrackPoint {
    double latitude = 0.0;
    double longitude = 0.0;
    std::optional<std::int64_t> utc_seconds;  // from the calendar text read as local time
    std::optional<double> elevation;          // metres; today's log lines carry none
};

// Points of one run of the program: a new run starts when the time goes backwards or jumps forward
// by more than kRunGapSeconds, or after a line without a time.
using TrackRun = std::vector<TrackPoint>;
inline constexpr std::int64_t kRunGapSeconds = 10 * 60;

// Reads a log. Lines that are not two finite numbers in range (the program ignores a line with only
// one number too) are skipped; a missing or unreadable time leaves the point without one.
std::vector<TrackRun> read_track_log(std::string_view text);

// "Mon Dec  7 05:09:35 2026" in the local time zone to seconds since 1970; empty when it is not one.
std::optional<std::int64_t> parse_calendar_text(std::string_view text);

}  // namespace vg
