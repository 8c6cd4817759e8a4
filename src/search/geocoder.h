// The optional online geocoder: a Nominatim-compatible search service (nominatim.openstreetmap.org or
// a self-hosted one) named by the line "geocoder=URL" of vor_ini.txt (no line: off, the default).
// The window asks it only when the user presses Enter, never while typing, at most once a second
// (the service's usage policy), with the program's User-Agent, through the program's one Fetcher.
//
// parse_nominatim is pure (bytes in, results out) and fuzzed: anything but a JSON array of objects
// with numeric-text lat and lon fails with a reason; entries without a position are skipped.
// Threads: Geocoder::ask may be called from any thread; `done` runs on the fetcher's engine thread.
// Failure: a refused request (too soon, no service set) returns false and never calls `done`; a
// failed transfer or a body that is not Nominatim's JSON calls `done` with the reason.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/fetcher.h"
#include "search/place_index.h"

namespace vg::search {

// "geocoder=" of `dir`/vor_ini.txt, trimmed; "" when the line is missing (the geocoder is off).
std::string read_geocoder_url(const std::filesystem::path& dir);

// The request for `text`: BASE/search?q=TEXT&format=jsonv2&limit=N, the text percent-encoded (a base
// that already has a query or ends in "/search" is kept as it is given).
std::string nominatim_url(std::string_view base, std::string_view text, std::size_t limit);

std::optional<std::vector<Result>> parse_nominatim(std::string_view body, std::string& error);

class Geocoder {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    using Done = std::function<void(std::vector<Result> results, std::string error)>;
    // `base` "" makes a geocoder that refuses every request.
    Geocoder(Fetcher& fetcher, std::string base, FetchSettings settings, Clock clock = {});
    bool enabled() const { return !base_.empty(); }
    // Sends one search unless the last was sent less than a second ago (false, nothing sent).
    bool ask(std::string_view text, std::optional<LatLon> from, Done done);

private:
    Fetcher& fetcher_;
    std::string base_;
    FetchSettings settings_;
    Clock clock_;
    std::mutex mutex_;
    std::optional<std::chrono::steady_clock::time_point> last_;
};

}  // namespace vg::search
