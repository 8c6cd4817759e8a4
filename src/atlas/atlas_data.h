// The built-in world map's vector data: land rings, country borders and populated places at two
// levels of detail, read from the compact file src/resources/atlas/world.vga (layout in the README
// beside it). Parsing is pure (bytes in, records out); the built-in copy is linked into the program.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vg::atlas {

struct LonLat {
    double lon = 0.0;
    double lat = 0.0;
};

// A land ring (closed, the last point joins the first) or a border line, with its bounding box.
struct Line {
    double west = 0.0, south = 0.0, east = 0.0, north = 0.0;
    std::vector<LonLat> points;
};

// One level of detail: land rings (holes such as inland seas are rings too: fill even-odd) and the
// lines that two countries share.
struct Detail {
    std::vector<Line> land;
    std::vector<Line> borders;
};

struct Place {
    double lon = 0.0;
    double lat = 0.0;
    std::uint32_t population = 0;
    bool capital = false;
    std::string name;  // UTF-8
};

enum DetailLevel : int { kCoarse = 0, kFine = 1 };  // 1:50m and 1:10m

struct AtlasData {
    std::array<Detail, 2> details;
    std::vector<Place> places;  // capitals first, then by population, largest first
};

// Reads a whole data file. Empty optional, with a reason in `error`, for anything that is not a
// complete, well-formed file (wrong magic, a count or length running past the end, a bad varint).
std::optional<AtlasData> parse_atlas(std::span<const std::uint8_t> bytes, std::string* error = nullptr);

// The data linked into the program, parsed on first use (thread-safe).
const AtlasData& builtin_atlas();
std::span<const std::uint8_t> builtin_atlas_bytes();

// True when (lon, lat) lies on land in the given detail (even-odd rule over all land rings).
bool is_land(const AtlasData& data, DetailLevel detail, double lon, double lat);

}  // namespace vg::atlas
