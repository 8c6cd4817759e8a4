// gpsd's JSON reports as a receiver dialect: one object per line; TPV (time, position, altitude,
// speed, course, mode) and SKY (satellites of every system) update the fix record. Other classes
// (VERSION, DEVICES, WATCH, ...) and lines that are not JSON objects change only last_message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "gps/fix_record.h"
#include "gps/line_assembler.h"
#include "gps/receiver_parser.h"

namespace vg {

// What the program sends to gpsd after connecting: report every device in JSON.
inline constexpr std::string_view kGpsdWatch = "?WATCH={\"enable\":true,\"json\":true}\n";

enum class GpsdReport { None, Tpv, Sky, Other };

class GpsdParser : public ReceiverParser {
public:
    // Longest report kept (a SKY report of 64 satellites is about 7 kB); a longer line is dropped
    // up to its LF.
    static constexpr std::size_t kLineBufferSize = 16384;

    void feed(const std::uint8_t* data, std::size_t size, FixRecord& fix) override;
    std::size_t pending() const { return lines_.pending(); }

private:
    LineAssembler<kLineBufferSize> lines_;
};

// One report line (without its line end). None when the line is not a JSON object with a "class".
// Coordinates outside -90..90 / -180..180, non-finite numbers and impossible times are not stored.
GpsdReport gpsd_report(std::string_view line, FixRecord& fix);

}  // namespace vg
