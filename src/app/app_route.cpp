// App: routes in the window. The user's from, to, via-points and profile are routed on a worker
// (app/route_worker.h) by the router that holds the points: a Routino database of the maps folder,
// else the HTTP router of `router=`. The route is drawn under the position marker, followed fix by
// fix (route/guidance.h) with the next manoeuvre on the message line (and spoken with `speech=yes`),
// and asked for again from the position when the route is left. Gps → Routing Data builds the
// databases on a worker of its own; Gps → Route is the panel with the turn list and GPX.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "app/app.h"
#include "app/app_detail.h"
#include "app/app_route.h"
#include "app/toolbar_layout.h"
#include "platform/files.h"
#include "platform/process.h"
#include "route/http_router.h"
#include "route/route_gpx.h"
#include "route/routing_data.h"
#include "settings/settings_file.h"
#include "tiles/geometry.h"

namespace vg {

using app_detail::fix_valid;

namespace {

// How long an outcome ("No route: ...") stays on the message line, and "Arrived".
constexpr std::int64_t kNoteSeconds = 20;
constexpr std::int64_t kArrivedSeconds = 60;
// A press this close to the drawn line (pixels) takes the line, not the map.
constexpr int kLineHitPixels = 6;
// Points of the line far outside the view are kept at this distance, so that no coordinate
// overflows where the window draws it.
constexpr long long kFarPixels = 4'000'000;
constexpr double kMetresPerSecondPerKnot = 1852.0 / 3600;

std::string length_text(double metres) {
    char text[32];
    if (metres >= 1000)
        std::snprintf(text, sizeof text, "%.1f km", metres / 1000);
    else
        std::snprintf(text, sizeof text, "%d m", static_cast<int>(std::lround(metres)));
    return text;
}

std::string duration_text(double seconds) {
    const long minutes = std::lround(seconds / 60);
    char text[32];
    if (minutes >= 60)
        std::snprintf(text, sizeof text, "%ld h %02ld min", minutes / 60, minutes % 60);
    else
        std::snprintf(text, sizeof text, "%ld min", minutes);
    return text;
}

std::string place_text(const route::Point& p) {
    char text[64];
    std::snprintf(text, sizeof text, "%.5f, %.5f", p.lat, p.lon);
    return text;
}

std::string direction_text(const route::Manoeuvre& m, bool first, bool last) {
    if (first) return "start";
    if (last) return "arrive";
    const int t = std::abs(m.turn_deg);
    const char* side = m.turn_deg < 0 ? "left" : "right";
    if (t < 20) return "straight on";
    if (t < 45) return std::string("slight ") + side;
    if (t < 135) return side;
    if (t < 170) return std::string("sharp ") + side;
    return "U-turn";
}

// The index of the line's point nearest `p` (degrees scaled by the latitude: only for comparing).
std::size_t nearest_point(const std::vector<route::Point>& line, const route::Point& p) {
    const double scale = std::cos(p.lat * 3.14159265358979323846 / 180);
    std::size_t best = 0;
    double best_d = INFINITY;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const double dx = (line[i].lon - p.lon) * scale, dy = line[i].lat - p.lat;
        if (const double d = dx * dx + dy * dy; d < best_d) {
            best_d = d;
            best = i;
        }
    }
    return best;
}

// The squared distance of (x, y) from the segment (ax, ay)-(bx, by), in pixels.
double segment_distance2(double x, double y, double ax, double ay, double bx, double by) {
    const double dx = bx - ax, dy = by - ay;
    const double len2 = dx * dx + dy * dy;
    const double t = len2 > 0 ? std::clamp(((x - ax) * dx + (y - ay) * dy) / len2, 0.0, 1.0) : 0.0;
    const double px = ax + t * dx - x, py = ay + t * dy - y;
    return px * px + py * py;
}

// The routers of the worker, used on its thread only: the one the options give (tests), else the
// Routino databases of the maps folder (each opened once and kept), else the HTTP router.
struct Routers {
    std::function<std::unique_ptr<route::Router>()> make;
    std::filesystem::path maps;
    std::string url;
    Fetcher* fetcher = nullptr;  // the program's one fetcher; it outlives the worker
    FetchSettings fetch_settings;
    std::unique_ptr<route::Router> given;
    std::map<std::string, std::unique_ptr<route::Router>> routino;
    std::unique_ptr<route::Router> http;
    std::string http_error;

    std::optional<route::Route> route(const route::Request& rq, const std::atomic<bool>* cancel, std::string& error,
                                      std::string& name) {
        if (make) {
            if (!given) given = make();
            if (!given) {
                error = "no router";
                return std::nullopt;
            }
            name = given->name();
            return given->route(rq, cancel, error);
        }
        // The first region whose database routes between the points holds them.
        bool tried = false;
        for (const std::string& region : route::regions(maps)) {
            if (cancel && cancel->load()) break;
            auto& router = routino[region];
            std::string why;
            if (!router) router = route::open_routino(route::database_folder(maps, region), why);
            if (!router) continue;
            tried = true;
            auto r = router->route(rq, cancel, why);
            if (r) {
                name = router->name();
                return r;
            }
            error = why;
        }
        if (!url.empty()) {
            if (!http && http_error.empty()) {
                if (fetcher)
                    http = route::make_http_router(*fetcher, fetch_settings, url, http_error);
                else
                    http_error = "the router= line needs a build that can fetch";
            }
            if (!http) {
                error = http_error;
                return std::nullopt;
            }
            name = http->name();
            return http->route(rq, cancel, error);
        }
        if (!tried) error = "no routing data (Gps > Routing Data... makes it from a region's extract)";
        return std::nullopt;
    }
};

}  // namespace

void App::stop_routing() {
    if (!route_) return;
    AppRoute& r = *route_;
    r.data_cancel.store(true);
    if (r.data_worker.joinable()) r.data_worker.join();
    r.worker.reset();  // cancels the request running and joins
    r.stop_speaker();
}

void App::request_route(bool reroute) {
    if (!route_ || !ws_) return;
    AppRoute& r = *route_;
    if (!r.to) return;
    route::Request rq;
    rq.profile = r.profile;
    std::optional<route::Point> start = reroute ? std::nullopt : r.from;
    if (!start) {
        const FixRecord fix = fix_.snapshot();
        if (fix_valid(fix) && !last_fix_.stale) start = route::Point{fix.latitude, fix.longitude};
    }
    if (!start) {
        r.note = "No route: no position yet (Shift+right-click the map: Route from here)";
        r.note_until = now() + kNoteSeconds;
        r.rerouting = false;
        if (window_) window_->invalidate(false);
        return;
    }
    rq.waypoints.push_back(*start);
    rq.waypoints.insert(rq.waypoints.end(), r.via.begin(), r.via.end());
    rq.waypoints.push_back(*r.to);
    // The routers are opened again when the maps folder changed or new routing data came.
    const std::string maps = maps_root();
    if (!r.worker || r.worker_maps != maps) {
        r.worker.reset();
        auto routers = std::make_shared<Routers>();
        routers->make = options_.router;
        routers->maps = maps;
        routers->url = route::read_router_setting(dir_);
        routers->fetcher = fetcher();
        routers->fetch_settings = read_fetch_settings(dir_);
        r.worker = std::make_unique<RouteWorker>(
            [routers](const route::Request& request, const std::atomic<bool>* cancel, std::string& error,
                      std::string& name) { return routers->route(request, cancel, error, name); },
            [this] {
                if (window_) window_->invalidate(false);
            });
        r.worker_maps = maps;
    }
    r.note.clear();
    r.worker->request(std::move(rq));
    if (window_) window_->invalidate(false);
}

void App::route_to(double lat, double lon) {
    if (!route_ || !valid_coordinates(lat, lon)) return;
    route_->to = route::Point{lat, lon};
    route_->via.clear();
    request_route(false);
    // A route from the position is for going there: the map follows the position along it again
    // (choosing a place in the search field had turned Auto Pan off).
    const FixRecord fix = fix_.snapshot();
    if (!route_->from && ws_ && !ws_->auto_pan && fix_valid(fix) && !last_fix_.stale) auto_pan_on();
}

void App::route_from(double lat, double lon) {
    if (!route_ || !valid_coordinates(lat, lon)) return;
    route_->from = route::Point{lat, lon};
    route_->via.clear();
    request_route(false);
}

void App::clear_route() {
    if (!route_) return;
    AppRoute& r = *route_;
    if (r.worker) r.worker->cancel();
    r.from.reset();
    r.to.reset();
    r.via.clear();
    r.guidance.reset();
    r.rerouting = false;
    r.note.clear();
    r.drawn.clear();
    r.said.clear();
    if (window_) window_->invalidate(false);
}

void App::set_route_profile(route::Profile profile) {
    if (!route_) return;
    route_->profile = profile;
    request_route(false);
}

void App::follow_route(route::Route followed) {
    if (!route_ || followed.line.size() < 2) return;
    AppRoute& r = *route_;
    if (r.worker) r.worker->cancel();
    r.from.reset();
    r.via.clear();
    r.to = followed.line.back();
    r.profile = followed.profile;
    r.router = "GPX";
    r.guidance.emplace(std::move(followed));
    r.rerouting = false;
    r.fed = false;
    r.arrived_at = -1;
    r.said.clear();
    if (window_) window_->invalidate(false);
}

const route::Route* App::current_route() const {
    return route_ && route_->guidance ? &route_->guidance->route() : nullptr;
}

bool App::routing() const { return route_ && route_->worker && route_->worker->busy(); }

bool App::route_line_at(int x, int y) const {
    if (!route_ || !in_map(x, y)) return false;
    const auto& d = route_->drawn;
    const double px = x - toolbar::kMapLeft, py = y - toolbar::kMapTop;
    for (std::size_t i = 0; i + 1 < d.size(); ++i)
        if (segment_distance2(px, py, d[i][0], d[i][1], d[i + 1][0], d[i + 1][1]) <= kLineHitPixels * kLineHitPixels)
            return true;
    return false;
}

void App::on_route_drag(int x0, int y0, int x1, int y1) {
    if (!route_ || !ws_ || !route_->guidance || !route_->to || !route_line_at(x0, y0) || !in_map(x1, y1)) return;
    AppRoute& r = *route_;
    const route::Route& shown = r.guidance->route();
    // Where the line was taken: the drawn point nearest the press, the same index in the line.
    const double px = x0 - toolbar::kMapLeft, py = y0 - toolbar::kMapTop;
    std::size_t taken = 0;
    double best = INFINITY;
    for (std::size_t i = 0; i + 1 < r.drawn.size(); ++i) {
        const double d = segment_distance2(px, py, r.drawn[i][0], r.drawn[i][1], r.drawn[i + 1][0], r.drawn[i + 1][1]);
        if (d < best) {
            best = d;
            taken = i;
        }
    }
    // The new via-point goes between the via-points passed before that place and those after it.
    std::size_t before = 0;
    while (before < r.via.size() && nearest_point(shown.line, r.via[before]) <= taken) ++before;
    const ViewTarget t = pointed_target(x1, y1);
    const MapSource src = source();
    const route::Point via{pixel_to_latitude(t.y, src, t.level), pixel_to_longitude(t.x, src, t.level)};
    r.via.insert(r.via.begin() + static_cast<std::ptrdiff_t>(before), via);
    if (!r.from && r.guidance) r.from = shown.line.front();  // the same start, not wherever the position is now
    request_route(false);
}

void App::on_context_menu(int x, int y) {
    if (!ws_ || !window_ || !route_ || !in_map(x, y)) return;
    std::vector<std::string> items{"Route from here", "Route to here"};
    const bool clearable = route_->guidance || route_->to || route_->from;
    if (clearable) items.push_back("Clear route");
    // The place chosen in the search field is a destination too.
    if (chosen_place_) items.push_back("Route to " + chosen_place_->place.name);
    std::optional<std::size_t> chosen = window_->choose_from_menu(items);
    if (!chosen) return;
    if (!clearable && *chosen == 2) chosen = 3;
    if (*chosen == 3) {
        route_to(chosen_place_->place.lat, chosen_place_->place.lon);
        return;
    }
    const ViewTarget t = pointed_target(x, y);
    const MapSource src = source();
    const double lat = pixel_to_latitude(t.y, src, t.level), lon = pixel_to_longitude(t.x, src, t.level);
    switch (*chosen) {
    case 0: route_from(lat, lon); break;
    case 1: route_to(lat, lon); break;
    case 2: clear_route(); break;
    default: break;
    }
}

std::string App::route_layer(PaintFrame& frame, const FixRecord& fix, bool stale) {
    if (!route_) return {};
    AppRoute& r = *route_;
    const std::int64_t t = now();
    if (r.worker) {
        if (auto result = r.worker->take()) {
            r.rerouting = false;
            if (result->route && result->route->line.size() >= 2) {
                r.guidance.emplace(std::move(*result->route));
                r.router = result->router;
                r.fed = false;
                r.arrived_at = -1;
            } else {
                r.note = "No route: " + result->error;
                r.note_until = t + kNoteSeconds;
            }
        }
    }

    // A new fix is followed along the route.
    if (r.guidance && !stale && fix_valid(fix) &&
        (!r.fed || fix.positions != r.fed_positions || fix.latitude != r.fed_lat || fix.longitude != r.fed_lon)) {
        r.fed = true;
        r.fed_positions = fix.positions;
        r.fed_lat = fix.latitude;
        r.fed_lon = fix.longitude;
        const route::GuidanceStep& step = r.guidance->update(
            {fix.latitude, fix.longitude, fix.course, fix.speed_knots * kMetresPerSecondPerKnot, static_cast<double>(t)});
        if (step.arrived_now) r.arrived_at = t;
        if (step.left_now && r.to && !r.rerouting) {
            // From the position, through the via-points still ahead.
            const route::Route& left = r.guidance->route();
            std::erase_if(r.via, [&](const route::Point& v) { return nearest_point(left.line, v) <= step.segment; });
            r.from.reset();
            r.rerouting = true;
            request_route(true);
        }
    }

    // The line in map-area pixels, and the marker it goes under.
    r.drawn.clear();
    if (r.guidance) {
        const MapSource src = source();
        auto area = [&](const route::Point& p) {
            const WorldPixel w = geo_to_pixel(p.lat, p.lon, src, view_.level);
            const long long x = std::clamp(layer_.mosaic_x(w.x) - frame.visible_first_column, -kFarPixels, kFarPixels);
            const long long y = std::clamp(layer_.mosaic_y(w.y) - frame.visible_first_row, -kFarPixels, kFarPixels);
            return std::array<int, 2>{static_cast<int>(x), static_cast<int>(y)};
        };
        const route::Route& shown = r.guidance->route();
        r.drawn.reserve(shown.line.size());
        for (const route::Point& p : shown.line) r.drawn.push_back(area(p));
        frame.route.line = r.drawn;
        for (const route::Point& v : r.via) frame.route.via.push_back(area(v));
        frame.route.rerouting = r.rerouting;
        if (last_fix_.stale || fix_valid(fix)) {
            const auto m = last_fix_.stale ? area({last_fix_.latitude, last_fix_.longitude}) : area({fix.latitude, fix.longitude});
            frame.route.marker = true;
            frame.route.marker_x = m[0];
            frame.route.marker_y = m[1];
        }
    }

    // The message line: the outcome of a request, the request running, or the guidance.
    std::string text;
    if (r.rerouting) {
        text = "Off route, routing again";
    } else if (r.worker && r.worker->busy()) {
        text = "Routing...";
    } else if (r.guidance) {
        const route::GuidanceStep& step = r.guidance->last();
        if (step.state != route::GuidanceState::arrived || (r.arrived_at >= 0 && t - r.arrived_at < kArrivedSeconds))
            text = route::guidance_text(r.guidance->route(), step);
        // Speech says each manoeuvre once, when it becomes the next (and leaving, arriving).
        const std::string said = step.state == route::GuidanceState::on_route && step.next
                                     ? "next " + std::to_string(*step.next)
                                     : std::to_string(static_cast<int>(step.state));
        if (r.speech && r.fed && said != r.said && !text.empty()) {
            r.said = said;
            r.stop_speaker();
            r.speaker = std::thread([text, stop = &r.speaker_stop] {
                run_process("spd-say", {"--", text}, [](std::string_view) {}, stop);
            });
        }
    }
    if (!r.note.empty() && t < r.note_until) text = text.empty() ? r.note : r.note + "; " + text;
    return text;
}

// ---- Gps → Route ----------------------------------------------------------------------------

void App::open_route_panel() {
    if (!window_ || !route_) return;
    RouteDialogData data;
    data.poll = [this] {
        RouteTexts texts;
        const AppRoute& r = *route_;
        texts.profile = route::profile_name(r.profile);
        texts.from = r.from ? place_text(*r.from) : "Position";
        texts.to = r.to ? place_text(*r.to) : "";
        if (routing()) {
            texts.summary = "Routing...";
        } else if (!r.note.empty() && now() < r.note_until) {
            texts.summary = r.note;
        }
        if (const route::Route* shown = current_route()) {
            texts.has_route = true;
            if (texts.summary.empty())
                texts.summary = length_text(shown->length_m) + ", " + duration_text(shown->time_s) +
                                (r.router.empty() ? "" : " (" + r.router + ")");
            for (std::size_t i = 0; i < shown->manoeuvres.size(); ++i) {
                const route::Manoeuvre& m = shown->manoeuvres[i];
                const bool last = i + 1 == shown->manoeuvres.size();
                texts.turns.push_back({m.street.empty() ? m.text : m.street, direction_text(m, i == 0, last),
                                       last ? "" : length_text(m.distance_m)});
            }
        }
        return texts;
    };
    data.profile = [this](const std::string& name) {
        if (const auto p = route::profile_from_name(name)) set_route_profile(*p);
    };
    data.clear = [this] { clear_route(); };
    data.export_gpx = [this] {
        const route::Route* shown = current_route();
        if (!shown) {
            window_->warning_box("There is no route to export yet.");
            return;
        }
        const std::string chosen = window_->choose_file_to_save("Export Route", "GPX files (*.gpx)", "route.gpx");
        if (chosen.empty()) return;
        const std::string gpx = route::route_to_gpx(*shown, std::filesystem::path(chosen).stem().string());
        if (gpx.empty() || !write_file_replacing(chosen, gpx))
            window_->warning_box("\"" + chosen + "\" cannot be written.");
    };
    data.open_gpx = [this] {
        const std::string chosen = window_->choose_file_to_open("Open GPX Route", "GPX files (*.gpx)");
        if (chosen.empty()) return;
        std::ifstream in(chosen, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::string error;
        auto read = in || in.eof() ? route::route_from_gpx(bytes, error) : std::nullopt;
        if (!read) {
            window_->warning_box("\"" + chosen + "\" has no route to follow: " + (error.empty() ? "cannot be read" : error));
            return;
        }
        follow_route(std::move(*read));
    };
    window_->open_route_dialog(std::move(data));
}

// ---- Gps → Routing Data ---------------------------------------------------------------------

void App::open_routing_data() {
    if (!window_ || !route_) return;
    auto start = [this](std::string url, std::filesystem::path extract, std::string region) -> std::string {
        AppRoute& r = *route_;
        if (r.data_running.load()) return "Routing data is being made already.";
        if (r.data_worker.joinable()) r.data_worker.join();
        r.data_cancel.store(false);
        r.data_running.store(true);
        {
            std::lock_guard lock(r.data_mutex);
            r.data_state.progress = "Starting";
            r.data_state.percent = -1;
            r.data_state.outcome.clear();
        }
        r.worker_maps.clear();  // the routers open the new database at the next request
        const std::filesystem::path maps = maps_root();
        Fetcher* engine = fetcher();
        if (!url.empty() && !engine) return std::string("Downloading needs a build that can fetch.");
        r.data_worker = std::thread([this, &r, url = std::move(url), extract = std::move(extract),
                                     region = std::move(region), maps, engine, settings = read_fetch_settings(dir_)] {
            auto progress = [&r](double fraction, const std::string& stage) {
                std::lock_guard lock(r.data_mutex);
                r.data_state.progress = stage;
                r.data_state.percent = static_cast<int>(std::lround(std::clamp(fraction, 0.0, 1.0) * 100));
            };
            std::string error;
            std::error_code ec;
            if (!url.empty()) std::filesystem::create_directories(extract.parent_path(), ec);
            bool ok = url.empty() ||
                      route::download_extract(*engine, settings, url, extract, progress, &r.data_cancel, error);
            if (ok) ok = route::build_database(extract, maps, region, progress, &r.data_cancel, error);
            {
                std::lock_guard lock(r.data_mutex);
                r.data_state.outcome = ok ? region + ": routing data ready" : region + ": " + error;
                r.data_state.progress.clear();
                r.data_state.percent = -1;
            }
            r.data_running.store(false);
            if (window_) window_->invalidate(false);
        });
        return {};
    };
    const std::string service = route::read_extracts_setting(dir_);
    RoutingDataDialogData data;
    data.poll = [this, service] {
        RoutingDataTexts texts;
        {
            std::lock_guard lock(route_->data_mutex);
            texts = route_->data_state;
        }
        texts.running = route_->data_running.load();
        texts.can_download = !service.empty();
        texts.regions = route::regions(maps_root());
        return texts;
    };
    data.from_file = [this, start] {
        const std::string chosen = window_->choose_file_to_open("Routing Data", "OSM extracts (*.osm.pbf *.osm)");
        if (chosen.empty()) return std::string();
        const std::filesystem::path file(chosen);
        std::string region = file.filename().string();
        region = region.substr(0, region.find('.'));
        if (region.empty()) return std::string("The file's name gives no region name.");
        return start({}, file, region);
    };
    data.download = [this, start, service](const std::string& name) {
        if (service.empty()) return std::string("No extract service is set (extracts= in vor_ini.txt).");
        if (!route::valid_region_name(name)) return std::string("A region's name is a plain name, such as \"monaco\".");
        const std::string url = route::extract_url(service, name);
        if (url.empty()) return std::string("The extracts= line has no {region} for the region's name.");
        return start(url, std::filesystem::path(maps_root()) / "routing" / (name + ".osm.pbf"), name);
    };
    data.cancel = [this] { route_->data_cancel.store(true); };
    window_->open_routing_data_dialog(std::move(data));
}

}  // namespace vg
