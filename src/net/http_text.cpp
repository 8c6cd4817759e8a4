#include "net/http_text.h"

#include <cctype>
#include <charconv>

namespace vg {

bool starts_with_nocase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return true;
}

std::size_t http_header_end(std::string_view text) {
    const std::size_t crlf = text.find("\r\n\r\n");
    const std::size_t lf = text.find("\n\n");
    if (crlf == std::string_view::npos && lf == std::string_view::npos) return std::string_view::npos;
    if (lf == std::string_view::npos || (crlf != std::string_view::npos && crlf < lf)) return crlf + 4;
    return lf + 2;
}

ContentLength find_content_length(std::string_view header) {
    static constexpr std::string_view kName = "content-length:";
    ContentLength result;
    std::size_t next = header.find('\n');
    while (next != std::string_view::npos && next + 1 < header.size()) {
        const std::size_t start = next + 1;
        next = header.find('\n', start);
        const std::string_view line = header.substr(start, next == std::string_view::npos ? next : next - start);
        if (!starts_with_nocase(line, kName)) continue;
        const std::string_view value = trim_blanks(line.substr(kName.size()));
        std::uint64_t n = 0;
        const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
        if (value.empty() || ec != std::errc() || end != value.data() + value.size() ||
            (result.value && *result.value != n)) {
            result.malformed = true;
        } else {
            result.value = n;
        }
    }
    if (result.malformed) result.value.reset();
    return result;
}

}  // namespace vg
