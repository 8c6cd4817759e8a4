// GPX 1.1: writing the track log as one track (a segment per run), and reading the tracks, routes
// and waypoints of a GPX file written by any program (GPX 1.0 and 1.1; parsing by libxml2, with no
// network access and no entity expansion).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "track/track_log.h"

namespace vg {

// The whole GPX 1.1 document: one `trk` named `track_name`, one `trkseg` per run, `time` in UTC
// ISO 8601 and `ele` where known.
std::string write_gpx(const std::vector<TrackRun>& runs, std::string_view track_name);

struct GpxPoint {
    double latitude = 0.0;
    double longitude = 0.0;
};

struct GpxWaypoint {
    GpxPoint at;
    std::string name;
};

struct GpxData {
    std::vector<std::vector<GpxPoint>> lines;  // every track segment and every route
    std::vector<GpxWaypoint> waypoints;
};

// Reads a GPX document. False, with a reason in `error`, when it is not well-formed XML, its root is
// not `gpx`, or a point's lat/lon is missing or out of range. Elements of other namespaces
// (extensions) are ignored. A build made without libxml2 (the Windows cross-build) always answers
// false with "reading GPX is not available in this build (made without libxml2)".
bool read_gpx(std::string_view bytes, GpxData& out, std::string& error);

}  // namespace vg
