#include "track/trip_stats.h"

#include <algorithm>
#include <cmath>

#include "geo/geodesy.h"
#include "platform/c_number.h"
#include "tiles/elevation.h"
#include "track/track_record.h"

namespace vg {
namespace {

// A value within `limit` of zero (so that sums and differences of them stay finite), else none.
std::optional<double> bounded(std::optional<double> v, double limit) {
    if (v && std::fabs(*v) <= limit) return v;
    return std::nullopt;
}

double between(const TripSample& a, const TripSample& b) {
    return geo::short_distance_m(a.latitude, a.longitude, b.latitude, b.longitude);
}

// Seconds from a to b, when both have a time.
std::optional<double> seconds(const TripSample& a, const TripSample& b) {
    if (!a.utc_seconds || !b.utc_seconds) return std::nullopt;
    return *b.utc_seconds - *a.utc_seconds;
}

}  // namespace

TripStats::TripStats(const ElevationModel* model)
    : model_(model),
      hysteresis_m_(model ? kDemHysteresisM : std::max(kGpsHysteresisM, kNoiseHysteresis * kNoisePriorM)) {}

void TripStats::begin_segment() {
    flush();
    new_segment_ = true;
}

void TripStats::add(const TripSample& in) {
    if (!std::isfinite(in.latitude) || !std::isfinite(in.longitude) || std::fabs(in.latitude) > 90 ||
        std::fabs(in.longitude) > 180) {
        ++fig_.rejected;
        return;
    }
    Point p;
    p.s = in;
    p.s.utc_seconds = bounded(in.utc_seconds, kMaxAbsSeconds);
    p.s.altitude_m = bounded(in.altitude_m, kMaxAbsHeightM);
    p.s.speed_mps = bounded(in.speed_mps, kMaxSpeedMps);
    if (p.s.speed_mps && *p.s.speed_mps < 0) p.s.speed_mps.reset();
    p.height = model_ ? bounded(model_->elevation(p.s.latitude, p.s.longitude), kMaxAbsHeightM) : p.s.altitude_m;
    ++fig_.points;

    const Point* before = held_ ? &*held_ : last_ ? &*last_ : nullptr;
    if (before && !new_segment_) {
        const auto dt = seconds(before->s, p.s);
        if (dt && *dt < 0) begin_segment();  // time stepped back: a new segment, as the recorder splits
    }
    if (new_segment_) {
        new_segment_ = false;
        last_.reset();
        recent_.clear();
        smooth_.clear();
        smooth_sum_ = 0;
        noise_window_.clear();
        // Climb is not counted across a break either: the leg under way ends there.
        if (dir_ == 1) ascent_ += ext_ - ref_;
        if (dir_ == -1) descent_ += ref_ - ext_;
        dir_ = 0;
        climb_start_ = true;
        moving_ = false;
        pending_s_ = pending_d_ = run_s_ = away_m_ = 0;
        rest_.reset();
        last_speed_.reset();
    }
    if (held_) {
        // The held point is dropped when going to it and from it both need far more speed than the
        // straight way from the point before to this one.
        const double d_hp = between(held_->s, p.s);
        p.step_m = d_hp;
        bool jump = false;
        if (last_) {
            const auto t_ah = seconds(last_->s, held_->s), t_hp = seconds(held_->s, p.s), t_ap = seconds(last_->s, p.s);
            const double d_ah = held_->step_m;
            if (t_ah && t_hp && t_ap && *t_ah > 0 && *t_hp > 0 && *t_ap <= kSpikeMaxSpanS &&
                d_ah + d_hp > kSpikeMinDetourM) {
                const double d_ap = between(last_->s, p.s), straight = d_ap / *t_ap;
                jump = d_ah + d_hp - d_ap > kSpikeMinDetourM && d_ah / *t_ah > straight + kSpikeExcessMps &&
                       d_hp / *t_hp > straight + kSpikeExcessMps;
                if (jump) p.step_m = d_ap;
            }
        }
        if (jump)
            ++fig_.outliers;
        else
            settle(*held_);
    }
    held_ = p;
}

void TripStats::flush() {
    if (held_) settle(*held_);
    held_.reset();
}

void TripStats::settle(const Point& p) {
    const std::optional<double> t = p.s.utc_seconds;
    if (last_) {
        const double d = p.step_m;  // from last_, worked out when the point came
        distance_ += d;
        const auto dt = seconds(last_->s, p.s);
        if (dt) {
            timed_ = true;
            total_s_ += *dt;
        }
        if (t && !dt) recent_.clear();  // the time starts again after untimed points
        if (t) recent_.push_back({*t, p.s.latitude, p.s.longitude});
        // The speed as a value and a flag (not an optional: GCC's -O1 takes its value for unset).
        bool has_v = p.s.speed_mps.has_value();
        double v = p.s.speed_mps.value_or(0.0);
        bool v_spans = has_v;
        if (!has_v && t) {
            // The displacement over the span, not the path: a resting receiver's wander adds path
            // but goes nowhere.
            while (recent_.size() >= 2 && recent_[1].t <= *t - kSpeedSpanS) recent_.pop_front();
            const Recent& r = recent_.front();
            if (*t > r.t) {
                v = geo::short_distance_m(r.lat, r.lon, p.s.latitude, p.s.longitude) / (*t - r.t);
                has_v = true;
                v_spans = *t - r.t >= kSpeedSpanS;
            }
        }
        // A step no vehicle makes (a receiver settling after a cold start): measured in the distance,
        // as the points say, but not as travel in the moving distance.
        bool step = false;
        if (dt && *dt > 0 && d > kSpikeMinDetourM && last_speed_)
            step = std::fabs(d / *dt - last_speed_->second) >
                   kMaxAccelMps2 * std::max(0.0, *t - last_speed_->first) + kAccelSlackMps;
        if (has_v && !(v <= kMaxSpeedMps)) has_v = false;  // times a hair apart: no speed
        if (dt && has_v) classify(*dt, step ? 0.0 : d, v, p);
        if (t && has_v && v_spans) take_max_speed(v, *t);
    } else {
        if (t) recent_.push_back({*t, p.s.latitude, p.s.longitude});
        rest_ = p;
        if (t && p.s.speed_mps) take_max_speed(*p.s.speed_mps, *t);
    }
    if (p.height) take_height(*p.height, t);
    last_ = p;
}

void TripStats::classify(double dt, double d, double v, const Point& p) {
    if (moving_) {
        if (v < kStopMps) {
            pending_s_ += dt;
            pending_d_ += d;
            run_s_ += dt;
            if (run_s_ >= kStopHoldS) {  // a stop: its slow time is resting time
                moving_ = false;
                pending_s_ = pending_d_ = run_s_ = away_m_ = 0;
                rest_ = p;
            }
        } else {
            moving_s_ += dt + pending_s_;
            moving_d_ += d + pending_d_;
            pending_s_ = pending_d_ = run_s_ = 0;
        }
        return;
    }
    if (v < kStopMps) {
        pending_s_ = pending_d_ = run_s_ = away_m_ = 0;
        rest_ = p;
        return;
    }
    pending_s_ += dt;
    pending_d_ += d;
    run_s_ = v > kStartMps ? run_s_ + dt : 0;
    if (rest_) away_m_ = between(rest_->s, p.s);
    if (run_s_ >= kStartHoldS || away_m_ > kStartDisplacementM) {  // under way since the speed rose
        moving_ = true;
        moving_s_ += pending_s_;
        moving_d_ += pending_d_;
        pending_s_ = pending_d_ = run_s_ = 0;
    }
}

void TripStats::take_max_speed(double v, double t) {
    if (last_speed_) {
        const auto [t0, v0] = *last_speed_;
        if (std::fabs(v - v0) > kMaxAccelMps2 * std::max(0.0, t - t0) + kAccelSlackMps) return;
    }
    last_speed_ = {t, v};
    max_mps_ = std::max(max_mps_.value_or(0.0), v);
}

void TripStats::take_noise(double x, double h, double lag) {
    // The height lag before this one against the straight line from the height two lags before to this
    // one: a slope, however steep, leaves nothing; the receiver's wander at that scale remains.
    noise_window_.emplace_back(x, h);
    while (noise_window_.size() > 2 && x - noise_window_[1].first >= 2 * lag) noise_window_.pop_front();
    const auto [x0, h0] = noise_window_.front();
    if (x - x0 < 2 * lag) return;
    const auto mid = std::lower_bound(noise_window_.begin(), noise_window_.end(), x0 + lag,
                                      [](const auto& a, double v) { return a.first < v; });
    if (mid == noise_window_.end() || mid->first >= x) return;
    const double r = mid->second - (h0 + (h - h0) * (mid->first - x0) / (x - x0));
    // The mean absolute difference (times sqrt(pi/2), the ratio of root mean square to mean absolute
    // value of Gaussian noise): one wild height of a settling receiver moves it by its share only.
    constexpr double kRmsPerMeanAbs = 1.2533141373155003;
    noise_sum_ += std::fabs(r);
    noise_count_ += 1;
    const double rms = kRmsPerMeanAbs * (kNoisePriorWeight * kNoisePriorM / kRmsPerMeanAbs + noise_sum_) /
                       (kNoisePriorWeight + noise_count_);
    hysteresis_m_ = std::max(kGpsHysteresisM, kNoiseHysteresis * rms);
}

void TripStats::take_height(double h, std::optional<double> t) {
    // A running mean over the last kSmoothS seconds (kSmoothPoints points without times).
    const bool timed = t.has_value();
    if (!smooth_.empty() && timed != smooth_timed_) {
        smooth_.clear();
        smooth_sum_ = 0;
    }
    if (!noise_window_.empty() && timed != smooth_timed_) noise_window_.clear();
    smooth_timed_ = timed;
    const double x = timed ? *t : smooth_index_;
    smooth_.emplace_back(timed ? *t : smooth_index_++, h);
    if (!model_) take_noise(x, h, timed ? kNoiseLagS : kNoiseLagPoints);
    smooth_sum_ += h;
    while (smooth_.size() > 1 && (timed ? smooth_.back().first - smooth_.front().first > kSmoothS
                                        : smooth_.size() > kSmoothPoints)) {
        smooth_sum_ -= smooth_.front().second;
        smooth_.pop_front();
    }
    const double e = smooth_sum_ / static_cast<double>(smooth_.size());
    if (!have_height_) {
        have_height_ = true;
        min_h_ = max_h_ = e;
    }
    min_h_ = std::min(min_h_, e);
    max_h_ = std::max(max_h_, e);
    if (climb_start_) {
        climb_start_ = false;
        ref_ = ext_ = e;
        return;
    }
    // Climb in legs between turning points at least the hysteresis apart.
    switch (dir_) {
    case 0:
        if (std::fabs(e - ref_) >= hysteresis_m_) {
            dir_ = e > ref_ ? 1 : -1;
            ext_ = e;
        }
        break;
    case 1:
        if (e > ext_) {
            ext_ = e;
        } else if (ext_ - e >= hysteresis_m_) {
            ascent_ += ext_ - ref_;
            ref_ = ext_;
            ext_ = e;
            dir_ = -1;
        }
        break;
    default:
        if (e < ext_) {
            ext_ = e;
        } else if (e - ext_ >= hysteresis_m_) {
            descent_ += ref_ - ext_;
            ref_ = ext_;
            ext_ = e;
            dir_ = 1;
        }
        break;
    }
}

TripFigures TripStats::current() const {
    TripFigures f = fig_;
    f.distance_m = distance_;
    if (timed_) {
        f.total_s = total_s_;
        f.moving_s = moving_s_;
        if (moving_s_ > 0 && moving_d_ / moving_s_ <= kMaxSpeedMps) f.avg_moving_mps = moving_d_ / moving_s_;
    }
    f.max_mps = max_mps_;
    if (have_height_) {
        f.ascent_m = ascent_ + (dir_ == 1 ? ext_ - ref_ : 0.0);
        f.descent_m = descent_ + (dir_ == -1 ? ref_ - ext_ : 0.0);
        f.min_ele_m = min_h_;
        f.max_ele_m = max_h_;
    }
    return f;
}

TripFigures TripStats::figures() const {
    TripStats copy = *this;
    copy.flush();
    return copy.current();
}

void RecordedTrip::add(const TrackPoint& fix) {
    const std::vector<TrackPoint> kept = read_journal(journal_line(fix));
    if (kept.empty()) return;
    const TrackPoint& p = kept.front();
    if (last_ && !same_segment(*last_, p)) stats_.begin_segment();
    last_ = p;
    stats_.add({p.latitude, p.longitude, static_cast<double>(p.utc_seconds.value_or(0)), p.elevation, std::nullopt});
}

TripFigures trip_figures(const GpxData& gpx, const ElevationModel* model) {
    TripStats stats(model);
    for (const auto& line : gpx.lines) {
        stats.begin_segment();
        for (const GpxPoint& p : line) stats.add({p.latitude, p.longitude, p.utc_seconds, p.elevation, std::nullopt});
    }
    return stats.figures();
}

TripFigures trip_figures(const std::vector<TrackRun>& runs, const ElevationModel* model) {
    TripStats stats(model);
    for (const TrackRun& run : runs) {
        stats.begin_segment();
        for (const TrackPoint& p : run) {
            std::optional<double> t;
            if (p.utc_seconds) t = static_cast<double>(*p.utc_seconds);
            stats.add({p.latitude, p.longitude, t, p.elevation, std::nullopt});
        }
    }
    return stats.figures();
}

std::string trip_figures_json(const TripFigures& f) {
    auto number = [](std::optional<double> v, int decimals, double scale = 1) {
        return v ? fixed_text(*v * scale, decimals) : std::string("null");
    };
    constexpr double kKmh = 3.6;
    std::string out = "{\"distance_m\":" + fixed_text(f.distance_m, 1);
    out += ",\"moving_s\":" + number(f.moving_s, 1);
    out += ",\"total_s\":" + number(f.total_s, 1);
    out += ",\"avg_moving_kmh\":" + number(f.avg_moving_mps, 2, kKmh);
    out += ",\"max_kmh\":" + number(f.max_mps, 2, kKmh);
    out += ",\"ascent_m\":" + number(f.ascent_m, 1);
    out += ",\"descent_m\":" + number(f.descent_m, 1);
    out += ",\"min_ele_m\":" + number(f.min_ele_m, 1);
    out += ",\"max_ele_m\":" + number(f.max_ele_m, 1);
    out += ",\"points\":" + std::to_string(f.points) + "}";
    return out;
}

}  // namespace vg
