// Fuzzes the TileJSON reader: any text gives a tile set or an error, never a crash; a tile set read
// has an http(s) template and zooms within 0..24, the least not above the deepest.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tiles/remote_vector.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string error;
    const auto tj = vg::parse_tilejson(std::string_view(reinterpret_cast<const char*>(data), size), error);
    if (!tj) {
        if (error.empty()) std::abort();
        return 0;
    }
    if (tj->tiles.empty() || tj->min_zoom < 0 || tj->max_zoom > 24 || tj->min_zoom > tj->max_zoom) std::abort();
    for (const auto& t : tj->tiles)
        if (t.rfind("http://", 0) != 0 && t.rfind("https://", 0) != 0) std::abort();
    return 0;
}
