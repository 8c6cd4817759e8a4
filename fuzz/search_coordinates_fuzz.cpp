// Fuzzes the typed-position parser and the search text folding: a position is always finite and on
// the globe, and reads back the same from its own decimal form; the folding gives UTF-8 without
// control bytes from invalid input, and the match expression quotes every word.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/c_number.h"
#include "search/coordinates.h"
#include "search/place_index.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto p = vg::search::parse_coordinates(text)) {
        check(std::isfinite(p->lat) && std::isfinite(p->lon));
        check(std::fabs(p->lat) <= 90 && std::fabs(p->lon) <= 180);
        const auto again = vg::search::parse_coordinates(vg::fixed_text(p->lat, 9) + ", " + vg::fixed_text(p->lon, 9));
        check(again && std::fabs(again->lat - p->lat) < 1e-8 && std::fabs(again->lon - p->lon) < 1e-8);
    }
    const std::string folded = vg::search::fold_for_search(text);
    check(folded.size() <= 2 * text.size());
    const std::string match = vg::search::match_expression(text);
    std::size_t quotes = 0;
    for (const char c : match) quotes += c == '"';
    check(quotes % 2 == 0);
    return 0;
}
