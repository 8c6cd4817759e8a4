// Argument and output helpers shared by vortool commands (tile, fetch, state).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "tiles/map_source.h"

namespace vg::cli {

// A source named the way the `site` setting names it (first letter, any case) or by its number 1..5.
std::optional<MapSource> parse_source_argument(std::string_view text);

// A whole argument read as a finite number (nothing may follow it).
std::optional<double> parse_finite_number(std::string_view text);

}  // namespace vg::cli
