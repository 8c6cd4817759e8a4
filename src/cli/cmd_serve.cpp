// vortool serve --port P [--bind ADDR]: the position server in the foreground. Prints one JSON line
// per accepted position ({"lat":..,"lon":..}, with "speed", "course", "alt", "accuracy" and "time"
// when a phone sent them) and one per withdrawn fix ({"stale":true}) until
// interrupted (SIGINT or SIGTERM).
#include <atomic>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "cli/commands.h"
#include "cli/fix_json.h"
#include "gps/fix_record.h"
#include "net/position_server.h"

namespace vg::cli {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void on_signal(int) { g_interrupted = 1; }


}  // namespace

int run_serve(int argc, char** argv) {
    PositionServerConfig config;
    bool have_port = false;
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--port" && i + 1 < argc) {
            const std::string_view value = argv[++i];
            int port = -1;
            auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), port);
            if (ec != std::errc() || end != value.data() + value.size() || port < 0 || port > 65535) {
                return usage_error("serve", "bad port", argv[i]);
            }
            config.port = port;
            have_port = true;
        } else if (arg == "--bind" && i + 1 < argc) {
            config.bind_address = argv[++i];
        } else if (arg == "--port" || arg == "--bind") {
            return usage_error("serve", "missing value after", argv[i]);
        } else {
            return usage_error("serve", "unknown option", argv[i]);
        }
    }
    if (!have_port) return usage_error("serve", "--port is required");

    std::mutex out;
    config.on_position = [&](const PositionRequestOutcome& taken) {
        std::string line = "{\"lat\":";
        append_json_number(line, *taken.latitude);
        line += ",\"lon\":";
        append_json_number(line, *taken.longitude);
        // The phone form's further fields, when it gave them.
        const std::pair<const char*, const std::optional<double>&> extra[] = {
            {"speed", taken.speed_knots}, {"course", taken.course}, {"alt", taken.altitude}, {"accuracy", taken.accuracy}};
        for (const auto& [key, value] : extra) {
            if (!value) continue;
            line += ",\"";
            line += key;
            line += "\":";
            append_json_number(line, *value);
        }
        if (taken.timestamp) line += ",\"time\":" + std::to_string(*taken.timestamp);
        line += "}\n";
        std::lock_guard lock(out);
        std::fputs(line.c_str(), stdout);
        std::fflush(stdout);
    };
    // Notices (wrong relay keys) go to standard error, so standard output stays JSON lines.
    config.on_notice = [&](const std::string& line) {
        std::lock_guard lock(out);
        std::fprintf(stderr, "%s\n", line.c_str());
    };
    config.on_stale = [&] {
        std::lock_guard lock(out);
        std::fputs("{\"stale\":true}\n", stdout);
        std::fflush(stdout);
    };

    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);

    SharedFix fix;
    PositionServer server(fix, nullptr);
    if (!server.start(config)) return 1;
    std::fprintf(stderr, "vortool serve: listening on port %d\n", server.port());
    while (!g_interrupted && server.running()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    server.stop();
    return 0;
}

}  // namespace vg::cli
