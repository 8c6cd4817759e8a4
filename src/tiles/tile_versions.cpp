#include "tiles/tile_versions.h"

#include <system_error>

namespace vg {
namespace {

void remove_probe_file(const std::filesystem::path& file) {
    std::error_code ec;
    std::filesystem::remove(file, ec);
}

// Fetches `url` into the probe file, which is removed before and after. True when answered.
bool probe_site(const ProbeConfig& config, const std::string& url) {
    const std::filesystem::path file = config.work_dir / kProbeFile;
    remove_probe_file(file);
    const bool answered = http_get_file(url, file, config.http);
    remove_probe_file(file);
    return answered;
}

}  // namespace

bool TileVersionText::publish(std::string_view text) {
    int expected = 0;
    if (!state_.compare_exchange_strong(expected, 1, std::memory_order_acquire)) return false;
    const std::size_t n = text.size() < 2 ? text.size() : 2;
    for (std::size_t i = 0; i < n; ++i) text_[i] = text[i];
    text_[n] = '\0';
    state_.store(2, std::memory_order_release);
    return true;
}

std::string_view TileVersionText::get() const {
    if (state_.load(std::memory_order_acquire) != 2) return {};
    return std::string_view(text_);
}

bool connectivity_probe(const ProbeConfig& config, TileVersions& versions) {
    const bool answered = probe_site(config, config.first_site);
    if (answered) versions.google_aerial.publish("55");
    if (probe_site(config, config.second_site)) {
        versions.virtual_earth_road.publish("77");
        versions.virtual_earth_aerial.publish("77");
    }
    remove_probe_file(config.work_dir / kProbeFile);
    return answered;
}

void ConnectivityProbe::start(ProbeConfig config, TileVersions& versions) {
    wait();
    finished_.store(false);
    thread_ = std::thread([this, config = std::move(config), &versions] {
        connectivity_probe(config, versions);
        finished_.store(true);
    });
}

void ConnectivityProbe::wait() {
    if (thread_.joinable()) thread_.join();
}

}  // namespace vg
