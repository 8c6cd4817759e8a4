// vortool post URL BODY: one form POST with the program's HTTP client (proxy from vor_ini.txt in the
// working directory), with the relay key of vor_ini.txt there appended as "&key=" when it has one.
// Exit status 0 when the request was sent and not refused.
#include <cstdio>

#include "cli/commands.h"
#include "net/base_link.h"
#include "net/http_client.h"

namespace vg::cli {

int run_post(int argc, char** argv) {
    if (argc >= 1 && argv[0][0] == '-') return usage_error("post", "unknown option", argv[0]);
    if (argc != 2) return usage_error("post", argc > 2 ? "unexpected argument" : "a URL and a body are required",
                                      argc > 2 ? argv[2] : nullptr);
    return http_post_form(argv[0], with_relay_key(argv[1], {})) ? 0 : 1;
}

}  // namespace vg::cli
