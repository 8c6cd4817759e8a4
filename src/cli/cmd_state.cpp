// vortool state: the Window state that window creation would build from the settings files of the
// working directory (missing files are not written), as one JSON object on one line.
#include <cstdio>
#include <string>
#include <string_view>

#include "app/window_state.h"
#include "cli/commands.h"
#include "cli/fix_json.h"
#include "cli/tile_args.h"

namespace vg::cli {

namespace {

void add_key(std::string& out, const char* key) {
    out += out.size() > 1 ? ",\"" : "\"";
    out += key;
    out += "\":";
}

void add_number(std::string& out, const char* key, long long value) {
    add_key(out, key);
    out += std::to_string(value);
}

void add_string(std::string& out, const char* key, std::string_view value) {
    add_key(out, key);
    append_json_string(out, value, JsonText::ascii);
}

}  // namespace

int run_state(int argc, char** argv) {
    if (argc != 0) {
        return usage_error("state", argv[0][0] == '-' ? "unknown option" : "unexpected argument", argv[0]);
    }
    const auto ws = create_window_state({}, nullptr);
    if (!ws) return 1;
    std::string out = "{";
    add_number(out, "map_source", static_cast<int>(ws->map_source));
    add_number(out, "device_type", static_cast<int>(ws->device_type));
    add_number(out, "port_number", ws->line.port_number);
    add_number(out, "baud_rate", ws->line.baud_rate);
    add_number(out, "byte_size", ws->line.byte_size);
    add_number(out, "parity", ws->line.parity);
    add_number(out, "stop_bits", ws->line.stop_bits);
    add_number(out, "flow_control", ws->line.flow_control);
    add_number(out, "big_maps", ws->big_maps);
    add_number(out, "hair", ws->hair);
    add_string(out, "dash", ws->dash ? std::string(1, ws->dash) : std::string());
    add_number(out, "stale", ws->stale_seconds);
    add_string(out, "maps_dir", ws->maps_dir);
    add_string(out, "track_file", ws->track_file);
    add_number(out, "plot", ws->plot);
    add_number(out, "base_enabled", ws->base_enabled);
    add_string(out, "base_host", ws->base_host);
    add_number(out, "base_port", ws->base_port);
    out += "}\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace vg::cli
