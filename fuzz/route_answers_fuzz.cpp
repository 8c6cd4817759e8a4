// Fuzzes what the routers read from outside: an OSRM, Valhalla or GraphHopper answer and a GPX route. Either fails with a
// reason or gives a route whose manoeuvres point into its line, on the globe, with at least two points.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "route/http_router.h"
#include "route/route_gpx.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

void check_route(const std::optional<vg::route::Route>& r, const std::string& error) {
    if (!r) {
        check(!error.empty());
        return;
    }
    check(r->line.size() >= 2 && !r->manoeuvres.empty());
    for (const auto& p : r->line) check(std::fabs(p.lat) <= 90 && std::fabs(p.lon) <= 180);
    for (const auto& m : r->manoeuvres) check(m.line_index < r->line.size());
    for (const auto& l : r->legs) check(l.first_manoeuvre < r->manoeuvres.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    check_route(vg::route::parse_osrm_route(text, vg::route::Profile::car, error), error);
    error.clear();
    check_route(vg::route::parse_valhalla_route(text, vg::route::Profile::car, error), error);
    error.clear();
    check_route(vg::route::parse_graphhopper_route(text, vg::route::Profile::car, error), error);
    error.clear();
    check_route(vg::route::route_from_gpx(text, error), error);
    return 0;
}
