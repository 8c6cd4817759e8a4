// vortool fleet export: one device's stored positions as a GPX 1.1 track.
//   vortool fleet export --device ID [--from T] [--to T] [--db FILE] OUT.gpx
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <string_view>

#include "cli/commands.h"
#include "platform/files.h"
#include "track/fleet_store.h"
#include "track/gpx.h"

namespace vg::cli {

namespace {

// A time given as seconds since 1970 or as an ISO 8601 date and time (UTC unless it says otherwise).
std::optional<std::int64_t> time_ms(std::string_view text) {
    if (!text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos && text.size() < 15)
        return std::stoll(std::string(text)) * 1000;
    const auto seconds = parse_iso_time(text);
    if (!seconds) return std::nullopt;
    return static_cast<std::int64_t>(std::llround(*seconds * 1000));
}

}  // namespace

int run_fleet(int argc, char** argv) {
    if (argc < 1) return usage_error("fleet", "export is required");
    if (const std::string_view first = argv[0]; first != "export") {
        const bool known = first == "--device" || first == "--from" || first == "--to" || first == "--db";
        if (known || !first.starts_with("--")) return usage_error("fleet", "export is required", argv[0]);
        return usage_error("fleet", "unknown option", argv[0]);
    }
    std::string device, out, db = kFleetStoreFile;
    std::int64_t from = std::numeric_limits<std::int64_t>::min(), to = std::numeric_limits<std::int64_t>::max();
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--device" || arg == "--from" || arg == "--to" || arg == "--db") {
            if (i + 1 >= argc) return usage_error("fleet", "a value is required after", argv[i]);
            const std::string value = argv[++i];
            if (arg == "--device") device = value;
            else if (arg == "--db") db = value;
            else if (const auto t = time_ms(value)) (arg == "--from" ? from : to) = *t;
            else return usage_error("fleet", "not a time", argv[i]);
        } else if (out.empty() && !arg.starts_with("--")) {
            out = arg;
        } else {
            return usage_error("fleet", out.empty() ? "unknown option" : "one output file only", argv[i]);
        }
    }
    if (device.empty()) return usage_error("fleet", "--device is required");
    if (out.empty()) return usage_error("fleet", "an output file is required");
    std::vector<FleetPoint> points;
    std::string error;
    if (!read_fleet_track(db, device, from, to, points, error)) {
        std::fprintf(stderr, "vortool fleet: %s\n", error.c_str());
        return 1;
    }
    TrackRun run;
    run.reserve(points.size());
    for (const FleetPoint& p : points) {
        TrackPoint t;
        t.latitude = p.lat;
        t.longitude = p.lon;
        t.utc_seconds = p.time_ms / 1000;
        t.elevation = p.altitude_m;
        run.push_back(t);
    }
    const std::string gpx = write_gpx(run.empty() ? std::vector<TrackRun>{} : std::vector<TrackRun>{run}, device);
    if (!write_file_replacing(out, gpx)) {
        std::fprintf(stderr, "vortool fleet: cannot write %s\n", out.c_str());
        return 1;
    }
    std::printf("%zu positions of %s written to %s\n", points.size(), device.c_str(), out.c_str());
    return 0;
}

}  // namespace vg::cli
