// Fuzzes the vector_layers reader: any text must give layers or an error, never a crash; every
// layer read has an id and zooms within -1..31.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tiles/vector_layers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string error;
    const auto layers = vg::parse_vector_layers(std::string_view(reinterpret_cast<const char*>(data), size), error);
    if (!layers) {
        if (error.empty()) std::abort();
        return 0;
    }
    for (const vg::VectorLayer& l : *layers)
        if (l.min_zoom < -1 || l.min_zoom > 31 || l.max_zoom < -1 || l.max_zoom > 31) std::abort();
    vg::guess_tile_schema(*layers);
    return 0;
}
