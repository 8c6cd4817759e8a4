// World-pixel geometry of the map sources: degrees to world pixels and back, level changes, the
// view-centre rules, the view grid, the Virtual Earth quadtree key and the compass-point names.
// Every function here is pure and may be called from any thread.
//
// Levels are 0 to 4. The Mercator sources also have the web zooms between and beyond them: a "level"
// argument may be such a zoom's code, kZoomCode + zoom (zoom_code; a level's own zoom is always given
// as the level), and every function here takes it as that zoom's world (256 · 2^zoom pixels). Any
// other level outside 0 to 4 is treated as the nearest valid level so that no table is ever read out
// of bounds; callers that take a level from outside validate it first (`is_valid_level`).
#pragma once

#include <optional>
#include <string>

#include "tiles/map_source.h"
#include "tiles/tile_types.h"

namespace vg {

inline constexpr int kLevelCount = 5;

// Latitude where the square Mercator raster ends (row 0 and the last row): atan(sinh(pi)).
inline constexpr double kMercatorLimit = 85.05112877980659;

struct WorldPixel {
    int x = 0;
    int y = 0;
    bool operator==(const WorldPixel&) const = default;
};

inline constexpr bool is_valid_level(int level) { return level >= 0 && level < kLevelCount; }

// The web tile pyramid, which the Mercator sources follow at any zoom: zooms 0 to kMaxWebZoom, the
// world 256 · 2^zoom pixels wide and high, north at row 0. Level L is zoom web_zoom(L) with the same
// pixels (4096 · 8^L = 256 · 2^(3L + 4)).
inline constexpr int kMaxWebZoom = 19;
inline constexpr int kZoomCode = 100;
inline constexpr bool is_zoom_code(int level) { return level >= kZoomCode && level <= kZoomCode + kMaxWebZoom; }
// The level of `zoom` when it is a level's zoom, else its code (zooms outside 0 .. kMaxWebZoom are
// taken as the nearest valid one).
int zoom_code(int zoom);
// The web zoom of a level or zoom code.
int web_zoom(int level);
// The level whose web zoom `zoom` is, or -1 for a zoom between (or beyond) the levels.
int level_of_zoom(int zoom);
// The finest level whose zoom is at most `zoom` (0 for zooms below level 0's).
int level_at_or_below(int zoom);
// True when `source`'s geometry has `level` (a level, or a zoom code for the Mercator sources).
bool has_scale(MapSource source, int level);

// W(level): the world width in pixels of sources 1 to 4 (4096 · 8^level).
int world_width(int level);
// W(level) / 360 as a double.
double pixels_per_degree(int level);
// The MapQuest raster: width, height and the tiles-per-row value used to wrap its columns.
int mapquest_width(int level);
int mapquest_height(int level);
int mapquest_tiles_per_row(int level);
// Tiles per row of any source (W / 256, or the MapQuest table).
int tiles_per_row(MapSource source, int level);
// Height in pixels of a source's whole-world raster (W / 2 for Etopo2, W for Mercator, MQH).
int world_height(MapSource source, int level);
// Number of tile rows that hold any of the world (rows outside 0 .. n − 1 have no tile).
int tile_rows(MapSource source, int level);
// True for the spherical Mercator sources (OpenStreetMap, GoogleMaps, VirtualEarth).
bool is_mercator(MapSource source);

// Ground metres along the parallel at `latitude` that one world pixel of `source` at `level` covers
// (the map's east-west scale there): the equator's length (WGS 84, kEquatorMetres) times cos(latitude)
// over the world's width in pixels. For the Mercator sources that is their scale at that latitude in
// both directions (pixels per metre grow as 1/cos towards the poles); Etopo2 and MapQuest, whose
// pixels are equal steps of longitude, have it east-west. Latitudes beyond ±90 count as ±90.
inline constexpr double kEquatorMetres = 40075016.68557849;
double metres_per_pixel(MapSource source, int level, double latitude);

// Degrees (north and east positive) to the world pixel of `source` at `level`. Results beyond the
// int range saturate and a NaN coordinate gives 0, so any input yields a defined pixel. For the
// Mercator sources a latitude at or beyond a pole is taken as ±kMercatorLimit; other latitudes
// nearer the poles than the limit give rows outside the world (negative or ≥ W).
WorldPixel geo_to_pixel(double latitude, double longitude, MapSource source, int level);
// The Mercator sources' row in degrees of the world's width (0 at the north edge, 360 at the south;
// the poles clamped), so that a place projected often can keep it: the pixel row at `level` is then
// mercator_row(mercator_degrees(lat), level), the same as geo_to_pixel's.
double mercator_degrees(double latitude);
int mercator_row(double mercator_deg, int level);
double pixel_to_latitude(int y, MapSource source, int level);
double pixel_to_longitude(int x, MapSource source, int level);

// The same ground position's column or row at another level. Sources 1 to 4 shift by three bits per
// level (division truncates towards zero); MapQuest goes through degrees. Saturates at the int range.
int rescale_x(int x, int from_level, int to_level, MapSource source);
int rescale_y(int y, int from_level, int to_level, MapSource source);

// The multiple of 256 nearest to v, halves rounded up (also for negative v).
int round_to_tile_edge(long long v);
// The Web Mercator tile column and row (from the north) holding a position at web zoom `zoom` (0..31),
// latitude clamped to the square world; worked out in doubles, so every zoom's grid is reached.
int web_tile_column(double longitude, int zoom);
int web_tile_row(double latitude, int zoom);
// View-centre row for a wanted row: clamped into the source's usable rows, then rounded to 256.
int clamp_centre_y(int y, int level, MapSource source);
// View-centre column for a wanted column: wrapped into the world, then rounded to 256 (may equal the
// world width; the grid's column wrap handles that).
int wrap_centre_x(int x, int level, MapSource source);

// The same rules without the rounding, for a view centred on any pixel: a row clamped into the
// source's usable rows, a column wrapped into 0 .. world width − 1.
int clamp_view_y(int y, int level, MapSource source);
int wrap_view_x(int x, int level, MapSource source);

// Tile row of a world pixel row: floor(y / 256), never wrapped.
int tile_row(int y);
// Tile column of a world pixel column: floor(x / 256) wrapped into 0 .. tiles_per_row − 1.
int tile_column(int x, MapSource source, int level);

// Side of the view grid in tiles: 4 with Big Maps, else 2.
inline constexpr int view_grid_size(bool big_maps) { return big_maps ? 4 : 2; }
// World pixel shown by view-grid cell (r, c) of a g × g grid around centre (cx, cy); north is at the
// top for every source.
WorldPixel view_cell_pixel(MapSource source, int cx, int cy, int g, int r, int c);
// The same for cell (r, c) of any grid.
WorldPixel view_cell_pixel(MapSource source, int cx, int cy, const ViewGrid& grid, int r, int c);

// Quadtree key (3 · level + 4 digits '0'..'3', coarsest first) of the Mercator tile holding (x, y);
// x is wrapped round the world. Empty optional when y lies outside the world.
std::optional<std::string> make_quadkey(int level, int x, int y);

// One of "N", "NE", "E", "SE", "S", "SW", "W", "NW": the nearest of the eight 45° sectors to a
// course in degrees clockwise from north. Any course (negative, ≥ 360, NaN) gives one of the eight.
const char* compass_point(double course);

}  // namespace vg
