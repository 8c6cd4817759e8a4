// Fuzzes the vor_src.txt reader and the template expansion: any bytes give a catalogue whose every
// entry is well formed, and every address formed from it stays one line starting with its scheme.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tiles/tile_catalogue.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    vg::Catalogue catalogue = vg::builtin_catalogue();
    vg::read_sources_text(input, catalogue);
    for (const auto& e : catalogue.entries) {
        check(!e.name.empty() && e.name.find_first_of("/\\|\n") == std::string::npos);
        check(e.conn >= 1 && e.zooms.size() <= 5);
        // A fixed Maps command for the built-ins, else one of the catalogue range; one id per name.
        const int id = vg::command_id(e.menu_id);
        check((id >= 1021 && id <= 1028) || vg::is_catalogue_command(e.menu_id));
        for (const auto& other : catalogue.entries) check((other.name == e.name) == (other.menu_id == e.menu_id));
        if (!e.uses_fetcher()) continue;
        for (int level = 0; level < 5; ++level) {
            const auto url = vg::expand_template(e, level, level * 3, level * 5 + 1, "k");
            if (!url) continue;
            check(url->rfind("http://", 0) == 0 || url->rfind("https://", 0) == 0);
            check(url->find_first_of(" \r\n") == std::string::npos);
        }
    }
    return 0;
}
