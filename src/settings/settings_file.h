// The key=value settings files (vor_set.txt, vor_ini.txt) and the start-position file (vor_pos.txt).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vg {

class Window;

inline constexpr const char* kSetFile = "vor_set.txt";
inline constexpr const char* kIniFile = "vor_ini.txt";
inline constexpr const char* kPosFile = "vor_pos.txt";

// Looks `key` up in `file`: the first line (read in 127-character pieces, first character
// lower-cased) that contains the key anywhere gives everything after its first "=".
// Returns 1 and fills `value` when found, 0 when not found or the file cannot be opened (then, when
// a window is given, "Config file %s not found!" is shown).
int read_setting(const std::filesystem::path& file, std::string_view key, Window* window, std::string& value);

// Rewrites `dir`/vor_set.txt with every line that starts with `key` replaced by key=value (or the
// line appended). Returns 1 when the file existed and was rewritten, 0 when it was created with the
// single line or could not be written.
int write_setting(std::string_view key, std::string_view value, const std::filesystem::path& dir = {});

struct ProxySetting {
    std::string host;
    int port = 0;
};
// The proxy line ("prxy=" or "prox=") of `ini_file`, when it names a host and a port.
std::optional<ProxySetting> read_proxy_setting(const std::filesystem::path& ini_file);

// Writes the default lines of each of the three files that cannot be opened for reading in `dir`.
void write_default_files(const std::filesystem::path& dir = {});

struct StartPosition {
    double latitude = 0;
    double longitude = 0;
};
// Reads vor_pos.txt in its long ("N  60 10 30") or packed ("N 6010.30") form.
std::optional<StartPosition> read_start_position(const std::filesystem::path& pos_file);

}  // namespace vg
