// The key=value settings files (vor_set.txt, vor_ini.txt) and the start-position file (vor_pos.txt).
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vg {

inline constexpr const char* kSetFile = "vor_set.txt";
inline constexpr const char* kIniFile = "vor_ini.txt";
inline constexpr const char* kPosFile = "vor_pos.txt";

// Longest piece of a line a settings lookup sees at once; longer lines are read in pieces of
// this size and each piece is looked at as a line of its own.
inline constexpr std::size_t kSettingPiece = 127;
// Longest piece of a line the proxy lookup and the start-position reader see.
inline constexpr std::size_t kProxyPiece = 255;
inline constexpr std::size_t kPositionPiece = 31;

// Looks `key` up in `file`: the first line (read in 127-character pieces, first character
// lower-cased) that contains the key anywhere gives everything after its first "=".
struct SettingLookup {
    enum class Status { Found, NotFound, NoFile };
    Status status = Status::NotFound;
    std::string value;  // when Found
};
SettingLookup look_up_setting(const std::filesystem::path& file, std::string_view key);

// The message a program shows for a settings file that cannot be opened (Status::NoFile):
// "Config file %s not found!".
std::string config_file_missing_text(const std::filesystem::path& file);

// The lookup with the value as an optional (nothing when not found or the file cannot be opened).
std::optional<std::string> setting_value(const std::filesystem::path& file, std::string_view key);

// The same filling `value`; true when found.
bool read_setting(const std::filesystem::path& file, std::string_view key, std::string& value);

// The whole bytes of a settings file into `out`: ok, missing (no such file; `out` empty) or failed
// (it exists but cannot be read: a folder, a device, no permission).
enum class SettingsRead { ok, missing, failed };
SettingsRead read_settings_bytes(const std::filesystem::path& file, std::string& out);

// The lookup of read_setting over the bytes of a settings file (CR LF or LF line ends).
// A line that contains the key but no "=" has no value and the search goes on.
std::optional<std::string> find_setting(std::string_view contents, std::string_view key);

// Rewrites `dir`/vor_set.txt with every line that starts with `key` replaced by key=value (or the
// line appended). Returns true when the file existed and was rewritten, false when it was created with the
// single line or could not be written.
// Every other line is kept whole, whatever its length and however many lines the file has. The new
// file is written beside the old one and renamed over it, so a failed write leaves the old file as
// it was. An empty key, or a key or value holding a line end or a NUL, is refused (false, file
// untouched); so is a vor_set.txt that exists but cannot be read, and a key or value that the
// lookup would not read back as written.
bool write_setting(std::string_view key, std::string_view value, const std::filesystem::path& dir = {});
// The same for another settings file (vor_ini.txt for the comN lines the COM settings dialog writes).
bool write_setting_file(const std::filesystem::path& file, std::string_view key, std::string_view value);

// The bytes write_setting writes: `contents` (the current file, or nothing when it does not exist)
// with every line starting with `key` replaced by "key=value", or that line appended; CR LF line
// ends; a last line without a line end gets one. When the lookup would still find another line
// first, the new line is written at the top instead, so that it is the one read.
std::string rewrite_setting_contents(std::string_view contents, std::string_view key, std::string_view value);

struct ProxySetting {
    std::string host;
    int port = 0;
};
// The proxy line ("prxy=" or "prox=") of `ini_file`, when it names a host and a port. Only the first
// line that holds either key counts. A port outside 1..65535 names no proxy.
std::optional<ProxySetting> read_proxy_setting(const std::filesystem::path& ini_file);
std::optional<ProxySetting> parse_proxy_setting(std::string_view contents);

// The shared secret of the position server and the base upload: the `relaykey` line of `ini_file`
// without surrounding blanks; none when the line is missing or its value is empty.
std::optional<std::string> read_relay_key(const std::filesystem::path& ini_file);

// Writes the default lines of each of the three files that cannot be opened for reading in `dir`.
// An existing file is never overwritten; a file that cannot be created is skipped.
void write_default_files(const std::filesystem::path& dir = {});

// The default contents of kIniFile, kSetFile or kPosFile (CR LF line ends); empty for other names.
std::string default_file_contents(std::string_view file_name);

// Host and port of the `base` line written to a new vor_ini.txt.
inline constexpr const char* kDefaultBaseValue = "off:4477";

struct StartPosition {
    double latitude = 0;
    double longitude = 0;
};
// Reads vor_pos.txt in its long ("N  60 10 30") or packed ("N 6010.30") form.
std::optional<StartPosition> read_start_position(const std::filesystem::path& pos_file);
// The same over the bytes of the file.
StartPosition parse_start_position(std::string_view contents);
// One line of the file: "%c %d %d %d" as degrees, minutes, seconds, else "%c %lf" as DDDMM.SS,
// else 0. The hemisphere letter is not applied here.
double parse_position_line(std::string_view line);

}  // namespace vg
