// vortool watch: opens the receiver the settings of the current folder name (serial port and unit,
// gpsd, NMEA network, Remote) the way the window does, and prints the fix record as one JSON line
// (the form of vortool decode) whenever it changes, until the time is up or it is interrupted.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "app/window_state.h"
#include "cli/commands.h"
#include "cli/fix_json.h"
#include "gps/device_type.h"
#include "net/receivers.h"
#include "platform/c_number.h"
#include "settings/settings_file.h"

namespace vg::cli {

namespace {

volatile std::sig_atomic_t g_watch_stop = 0;
extern "C" void on_watch_signal(int) { g_watch_stop = 1; }

int watch_usage(const char* what, const char* arg) { return usage_error("watch", what, arg); }

// Whether the receiver has told anything yet: a time, a position, a fix or satellites. Records
// before that (a greeting or a bare message line) would print as all zeros.
bool has_reading(const FixRecord& fix) {
    return fix.utc_text[0] != '\0' || fix.latitude != 0 || fix.longitude != 0 || fix.fix_dimension > 0 ||
           fix.sats_in_view > 0 || fix.sky_count > 0;
}

}  // namespace

int run_watch(int argc, char** argv) {
    std::optional<DeviceType> type;
    double seconds = 0;  // 0: until interrupted
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == "--device") {
            if (!value) return watch_usage("--device needs a value", nullptr);
            type = device_from_unit(value);
            if (!type) return watch_usage("unknown device", value);
            ++i;
        } else if (arg == "--seconds") {
            seconds = value ? whole_c_number(value).value_or(-1) : -1;
            if (!(seconds > 0) || seconds > 1e7)
                return watch_usage("--seconds needs a positive number", value);
            ++i;
        } else {
            return watch_usage("unknown argument", argv[i]);
        }
    }

    const std::filesystem::path dir = std::filesystem::current_path();
    std::unique_ptr<WindowState> ws = create_window_state(dir, nullptr);
    if (!ws) return watch_usage("cannot read the settings of this folder", nullptr);
    if (type) ws->device_type = *type;
    const DeviceType device = ws->device_type;

    SharedFix fix;
    std::atomic<int> silence{0};
    ReceiverSetup setup;
    setup.settings_dir = dir;
    setup.silence_ticks = &silence;
    setup.line = ws->line;
    setup.base_port = ws->base_port;  // the Remote server listens where the window's does
    const std::unique_ptr<Receiver> receiver = make_receiver(device, fix, setup);
    if (receiver->open() != LinkOpen::Opened) {
        const ReceiverStatus status = receiver->status();
        std::fprintf(stderr, "vortool watch: No GPS connected%s%s\n", status.cause.empty() ? "" : ": ",
                     status.cause.c_str());
        return 1;
    }

#ifdef _WIN32
    std::signal(SIGINT, on_watch_signal);  // Ctrl+C; Windows has no sigaction
    std::signal(SIGTERM, on_watch_signal);
#else
    struct sigaction sa {};
    sa.sa_handler = on_watch_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
#endif

    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    std::string printed = fix_to_json(fix.snapshot());
    while (!g_watch_stop && (seconds == 0 || std::chrono::steady_clock::now() < end)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const FixRecord now = fix.snapshot();
        if (!has_reading(now)) continue;
        std::string json = fix_to_json(now);
        if (json != printed) {
            std::printf("%s\n", json.c_str());
            std::fflush(stdout);
            printed = std::move(json);
        }
    }
    receiver->close();
    return 0;
}

}  // namespace vg::cli
