// Helpers shared by the files that implement App (app.cpp, app_paint.cpp, app_commands.cpp,
// app_input.cpp). Not part of App's interface.
#pragma once

#include <algorithm>

#include "app/window_state.h"
#include "gps/fix_record.h"
#include "platform/window.h"
#include "tiles/geometry.h"

namespace vg::app_detail {

inline bool fix_valid(const FixRecord& fix) { return fix.fix_dimension > 0; }

// The next level finer than `level` (a level or a zoom code), or `level` itself at level 4 and beyond.
inline int finer_level(int level) {
    const int z = web_zoom(level);
    if (z >= web_zoom(kLevelCount - 1)) return level;
    return z < web_zoom(0) ? 0 : level_at_or_below(z) + 1;
}
// The next level coarser than `level`: 0 stays 0, and zooms coarser than level 0's stay.
inline int coarser_level(int level) {
    const int z = web_zoom(level);
    if (z <= web_zoom(0)) return z == web_zoom(0) ? 0 : level;
    return std::min((z - web_zoom(0) - 1) / 3, kLevelCount - 1);
}

// The same map point as `t` at level `to`.
inline ViewTarget at_level(const ViewTarget& t, int to, MapSource source) {
    return {to, rescale_x(t.x, t.level, to, source), rescale_y(t.y, t.level, to, source)};
}

// Shows the wait cursor for the life of the object.
class WaitCursor {
public:
    explicit WaitCursor(Window* window) : window_(window) {
        if (window_) window_->set_wait_cursor(true);
    }
    ~WaitCursor() {
        if (window_) window_->set_wait_cursor(false);
    }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    Window* window_;
};

// Offline is enabled while downloads are allowed; Online always (on line it asks the source again).
inline void show_online_menus(Window& window, bool online) {
    window.enable_menu_item(Command::Online, true);
    window.enable_menu_item(Command::Offline, online);
}

}  // namespace vg::app_detail
