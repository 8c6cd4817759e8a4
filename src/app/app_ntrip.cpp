// RTK corrections: the NTRIP client of the `ntrip=` setting, started with the receiver link, its frames
// written to the receiver through the serial write path, and its state for GPS Monitor.
#include <ctime>
#include <mutex>
#include <thread>

#include "app/app.h"
#include "platform/c_number.h"
#include "platform/diagnostics.h"
#include "settings/ntrip_settings.h"
#include "settings/settings_file.h"
#include "tiles/geometry.h"

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

// What the NTRIP Casters dialog shows, written by the fetching worker and read by the dialog's polls.
struct App::NtripTable {
    std::mutex mutex;
    NtripCasterTexts texts;
};

namespace {

// How long one request for a source table may take in all.
constexpr int kTableTimeoutMs = 15000;

// The caster part of an `ntrip=` URL ("http://user@host:port"), "" when there is none.
std::string caster_of(const std::string& setting) {
    const auto url = ntrip::parse_url(setting);
    if (!url) return {};
    std::string text = ntrip::describe(*url);
    return text.substr(0, text.rfind('/'));
}

NtripCasterRow caster_row(const ntrip::Mountpoint& m) {
    NtripCasterRow row;
    row.mountpoint = m.mountpoint;
    row.identifier = m.identifier;
    row.format = m.format + (m.format_details.empty() ? "" : " (" + m.format_details + ")");
    row.network = m.network;
    row.country = m.country;
    if (m.distance_m >= 0) row.distance = fixed_text(m.distance_m / 1000.0, m.distance_m < 10'000 ? 1 : 0) + " km";
    row.wants_position = m.nmea;
    return row;
}

}  // namespace

void App::open_ntrip_casters() {
    if (!window_) return;
    if (!ntrip_table_) ntrip_table_ = std::make_shared<NtripTable>();
    NtripDialogData data;
    data.caster = caster_of(read_ntrip_settings(settings_path(kIniFile)).url);
    data.fetch = [this](const std::string& caster, const std::string& password) {
        return fetch_ntrip_table(caster, password);
    };
    data.poll = [table = ntrip_table_] {
        std::lock_guard lock(table->mutex);
        return table->texts;
    };
    data.choose = [this](const std::string& caster, const std::string& mountpoint, const std::string& password) {
        return choose_ntrip_mountpoint(caster, mountpoint, password);
    };
    window_->open_ntrip_dialog(std::move(data));
}

std::string App::fetch_ntrip_table(const std::string& caster, const std::string& password) {
    auto url = ntrip::parse_url(caster);
    if (!url) return "The caster is not http://[user@]host[:port] (a password belongs in its own field)";
    url->mountpoint.clear();
    std::string key = password;
    if (key.empty()) {
        std::string error;
        const auto stored = read_ntrip_password(settings_path(kNtripPasswordFile), error);
        if (!stored) return error;
        key = *stored;
    }
    // Distances from the position, or from the middle of the map while there is none.
    const FixRecord fix = fix_.snapshot();
    double lat = fix.latitude, lon = fix.longitude;
    std::string from = "the position";
    if (fix.fix_dimension <= 0 || !valid_coordinates(lat, lon)) {
        const MapSource src = source();
        lat = pixel_to_latitude(static_cast<int>(view_.centre_y), src, view_.level);
        lon = pixel_to_longitude(static_cast<int>(view_.centre_x), src, view_.level);
        from = "the middle of the map";
    }
    const int version = read_ntrip_settings(settings_path(kIniFile)).version;
    auto table = ntrip_table_;
    {
        std::lock_guard lock(table->mutex);
        if (table->texts.busy) return "A list is being fetched; wait for it";
        table->texts.busy = true;
        table->texts.message = "Asking " + ntrip::describe(*url) + " for its mountpoints...";
    }
    std::thread([table, url = *url, key, version, lat, lon, from] {
        std::string error;
        auto mountpoints = ntrip::fetch_source_table(url, key, version, kTableTimeoutMs, error);
        NtripCasterTexts texts;
        if (!mountpoints) {
            texts.message = "The caster's list could not be read: " + error;
        } else {
            ntrip::sort_by_distance(*mountpoints, lat, lon);
            for (const auto& m : *mountpoints) texts.rows.push_back(caster_row(m));
            texts.message = std::to_string(texts.rows.size()) + " mountpoints, nearest to " + from + " first";
        }
        std::lock_guard lock(table->mutex);
        table->texts = std::move(texts);
    }).detach();
    return {};
}

std::string App::choose_ntrip_mountpoint(const std::string& caster, const std::string& mountpoint,
                                         const std::string& password) {
    auto url = ntrip::parse_url(caster);
    if (!url || mountpoint.empty() || mountpoint.find_first_of("/ \t\r\n") != std::string::npos)
        return "Choose a mountpoint of the list first";
    url->mountpoint = mountpoint;
    if (!password.empty()) {
        std::string error;
        if (!write_ntrip_password(settings_path(kNtripPasswordFile), password, error)) return error;
    }
    const std::string setting = ntrip::describe(*url);
    if (!write_setting_file(settings_path(kIniFile), "ntrip", setting))
        return "vor_ini.txt could not be written; ntrip= is unchanged";
    std::string said = "ntrip=" + setting + " is set";
    bool open = false;
    {
        std::lock_guard lock(receiver_mutex_);
        if (receiver_) {
            const ReceiverState state = receiver_->status().state;
            open = state != ReceiverState::Closed && state != ReceiverState::Failed;
        }
    }
    if (open) {
        start_ntrip();
        said += (ntrip_ ? "; corrections are starting" : "; see the message line");
    } else {
        said += "; corrections start when the receiver is connected";
    }
    return said;
}

}  // namespace vg
