#include "app/ais_texts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "app/app_detail.h"

namespace vg {

namespace {

template <typename... Args>
std::string format(const char* pattern, Args... args) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, args...);
    return text;
}

constexpr double kUnknown = std::numeric_limits<double>::quiet_NaN();

}  // namespace

std::optional<ais::OwnShip> own_ship_of(const FixRecord& fix, bool stale) {
    if (stale || !app_detail::fix_valid(fix) || !std::isfinite(fix.latitude) || !std::isfinite(fix.longitude)) return std::nullopt;
    ais::OwnShip own;
    own.lat = fix.latitude;
    own.lon = fix.longitude;
    own.sog_kn = std::isfinite(fix.speed_knots) && fix.speed_knots > 0 ? fix.speed_knots : 0;
    own.cog_deg = std::isfinite(fix.course) ? fix.course : 0;
    return own;
}

std::string ais_target_label(const ais::Target& target) {
    return target.name.empty() ? std::to_string(target.mmsi) : target.name;
}

std::string ais_warning_text(const std::vector<ais::Target>& targets) {
    std::vector<const ais::Target*> danger;
    for (const ais::Target& t : targets)
        if (t.dangerous && t.cpa_nm && t.tcpa_min) danger.push_back(&t);
    if (danger.empty()) return {};
    std::stable_sort(danger.begin(), danger.end(),
                     [](const ais::Target* a, const ais::Target* b) { return *a->cpa_nm < *b->cpa_nm; });
    std::string text;
    for (std::size_t i = 0; i < danger.size() && i < kMostAisWarnings; ++i) {
        const ais::Target& t = *danger[i];
        if (!text.empty()) text += "; ";
        text += "AIS: " + (t.name.empty() ? std::string() : t.name + " ") + "(" + std::to_string(t.mmsi) + ")" +
                format(" CPA %.1f nm in %.0f min", *t.cpa_nm, std::max(1.0, std::round(*t.tcpa_min)));
    }
    if (danger.size() > kMostAisWarnings) text += format(" and %zu more", danger.size() - kMostAisWarnings);
    return text;
}

std::vector<AisTargetRow> ais_target_rows(const std::vector<ais::Target>& targets) {
    std::vector<AisTargetRow> rows;
    rows.reserve(targets.size());
    for (const ais::Target& t : targets) {
        AisTargetRow row;
        row.texts[0] = t.name;
        row.texts[1] = std::to_string(t.mmsi);
        const auto put = [&row](int column, const std::optional<double>& v, const char* pattern) {
            row.keys[static_cast<std::size_t>(column)] = v ? *v : kUnknown;
            if (v) row.texts[static_cast<std::size_t>(column)] = format(pattern, *v);
        };
        row.keys[0] = row.keys[1] = kUnknown;
        put(2, t.range_nm, "%.2f nm");
        put(3, t.bearing_deg, "%03.0f\u00b0");
        put(4, t.sog_kn, "%.1f kn");
        put(5, t.cog_deg, "%03.0f\u00b0");
        put(6, t.cpa_nm, "%.2f nm");
        put(7, t.tcpa_min, "%.1f min");
        row.stale = t.stale;
        row.dangerous = t.dangerous;
        rows.push_back(std::move(row));
    }
    std::stable_sort(rows.begin(), rows.end(), [](const AisTargetRow& a, const AisTargetRow& b) {
        const double x = a.keys[2], y = b.keys[2];
        if (std::isnan(x) || std::isnan(y)) return !std::isnan(x) && std::isnan(y);
        return x < y;
    });
    return rows;
}

}  // namespace vg
