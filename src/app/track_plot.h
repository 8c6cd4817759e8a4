// A track's places in the display bitmap, as a line: consecutive positions at one place listed once,
// and a break where the track has a gap. Worked out again only when the view or the track changes:
// a paint of an unchanged view only draws the listed lines, whatever the length of the track.
#pragma once

#include <cstdint>
#include <vector>

#include "tiles/map_source.h"

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
    struct Place {
        long long c = 0;  // bitmap column and row (may lie outside the bitmap)
        long long r = 0;
        bool starts = true;  // no line joins it to the place before
    };

    // The places of `points` (each with latitude and longitude) in the view's bitmap.
    // `place(latitude, longitude, c, r)` gives a position's place; `joined(a, b)` whether b continues
    // a's line. Only points new since the last call are looked at, unless the view or `version`
    // changed or the points became fewer.
    template <class Points, class PlaceOf, class Joined>
    const std::vector<Place>& places(const Points& points, std::uint64_t version, const View& view, PlaceOf&& place,
                                     Joined&& joined) {
        if (!(view == view_) || version != version_ || points.size() < seen_) {
            view_ = view;
            version_ = version;
            seen_ = 0;
            places_.clear();
        }
        for (; seen_ < points.size(); ++seen_) {
            Place p;
            place(points[seen_].latitude, points[seen_].longitude, p.c, p.r);
            p.starts = seen_ == 0 || !joined(points[seen_ - 1], points[seen_]);
            if (!p.starts && !places_.empty() && places_.back().c == p.c && places_.back().r == p.r) continue;
            places_.push_back(p);
        }
        return places_;
    }

private:
    View view_;
    std::uint64_t version_ = 0;
    std::size_t seen_ = 0;  // points looked at
    std::vector<Place> places_;
};

}  // namespace vg
