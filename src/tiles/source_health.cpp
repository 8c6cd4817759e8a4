#include "tiles/source_health.h"

#include <algorithm>
#include <cstdio>

#include "tiles/http_cache.h"

namespace vg {

void SourceHealth::record(const std::string& source, const FetchResult& r, const std::string& url, std::int64_t now) {
    std::lock_guard lock(mutex_);
    State& s = sources_[source];
    if (r.outcome == FetchOutcome::ok || r.outcome == FetchOutcome::not_modified) {
        if (!s.situation.empty()) ++changes_;
        s.situation.clear();
        s.line.clear();
        s.shown.clear();
        s.pause_until = 0;
        s.silent = false;
        return;
    }
    if (r.outcome == FetchOutcome::cancelled) return;
    s.silent = r.outcome == FetchOutcome::dns || r.outcome == FetchOutcome::no_route || r.outcome == FetchOutcome::timeout;
    const std::string situation = fetch_situation(r);
    std::int64_t pause = 0;
    std::optional<std::int64_t> retry;
    if (auto v = r.header("retry-after")) retry = retry_after_seconds(*v, now);
    if (r.outcome == FetchOutcome::http_error && (r.status == 403 || r.status == 418)) pause = kBlockedPause;
    else if (r.outcome == FetchOutcome::tls) pause = kBlockedPause;
    else if (r.outcome == FetchOutcome::http_error && r.status == 429) pause = retry.value_or(kRateLimitPause);
    else if (r.outcome == FetchOutcome::http_error && r.status >= 500) pause = retry.value_or(kNetworkPause);
    else if (s.silent)
        pause = kNetworkPause;
    pause = std::min(pause, kLongestPause);
    if (pause > 0) s.pause_until = std::max(s.pause_until, now + pause);

    std::string line = source + ": " + situation;
    if (r.outcome == FetchOutcome::http_error) line += " (HTTP " + std::to_string(r.status) + ")";
    if (r.outcome == FetchOutcome::http_error && r.status == 429) line += ", waiting " + std::to_string(pause) + " s";
    else if (pause >= kBlockedPause) line += ", not asked again until Reload Map";
    if (!r.cause.empty() && r.outcome != FetchOutcome::http_error) line += ": " + r.cause;
    if (s.situation != situation || s.line != line) ++changes_;
    s.situation = situation;
    s.line = line;
    if (s.shown.insert(situation).second) {
        const int code = r.outcome == FetchOutcome::http_error ? static_cast<int>(r.status) : r.curl_code;
        print_transfer_error(code, url + ": " + r.cause);
    }
}

bool SourceHealth::paused(const std::string& source, std::int64_t now) const {
    std::lock_guard lock(mutex_);
    auto it = sources_.find(source);
    return it != sources_.end() && now < it->second.pause_until;
}

bool SourceHealth::silent(const std::string& source) const {
    std::lock_guard lock(mutex_);
    auto it = sources_.find(source);
    return it != sources_.end() && it->second.silent;
}

void SourceHealth::reset(const std::string& source) {
    std::lock_guard lock(mutex_);
    if (sources_.erase(source)) ++changes_;
}

std::string SourceHealth::message(const std::string& source, std::int64_t now) const {
    (void)now;
    std::lock_guard lock(mutex_);
    auto it = sources_.find(source);
    return it == sources_.end() ? std::string() : it->second.line;
}

std::uint64_t SourceHealth::changes() const {
    std::lock_guard lock(mutex_);
    return changes_;
}

}  // namespace vg
