// Bounds of one HTTP transfer: how long it may wait and how much it may store. Every transfer of the
// program keeps them, whichever code carries it (the own socket client or the libcurl fetcher), and
// a failed transfer prints one diagnostic line through print_transfer_error.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vg {

inline constexpr std::uint64_t kMiB = 1024 * 1024;
// Largest body a transfer accepts; a larger one (announced or received) fails the transfer.
inline constexpr std::uint64_t kTileBodyLimit = 16 * kMiB;    // one map tile
inline constexpr std::uint64_t kEtopo2BodyLimit = 64 * kMiB;  // one Etopo2 image, cut into tiles
inline constexpr std::uint64_t kOtherBodyLimit = 1 * kMiB;    // anything else unless the caller says

// Waits of one transfer. The idle bound restarts with every byte; the total deadline does not.
inline constexpr std::chrono::milliseconds kConnectTimeout{10000};
inline constexpr std::chrono::milliseconds kIdleTimeout{30000};
inline constexpr std::chrono::milliseconds kTransferDeadline{60000};

// Longest URL a transfer takes; a longer one is refused with a diagnostic, never shortened.
inline constexpr std::size_t kMaxUrlLength = 1023;

// A temporary file (platform/temp_files.h: a download's, a settings rewrite's, an export's) older than
// this was left by a run that was killed, and is removed.
inline constexpr std::chrono::seconds kStaleTempAge{3600};

struct TransferLimits {
    std::chrono::milliseconds connect{kConnectTimeout};  // the connection (and TLS handshake) must be made in this
    std::chrono::milliseconds idle{kIdleTimeout};        // no byte sent or received for this long fails
    std::chrono::milliseconds total{kTransferDeadline};  // the whole transfer must end within this
    std::uint64_t max_body = kOtherBodyLimit;            // a longer body fails and is not kept

    static TransferLimits tiles() {
        TransferLimits l;
        l.max_body = kTileBodyLimit;
        return l;
    }
    static TransferLimits other() { return {}; }
};

// Reports the diagnostic line of a failed transfer (standard output by default), "Error: %d in %s\n": `code` is
// the HTTP status, the errno value (ETIMEDOUT, ECONNREFUSED, EFBIG, ...) or the library's own code,
// `where` says in a few words what failed ("connect()", "recv", "body over 16777216 bytes", ...).
void print_transfer_error(long code, std::string_view where);

// Refuses a URL longer than kMaxUrlLength: prints "Error: ENAMETOOLONG in URL (N characters, at most
// 1023)" (unless `quiet`) and returns true. False, printing nothing, for a URL short enough.
bool refuse_overlong_url(std::string_view url, bool quiet = false);

}  // namespace vg
