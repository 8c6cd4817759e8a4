// vortool get URL [FILE]: one GET. Plain http:// goes through the program's own HTTP client, https://
// through the libcurl fetcher (certificate checks, cafile, proxy and contact from vor_ini.txt in the
// working directory). Exit status 0 when the transfer succeeded, else 1.
#include <cstdio>
#include <string_view>

#include "cli/commands.h"
#include "net/fetcher.h"
#include "net/http_client.h"

namespace vg::cli {

int run_get(int argc, char** argv) {
    for (int i = 0; i < argc; ++i)
        if (argv[i][0] == '-' && argv[i][1] != '\0') return usage_error("get", "unknown option", argv[i]);
    if (argc < 1) return usage_error("get", "a URL is required");
    if (argc > 2) return usage_error("get", "unexpected argument", argv[2]);
    const std::filesystem::path file = argc == 2 ? std::filesystem::path(argv[1]) : std::filesystem::path();
    const std::string_view url = argv[0];
    if (url.substr(0, 8) != "https://") {
        HttpOptions options;
        options.max_body = file.empty() ? kOtherBodyLimit : kTileBodyLimit;
        return http_get_file(url, file, options) ? 0 : 1;
    }

    FetchRequest request;
    request.url = std::string(url);
    request.file = file;
    request.expected_type = std::string(expected_content_type(file.string()));
    request.limits = file.empty() ? TransferLimits::other() : TransferLimits::tiles();
    read_fetch_settings(".").apply_to(request);
    Fetcher fetcher;
    const FetchResult result = fetcher.fetch(std::move(request));
    return result.ok() || (file.empty() && result.outcome == FetchOutcome::http_error) ? 0 : 1;
}

}  // namespace vg::cli
