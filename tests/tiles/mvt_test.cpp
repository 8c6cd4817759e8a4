// Vector tile decoding against the mvt-fixtures conformance suite (tests/data/mvt-fixtures, each tile
// with its content as JSON and its validity) and against hostile tiles made here.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <protozero/pbf_writer.hpp>

#include <filesystem>
#include <map>

#include "support/test_paths.h"
#include "tiles/mvt.h"

namespace vg::mvt {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

fs::path fixtures() { return test::shared_testdata() / "mvt-fixtures" / "fixtures"; }

// The command stream of a decoded geometry, in the shortest form the encoding allows (how the
// fixtures are written): compared with a fixture's geometry it checks every coordinate.
std::vector<std::uint32_t> encode(const Feature& feature) {
    std::vector<std::uint32_t> out;
    std::uint32_t x = 0;
    std::uint32_t y = 0;
    auto command = [&](std::uint32_t id, std::size_t count) {
        out.push_back(static_cast<std::uint32_t>(count << 3) | id);
    };
    auto point = [&](const Point& p) {
        for (auto [to, from] : {std::pair{static_cast<std::uint32_t>(p.x), &x}, {static_cast<std::uint32_t>(p.y), &y}}) {
            const auto delta = static_cast<std::int32_t>(to - *from);
            out.push_back((static_cast<std::uint32_t>(delta) << 1) ^ static_cast<std::uint32_t>(delta >> 31));
            *from = to;
        }
    };
    if (feature.type == GeomType::Point) {
        command(1, feature.parts.size());
        for (const auto& part : feature.parts) point(part.at(0));
        return out;
    }
    const bool ring = feature.type == GeomType::Polygon;
    for (const auto& part : feature.parts) {
        const std::size_t n = part.size() - (ring ? 1 : 0);
        command(1, 1);
        point(part[0]);
        command(2, n - 1);
        for (std::size_t i = 1; i < n; ++i) point(part[i]);
        if (ring) command(7, 1);
    }
    return out;
}

void expect_value(const Value& value, const json& expected, const std::string& where) {
    SCOPED_TRACE(where);
    const auto first = expected.begin();
    const std::string kind = first.key();
    const json& v = first.value();
    if (kind == "string_value") {
        EXPECT_EQ(value.kind, Value::Kind::String);
        EXPECT_EQ(value.string, v.is_string() ? v.get<std::string>() : v.dump());  // 076 writes a number
    } else if (kind == "float_value") {
        EXPECT_EQ(value.kind, Value::Kind::Float);
        EXPECT_EQ(value.number, static_cast<double>(v.get<float>()));
    } else if (kind == "double_value") {
        EXPECT_EQ(value.kind, Value::Kind::Double);
        EXPECT_EQ(value.number, v.get<double>());
    } else if (kind == "int_value" || kind == "sint_value") {
        EXPECT_EQ(value.kind, Value::Kind::Int);
        EXPECT_EQ(value.int_value, v.get<std::int64_t>());
    } else if (kind == "uint_value") {
        EXPECT_EQ(value.kind, Value::Kind::UInt);
        EXPECT_EQ(value.uint_value, v.get<std::uint64_t>());
    } else {
        ASSERT_EQ(kind, "bool_value");
        EXPECT_EQ(value.kind, Value::Kind::Bool);
        EXPECT_EQ(value.bool_value, v.get<bool>());
    }
}

void expect_tile(const Tile& tile, const json& expected, const std::string& name) {
    const auto& layers = expected.value("layers", json::array());
    ASSERT_EQ(tile.layers.size(), layers.size()) << name;
    for (std::size_t l = 0; l < layers.size(); ++l) {
        const Layer& layer = tile.layers[l];
        const json& want = layers[l];
        const std::string where = name + " layer " + std::to_string(l);
        EXPECT_EQ(layer.name, want.at("name").get<std::string>()) << where;
        EXPECT_EQ(layer.version, want.value("version", 1U)) << where;
        EXPECT_EQ(layer.extent, want.value("extent", 4096U)) << where;
        EXPECT_EQ(layer.keys, want.at("keys").get<std::vector<std::string>>()) << where;
        ASSERT_EQ(layer.values.size(), want.at("values").size()) << where;
        for (std::size_t v = 0; v < layer.values.size(); ++v)
            expect_value(layer.values[v], want["values"][v], where + " value " + std::to_string(v));
        const auto& features = want.at("features");
        ASSERT_EQ(layer.features.size(), features.size()) << where;
        for (std::size_t f = 0; f < features.size(); ++f) {
            const Feature& feature = layer.features[f];
            const json& wf = features[f];
            const std::string fwhere = where + " feature " + std::to_string(f);
            EXPECT_EQ(feature.id, wf.contains("id") ? std::optional(wf["id"].get<std::uint64_t>()) : std::nullopt)
                << fwhere;
            EXPECT_EQ(static_cast<int>(feature.type), wf.value("type", 0)) << fwhere;
            EXPECT_EQ(feature.tags, wf.value("tags", std::vector<std::uint32_t>{})) << fwhere;
            if (feature.type != GeomType::Unknown) {
                EXPECT_EQ(encode(feature), wf.at("geometry").get<std::vector<std::uint32_t>>()) << fwhere;
            }
        }
    }
}

// Where this decoder's outcome differs from the fixture's "valid under version 2" on purpose.
const std::map<std::string, bool>& decided_otherwise() {
    static const std::map<std::string, bool> cases{
        {"003", true},   // no type: the encoding's default, Unknown (a geometry without meaning)
        {"024", true},   // no version: the encoding's default, 1
        {"046", true},   // a repeated point in a line: kept, it draws the same
        {"057", false},  // a MoveTo count of 536870911 with one point after it: past the end
        {"061", true},   // ClosePath in a line of a version 1 layer, valid there (checked below)
    };
    return cases;
}

TEST(MvtFixtures, ValidTilesDecodeToTheirContentAndInvalidOnesAreRefused) {
    int valid = 0;
    int refused = 0;
    for (const auto& dir : fs::directory_iterator(fixtures())) {
        const std::string name = dir.path().filename().string();
        const json info = json::parse(test::read_file(dir.path() / "info.json"));
        bool expect_valid = info["validity"].value("v2", false);
        if (auto it = decided_otherwise().find(name); it != decided_otherwise().end()) expect_valid = it->second;
        std::string error;
        const auto tile = decode(test::read_file(dir.path() / "tile.mvt"), error);
        ASSERT_EQ(tile.has_value(), expect_valid) << name << ": " << error;
        if (!tile) {
            EXPECT_FALSE(error.empty()) << name;
            ++refused;
            continue;
        }
        ++valid;
        if (name == "061") {
            ASSERT_EQ(tile->layers.at(0).features.at(0).parts.size(), 1U);
            const auto& line = tile->layers[0].features[0].parts[0];
            ASSERT_EQ(line.size(), 4U);
            EXPECT_EQ(line.back().x, 2);
            EXPECT_EQ(line.back().y, 2);
            continue;
        }
        expect_tile(*tile, json::parse(test::read_file(dir.path() / "tile.json")), name);
    }
    EXPECT_GE(valid, 45);
    EXPECT_GE(refused, 25);
}

TEST(MvtFixtures, RingsGroupIntoPolygonsAndPropertiesResolve) {
    std::string error;
    const auto tile = decode(test::read_file(fixtures() / "022" / "tile.mvt"), error);
    ASSERT_TRUE(tile) << error;
    const Layer* layer = tile->layer("hello");
    ASSERT_TRUE(layer);
    EXPECT_EQ(tile->layer("other"), nullptr);
    const Feature& feature = layer->features.at(0);
    // Two polygons, the second with a hole; every ring closed.
    const auto groups = polygons(feature);
    ASSERT_EQ(groups.size(), 2U);
    EXPECT_EQ(groups[0].first, 0U);
    EXPECT_EQ(groups[0].count, 1U);
    EXPECT_EQ(groups[1].first, 1U);
    EXPECT_EQ(groups[1].count, 2U);
    EXPECT_GT(ring_area(feature.parts[1]), 0);
    EXPECT_LT(ring_area(feature.parts[2]), 0);
    for (const auto& ring : feature.parts) {
        EXPECT_EQ(ring.front().x, ring.back().x);
        EXPECT_EQ(ring.front().y, ring.back().y);
    }
    ASSERT_TRUE(layer->property(feature, "hello"));
    EXPECT_EQ(layer->property(feature, "hello")->string, "world");
    EXPECT_EQ(layer->property(feature, "nope"), nullptr);

    const auto all = decode(test::read_file(fixtures() / "038" / "tile.mvt"), error);
    ASSERT_TRUE(all) << error;
    const Layer& values = all->layers.at(0);
    EXPECT_EQ(values.property(values.features.at(0), "string_value")->as_number(), std::nullopt);
    EXPECT_EQ(values.property(values.features.at(0), "bool_value")->as_number(), 1.0);
    EXPECT_EQ(values.property(values.features.at(0), "sint_value")->as_number(), -87948.0);
}

// A tile of one layer built here: `feature` writes the feature's fields.
template <typename F>
std::string tile_with(F&& feature, std::uint32_t extent = 4096, std::uint32_t version = 2) {
    std::string layer;
    {
        protozero::pbf_writer w(layer);
        w.add_uint32(15, version);
        w.add_string(1, "roads");
        {
            protozero::pbf_writer f(w, 2);
            feature(f);
        }
        w.add_string(3, "name");
        {
            protozero::pbf_writer v(w, 4);
            v.add_string(1, "Main");
            v.add_fixed32(99, 7);  // unknown field: skipped
        }
        w.add_uint32(5, extent);
        w.add_string(77, "later revision");
    }
    std::string tile;
    protozero::pbf_writer t(tile);
    t.add_message(3, layer);
    t.add_uint64(12, 1);
    return tile;
}

TEST(MvtHostile, CountsTheBytesCannotHoldAndBrokenStreamsAreRefused) {
    std::string error;
    const auto line = [](std::vector<std::uint32_t> geometry) {
        return tile_with([&](protozero::pbf_writer& f) {
            f.add_enum(3, 2);
            f.add_packed_uint32(4, geometry.begin(), geometry.end());
        });
    };
    // Unknown fields everywhere are skipped; any extent and version 1 read.
    const auto ok = decode(line({9, 2, 2, 10, 4, 4}), error);
    ASSERT_TRUE(ok) << error;
    EXPECT_EQ(ok->layers.at(0).property(ok->layers[0].features.at(0), "name"), nullptr);
    auto small = decode(tile_with([](protozero::pbf_writer& f) { f.add_enum(3, 0); }, 256, 1), error);
    ASSERT_TRUE(small) << error;
    EXPECT_EQ(small->layers.at(0).extent, 256U);
    EXPECT_EQ(small->layers.at(0).version, 1U);

    const std::vector<std::pair<std::string, std::string>> hostile{
        {line({10, 1, 1, 9, 2, 2}), "LineTo before MoveTo"},
        {line({9, 2, 2, (0x1FFFFFFFU << 3) | 2U, 1, 1}), "past the end"},
        {line({9, 2, 2, 3, 4, 4}), "unknown geometry command 3"},
        {line({9, 2, 2, 10, 4, 4, 15}), "ClosePath outside a polygon"},
        {line({9, 2, 2}), "single point"},
        {tile_with([](protozero::pbf_writer& f) {
             const std::uint32_t point[] = {9, 2, 2};
             const std::uint32_t tags[] = {0, 1};
             f.add_enum(3, 1);
             f.add_packed_uint32(4, std::begin(point), std::end(point));
             f.add_packed_uint32(2, std::begin(tags), std::end(tags));
         }),
         "value index out of range"},
        {tile_with([](protozero::pbf_writer&) {}, 0), "extent of 0"},
        {tile_with([](protozero::pbf_writer&) {}, 4096, 3), "unsupported version 3"},
        // A layer claiming 2^31 bytes, a varint of eleven bytes.
        {std::string("\x1a\x80\x80\x80\x80\x08", 6), "malformed"},
        {std::string("\x08\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\x01", 12), "malformed"},
    };
    for (const auto& [bytes, why] : hostile) {
        error.clear();
        EXPECT_FALSE(decode(bytes, error)) << why;
        EXPECT_NE(error.find(why), std::string::npos) << error;
    }
    // Every cut of a one-layer tile runs the layer past the end.
    const std::string whole = test::read_file(fixtures() / "022" / "tile.mvt");
    for (std::size_t n = 1; n < whole.size(); ++n)
        EXPECT_FALSE(decode(std::string_view(whole).substr(0, n), error)) << n;
}

TEST(MvtGzip, CompressedTilesAreInflatedAndBrokenOnesRefused) {
    std::string error;
    const std::string raw = test::read_file(fixtures() / "019" / "tile.mvt");
    EXPECT_EQ(unwrap_gzip(raw, error), raw);
    // "hello\n" as gzip made by gzip(1).
    const std::string gz("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03\xcb\x48\xcd\xc9\xc9\xe7\x02\x00\x20\x30\x3a"
                         "\x36\x06\x00\x00\x00",
                         26);
    EXPECT_EQ(unwrap_gzip(gz, error), "hello\n");
    EXPECT_FALSE(unwrap_gzip(gz.substr(0, 15), error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(unwrap_gzip(gz, error, 3)) << "larger than the limit";
}

}  // namespace
}  // namespace vg::mvt
