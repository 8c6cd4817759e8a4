// Bounds of one HTTP transfer: how long it may wait and how much it may store.
#pragma once

#include <chrono>
#include <cstdint>

namespace vg {

inline constexpr std::uint64_t kMiB = 1024 * 1024;
inline constexpr std::uint64_t kTileBodyLimit = 16 * kMiB;
inline constexpr std::uint64_t kEtopo2BodyLimit = 64 * kMiB;
inline constexpr std::uint64_t kOtherBodyLimit = 1 * kMiB;

struct TransferLimits {
    std::chrono::milliseconds connect{10000};  // the connection (and TLS handshake) must be made in this
    std::chrono::milliseconds idle{30000};     // no byte sent or received for this long fails
    std::chrono::milliseconds total{60000};    // the whole transfer must end within this
    std::uint64_t max_body = kOtherBodyLimit;  // a longer body fails and is not kept

    static TransferLimits tiles() {
        TransferLimits l;
        l.max_body = kTileBodyLimit;
        return l;
    }
    static TransferLimits other() { return {}; }
};

}  // namespace vg
