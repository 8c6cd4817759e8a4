#include "tiles/http_cache.h"

#ifndef VG_NO_CURL
#include <curl/curl.h>
#endif

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <sstream>

#include "platform/files.h"

namespace vg {
namespace {

constexpr std::size_t kMaxRecordBytes = 4096;
constexpr std::int64_t kMaxAge = 10LL * 365 * 86400;

// The whole record file when it is a regular file of at most kMaxRecordBytes. Opened without
// blocking and refused unless regular, so a FIFO or device put in its place cannot hold up the
// revalidation that reads it.
bool read_record_text(const std::filesystem::path& path, std::string& text) {
    const int fd = open_file(path, O_RDONLY | O_NONBLOCK);
    if (fd < 0) return false;
    bool ok = regular_size(fd) >= 0;
    char chunk[1024];
    while (ok) {
        const long n = read_file_some(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        text.append(chunk, static_cast<std::size_t>(n));
        ok = text.size() <= kMaxRecordBytes;
    }
    close_file(fd);
    return ok;
}

std::optional<std::int64_t> plain_number(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '"')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '"')) s.remove_suffix(1);
    std::int64_t v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size() || v < 0) return std::nullopt;
    return v > kMaxAge ? kMaxAge : v;
}

std::optional<std::int64_t> http_date(const std::string& text) {
#ifndef VG_NO_CURL
    const time_t t = curl_getdate(text.c_str(), nullptr);
    if (t == static_cast<time_t>(-1)) return std::nullopt;
    return static_cast<std::int64_t>(t);
#else
    // Dates come only in replies of the fetcher, which a build without libcurl does not have.
    (void)text;
    return std::nullopt;
#endif
}

const std::string* find(const std::map<std::string, std::string>& h, const char* name) {
    auto it = h.find(name);
    return it == h.end() ? nullptr : &it->second;
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// One header value fit for a line of the record and a request line.
bool clean(const std::string& s) {
    if (s.size() > 1000) return false;
    for (char c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
    return true;
}

}  // namespace

std::int64_t stale_time(const std::map<std::string, std::string>& headers, std::int64_t now,
                        std::int64_t default_seconds) {
    if (const auto* cc = find(headers, "cache-control")) {
        const std::string v = lower(*cc);
        if (v.find("no-store") != std::string::npos || v.find("no-cache") != std::string::npos) return now;
        // (s-maxage, for shared caches, is spelt differently and does not match.)
        for (std::size_t at = v.find("max-age"); at != std::string::npos; at = v.find("max-age", at + 1)) {
            std::size_t eq = v.find('=', at);
            if (eq == std::string::npos) break;
            std::size_t end = v.find_first_of(",;", eq);
            if (const auto age = plain_number(std::string_view(v).substr(eq + 1, end - eq - 1))) {
                std::int64_t used = 0;
                if (const auto* a = find(headers, "age"))
                    if (const auto n = plain_number(*a)) used = *n;
                return now + (*age > used ? *age - used : 0);
            }
            break;
        }
    }
    if (const auto* ex = find(headers, "expires")) {
        const auto expires = http_date(*ex);
        if (!expires) return now;  // an invalid Expires means already expired
        std::int64_t date = now;
        if (const auto* d = find(headers, "date"))
            if (const auto t = http_date(*d)) date = *t;
        const std::int64_t life = *expires - date;
        return now + (life > 0 ? (life > kMaxAge ? kMaxAge : life) : 0);
    }
    return now + default_seconds;
}

CacheRecord cache_record(const std::map<std::string, std::string>& headers, std::int64_t now,
                         std::int64_t default_seconds) {
    CacheRecord r;
    if (const auto* e = find(headers, "etag"); e && clean(*e)) r.etag = *e;
    if (const auto* m = find(headers, "last-modified"); m && clean(*m)) r.last_modified = *m;
    r.stale_at = stale_time(headers, now, default_seconds);
    return r;
}

std::filesystem::path cache_record_path(const std::filesystem::path& tile) {
    return std::filesystem::path(tile.string() + ".meta");
}

std::optional<CacheRecord> read_cache_record(const std::filesystem::path& tile, std::int64_t default_seconds) {
    const long long modified = regular_modified_seconds(tile);
    if (modified < 0) return std::nullopt;
    CacheRecord r;
    r.stale_at = static_cast<std::int64_t>(modified) + default_seconds;
    std::string text;
    if (!read_record_text(cache_record_path(tile), text)) return r;
    CacheRecord read;
    bool have_stale = false;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("etag=", 0) == 0) read.etag = line.substr(5);
        else if (line.rfind("modified=", 0) == 0) read.last_modified = line.substr(9);
        else if (line.rfind("stale=", 0) == 0) {
            std::int64_t v = 0;
            auto [end, ec] = std::from_chars(line.data() + 6, line.data() + line.size(), v);
            have_stale = ec == std::errc() && end == line.data() + line.size();
            read.stale_at = v;
        }
    }
    if (!have_stale || !clean(read.etag) || !clean(read.last_modified)) return r;  // torn or foreign: ignore it
    return read;
}

bool write_cache_record(const std::filesystem::path& tile, const CacheRecord& record) {
    const auto path = cache_record_path(tile);
    if (record.etag.empty() && record.last_modified.empty() && record.stale_at == 0) {
        remove_file(path);
        return true;
    }
    if (!clean(record.etag) || !clean(record.last_modified)) return false;
    const std::string text = "etag=" + record.etag + "\nmodified=" + record.last_modified +
                             "\nstale=" + std::to_string(record.stale_at) + "\n";
    return write_file_replacing(path, text);
}

std::vector<std::string> revalidation_headers(const CacheRecord& record) {
    std::vector<std::string> lines;
    if (!record.etag.empty()) lines.push_back("If-None-Match: " + record.etag);
    if (!record.last_modified.empty()) lines.push_back("If-Modified-Since: " + record.last_modified);
    return lines;
}

std::optional<std::int64_t> retry_after_seconds(const std::string& value, std::int64_t now) {
    if (const auto n = plain_number(value)) return *n;
    if (const auto t = http_date(value)) return *t > now ? *t - now : 0;
    return std::nullopt;
}

}  // namespace vg
