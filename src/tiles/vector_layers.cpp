#include "tiles/vector_layers.h"

#include <algorithm>
#include <nlohmann/json.hpp>

namespace vg {

std::optional<std::vector<VectorLayer>> parse_vector_layers(std::string_view json, std::string& error) {
    // No exceptions out of the parser: a parse error gives a discarded value.
    const nlohmann::json doc = nlohmann::json::parse(json.begin(), json.end(), nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) {
        error = "the metadata is not a JSON object";
        return std::nullopt;
    }
    std::vector<VectorLayer> layers;
    const auto list = doc.find("vector_layers");
    if (list == doc.end()) return layers;
    if (!list->is_array()) {
        error = "vector_layers is not a list";
        return std::nullopt;
    }
    for (const auto& item : *list) {
        const auto id = item.is_object() ? item.find("id") : item.end();
        if (!item.is_object() || id == item.end() || !id->is_string()) {
            error = "a vector layer without an id";
            return std::nullopt;
        }
        VectorLayer layer;
        layer.id = id->get<std::string>();
        auto zoom = [&](const char* key, int& out) {
            const auto z = item.find(key);
            if (z != item.end() && z->is_number() && z->get<double>() >= 0 && z->get<double>() <= 31)
                out = static_cast<int>(z->get<double>());
        };
        zoom("minzoom", layer.min_zoom);
        zoom("maxzoom", layer.max_zoom);
        const auto fields = item.find("fields");
        if (fields != item.end() && fields->is_object())
            for (const auto& [name, type] : fields->items()) layer.fields.push_back(name);
        layers.push_back(std::move(layer));
    }
    return layers;
}

const char* guess_tile_schema(const std::vector<VectorLayer>& layers) {
    auto count = [&](std::initializer_list<std::string_view> ids) {
        return std::count_if(ids.begin(), ids.end(), [&](std::string_view id) {
            return std::any_of(layers.begin(), layers.end(), [&](const VectorLayer& l) { return l.id == id; });
        });
    };
    const auto omt = count({"transportation", "water", "place", "landcover", "landuse", "boundary", "building",
                            "waterway", "transportation_name", "water_name", "poi"});
    const auto pm = count({"roads", "earth", "places", "landuse", "water", "boundaries", "buildings", "pois", "transit"});
    // Layers only one schema has decide; "water" and "landuse" are in both.
    const auto omt_own = count({"transportation", "place", "transportation_name", "water_name", "landcover"});
    const auto pm_own = count({"roads", "earth", "places", "boundaries", "pois"});
    if (omt_own >= 2 && omt_own >= pm_own && omt >= pm) return "openmaptiles";
    if (pm_own >= 2) return "protomaps";
    return "unknown";
}

}  // namespace vg
