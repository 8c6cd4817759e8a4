#include "platform/temp_files.h"

#include <system_error>

namespace vg {

namespace {

bool ascii_digit(char c) { return c >= '0' && c <= '9'; }
bool ascii_alnum(char c) { return ascii_digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool all_digits(std::string_view text) {
    if (text.empty()) return false;
    for (const char c : text)
        if (!ascii_digit(c)) return false;
    return true;
}

// The part after ".part": six letters and digits (mkstemp), or "<digits>_<digits>" (Windows).
bool unique_suffix(std::string_view s) {
    if (s.size() == 6) {
        bool plain = true;
        for (const char c : s) plain = plain && ascii_alnum(c);
        if (plain) return true;
    }
    const auto underscore = s.find('_');
    return underscore != std::string_view::npos && all_digits(s.substr(0, underscore)) &&
           all_digits(s.substr(underscore + 1));
}

}  // namespace

std::string_view temporary_file_target(std::string_view name, bool plain_part) {
    const auto at = name.rfind(".part");
    if (at == std::string_view::npos || at == 0) return {};
    const std::string_view suffix = name.substr(at + 5);
    if ((suffix.empty() && plain_part) || unique_suffix(suffix)) return name.substr(0, at);
    return {};
}

std::size_t remove_stale_temporary_files(const std::vector<SweepPlace>& places, std::chrono::seconds max_age,
                                         const std::atomic<bool>* stop) {
    namespace fs = std::filesystem;
    std::size_t removed = 0;
    const auto now = fs::file_time_type::clock::now();
    auto stopped = [&] { return stop && stop->load(std::memory_order_relaxed); };
    for (const SweepPlace& place : places) {
        auto consider = [&](const fs::directory_entry& entry) {
            std::error_code e;
            const std::string name = entry.path().filename().string();
            const std::string_view target = temporary_file_target(name, place.plain_part);
            if (target.empty() || (place.owns && !place.owns(target)) || !entry.is_regular_file(e)) return;
            const auto changed = entry.last_write_time(e);
            if (e || now - changed <= max_age) return;
            if (fs::remove(entry.path(), e)) ++removed;
        };
        std::error_code ec;
        if (place.recursive) {
            fs::recursive_directory_iterator it(place.folder, fs::directory_options::skip_permission_denied, ec);
            for (; !ec && !stopped() && it != fs::recursive_directory_iterator(); it.increment(ec)) consider(*it);
        } else {
            fs::directory_iterator it(place.folder, fs::directory_options::skip_permission_denied, ec);
            for (; !ec && !stopped() && it != fs::directory_iterator(); it.increment(ec)) consider(*it);
        }
        if (stopped()) break;
    }
    return removed;
}

std::size_t remove_stale_temporaries_of(const std::filesystem::path& file, std::chrono::seconds max_age) {
    const std::string name = file.filename().string();
    std::filesystem::path folder = file.parent_path();
    if (folder.empty()) folder = ".";
    return remove_stale_temporary_files(
        {{folder, false, false, [&name](std::string_view target) { return target == name; }}}, max_age);
}

}  // namespace vg
