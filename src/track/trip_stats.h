// Trip figures (distance, times, speeds, climb, heights) of a track, worked out point by point, so that
// the same accumulator serves the live trip (App feeds each recorded fix) and a saved track (a GPX
// file, the track log, a recording), and both give the same figures for the same points.
//
// Rules (constants below):
// - Distance: geodesic (geo/geodesy.h) between consecutive points of a segment; nothing is counted
//   across a segment break. A segment breaks where the caller says (begin_segment: a GPX segment, a
//   log run, the recorder's gap) and where the time steps back.
// - Outliers: a single point that lies off the way (a detour of more than kSpikeMinDetourM, beyond a
//   receiver's noise) and would need an impossible speed both to reach and to leave it (each more than
//   kSpikeExcessMps above the straight way) is dropped whole; a
//   maximum-speed reading that needs more than kMaxAccelMps2 of acceleration from the last accepted one
//   is not taken as the maximum, and a step of the position (over kSpikeMinDetourM) that would need it
//   is measured in the distance but is no travel in the moving distance (the average speed).
// - Speed: the receiver's speed when a point has one, else the positions' speed over at least
//   kSpeedSpanS seconds.
// - Moving time with hysteresis: at rest, moving starts once the speed stays above kStartMps for
//   kStartHoldS seconds or the position gets kStartDisplacementM from where it rested without a slow
//   interval; the time since the speed rose is then counted as moving. Moving, a stop is taken once
//   the speed stays below kStopMps for kStopHoldS seconds; that slow time is then not counted.
// - Heights: the model's height when an ElevationModel is given (a point outside it has none; GPS
//   altitude is then not used), else the point's altitude. They are smoothed by a running mean over
//   kSmoothS seconds (kSmoothPoints points on an untimed track), and climb is counted only in legs of
//   at least the hysteresis between turning points. With a model the hysteresis is kDemHysteresisM.
//   With GPS altitude it follows the track's own noise: each height is compared with the straight line
//   between the heights kNoiseLagS seconds before and after it (kNoiseLagPoints points untimed), which a
//   steady slope leaves at zero; their root mean square (worked out from their mean absolute value, so
//   that a single wild height counts by its share only), started from kNoisePriorM as if
//   kNoisePriorWeight of them had been seen, times kNoiseHysteresis is the hysteresis, never less than
//   kGpsHysteresisM. The estimate runs over the whole trip (segments included), so it is the same
//   live and afterwards. Minimum and maximum are of the smoothed heights. Climb, like distance, is not
//   counted across a segment break.
// Bad input: a point with a position that is not a number or out of range is skipped (`rejected`); a
// time, altitude or speed that is not a number or beyond its bound below (a negative speed) is taken
// as absent, so that every figure stays a finite number.
// Threads: an accumulator belongs to one thread. Ownership: the model (optional) must outlive it.
#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "track/gpx.h"
#include "track/track_log.h"

namespace vg {

class ElevationModel;

struct TripSample {
    double latitude = 0;
    double longitude = 0;
    std::optional<double> utc_seconds;
    std::optional<double> altitude_m;  // the receiver's height above sea level
    std::optional<double> speed_mps;   // the receiver's speed over ground
};

struct TripFigures {
    double distance_m = 0;
    std::optional<double> total_s;         // sum of the segments' timed spans; none without a timed interval
    std::optional<double> moving_s;        // with total_s
    std::optional<double> avg_moving_mps;  // moving distance / moving time; none without moving time
    std::optional<double> max_mps;         // none without any speed
    std::optional<double> ascent_m;        // the four height figures: none without any height
    std::optional<double> descent_m;
    std::optional<double> min_ele_m;
    std::optional<double> max_ele_m;
    std::size_t points = 0;    // points with a valid position (dropped outliers included)
    std::size_t rejected = 0;  // points skipped for a bad position
    std::size_t outliers = 0;  // single-point jumps dropped
};

class TripStats {
public:
    static constexpr double kStartMps = 1.5;
    static constexpr double kStartHoldS = 3;
    static constexpr double kStartDisplacementM = 10;
    static constexpr double kStopMps = 0.5;
    static constexpr double kStopHoldS = 5;
    static constexpr double kSpeedSpanS = 2;
    static constexpr double kSpikeExcessMps = 10;
    static constexpr double kSpikeMaxSpanS = 30;
    static constexpr double kSpikeMinDetourM = 20;
    static constexpr double kMaxAccelMps2 = 10;
    static constexpr double kAccelSlackMps = 2;
    static constexpr double kSmoothS = 30;
    static constexpr std::size_t kSmoothPoints = 5;
    static constexpr double kGpsHysteresisM = 5;
    static constexpr double kNoiseLagS = 20;
    static constexpr double kNoiseLagPoints = 5;
    static constexpr double kNoisePriorM = 2;
    static constexpr double kNoisePriorWeight = 60;
    static constexpr double kNoiseHysteresis = 6;
    static constexpr double kDemHysteresisM = 2;
    static constexpr double kMaxAbsSeconds = 1e11;  // some 3000 years from 1970
    static constexpr double kMaxAbsHeightM = 1e6;
    static constexpr double kMaxSpeedMps = 1e5;

    explicit TripStats(const ElevationModel* model = nullptr);

    void add(const TripSample& sample);
    // The next point starts a new segment (no distance or time from the previous one).
    void begin_segment();
    // The figures of everything added so far (the last point included).
    TripFigures figures() const;

private:
    struct Point {
        TripSample s;
        std::optional<double> height;
        double step_m = 0;  // from the point before it in the segment
    };
    void settle(const Point& p);  // takes a point that passed the outlier check
    void flush();                 // settles the held point
    void classify(double dt, double d, double v, const Point& p);
    void take_height(double h, std::optional<double> t);
    void take_noise(double x, double h, double lag);
    void take_max_speed(double v, double t);
    TripFigures current() const;

    const ElevationModel* model_;
    double hysteresis_m_;
    TripFigures fig_;
    bool new_segment_ = true;
    std::optional<Point> last_;  // the last settled point of the segment
    std::optional<Point> held_;  // waiting for the next point to tell whether it is a jump
    double distance_ = 0;
    // Times.
    bool timed_ = false;  // some timed interval seen
    double total_s_ = 0;
    double moving_s_ = 0;
    double moving_d_ = 0;
    // Hysteresis of moving and resting.
    bool moving_ = false;
    double pending_s_ = 0;  // time (and distance) waiting for the state to be decided
    double pending_d_ = 0;
    double run_s_ = 0;      // how long the speed has been beyond the threshold of a change
    double away_m_ = 0;     // displacement from the rest position during the current rise
    std::optional<Point> rest_;
    // Positions' speed over a span: the segment's recent timed points.
    struct Recent {
        double t, lat, lon;
    };
    std::deque<Recent> recent_;
    // Maximum speed.
    std::optional<double> max_mps_;
    std::optional<std::pair<double, double>> last_speed_;  // (time, speed) last accepted
    // Heights.
    std::deque<std::pair<double, double>> smooth_;  // (time or index, height)
    double smooth_sum_ = 0;
    double smooth_index_ = 0;
    bool smooth_timed_ = false;
    std::deque<std::pair<double, double>> noise_window_;  // (time or index, height) of the last 2 lags
    double noise_sum_ = 0;                               // sum of the differences' absolute values
    double noise_count_ = 0;
    bool have_height_ = false;
    double min_h_ = 0, max_h_ = 0;
    double ascent_ = 0, descent_ = 0;
    int dir_ = 0;  // 0 undecided, +1 climbing, -1 descending
    bool climb_start_ = true;  // the next height starts the legs (a new segment)
    double ref_ = 0, ext_ = 0;
};

// The live trip: each recorded fix fed as the recording keeps it (the journal's precision, a new
// segment where the recording starts one), so that the live figures are those of the saved recording.
class RecordedTrip {
public:
    explicit RecordedTrip(const ElevationModel* model = nullptr) : stats_(model) {}
    void add(const TrackPoint& fix);
    TripFigures figures() const { return stats_.figures(); }
    // The last fix taken, as kept.
    const std::optional<TrackPoint>& last() const { return last_; }

private:
    TripStats stats_;
    std::optional<TrackPoint> last_;
};

// The figures of a whole GPX document (its segments and routes in order) or track log runs.
TripFigures trip_figures(const GpxData& gpx, const ElevationModel* model = nullptr);
TripFigures trip_figures(const std::vector<TrackRun>& runs, const ElevationModel* model = nullptr);

// One JSON object of the figures: distance_m, moving_s, total_s, avg_moving_kmh, max_kmh, ascent_m,
// descent_m, min_ele_m, max_ele_m (null when unknown), points.
std::string trip_figures_json(const TripFigures& f);

}  // namespace vg
