// How each tile source is doing, for the user: failed transfers are grouped by source and situation
// ("blocked", "rate limited", "name not found", ...). A new situation of a source gives one message
// line for the map and one diagnostic line on standard output; repeats of it stay quiet. A source that
// refused us (403/418), limited us (429, or 503 with Retry-After), or whose certificate failed, is
// paused: no request goes to it until the pause ends (Retry-After, else a fixed time) or the user
// asks again (Reload Map, Online, choosing the source). A source whose host did not answer at all
// (name not found, connection refused or unreachable, time-out) is paused for kNetworkPause and counts
// as silent until one of its transfers succeeds: that is what "off line" means for a source. Safe from
// any thread.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "net/fetcher.h"

namespace vg {

class SourceHealth {
public:
    static constexpr std::int64_t kBlockedPause = 30 * 60;    // 403/418, certificate failures
    static constexpr std::int64_t kRateLimitPause = 60;       // 429 without Retry-After
    static constexpr std::int64_t kNetworkPause = 30;         // name, route, time-out, 5xx
    static constexpr std::int64_t kLongestPause = 24 * 3600;  // cap of a Retry-After

    // Records the outcome of one transfer of `source`. Successes clear the source's situation.
    void record(const std::string& source, const FetchResult& result, const std::string& url, std::int64_t now);
    // True while requests to `source` must not be sent.
    bool paused(const std::string& source, std::int64_t now) const;
    // True when the last transfer of `source` found its host silent and none has succeeded since.
    bool silent(const std::string& source) const;
    // Ends a pause and forgets the shown situations of `source` (the user asked again).
    void reset(const std::string& source);
    // The line to show over the map for `source`, empty when all is well.
    std::string message(const std::string& source, std::int64_t now) const;
    // Counts every message line produced so far (a window repaints when it changes).
    std::uint64_t changes() const;

private:
    struct State {
        std::string situation;     // current situation, empty when well
        std::string line;          // its message line
        std::int64_t pause_until = 0;
        bool silent = false;
        std::set<std::string> shown;  // situations already announced
    };
    mutable std::mutex mutex_;
    std::map<std::string, State> sources_;
    std::uint64_t changes_ = 0;
};

}  // namespace vg
