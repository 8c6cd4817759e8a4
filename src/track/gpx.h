// GPX 1.1: writing the track log as one track (a segment per run), and reading the tracks, routes
// and waypoints of a GPX file written by any program (GPX 1.0 and 1.1; parsing by libxml2, with no
// network access, no document type declaration and no entity expansion).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "track/track_log.h"

namespace vg {

// The whole GPX 1.1 document: one `trk` named `track_name`, one `trkseg` per run, `time` in UTC
// ISO 8601 and `ele` where known. Always well-formed: each byte of the name that does not start a
// UTF-8 character XML allows (invalid UTF-8, a control character other than tab and line ends,
// U+FFFE, U+FFFF) is written as U+FFFD.
std::string write_gpx(const std::vector<TrackRun>& runs, std::string_view track_name);

// The text as XML character data: markup characters escaped, and each byte that does not start an
// allowed UTF-8 character (a stray or cut-short byte, a control character) replaced by U+FFFD, so
// that whatever the text holds the document stays well-formed.
std::string xml_escaped(std::string_view text);

struct GpxPoint {
    double latitude = 0.0;
    double longitude = 0.0;
    std::optional<double> elevation;    // `ele`, metres, when given and a number
    std::optional<double> utc_seconds;  // `time` (ISO 8601, UTC or with an offset; fractions kept), when valid
};

// Seconds since the epoch of an ISO 8601 date and time as GPX writes them ("2024-05-01T10:20:30Z",
// fractions of a second and a "+hh:mm" offset allowed; no zone is read as UTC); nullopt when malformed.
std::optional<double> parse_iso_time(std::string_view text);

struct GpxWaypoint {
    GpxPoint at;
    std::string name;
};

struct GpxData {
    std::vector<std::vector<GpxPoint>> lines;  // every track segment and every route
    std::vector<GpxWaypoint> waypoints;
    // Which of `lines` are routes (rte), with their points' names ("" when a point has none).
    struct Route {
        std::size_t line = 0;
        std::vector<std::string> names;
    };
    std::vector<Route> routes;
};

// Longest text read from a GPX element (a waypoint's name), in bytes; longer text is cut at the last
// UTF-8 character boundary within it.
inline constexpr std::size_t kGpxMaxText = 1024;

// Reads a GPX document. False, with a reason in `error`, when it is not well-formed XML, has a
// document type declaration (whose entities could expand a small file into gigabytes; GPX files
// never need one), its root is not `gpx`, or a point's lat/lon is missing or out of range. Elements of other namespaces
// (extensions) are ignored. A build made without libxml2 (the Windows cross-build) always answers
// false with "reading GPX is not available in this build (made without libxml2)".
bool read_gpx(std::string_view bytes, GpxData& out, std::string& error);

}  // namespace vg
