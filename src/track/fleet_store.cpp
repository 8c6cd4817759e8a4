#include "track/fleet_store.h"

#include <sqlite3.h>

#include <cmath>
#include <functional>

#include "platform/diagnostics.h"

namespace vg {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kSchema =
    "PRAGMA journal_mode=WAL;"
    "PRAGMA synchronous=NORMAL;"
    "CREATE TABLE IF NOT EXISTS position(device TEXT NOT NULL, time_ms INTEGER NOT NULL, lat REAL NOT NULL,"
    " lon REAL NOT NULL, speed_kmh REAL, course_deg REAL, altitude_m REAL, accuracy_m REAL, battery_pct REAL,"
    " via TEXT);"
    "CREATE INDEX IF NOT EXISTS position_device_time ON position(device, time_ms);"
    "CREATE INDEX IF NOT EXISTS position_time ON position(time_ms);";

std::int64_t now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void bind_optional(sqlite3_stmt* s, int column, const std::optional<double>& v) {
    if (v && std::isfinite(*v)) sqlite3_bind_double(s, column, *v);
    else sqlite3_bind_null(s, column);
}

std::optional<double> column_optional(sqlite3_stmt* s, int column) {
    if (sqlite3_column_type(s, column) == SQLITE_NULL) return std::nullopt;
    return sqlite3_column_double(s, column);
}

// A read-only connection that is closed when it goes.
struct Reader {
    sqlite3* db = nullptr;
    ~Reader() { sqlite3_close(db); }
    bool open(const std::filesystem::path& file, std::string& error) {
        if (sqlite3_open_v2(file.string().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
            error = file.string() + ": " + (db ? sqlite3_errmsg(db) : "cannot open");
            return false;
        }
        sqlite3_busy_timeout(db, 2000);
        return true;
    }
};

bool read_points(sqlite3* db, const char* sql, const std::function<void(sqlite3_stmt*)>& bind,
                 std::vector<FleetPoint>& out, std::string& error) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) != SQLITE_OK) {
        error = sqlite3_errmsg(db);
        return false;
    }
    bind(s);
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
        FleetPoint p;
        if (const auto* text = sqlite3_column_text(s, 0)) p.id = reinterpret_cast<const char*>(text);
        p.time_ms = sqlite3_column_int64(s, 1);
        p.lat = sqlite3_column_double(s, 2);
        p.lon = sqlite3_column_double(s, 3);
        p.speed_kmh = column_optional(s, 4);
        p.course_deg = column_optional(s, 5);
        p.altitude_m = column_optional(s, 6);
        out.push_back(std::move(p));
    }
    if (rc != SQLITE_DONE) error = sqlite3_errmsg(db);
    sqlite3_finalize(s);
    return rc == SQLITE_DONE;
}

}  // namespace

FleetStore::FleetStore(FleetStoreOptions options) : options_(std::move(options)) {
    std::error_code ec;
    if (options_.file.has_parent_path()) std::filesystem::create_directories(options_.file.parent_path(), ec);
    if (sqlite3_open_v2(options_.file.string().c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr) != SQLITE_OK ||
        sqlite3_busy_timeout(db_, 2000) != SQLITE_OK || sqlite3_exec(db_, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK) {
        report("Fleet history: " + options_.file.string() + ": " + (db_ ? sqlite3_errmsg(db_) : "cannot open"));
        sqlite3_close(db_);
        db_ = nullptr;
        return;
    }
    ok_.store(true);
    thread_ = std::thread([this] { writer(); });
}

FleetStore::~FleetStore() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    sqlite3_close(db_);
}

bool FleetStore::add(const DeviceReport& report) {
    if (!ok_.load()) {
        dropped_.fetch_add(1);
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        if (queue_.size() >= options_.queue_limit) {
            dropped_.fetch_add(1);
            return false;
        }
        queue_.push_back(report);
        if (queue_.back().time_ms == 0) queue_.back().time_ms = now_ms();
        ++queued_total_;
    }
    return true;
}

bool FleetStore::flush(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    const std::uint64_t target = queued_total_;
    wake_.notify_all();
    return committed_.wait_for(lock, limit,
                               [&] { return (writer_ready_ && committed_total_ >= target) || !ok_.load(); }) &&
           ok_.load();
}

void FleetStore::writer() {
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db_,
                       "INSERT INTO position(device, time_ms, lat, lon, speed_kmh, course_deg, altitude_m, accuracy_m,"
                       " battery_pct, via) VALUES(?,?,?,?,?,?,?,?,?,?)",
                       -1, &insert, nullptr);
    auto prune = [&] {
        if (options_.retention_days <= 0) return;
        const std::int64_t before = now_ms() - static_cast<std::int64_t>(options_.retention_days) * 86'400'000;
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(db_, "DELETE FROM position WHERE time_ms < ?", -1, &s, nullptr) == SQLITE_OK) {
            sqlite3_bind_int64(s, 1, before);
            sqlite3_step(s);
        }
        sqlite3_finalize(s);
    };
    prune();
    {
        std::lock_guard lock(mutex_);
        writer_ready_ = true;
    }
    committed_.notify_all();
    auto last_prune = Clock::now();
    std::deque<DeviceReport> batch;
    for (;;) {
        bool stop = false;
        {
            std::unique_lock lock(mutex_);
            wake_.wait_for(lock, options_.commit_every, [&] { return stopping_; });
            batch.swap(queue_);
            stop = stopping_;
        }
        const std::size_t n = batch.size();
        if (n > 0 && insert) {
            bool good = sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK;
            for (const DeviceReport& r : batch) {
                if (!good) break;
                sqlite3_reset(insert);
                sqlite3_bind_text(insert, 1, r.id.data(), static_cast<int>(r.id.size()), SQLITE_TRANSIENT);
                sqlite3_bind_int64(insert, 2, r.time_ms);
                sqlite3_bind_double(insert, 3, r.lat);
                sqlite3_bind_double(insert, 4, r.lon);
                bind_optional(insert, 5, r.speed_kmh);
                bind_optional(insert, 6, r.course_deg);
                bind_optional(insert, 7, r.altitude_m);
                bind_optional(insert, 8, r.accuracy_m);
                bind_optional(insert, 9, r.battery_pct);
                sqlite3_bind_text(insert, 10, r.via.data(), static_cast<int>(r.via.size()), SQLITE_TRANSIENT);
                good = sqlite3_step(insert) == SQLITE_DONE;
            }
            good = sqlite3_exec(db_, good ? "COMMIT" : "ROLLBACK", nullptr, nullptr, nullptr) == SQLITE_OK && good;
            if (good) {
                stored_.fetch_add(n);
            } else {
                dropped_.fetch_add(n);
                report("Fleet history: " + options_.file.string() + ": " + sqlite3_errmsg(db_));
            }
        }
        batch.clear();
        {
            std::lock_guard lock(mutex_);
            committed_total_ += n;
        }
        committed_.notify_all();
        if (stop) break;
        if (Clock::now() - last_prune > std::chrono::hours(1)) {
            prune();
            last_prune = Clock::now();
        }
    }
    sqlite3_finalize(insert);
}

bool read_fleet_track(const std::filesystem::path& file, std::string_view id, std::int64_t from_ms,
                      std::int64_t to_ms, std::vector<FleetPoint>& out, std::string& error) {
    Reader r;
    if (!r.open(file, error)) return false;
    return read_points(
        r.db,
        "SELECT device, time_ms, lat, lon, speed_kmh, course_deg, altitude_m FROM position"
        " WHERE device = ? AND time_ms BETWEEN ? AND ? ORDER BY time_ms",
        [&](sqlite3_stmt* s) {
            sqlite3_bind_text(s, 1, id.data(), static_cast<int>(id.size()), SQLITE_TRANSIENT);
            sqlite3_bind_int64(s, 2, from_ms);
            sqlite3_bind_int64(s, 3, to_ms);
        },
        out, error);
}

bool fleet_positions_at(const std::filesystem::path& file, std::int64_t at_ms, std::int64_t window_ms,
                        std::vector<FleetPoint>& out, std::string& error) {
    Reader r;
    if (!r.open(file, error)) return false;
    // SQLite takes the other columns of a max() aggregate from the row holding the maximum.
    return read_points(
        r.db,
        "SELECT device, max(time_ms), lat, lon, speed_kmh, course_deg, altitude_m FROM position"
        " WHERE time_ms BETWEEN ? AND ? GROUP BY device ORDER BY device",
        [&](sqlite3_stmt* s) {
            sqlite3_bind_int64(s, 1, at_ms - window_ms);
            sqlite3_bind_int64(s, 2, at_ms);
        },
        out, error);
}

std::optional<std::pair<std::int64_t, std::int64_t>> fleet_time_span(const std::filesystem::path& file) {
    Reader r;
    std::string error;
    if (!r.open(file, error)) return std::nullopt;
    sqlite3_stmt* s = nullptr;
    std::optional<std::pair<std::int64_t, std::int64_t>> span;
    if (sqlite3_prepare_v2(r.db, "SELECT min(time_ms), max(time_ms) FROM position", -1, &s, nullptr) == SQLITE_OK &&
        sqlite3_step(s) == SQLITE_ROW && sqlite3_column_type(s, 0) != SQLITE_NULL)
        span = std::pair(sqlite3_column_int64(s, 0), sqlite3_column_int64(s, 1));
    sqlite3_finalize(s);
    return span;
}

}  // namespace vg
