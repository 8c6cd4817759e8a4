#include "gps/startup_commands.h"

#include <chrono>
#include <cstdio>
#include <fstream>

#include "platform/clock.h"

namespace vg {

namespace {

// One line of at most kMaxPositionLine characters without its line end ("\n" or "\r\n"); nothing
// when the file has no such line or the line is longer.
std::optional<std::string> read_position_line(std::istream& in) {
    std::string line;
    if (!std::getline(in, line) && line.empty()) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > kMaxPositionLine) return std::nullopt;
    return line;
}

}  // namespace

std::optional<PositionLines> read_position_lines(const std::filesystem::path& pos_file) {
    std::ifstream in(pos_file, std::ios::binary);
    if (!in) return std::nullopt;
    auto latitude = read_position_line(in);
    if (!latitude) return std::nullopt;
    auto longitude = read_position_line(in);
    if (!longitude) return std::nullopt;
    if (latitude->size() <= 3 || longitude->size() <= 3) return std::nullopt;
    return PositionLines{std::move(*latitude), std::move(*longitude)};
}

std::tm context_utc_time(const ParserContext& context) {
    std::time_t now;
    if (context.utc_seconds)
        now = static_cast<std::time_t>(context.utc_seconds());
    else
        now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
    utc_parts(now, utc);
    return utc;
}

unsigned nmea_checksum(std::string_view text) {
    unsigned sum = 0;
    for (unsigned char c : text) sum ^= c;
    return sum;
}

std::optional<std::string> format_position_init(const PositionLines& lines, const std::tm& utc) {
    if (lines.latitude.size() < 3 || lines.longitude.size() < 3) return std::nullopt;
    char body[160];
    const int n = std::snprintf(body, sizeof body,
                                "$PRWIINIT,V,,,%s,%c,%s,%c,100.0,0.0,M,0.0,T,%02d%02d%02d,%02d%02d%02d*",
                                lines.latitude.c_str() + 2, lines.latitude[0], lines.longitude.c_str() + 2,
                                lines.longitude[0], utc.tm_hour, utc.tm_min, utc.tm_sec, utc.tm_mday,
                                utc.tm_mon + 1, (utc.tm_year + 1900) % 100);
    if (n < 2 || static_cast<std::size_t>(n) + 4 > kMaxInitSentence) return std::nullopt;
    std::string sentence(body, static_cast<std::size_t>(n));
    // Checksum over everything between "$" and "*".
    const unsigned sum = nmea_checksum(std::string_view(sentence).substr(1, sentence.size() - 2));
    char tail[8];
    std::snprintf(tail, sizeof tail, "%02X\r\n", sum & 0xFF);
    sentence += tail;
    return sentence;
}

void AstralResponder::send(std::string_view bytes) {
    if (context_.reply) context_.reply(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

void AstralResponder::handle_line(std::string_view /*line*/) {
    send(kAstralQuery);
    if (++astral_count_ == 2) {
        astral_count_ = 0;
        send_position_init();
    }
}

void AstralResponder::send_position_init() {
    const auto lines = read_position_lines(context_.pos_file);
    if (!lines) return;
    const auto sentence = format_position_init(*lines, context_utc_time(context_));
    if (sentence) send(*sentence);
}

}  // namespace vg
