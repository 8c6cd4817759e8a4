// The built-in styles: JSON files from src/resources/styles linked in as read-only bytes (the build
// names their folder in VG_STYLES_DIR), parsed once on first use.
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "vectormap/style.h"

#define VG_EMBED(symbol, file)                                                                     \
    __asm__(".section .rodata\n"                                                                   \
            ".global " #symbol "_begin\n"                                                          \
            ".hidden " #symbol "_begin\n"                                                          \
            ".global " #symbol "_end\n"                                                            \
            ".hidden " #symbol "_end\n" #symbol "_begin:\n"                                        \
            ".incbin \"" VG_STYLES_DIR "/" file "\"\n" #symbol "_end:\n"                           \
            ".previous\n");                                                                        \
    extern "C" const char symbol##_begin[];                                                        \
    extern "C" const char symbol##_end[];

VG_EMBED(vg_style_omt_day, "openmaptiles-day.json")
VG_EMBED(vg_style_omt_night, "openmaptiles-night.json")
VG_EMBED(vg_style_pm_day, "protomaps-day.json")
VG_EMBED(vg_style_pm_night, "protomaps-night.json")

namespace vg::vmap {

namespace {

Style load(const char* begin, const char* end, const char* what) {
    std::string error;
    auto style = Style::parse(std::string_view(begin, static_cast<std::size_t>(end - begin)), error);
    if (!style) {
        // Only a broken build gets here: the files are checked by the tests.
        std::fprintf(stderr, "built-in style %s: %s\n", what, error.c_str());
        std::abort();
    }
    return std::move(*style);
}

}  // namespace

const Style& Style::builtin(Schema schema, bool night) {
    if (schema == Schema::Protomaps) {
        if (night) {
            static const Style s = load(vg_style_pm_night_begin, vg_style_pm_night_end, "protomaps-night");
            return s;
        }
        static const Style s = load(vg_style_pm_day_begin, vg_style_pm_day_end, "protomaps-day");
        return s;
    }
    if (night) {
        static const Style s = load(vg_style_omt_night_begin, vg_style_omt_night_end, "openmaptiles-night");
        return s;
    }
    static const Style s = load(vg_style_omt_day_begin, vg_style_omt_day_end, "openmaptiles-day");
    return s;
}

Schema detect_schema(const std::vector<std::string>& layer_names) {
    // Layer names only one of the two schemas has.
    static const std::string_view kOpenMapTiles[] = {"transportation", "transportation_name", "place",
                                                     "waterway",       "housenumber",         "water_name",
                                                     "aeroway",        "building",            "boundary",
                                                     "poi",            "park",                "mountain_peak"};
    static const std::string_view kProtomaps[] = {"earth", "roads", "places", "pois", "boundaries", "buildings",
                                                  "transit", "physical_line", "physical_point", "natural"};
    int omt = 0;
    int pm = 0;
    for (const auto& name : layer_names) {
        for (const auto n : kOpenMapTiles) omt += name == n;
        for (const auto n : kProtomaps) pm += name == n;
    }
    return pm > omt ? Schema::Protomaps : Schema::OpenMapTiles;
}

}  // namespace vg::vmap
