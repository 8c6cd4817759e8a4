// The settings the Preferences dialog edits, read from and written back to the settings files:
// each key with its file, the lookup the program reads it by and what the program takes without the
// line; a check of each value (the reason a value is refused); and the read-modify-write of the
// files, which changes only the lines of keys whose value changed and keeps every other line
// (write_setting's rules and crash-safe replacement, one replacement per file). Also the user lines
// of vor_src.txt, rewritten with its comment and blank lines kept in place, byte for byte.
// Pure functions over files and text; no threads, no toolkit. Failures are returned, never printed.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vg {

enum class SettingsFile { set, ini };  // vor_set.txt, vor_ini.txt

struct PreferenceKey {
    std::string_view name;      // the key as written: "gpsd" writes "gpsd=..."
    SettingsFile file;
    std::string_view lookup;    // the text the program looks the line up by ("gpsd=", "hair")
    std::string_view fallback;  // the value the program takes without the line
};

// Every key the dialog edits, in the order of its tabs.
const std::vector<PreferenceKey>& preference_keys();
// The key of `name`: one of preference_keys(), or a serial device line "com1".."com255" (vor_ini.txt).
std::optional<PreferenceKey> preference_key(std::string_view name);

// Key name → value text.
using Preferences = std::map<std::string, std::string, std::less<>>;

// The values the program would take from the files in `dir` (the fallback where a line is missing),
// and the device line of the port that `port` names.
Preferences read_preferences(const std::filesystem::path& dir);

// Why `value` cannot be saved as `name` ("" when it can): unknown key, a line end, and the value
// rules of each key (numbers in range, host:port, yes/no, ...).
std::string preference_problem(std::string_view name, std::string_view value);

// The port number of a `port` value ("COM3,4800,n,8,1" → 3), when it starts with COMn.
std::optional<int> port_number_of(std::string_view port_value);

struct PreferencesWritten {
    std::vector<std::string> changed;  // the keys whose lines were written
    std::string failure;               // why nothing of a file was written; empty on success
    bool ok() const { return failure.empty(); }
};

// Writes the keys whose value in `after` differs from `before` (or is missing there). Every value is
// checked first; one refused value writes nothing. Each file is read once, its lines rewritten by
// rewrite_setting_contents and replaced whole (flushed, permissions kept); a file that exists but
// cannot be read is left alone.
PreferencesWritten write_preferences(const std::filesystem::path& dir, const Preferences& before,
                                     const Preferences& after);

// The source lines of a vor_src.txt (neither blank nor comments), without their line ends.
std::vector<std::string> source_lines_of(std::string_view contents);
// `contents` with its source lines replaced in order by `lines`: comment and blank lines stay where
// they were, byte for byte, and so does every source line equal to the one replacing it; further
// lines are appended (CR LF), source lines beyond `lines` removed.
std::string rewrite_source_lines(std::string_view contents, const std::vector<std::string>& lines);
// The same on `dir`/vor_src.txt (created when missing), replaced whole. A line holding a line end
// or a NUL is refused (false, nothing written), as is a file that exists but cannot be read.
bool write_source_lines(const std::filesystem::path& dir, const std::vector<std::string>& lines);
// The source lines of `dir`/vor_src.txt (none when missing).
std::vector<std::string> read_source_lines(const std::filesystem::path& dir);

}  // namespace vg
