// The data file linked into the program as read-only bytes (the build names it in VG_ATLAS_FILE).
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "atlas/atlas_data.h"

__asm__(".section .rodata\n"
        ".balign 16\n"
        ".global vg_atlas_bytes_begin\n"
        ".hidden vg_atlas_bytes_begin\n"
        ".global vg_atlas_bytes_end\n"
        ".hidden vg_atlas_bytes_end\n"
        "vg_atlas_bytes_begin:\n"
        ".incbin \"" VG_ATLAS_FILE "\"\n"
        "vg_atlas_bytes_end:\n"
        ".previous\n");

extern "C" const std::uint8_t vg_atlas_bytes_begin[];
extern "C" const std::uint8_t vg_atlas_bytes_end[];

namespace vg::atlas {

std::span<const std::uint8_t> builtin_atlas_bytes() {
    return {vg_atlas_bytes_begin, static_cast<std::size_t>(vg_atlas_bytes_end - vg_atlas_bytes_begin)};
}

const AtlasData& builtin_atlas() {
    static const AtlasData data = [] {
        std::string error;
        auto parsed = parse_atlas(builtin_atlas_bytes(), &error);
        if (!parsed) {
            // Only a broken build gets here: the file is checked by the tests.
            std::fprintf(stderr, "built-in atlas data: %s\n", error.c_str());
            std::abort();
        }
        return std::move(*parsed);
    }();
    return data;
}

}  // namespace vg::atlas
