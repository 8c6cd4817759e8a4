// The NTRIP settings of vor_ini.txt: `ntrip` (the caster URL, http://user@host:port/MOUNT; absent or
// empty: no corrections are fetched), `ntrip_gga` (seconds between position reports to the caster,
// default 10, 0 never) and `ntrip_version` (1 or 2, default 2). The password is never in vor_ini.txt
// but in a file of its own beside it, kNtripPasswordFile, which must be readable by its owner only.
// Pure parsing plus file reads; any thread; no state kept. No text made here contains the password.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vg {

inline constexpr const char* kNtripPasswordFile = "ntrip_password.txt";

struct NtripSettings {
    std::string url;  // as written; empty: off
    int gga_seconds = 10;
    int version = 2;
};
NtripSettings parse_ntrip_settings(std::string_view ini_contents);
NtripSettings read_ntrip_settings(const std::filesystem::path& ini_file);

// The password of the file's first line (line end and surrounding blanks dropped). A missing file is
// an empty password. On POSIX a file that its group or others may read is refused: nullopt with the
// reason in `error` (which names the file and the fix, never its contents).
std::optional<std::string> read_ntrip_password(const std::filesystem::path& file, std::string& error);

// Replaces the password file with `password` (one line), the new file readable and writable by its
// owner only from the moment it exists. False with the reason in `error` (never the password).
bool write_ntrip_password(const std::filesystem::path& file, std::string_view password, std::string& error);

}  // namespace vg
