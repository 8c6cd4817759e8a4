// Fuzzes the Preferences dialog's pure pieces over arbitrary text: the value checks of every key (and
// of a key taken from the input), the port number reader, and the source lines of a vor_src.txt and
// their rewrite. The first line of the input is the value; the rest is the file. Aborts when the
// rewrite with the file's own lines is not the file itself, or a rewrite does not read back as the
// lines given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "settings/preferences.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t lf = input.find('\n');
    const std::string_view value = input.substr(0, lf);
    const std::string_view file = lf == std::string_view::npos ? std::string_view{} : input.substr(lf + 1);

    for (const vg::PreferenceKey& key : vg::preference_keys()) (void)vg::preference_problem(key.name, value);
    (void)vg::preference_problem(value.substr(0, 12), value);
    (void)vg::port_number_of(value);

    const std::vector<std::string> lines = vg::source_lines_of(file);
    if (vg::rewrite_source_lines(file, lines) != file) std::abort();
    std::vector<std::string> fewer(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(lines.size() / 2));
    fewer.push_back("New|map|https://example.org/{z}/{x}/{y}.png||x|");
    if (vg::source_lines_of(vg::rewrite_source_lines(file, fewer)) != fewer) std::abort();
    return 0;
}
