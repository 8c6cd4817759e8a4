#include "track/track_record.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <ctime>
#include <fstream>

#include "platform/c_number.h"
#include "platform/clock.h"
#include "platform/diagnostics.h"
#include "platform/files.h"
#include "platform/temp_files.h"
#include "track/gpx.h"

namespace vg {
namespace {

namespace fs = std::filesystem;
constexpr const char* kJournalExtension = ".journal";
// Fixes waiting for the writer beyond this many (a disk that no longer answers) are dropped.
constexpr std::size_t kMaxQueued = 100'000;

bool read_bounded(const fs::path& path, std::uintmax_t most, std::string& out) {
    const long long size = regular_size(path);
    if (size < 0) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.resize(static_cast<std::size_t>(std::min<std::uintmax_t>(static_cast<std::uintmax_t>(size), most)));
    in.read(out.data(), static_cast<std::streamsize>(out.size()));
    out.resize(static_cast<std::size_t>(in.gcount()));
    return !in.bad();
}

std::optional<TrackPoint> parse_journal_line(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::string_view fields[5];
    std::size_t count = 0;
    while (!line.empty()) {
        if (count == 5) return std::nullopt;
        const std::size_t space = line.find(' ');
        fields[count++] = line.substr(0, space);
        line = space == std::string_view::npos ? std::string_view{} : line.substr(space + 1);
    }
    if (count < 3 || count > 4) return std::nullopt;
    TrackPoint p;
    std::int64_t seconds = 0;
    const auto [end, ec] = std::from_chars(fields[0].data(), fields[0].data() + fields[0].size(), seconds);
    if (ec != std::errc{} || end != fields[0].data() + fields[0].size()) return std::nullopt;
    p.utc_seconds = seconds;
    const auto lat = whole_c_number(fields[1]);
    const auto lon = whole_c_number(fields[2]);
    if (!lat || !lon || !std::isfinite(*lat) || !std::isfinite(*lon) || std::fabs(*lat) > 90 || std::fabs(*lon) > 180)
        return std::nullopt;
    p.latitude = *lat;
    p.longitude = *lon;
    if (count == 4 && fields[3] != "-") {
        const auto ele = whole_c_number(fields[3]);
        if (!ele || !std::isfinite(*ele)) return std::nullopt;
        p.elevation = *ele;
    }
    return p;
}

// Opens a journal for appending, first cutting off a last line a kill left without its LF, so that
// the next line starts on a line of its own. -1 on failure.
int open_journal(const fs::path& path) {
    const long long size = regular_size(path);
    if (size > 0) {
        std::string tail;
        const std::uintmax_t from = static_cast<std::uintmax_t>(size) > kMaxJournalLine + 1
                                        ? static_cast<std::uintmax_t>(size) - kMaxJournalLine - 1
                                        : 0;
        std::ifstream in(path, std::ios::binary);
        if (in.seekg(static_cast<std::streamoff>(from))) {
            tail.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            if (!tail.empty() && tail.back() != '\n') {
                const std::size_t nl = tail.rfind('\n');
                std::error_code ec;
                fs::resize_file(path, nl == std::string::npos ? 0 : from + nl + 1, ec);
            }
        }
    }
    return open_file(path, O_WRONLY | O_CREAT | O_APPEND);
}

}  // namespace

std::string journal_line(const TrackPoint& point) {
    std::string out = std::to_string(point.utc_seconds.value_or(0));
    out += ' ' + fixed_text(point.latitude, 7) + ' ' + fixed_text(point.longitude, 7) + ' ';
    // Heights beyond a million metres are no receiver's: left out, so that the line stays short.
    const bool height = point.elevation && std::isfinite(*point.elevation) && std::fabs(*point.elevation) < 1e6;
    out += height ? fixed_text(*point.elevation, 1) : std::string("-");
    out += '\n';
    return out;
}

std::vector<TrackPoint> read_journal(std::string_view text) {
    std::vector<TrackPoint> out;
    for (std::size_t nl = text.find('\n'); nl != std::string_view::npos; nl = text.find('\n')) {
        if (nl <= kMaxJournalLine)
            if (auto p = parse_journal_line(text.substr(0, nl))) out.push_back(*p);
        text.remove_prefix(nl + 1);
    }
    return out;
}

bool same_segment(const TrackPoint& a, const TrackPoint& b, std::int64_t gap) {
    if (!a.utc_seconds || !b.utc_seconds) return true;
    return *b.utc_seconds >= *a.utc_seconds && *b.utc_seconds - *a.utc_seconds <= gap;
}

std::vector<TrackRun> split_runs(const std::vector<TrackPoint>& points, std::int64_t gap) {
    std::vector<TrackRun> runs;
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (i == 0 || !same_segment(points[i - 1], points[i], gap)) runs.emplace_back();
        runs.back().push_back(points[i]);
    }
    return runs;
}

std::string recording_name(std::int64_t utc_seconds, bool split_by_day) {
    if (!split_by_day) return "track";
    std::tm parts{};
    const std::time_t t = static_cast<std::time_t>(utc_seconds);
    if (!local_parts(t, parts) && !utc_parts(t, parts)) return "track";
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d", &parts);
    return buf;
}

bool write_recording_gpx(const fs::path& journal) {
    std::string text;
    if (!read_bounded(journal, kMaxJournalBytes, text)) return false;
    fs::path gpx = journal;
    gpx.replace_extension(".gpx");
    remove_stale_temporaries_of(gpx, std::chrono::seconds(60));
    const std::string name = journal.stem().string();
    return write_file_replacing(gpx, write_gpx(split_runs(read_journal(text)), name), {.flush = true});
}

int recover_recordings(const fs::path& dir, std::string_view keep) {
    std::error_code ec;
    std::vector<fs::path> journals;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().extension() == kJournalExtension && it->is_regular_file(ec)) journals.push_back(it->path());
    int written = 0;
    for (const fs::path& journal : journals) {
        if (!write_recording_gpx(journal)) {
            report("Recording: the GPX of " + journal.string() + " cannot be written");
            continue;
        }
        ++written;
        if (journal.filename() != keep) remove_file(journal);
    }
    return written;
}

TrackRecorder::TrackRecorder(Options options, std::int64_t now_utc) : options_(std::move(options)) {
    std::error_code ec;
    fs::create_directories(options_.dir, ec);
    name_ = recording_name(now_utc, options_.split_by_day);
    std::string text;
    if (read_bounded(options_.dir / (name_ + kJournalExtension), kMaxJournalBytes, text)) points_ = read_journal(text);
    // The journals a crash left are made into GPX by the writer, before it appends anything.
    thread_ = std::thread([this, keep = name_ + kJournalExtension] {
        recover_recordings(options_.dir, keep);
        run();
    });
}

TrackRecorder::~TrackRecorder() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

fs::path TrackRecorder::gpx_path() const { return options_.dir / (name_ + ".gpx"); }

void TrackRecorder::record(const TrackPoint& point) {
    const std::string name = recording_name(point.utc_seconds.value_or(0), options_.split_by_day);
    if (name != name_) {
        name_ = name;
        points_.clear();
        ++version_;
    }
    std::string line = journal_line(point);
    {
        std::lock_guard lock(mutex_);
        if (queue_.size() >= kMaxQueued) return;
        queue_.push_back({name, std::move(line)});
        ++queued_count_;
    }
    points_.push_back(point);
    wake_.notify_one();
}

bool TrackRecorder::flush(std::chrono::milliseconds most) {
    std::unique_lock lock(mutex_);
    const std::uint64_t target = queued_count_;
    return done_.wait_for(lock, most, [&] { return written_count_ >= target; });
}

void TrackRecorder::run() {
    int fd = -1;
    std::string open_name;
    std::uintmax_t size = 0;
    bool dirty = false, reported_open = false, reported_full = false;
    auto synced = std::chrono::steady_clock::now();
    const auto interval = std::chrono::milliseconds(options_.sync_interval_ms);
    auto finish = [&] {
        if (fd < 0) return;
        if (dirty) flush_to_disk(fd);
        close_file(fd);
        fd = -1;
        dirty = false;
    };
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait_for(lock, interval, [&] { return stop_ || !queue_.empty(); });
        std::vector<Queued> batch;
        batch.swap(queue_);
        const std::uint64_t upto = queued_count_;
        const bool stopping = stop_;
        lock.unlock();
        for (const Queued& q : batch) {
            if (q.name != open_name) {
                const fs::path before = options_.dir / (open_name + kJournalExtension);
                finish();
                // The file of the day before is finished: its GPX made, its journal no longer needed.
                if (!open_name.empty() && write_recording_gpx(before)) remove_file(before);
                open_name = q.name;
                const fs::path path = options_.dir / (open_name + kJournalExtension);
                fd = open_journal(path);
                size = fd < 0 ? 0 : static_cast<std::uintmax_t>(std::max(0LL, regular_size(path)));
                if (fd < 0 && !reported_open) report("Recording: " + path.string() + " cannot be written");
                reported_open |= fd < 0;
            }
            if (fd < 0) continue;
            if (size + q.line.size() > kMaxJournalBytes) {
                if (!reported_full) report("Recording: " + open_name + " is full; later fixes are not recorded");
                reported_full = true;
                continue;
            }
            if (write_all(fd, q.line.data(), q.line.size())) size += q.line.size();
            dirty = true;
        }
        if (dirty && (stopping || std::chrono::steady_clock::now() - synced >= interval)) {
            flush_to_disk(fd);
            dirty = false;
            synced = std::chrono::steady_clock::now();
        }
        lock.lock();
        written_count_ = upto;
        done_.notify_all();
        if (stopping) break;
    }
    lock.unlock();
    finish();
    if (!open_name.empty()) write_recording_gpx(options_.dir / (open_name + kJournalExtension));
}

}  // namespace vg
