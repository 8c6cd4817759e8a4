// vortool mqtt publish|watch: one position published to the fleet's broker, or the fleet's positions
// printed as JSON lines, with the settings of vor_ini.txt in the working folder (options override them).
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "cli/commands.h"
#include "cli/fix_json.h"
#include "net/mqtt_link.h"
#include "platform/c_number.h"
#include "settings/settings_file.h"

namespace vg::cli {
namespace {

bool refused(MqttState s) {
    return s == MqttState::refused_password || s == MqttState::not_authorised || s == MqttState::tls_failure ||
           s == MqttState::failed;
}

}  // namespace

int run_mqtt(int argc, char** argv) {
    if (argc < 1 || (std::strcmp(argv[0], "publish") != 0 && std::strcmp(argv[0], "watch") != 0))
        return usage_error("mqtt", "publish or watch expected", argc ? argv[0] : nullptr);
    const bool publish = std::strcmp(argv[0], "publish") == 0;
    std::string ini;
    read_settings_bytes(kIniFile, ini);
    MqttSettings s = parse_mqtt_settings(ini, std::filesystem::current_path());
    std::vector<double> numbers;
    double seconds = 0;
    long count = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        const bool has_value = i + 1 < argc;
        if (a == "--url" && has_value) s.url = argv[++i];
        else if (a == "--name" && has_value) s.name = argv[++i];
        else if (a == "--password-file" && has_value) s.password_file = argv[++i];
        else if (a == "--cafile" && has_value) s.cafile = argv[++i];
        else if (!publish && (a == "--seconds" || a == "--count") && has_value) {
            const auto v = whole_c_number(argv[++i]);
            if (!v || *v <= 0) return usage_error("mqtt", "not a positive number", argv[i]);
            if (a == "--seconds") seconds = *v;
            else count = static_cast<long>(*v);
        } else if (publish && !a.starts_with("--") && numbers.size() < 2) {
            const auto v = whole_c_number(a);
            if (!v) return usage_error("mqtt", "not a number", argv[i]);
            numbers.push_back(*v);
        } else {
            return usage_error("mqtt", "unknown argument", argv[i]);
        }
    }
    if (publish && numbers.size() != 2) return usage_error("mqtt", "publish needs LAT and LON");
    if (s.url.empty()) return usage_error("mqtt", "no broker: give --url or an mqtt= line in vor_ini.txt");
    std::string why;
    const auto address = parse_mqtt_address(s.url, &why);
    if (!address) {
        std::fprintf(stderr, "Error: %s\n", why.c_str());
        return 1;
    }
    if (s.name.empty()) s.name = address->user;
    MqttOptions o;
    o.address = *address;
    o.cafile = s.cafile;
    o.name = publish ? s.name : std::string();  // a watcher publishes nothing and leaves no will
    o.subscribe = !publish;
    if (!address->user.empty()) {
        MqttPassword pw = read_mqtt_password(s.password_file);
        if (!pw.failure.empty()) {
            std::fprintf(stderr, "Error: %s\n", pw.failure.c_str());
            return 1;
        }
        o.password = std::move(pw.password);
    }
    std::mutex out_mu;
    long printed = 0;
    o.on_report = [&](const DeviceReport& r) {
        std::string line = "{\"id\":";
        append_json_string(line, r.id, JsonText::utf8);
        line += "," + mqtt_position_json(r).substr(1) + "\n";
        std::lock_guard lock(out_mu);
        std::fputs(line.c_str(), stdout);
        std::fflush(stdout);
        ++printed;
    };
    MqttLink link(o);
    if (!link.start()) {
        std::fprintf(stderr, "Error: %s\n", mqtt_status_text(link.status()).c_str());
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    const auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    bool sent = false;
    for (;;) {
        const MqttStatus st = link.status();
        if (refused(st.state)) {
            std::fprintf(stderr, "Error: %s\n", mqtt_status_text(st).c_str());
            return 1;
        }
        if (publish) {
            if (st.state == MqttState::connected && !sent) {
                DeviceReport p;
                p.lat = numbers[0];
                p.lon = numbers[1];
                p.time_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::system_clock::now().time_since_epoch()).count();
                sent = link.publish(p, true);
            }
            // Published, and a moment for the broker's answer (a refusal comes back as one).
            if (sent && st.published > 0 && elapsed() > 0.5) break;
            if (elapsed() > 10) {
                std::fprintf(stderr, "Error: %s\n", mqtt_status_text(st).c_str());
                return 1;
            }
        } else {
            std::lock_guard lock(out_mu);
            if ((count && printed >= count) || (seconds > 0 && elapsed() >= seconds)) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    link.stop();
    return 0;
}

}  // namespace vg::cli
