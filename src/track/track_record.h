// Recording every fix into a track file of its day, crash-safe.
//
// Layout: in the recording folder, `YYYY-MM-DD.gpx` per local calendar day (recsplit=day) or one
// `track.gpx` (recsplit=none), each beside its journal `<same name>.journal`. The journal is the
// record: one line per fix, "UTC-seconds latitude longitude elevation|-\n", appended by a writer
// thread and flushed to disk at most once a second. The GPX 1.1 file is made whole from the journal
// (written beside and renamed into place) when the recorder stops, when the day changes, and for
// every journal found when a recorder starts (a crash or a kill left it). Only the journal of the
// file being recorded is kept; the others are removed once their GPX is written.
//
// A journal line is read when it is complete (ends with LF), at most kMaxJournalLine bytes, and has
// three or four fields: a whole number of seconds, latitude and longitude within range, and an
// elevation number or "-". A torn last line (a kill mid-write) is cut off before the next append.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "track/track_log.h"

namespace vg {

inline constexpr std::size_t kMaxJournalLine = 128;
// A journal stops growing at this size (about 1.3 million fixes); later fixes are not recorded.
inline constexpr std::uintmax_t kMaxJournalBytes = 64u << 20;
// Fixes further apart than this are in different track segments (and drawn with a gap between them).
inline constexpr std::int64_t kFixGapSeconds = 120;

std::string journal_line(const TrackPoint& point);
// The points of a journal's text; every point has its utc_seconds.
std::vector<TrackPoint> read_journal(std::string_view text);
// The points cut into segments where the time steps back or jumps by more than `gap` seconds.
std::vector<TrackRun> split_runs(const std::vector<TrackPoint>& points, std::int64_t gap = kFixGapSeconds);
// True when `b` follows `a` within one segment.
bool same_segment(const TrackPoint& a, const TrackPoint& b, std::int64_t gap = kFixGapSeconds);

// The file name (without extension) of a fix at `utc_seconds`: its local day "2026-12-08", or "track".
std::string recording_name(std::int64_t utc_seconds, bool split_by_day);

// Writes `journal`'s GPX (same name, .gpx) from its complete lines; false when it cannot be read or
// the GPX cannot be written.
bool write_recording_gpx(const std::filesystem::path& journal);

// Makes the GPX of every journal in `dir` and removes each journal but `keep` (a file name such as
// "2026-12-08.journal") once its GPX is written. Returns how many GPX files were written.
int recover_recordings(const std::filesystem::path& dir, std::string_view keep);

// The recorder of one program run. `record` and `points` belong to one owning thread (the window's);
// the journal is written by the recorder's own thread, so `record` never waits on the disk (it takes
// one short lock). Failures (folder not writable, journal full) are reported once each through the
// diagnostics sink and the fixes are then only kept in memory.
class TrackRecorder {
public:
    struct Options {
        std::filesystem::path dir;
        bool split_by_day = true;
        int sync_interval_ms = 1000;  // the longest a written line waits for its flush to disk
    };
    // Reads the points of the file `now_utc` records into (its journal, at most kMaxJournalBytes:
    // a day at one fix a second is about 4 MB) and starts the writer thread, which first makes the
    // GPX of every journal left in the folder (recover_recordings).
    TrackRecorder(Options options, std::int64_t now_utc);
    // Writes what is queued, flushes it, stops the thread and writes the GPX of the open journal.
    ~TrackRecorder();
    TrackRecorder(const TrackRecorder&) = delete;
    TrackRecorder& operator=(const TrackRecorder&) = delete;

    // Records one fix (its utc_seconds set). A fix of another file (a new day) finishes the previous
    // file and starts the next: `points` then holds the new file's points only.
    void record(const TrackPoint& point);
    // The points of the file being recorded, oldest first (owner thread).
    const std::vector<TrackPoint>& points() const { return points_; }
    // Changes when the points change other than by an append.
    std::uint64_t version() const { return version_; }
    // The GPX file of the points (written at the latest when the recorder stops).
    std::filesystem::path gpx_path() const;
    const std::string& name() const { return name_; }
    // Waits at most `most` until the writer has written what was recorded so far (to the file; its
    // flush to disk follows within the sync interval). False when the time ran out.
    bool flush(std::chrono::milliseconds most);

private:
    void run();

    Options options_;
    std::string name_;  // file name of the points' file, without extension
    std::vector<TrackPoint> points_;
    std::uint64_t version_ = 0;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    struct Queued {
        std::string name;
        std::string line;
    };
    std::vector<Queued> queue_;
    std::uint64_t queued_count_ = 0;
    std::uint64_t written_count_ = 0;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace vg
