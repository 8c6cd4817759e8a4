// What one paint of the main window shows, decided by App::paint() and drawn by the window layer.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tiles/image_decode.h"

namespace vg {

struct PaintFrame {
    // The toolbar band (lines, separators, the eleven buttons). False only when composing the
    // mosaic failed during this paint: then nothing at all is drawn.
    bool draw_toolbar = false;
    // Resource ids of the eleven button pictures in toolbar order (see toolbar_layout.h):
    // 701/702, 721..724, 730..734 or 740..744, 751/752.
    std::array<int, 11> button_bitmaps{};
    // The display bitmap (the view's cells, top-down, blue-green-red rows); nullptr: no map to show.
    const DisplayBitmap* bitmap = nullptr;
    int map_width = 0;
    int map_height = 0;
    // On a screen of twice the pixel density: cells drawn sharp, each kFineCellSize square blue-green-red
    // rows (3 · kFineCellSize bytes a row) covering the 256 × 256 display bitmap pixels from (x, y),
    // drawn over the bitmap at device resolution; the bitmap's overlays are already stamped in. The
    // pixels belong to App and stay valid until its next paint.
    struct FineCell {
        int x = 0;
        int y = 0;
        const std::uint8_t* bgr = nullptr;
    };
    std::vector<FineCell> fine_cells;
    // The sunken frame around the map area (only drawn when there is a bitmap).
    bool draw_frame = false;
    // First bitmap row shown at y = 49: the view centre's row less half the map height (W/8 for the
    // square views centred on a tile corner); map_height rows are shown from it.
    int visible_first_row = 0;
    // First bitmap column shown at x = 1, the same way (0 for the square views on a tile corner);
    // map_width columns from it.
    int visible_first_column = 0;
    // Background fetching: tiles of the view still on their way, and those that failed with the
    // reason of the last failure ("not found", "timeout", ...).
    int tiles_left = 0;
    int failed_tiles = 0;
    std::string failure_reason;
    // False while the cells of a new view (or their sharp pictures) are still being drawn over the
    // next paints; tiles still downloading do not count.
    bool view_complete = true;
    // Night mode: the window layer dims and colour-shifts the map and the toolbar as it draws them and
    // uses dark colours for the speed text; the display bitmap itself is untouched.
    bool night = false;
    bool dim_map = false;  // night over a raster map: its tiles are tinted (vector maps have a night style)
    struct Speed {
        bool show = false;
        std::string text;     // "%d km/h %s"
        int font_height = 0;  // 24, or 36 with Big Maps
        int x = 0;            // left edge of the text
        int y = 0;            // top edge of the text
    } speed;
    // A bar of `pixels` map pixels (at most kScaleBarMostPixels) and its ground length, as "5 km",
    // over the map's bottom-left corner above the attribution and message lines: the scale at the
    // latitude of the view's centre, east-west.
    static constexpr int kScaleBarMostPixels = 120;
    struct ScaleBar {
        bool show = false;
        int pixels = 0;
        std::string label;
    } scale_bar;
    // Drawn over the map's bottom-left corner, small, on a light band so it reads on any tile: the
    // visible source's attribution. Above it, when the source has a problem, one message line.
    std::string attribution;
    std::string message;
    // Names of the opened GPX file's waypoints in the map area, each beside its marker: the text's
    // left end and vertical middle in map-area pixels (0, 0 is the map area's top-left corner).
    struct Label {
        std::string text;
        int x = 0;
        int y = 0;
    };
    std::vector<Label> labels;
    // A circle of the fix's horizontal error around the position (map-area pixels), when the receiver
    // gives one that is large enough to see.
    struct AccuracyCircle {
        bool show = false;
        int x = 0, y = 0, radius = 0;
    } accuracy;
    // AIS targets in the map area (map-area pixels): a symbol by kind, turned to the heading (else the
    // course) when one is known, the name (or MMSI) beside it and the line to where the target will be
    // in kAisVectorMinutes at its speed and course. Stale targets are drawn grey, dangerous ones red.
    static constexpr double kAisVectorMinutes = 6;
    struct AisMark {
        enum class Kind { ClassA, ClassB, BaseStation, AidToNavigation, Other } kind = Kind::Other;
        int x = 0, y = 0;
        double angle_deg = 0;  // clockwise from up (north)
        bool oriented = false; // false: no heading or course known
        bool vector = false;   // the course vector to (vector_x, vector_y)
        int vector_x = 0, vector_y = 0;
        bool stale = false;
        bool dangerous = false;
        std::string label;
    };
    std::vector<AisMark> ais;
    // The fleet's devices in the map area (map-area pixels): a marker pointing along the course when
    // there is one, the name, the trail (oldest first, the last position at its end), grey when old.
    struct FleetMark {
        int x = 0, y = 0;
        std::string label;
        double course = 0;
        bool has_course = false;
        bool stale = false;
        bool followed = false;
        std::vector<std::array<int, 2>> trail;
    };
    std::vector<FleetMark> fleet;
    // The place chosen in the search field: a pin whose tip is at (x, y) (map-area pixels), its name
    // beside the head.
    struct Pin {
        bool show = false;
        int x = 0, y = 0;
        std::string name;
    } pin;
    // The route followed (map-area pixels): its line, drawn under the position marker, which lies
    // in the kMarkerBox-pixel square around `marker` of the bitmap (drawn again over the line), and
    // its via-points. Empty when there is no route.
    static constexpr int kMarkerBox = 11;
    struct RouteLine {
        std::vector<std::array<int, 2>> line;
        std::vector<std::array<int, 2>> via;
        bool marker = false;
        int marker_x = 0, marker_y = 0;
        bool rerouting = false;  // drawn paler while a new line is being made
    } route;
    // Detect is offered beside the message line: no receiver was chosen, or it could not be opened.
    bool offer_detect = false;
    // The status bar's fields, from the state the paint already has.
    struct Status {
        std::string receiver;  // "gpsd 127.0.0.1:2947: connected", "NMEA /dev/ttyUSB0: no data"
        std::string fix;       // fix_status_text
        std::string age;       // fix_age_status_text
        std::string tiles;     // tiles_status_text
        std::string line;      // "On line" or "Off line"
        std::string ground;    // the height under the pointer (ground_text), "" where none is known
        bool operator==(const Status&) const = default;
    } status;
};

}  // namespace vg
