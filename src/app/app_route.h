// The route's state inside App (app_route.cpp): what the user asked for, the worker that routes it,
// the route followed and its guidance, what the last paint drew, the speech of new manoeuvres and
// the routing data worker. Window thread, apart from what the workers share under their locks.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/route_worker.h"
#include "route/guidance.h"
#include "route/route.h"
#include "platform/window.h"

namespace vg {

struct AppRoute {
    std::optional<route::Point> from;  // none: the position
    std::optional<route::Point> to;
    std::vector<route::Point> via;     // in the order they are passed
    route::Profile profile = route::Profile::car;
    std::unique_ptr<RouteWorker> worker;
    std::string worker_maps;           // the maps folder the worker's routers were opened from
    std::optional<route::Guidance> guidance;  // the route followed
    std::string router;                // who made it
    bool rerouting = false;            // the route was left and a new one is on its way
    std::string note;                  // an outcome for the message line ("No route: ...")
    std::int64_t note_until = 0;
    std::int64_t arrived_at = -1;
    // The fix fed last (a paint without a new fix feeds nothing).
    unsigned fed_positions = 0;
    double fed_lat = 0, fed_lon = 0;
    bool fed = false;
    // The line as the last paint drew it (map-area pixels), for hits on it.
    std::vector<std::array<int, 2>> drawn;
    // Speech (`speech=yes` of vor_ini.txt): the text last said, and the speaker's thread. spd-say
    // hands its text on and ends at once; one that hangs is killed through `speaker_stop` (within a
    // tenth of a second) before the next text, so the window thread never waits on it longer.
    bool speech = false;
    std::string said;
    std::thread speaker;
    std::atomic<bool> speaker_stop{false};
    void stop_speaker() {
        speaker_stop.store(true);
        if (speaker.joinable()) speaker.join();
        speaker_stop.store(false);
    }
    // Routing data: the build or download worker, its cancel flag and its state for the dialog.
    std::thread data_worker;
    std::atomic<bool> data_cancel{false};
    std::atomic<bool> data_running{false};
    mutable std::mutex data_mutex;
    RoutingDataTexts data_state;
};

}  // namespace vg
