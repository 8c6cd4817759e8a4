// vortool ntrip: the source table of an NTRIP caster (mountpoints with format, network and distance,
// nearest first) and the correction stream of a mountpoint written to a file (valid RTCM 3 frames only).
// The password comes from a file readable only by its owner, never from the command line, and is never
// printed.
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "cli/commands.h"
#include "net/ntrip.h"
#include "platform/c_number.h"
#include "platform/sockets.h"
#include "settings/ntrip_settings.h"

namespace vg::cli {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;
extern "C" void on_ntrip_signal(int) { g_interrupted = 1; }

struct Args {
    std::string url;
    std::string out;
    std::string password_file = kNtripPasswordFile;
    double seconds = 0;  // 0: until interrupted
    bool by_distance = false;
    double lat = 0, lon = 0;
    int version = 2;
};

}  // namespace

int run_ntrip(int argc, char** argv) {
    if (argc < 1) return usage_error("ntrip", "needs sources or get, and a caster URL");
    const std::string action = argv[0];
    if (action != "sources" && action != "get") return usage_error("ntrip", "unknown action", argv[0]);
    Args a;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == "--near" && action == "sources") {
            double lat = 0, lon = 0;
            if (!value || scan_c_numbers(value, ',', {&lat, &lon}) != std::string_view(value).size() ||
                std::abs(lat) > 90 || std::abs(lon) > 180)
                return usage_error("ntrip", "--near needs LAT,LON in degrees", value);
            a.by_distance = true;
            a.lat = lat;
            a.lon = lon;
            ++i;
        } else if (arg == "--out" && action == "get") {
            if (!value) return usage_error("ntrip", "--out needs a file name");
            a.out = value;
            ++i;
        } else if (arg == "--seconds" && action == "get") {
            const auto s = value ? whole_c_number(value) : std::nullopt;
            if (!s || *s <= 0 || *s > 1e7) return usage_error("ntrip", "--seconds needs a positive number", value);
            a.seconds = *s;
            ++i;
        } else if (arg == "--password-file") {
            if (!value) return usage_error("ntrip", "--password-file needs a file name");
            a.password_file = value;
            ++i;
        } else if (arg == "--v1") {
            a.version = 1;
        } else if (!arg.empty() && arg[0] == '-') {
            return usage_error("ntrip", "unknown option", argv[i]);
        } else if (a.url.empty()) {
            a.url = arg;
        } else {
            return usage_error("ntrip", "more than one URL", argv[i]);
        }
    }
    const auto url = ntrip::parse_url(a.url);
    if (!url) return usage_error("ntrip", "needs a caster URL http://[user@]host[:port]/MOUNT (no password in it)",
                                 a.url.empty() ? nullptr : a.url.c_str());
    if (action == "get" && (a.out.empty() || url->mountpoint.empty()))
        return usage_error("ntrip", "get needs a mountpoint in the URL and --out FILE");
    std::string error;
    std::string password;
    if (!url->user.empty()) {
        const auto p = read_ntrip_password(a.password_file, error);
        if (!p) {
            std::fprintf(stderr, "vortool ntrip: %s\n", error.c_str());
            return 1;
        }
        password = *p;
    }
    sockets_startup();

    if (action == "sources") {
        auto table = ntrip::fetch_source_table(*url, password, a.version, 15000, error);
        if (!table) {
            std::fprintf(stderr, "vortool ntrip: %s: %s\n", ntrip::describe(*url).c_str(), error.c_str());
            return 1;
        }
        if (a.by_distance) ntrip::sort_by_distance(*table, a.lat, a.lon);
        for (const auto& m : *table) {
            std::string line = m.mountpoint + "\t" + m.format + "\t" + m.format_details + "\t" + m.network + "\t" +
                               m.country + "\t" + (m.located ? fixed_text(m.lat, 2) + "," + fixed_text(m.lon, 2) : "?");
            if (a.by_distance) line += "\t" + (m.located ? fixed_text(m.distance_m / 1000.0, 1) + " km" : "?");
            std::printf("%s\n", line.c_str());
        }
        return 0;
    }

    std::ofstream out(a.out, std::ios::binary | std::ios::trunc);
    if (!out) {
        std::fprintf(stderr, "vortool ntrip: %s cannot be written\n", a.out.c_str());
        return 1;
    }
    ntrip::ClientOptions options;
    options.url = *url;
    options.password = password;
    options.version = a.version;
    options.on_frame = [&out](const std::uint8_t* data, std::size_t size) {
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        out.flush();
    };
    std::signal(SIGINT, on_ntrip_signal);
    std::signal(SIGTERM, on_ntrip_signal);
    ntrip::Client client;
    if (!client.start(options)) {
        std::fprintf(stderr, "vortool ntrip: the reader thread could not be started\n");
        return 1;
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(a.seconds);
    ntrip::State last = ntrip::State::Connecting;
    while (!g_interrupted && (a.seconds == 0 || std::chrono::steady_clock::now() < end)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const auto s = client.status();
        if (s.state != last && s.state == ntrip::State::Streaming)
            std::fprintf(stderr, "vortool ntrip: streaming from %s\n", ntrip::describe(*url).c_str());
        else if (s.state != last && s.state != ntrip::State::Connecting)
            std::fprintf(stderr, "vortool ntrip: %s: %s\n", ntrip::state_name(s.state), s.cause.c_str());
        last = s.state;
    }
    const auto s = client.status();
    client.stop();
    std::fprintf(stderr, "vortool ntrip: %llu frames, %llu bad, %llu bytes\n",
                 static_cast<unsigned long long>(s.frames), static_cast<unsigned long long>(s.bad_frames),
                 static_cast<unsigned long long>(s.bytes));
    return s.frames > 0 ? 0 : 1;
}

}  // namespace vg::cli
