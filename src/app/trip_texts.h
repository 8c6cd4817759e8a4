// The Trip dialog's texts, made from the live trip's figures: distances and speeds in the unit of the
// `speed` setting (km and km/h, miles and mph, nautical miles and knots), times as h:mm:ss, heights
// in metres; a figure the trip cannot give yet is "-". No toolkit types: the Qt dialog shows them,
// tests read them directly.
#pragma once

#include <string>
#include <vector>

#include "app/view_text.h"
#include "platform/window.h"
#include "track/trip_stats.h"

namespace vg {

// Rows: Distance, Moving time, Total time, Average speed, Maximum speed, Ascent, Descent, Lowest,
// Highest. The lap line and each lap's line: number, distance, moving time, average and maximum speed.
TripTexts trip_texts(const TripFigures& trip, const TripFigures& lap, const std::vector<TripFigures>& laps,
                     SpeedUnit unit);

}  // namespace vg
