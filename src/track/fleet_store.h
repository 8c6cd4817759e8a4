// The fleet's history: every position of another device kept in SQLite (`<data>/fleet.sqlite`, WAL,
// one table with an index on device and time). `FleetStore::add` queues a report from any thread
// without touching the disk; the store's writer thread commits the queue at least once a second, so a
// kill loses at most the last second. Rows older than the retention are removed at start and hourly.
// Reading (`read_fleet_track`, `fleet_positions_at`) opens its own read-only connection, from any
// thread. Failures (a file that cannot be opened or written) are reported once through the
// diagnostics sink; the store then drops what it is given and counts it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "gps/device_report.h"

struct sqlite3;

namespace vg {

inline constexpr const char* kFleetStoreFile = "fleet.sqlite";
inline constexpr int kFleetRetentionDays = 30;
// Reports waiting for the writer at most; beyond it the newest are dropped and counted.
inline constexpr std::size_t kFleetQueueLimit = 100000;

struct FleetStoreOptions {
    std::filesystem::path file;
    int retention_days = kFleetRetentionDays;  // 0 or less: kept for ever
    std::chrono::milliseconds commit_every{250};
    std::size_t queue_limit = kFleetQueueLimit;
};

class FleetStore {
public:
    // Opens (creating) the file and starts the writer thread.
    explicit FleetStore(FleetStoreOptions options);
    // Commits what is queued, then ends the writer thread.
    ~FleetStore();
    FleetStore(const FleetStore&) = delete;
    FleetStore& operator=(const FleetStore&) = delete;

    // True when the file is open for writing.
    bool ok() const { return ok_.load(); }
    // Queues one report (any thread; a report without a time gets the time it is added). Returns
    // false, counting it in dropped(), when the queue is full or the store is not ok.
    bool add(const DeviceReport& report);
    // Waits, at most `limit`, until the start's pruning is done and everything queued before the
    // call is committed.
    bool flush(std::chrono::milliseconds limit = std::chrono::seconds(5));

    std::uint64_t stored() const { return stored_.load(); }
    std::uint64_t dropped() const { return dropped_.load(); }

private:
    void writer();

    FleetStoreOptions options_;
    std::atomic<bool> ok_{false};
    std::atomic<std::uint64_t> stored_{0}, dropped_{0};
    std::mutex mutex_;
    std::condition_variable wake_, committed_;
    std::deque<DeviceReport> queue_;
    std::uint64_t queued_total_ = 0;     // under mutex_
    std::uint64_t committed_total_ = 0;  // under mutex_
    bool stopping_ = false;
    bool writer_ready_ = false;  // under mutex_: the writer has pruned and waits for reports
    sqlite3* db_ = nullptr;  // the writer thread's once it runs
    std::thread thread_;
};

// One stored position.
struct FleetPoint {
    std::string id;
    std::int64_t time_ms = 0;
    double lat = 0, lon = 0;
    std::optional<double> speed_kmh, course_deg, altitude_m;
};

// The positions of device `id` with from_ms ≤ time ≤ to_ms, oldest first. False with a reason in
// `error` when the file cannot be read.
bool read_fleet_track(const std::filesystem::path& file, std::string_view id, std::int64_t from_ms,
                      std::int64_t to_ms, std::vector<FleetPoint>& out, std::string& error);

// The last position of each device at or before `at_ms` and no older than `window_ms`, by id.
bool fleet_positions_at(const std::filesystem::path& file, std::int64_t at_ms, std::int64_t window_ms,
                        std::vector<FleetPoint>& out, std::string& error);

// The earliest and latest stored time, or nullopt when the store is empty or unreadable.
std::optional<std::pair<std::int64_t, std::int64_t>> fleet_time_span(const std::filesystem::path& file);

}  // namespace vg
