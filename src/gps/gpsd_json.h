// gpsd's JSON reports as a receiver dialect: one object per line; TPV (time, position, altitude,
// speed, course, mode) and SKY (satellites of every system) update the fix record. Other classes
// (VERSION, DEVICES, WATCH, ...) and lines that are not JSON objects change only last_message. AIS
// reports become AIS messages for the AIS feed, in either of gpsd's forms: the default (unscaled:
// the message's own integers) and "scaled":true (degrees, knots, metres), told apart by "scaled".
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "gps/ais.h"

#include "gps/fix_record.h"
#include "gps/line_assembler.h"
#include "gps/receiver_parser.h"

namespace vg {

// What the program sends to gpsd after connecting: report every device in JSON.
inline constexpr std::string_view kGpsdWatch = "?WATCH={\"enable\":true,\"json\":true}\n";

enum class GpsdReport { None, Tpv, Sky, Ais, Other };

class GpsdParser : public ReceiverParser {
public:
    // Longest report kept (a SKY report of 64 satellites is about 7 kB); a longer line is dropped
    // up to its LF.
    static constexpr std::size_t kLineBufferSize = 16384;

    explicit GpsdParser(ais::AisFeed* ais = nullptr) : ais_(ais) {}

    void feed(const std::uint8_t* data, std::size_t size, FixRecord& fix) override;
    std::size_t pending() const { return lines_.pending(); }

private:
    LineAssembler<kLineBufferSize> lines_;
    ais::AisFeed* ais_ = nullptr;  // where AIS reports go; null: dropped
};

// One report line (without its line end). None when the line is not a JSON object with a "class".
// Coordinates outside -90..90 / -180..180, non-finite numbers and impossible times are not stored.
// An AIS report's message goes to `ais` when given (an AIS report without a usable MMSI or type
// gives none and still counts as Ais).
GpsdReport gpsd_report(std::string_view line, FixRecord& fix, std::optional<ais::Message>* ais = nullptr);

// The message of one AIS report line, nullopt when the line is not one.
std::optional<ais::Message> gpsd_ais_message(std::string_view line);

}  // namespace vg
