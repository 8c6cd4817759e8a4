// A file served with byte ranges, as the handler of the loopback HTTP or TLS server: single ranges
// ("bytes=A-B", "bytes=A-", "bytes=-N") answered 206 with Content-Range, 416 past the end, the whole
// file (200) otherwise or when told to ignore ranges; a strong ETag that changes with each
// replace(), and If-Match answered 412 when it names another version. Every request is logged (the
// range asked, or "whole"), with the body bytes sent. Replies keep the connection alive.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "support/loopback_http_server.h"

namespace vg::test {

class RangeFile {
public:
    explicit RangeFile(std::string bytes) { replace(std::move(bytes)); }
    RangeFile(const RangeFile&) = delete;
    RangeFile& operator=(const RangeFile&) = delete;

    // Serves `bytes` from now on, under a new ETag.
    void replace(std::string bytes);
    // Serves `bytes` under a new ETag from the first request for a range that starts at or after
    // `offset` on (that request included): a file replaced in the middle of a reading.
    void replace_from(std::uint64_t offset, std::string bytes);
    std::string etag() const;
    // Answer ranges with the whole file, as a server that ignores Range does.
    void ignore_ranges(bool ignore);

    // The handler: give it to LoopbackHttpServer or TlsTestServer (keep this object alive longer).
    ScriptedReply answer(const std::string& request);
    LoopbackHttpServer::Handler handler() {
        return [this](const std::string& request) { return answer(request); };
    }

    // The requests so far, each "A-B" (the range asked) or "whole".
    std::vector<std::string> log() const;
    std::size_t request_count() const { return log().size(); }
    std::uint64_t bytes_sent() const;
    void clear_log();

private:
    mutable std::mutex mutex_;
    std::string bytes_;
    int version_ = 0;
    bool ignore_ranges_ = false;
    std::optional<std::string> pending_;  // replace_from's bytes, not served yet
    std::uint64_t pending_at_ = 0;
    std::vector<std::string> log_;
    std::uint64_t sent_ = 0;
};

}  // namespace vg::test
