// The `vector_layers` list of a vector tile pack's JSON metadata (MBTiles `json` row, PMTiles
// metadata): each layer's id, zooms and field names, and the tile schema the layer ids suggest.
// Pure: text in, records out; safe from any thread. Text that is not JSON, or a list whose
// entries have no string id, gives a defined error and no layers.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vg {

struct VectorLayer {
    std::string id;
    int min_zoom = -1, max_zoom = -1;  // -1 when not given
    std::vector<std::string> fields;   // field names, in the metadata's order
};

// The layers of `json`, an object with an optional `vector_layers` array (none: an empty list).
// Nullopt with `error` for text that is not a JSON object or a malformed list.
std::optional<std::vector<VectorLayer>> parse_vector_layers(std::string_view json, std::string& error);

// "openmaptiles" when the layers include those of that schema (transportation, water, place, ...),
// "protomaps" for that one's (roads, earth, places, ...), else "unknown".
const char* guess_tile_schema(const std::vector<VectorLayer>& layers);

}  // namespace vg
