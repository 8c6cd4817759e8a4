// vortool find: places by name from the vector packs' indexes (made first where missing or stale),
// or a typed position, as JSON lines, best first:
//   {"name":…, "kind":…, "lat":…, "lon":…, "distance_m":…, "pack":…, "also":[…]}
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "cli/commands.h"
#include "cli/fix_json.h"
#include "platform/c_number.h"
#include "search/pack_search.h"
#include "tiles/local_source.h"
#include "tiles/tile_naming.h"

namespace vg::cli {

int run_find(int argc, char** argv) {
    std::string text, root = kDefaultMapsDir;
    std::optional<search::LatLon> from;
    long limit = 10;
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--near") {
            if (!has_value) return usage_error("find", "a value is required after", argv[i]);
            const auto at = search::parse_coordinates(argv[++i]);
            if (!at) return usage_error("find", "not a position", argv[i]);
            from = *at;
        } else if (arg == "--root") {
            if (!has_value || !*argv[i + 1]) return usage_error("find", "--root needs a folder");
            root = argv[++i];
        } else if (arg == "--limit") {
            const auto n = has_value ? whole_c_number(argv[i + 1]) : std::nullopt;
            if (!n || *n < 1 || *n > 1000 || *n != static_cast<long>(*n))
                return usage_error("find", "--limit needs a number from 1 to 1000");
            limit = static_cast<long>(*n);
            ++i;
        } else if (text.empty() && !arg.starts_with("--")) {
            text = arg;
        } else {
            return usage_error("find", text.empty() ? "unknown option" : "one search text only", argv[i]);
        }
    }
    if (text.empty()) return usage_error("find", "a search text is required");
    const auto folder = packs_folder(root);
    std::vector<std::string> problems;
    search::ensure_pack_indexes(
        folder,
        [last = std::string()](const std::string& pack, std::size_t done, std::size_t total) mutable {
            if (pack != last) std::fprintf(stderr, "vortool find: indexing %s (%zu tiles)\n", pack.c_str(), total);
            last = pack;
            (void)done;
        },
        nullptr, problems);
    for (const auto& p : problems) std::fprintf(stderr, "vortool find: %s\n", p.c_str());
    std::string out;
    for (const auto& r : search::search_folder(folder, text, from, static_cast<std::size_t>(limit))) {
        out += "{\"name\":";
        append_json_string(out, r.place.name, JsonText::utf8);
        out += ",\"kind\":";
        append_json_string(out, r.place.kind, JsonText::utf8);
        out += ",\"lat\":" + fixed_text(r.place.lat, 6) + ",\"lon\":" + fixed_text(r.place.lon, 6);
        out += ",\"distance_m\":" + (r.distance_m < 0 ? std::string("null") : fixed_text(r.distance_m, 0));
        out += ",\"pack\":";
        if (r.pack.empty()) out += "null";
        else append_json_string(out, r.pack, JsonText::utf8);
        out += ",\"also\":[";
        for (std::size_t k = 0; k < r.place.also.size(); ++k) {
            if (k) out += ',';
            append_json_string(out, r.place.also[k], JsonText::utf8);
        }
        out += "]}\n";
    }
    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0) return 1;
    return out.empty() ? 1 : 0;
}

}  // namespace vg::cli
