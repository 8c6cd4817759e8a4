// Coordinates as people type them into a search field: decimal degrees ("52.52, 13.405",
// "-33.87 151.21"), degrees and decimal minutes ("N 52° 31.2' E 13° 24.3'"), degrees, minutes and
// seconds ("52°31'12\"N 13°24'18\"E", "52 31 12 N 13 24 18 E"), hemisphere letters before or after
// each number, the two halves separated by a comma, a semicolon or spaces; latitude first unless the
// letters say otherwise ("13.4E 52.5N").
// Pure: text in, a position or nothing out; no locale, no allocation the input does not justify; any
// thread. Anything that is not clearly a position (a number out of range, minutes or seconds of 60
// or more, a sign and a letter that disagree, words) gives nullopt, so the caller searches names.
#pragma once

#include <optional>
#include <string_view>

namespace vg::search {

struct LatLon {
    double lat = 0;
    double lon = 0;
};

std::optional<LatLon> parse_coordinates(std::string_view text);

}  // namespace vg::search
