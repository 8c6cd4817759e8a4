// Fuzzes the freshness rules over arbitrary reply header values: Cache-Control, Age, Expires, Date and
// Retry-After never give a stale time before now or beyond ten years, and the validators kept are
// always fit for one request line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>

#include "tiles/http_cache.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Fields separated by NUL bytes: cache-control, age, expires, date, retry-after, etag.
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    static const char* const names[] = {"cache-control", "age", "expires", "date", "retry-after", "etag"};
    std::map<std::string, std::string> headers;
    std::size_t at = 0;
    for (const char* name : names) {
        if (at > input.size()) break;
        const std::size_t end = std::min(input.find('\0', at), input.size());
        headers[name] = std::string(input.substr(at, end - at));
        at = end + 1;
    }
    constexpr std::int64_t now = 1'800'000'000;
    const std::int64_t stale = vg::stale_time(headers, now, 7 * 86400);
    check(stale >= now && stale <= now + 10LL * 366 * 86400);
    const vg::CacheRecord record = vg::cache_record(headers, now, 86400);
    for (const auto& line : vg::revalidation_headers(record))
        for (char c : line) check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7f);
    if (const auto wait = vg::retry_after_seconds(headers["retry-after"], now)) check(*wait >= 0);
    return 0;
}
