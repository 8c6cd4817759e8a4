// The fetcher: HTTPS (and every non-legacy HTTP) transfers through libcurl, run by one engine thread
// over libcurl's multi interface.
//
// Contract:
// - submit() queues a request and returns at once; the completion callback runs exactly once, on the
//   engine thread, for every submitted request (also after cancel() and when the Fetcher is
//   destroyed: outcome cancelled). Keep callbacks short; they must not call back into the Fetcher
//   with fetch() (submit() and cancel() are fine).
// - fetch() is the synchronous form for scripts and the window thread of today: it waits for the
//   completion, which the request's own total deadline bounds.
// - Requests start in priority order (higher first, then submission order). At most
//   `host_connections` transfers to one host run at a time, so never more connections than that are
//   open to it; where the host speaks HTTP/2 the transfers share one multiplexed connection.
//   Connections are kept alive between requests. The cap counts every transfer of this Fetcher, so
//   a program makes one and hands it to everything that fetches. Over plain http the allowed
//   connections open at once; over https a second transfer waits for the first connection, which
//   may turn out to multiplex (HTTP/2).
// - A transfer that times out with nothing received from its server (scheme, host and port) fails
//   that server's queued requests at once with the same outcome and cause: a server that takes
//   connections and never answers costs one time-out per connection slot, not one per request.
// - https: certificates and host names are verified against the system store plus the optional
//   `cafile`; SNI and HTTP/2 through ALPN. A verification failure is an error (Outcome::tls), never a
//   fall-back to http; redirects from https never lead to http.
// - A body with a 2xx status goes to a temporary file beside `file`, renamed over it only when the
//   whole transfer succeeded (so no partial file is ever left under the final name, nor a temporary
//   one); with an empty `file` it is kept in FetchResult::body. With `keep_temporary` the complete
//   body stays in its temporary file, named in FetchResult::temporary, and the callback decides:
//   rename it into place or remove it (the tiles' landing step judges the body first). Bodies of other statuses are never
//   stored (up to 64 KiB kept in `body` for diagnostics).
// - Byte ranges: a request with `range` asks for those bytes only ("Range: bytes=A-B", one range). A 206
//   is ok when its Content-Range starts at the offset and ends at the range's end (or earlier, at the
//   resource's last byte); any other Content-Range fails as `transfer`. A 200 (a server that ignores
//   Range) is ok too: the whole body is received, counted in `bytes` and held to `limits.max_body`
//   (too_large past it), and only the asked slice is kept; when the body ends before the offset the
//   result is http_error with status 416, as a 416 from the server is. `total_size` is the resource's
//   size (Content-Range's "/N", or the 200 body's length) and `ranged_ok` says which of the two came.
// - Versions: `etag` and `last_modified` of the final response are reported. With `if_match` set, a
//   strong ETag is sent as If-Match; a 412, or a response whose ETag (or, without ETags,
//   Last-Modified) differs from it, completes as `changed` with no body kept: the resource is another
//   version. A weak ETag (W/"...") is not sent (If-Match compares strongly) but is still compared.
// - Every failure prints one diagnostic line on standard output: "Error: <code> in <url>: <cause>".
// - A build made without libcurl (VG_WITH_CURL=OFF, which defines VG_NO_CURL; the Windows
//   cross-build) keeps this interface:
//   a plain http:// download into a file goes through the program's own HTTP client (http_client.h:
//   one transfer at a time, its diagnostic lines, no headers in the result); every other request
//   completes on the engine thread with outcome unavailable and the cause
//   "not available in this build (made without libcurl)".
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "net/transfer_limits.h"

namespace vg {

// Bytes [offset, offset + length) of a resource; length >= 1.
struct ByteRange {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

struct FetchRequest {
    std::string url;
    std::filesystem::path file;           // where a 2xx body goes; empty: kept in FetchResult::body
    std::string expected_type;            // Content-Type the body must have ("" any; "image/*" any image)
    std::vector<std::string> headers;     // extra request lines, e.g. "If-None-Match: \"abc\""
    std::string user_agent;               // empty: the Fetcher's default
    std::string proxy;                    // "host:port" of an HTTP proxy (CONNECT for https); empty direct
    std::string cafile;                   // extra trusted certificates (PEM) besides the system store
    int host_connections = 2;             // most transfers at once to this request's host (>= 1)
    int priority = 0;                     // higher starts first
    bool quiet = false;                   // no diagnostic line (the caller reports failures itself)
    bool keep_temporary = false;          // a 2xx body is left in FetchResult::temporary for the callback
    TransferLimits limits = TransferLimits::tiles();
    std::optional<ByteRange> range;       // only these bytes (see the contract above)
    std::string if_match;                 // the version expected: an ETag (or a Last-Modified text)
};

enum class FetchOutcome {
    ok,             // 2xx, body stored
    not_modified,   // 304
    http_error,     // another status (see status); body not stored
    dns,            // the host (or the proxy) name could not be resolved
    no_route,       // the connection could not be made (refused, unreachable)
    tls,            // certificate, host name or handshake failure
    timeout,        // connect, idle or total wait ran out
    too_large,      // the body exceeded the size limit
    wrong_type,     // a 2xx body whose Content-Type is not the expected one
    transfer,       // the connection broke, or the reply was not valid HTTP
    write,          // the file could not be written
    bad_request,    // an address the fetcher cannot use
    cancelled,
    unavailable,    // this build has no fetcher (made without libcurl): nothing was sent
    changed,        // the resource is not the version of `if_match` (412, or another ETag)

};

struct FetchResult {
    FetchOutcome outcome = FetchOutcome::cancelled;
    long status = 0;                            // HTTP status of the final response, 0 when none
    std::map<std::string, std::string> headers; // final response's fields, names lower-cased
    std::string body;                           // see the contract above
    std::string cause;                          // short human cause of a failure ("" when ok)
    int curl_code = 0;
    int http_version = 0;                       // 1 or 2 (0 unknown)
    std::uint64_t bytes = 0;                    // body bytes received
    std::filesystem::path temporary;            // with keep_temporary and ok: the body's file, the callback's
    std::string etag;                           // the final response's ETag ("" none)
    std::string last_modified;                  // its Last-Modified ("" none)
    std::uint64_t total_size = 0;               // range requests: the resource's whole size (0 unknown)
    bool ranged_ok = false;                     // range requests: the server answered 206
    // The version text of the response: its ETag, else its Last-Modified ("" when neither).
    std::string version() const { return etag.empty() ? last_modified : etag; }
    std::optional<std::string> header(const std::string& lower_name) const;
    bool ok() const { return outcome == FetchOutcome::ok; }
};

// "dns", "no route", "tls", "blocked" (403/418), "rate limited" (429), "not found" (404),
// "server error" (5xx), ... : the short name of a result's situation, used to group messages.
const char* fetch_situation(const FetchResult& result);

struct FetcherOptions {
    std::string user_agent;     // default User-Agent of every request
    bool quiet = false;         // no diagnostic lines (benchmarks)
};

// The User-Agent of this program: "VorGlobal/<version> (+<contact>)"; the project's address when
// `contact` is empty.
std::string vorglobal_user_agent(const std::string& contact = {});
inline constexpr const char* kProjectContact = "https://vorglobal.example/contact";

// What vor_ini.txt in `dir` says about fetching: the proxy ("prxy="/"prox=" as host:port, empty for
// none), the extra trusted certificates ("cafile=PATH") and the contact of the User-Agent
// ("contact=..."). Applied to a request with apply_to().
struct FetchSettings {
    std::string proxy;
    std::string cafile;
    std::string contact;
    void apply_to(FetchRequest& request) const;
};
FetchSettings read_fetch_settings(const std::filesystem::path& dir);

class Fetcher {
public:
    using RequestId = std::uint64_t;
    using Callback = std::function<void(RequestId, FetchResult&&)>;

    explicit Fetcher(FetcherOptions options = {});
    ~Fetcher();  // cancels what is left (callbacks run with cancelled) and joins the engine thread
    Fetcher(const Fetcher&) = delete;
    Fetcher& operator=(const Fetcher&) = delete;

    RequestId submit(FetchRequest request, Callback done);
    // Cancels a queued or running request; its callback runs with outcome cancelled (unless it had
    // already completed). Unknown ids are ignored.
    void cancel(RequestId id);
    // Cancels several at once: none of them starts after the call, even where cancelling one of them
    // frees a connection for another.
    void cancel(const std::vector<RequestId>& ids);
    // Gives queued requests a new priority (the view moved: its middle changed). Running and unknown
    // ones are left alone.
    void reprioritise(const std::vector<std::pair<RequestId, int>>& priorities);
    // Submits and waits for the completion.
    FetchResult fetch(FetchRequest request);

    // Transfers queued or running now.
    std::size_t pending() const;

private:
    struct Engine;
    std::unique_ptr<Engine> engine_;
};

}  // namespace vg
