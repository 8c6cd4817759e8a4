// NMEA 0183 receivers (NMEA, EarthMate USB, TripMate): line framing over chunks of any size,
// checksum test, and the sentences that update the fix record: RMC, GGA, GLL, GSA and GSV of every
// satellite talker (GP, GN, GL, GA, GB, BD, GQ, GI); PRWIZCH is recognised and ignored. GP sentences
// fill the 12 GPS slots as they always did; GSV of every talker fills the sky table. Lines starting
// with "ASTRAL" go to a start-up hook; AIS lines ("!AIVDM", "!AIVDO") to the AIS feed when one is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

#include "gps/fix_record.h"
#include "gps/line_assembler.h"
#include "gps/receiver_parser.h"

namespace vg {

// Called with every completed line that starts with "ASTRAL" (line end removed).
using AstralHook = std::function<void(std::string_view line)>;

class NmeaParser : public ReceiverParser {
public:
    // Longest line kept, line end included; a longer line is dropped up to its LF.
    static constexpr std::size_t kLineBufferSize = 4096;

    explicit NmeaParser(AstralHook astral = nullptr, ais::AisFeed* ais = nullptr)
        : astral_(std::move(astral)), ais_(ais) {}

    void feed(const std::uint8_t* data, std::size_t size, FixRecord& fix) override { nmea_feed(data, size, fix); }

    // Appends the bytes to the line buffer and handles every line they complete. A partial line stays
    // in the buffer for the next call.
    void nmea_feed(const std::uint8_t* data, std::size_t size, FixRecord& fix);

    // One sentence: the line without "$" and line end. Always copied to last_message (truncated to
    // 255 characters); the record is updated only when the checksum after "*" matches.
    void nmea_dispatch(std::string_view text, FixRecord& fix);

    // Bytes of an unfinished line waiting in the buffer (0 while an over-long line is skipped).
    std::size_t pending() const { return lines_.pending(); }

    // What one position sentence may change: its own fields (time, status, motion, altitude) and the
    // position. Within one epoch (the same time field) a talker of lower rank (GN over GP over any
    // single other system) gives way to what a higher one already reported: its position when a
    // higher talker gave one, its other fields when a higher talker sent the same sentence. A
    // GP-only receiver always gets both.
    struct Take {
        bool fields = true;
        bool position = true;
    };

private:
    void complete_line(std::string_view line, FixRecord& fix);
    Take epoch_take(int kind, int rank, std::string_view time_field, bool has_position);

    struct Epoch {
        long long time_ms = -2;
        int position_rank = 0;
        int kind_rank[3] = {};  // RMC, GGA, GLL
    };
    Epoch epoch_;

    AstralHook astral_;
    ais::AisFeed* ais_ = nullptr;
    LineAssembler<kLineBufferSize - 1> lines_;  // the LF itself takes the buffer's last place
};

// Field n of a sentence text: field 0 is the sentence name, field n the text after the n-th comma up
// to the next ",", "*" or CR, or the end. A missing field is empty.
std::string_view nmea_field(std::string_view text, int n);

// Reads latitude (field n, ddmm.mmmm), N/S (n+1), longitude (n+2, dddmm.mmmm) and E/W (n+3) into
// the record, both or neither: an empty, unreadable or off-the-globe half leaves the position unchanged.
void nmea_position(std::string_view text, int n, FixRecord& fix);

// True when the text carries "*" followed by the two upper-case hexadecimal digits of the XOR of
// every character before the "*".
bool nmea_checksum_valid(std::string_view text);

}  // namespace vg
