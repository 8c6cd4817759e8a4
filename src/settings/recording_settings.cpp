#include "settings/recording_settings.h"

#include <cctype>
#include <fstream>
#include <iterator>
#include <optional>

#include "settings/settings_file.h"
#include "settings/text_scan.h"

namespace vg {
namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

RecordingSettings parse_recording_settings(std::string_view ini_contents) {
    RecordingSettings out;
    if (const auto v = find_setting(ini_contents, "record")) {
        const std::string value = lower(trim_blanks(*v));
        out.record = !(value.starts_with('n') || value.starts_with('0') || value.starts_with("off"));
    }
    if (const auto v = find_setting(ini_contents, "recdir")) out.dir = std::string(trim_blanks(*v));
    if (const auto v = find_setting(ini_contents, "recsplit")) out.split_by_day = lower(trim_blanks(*v)) != "none";
    return out;
}

RecordingSettings read_recording_settings(const std::filesystem::path& ini_file) {
    std::ifstream in(ini_file, std::ios::binary);
    if (!in) return {};
    const std::string contents{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    return parse_recording_settings(contents);
}

bool write_recording_settings(const std::filesystem::path& ini_file, const RecordingSettings& settings) {
    bool ok = write_setting_file(ini_file, "record", settings.record ? "yes" : "no");
    ok = write_setting_file(ini_file, "recdir", settings.dir) && ok;
    ok = write_setting_file(ini_file, "recsplit", settings.split_by_day ? "day" : "none") && ok;
    return ok;
}

std::filesystem::path recording_folder(const RecordingSettings& settings, const std::filesystem::path& settings_dir) {
    if (settings.dir.empty()) return settings_dir / "tracks";
    const std::filesystem::path dir(settings.dir);
    return dir.is_absolute() || settings_dir.empty() ? dir : settings_dir / dir;
}

}  // namespace vg
