// vortool plot: draws a track's elevation or speed profile into a PNG or SVG file, with the same
// drawing as the window's Profile dialog.
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "cli/commands.h"
#include "settings/settings_file.h"
#include "track/gpx.h"
#include "track/profile.h"
#include "track/track_log.h"
#include "track/track_record.h"
#ifndef VG_NO_ATLAS
#include "atlas/local_tiles.h"
#include "plot/profile_chart.h"
#endif

namespace vg::cli {

namespace {

constexpr int kMaxSide = 8000;
constexpr std::uintmax_t kMaxTrackBytes = 256u << 20;

bool ends_with_lower(std::string_view path, std::string_view ext) {
    if (path.size() < ext.size()) return false;
    for (std::size_t i = 0; i < ext.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(path[path.size() - ext.size() + i])) != ext[i]) return false;
    return true;
}

// The track in `path`: a GPX file, a recording's journal or the track log; false with a reason.
[[maybe_unused]] bool read_track(const std::string& path, Profile& profile, std::string& error) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (!ec && size > kMaxTrackBytes) {
        error = path + " is larger than 256 MB";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (ec || !in.is_open()) {
        error = "cannot read " + path;
        return false;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (ends_with_lower(path, ".gpx") || text.find("<gpx") != std::string::npos) {
        GpxData gpx;
        if (!read_gpx(text, gpx, error)) {
            error = path + ": " + error;
            return false;
        }
        profile = profile_of(gpx);
    } else if (ends_with_lower(path, ".journal")) {
        profile = profile_of(split_runs(read_journal(text)));
    } else {
        profile = profile_of(read_track_log(text));
    }
    if (profile.points.empty()) {
        error = path + " has no track points (a GPX file, a recording's .journal or the track log)";
        return false;
    }
    return true;
}

}  // namespace

int run_plot(int argc, char** argv) {
    std::string path, out, quantity, axis = "distance", units_text;
    int width = 800, height = 400;
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (!arg.starts_with("--")) {
            if (!path.empty()) return usage_error("plot", "one track file only", argv[i]);
            path = arg;
            continue;
        }
        if (!option_takes_value("plot", arg)) return usage_error("plot", "unknown option", argv[i]);
        if (i + 1 >= argc) return usage_error("plot", "a value is required after", argv[i]);
        const std::string value = argv[++i];
        if (arg == "--profile") quantity = value;
        else if (arg == "--out") out = value;
        else if (arg == "--x") axis = value;
        else if (arg == "--units") units_text = value;
        else if (arg == "--size") {
            char tail = 0;
            if (std::sscanf(value.c_str(), "%dx%d%c", &width, &height, &tail) != 2 || width < 100 || height < 100 ||
                width > kMaxSide || height > kMaxSide)
                return usage_error("plot", "the size is WIDTHxHEIGHT, each 100 to 8000 pixels:", argv[i]);
        }
    }
    if (quantity != "elevation" && quantity != "speed")
        return usage_error("plot", "--profile must be elevation or speed");
    if (axis != "distance" && axis != "time") return usage_error("plot", "--x must be distance or time");
    if (!units_text.empty() && units_text != "metric" && units_text != "imperial" && units_text != "nautical")
        return usage_error("plot", "--units must be metric, imperial or nautical");
    if (path.empty()) return usage_error("plot", "a track file is required");
    const bool svg = ends_with_lower(out, ".svg");
    if (!svg && !ends_with_lower(out, ".png")) return usage_error("plot", "--out must name a .png or .svg file");
#ifdef VG_NO_ATLAS
    std::fputs("vortool plot: drawing is not available in this build (made without Qt)\n", stderr);
    return 1;
#else
    Profile profile;
    std::string error;
    if (!read_track(path, profile, error)) {
        std::fprintf(stderr, "vortool plot: %s\n", error.c_str());
        return 1;
    }
    plot::ChartOptions options;
    options.quantity = quantity == "speed" ? plot::Quantity::speed : plot::Quantity::elevation;
    options.axis = axis == "time" ? ProfileAxis::time : ProfileAxis::distance;
    if (units_text.empty()) units_text = setting_value("vor_ini.txt", "speed=").value_or("");
    options.units = units_text == "imperial"   ? plot::Units::imperial
                    : units_text == "nautical" ? plot::Units::nautical
                    : units_text == "metric"   ? plot::Units::metric
                                               : plot::units_from_speed_setting(units_text);
    options.title = std::string(quantity == "speed" ? "Speed" : "Elevation") + ": " +
                    std::filesystem::path(path).stem().string();
    atlas::ensure_offscreen_gui();
    const plot::ProfileChart chart(profile, options, {width, height});
    if (chart.empty()) {
        std::fprintf(stderr, "vortool plot: %s has no %s\n", path.c_str(),
                     options.axis == ProfileAxis::time && profile.duration_s() <= 0 ? "times"
                     : quantity == "speed"                                          ? "speeds"
                                                                                    : "heights");
        return 1;
    }
    const bool written = svg ? plot::write_chart_svg(chart, out, error) : plot::write_chart_png(chart, out, error);
    if (!written) {
        std::fprintf(stderr, "vortool plot: %s\n", error.c_str());
        return 1;
    }
    std::printf("points %zu length_m %.1f seconds %.1f\n", profile.points.size(), profile.length_m(),
                profile.duration_s());
    return std::fflush(stdout) == 0 ? 0 : 1;
#endif
}

}  // namespace vg::cli
