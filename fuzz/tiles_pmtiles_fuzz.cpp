// Fuzzes the PMTiles header and directory codec: any bytes must decode to a record or give an
// error, never a read outside the input or an allocation the input does not justify. A decoded
// directory is encoded again and must decode to the same entries; lookups in it stay in range.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "tiles/pmtiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vg::pmtiles;
    const std::span<const std::uint8_t> bytes(data, size);
    std::string error;
    if (const auto header = decode_header(bytes, size, error)) {
        if (header->max_zoom > kMaxZoom || header->root_offset + header->root_length > size) std::abort();
        const auto again = encode_header(*header);
        if (!decode_header(again, size, error)) std::abort();
    }
    const auto directory = decode_directory(bytes, error);
    if (!directory) return 0;
    if (directory->size() > size / 4) std::abort();
    if (decode_directory(encode_directory(*directory), error) != *directory) std::abort();
    for (const Entry& e : *directory) {
        const Entry* found = find_entry(*directory, e.tile_id);
        if (!found || found->tile_id != e.tile_id) std::abort();
        if (const auto a = tile_address(e.tile_id); a && tile_id(a->z, a->x, a->y) != e.tile_id) std::abort();
    }
    return 0;
}
