// Reading the header of an HTTP message, shared by the client (replies) and the position server
// (requests): where the header ends, field names in any case, and the one Content-Length rule.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "settings/text_scan.h"  // trim_blanks

namespace vg {

// Whether `text` starts with `prefix`, letters compared in any case.
bool starts_with_nocase(std::string_view text, std::string_view prefix);

// The end of the header: the position just past the first CR LF CR LF or LF LF, or npos.
std::size_t http_header_end(std::string_view text);

// The Content-Length of a header (its lines ended by LF or CR LF; the first line, the request or
// status line, is not a field). A field whose value is not a plain decimal number, or fields that
// disagree, make the length malformed; a message without the field has neither.
struct ContentLength {
    std::optional<std::uint64_t> value;
    bool malformed = false;
};
ContentLength find_content_length(std::string_view header);

}  // namespace vg
