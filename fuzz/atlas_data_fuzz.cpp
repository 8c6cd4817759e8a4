// Fuzzes the built-in map's data parser: any bytes must give a parsed atlas or a refusal with a
// reason, never a read past the input or a huge allocation from a forged count; a parsed atlas must
// answer land queries.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "atlas/atlas_data.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string error;
    const auto atlas = vg::atlas::parse_atlas(std::span<const std::uint8_t>(data, size), &error);
    if (!atlas) {
        if (error.empty()) std::abort();
        return 0;
    }
    (void)vg::atlas::is_land(*atlas, vg::atlas::kCoarse, 24.9, 60.2);
    (void)vg::atlas::is_land(*atlas, vg::atlas::kFine, -180.0, -90.0);
    return 0;
}
