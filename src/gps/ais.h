// AIS messages from !AIVDM / !AIVDO sentences: the NMEA 0183 envelope (checksum, fragment count and
// number, sequential id, channel, fill bits), multi-sentence assembly, the 6-bit armouring and the
// messages a moving map uses: position reports of class A (1, 2, 3) and B (18, 19), base stations (4),
// static and voyage data (5), aids to navigation (21), class B static data (24, parts A and B) and
// long-range reports (27). Other types are recognised (type, repeat and MMSI) and reported as such.
//
// Values are kept as the messages carry them (gpsd's unscaled form): longitudes and latitudes in
// 1/10000 minute (type 27: 1/10 minute), speed in 1/10 knot (type 27: knots), course in 1/10 degree
// (type 27: degrees), heading in degrees (511 unknown), turn as the raw rate-of-turn indicator.
// Texts have their trailing '@' and spaces removed.
//
// Pure: bytes in, messages out. Threads: one AisAssembler per stream, used by one thread at a time;
// decode_ais may be called from any thread. Failure: a sentence with a bad checksum, malformed fields,
// a payload character outside the armouring, a fragment out of order or a message shorter than its
// type needs gives no message and a short reason (AisAssembler::last_error); nothing is read past the
// payload, and a pending multi-sentence message is bounded (at most 5 fragments of 82 characters, a
// handful of sequential ids at once).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vg::ais {

struct Message {
    int type = 0;
    int repeat = 0;
    std::uint32_t mmsi = 0;
    bool own = false;  // from !AIVDO: our own vessel

    // Position reports (1-3, 18, 19, 27), base stations (4) and aids to navigation (21).
    int status = 15;       // navigation status (1-3, 27); 15 undefined
    int turn = -128;       // rate-of-turn indicator (1-3); -128 not available
    int speed = 1023;      // 1/10 knot (1023 not available); type 27: knots (63 not available)
    bool accuracy = false;
    std::int32_t lon = 0;  // 1/10000 minute (181° not available); type 27: 1/10 minute
    std::int32_t lat = 0;  // 1/10000 minute (91° not available); type 27: 1/10 minute
    int course = 3600;     // 1/10 degree (3600 not available); type 27: degrees (511)
    int heading = 511;     // degrees; 511 not available
    int second = 60;       // UTC second of the report; 60 not available
    int maneuver = 0;
    bool raim = false;
    std::uint32_t radio = 0;  // radio status (of a cut type 1-3 report: the bits that came)
    int reserved = 0;      // 18, 19
    int regional = 0;      // 18, 19, 21
    bool cs = false, display = false, dsc = false, band = false, msg22 = false, assigned = false;  // 18 (assigned 19, 21)
    bool gnss = false;     // 27: the bit as sent, set when the position is not the current GNSS one
    bool dte = false;      // 5, 19

    // Base station time (4).
    int year = 0, month = 0, day = 0, hour = 24, minute = 60;
    int epfd = 0;          // position fixing device (4, 5, 19, 21)

    // Static and voyage data (5, 19, 21, 24).
    int ais_version = 0;
    std::uint32_t imo = 0;
    std::string callsign, shipname, destination;
    int shiptype = 0;
    int to_bow = 0, to_stern = 0, to_port = 0, to_starboard = 0;
    int eta_month = 0, eta_day = 0, eta_hour = 24, eta_minute = 60;
    int draught = 0;       // 1/10 metre
    // 21
    int aid_type = 0;
    bool off_position = false, virtual_aid = false;
    // 24
    int partno = -1;       // 0: part A (name), 1: part B (type, vendor, call sign, size); -1 both (gpsd)
    std::string vendorid;
    int model = 0;
    std::uint32_t serial = 0;
    std::uint32_t mothership_mmsi = 0;  // part B of an auxiliary craft (MMSI 98xxxxxxx)

    // True for the types decoded field by field above.
    bool decoded = false;
    bool has_position() const;
    // Degrees of lon/lat, when the report carries an available position.
    std::optional<double> longitude_deg() const;
    std::optional<double> latitude_deg() const;
};

// Decodes one message from its de-armoured bits (`bits` holds one bit per element, as
// AisAssembler produces them). Nullopt with `error` when the payload is too short for its type.
std::optional<Message> decode_bits(const std::vector<std::uint8_t>& bits, std::string& error);

// Decodes an armoured payload (the sentence's fifth field) with `fill` pad bits.
std::optional<Message> decode_payload(std::string_view payload, int fill, std::string& error);

class AisAssembler {
public:
    // One line (with or without line end). A single-sentence message, or the last fragment of a
    // multi-sentence one, gives the decoded message; other lines (including every non-AIS line) give
    // nullopt. `last_error()` says why a line that looked like AIS gave nothing ("" otherwise).
    std::optional<Message> feed_line(std::string_view line);
    const std::string& last_error() const { return error_; }
    // Counts since construction.
    std::uint64_t sentences() const { return sentences_; }
    std::uint64_t rejected() const { return rejected_; }

private:
    struct Pending {
        std::string key;  // talker, sequential id and channel
        int count = 0, next = 0;
        std::string payload;
        int fill = 0;
        std::uint64_t age = 0;  // sentence counter when it last grew
    };
    std::vector<Pending> pending_;
    std::string error_;
    std::uint64_t sentences_ = 0, rejected_ = 0;
};

}  // namespace vg::ais
