// The Garmin binary packet protocol: DLE-framed packets in both directions, the position and time
// requests the window timer sends in turn, and the position (17) and date-time (14) answers.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "gps/receiver_parser.h"

namespace vg {

inline constexpr std::uint8_t kDle = 0x10;
inline constexpr std::uint8_t kEtx = 0x03;
inline constexpr std::size_t kGarminBufferSize = 4096;

using GarminRecord = std::array<std::uint8_t, 4>;  // ID, size and two data bytes
inline constexpr GarminRecord kGarminPositionRequest = {10, 2, 2, 0};
inline constexpr GarminRecord kGarminTimeRequest = {10, 2, 5, 0};

// DLE, ID, size, data, checksum, DLE, ETX with every 0x10 inside doubled; the checksum is the 8-bit
// two's complement of the sum of ID, size and data.
std::vector<std::uint8_t> garmin_packet(std::uint8_t id, const std::uint8_t* data, std::uint8_t size);
// The framing of a 4-byte request record.
std::vector<std::uint8_t> garmin_frame(const GarminRecord& record);

class GarminParser : public ReceiverParser {
public:
    GarminParser() = default;
    void feed(const std::uint8_t* data, std::size_t size, FixRecord& fix) override;

private:
    void handle_packet(FixRecord& fix) const;

    std::array<std::uint8_t, kGarminBufferSize> buffer_{};
    std::size_t length_ = 0;
    std::uint8_t previous_ = 0;
};

// The window timer's Garmin step: position and time requests in turn, starting with the position.
class GarminPoller {
public:
    // Sends the next request through `send`. After a position request the fix's freshness count
    // (fix_dimension) goes down by one when above 0; returns true when it has just reached 0, so
    // that the caller repaints.
    bool poll(FixRecord& fix, const ReplySink& send);
    bool next_is_position() const { return next_is_position_; }

private:
    bool next_is_position_ = true;
};

}  // namespace vg
