#include "track/track_log.h"

#include "platform/c_number.h"
#include "platform/files.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iomanip>
#include <locale>
#include <sstream>

namespace vg {
namespace {

// Calls `take` with each line of `text` that may be read: complete (its LF is there; a last line
// without one is a write cut short) and at most kMaxTrackLine bytes.
template <class Take>
void for_each_line(std::string_view text, Take&& take) {
    for (std::size_t nl = text.find('\n'); nl != std::string_view::npos; nl = text.find('\n')) {
        if (nl <= kMaxTrackLine) take(text.substr(0, nl));
        text.remove_prefix(nl + 1);
    }
}

// The position at the start of a line; `rest` receives what follows it.
std::optional<LoggedPosition> parse_position(std::string_view line, std::string_view& rest) {
    line = line.substr(0, line.find('\0'));  // the line ends at a NUL, as C text does
    // A number must end at white space or the line's end: "60,17" (a comma locale's decimal) is no
    // number followed by garbage.
    auto separated = [](std::string_view after) {
        return after.empty() || after.front() == ' ' || after.front() == '\t' || after.front() == '\r';
    };
    const auto lat = scan_c_number(line);
    if (!lat || !separated(line.substr(lat->length))) return std::nullopt;
    line.remove_prefix(lat->length);
    const auto lon = scan_c_number(line);
    if (!lon || !separated(line.substr(lon->length))) return std::nullopt;
    if (!std::isfinite(lat->value) || !std::isfinite(lon->value) || std::fabs(lat->value) > 90 ||
        std::fabs(lon->value) > 180)
        return std::nullopt;
    rest = line.substr(lon->length);
    return LoggedPosition{lat->value, lon->value};
}

// Up to `most` bytes from `offset` of the file; false when it cannot be read.
bool read_file_part(const std::filesystem::path& path, std::uintmax_t offset, std::uintmax_t most, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in || !in.seekg(static_cast<std::streamoff>(offset))) return false;
    out.resize(static_cast<std::size_t>(most));
    in.read(out.data(), static_cast<std::streamsize>(most));
    out.resize(static_cast<std::size_t>(in.gcount()));
    return !in.bad();
}

}  // namespace

std::string track_log_line(double latitude, double longitude, std::string_view calendar) {
    std::string out = fixed_text(latitude, 6) + ' ' + fixed_text(longitude, 6) + " - ";
    out += calendar;
    out += '\n';
    return out;
}

std::optional<std::int64_t> parse_calendar_text(std::string_view text) {
    std::istringstream in{std::string(text)};
    in.imbue(std::locale::classic());  // English day and month names whatever the user's locale
    std::tm tm{};
    in >> std::get_time(&tm, "%a %b %d %H:%M:%S %Y");
    if (in.fail()) return std::nullopt;
    for (int c = in.get(); c != std::char_traits<char>::eof(); c = in.get())
        if (c != ' ' && c != '\r') return std::nullopt;
    tm.tm_isdst = -1;  // the zone's own rule for that date
    const std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1)) return std::nullopt;
    return static_cast<std::int64_t>(t);
}

std::vector<TrackRun> read_track_log(std::string_view text) {
    std::vector<TrackRun> runs;
    std::optional<std::int64_t> last_time;
    for_each_line(text, [&](std::string_view line) {
        std::string_view rest;
        const auto position = parse_position(line, rest);
        if (!position) return;
        TrackPoint point{position->latitude, position->longitude, std::nullopt, std::nullopt};
        while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
        if (rest.starts_with("- ")) point.utc_seconds = parse_calendar_text(rest.substr(2));
        // Points without a time are grouped together; timed points break at a backward step or a gap.
        bool starts_run = runs.empty() || point.utc_seconds.has_value() != last_time.has_value();
        if (point.utc_seconds && last_time)
            starts_run |= *point.utc_seconds < *last_time || *point.utc_seconds - *last_time > kRunGapSeconds;
        if (starts_run) runs.emplace_back();
        last_time = point.utc_seconds;
        runs.back().push_back(point);
    });
    return runs;
}

std::deque<LoggedPosition> read_track_positions(std::string_view text, std::size_t most) {
    std::deque<LoggedPosition> out;
    if (most == 0) return out;
    for_each_line(text, [&](std::string_view line) {
        std::string_view rest;
        if (const auto position = parse_position(line, rest)) {
            if (out.size() == most) out.pop_front();
            out.push_back(*position);
        }
    });
    return out;
}

void TrackLog::open(const std::filesystem::path& path, std::uintmax_t read_most) {
    if (path == path_) return;
    path_ = path;
    ++version_;
    positions_.clear();
    torn_end_ = false;
    const long long size = regular_size(path);
    if (size <= 0) return;
    // From the byte before the part read: the first line is taken only when that byte ends a line.
    const std::uintmax_t whole = static_cast<std::uintmax_t>(size);
    const std::uintmax_t from = whole > read_most ? whole - read_most - 1 : 0;
    std::string text;
    if (!read_file_part(path, from, whole - from, text)) return;
    std::string_view lines(text);
    if (from > 0) {
        const std::size_t nl = lines.find('\n');
        lines.remove_prefix(nl == std::string_view::npos ? lines.size() : nl + 1);
    }
    positions_ = read_track_positions(lines, kMaxPositions);
    torn_end_ = !text.empty() && text.back() != '\n';
}

void TrackLog::keep(LoggedPosition p) {
    if (positions_.size() >= kMaxPositions) {
        positions_.erase(positions_.begin(), positions_.begin() + kForgetStep);
        ++version_;
    }
    positions_.push_back(p);
}

bool TrackLog::append(double latitude, double longitude, std::string_view calendar) {
    if (path_.empty()) return false;
    std::FILE* f = open_stream(path_, "a");
    if (!f) return false;
    // A line cut short is ended with '#', which no number may be followed by: a position cut inside
    // its numbers is not read as another one.
    const std::string line = (torn_end_ ? "#\n" : "") + track_log_line(latitude, longitude, calendar);
    const bool written = std::fputs(line.c_str(), f) >= 0;
    const bool ok = std::fclose(f) == 0 && written;
    // After a failed write the file may end inside a line: the next one starts afresh.
    torn_end_ = !ok;
    if (ok) keep({latitude, longitude});
    return ok;
}

std::optional<std::vector<TrackRun>> TrackLog::read_runs() const {
    const long long size = regular_size(path_);
    if (size < 0 || static_cast<std::uintmax_t>(size) > kMaxExportBytes) return std::nullopt;
    std::string text;
    if (!read_file_part(path_, 0, static_cast<std::uintmax_t>(size), text)) return std::nullopt;
    return read_track_log(text);
}

}  // namespace vg
