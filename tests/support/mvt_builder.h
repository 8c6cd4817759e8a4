// Vector tiles made in tests: features added to an mvt::Tile (keys and values shared per layer, as a
// tile set's writer shares them) and the tile written in the Mapbox Vector Tile encoding with
// protozero's writer. Also the dense city tile the renderer's benchmark and tests draw.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tiles/mvt.h"

namespace vg::test {

using Properties = std::vector<std::pair<std::string, mvt::Value>>;
mvt::Value text_value(std::string s);
mvt::Value int_value(std::int64_t v);
mvt::Value double_value(double v);

class TileBuilder {
public:
    // The layer of that name, added (with `extent`) when it is new.
    mvt::Layer& layer(const std::string& name, std::uint32_t extent = 4096);
    void point(const std::string& layer, mvt::Point p, const Properties& properties = {});
    void line(const std::string& layer, std::vector<mvt::Point> points, const Properties& properties = {});
    // Rings in drawing order, each the outer ring (clockwise on screen) followed by its holes
    // (anticlockwise); a ring not closed is closed here.
    void polygon(const std::string& layer, std::vector<std::vector<mvt::Point>> rings, const Properties& properties = {});
    // An axis-parallel rectangle, clockwise on screen.
    void rectangle(const std::string& layer, mvt::Point top_left, mvt::Point bottom_right, const Properties& properties = {});

    const mvt::Tile& tile() const { return tile_; }
    std::string bytes() const;

private:
    void add(const std::string& layer, mvt::GeomType type, std::vector<std::vector<mvt::Point>> parts,
             const Properties& properties);
    mvt::Tile tile_;
};

// The tile in the Mapbox Vector Tile 2.1 encoding (uncompressed).
std::string encode_tile(const mvt::Tile& tile);

// A dense z14 city tile in the OpenMapTiles schema, the same every time: water (a lake with an island
// and a river), parks, about 4 000 buildings in blocks, a street grid of every road class with names,
// house numbers, places of several ranks and POIs; more than 5 000 features, some reaching into the
// tile's buffer.
mvt::Tile city_tile();

}  // namespace vg::test
