// Vector tiles in the Mapbox Vector Tile 2.1 encoding (protocol buffers, read with protozero): a tile
// is layers of features, each with an optional id, properties (keys and values shared per layer) and
// one geometry in tile coordinates (0..extent, y down). Pure: bytes in, a Tile out, no I/O, no
// globals; safe to call from any thread. A tile comes from anywhere, so every count and command is
// checked against the bytes that remain: a malformed tile (bad varint, a command past the end of its
// geometry, an unknown geometry type, a key or value index out of range, counts that the input cannot
// hold) fails with a defined error and nothing partial, never a crash or an allocation the input does
// not justify.
#pragma once

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
// ("layer 2 feature 7: geometry command past the end").
std::optional<Tile> decode(std::string_view bytes, std::string& error);

}  // namespace vg::mvt
