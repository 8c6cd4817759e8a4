#include "track/track_log.h"

#include "platform/c_number.h"

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <iomanip>
#include <locale>
#include <sstream>
#include <string>

namespace vg {

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
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        const std::string line(text.substr(0, nl));
        text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
        std::string_view rest(line.c_str());  // up to a NUL, as the C text was read
        const auto lat = scan_c_number(rest);
        if (!lat) continue;
        rest.remove_prefix(lat->length);
        const auto lon = scan_c_number(rest);
        if (!lon || !std::isfinite(lat->value) || !std::isfinite(lon->value) || std::fabs(lat->value) > 90 ||
            std::fabs(lon->value) > 180)
            continue;
        TrackPoint point{lat->value, lon->value, std::nullopt, std::nullopt};
        rest.remove_prefix(lon->length);
        while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
        if (rest.starts_with("- ")) point.utc_seconds = parse_calendar_text(rest.substr(2));
        // Points without a time are grouped together; timed points break at a backward step or a gap.
        bool starts_run = runs.empty() || point.utc_seconds.has_value() != last_time.has_value();
        if (point.utc_seconds && last_time)
            starts_run |= *point.utc_seconds < *last_time || *point.utc_seconds - *last_time > kRunGapSeconds;
        if (starts_run) runs.emplace_back();
        last_time = point.utc_seconds;
        runs.back().push_back(point);
    }
    return runs;
}

}  // namespace vg
