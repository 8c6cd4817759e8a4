#include "cli/catalogue_source.h"

#include <cctype>
#include <cstdio>

#ifndef VG_NO_ATLAS
#include "atlas/local_tiles.h"
#endif
#include "cli/tile_args.h"
#include "tiles/local_source.h"
#include "tiles/source_kind.h"

namespace vg::cli {

std::optional<ChosenSource> choose_source(std::string_view text, std::string_view root) {
    ChosenSource chosen;
    chosen.catalogue = load_catalogue(".");
    if (!root.empty()) {
        // A pack of the folder that is refused is skipped, and said so: the other sources work on.
        const std::size_t before = chosen.catalogue.problems.size();
        add_packs(chosen.catalogue, packs_folder(root));
        for (std::size_t i = before; i < chosen.catalogue.problems.size(); ++i)
            std::fprintf(stderr, "vortool: map pack skipped: %s\n", chosen.catalogue.problems[i].c_str());
    }
    auto same = [](std::string_view a, std::string_view b) {
        if (a.size() != b.size()) return false;
        for (std::size_t i = 0; i < a.size(); ++i)
            if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
                return false;
        return true;
    };
    const auto names = chosen.catalogue.names();
    for (int pass = 0; pass < 2 && chosen.name.empty(); ++pass)
        for (const auto& name : names)
            if (pass == 0 ? name == text : same(name, text)) {
                chosen.name = name;
                break;
            }
    if (chosen.name.empty()) {
        const auto original = parse_source_argument(text);
        if (!original) return std::nullopt;
        chosen.name = source_info(*original).site_value;
    }
    const CatalogueEntry* e = chosen.catalogue.source(chosen.name);
    if (!e) return std::nullopt;
    chosen.geometry = e->geometry();
    return chosen;
}

void prepare_local_drawing(const CatalogueEntry* entry) {
    if (!entry || !tile_source_kind(*entry).drawn_by_maker(*entry)) return;
#ifdef VG_NO_ATLAS
    // Made without the built-in map (no Qt): no local maker, so the Atlas and Etopo2 stay undrawn.
    (void)entry;
#else
    atlas::ensure_offscreen_gui();
    atlas::install_local_tile_maker();
#endif
}

FetchContext catalogue_fetch_context(const CatalogueEntry* entry, Fetcher& fetcher) {
    FetchContext ctx;
    ctx.entry = entry;
    ctx.fetcher = &fetcher;
    ctx.settings = read_fetch_settings(".");
    if (entry) ctx.key = read_source_key(".", entry->name);
    ctx.health = std::make_shared<SourceHealth>();
    return ctx;
}

}  // namespace vg::cli
