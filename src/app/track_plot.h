// The logged positions' places in the display bitmap (`plot=yes`), each distinct place listed once
// and worked out again only when the view or the log changes: a paint of an unchanged view only
// stamps the markers, whatever the length of the log.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "tiles/map_source.h"
#include "track/track_log.h"

namespace vg {

class TrackPlot {
public:
    // The view whose bitmap the places are in: source, level, centre world pixel and bitmap size.
    struct View {
        MapSource source = MapSource::OpenStreetMap;
        int level = 0;
        int centre_x = 0;
        int centre_y = 0;
        int width = 0;
        int height = 0;
        bool operator==(const View&) const = default;
    };
    using Place = std::pair<int, int>;  // bitmap column and row

    // The places of `log`'s positions inside the view's bitmap. `place(latitude, longitude, c, r)`
    // gives a position's place; it is asked only for positions new since the last call, or for all
    // of them when the view or the log's version changed.
    template <class PlaceOf>
    const std::vector<Place>& places(const TrackLog& log, const View& view, PlaceOf&& place) {
        const auto& positions = log.positions();
        if (!(view == view_) || log.version() != version_ || positions.size() < seen_) {
            view_ = view;
            version_ = log.version();
            seen_ = 0;
            places_.clear();
            taken_.assign(static_cast<std::size_t>(view.width > 0 && view.height > 0 ? view.width * view.height : 0), 0);
        }
        for (; seen_ < positions.size(); ++seen_) {
            int c = 0, r = 0;
            place(positions[seen_].latitude, positions[seen_].longitude, c, r);
            if (c < 0 || c >= view.width || r < 0 || r >= view.height) continue;
            std::uint8_t& taken = taken_[static_cast<std::size_t>(r) * static_cast<std::size_t>(view.width) + c];
            if (!taken) places_.emplace_back(c, r);
            taken = 1;
        }
        return places_;
    }

private:
    View view_;
    std::uint64_t version_ = 0;
    std::size_t seen_ = 0;            // positions of the log looked at
    std::vector<std::uint8_t> taken_;  // width × height: 1 where a place is listed
    std::vector<Place> places_;
};

}  // namespace vg
