// RTK corrections: the NTRIP client of the `ntrip=` setting, started with the receiver link, its frames
// written to the receiver through the serial write path, and its state for GPS Monitor.
#include <ctime>

#include "app/app.h"
#include "platform/c_number.h"
#include "platform/diagnostics.h"
#include "settings/ntrip_settings.h"
#include "settings/settings_file.h"

namespace vg {

namespace {

bool is_serial(DeviceType type) {
    return type == DeviceType::Nmea || type == DeviceType::EarthMateUsb || type == DeviceType::EarthMate ||
           type == DeviceType::TripMate || type == DeviceType::Garmin;
}

}  // namespace

void App::start_ntrip() {
    stop_ntrip();
    const NtripSettings settings = read_ntrip_settings(settings_path(kIniFile));
    if (settings.url.empty()) return;  // off: nothing is sent unasked
    const auto url = ntrip::parse_url(settings.url);
    if (!url) {
        report("NTRIP: the ntrip= line is not http://user@host:port/MOUNT (a password belongs in " +
                   std::string(kNtripPasswordFile) + ")",
               DiagnosticStream::Error);
        return;
    }
    if (!is_serial(ws_->device_type)) {
        report("NTRIP: corrections are written to serial receivers only; this device gets none",
               DiagnosticStream::Error);
        return;
    }
    std::string error;
    const auto password = read_ntrip_password(settings_path(kNtripPasswordFile), error);
    if (!password) {
        report("NTRIP: " + error, DiagnosticStream::Error);
        return;
    }
    ntrip::ClientOptions options;
    options.url = *url;
    options.password = *password;
    options.version = settings.version;
    options.gga_seconds = settings.gga_seconds;
    options.gga = [this]() -> std::optional<std::string> {
        const FixRecord fix = fix_.snapshot();
        if (fix.fix_dimension <= 0 || !valid_coordinates(fix.latitude, fix.longitude)) return std::nullopt;
        const std::time_t t = std::time(nullptr);
        return ntrip::gga_sentence(fix.latitude, fix.longitude, fix.altitude, static_cast<double>(t % 86400));
    };
    options.on_frame = [this](const std::uint8_t* data, std::size_t size) { send_to_receiver(data, size); };
    ntrip_ = std::make_unique<ntrip::Client>();
    if (!ntrip_->start(std::move(options))) {
        ntrip_.reset();
        report("NTRIP: the corrections' reader could not be started", DiagnosticStream::Error);
    }
}

void App::stop_ntrip() {
    if (ntrip_) ntrip_->stop();
    ntrip_.reset();
}

std::string App::ntrip_monitor_text() const {
    if (!ntrip_) return {};
    const ntrip::Status s = ntrip_->status();
    std::string text = std::string("NTRIP ") + ntrip::state_name(s.state);
    if (!s.cause.empty()) text += ": " + s.cause;
    text += ", " + fixed_text(s.bytes_per_second, 0) + " B/s";
    if (s.frame_age_s >= 0) text += ", last frame " + fixed_text(s.frame_age_s, 1) + " s ago";
    if (!s.types.empty()) {
        text += "\n";
        bool first = true;
        for (const auto& [type, count] : s.types) {
            text += (first ? "" : " ") + std::to_string(type) + "\u00d7" + std::to_string(count);
            first = false;
        }
    }
    return text;
}

}  // namespace vg
