#include "net/transfer_limits.h"

#include <cstdio>

namespace vg {

void print_transfer_error(long code, std::string_view where) {
    std::printf("Error: %ld in %.*s\n", code, static_cast<int>(where.size()), where.data());
    std::fflush(stdout);
}

}  // namespace vg
