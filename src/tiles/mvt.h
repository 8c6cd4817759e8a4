// Vector tiles in the Mapbox Vector Tile 2.1 encoding (protocol buffers, read with protozero): a tile
// is layers of features, each with an optional id, properties (keys and values shared per layer) and
// one geometry in tile coordinates (0..extent, y down). Pure: bytes in, a Tile out, no I/O, no
// globals; safe to call from any thread. A tile comes from anywhere, so every count and command is
// checked against the bytes that remain: a malformed tile (bad varint, a command past the end of its
// geometry, an unknown geometry type, a key or value index out of range, counts that the input cannot
// hold) fails with a defined error and nothing partial, never a crash or an allocation the input does
// not justify.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vg::mvt {

enum class GeomType { Unknown = 0, Point = 1, LineString = 2, Polygon = 3 };

// A property value: one of the seven value kinds of the encoding (sint and int are both Int).
struct Value {
    enum class Kind { String, Float, Double, Int, UInt, Bool };
    Kind kind = Kind::String;
    std::string string;
    double number = 0;     // Float and Double (a Float widened)
    std::int64_t int_value = 0;
    std::uint64_t uint_value = 0;
    bool bool_value = false;
    // The value as a double (Int, UInt, Float, Double, Bool as 0/1); nullopt for a String.
    std::optional<double> as_number() const;
};

struct Point {
    std::int32_t x = 0;
    std::int32_t y = 0;
};

struct Feature {
    std::optional<std::uint64_t> id;
    GeomType type = GeomType::Unknown;
    // Pairs of indices into the layer's keys and values (checked in range when decoded).
    std::vector<std::uint32_t> tags;
    // Points: one part per point. LineString: one part per line. Polygon: one part per ring, each
    // ring closed (last point equal to the first); a ring of positive area in tile coordinates
    // (clockwise on screen, y down) starts a new polygon, and the negative rings after it are its
    // holes.
    std::vector<std::vector<Point>> parts;
};

struct Layer {
    std::string name;
    std::uint32_t version = 2;
    std::uint32_t extent = 4096;
    std::vector<std::string> keys;
    std::vector<Value> values;
    std::vector<Feature> features;
    // The value of `key` on `feature`, or null when the feature has no such property.
    const Value* property(const Feature& feature, std::string_view key) const;
};

struct Tile {
    std::vector<Layer> layers;
    const Layer* layer(std::string_view name) const;
};

// Decodes a whole (uncompressed) tile. Returns nullopt with `error` saying what was wrong and where
// ("layer 2 (roads): feature 7: geometry command past the end (count 9)").
//
// What is read and what is refused (the whole tile; there is no partial result):
// - Layers: a name (non-empty), a version (1 or 2; 1 when absent, the encoding's default), an extent
//   (any value above 0; 4096 when absent). Two layers of one name are refused. A tile without layers is
//   an empty Tile.
// - Features: the id is optional; a feature without a type has GeomType::Unknown (the encoding's
//   default), whose geometry is not read. Points, lines and polygons need a geometry, and one only.
//   Tags come in pairs whose indices must be inside the layer's keys and values (which may follow
//   the features in the layer).
// - Values: exactly one of the seven kinds; a value with none of them (only unknown fields) or two
//   is refused, as is a known field with the wrong wire type anywhere.
// - Geometry: MoveTo/LineTo counts above 0 and within the integers left; MoveTo of a line or
//   polygon has count 1; ClosePath has count 1 and closes a polygon ring of at least 3 points. In a
//   version 1 layer ClosePath may also have count 0 and close a line, which then ends with its first
//   point. A line needs 2 points or more.
//   Unknown commands are refused. Coordinates are int32 sums of the deltas and wrap like int32
//   arithmetic; repeated points are kept.
// - Unknown fields of any message are skipped, so later revisions of the encoding still read.
std::optional<Tile> decode(std::string_view bytes, std::string& error);

// Signed (shoelace) area of a closed ring in tile coordinates: positive for a ring that is
// clockwise on screen (y down), an exterior ring; negative for a hole.
double ring_area(const std::vector<Point>& ring);

// The polygons of a Polygon feature: each a run of `count` parts from `first`, an exterior ring then
// its holes. A ring of positive area starts a polygon; a first ring of other winding (tiles that
// break the rule) starts one too, so nothing is dropped. Empty for other types.
struct RingGroup {
    std::size_t first = 0;
    std::size_t count = 0;
};
std::vector<RingGroup> polygons(const Feature& feature);

// Tiles are often stored gzip-compressed (MBTiles, most servers): bytes that start with the gzip
// magic are inflated (zlib), anything else is returned unchanged. Nullopt with `error` for a broken
// or truncated gzip stream, or one that inflates to more than `limit` bytes.
constexpr std::size_t kMaxTileBytes = 64U << 20;
std::optional<std::string> unwrap_gzip(std::string_view bytes, std::string& error,
                                       std::size_t limit = kMaxTileBytes);

}  // namespace vg::mvt
