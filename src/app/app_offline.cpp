// The Gps menu's offline items: Open Map Pack..., Open GPX..., Export Track..., and the drawing of
// an opened GPX file over the map.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/app.h"
#include "net/transfer_limits.h"
#include "platform/files.h"
#include "platform/temp_files.h"
#include "tiles/geometry.h"
#include "tiles/local_source.h"
#include "tiles/mbtiles.h"
#include "tiles/tile_pack.h"
#include "track/track_log.h"

namespace vg {
namespace {

namespace fs = std::filesystem;

// GPX files larger than this are refused rather than read into memory.
constexpr std::uintmax_t kMaxTextFile = 64u << 20;

bool read_text_file(const fs::path& path, std::string& out) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    if (ec || size > kMaxTextFile) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

}  // namespace

void App::draw_gpx() {
    if (gpx_.lines.empty() && gpx_.waypoints.empty()) return;
    DisplayBitmap& bitmap = view_.display_bitmap;
    if (!bitmap.exists()) return;
    const MapSource src = source();
    auto at = [&](const GpxPoint& g) {
        const WorldPixel p = geo_to_pixel(g.latitude, g.longitude, src, view_.level);
        return std::pair<long long, long long>{layer_.mosaic_x(p.x), layer_.mosaic_y(p.y)};
    };
    static constexpr std::uint8_t kLine[3] = {0xb0, 0x20, 0xc0};  // purple, apart from the yellow marker
    static constexpr std::uint8_t kMark[3] = {0x80, 0x30, 0x00};  // dark blue
    for (const auto& points : gpx_.lines) {
        for (std::size_t i = 1; i < points.size(); ++i) {
            const auto [c0, r0] = at(points[i - 1]);
            const auto [c1, r1] = at(points[i]);
            draw_overlay_line(bitmap, c0, r0, c1, r1, kLine);
        }
        if (points.size() == 1) {
            const auto [c, r] = at(points[0]);
            draw_overlay_line(bitmap, c, r, c, r, kLine);
        }
    }
    for (const GpxWaypoint& wp : gpx_.waypoints) {
        const auto [c, r] = at(wp.at);
        draw_overlay_square(bitmap, c, r, 3, kMark);
    }
}

void App::fit_view_to_gpx() {
    double south = 90, north = -90, west = 180, east = -180;
    auto take = [&](const GpxPoint& p) {
        south = std::min(south, p.latitude);
        north = std::max(north, p.latitude);
        west = std::min(west, p.longitude);
        east = std::max(east, p.longitude);
    };
    for (const auto& line : gpx_.lines)
        for (const GpxPoint& p : line) take(p);
    for (const GpxWaypoint& wp : gpx_.waypoints) take(wp.at);
    if (south > north) return;
    const MapSource src = source();
    const CatalogueEntry* entry = current_entry();
    // A margin of 16 pixels on each side, so that markers and names at the edge stay in view.
    const int room_x = std::max(view_.map_width - 32, 1), room_y = std::max(view_.map_height - 32, 1);
    for (int zoom = kMaxWebZoom; zoom >= 0; --zoom) {
        const int level = zoom_code(zoom);
        if (!has_scale(src, level) || (entry && !entry->has_level(level))) continue;
        const WorldPixel nw = geo_to_pixel(north, west, src, level);
        const WorldPixel se = geo_to_pixel(south, east, src, level);
        if ((se.x - nw.x > room_x || se.y - nw.y > room_y) && zoom > 0) continue;
        view_.pending = {level, static_cast<int>((static_cast<long long>(nw.x) + se.x) / 2),
                         static_cast<int>((static_cast<long long>(nw.y) + se.y) / 2)};
        normalise_pending();
        load_pending_view(Variant::ByOnline);
        return;
    }
}

void App::open_map_pack() {
    Window& w = *window_;
    const std::string chosen = w.choose_file_to_open("Open Map Pack", "Map packs (*.mbtiles *.pmtiles);;All files (*)");
    if (chosen.empty()) return;
    std::string error;
    // Refused before anything is placed: damaged, not a map pack, WebP tiles.
    if (!TilePack::open(chosen, error)) {
        w.warning_box(error);
        return;
    }
    const fs::path folder = packs_folder(maps_root());
    std::error_code ec;
    fs::create_directories(folder, ec);
    const fs::path target = folder / fs::path(chosen).filename();
    for (const auto& e : catalogue_.entries)
        if ((e.kind == SourceKind::pack || e.kind == SourceKind::vector) && fs::equivalent(e.pack_path, chosen, ec)) {
            select_source(e);  // already a source
            return;
        }
    bool placed = false;
    if (fs::exists(target, ec)) {
        w.warning_box("A map pack named \"" + target.filename().string() + "\" is already in " + folder.string() +
                      "; rename the file to open it as well.");
        return;
    }
    // A hard link costs nothing; across file systems a symbolic link; else a copy.
    fs::create_hard_link(chosen, target, ec);
    if (ec) {
        ec.clear();
        fs::create_symlink(fs::absolute(chosen), target, ec);
    }
    if (ec) {
        ec.clear();
        fs::copy_file(chosen, target, ec);
    }
    placed = !ec;
    if (!placed) {
        w.warning_box("\"" + chosen + "\" cannot be placed in " + folder.string() + ": " + ec.message());
        return;
    }
    if (!add_pack(catalogue_, target, error)) {
        fs::remove(target, ec);
        w.warning_box(error);
        return;
    }
    const CatalogueEntry& added = catalogue_.entries.back();
    w.add_map_source_item(added.name, added.menu_id);
    select_source(added);
}

void App::open_gpx() {
    Window& w = *window_;
    const std::string chosen = w.choose_file_to_open("Open GPX", "GPX files (*.gpx);;All files (*)");
    if (chosen.empty()) return;
    std::string text, error;
    GpxData data;
    if (!read_text_file(chosen, text)) {
        w.warning_box("\"" + chosen + "\" cannot be read (missing, unreadable or larger than 64 MB).");
        return;
    }
    if (!read_gpx(text, data, error)) {
        w.warning_box("\"" + chosen + "\" is not a usable GPX file: " + error);
        return;
    }
    gpx_ = std::move(data);
    gpx_name_ = fs::path(chosen).filename().string();
    rebuild_bitmap();
    fit_view_to_gpx();
    w.invalidate(false);
}

void App::export_track() {
    Window& w = *window_;
    // The recorded track of today (or of the one file with recsplit=none), else the `file` log.
    if (recorder_ && !recorder_->points().empty()) {
        const std::string name = recorder_->name();
        const std::string chosen = w.choose_file_to_save("Export Track", "GPX files (*.gpx)", name + ".gpx");
        if (chosen.empty()) return;
        remove_stale_temporaries_of(chosen, kStaleTempAge);
        if (!write_file_replacing(chosen, write_gpx(split_runs(recorder_->points()), name)))
            w.warning_box("\"" + chosen + "\" cannot be written.");
        return;
    }
    if (ws_->track_file.empty()) {
        w.warning_box("There is no track to export yet: no fix has been recorded today.");
        return;
    }
    const fs::path log = track_path();
    track_log_.open(log);
    const std::optional<std::vector<TrackRun>> read = track_log_.read_runs();
    if (!read) {
        w.warning_box("The track log \"" + log.string() + "\" cannot be read.");
        return;
    }
    const std::vector<TrackRun>& runs = *read;
    if (runs.empty()) {
        w.warning_box("The track log \"" + log.string() + "\" holds no positions yet.");
        return;
    }
    const std::string name = log.stem().string();
    const std::string chosen = w.choose_file_to_save("Export Track", "GPX files (*.gpx)", name + ".gpx");
    if (chosen.empty()) return;
    const std::string gpx = write_gpx(runs, name);
    // Written beside the target and renamed into place: an existing file is replaced whole or not at
    // all. A killed earlier export's stale temporary file of the same target goes first.
    remove_stale_temporaries_of(chosen, kStaleTempAge);
    if (!write_file_replacing(chosen, gpx)) w.warning_box("\"" + chosen + "\" cannot be written.");
}

}  // namespace vg
