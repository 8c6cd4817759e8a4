// App: keys, mouse buttons, pointer movement and the window timer.
#include "app/app.h"
#include "app/app_detail.h"
#include "app/toolbar_layout.h"
#include "gps/device_type.h"
#include "tiles/geometry.h"

namespace vg {

using app_detail::at_level;
using app_detail::coarser_level;
using app_detail::finer_level;
using app_detail::fix_valid;
using app_detail::WaitCursor;

void App::on_key_up(Key key) {
    if (!ws_) return;
    WaitCursor wait(window_);
    switch (key) {
    case Key::Left: pan(-kTileSize, 0); break;
    case Key::Up: pan(0, -kTileSize); break;
    case Key::Right: pan(kTileSize, 0); break;
    case Key::Down: pan(0, kTileSize); break;
    case Key::Other: break;
    }
}

void App::level_button(int k) {
    const MapSource src = source();
    const int m = src == MapSource::Etopo2 ? 0 : k;
    const FixRecord fix = fix_.snapshot();
    if (ws_->auto_pan && fix_valid(fix)) {
        const WorldPixel p = geo_to_pixel(fix.latitude, fix.longitude, src, m);
        view_.pending = {m, p.x, p.y};
    } else {
        view_.pending = at_level(web_zoom(m) > web_zoom(view_.level) ? view_.anchor : view_.centre(), m, src);
    }
    normalise_pending();
    view_.pointer = view_.pending;
    load_pending_view(Variant::ByOnline);
}

void App::on_left_button(int x, int y) {
    if (!ws_) return;
    WaitCursor wait(window_);
    view_.pending.level = view_.level;
    const toolbar::Button b = toolbar::hit_button(x, y);
    if (b != toolbar::kButtonCount) {
        switch (b) {
        case toolbar::kAutoPan:
            auto_pan_on();
            window_->invalidate(false);
            break;
        case toolbar::kPanWest: pan(-kTileSize, 0); break;
        case toolbar::kPanNorth: pan(0, -kTileSize); break;
        case toolbar::kPanSouth: pan(0, kTileSize); break;
        case toolbar::kPanEast: pan(kTileSize, 0); break;
        case toolbar::kAerial: toggle_aerial(); break;
        default: level_button(b - toolbar::kLevel0); break;
        }
    } else if (in_map(x, y)) {
        auto_pan_off();
        const MapSource src = source();
        const int m = src == MapSource::Etopo2 ? view_.level : finer_level(view_.level);
        view_.anchor = at_level(pointed_target(x, y), m, src);
        view_.pending = view_.anchor;
        normalise_pending();
        view_.pointer = view_.pending;
        load_pending_view(Variant::ByOnline);
    }
    if (ws_) view_.zoom_clock = now();
}

void App::on_right_button(int x, int y) {
    if (!ws_) return;
    WaitCursor wait(window_);
    if (!in_map(x, y)) return;
    auto_pan_off();
    const MapSource src = source();
    const int m = coarser_level(view_.level);
    view_.pending = at_level(pointed_target(x, y), m, src);
    normalise_pending();
    view_.pointer = view_.pending;
    load_pending_view(Variant::ByOnline);
    view_.zoom_clock = now();
}

void App::on_wheel(int steps, int x, int y) {
    if (!ws_ || steps == 0) return;
    const MapSource src = source();
    if (src == MapSource::Etopo2) return;  // one level only
    const int m = wheel_level(steps);
    if (m == view_.level) return;
    WaitCursor wait(window_);
    auto_pan_off();
    // The pointed map point keeps its place under the pointer: the new centre lies as far from it,
    // at the new level, as the pointer lies from the middle of the map area.
    const bool inside = in_map(x, y);
    const ViewTarget p = inside ? pointed_target(x, y) : view_.centre();
    const int off_x = inside ? x - 1 - view_.map_width / 2 : 0;
    int off_y = inside ? y - toolbar::kMapTop - view_.map_height / 2 : 0;
    if (rows_run_north(src)) off_y = -off_y;
    view_.pending = at_level(p, m, src);
    view_.pending.x -= off_x;
    view_.pending.y -= off_y;
    normalise_pending();
    view_.anchor = view_.pending;
    view_.pointer = view_.pending;
    load_pending_view(Variant::ByOnline);
    view_.zoom_clock = now();
}

int App::wheel_level(int steps) const {
    const MapSource src = source();
    const CatalogueEntry* e = current_entry();
    const auto shown = [&](int k) { return has_scale(src, k) && (!e || e->has_level(k)); };
    const int way = steps > 0 ? 1 : -1;
    int level = view_.level;
    for (int n = steps > 0 ? steps : -steps; n > 0; --n) {
        int z = web_zoom(level) + way;
        while (z >= 0 && z <= kMaxWebZoom && !shown(zoom_code(z))) z += way;
        if (z < 0 || z > kMaxWebZoom) break;
        level = zoom_code(z);
    }
    return level;
}

void App::on_drag(int dx, int dy) {
    if (!ws_) return;
    // Dragging right shows what lies to the west: the map point under the pointer stays under it.
    if (dx == 0 && dy == 0) {
        if (window_) window_->invalidate(false);
        return;
    }
    WaitCursor wait(window_);
    pan(-dx, -dy);
}

void App::on_mouse_move(int x, int y) {
    if (!ws_ || !ws_->map_coordinates) return;
    if (in_map(x, y)) {
        view_.pointer = !has_scale(source(), view_.level) ? ViewTarget{view_.level, kNoPointer, kNoPointer}
                                                                  : pointed_target(x, y);
    } else {
        view_.pointer = view_.centre();
    }
    // A place without a height yet: the elevation source's tiles of the view are asked for.
    if (elevation_ && pointer_ground_text().empty()) request_dem_tiles();
    if (window_) window_->invalidate(false);
}

void App::on_timer() {
    if (!ws_) return;
    const DeviceType device = ws_->device_type;

    // 1. Garmin polling: position and date-time requests in turn.
    if (device == DeviceType::Garmin) {
        if (SerialLink* link = this->link(); link && link->garmin_timer_step() && window_) window_->invalidate(false);
    }

    // 2-3. Base upload or remote poll.
    if (ws_->base_enabled) {
        BaseLinkConfig base;
        base.base_enabled = true;
        base.base_host = ws_->base_host;
        base.base_port = ws_->base_port;
        base.http = options_.http;
        BaseLinkState state{view_.upload_clock, view_.uploaded_lat, view_.uploaded_lon};
        if (device != DeviceType::Remote)
            base_position_upload(base, device, fix_.snapshot(), state, now());
        else
            remote_poll(base, device, state, now());
        view_.upload_clock = state.upload_clock;
        view_.uploaded_lat = state.uploaded_lat;
        view_.uploaded_lon = state.uploaded_lon;
    }

    // 4. No-data watchdog.
    if (receiver_ && receiver_->active() && device != DeviceType::Remote) {
        if (ws_->silence_ticks.load() > 120) {
            fix_.update([](FixRecord& f) { f.fix_dimension = 0; });
            if (window_) window_->invalidate(false);
        } else {
            ws_->silence_ticks.fetch_add(1);
        }
    }
}

}  // namespace vg
