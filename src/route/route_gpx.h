// Routes as GPX 1.1: a route written as one `rte` (its manoeuvres as `rtept`s with their texts, the
// whole line as a track beside it), and a GPX route (or track) read back as a route to follow.
// Pure: bytes in, a route or a document out; any thread. Failure: route_from_gpx gives nullopt with
// the reason when the file has no route or track of at least two points or is not GPX.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "route/route.h"

namespace vg::route {

std::string route_to_gpx(const Route& route, std::string_view name);
std::optional<Route> route_from_gpx(std::string_view gpx_bytes, std::string& error);

}  // namespace vg::route
