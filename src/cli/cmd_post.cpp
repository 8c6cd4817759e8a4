// vortool post URL BODY: one form POST with the program's HTTP client (proxy from vor_ini.txt in the
// working directory), with the relay key of vor_ini.txt there appended as "&key=" when it has one.
// Exit status 0 when the request was sent and not refused.
#include <cstdio>

#include "net/base_link.h"
#include "net/http_client.h"

namespace vg::cli {

int run_post(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: vortool post URL BODY\n", stderr);
        return 2;
    }
    return http_post_form(argv[0], with_relay_key(argv[1], {})) == 1 ? 0 : 1;
}

}  // namespace vg::cli
