// The AIS targets of the running receiver on the map, the warning of dangerous ones on the message line
// and Gps → AIS Targets, the list of them.
#include <algorithm>
#include <cmath>

#include "app/ais_texts.h"
#include "app/app.h"
#include "geo/geodesy.h"
#include "tiles/geometry.h"

namespace vg {

namespace {

PaintFrame::AisMark::Kind mark_kind(ais::TargetKind kind) {
    switch (kind) {
    case ais::TargetKind::ClassA: return PaintFrame::AisMark::Kind::ClassA;
    case ais::TargetKind::ClassB: return PaintFrame::AisMark::Kind::ClassB;
    case ais::TargetKind::BaseStation: return PaintFrame::AisMark::Kind::BaseStation;
    case ais::TargetKind::AidToNavigation: return PaintFrame::AisMark::Kind::AidToNavigation;
    case ais::TargetKind::Other: break;
    }
    return PaintFrame::AisMark::Kind::Other;
}

constexpr double kMetresPerNauticalMile = 1852;
// Symbols this close outside the map area still show a part of themselves or their course vector.
constexpr long long kMarkMargin = 24;
// Far-off vector ends are cut here, well outside any window, so that nothing overflows.
constexpr long long kFarthest = 1'000'000;

int bounded(long long v) { return static_cast<int>(std::clamp(v, -kFarthest, kFarthest)); }

}  // namespace

std::string App::ais_marks(PaintFrame& frame, const FixRecord& fix, bool stale) {
    const std::vector<ais::Target> targets = ais_feed_.targets(own_ship_of(fix, stale));
    if (targets.empty()) return {};
    const MapSource src = source();
    const auto place = [&](double lat, double lon) {
        const WorldPixel p = geo_to_pixel(lat, lon, src, view_.level);
        return std::pair{layer_.mosaic_x(p.x) - frame.visible_first_column, layer_.mosaic_y(p.y) - frame.visible_first_row};
    };
    frame.ais.reserve(targets.size());
    for (const ais::Target& t : targets) {
        if (!t.lat || !t.lon) continue;
        const auto [x, y] = place(*t.lat, *t.lon);
        if (x < -kMarkMargin || y < -kMarkMargin || x >= view_.map_width + kMarkMargin || y >= view_.map_height + kMarkMargin)
            continue;
        PaintFrame::AisMark mark;
        mark.kind = mark_kind(t.kind);
        mark.x = static_cast<int>(x);
        mark.y = static_cast<int>(y);
        const std::optional<double> direction = t.heading_deg ? t.heading_deg : t.cog_deg;
        mark.oriented = direction.has_value();
        mark.angle_deg = direction.value_or(0);
        if (t.sog_kn && t.cog_deg && *t.sog_kn > 0) {
            const double metres = *t.sog_kn * kMetresPerNauticalMile * PaintFrame::kAisVectorMinutes / 60;
            const geo::Position end = geo::direct(*t.lat, *t.lon, *t.cog_deg, metres);
            const auto [vx, vy] = place(end.lat, end.lon);
            mark.vector = true;
            mark.vector_x = bounded(vx);
            mark.vector_y = bounded(vy);
        }
        mark.stale = t.stale;
        mark.dangerous = t.dangerous;
        mark.label = ais_target_label(t);
        frame.ais.push_back(std::move(mark));
    }
    return ais_warning_text(targets);
}

void App::open_ais_targets() {
    if (!window_) return;
    window_->open_ais_targets_dialog(
        [this] { return ais_target_rows(ais_feed_.targets(own_ship_of(fix_.snapshot(), last_fix_.stale))); });
}

}  // namespace vg
