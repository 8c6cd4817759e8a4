// The tile version texts: short texts that some tile services need in their tile addresses, and the
// probe (over the HTTP client) that publishes them once on its own thread; the tile code reads them
// at any time.
#pragma once

#include <atomic>
#include <filesystem>
#include <string>
#include <string_view>
#include <thread>

#include "net/http_client.h"

namespace vg {

inline constexpr const char* kProbeFile = "tcpip.tmp";

// A text of up to 2 characters, empty until published; published at most once.
class TileVersionText {
public:
    // Publishes `text` (cut to 2 characters). Returns false when a text was already published.
    bool publish(std::string_view text);
    // The published text, or empty. Safe from any thread.
    std::string_view get() const;

private:
    char text_[3] = {};
    std::atomic<int> state_{0};  // 0 empty, 1 being written, 2 published
};

struct TileVersions {
    TileVersionText google_aerial;        // "/kh/v=%s&..." of Google satellite tiles
    TileVersionText virtual_earth_road;   // "?g=%s" of Virtual Earth road tiles
    TileVersionText virtual_earth_aerial; // "?g=%s" of Virtual Earth aerial tiles
};

// The home pages of the two services whose original tile addresses carry a version text, and the
// folder that receives the probe file. Whether the program downloads does not depend on them: each
// source counts as reachable by its own answers (SourceHealth).
struct ProbeConfig {
    std::string first_site = "http://maps.google.com/";  // its answer sets the Google satellite version
    std::string second_site = "http://www.bing.com/";    // its answer sets the Virtual Earth versions
    std::filesystem::path work_dir;                       // where tcpip.tmp goes; empty: working directory
    HttpOptions http;
};

// The probe: fetches the first site (an answer sets the Google satellite version "55"), then the
// second (an answer sets both Virtual Earth versions "77"). True when the first answered.
bool connectivity_probe(const ProbeConfig& config, TileVersions& versions);

// Runs connectivity_probe on its own thread; the destructor waits for it (each fetch is bounded by
// the HTTP waits), so the probe never outlives what it writes to.
class ConnectivityProbe {
public:
    ConnectivityProbe() = default;
    ~ConnectivityProbe() { wait(); }
    ConnectivityProbe(const ConnectivityProbe&) = delete;
    ConnectivityProbe& operator=(const ConnectivityProbe&) = delete;

    void start(ProbeConfig config, TileVersions& versions);
    bool finished() const { return finished_.load(); }
    void wait();

private:
    std::thread thread_;
    std::atomic<bool> finished_{false};
};

}  // namespace vg
