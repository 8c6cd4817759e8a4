// vortool ports: the serial devices of this machine as the COM settings dialog lists them, as a
// JSON array (one object per line): path, device, kind, description, accessible.
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "cli/fix_json.h"
#include "platform/serial_ports.h"

namespace vg::cli {

int run_ports(int argc, char** argv) {
    if (argc > 0) return usage_error("ports", "unexpected argument", argv[0]);
    const std::vector<SerialPortInfo> ports = list_serial_ports();
    std::string out = "[";
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const SerialPortInfo& p = ports[i];
        out += i == 0 ? "\n" : ",\n";
        out += "{\"path\":";
        append_json_string(out, p.path, JsonText::utf8);
        out += ",\"device\":";
        append_json_string(out, p.device, JsonText::utf8);
        out += ",\"kind\":";
        append_json_string(out, p.kind, JsonText::utf8);
        out += ",\"description\":";
        append_json_string(out, p.description, JsonText::utf8);
        out += ",\"accessible\":";
        out += p.accessible ? "true" : "false";
        out += "}";
    }
    out += ports.empty() ? "]\n" : "\n]\n";
    std::fputs(out.c_str(), stdout);
    return 0;
}

}  // namespace vg::cli
