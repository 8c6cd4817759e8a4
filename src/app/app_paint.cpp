// App: the paint handler (window size, first fix, title, following, toolbar, overlays).
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "app/app.h"
#include "app/app_detail.h"
#include "app/toolbar_layout.h"
#include "app/view_text.h"
#include "gps/device_type.h"
#include "platform/files.h"
#include "settings/settings_file.h"
#include "tiles/geometry.h"

namespace vg {

using app_detail::fix_valid;
using app_detail::WaitCursor;

bool App::follow(const FixRecord& fix) {
    const MapSource src = source();
    auto pending_from_fix = [&] {
        const WorldPixel p = geo_to_pixel(fix.latitude, fix.longitude, src, view_.pending_level);
        view_.pending_x = p.x;
        view_.pending_y = p.y;
        normalise_pending();
    };
    view_.pending_level = view_.level;
    pending_from_fix();
    if (source_off_line() && ws_->auto_zoom) {
        const std::int64_t t = now();
        if (t - view_.zoom_clock > 20) {
            if (view_.pending_level < 4) {
                ++view_.pending_level;
                pending_from_fix();
            }
            view_.zoom_clock = t;
        }
    }
    if (view_loaded_ && view_.pending_level == view_.level && view_.pending_x == view_.centre_x &&
        view_.pending_y == view_.centre_y)
        return true;
    WaitCursor wait(window_);
    return load_pending_view(Variant::ByOnline);
}

void App::draw_overlays(const FixRecord& fix) {
    DisplayBitmap& bitmap = view_.display_bitmap;
    const int w = bitmap.width();
    const int h = bitmap.height();
    const MapSource src = source();
    const bool north = rows_run_north(src);
    auto to_mosaic = [&](double lat, double lon, int& c, int& r) {
        const WorldPixel p = geo_to_pixel(lat, lon, src, view_.level);
        const long long dr = north ? static_cast<long long>(view_.centre_y) - p.y
                                   : static_cast<long long>(p.y) - view_.centre_y;
        r = static_cast<int>(std::clamp<long long>(dr + h / 2, -1, h));
        c = static_cast<int>(std::clamp<long long>(static_cast<long long>(p.x) - view_.centre_x + w / 2, -1, w));
    };

    draw_gpx();

    // Logged points, kept by the log since it was opened (read again only when `file` names another).
    if (!ws_->track_file.empty()) track_log_.open(track_path());
    if (ws_->plot && !ws_->track_file.empty()) {
        const TrackPlot::View shown{src, view_.level, view_.centre_x, view_.centre_y, w, h};
        for (const auto& [c, r] : track_plot_.places(track_log_, shown, to_mosaic)) draw_position_marker(bitmap, c, r);
    }

    // The position.
    if (!fix_valid(fix)) return;
    int c = 0, r = 0;
    to_mosaic(fix.latitude, fix.longitude, c, r);
    if (c < 0 || c >= w || r < 0 || r >= h) return;
    if (c != view_.marker_x || r != view_.marker_y) {
        if (!ws_->track_file.empty()) track_log_.append(fix.latitude, fix.longitude, clock_->local_calendar_text());
        if (!ws_->track) rebuild_bitmap();
    }
    draw_cross_hair(bitmap, c, r, ws_->track, ws_->hair);
    draw_position_marker(bitmap, c, r);
    view_.marker_x = c;
    view_.marker_y = r;
}

void App::fine_frame(PaintFrame& frame) {
    const DisplayBitmap& bitmap = view_.display_bitmap;
    if (fine_.empty() || bitmap.width() != mosaic_.width || bitmap.height() != mosaic_.height) return;
    constexpr std::size_t kFineStride = std::size_t(kFineCellSize) * 3;
    const std::size_t mosaic_stride = std::size_t(mosaic_.width) * 3;
    // Puts 1x pixel (u, v) of the cell into `shown` as its 2 × 2 block, from blue-green-red `bgr`.
    auto put = [](std::vector<std::uint8_t>& shown, int u, int v, const std::uint8_t* bgr) {
        std::uint8_t* o = shown.data() + std::size_t(2 * v) * kFineStride + std::size_t(6 * u);
        for (int k = 0; k < 2; ++k, o += kFineStride) {
            o[0] = o[3] = bgr[0];
            o[1] = o[4] = bgr[1];
            o[2] = o[5] = bgr[2];
        }
    };
    for (int i = 0; i < grid_.cells() && static_cast<std::size_t>(i) < fine_.size(); ++i) {
        FineCell& f = fine_[static_cast<std::size_t>(i)];
        if (f.quarters == 0 || f.image.width != kFineCellSize) continue;
        const int x0 = kTileSize * (i % grid_.columns), y0 = kTileSize * (i / grid_.columns);
        // Cells wholly outside the map area are not shown.
        if (x0 + kTileSize <= frame.visible_first_column || x0 >= frame.visible_first_column + view_.map_width ||
            y0 + kTileSize <= frame.visible_first_row || y0 >= frame.visible_first_row + view_.map_height)
            continue;
        // Last paint's overlay pixels go back to the sharp picture, then the quarters that changed
        // are made blue-green-red afresh.
        if (f.shown.size() != f.image.pixels.size()) {
            f.shown.assign(f.image.pixels.size(), 0);
            f.dirty = 0xFu;
            f.stamps.clear();
        }
        auto restore = [&](int x, int y, int columns) {  // fine pixels (x .. x + columns − 1, y)
            const std::size_t at = std::size_t(y) * kFineStride + std::size_t(x) * 3;
            copy_swapping_red_blue(f.image.pixels.data() + at, f.shown.data() + at, std::size_t(columns));
        };
        for (const std::uint32_t at : f.stamps) {
            const int u = static_cast<int>(at % kTileSize), v = static_cast<int>(at / kTileSize);
            restore(2 * u, 2 * v, 2);
            restore(2 * u, 2 * v + 1, 2);
        }
        f.stamps.clear();
        for (int q = 0; q < 4; ++q)
            if (f.dirty & (1u << q))
                for (int y = 0; y < kTileSize; ++y) restore((q % 2) * kTileSize, (q / 2) * kTileSize + y, kTileSize);
        f.dirty = 0;
        // Where the display bitmap differs from the mosaic an overlay (marker, cross-hair, track,
        // GPX) was stamped: its pixel covers the sharp picture, 2 × 2.
        std::array<std::uint8_t, std::size_t(kTileSize) * 3> clean;
        for (int v = 0; v < kTileSize; ++v) {
            const std::uint8_t* b = bitmap.row(y0 + v) + std::size_t(x0) * 3;
            const std::uint8_t* m = mosaic_.pixels.data() + (std::size_t(y0) + v) * mosaic_stride + std::size_t(x0) * 3;
            // Most rows carry no overlay: one comparison of the whole row tells.
            copy_swapping_red_blue(m, clean.data(), kTileSize);
            if (std::memcmp(clean.data(), b, clean.size()) == 0) continue;
            for (int u = 0; u < kTileSize; ++u, b += 3, m += 3) {
                if (b[0] == m[2] && b[1] == m[1] && b[2] == m[0]) continue;
                put(f.shown, u, v, b);
                f.stamps.push_back(static_cast<std::uint32_t>(v * kTileSize + u));
            }
        }
        frame.fine_cells.push_back({x0, y0, f.shown.data()});
    }
}

PaintFrame App::paint() {
    PaintFrame frame;
    if (!ws_) return frame;
    // Cleared before the fix is read: a fix that lands after the snapshot asks for the next paint.
    if (fix_notice_) fix_notice_->painted();
    const FixRecord fix = fix_.snapshot();

    // 1. Window size after a Big Maps change.
    if (ws_->big_maps != view_.applied_big_maps) {
        view_.client_width = (ws_->big_maps ? 1024 : 512) + 2;
        view_.client_height = (ws_->big_maps ? 768 : 384) + 51;
        view_.applied_big_maps = ws_->big_maps;
        if (window_) window_->set_client_size(view_.client_width, view_.client_height);
    }

    // 2. The first fix of the run becomes the next start position.
    if (!view_.start_saved && fix_valid(fix)) {
        view_.start_saved = true;
        // Replaced whole, as every settings file: a crash or a full disk leaves the old start.
        write_file_replacing(settings_path(kPosFile), start_position_text(fix.latitude, fix.longitude),
                             {.keep_permissions = true, .flush = true});
        view_.zoom_clock = now();
    }

    // 3. Title.
    {
        const MapSource src = source();
        std::string title;
        const char* name = site_name_.empty() ? source_info(ws_->map_source).site_value : site_name_.c_str();
        if (ws_->map_coordinates && view_.pointer_x != kNoPointer)
            title = title_position_text(name, true, pixel_to_latitude(view_.pointer_y, src, view_.level),
                                        pixel_to_longitude(view_.pointer_x, src, view_.level));
        else if (ws_->auto_pan && fix_valid(fix))
            title = title_position_text(name, true, fix.latitude, fix.longitude);
        else
            title = title_position_text(name, false, 0, 0);
        const std::string_view utc(fix.utc_text, strnlen(fix.utc_text, sizeof fix.utc_text));
        const std::string_view local(fix.local_text, strnlen(fix.local_text, sizeof fix.local_text));
        title += title_time_text(utc, local, ws_->big_maps,
                                 ws_->device_type == DeviceType::TripMate,
                                 view_.zone_local ? std::string_view(fix.local_zone_name,
                                                                     strnlen(fix.local_zone_name, sizeof fix.local_zone_name))
                                                  : std::string_view(view_.zone_label));
        if (title != view_.title_text) {
            if (window_) window_->set_title(title);
            view_.title_text = title;
        }
    }

    // 4. Following.
    if (ws_->auto_pan && fix_valid(fix)) {
        if (!follow(fix)) return frame;  // composing the mosaic failed: nothing is drawn
    }

    // Tiles that arrived in the background go into their cells.
    take_landed_tiles();

    // 5. Toolbar.
    frame.draw_toolbar = true;
    frame.button_bitmaps = {ws_->auto_pan ? toolbar::kBitmapAutoPanOn : toolbar::kBitmapAutoPanOff,
                            toolbar::kBitmapPanWest,
                            toolbar::kBitmapPanNorth,
                            toolbar::kBitmapPanSouth,
                            toolbar::kBitmapPanEast,
                            0, 0, 0, 0, 0,
                            ws_->aerial ? toolbar::kBitmapMaps : toolbar::kBitmapAerial};
    for (int k = 0; k < 5; ++k)
        frame.button_bitmaps[toolbar::kLevel0 + k] =
            (view_.level == k ? toolbar::kBitmapLevelCurrentBase : toolbar::kBitmapLevelBase) + k;
    frame.map_width = view_.map_width;
    frame.map_height = view_.map_height;
    frame.night = ws_->night;
    frame.tiles_left = static_cast<int>(tiles_left());
    frame.failed_tiles = failed_tiles_;
    frame.failure_reason = failure_reason_;

    // 6. The map.
    if (!view_.display_bitmap.exists()) return frame;
    frame.draw_frame = true;
    if (fix.fix_dimension != view_.last_fix_seen) {
        rebuild_bitmap();
        view_.last_fix_seen = fix.fix_dimension;
    }
    draw_overlays(fix);
    frame.bitmap = &view_.display_bitmap;
    // The map area shows the middle of the bitmap: rows W/8 .. 7W/8 − 1 of the original square views.
    frame.visible_first_row = std::max(0, (view_.display_bitmap.height() - view_.map_height) / 2);
    frame.visible_first_column = std::max(0, (view_.display_bitmap.width() - view_.map_width) / 2);
    make_fine_cells();
    fine_frame(frame);

    const int kmh = speed_kmh(fix.speed_knots);
    if (ws_->dash != 0 && kmh > 1) {
        frame.speed.show = true;
        frame.speed.text = speed_text(kmh, fix.course);
        frame.speed.font_height = ws_->big_maps ? 36 : 24;
        frame.speed.x = view_.map_width - (ws_->big_maps ? 17 : 11) * static_cast<int>(frame.speed.text.size());
        frame.speed.y = view_.map_height + 48 - frame.speed.font_height;
    }
    const MapSource src = source();
    if (const auto bar = scale_bar_length(
            metres_per_pixel(src, view_.level, pixel_to_latitude(view_.centre_y, src, view_.level)),
            PaintFrame::kScaleBarMostPixels))
        frame.scale_bar = {true, bar->pixels, bar->label};
    frame.attribution = attribution();
    frame.message = map_message();
    return frame;
}

}  // namespace vg
