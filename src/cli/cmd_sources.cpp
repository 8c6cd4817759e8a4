// vortool sources: the tile source catalogue as the program reads it in the current folder (built-in
// sources, then ./vor_src.txt), one JSON line per source and layer. Problems of vor_src.txt lines go
// to standard error with their line numbers; those lines are skipped.
#include <cstdio>
#include <string>
#include <string_view>

#include "cli/commands.h"
#include "cli/fix_json.h"
#include "tiles/local_source.h"
#include "tiles/source_kind.h"
#include "tiles/tile_catalogue.h"

namespace vg::cli {

int run_sources(int argc, char** argv) {
    if (argc != 0 && (argc != 2 || std::string_view(argv[0]) != "--root"))
        return usage_error("sources", "unexpected argument", argv[0]);
    Catalogue catalogue = load_catalogue(".");
    if (argc == 2) add_packs(catalogue, packs_folder(argv[1]));
    for (const auto& problem : catalogue.problems) std::fprintf(stderr, "vortool sources: %s\n", problem.c_str());
    for (const auto& e : catalogue.entries) {
        std::string line = "{\"name\":";
        append_json_string(line, e.name, JsonText::utf8);
        line += ",\"layer\":";
        append_json_string(line, e.aerial ? "aerial" : "map", JsonText::utf8);
        line += ",\"template\":";
        // A vector source's template field as its line says it.
        const std::string field = !e.tilejson_url.empty() ? "tilejson=" + e.tilejson_url
                                  : !e.archive_url.empty() ? "pmtiles=" + e.archive_url
                                                           : e.tmpl;
        append_json_string(line, field, JsonText::utf8);
        line += ",\"zooms\":[";
        for (std::size_t i = 0; i < e.zooms.size(); ++i) line += (i ? "," : "") + std::to_string(e.zooms[i]);
        line += "],\"attribution\":";
        append_json_string(line, e.attribution, JsonText::utf8);
        line += ",\"conn\":" + std::to_string(e.conn);
        line += std::string(",\"nobulk\":") + (e.nobulk ? "true" : "false");
        line += ",\"fresh\":" + std::to_string(e.fresh_days);
        line += ",\"maxzoom\":" + std::to_string(e.max_zoom());
        line += ",\"menu_id\":" + std::to_string(command_id(e.menu_id));
        line += ",\"kind\":";
        append_json_string(line, e.is_dem() ? "dem" : tile_source_kind(e).name(), JsonText::utf8);
        if (e.is_dem()) line += e.dem == DemEncoding::terrain_rgb ? ",\"dem\":\"terrainrgb\"" : ",\"dem\":\"terrarium\"";
        line += "}\n";
        std::fputs(line.c_str(), stdout);
    }
    return 0;
}

}  // namespace vg::cli
