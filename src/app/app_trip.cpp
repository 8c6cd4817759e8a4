// Gps → Trip: the live trip of App, its laps, and the dialog's texts and hooks.
#include "app/app.h"
#include "app/trip_texts.h"

namespace vg {

void App::trip_fix(const TrackPoint& point) {
    trip_.add(point);
    lap_.add(point);
}

TripTexts App::trip_texts() const {
    return vg::trip_texts(trip_.figures(), lap_.figures(), laps_, ws_ ? ws_->speed_unit : SpeedUnit::kmh);
}

void App::open_trip() {
    if (!window_) return;
    TripDialogData data;
    data.poll = [this] { return trip_texts(); };
    data.reset = [this] {
        trip_ = RecordedTrip(elevation_.get());
        lap_ = RecordedTrip(elevation_.get());
        laps_.clear();
    };
    data.lap = [this] {
        laps_.push_back(lap_.figures());
        lap_ = RecordedTrip(elevation_.get());
        if (trip_.last()) lap_.add(*trip_.last());  // the next lap starts where this one ended
    };
    window_->open_trip_dialog(std::move(data));
}

}  // namespace vg
