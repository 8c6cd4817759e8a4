// Fuzzes the vector tile decoder (and its gzip unwrapping): any byte stream gives a tile or an
// error, never a read outside the input. A decoded tile must keep the promises of mvt.h: tag
// indices inside the layer's tables, rings closed, lines of two points or more, point parts of one.
// Seeds (fuzz/corpus/tiles_mvt): fixtures from tests/data/mvt-fixtures (see its PROVENANCE.md) and a
// zoom 14 tile of the test town (support/vector_town.h), raw and gzip-compressed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tiles/mvt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto raw = vg::mvt::unwrap_gzip(bytes, error, 1U << 20);
    if (!raw) {
        if (error.empty()) std::abort();
        return 0;
    }
    const auto tile = vg::mvt::decode(*raw, error);
    if (!tile) {
        if (error.empty()) std::abort();
        return 0;
    }
    for (const auto& layer : tile->layers) {
        if (layer.name.empty() || layer.extent == 0 || (layer.version != 1 && layer.version != 2)) std::abort();
        for (const auto& feature : layer.features) {
            if (feature.tags.size() % 2 != 0) std::abort();
            for (std::size_t t = 0; t < feature.tags.size(); t += 2) {
                if (feature.tags[t] >= layer.keys.size() || feature.tags[t + 1] >= layer.values.size()) std::abort();
            }
            for (const auto& part : feature.parts) {
                switch (feature.type) {
                case vg::mvt::GeomType::Point:
                    if (part.size() != 1) std::abort();
                    break;
                case vg::mvt::GeomType::LineString:
                    if (part.size() < 2) std::abort();
                    break;
                case vg::mvt::GeomType::Polygon:
                    if (part.size() < 4 || part.front().x != part.back().x || part.front().y != part.back().y)
                        std::abort();
                    break;
                case vg::mvt::GeomType::Unknown:
                    std::abort();  // an unknown geometry is not read
                }
            }
            std::size_t rings = 0;
            for (const auto& group : vg::mvt::polygons(feature)) rings += group.count;
            if (feature.type == vg::mvt::GeomType::Polygon && rings != feature.parts.size()) std::abort();
        }
    }
    return 0;
}
