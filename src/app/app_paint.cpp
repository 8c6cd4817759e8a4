// App: the paint handler (window size, first fix, title, following, toolbar, overlays).
#include <algorithm>
#include <array>
#include <cmath>
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
        const WorldPixel p = geo_to_pixel(fix.latitude, fix.longitude, src, view_.pending.level);
        view_.pending.x = p.x;
        view_.pending.y = p.y;
        normalise_pending();
    };
    view_.pending.level = view_.level;
    pending_from_fix();
    if (source_off_line() && ws_->auto_zoom) {
        const std::int64_t t = now();
        if (t - view_.zoom_clock > 20) {
            if (const int finer = app_detail::finer_level(view_.pending.level); finer != view_.pending.level) {
                view_.pending.level = finer;
                pending_from_fix();
            }
            view_.zoom_clock = t;
        }
    }
    if (view_loaded_ && view_.pending == view_.centre())
        return true;
    WaitCursor wait(window_);
    return load_pending_view(Variant::ByOnline);
}

void App::draw_overlays(const FixRecord& fix) {
    DisplayBitmap& bitmap = view_.display_bitmap;
    const int w = bitmap.width();
    const int h = bitmap.height();
    const MapSource src = source();
    // The bitmap pixel of a position: where the layer's cells hold its map place.
    auto to_mosaic = [&](double lat, double lon, int& c, int& r) {
        const WorldPixel p = geo_to_pixel(lat, lon, src, view_.level);
        r = static_cast<int>(std::clamp<long long>(layer_.mosaic_y(p.y), -1, h));
        c = static_cast<int>(std::clamp<long long>(layer_.mosaic_x(p.x), -1, w));
    };

    draw_gpx();
    draw_highlight();

    // The tracks as lines (`plot=yes`): the day's recording, broken where no fix came for a while,
    // and the log, kept by the log since it was opened (read again only when `file` names another).
    if (!ws_->track_file.empty()) track_log_.open(track_path());
    if (ws_->plot) {
        const TrackPlot::View shown{src, view_.level, view_.centre_x, view_.centre_y, w, h};
        auto place = [&](double lat, double lon, long long& c, long long& r) {
            const WorldPixel p = geo_to_pixel(lat, lon, src, view_.level);
            c = layer_.mosaic_x(p.x);
            r = layer_.mosaic_y(p.y);
        };
        static constexpr std::uint8_t kTrackLine[3] = {0x10, 0x40, 0xe0};  // orange-red
        if (recorder_) {
            auto joined = [](const TrackPoint& a, const TrackPoint& b) { return same_segment(a, b); };
            draw_track_line(bitmap, recorded_plot_.places(recorder_->points(), recorder_->version(), shown, place, joined),
                            kTrackLine);
        }
        if (!ws_->track_file.empty()) {
            auto joined = [](const LoggedPosition&, const LoggedPosition&) { return true; };
            draw_track_line(bitmap, track_plot_.places(track_log_.positions(), track_log_.version(), shown, place, joined),
                            kTrackLine);
        }
    }

    // The position; an old one greyed at the last place seen (nothing is logged for it).
    int c = 0, r = 0;
    if (last_fix_.stale) {
        to_mosaic(last_fix_.latitude, last_fix_.longitude, c, r);
        if (c < 0 || c >= w || r < 0 || r >= h) return;
        draw_cross_hair(bitmap, c, r, ws_->track, ws_->hair);
        draw_position_marker(bitmap, c, r, true);
        view_.marker_x = c;
        view_.marker_y = r;
        return;
    }
    if (!fix_valid(fix)) return;
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

void App::gpx_labels(PaintFrame& frame) const {
    // At most this many names, so that a file of thousands of waypoints does not bury the map.
    constexpr std::size_t kMostLabels = 200;
    const MapSource src = source();
    for (const GpxWaypoint& wp : gpx_.waypoints) {
        if (wp.name.empty()) continue;
        const WorldPixel p = geo_to_pixel(wp.at.latitude, wp.at.longitude, src, view_.level);
        const long long x = layer_.mosaic_x(p.x) - frame.visible_first_column + 6;  // right of the square
        const long long y = layer_.mosaic_y(p.y) - frame.visible_first_row;
        if (x < 0 || x >= view_.map_width || y < 0 || y >= view_.map_height) continue;
        frame.labels.push_back({wp.name, static_cast<int>(x), static_cast<int>(y)});
        if (frame.labels.size() == kMostLabels) break;
    }
}

void App::accuracy_circle(PaintFrame& frame, const FixRecord& fix, bool stale) const {
    if (stale || !fix_valid(fix) || !std::isfinite(fix.h_error_m) || fix.h_error_m <= 0) return;
    const MapSource src = source();
    const double metres = metres_per_pixel(src, view_.level, fix.latitude);
    if (!(metres > 0)) return;
    const double radius = fix.h_error_m / metres;
    // Below a few pixels it hides under the marker; beyond the view it says nothing.
    if (radius < 4 || radius > 4 * std::max(view_.map_width, view_.map_height)) return;
    const WorldPixel p = geo_to_pixel(fix.latitude, fix.longitude, src, view_.level);
    frame.accuracy = {true, static_cast<int>(layer_.mosaic_x(p.x) - frame.visible_first_column),
                      static_cast<int>(layer_.mosaic_y(p.y) - frame.visible_first_row), static_cast<int>(std::lround(radius))};
}

void App::draw_track_line(DisplayBitmap& bitmap, const std::vector<TrackPlot::Place>& places,
                          const std::uint8_t* bgr) {
    for (std::size_t i = 0; i < places.size(); ++i) {
        const TrackPlot::Place& to = places[i];
        // A place without a line to either side is drawn as a dot.
        const TrackPlot::Place& from = to.starts ? to : places[i - 1];
        const bool alone = to.starts && (i + 1 == places.size() || places[i + 1].starts);
        if (!to.starts || alone) draw_overlay_line(bitmap, from.c, from.r, to.c, to.r, bgr);
    }
}

// The states in which the status bar and the stale title say the receiver has gone.
static bool receiver_gone(ReceiverState state) {
    return state == ReceiverState::Unplugged || state == ReceiverState::Lost || state == ReceiverState::Refused ||
           state == ReceiverState::Failed;
}

std::string App::stale_reason(const FixRecord& fix) const {
    if (!receiver_ || !receiver_->active()) return "disconnected";
    if (receiver_gone(receiver_->status().state)) return "receiver gone";
    if (ws_->silence_ticks.load() > 0) return "no data";
    if (!fix_valid(fix)) return "no fix";
    return {};
}

void App::age_fix(const FixRecord& fix) {
    const std::int64_t t = now();
    if (fix_valid(fix) && (!last_fix_.seen || fix.positions != last_fix_.positions) && receiver_ && receiver_->active()) {
        last_fix_.seen = true;
        last_fix_.positions = fix.positions;
        last_fix_.at = t;
        last_fix_.latitude = fix.latitude;
        last_fix_.longitude = fix.longitude;
        last_fix_.utc_text.assign(fix.utc_text, strnlen(fix.utc_text, sizeof fix.utc_text));
        last_fix_.local_text.assign(fix.local_text, strnlen(fix.local_text, sizeof fix.local_text));
        last_fix_.zone_name.assign(fix.local_zone_name, strnlen(fix.local_zone_name, sizeof fix.local_zone_name));
        TrackPoint point{fix.latitude, fix.longitude, t, std::nullopt};
        if (fix.fix_dimension >= 3 && std::isfinite(fix.altitude)) point.elevation = fix.altitude;
        if (recorder_) recorder_->record(point);  // queued for the recorder's writer: no disk work here
        trip_fix(point);
        mqtt_fix(fix);
    }
    if (!last_fix_.seen) return;
    const std::int64_t age = t - last_fix_.at;
    // A Garmin is asked for its position every other timer tick: it is not late before two such
    // rounds have passed.
    const std::int64_t garmin_round = 2 * kTimerPeriodMs / 1000;
    const std::int64_t stale_after = ws_->device_type == DeviceType::Garmin
                                         ? std::max<std::int64_t>(ws_->stale_seconds, 2 * garmin_round)
                                         : ws_->stale_seconds;
    last_fix_.stale = !receiver_->active() || !fix_valid(fix) || age >= stale_after;
    // One wake-up for the next change, never a loop: the moment the fix turns old, then each time
    // the age in the title reads differently. The margin keeps the wake from landing in the second
    // before.
    const std::int64_t wait = last_fix_.stale ? fix_age_text_lasts(age) : stale_after - age;
    if (window_) window_->repaint_after(static_cast<int>(wait * 1000 + 50));
}

// "No fix since 12:04:31: no data": the time of day of the last fix (the receiver's, else the
// system's local time when it was seen) and the reason when known.
static std::string stale_message(const std::string& local_text, std::int64_t seen_at, const std::string& reason) {
    const std::size_t space = local_text.find(' ');
    std::string when = space == std::string::npos ? std::string{} : local_text.substr(space + 1);
    if (when.empty()) when = calendar_text(seen_at).substr(11, 8);
    std::string out = "No fix since " + when;
    if (!reason.empty()) out += ": " + reason;
    return out;
}

std::string App::receiver_status() const {
    if (!receiver_chosen_ && !receiver_->active()) return kNoReceiverChosenText;
    const DeviceType type = ws_->device_type;
    std::string name = type == DeviceType::Network ? "NMEA network" : device_info(type).unit_value;
    const auto* link = dynamic_cast<const SerialLink*>(receiver_.get());
    if (link && !link->device_path().empty()) name += " " + link->device_path();
    const ReceiverStatus status = receiver_->status();
    if (!receiver_->active())
        return name + (status.state != ReceiverState::Failed ? ": disconnected" : ": not opened (" + status.cause + ")");
    if (receiver_gone(status.state)) return name + ": receiver gone";
    if (ws_->silence_ticks.load() > 0) return name + ": no data";
    return name + ": connected";
}

void App::fill_status(PaintFrame& frame, const FixRecord& fix) const {
    PaintFrame::Status& status = frame.status;
    status.receiver = receiver_status();
    const bool current = receiver_->active() && fix_valid(fix);
    status.fix = current ? fix_status_text(fix.fix_dimension, fix.sats_in_view) : fix_status_text(0, 0);
    status.age = fix_age_status_text(last_fix_.seen, now() - last_fix_.at);
    status.tiles = tiles_status_text(frame.tiles_left, frame.failed_tiles, frame.failure_reason);
    status.line = ws_->online.load() ? "On line" : "Off line";
    status.ground = pointer_ground_text();
    frame.offer_detect =
        !receiver_->active() && (!receiver_chosen_ || receiver_->status().state == ReceiverState::Failed);
}

PaintFrame App::paint() {
    PaintFrame frame;
    if (!ws_) return frame;
    // Cleared before the fix is read: a fix that lands after the snapshot asks for the next paint.
    if (fix_notice_) fix_notice_->painted();
    const FixRecord fix = fix_.snapshot();
    age_fix(fix);
    const bool stale = last_fix_.stale;

    // 1. Window size after a Big Maps change.
    if (ws_->big_maps != view_.applied_big_maps) {
        view_.client_width = (ws_->big_maps ? toolbar::kBigMapWidth : toolbar::kSmallMapWidth) + toolbar::kFrameWidth;
        view_.client_height =
            (ws_->big_maps ? toolbar::kBigMapHeight : toolbar::kSmallMapHeight) + toolbar::kBandAndFrameHeight;
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
        if (ws_->map_coordinates && view_.pointer.x != kNoPointer)
            title = title_position_text(name, true, pixel_to_latitude(view_.pointer.y, src, view_.level),
                                        pixel_to_longitude(view_.pointer.x, src, view_.level));
        else if (ws_->auto_pan && fix_valid(fix))
            title = title_position_text(name, true, fix.latitude, fix.longitude);
        else
            title = title_position_text(name, false, 0, 0);
        // An old fix keeps its own time, followed by its age.
        const std::string_view utc = stale ? std::string_view(last_fix_.utc_text)
                                           : std::string_view(fix.utc_text, strnlen(fix.utc_text, sizeof fix.utc_text));
        const std::string_view local =
            stale ? std::string_view(last_fix_.local_text)
                  : std::string_view(fix.local_text, strnlen(fix.local_text, sizeof fix.local_text));
        const std::string_view zone_name =
            stale ? std::string_view(last_fix_.zone_name)
                  : std::string_view(fix.local_zone_name, strnlen(fix.local_zone_name, sizeof fix.local_zone_name));
        title += title_time_text(utc, local, ws_->big_maps, ws_->device_type == DeviceType::TripMate,
                                 view_.zone_local ? zone_name : std::string_view(view_.zone_label));
        if (stale) {
            while (!title.empty() && title.back() == ' ') title.pop_back();  // no zone label
            title += fix_age_text(now() - last_fix_.at);
        } else if (fix.quality >= 2 && fix_valid(fix)) {
            // A fix better than plain GPS says so ("RTK fixed"), with its error when known; a plain
            // receiver's title stays as it always was.
            while (!title.empty() && title.back() == ' ') title.pop_back();
            title += "  ";
            title += fix_quality_name(fix);
            if (std::isfinite(fix.h_error_m)) {
                char error[32];
                std::snprintf(error, sizeof error, fix.h_error_m < 1 ? " \u00b1%.2f m" : " \u00b1%.1f m", fix.h_error_m);
                title += error;
            }
        }
        if (title != view_.title_text) {
            if (window_) window_->set_title(title);
            view_.title_text = title;
        }
    }

    // 4. Following: the own position, or the fleet's device chosen to be followed.
    if (!followed_device_.empty()) {
        if (const auto target = fleet_.find(followed_device_)) {
            FixRecord place;
            place.latitude = target->last.lat;
            place.longitude = target->last.lon;
            if (!follow(place)) return frame;
        }
    } else if (ws_->auto_pan && fix_valid(fix)) {
        if (!follow(fix)) return frame;  // composing the mosaic failed: nothing is drawn
    }

    // Tiles that arrived in the background go into their cells; what one paint cannot draw in its
    // few milliseconds asks for another paint.
    if (view_loaded_ && dem_loader_) {
        // Elevation tiles that landed: a shaded view is made again with them.
        // Once the view's last one is in, so that the view is made again once, not per tile.
        for (const auto& t : dem_loader_->take_landed()) elevation_landed_ = elevation_landed_ || t.ok;
        if (elevation_landed_ && dem_loader_->outstanding() == 0 && elevation_ &&
            (ws_->hillshade || source() == MapSource::Etopo2)) {
            elevation_landed_ = false;
            elevation_->look_again();
            ++elevation_generation_;
            show_view(view_.level, view_.centre_x, view_.centre_y, MapLayer::Fetch::Later, true);
        }
    }
    if (view_loaded_) {
        if (bitmap_due_) rebuild_bitmap();
        bool rebuild = false;
        if (layer_.take_landed(layer_source(false), view_.display_bitmap, rebuild) && window_) window_->invalidate(false);
        if (rebuild) rebuild_bitmap();
    }

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
    const CatalogueEntry* shown = current_entry();
    frame.dim_map = ws_->night && !(shown && (shown->kind == SourceKind::vector || shown->kind == SourceKind::remote_vector));
    frame.tiles_left = static_cast<int>(tiles_left());
    frame.failed_tiles = layer_.failed_tiles();
    frame.failure_reason = layer_.failure_reason();
    fill_status(frame, fix);
    if (region_done_.load()) finish_region();
    show_search_texts();
    if (detect_news_.exchange(false) && window_) {
        DetectTexts texts;
        texts.searching = detect_.running();
        for (const DetectedReceiver& r : detected()) texts.found.push_back(r.text);
        window_->show_detect_results(texts);
    }

    // 6. The map.
    if (!view_.display_bitmap.exists()) return frame;
    frame.draw_frame = true;
    if (fix.fix_dimension != view_.last_fix_seen) {
        rebuild_bitmap();
        view_.last_fix_seen = fix.fix_dimension;
    }
    // The overlays go into the bitmap and, at a device scale of 2, into the sharp cells at their size.
    view_.display_bitmap.set_overlay_sink(layer_.overlay_sink());
    draw_overlays(fix);
    view_.display_bitmap.set_overlay_sink(nullptr);
    frame.bitmap = &view_.display_bitmap;
    const bool more = layer_.make_fine_cells(layer_source(false));
    if (more && window_) window_->invalidate(false);
    frame.view_complete = !more && layer_.cells_to_compose() == 0;
    layer_.fill(frame, view_.display_bitmap);
    gpx_labels(frame);
    search_pin(frame);
    accuracy_circle(frame, fix, stale);
    const std::string ais_warning = ais_marks(frame, fix, stale);
    fleet_layer(frame);
    const std::string guidance = route_layer(frame, fix, stale);

    const int kmh = speed_kmh(fix.speed_knots);
    if (ws_->dash != 0 && (stale || kmh > 1)) {
        frame.speed.show = true;
        // An old speed is never shown as a number.
        frame.speed.text = stale ? stale_speed_text(ws_->speed_unit)
                                 : speed_text(speed_in(fix.speed_knots, ws_->speed_unit), fix.course, ws_->speed_unit);
        const int characters =
            stale ? stale_speed_characters(ws_->speed_unit) : static_cast<int>(frame.speed.text.size());
        frame.speed.font_height = ws_->big_maps ? 36 : 24;
        frame.speed.x = view_.map_width - (ws_->big_maps ? 17 : 11) * characters;
        frame.speed.y = view_.map_height + toolbar::kMapTop - 1 - frame.speed.font_height;
    }
    const MapSource src = source();
    if (const auto bar = scale_bar_length(
            metres_per_pixel(src, view_.level, pixel_to_latitude(view_.centre_y, src, view_.level)),
            PaintFrame::kScaleBarMostPixels))
        frame.scale_bar = {true, bar->pixels, bar->label};
    frame.attribution = attribution();
    frame.message = map_message();
    // The next manoeuvre comes before what the map source has to say.
    if (!guidance.empty()) frame.message = frame.message.empty() ? guidance : guidance + "; " + frame.message;
    // A ship on a collision course comes before what the map source has to say.
    if (!ais_warning.empty()) frame.message = frame.message.empty() ? ais_warning : ais_warning + "; " + frame.message;
    if (stale) {
        const std::string said = stale_message(last_fix_.local_text, last_fix_.at, stale_reason(fix));
        frame.message = frame.message.empty() ? said : said + "; " + frame.message;
    }
    return frame;
}

}  // namespace vg
