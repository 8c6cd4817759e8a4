#include "net/transfer_limits.h"

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/diagnostics.h"

namespace vg {

void print_transfer_error(long code, std::string_view where) {
    report("Error: " + std::to_string(code) + " in " + std::string(where));
}

bool refuse_overlong_url(std::string_view url, bool quiet) {
    if (url.size() <= kMaxUrlLength) return false;
    if (!quiet)
        print_transfer_error(ENAMETOOLONG, "URL (" + std::to_string(url.size()) + " characters, at most " +
                                               std::to_string(kMaxUrlLength) + ")");
    return true;
}

}  // namespace vg
