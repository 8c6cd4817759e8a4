// Gps → Profile...: the profile of the track App holds, handed to the window's non-modal dialog, and
// the place the dialog's pointer names marked on the map.
#include "app/app.h"
#include "app/view_text.h"
#include "tiles/elevation.h"
#include "tiles/geometry.h"
#include "track/profile.h"
#include "track/track_record.h"

namespace vg {

void App::show_profile() {
    if (!window_) return;
    // The GPX file opened last (what the user chose to look at), else today's recording. The track
    // log is not read here: that would be a read of the disk on the window thread.
    std::shared_ptr<Profile> profile;
    ProfileDialogData data;
    const auto model = [&](bool has_heights) -> std::shared_ptr<const ElevationModel> {
        return has_heights ? nullptr : elevation_for(maps_root(), nullptr);
    };
    if (!gpx_.lines.empty()) {
        bool heights = false;
        for (const auto& line : gpx_.lines)
            for (const GpxPoint& p : line) heights = heights || p.elevation;
        const auto dem = model(heights);
        profile = std::make_shared<Profile>(profile_of(gpx_, dem.get()));
        data.track_name = gpx_name_.empty() ? "GPX file" : gpx_name_;
    } else if (recorder_ && !recorder_->points().empty()) {
        bool heights = false;
        for (const TrackPoint& p : recorder_->points()) heights = heights || p.elevation;
        const auto dem = model(heights);
        profile = std::make_shared<Profile>(profile_of(split_runs(recorder_->points()), dem.get()));
        data.track_name = "Recording " + recorder_->name();
    } else {
        window_->warning_box("There is no track to profile: open a GPX file (Gps \xE2\x86\x92 Open GPX...) or "
                             "record one (the record setting).");
        return;
    }
    data.profile = std::move(profile);
    data.speed_setting = speed_unit_text(ws_->speed_unit);
    data.highlight = [this](std::optional<std::pair<double, double>> place) { set_highlight(place); };
    window_->open_profile_dialog(std::move(data));
}

void App::set_highlight(std::optional<std::pair<double, double>> place) {
    if (place == highlight_) return;
    // The old mark is in the bitmap: it is made again from the cells before the next paint draws.
    const bool was_shown = highlight_.has_value();
    highlight_ = place;
    if (was_shown) rebuild_bitmap();
    if (window_) window_->invalidate(false);
}

void App::draw_highlight() {
    if (!highlight_) return;
    DisplayBitmap& bitmap = view_.display_bitmap;
    if (!bitmap.exists()) return;
    const WorldPixel p = geo_to_pixel(highlight_->first, highlight_->second, source(), view_.level);
    static constexpr std::uint8_t kOuter[3] = {0xff, 0xff, 0xff};  // white ring around red (BGR)
    static constexpr std::uint8_t kInner[3] = {0x20, 0x20, 0xd0};
    const long long c = layer_.mosaic_x(p.x), r = layer_.mosaic_y(p.y);
    for (int half = 5; half <= 6; ++half) draw_overlay_square(bitmap, c, r, half, kOuter);
    for (int half = 0; half <= 4; ++half) draw_overlay_square(bitmap, c, r, half, kInner);
}

}  // namespace vg
