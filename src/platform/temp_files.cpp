#include "platform/temp_files.h"

#include <cctype>
#include <system_error>

namespace vg {

namespace {

bool all_digits(std::string_view text) {
    if (text.empty()) return false;
    for (const char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

}  // namespace

bool is_temporary_file_name(std::string_view name) {
    // NAME.partXXXXXX: the six characters mkstemp fills in.
    if (const auto at = name.rfind(".part"); at != std::string_view::npos && at > 0 && name.size() - at == 11) {
        bool plain = true;
        for (const char c : name.substr(at + 5)) plain = plain && std::isalnum(static_cast<unsigned char>(c));
        if (plain) return true;
    }
    // NAME.PID.N.tmp
    if (name.size() > 4 && name.substr(name.size() - 4) == ".tmp") {
        const std::string_view stem = name.substr(0, name.size() - 4);
        const auto n_dot = stem.rfind('.');
        if (n_dot == std::string_view::npos || !all_digits(stem.substr(n_dot + 1))) return false;
        const auto pid_dot = stem.rfind('.', n_dot - 1);
        return pid_dot != std::string_view::npos && pid_dot > 0 && n_dot > 0 &&
               all_digits(stem.substr(pid_dot + 1, n_dot - pid_dot - 1));
    }
    return false;
}

std::size_t remove_stale_temporary_files(const std::filesystem::path& folder, bool recursive,
                                         std::chrono::seconds max_age) {
    namespace fs = std::filesystem;
    std::size_t removed = 0;
    std::error_code ec;
    const auto now = fs::file_time_type::clock::now();
    auto consider = [&](const fs::directory_entry& entry) {
        std::error_code e;
        if (!entry.is_regular_file(e) || !is_temporary_file_name(entry.path().filename().string())) return;
        const auto changed = entry.last_write_time(e);
        if (e || now - changed <= max_age) return;
        if (fs::remove(entry.path(), e)) ++removed;
    };
    if (recursive) {
        fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
        for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) consider(*it);
    } else {
        fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
        for (; !ec && it != fs::directory_iterator(); it.increment(ec)) consider(*it);
    }
    return removed;
}

}  // namespace vg
