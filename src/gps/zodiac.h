// The Rockwell Zodiac binary protocol of the EarthMate: the "EARTHA" handshake, the message framer,
// the decoding of messages 1000, 1002, 1003 and 1005, and the initialisation message 1200.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "gps/receiver_parser.h"
#include "gps/startup_commands.h"

namespace vg {

inline constexpr std::uint16_t kZodiacSync = 0x81FF;
// No Zodiac message has more data words than this; headers announcing more are dropped.
inline constexpr std::uint16_t kZodiacMaxDataWords = 1024;

// The 16-bit two's complement of the sum of `words`, so that words and checksum add up to 0.
std::uint16_t zodiac_checksum(const std::uint16_t* words, std::size_t count);

// Message 1200 (header and 22 data words, little-endian) for a position and UTC time. Each position
// line is read from its fixed columns (degrees at characters 3-5, minutes at 7-8, seconds at 10-11,
// counted from 1) and sent in radians × 10^8, negative for "S" and "W".
std::vector<std::uint8_t> zodiac_init_message(std::uint16_t sequence, const PositionLines& lines, const std::tm& utc);

// A whole frame (header, data and checksums) for `id` with `data` words; used by the simulator and tests.
std::vector<std::uint8_t> zodiac_frame(std::uint16_t id, const std::vector<std::uint16_t>& data);

class ZodiacParser : public ReceiverParser {
public:
    // `diagnostics` receives the DGPS status lines of message 1005 (standard error by default).
    explicit ZodiacParser(ParserContext context, std::FILE* diagnostics = stderr)
        : context_(std::move(context)), diagnostics_(diagnostics) {}

    void feed(const std::uint8_t* data, std::size_t size, FixRecord& fix) override;

    // Sends message 1200 from vor_pos.txt and the clock, once per handshake.
    void send_init();

    int eartha_pending() const { return eartha_pending_; }
    std::uint16_t init_sequence() const { return init_sequence_; }

private:
    enum class State { Hunt, Sync, Id, Count, Flags, Checksum, Data };

    void frame_byte(std::uint8_t byte, FixRecord& fix);
    void handle_message(FixRecord& fix);
    void decode_1000(FixRecord& fix) const;
    void decode_1002(FixRecord& fix) const;
    void decode_1003(FixRecord& fix) const;
    void report_1005() const;
    void send(const std::uint8_t* data, std::size_t size);

    ParserContext context_;
    std::FILE* diagnostics_;

    State state_ = State::Hunt;
    bool high_byte_ = false;
    std::array<std::uint16_t, 5> header_{};
    std::vector<std::uint16_t> data_;  // N data words and the checksum word
    std::size_t words_received_ = 0;
    int eartha_pending_ = 0;  // 0 idle, 1 handshake seen, -1 initialisation sent
    std::uint16_t init_sequence_ = 0;
};

}  // namespace vg
