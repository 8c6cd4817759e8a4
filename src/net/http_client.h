// The program's own small HTTP/1.1 client on POSIX sockets: GET of one URL into a file, POST of a
// form-encoded body, directly or through the proxy named in vor_ini.txt.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "net/transfer_limits.h"

namespace vg {

// Per-call options. Every field has the value the program uses; tests shorten the waits and point
// settings_dir at a scratch folder.
struct HttpOptions {
    // Folder whose vor_ini.txt names the proxy; empty means the working directory.
    std::filesystem::path settings_dir;
    // A connection that is not established within this time fails.
    std::chrono::milliseconds connect_timeout{kConnectTimeout};
    // A transfer during which no byte could be sent or received for this long fails.
    std::chrono::milliseconds idle_timeout{kIdleTimeout};
    // A transfer that has not ended this long after it began fails, however steadily bytes come.
    std::chrono::milliseconds total_timeout{kTransferDeadline};
    // A body longer than this (announced or received) fails the transfer. Unset: the limit of what
    // is fetched (tiles kTileBodyLimit, Etopo2 images kEtopo2BodyLimit), else kOtherBodyLimit.
    std::optional<std::uint64_t> max_body;
    // When set, receives what ended a transfer that failed: the name lookup, the connection, a wait
    // that ran out, or anything else (`other`). Left alone on success.
    enum class Failure { other, name, connect, timeout };
    Failure* failure = nullptr;
};

// Fetches `url` and writes the response body to `file`. The body goes to a temporary file beside
// `file` that is renamed over it only when the whole transfer succeeded, so a failed or interrupted
// download never leaves a partial file under the final name. With an empty `file` the request is
// sent and the reply read and discarded until the server closes (within the waits above).
// Returns true when the request was sent, the response header was complete with an acceptable
// Content-Type (".png" → image/png, ".gif" → image/gif, ".jpg" → image/jpeg, else any type, but
// the field must be present) and a success status (200-299), and the whole body was stored within
// options.max_body and options.total_timeout; else false, after one diagnostic line on standard
// output that says why (naming the status code). A URL longer than kMaxUrlLength is refused, never
// shortened.
bool http_get_file(std::string_view url, const std::filesystem::path& file, const HttpOptions& options = {});

// Posts the already form-encoded `body` to `url` (Content-type application/x-www-form-urlencoded)
// and reads the reply until close without storing it. Returns true when the request was sent whole and
// the peer did not answer with a status outside 200-299 (a refusal prints its diagnostic line).
bool http_post_form(std::string_view url, std::string_view body, const HttpOptions& options = {});

struct UrlParts {
    std::string host = "localhost";
    std::string path = "/";
    int port = 80;
};
// Splits "http://host:port/path?query"; only the lower-case "http://" prefix is dropped. The
// transfers refuse URLs longer than kMaxUrlLength before they get here.
UrlParts split_url(std::string_view url);

// The first IPv4 address of `name` (a dotted address is accepted), in network byte order, or 0
// with getaddrinfo's code in `error` (when given). Prints nothing: the caller's one diagnostic line
// says what failed.
std::uint32_t resolve_host(std::string_view name, int* error = nullptr);

// The first IPv4 address of this machine's host name (network byte order), or 0.
std::uint32_t local_address();

// The exact request texts the client sends, for a target `url` reached directly or through a
// proxy (use_proxy). Exposed for tests and tools.
std::string format_get_request(const UrlParts& target, bool use_proxy);
std::string format_post_request(const UrlParts& target, bool use_proxy, std::string_view body);

// The header phase of a response, as a pure function over the bytes received so far.
struct ResponseHeader {
    bool complete = false;                    // the blank line was found
    int status = 0;                           // the status code of "HTTP/x.y NNN", 0 without one
    std::size_t header_length = 0;            // bytes up to and including the blank line
    std::optional<std::string> content_type;  // the word after "Content-Type:" (exact case)
    std::optional<std::uint64_t> content_length;  // a valid Content-Length field (any case)
    bool chunked = false;                     // Transfer-Encoding: chunked (any case)
    bool malformed_length = false;            // a Content-Length field that is not a plain number
};
ResponseHeader parse_response_header(std::string_view received);

// The Content-Type a file name demands ("image/png", "image/gif", "image/jpeg"), or empty for any.
std::string_view expected_content_type(std::string_view file_name);

// Undoes Transfer-Encoding: chunked incrementally; feed() hands out the payload bytes.
class ChunkedDecoder {
public:
    enum class Status { more, done, error };
    // Consumes `in`, appending payload bytes to `out`. Bytes after the final chunk are ignored.
    Status feed(std::string_view in, std::string& out);
    Status status() const { return status_; }

private:
    enum class State { size, extension, size_lf, data, data_cr, data_lf, trailer_line_start, trailer_line, trailer_lf, finished };
    State state_ = State::size;
    Status status_ = Status::more;
    std::uint64_t remaining_ = 0;
    int size_digits_ = 0;
};

}  // namespace vg
