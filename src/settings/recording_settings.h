// The recording settings of vor_ini.txt: `record` (yes|no, default yes), `recdir` (folder of the
// recorded tracks, default the settings folder's tracks/) and `recsplit` (day|none, default day).
// Pure parsing over the file's bytes plus the file reads and writes; any thread; no state kept.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace vg {

struct RecordingSettings {
    bool record = true;
    std::string dir;            // as written; empty: `tracks` in the settings folder
    bool split_by_day = true;   // false: one file for every day (recsplit=none)
    bool operator==(const RecordingSettings&) const = default;
};

// The settings of a vor_ini.txt's bytes (the lookup rule of find_setting). `record` is off only for a
// value starting with n, N, 0 or "off"; `recsplit` is none only for "none" (any case, blanks around
// allowed); every other value, or a missing key, gives the default.
RecordingSettings parse_recording_settings(std::string_view ini_contents);
// The same from the file; the defaults when it cannot be read.
RecordingSettings read_recording_settings(const std::filesystem::path& ini_file);
// Writes the three lines into `ini_file` (write_setting_file, one key at a time, so lines added by
// hand stay); true when the file existed and each line was written.
bool write_recording_settings(const std::filesystem::path& ini_file, const RecordingSettings& settings);
// The folder recordings go to: `dir` (relative to `settings_dir` unless absolute), else
// `settings_dir`/tracks.
std::filesystem::path recording_folder(const RecordingSettings& settings, const std::filesystem::path& settings_dir);

}  // namespace vg
