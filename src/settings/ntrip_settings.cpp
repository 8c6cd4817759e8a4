#include "settings/ntrip_settings.h"

#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/files.h"
#include "settings/settings_file.h"
#include "settings/text_scan.h"

namespace vg {

namespace {

int small_number(std::string_view text, int fallback, int low, int high) {
    text = trim_blanks(text);
    if (text.empty() || text.size() > 6) return fallback;
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return fallback;
        value = value * 10 + (c - '0');
    }
    return value < low || value > high ? fallback : value;
}

}  // namespace

NtripSettings parse_ntrip_settings(std::string_view ini_contents) {
    NtripSettings out;
    // "ntrip=" so that the ntrip_gga and ntrip_version lines are never taken for it.
    if (const auto v = find_setting(ini_contents, "ntrip=")) out.url = std::string(trim_blanks(*v));
    if (const auto v = find_setting(ini_contents, "ntrip_gga")) out.gga_seconds = small_number(*v, 10, 0, 3600);
    if (const auto v = find_setting(ini_contents, "ntrip_version")) out.version = small_number(*v, 2, 1, 2);
    return out;
}

NtripSettings read_ntrip_settings(const std::filesystem::path& ini_file) {
    std::string contents;
    read_settings_bytes(ini_file, contents);
    return parse_ntrip_settings(contents);
}

std::optional<std::string> read_ntrip_password(const std::filesystem::path& file, std::string& error) {
    std::error_code ec;
    const auto status = std::filesystem::status(file, ec);
    if (ec || !std::filesystem::exists(status)) return std::string();
#ifndef _WIN32
    using std::filesystem::perms;
    const perms others = perms::group_read | perms::group_write | perms::others_read | perms::others_write;
    if ((status.permissions() & others) != perms::none) {
        error = "the NTRIP password file " + file.string() +
                " may be read by other users: it is not used until only its owner can read it (chmod 600)";
        return std::nullopt;
    }
#endif
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = "the NTRIP password file " + file.string() + " cannot be read";
        return std::nullopt;
    }
    std::string line;
    std::getline(in, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return std::string(trim_blanks(line));
}

bool write_ntrip_password(const std::filesystem::path& file, std::string_view password, std::string& error) {
    if (password.find_first_of("\r\n") != std::string_view::npos) {
        error = "an NTRIP password cannot hold a line end";
        return false;
    }
    std::filesystem::path temp;
    const int fd = create_temp_beside(file, temp);
    if (fd < 0) {
        error = "the NTRIP password file " + file.string() + " cannot be written";
        return false;
    }
    std::error_code ec;
    using std::filesystem::perms;
    std::filesystem::permissions(temp, perms::owner_read | perms::owner_write, std::filesystem::perm_options::replace,
                                 ec);
    const std::string line = std::string(password) + "\n";
    const bool written = !ec && write_all(fd, line.data(), line.size()) && flush_to_disk(fd);
    close_file(fd);
    if (!written || !replace_file(temp, file)) {
        remove_file(temp);
        error = "the NTRIP password file " + file.string() + " cannot be written";
        return false;
    }
    return true;
}

}  // namespace vg
