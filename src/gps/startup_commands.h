// Start-up commands sent to receivers: the answer to a TripMate's "ASTRAL" lines and the
// `$PRWIINIT` sentence that gives an NMEA receiver the last saved position and the current UTC time.
#pragma once

#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "gps/receiver_parser.h"

namespace vg {

// The query that answers every ASTRAL line (73 is its NMEA checksum).
inline constexpr std::string_view kAstralQuery = "$IIGPQ,ASTRAL*73\r\n";

// The two first lines of vor_pos.txt ("N  60 10 30", "E  24 55 00"), line ends removed.
struct PositionLines {
    std::string latitude;
    std::string longitude;
};

// Longest position line accepted, line end not counted.
inline constexpr std::size_t kMaxPositionLine = 30;

// Reads the two position lines. Nothing when the file cannot be opened, when a line has 3 characters
// or fewer, or when a line is longer than kMaxPositionLine (refused rather than cut).
std::optional<PositionLines> read_position_lines(const std::filesystem::path& pos_file);

// The UTC calendar time of the context's clock (the system clock when it has none).
std::tm context_utc_time(const ParserContext& context);

// The NMEA checksum of `text`: XOR of all its characters.
unsigned nmea_checksum(std::string_view text);

// Longest `$PRWIINIT` sentence sent, checksum and line end included.
inline constexpr std::size_t kMaxInitSentence = 84;

// "$PRWIINIT,V,,,<lat>,<N|S>,<lon>,<E|W>,100.0,0.0,M,0.0,T,hhmmss,DDMMYY*CS\r\n"; nothing when the
// sentence would be longer than kMaxInitSentence.
std::optional<std::string> format_position_init(const PositionLines& lines, const std::tm& utc);

// Answers ASTRAL lines: each gets the query, every second one also the position initialisation.
class AstralResponder {
public:
    explicit AstralResponder(ParserContext context) : context_(std::move(context)) {}

    // One completed line that starts with "ASTRAL".
    void handle_line(std::string_view line);
    // Sends the `$PRWIINIT` sentence built from vor_pos.txt, or nothing when that file is missing or
    // unusable.
    void send_position_init();

    int astral_count() const { return astral_count_; }

private:
    void send(std::string_view bytes);

    ParserContext context_;
    int astral_count_ = 0;
};

}  // namespace vg
