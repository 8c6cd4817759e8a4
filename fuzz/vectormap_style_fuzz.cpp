// Fuzzes the style reader: any bytes give a style or a refusal with a reason; a style's filters and
// properties then evaluate against a few features at a few zooms without a crash, a read past a
// vector or unbounded recursion.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "vectormap/style.h"

namespace {

vg::mvt::Layer sample_layer(const std::string& name) {
    vg::mvt::Layer layer;
    layer.name = name;
    layer.keys = {"class", "name", "rank", "kind"};
    vg::mvt::Value v;
    v.string = "motorway";
    layer.values.push_back(v);
    v.string = "Oulu";
    layer.values.push_back(v);
    v.kind = vg::mvt::Value::Kind::Int;
    v.int_value = 3;
    layer.values.push_back(v);
    for (const auto type : {vg::mvt::GeomType::Point, vg::mvt::GeomType::LineString, vg::mvt::GeomType::Polygon}) {
        vg::mvt::Feature f;
        f.type = type;
        f.id = 7;
        f.tags = {0, 0, 1, 1, 2, 2, 3, 1};
        layer.features.push_back(f);
    }
    layer.features.emplace_back();  // no properties, no id
    return layer;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string error;
    const auto style = vg::vmap::Style::parse(std::string_view(reinterpret_cast<const char*>(data), size), error);
    if (!style) {
        if (error.empty()) std::abort();
        return 0;
    }
    for (const double zoom : {0.0, 11.5, 24.0}) {
        (void)style->background(zoom);
        for (const auto& layer : style->layers()) {
            const vg::mvt::Layer tile_layer = sample_layer(layer.source_layer);
            for (const auto& feature : tile_layer.features) {
                const vg::vmap::FeatureContext ctx{zoom, &tile_layer, &feature};
                (void)style->shown_at(layer, zoom);
                (void)style->matches(layer, ctx);
                (void)style->fill(layer, ctx);
                (void)style->line(layer, ctx);
                (void)style->text(layer, ctx);
                (void)style->circle(layer, ctx);
            }
        }
    }
    return 0;
}
