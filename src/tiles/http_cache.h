// What is kept beside a cached tile so that it can be revalidated instead of fetched again: the
// validators (ETag, Last-Modified) and the moment it goes stale. Stored as a small text file
// "<tile>.meta" written to a temporary file and renamed into place after the tile itself, so a crash
// leaves either the old or the new record, never a torn one; a tile without a record counts as
// fresh until its file time plus the source's default freshness.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vg {

struct CacheRecord {
    std::string etag;
    std::string last_modified;
    std::int64_t stale_at = 0;  // seconds since the epoch
    bool operator==(const CacheRecord&) const = default;
};

// The time a reply stays fresh: Cache-Control max-age (less Age), else Expires (against Date), else
// `default_seconds`; no-cache and no-store make it stale at once. Header names are lower-cased.
std::int64_t stale_time(const std::map<std::string, std::string>& headers, std::int64_t now,
                        std::int64_t default_seconds);

// The record of a reply (validators and stale time).
CacheRecord cache_record(const std::map<std::string, std::string>& headers, std::int64_t now,
                         std::int64_t default_seconds);

// "<tile>.meta".
std::filesystem::path cache_record_path(const std::filesystem::path& tile);

// The record beside `tile`; without one (or an unreadable one), only stale_at from the tile's file
// time plus default_seconds. nullopt when the tile itself is missing.
std::optional<CacheRecord> read_cache_record(const std::filesystem::path& tile, std::int64_t default_seconds);

// Writes (or, for an empty record, removes) the record beside `tile`. False when it could not be written.
bool write_cache_record(const std::filesystem::path& tile, const CacheRecord& record);

// The request lines that revalidate a cached copy: If-None-Match and/or If-Modified-Since.
std::vector<std::string> revalidation_headers(const CacheRecord& record);

// Seconds to wait from a Retry-After value (delta seconds or an HTTP date), or nullopt.
std::optional<std::int64_t> retry_after_seconds(const std::string& value, std::int64_t now);

}  // namespace vg
