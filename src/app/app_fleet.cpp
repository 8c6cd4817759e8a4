// The fleet: reports of other devices taken from any thread, kept in the table and the history,
// drawn as a layer over the map, followed, centred on and replayed (window thread).
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cmath>

#include "app/app.h"
#include "app/app_detail.h"
#include "app/view_text.h"
#include "geo/geodesy.h"
#include "tiles/geometry.h"
#include "settings/settings_file.h"
#include "settings/text_scan.h"
#include "tiles/geometry.h"

namespace vg {

namespace {

// A whole number setting of vor_ini.txt within [low, high], else `fallback`.
std::int64_t number_setting(const std::filesystem::path& ini, std::string_view key, std::int64_t low,
                            std::int64_t high, std::int64_t fallback) {
    const auto text = setting_value(ini, key);
    if (!text) return fallback;
    const std::string_view v = trim_blanks(*text);
    std::int64_t n = 0;
    const auto [end, error] = std::from_chars(v.data(), v.data() + v.size(), n);
    return error == std::errc() && end == v.data() + v.size() && n >= low && n <= high ? n : fallback;
}

}  // namespace

void App::start_fleet() {
    const auto ini = settings_path(kIniFile);
    fleet_stale_ms_ = number_setting(ini, "fleetstale", 1, 86'400, kFleetStaleSeconds) * 1000;
    fleet_trail_ms_ = number_setting(ini, "fleettrail", 0, 24 * 60, kFleetTrailMinutes) * 60'000;
    fleet_.set_trail_ms(fleet_trail_ms_);
    FleetStoreOptions options;
    options.file = settings_path(kFleetStoreFile);
    options.retention_days = static_cast<int>(number_setting(ini, "fleetdays", 0, 100'000, kFleetRetentionDays));
    fleet_store_ = std::make_unique<FleetStore>(options);
    // The history's first moment, for the replay slider, read off the window thread.
    replay_thread_ = std::thread([this, file = options.file] {
        if (fleet_store_->flush())
            if (const auto span = fleet_time_span(file)) note_fleet_time(span->first);
    });
}

void App::device_report(const DeviceReport& report) {
    const std::int64_t now_ms = clock_->now_seconds() * 1000;
    DeviceReport r = report;
    if (r.time_ms == 0) r.time_ms = now_ms;
    if (!fleet_.update(r, now_ms)) return;  // malformed: dropped and counted by the table
    if (fleet_store_) fleet_store_->add(r);
    note_fleet_time(r.time_ms);
    if (fix_notice_) fix_notice_->post();
}

void App::note_fleet_time(std::int64_t time_ms) {
    std::int64_t first = fleet_first_ms_.load();
    while ((first == 0 || time_ms < first) && !fleet_first_ms_.compare_exchange_weak(first, time_ms)) {
    }
}

void App::centre_on_device(const std::string& id) {
    const auto target = fleet_.find(id);
    if (!target || !ws_) return;
    FixRecord place;
    place.latitude = target->last.lat;
    place.longitude = target->last.lon;
    follow(place);
    if (window_) window_->invalidate(false);
}

void App::follow_device(const std::string& id) {
    followed_device_ = id;
    if (!id.empty()) centre_on_device(id);
}

void App::replay_fleet(std::optional<std::int64_t> at_ms) {
    if (replay_thread_.joinable()) replay_thread_.join();
    {
        std::lock_guard lock(replay_mutex_);
        replay_at_ = at_ms;
        replay_points_.clear();
    }
    if (at_ms && fleet_store_) {
        replay_thread_ = std::thread([this, at = *at_ms, file = settings_path(kFleetStoreFile)] {
            std::vector<FleetPoint> points;
            std::string error;
            fleet_positions_at(file, at, 3'600'000, points, error);  // each device's last hour
            {
                std::lock_guard lock(replay_mutex_);
                if (replay_at_ == at) replay_points_ = std::move(points);
            }
            if (fix_notice_) fix_notice_->post();
        });
    }
    if (window_) window_->invalidate(false);
}

std::optional<std::int64_t> App::fleet_replay_time() const {
    std::lock_guard lock(replay_mutex_);
    return replay_at_;
}

static std::vector<FleetRow> fleet_rows(const std::vector<FleetTarget>& targets, const FixRecord& own, bool own_valid,
                                 std::int64_t now_ms, std::int64_t stale_ms, SpeedUnit unit) {
    std::vector<FleetRow> rows;
    rows.reserve(targets.size());
    char text[64];
    for (const FleetTarget& t : targets) {
        FleetRow row;
        row.id = t.last.id;
        row.name = t.last.name.empty() ? t.last.id : t.last.name;
        const std::int64_t age_s = std::max<std::int64_t>(0, (now_ms - t.last.time_ms) / 1000);
        std::snprintf(text, sizeof text, age_s < 120 ? "%lld s" : age_s < 7200 ? "%lld min" : "%lld h",
                      static_cast<long long>(age_s < 120 ? age_s : age_s < 7200 ? age_s / 60 : age_s / 3600));
        row.age = text;
        row.stale = now_ms - t.last.time_ms > stale_ms;
        if (t.last.speed_kmh)
            row.speed = speed_text(speed_in(*t.last.speed_kmh / 1.852, unit), t.last.course_deg.value_or(0), unit);
        if (own_valid) {
            const geo::Inverse d = geo::inverse(own.latitude, own.longitude, t.last.lat, t.last.lon);
            std::snprintf(text, sizeof text, d.distance_m < 10'000 ? "%.0f m" : "%.1f km",
                          d.distance_m < 10'000 ? d.distance_m : d.distance_m / 1000);
            row.distance = text;
            std::snprintf(text, sizeof text, "%.0f\u00b0", std::fmod(d.bearing_deg + 360, 360));
            row.bearing = text;
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

void App::open_fleet() {
    if (!window_) return;
    FleetDialogData data;
    data.rows = [this] {
        const FixRecord own = fix_.snapshot();
        const std::int64_t now_ms = clock_->now_seconds() * 1000;
        return fleet_rows(fleet_.snapshot(now_ms, 0), own, app_detail::fix_valid(own) && !last_fix_.stale, now_ms,
                          fleet_stale_ms_, ws_->speed_unit);
    };
    data.centre = [this](const std::string& id) { centre_on_device(id); };
    data.follow = [this](const std::string& id) { follow_device(id); };
    data.history = [this]() -> std::optional<std::pair<std::int64_t, std::int64_t>> {
        const std::int64_t first = fleet_first_ms_.load();
        if (first == 0) return std::nullopt;
        return std::pair(first, clock_->now_seconds() * 1000);
    };
    data.replay = [this](std::optional<std::int64_t> at) { replay_fleet(at); };
    window_->open_fleet_dialog(std::move(data));
}

void App::fleet_layer(PaintFrame& frame) const {
    const MapSource src = source();
    const int margin = 64;
    auto place = [&](double lat, double lon, int& x, int& y) {
        const WorldPixel p = geo_to_pixel(lat, lon, src, view_.level);
        const long long px = layer_.mosaic_x(p.x) - frame.visible_first_column;
        const long long py = layer_.mosaic_y(p.y) - frame.visible_first_row;
        x = static_cast<int>(std::clamp<long long>(px, -100000, 100000));
        y = static_cast<int>(std::clamp<long long>(py, -100000, 100000));
        return px >= -margin && py >= -margin && px < view_.map_width + margin && py < view_.map_height + margin;
    };
    const std::int64_t now_ms = clock_->now_seconds() * 1000;
    std::unique_lock replay(replay_mutex_);
    if (replay_at_) {
        for (const FleetPoint& p : replay_points_) {
            PaintFrame::FleetMark m;
            if (!place(p.lat, p.lon, m.x, m.y)) continue;
            m.label = p.id;
            m.course = p.course_deg.value_or(0);
            m.has_course = p.course_deg.has_value();
            m.stale = *replay_at_ - p.time_ms > fleet_stale_ms_;
            frame.fleet.push_back(std::move(m));
        }
        return;
    }
    replay.unlock();
    if (fleet_.size() == 0) return;
    // Trail points: Mercator rows from the row the table keeps; the trail then simplified to within a
    // pixel, so that long trails stay cheap to draw.
    const bool mercator = is_mercator(src);
    const double ppd = pixels_per_degree(view_.level);
    auto trail_point = [&](const FleetTarget::TrailPoint& p, int& x, int& y) {
        if (!mercator) return place(p.lat, p.lon, x, y);
        const long long px = layer_.mosaic_x(static_cast<int>(std::floor((p.lon + 180.0) * ppd))) -
                             frame.visible_first_column;
        const long long py = layer_.mosaic_y(mercator_row(p.mercator_deg, view_.level)) - frame.visible_first_row;
        x = static_cast<int>(std::clamp<long long>(px, -100000, 100000));
        y = static_cast<int>(std::clamp<long long>(py, -100000, 100000));
        return px >= -margin && py >= -margin && px < view_.map_width + margin && py < view_.map_height + margin;
    };
    fleet_.for_each(now_ms, fleet_trail_ms_, [&](const FleetTarget& t, std::size_t first) {
        PaintFrame::FleetMark m;
        bool shown = place(t.last.lat, t.last.lon, m.x, m.y);
        m.trail.reserve(t.trail.size() - first);
        for (std::size_t i = first; i < t.trail.size(); ++i) {
            int x = 0, y = 0;
            shown = trail_point(t.trail[i], x, y) || shown;
            m.trail.push_back({x, y});
        }
        if (!shown) return;
        simplify_trail(m.trail, 1.0);
        m.label = t.last.name.empty() ? t.last.id : t.last.name;
        m.course = t.last.course_deg.value_or(0);
        m.has_course = t.last.course_deg.has_value();
        m.stale = now_ms - t.last.time_ms > fleet_stale_ms_;
        m.followed = t.last.id == followed_device_;
        frame.fleet.push_back(std::move(m));
    });
}

}  // namespace vg
