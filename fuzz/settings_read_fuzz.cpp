// Fuzzes the settings readers over arbitrary file contents: the key lookup, the proxy line, the
// start position and the rewrite of vor_set.txt; and the printable form of text from files. The first byte chooses how many of the next bytes
// form an extra key to look up; the rest is the file.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "settings/settings_file.h"
#include "settings/text_scan.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string_view fuzzed_key;
    if (!input.empty()) {
        const std::size_t key_length = static_cast<unsigned char>(input[0]) % 8;
        input.remove_prefix(1);
        fuzzed_key = input.substr(0, key_length);
        input.remove_prefix(fuzzed_key.size());
    }

    static const char* const keys[] = {"site", "size", "unit", "port", "maps", "zoom", "hair",
                                       "zone", "dash", "file", "plot", "base", "prxy"};
    for (const char* key : keys) {
        if (const auto value = vg::find_setting(input, key)) {
            // A value comes from one piece of at most 127 characters, after its "=".
            check(value->size() < vg::kSettingPiece);
            check(value->find('\n') == std::string::npos);
            check(value->find('\0') == std::string::npos);
        }
    }
    if (const auto value = vg::find_setting(input, fuzzed_key)) check(value->size() < vg::kSettingPiece);

    if (const auto proxy = vg::parse_proxy_setting(input)) {
        check(!proxy->host.empty() && proxy->host.size() < vg::kProxyPiece);
        check(proxy->host.find_first_of(" \t\r\n") == std::string::npos);
        check(proxy->port >= 1 && proxy->port <= 65535);
    }

    const vg::StartPosition pos = vg::parse_start_position(input);
    check(std::isfinite(pos.latitude) && std::isfinite(pos.longitude));

    // The rewrite keeps every line of the file and always ends with a line end.
    if (!fuzzed_key.empty() && fuzzed_key.find_first_of(std::string_view("\r\n\0=", 4)) == std::string_view::npos) {
        const std::string rewritten = vg::rewrite_setting_contents(input, fuzzed_key, "value");
        check(rewritten.size() >= 2 && rewritten.compare(rewritten.size() - 2, 2, "\r\n") == 0);
        std::size_t lines_in = 0;
        for (const char c : input) lines_in += c == '\n';
        if (!input.empty() && input.back() != '\n') ++lines_in;
        std::size_t lines_out = 0;
        for (const char c : rewritten) lines_out += c == '\n';
        check(lines_out >= lines_in);
    }

    // The printable form holds no control character, C0, DEL or C1 (U+0080-U+009F as UTF-8), only
    // well-formed UTF-8, and is the text itself when that was printable ASCII.
    const std::string shown = vg::printable_text(input);
    bool ascii = true;
    for (const char c : input) ascii = ascii && c >= 0x20 && c < 0x7f;
    if (ascii) check(shown == input);
    for (std::size_t i = 0; i < shown.size();) {
        const auto c = static_cast<unsigned char>(shown[i]);
        check(c >= 0x20 && c != 0x7f && (c < 0x80 || c >= 0xc2) && c <= 0xf4);
        const std::size_t length = c < 0x80 ? 1 : c < 0xe0 ? 2 : c < 0xf0 ? 3 : 4;
        check(i + length <= shown.size());
        for (std::size_t k = 1; k < length; ++k) check((static_cast<unsigned char>(shown[i + k]) & 0xc0) == 0x80);
        if (c == 0xc2) check(static_cast<unsigned char>(shown[i + 1]) >= 0xa0);
        i += length;
    }
    return 0;
}
