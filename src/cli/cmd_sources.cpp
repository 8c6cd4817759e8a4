// vortool sources: the tile source catalogue as the program reads it in the current folder (built-in
// sources, then ./vor_src.txt), one JSON line per source and layer. Problems of vor_src.txt lines go
// to standard error with their line numbers; those lines are skipped.
#include <cstdio>
#include <string>
#include <string_view>

#include "cli/commands.h"
#include "tiles/tile_catalogue.h"

namespace vg::cli {
namespace {

// Length of the valid UTF-8 sequence at the start of `s`, or 0.
std::size_t utf8_length(std::string_view s) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char c = b(0);
    std::size_t n = c < 0x80 ? 1 : (c >= 0xC2 && c <= 0xDF) ? 2 : (c >= 0xE0 && c <= 0xEF) ? 3 : (c >= 0xF0 && c <= 0xF4) ? 4 : 0;
    if (n == 0 || s.size() < n) return 0;
    for (std::size_t i = 1; i < n; ++i)
        if ((b(i) & 0xC0) != 0x80) return 0;
    return n;
}

// A JSON string of UTF-8 text (the attributions carry "©"); a byte that is not UTF-8 becomes U+FFFD.
void append_json_string(std::string& out, std::string_view text) {
    out += '"';
    while (!text.empty()) {
        const char c = text.front();
        const std::size_t n = utf8_length(text);
        if (n == 0) {
            out += "\\ufffd";
            text.remove_prefix(1);
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(c));
            out += buffer;
        } else {
            out.append(text.substr(0, n));
        }
        text.remove_prefix(n);
    }
    out += '"';
}

}  // namespace

int run_sources(int argc, char** argv) {
    if (argc != 0) return usage_error("sources", "unexpected argument", argv[0]);
    const Catalogue catalogue = load_catalogue(".");
    for (const auto& problem : catalogue.problems) std::fprintf(stderr, "vortool sources: %s\n", problem.c_str());
    for (const auto& e : catalogue.entries) {
        std::string line = "{\"name\":";
        append_json_string(line, e.name);
        line += ",\"layer\":";
        append_json_string(line, e.aerial ? "aerial" : "map");
        line += ",\"template\":";
        append_json_string(line, e.tmpl);
        line += ",\"zooms\":[";
        for (std::size_t i = 0; i < e.zooms.size(); ++i) line += (i ? "," : "") + std::to_string(e.zooms[i]);
        line += "],\"attribution\":";
        append_json_string(line, e.attribution);
        line += ",\"conn\":" + std::to_string(e.conn);
        line += std::string(",\"nobulk\":") + (e.nobulk ? "true" : "false");
        line += ",\"fresh\":" + std::to_string(e.fresh_days);
        line += ",\"menu_id\":" + std::to_string(e.menu_id);
        static const char* const kinds[] = {"original", "remote", "local", "pack"};
        line += ",\"kind\":";
        append_json_string(line, kinds[static_cast<int>(e.kind)]);
        line += "}\n";
        std::fputs(line.c_str(), stdout);
    }
    return 0;
}

}  // namespace vg::cli
