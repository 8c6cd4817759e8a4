#include "tiles/mvt.h"

#include <zlib.h>

#ifndef VG_NO_MVT

#include <protozero/exception.hpp>
#include <protozero/pbf_reader.hpp>

#include <iterator>
#include <set>

namespace vg::mvt {
namespace {

using protozero::pbf_wire_type;

// A refusal: carries the message up to decode(), which adds where it happened.
struct Refused {
    std::string what;
};

[[noreturn]] void refuse(std::string what) { throw Refused{std::move(what)}; }

void expect_wire(const protozero::pbf_reader& reader, pbf_wire_type type, const char* field) {
    if (reader.wire_type() != type) {
        refuse(std::string("field ") + field + " has the wrong wire type");
    }
}

constexpr std::uint32_t kMoveTo = 1;
constexpr std::uint32_t kLineTo = 2;
constexpr std::uint32_t kClosePath = 7;

// Decodes the command stream into parts. `left` counts the integers not yet read, so that no count the
// input claims is believed beyond what the stream holds.
void decode_geometry(protozero::iterator_range<protozero::pbf_reader::const_uint32_iterator> range,
                     std::size_t integers, GeomType type, std::uint32_t version, Feature& feature) {
    auto it = range.begin();
    std::size_t left = integers;
    // Coordinates are int32 sums of deltas; a sum outside int32 wraps like the encoder's arithmetic.
    std::uint32_t x = 0;
    std::uint32_t y = 0;
    auto next_point = [&]() {
        x += static_cast<std::uint32_t>(protozero::decode_zigzag32(*it++));
        y += static_cast<std::uint32_t>(protozero::decode_zigzag32(*it++));
        left -= 2;
        return Point{static_cast<std::int32_t>(x), static_cast<std::int32_t>(y)};
    };
    bool open_part = false;  // a MoveTo started a line or ring that LineTo may continue
    while (left > 0) {
        const std::uint32_t word = *it++;
        --left;
        const std::uint32_t command = word & 7U;
        const std::uint32_t count = word >> 3;
        if (command == kMoveTo || command == kLineTo) {
            if (count == 0) {
                refuse("geometry command with a count of 0");
            }
            if (count > left / 2) {
                refuse("geometry command past the end (count " + std::to_string(count) + ")");
            }
            if (command == kMoveTo) {
                if (type != GeomType::Point && count != 1) {
                    refuse("MoveTo of a line or polygon with a count other than 1");
                }
                if (type == GeomType::Polygon && open_part) {
                    refuse("polygon ring not closed by ClosePath");
                }
                for (std::uint32_t i = 0; i < count; ++i) {
                    feature.parts.push_back({next_point()});
                }
                open_part = type != GeomType::Point;
            } else {
                if (!open_part) {
                    refuse(type == GeomType::Point ? "LineTo in a point geometry" : "LineTo before MoveTo");
                }
                auto& part = feature.parts.back();
                part.reserve(part.size() + count);
                for (std::uint32_t i = 0; i < count; ++i) {
                    part.push_back(next_point());
                }
            }
        } else if (command == kClosePath) {
            // Version 1 did not fix the count; old encoders wrote 0.
            if (count != 1 && !(version == 1 && count == 0)) {
                refuse("ClosePath with a count other than 1");
            }
            const bool closes_line = type == GeomType::LineString && version == 1;
            if ((type != GeomType::Polygon && !closes_line) || !open_part) {
                refuse(open_part ? "ClosePath outside a polygon" : "ClosePath before MoveTo");
            }
            auto& part = feature.parts.back();
            if (type == GeomType::Polygon && part.size() < 3) {
                refuse("polygon ring of fewer than 3 points");
            }
            part.push_back(part.front());
            open_part = false;
        } else {
            refuse("unknown geometry command " + std::to_string(command));
        }
    }
    if (type == GeomType::Polygon && open_part) {
        refuse("polygon ring not closed by ClosePath");
    }
    if (type == GeomType::LineString) {
        for (const auto& part : feature.parts) {
            if (part.size() < 2) {
                refuse("line of a single point");
            }
        }
    }
}

Feature decode_feature(protozero::pbf_reader reader, std::uint32_t version) {
    Feature feature;
    bool has_type = false;
    bool has_geometry = false;
    protozero::iterator_range<protozero::pbf_reader::const_uint32_iterator> geometry;
    while (reader.next()) {
        switch (reader.tag()) {
        case 1:
            expect_wire(reader, pbf_wire_type::varint, "id");
            feature.id = reader.get_uint64();
            break;
        case 2: {
            expect_wire(reader, pbf_wire_type::length_delimited, "tags");
            auto tags = reader.get_packed_uint32();
            // The count is bounded by the bytes: each integer takes at least one.
            feature.tags.reserve(feature.tags.size() +
                                 static_cast<std::size_t>(std::distance(tags.begin(), tags.end())));
            feature.tags.insert(feature.tags.end(), tags.begin(), tags.end());
            break;
        }
        case 3: {
            expect_wire(reader, pbf_wire_type::varint, "type");
            const std::uint32_t type = reader.get_enum();
            if (type > 3) {
                refuse("unknown geometry type " + std::to_string(type));
            }
            feature.type = static_cast<GeomType>(type);
            has_type = true;
            break;
        }
        case 4:
            expect_wire(reader, pbf_wire_type::length_delimited, "geometry");
            if (has_geometry) {
                refuse("a second geometry");
            }
            geometry = reader.get_packed_uint32();
            has_geometry = true;
            break;
        default:
            reader.skip();
        }
    }
    if (feature.tags.size() % 2 != 0) {
        refuse("odd number of tags");
    }
    if (!has_type) {
        // The encoding's default: a feature without a type has an unknown geometry.
        feature.type = GeomType::Unknown;
    }
    if (feature.type == GeomType::Unknown) {
        return feature;  // its geometry, if any, has no defined meaning
    }
    if (!has_geometry) {
        refuse("feature without geometry");
    }
    const auto integers = static_cast<std::size_t>(std::distance(geometry.begin(), geometry.end()));
    if (integers == 0) {
        refuse("empty geometry");
    }
    decode_geometry(geometry, integers, feature.type, version, feature);
    return feature;
}

Value decode_value(protozero::pbf_reader reader) {
    Value value;
    int kinds = 0;
    while (reader.next()) {
        switch (reader.tag()) {
        case 1:
            expect_wire(reader, pbf_wire_type::length_delimited, "string_value");
            value.kind = Value::Kind::String;
            value.string = reader.get_string();
            break;
        case 2:
            expect_wire(reader, pbf_wire_type::fixed32, "float_value");
            value.kind = Value::Kind::Float;
            value.number = static_cast<double>(reader.get_float());
            break;
        case 3:
            expect_wire(reader, pbf_wire_type::fixed64, "double_value");
            value.kind = Value::Kind::Double;
            value.number = reader.get_double();
            break;
        case 4:
            expect_wire(reader, pbf_wire_type::varint, "int_value");
            value.kind = Value::Kind::Int;
            value.int_value = reader.get_int64();
            break;
        case 5:
            expect_wire(reader, pbf_wire_type::varint, "uint_value");
            value.kind = Value::Kind::UInt;
            value.uint_value = reader.get_uint64();
            break;
        case 6:
            expect_wire(reader, pbf_wire_type::varint, "sint_value");
            value.kind = Value::Kind::Int;
            value.int_value = reader.get_sint64();
            break;
        case 7:
            expect_wire(reader, pbf_wire_type::varint, "bool_value");
            value.kind = Value::Kind::Bool;
            value.bool_value = reader.get_bool();
            break;
        default:
            reader.skip();
            continue;
        }
        ++kinds;
    }
    if (kinds != 1) {
        refuse(kinds == 0 ? "value of no known kind" : "value of more than one kind");
    }
    return value;
}

Layer decode_layer(protozero::pbf_reader reader, std::string& where) {
    Layer layer;
    bool has_name = false;
    layer.version = 1;  // the encoding's default
    // Features refer to keys and values that may come after them: they are read once the layer's
    // tables are known.
    std::vector<protozero::data_view> features;
    while (reader.next()) {
        switch (reader.tag()) {
        case 1:
            expect_wire(reader, pbf_wire_type::length_delimited, "name");
            layer.name = reader.get_string();
            has_name = true;
            break;
        case 2:
            expect_wire(reader, pbf_wire_type::length_delimited, "feature");
            features.push_back(reader.get_view());
            break;
        case 3:
            expect_wire(reader, pbf_wire_type::length_delimited, "key");
            layer.keys.push_back(reader.get_string());
            break;
        case 4:
            expect_wire(reader, pbf_wire_type::length_delimited, "value");
            layer.values.push_back(decode_value(reader.get_message()));
            break;
        case 5:
            expect_wire(reader, pbf_wire_type::varint, "extent");
            layer.extent = reader.get_uint32();
            break;
        case 15:
            expect_wire(reader, pbf_wire_type::varint, "version");
            layer.version = reader.get_uint32();
            break;
        default:
            reader.skip();
        }
    }
    if (!has_name || layer.name.empty()) {
        refuse("layer without a name");
    }
    where += " (" + layer.name + ")";
    if (layer.version != 1 && layer.version != 2) {
        refuse("unsupported version " + std::to_string(layer.version));
    }
    if (layer.extent == 0) {
        refuse("extent of 0");
    }
    layer.features.reserve(features.size());
    for (std::size_t i = 0; i < features.size(); ++i) {
        try {
            layer.features.push_back(decode_feature(protozero::pbf_reader(features[i]), layer.version));
        } catch (const Refused& refused) {
            refuse("feature " + std::to_string(i) + ": " + refused.what);
        }
        const auto& feature = layer.features.back();
        for (std::size_t t = 0; t < feature.tags.size(); t += 2) {
            if (feature.tags[t] >= layer.keys.size() || feature.tags[t + 1] >= layer.values.size()) {
                refuse("feature " + std::to_string(i) + ": tag " + std::to_string(t / 2) +
                       (feature.tags[t] >= layer.keys.size() ? ": key" : ": value") + " index out of range");
            }
        }
    }
    return layer;
}

}  // namespace

std::optional<Tile> decode(std::string_view bytes, std::string& error) {
    Tile tile;
    std::string where = "tile";
    try {
        protozero::pbf_reader reader(bytes.data(), bytes.size());
        std::set<std::string_view> names;
        while (reader.next()) {
            if (reader.tag() != 3) {
                reader.skip();
                continue;
            }
            where = "layer " + std::to_string(tile.layers.size());
            expect_wire(reader, pbf_wire_type::length_delimited, "layer");
            tile.layers.push_back(decode_layer(reader.get_message(), where));
        }
        for (const auto& layer : tile.layers) {
            if (!names.insert(layer.name).second) {
                where = "tile";
                refuse("two layers named \"" + layer.name + "\"");
            }
        }
    } catch (const Refused& refused) {
        error = where + ": " + refused.what;
        return std::nullopt;
    } catch (const protozero::exception& malformed) {
        error = where + ": malformed protocol buffer (" + malformed.what() + ")";
        return std::nullopt;
    }
    return tile;
}

}  // namespace vg::mvt

#else

namespace vg::mvt {

std::optional<Tile> decode(std::string_view, std::string& error) {
    error = "vector tiles are not available in this build (no protozero)";
    return std::nullopt;
}

}  // namespace vg::mvt

#endif

namespace vg::mvt {

std::optional<double> Value::as_number() const {
    switch (kind) {
    case Kind::String:
        return std::nullopt;
    case Kind::Float:
    case Kind::Double:
        return number;
    case Kind::Int:
        return static_cast<double>(int_value);
    case Kind::UInt:
        return static_cast<double>(uint_value);
    case Kind::Bool:
        return bool_value ? 1.0 : 0.0;
    }
    return std::nullopt;
}

const Value* Layer::property(const Feature& feature, std::string_view key) const {
    for (std::size_t t = 0; t + 1 < feature.tags.size(); t += 2) {
        if (feature.tags[t] < keys.size() && keys[feature.tags[t]] == key &&
            feature.tags[t + 1] < values.size()) {
            return &values[feature.tags[t + 1]];
        }
    }
    return nullptr;
}

const Layer* Tile::layer(std::string_view name) const {
    for (const auto& layer : layers) {
        if (layer.name == name) {
            return &layer;
        }
    }
    return nullptr;
}

double ring_area(const std::vector<Point>& ring) {
    double twice = 0;
    for (std::size_t i = 0; i + 1 < ring.size(); ++i) {
        twice += static_cast<double>(ring[i].x) * ring[i + 1].y - static_cast<double>(ring[i + 1].x) * ring[i].y;
    }
    return twice / 2;
}

std::vector<RingGroup> polygons(const Feature& feature) {
    std::vector<RingGroup> groups;
    if (feature.type != GeomType::Polygon) {
        return groups;
    }
    for (std::size_t i = 0; i < feature.parts.size(); ++i) {
        if (groups.empty() || ring_area(feature.parts[i]) > 0) {
            groups.push_back({i, 1});
        } else {
            ++groups.back().count;
        }
    }
    return groups;
}

std::optional<std::string> unwrap_gzip(std::string_view bytes, std::string& error, std::size_t limit) {
    if (bytes.size() < 2 || static_cast<unsigned char>(bytes[0]) != 0x1f ||
        static_cast<unsigned char>(bytes[1]) != 0x8b) {
        return std::string(bytes);
    }
    if (bytes.size() > limit) {
        error = "gzip: larger than " + std::to_string(limit) + " bytes";
        return std::nullopt;
    }
    z_stream stream{};
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) {
        error = "gzip: cannot start zlib";
        return std::nullopt;
    }
    std::string out;
    char chunk[16384];
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(chunk);
        stream.avail_out = sizeof chunk;
        status = inflate(&stream, Z_NO_FLUSH);
        const std::size_t produced = sizeof chunk - stream.avail_out;
        if (out.size() + produced > limit) {
            inflateEnd(&stream);
            error = "gzip: inflates to more than " + std::to_string(limit) + " bytes";
            return std::nullopt;
        }
        out.append(chunk, produced);
    }
    inflateEnd(&stream);
    if (status != Z_STREAM_END) {
        error = status == Z_DATA_ERROR ? "gzip: corrupt data" : "gzip: truncated stream";
        return std::nullopt;
    }
    return out;
}

}  // namespace vg::mvt
